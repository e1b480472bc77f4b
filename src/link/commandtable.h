#pragma once
// Every command the hand control knows, by its first byte: how long it is, how long its reply
// is, and what it does in a few words. Commands carry no terminator, so whoever cuts a byte
// stream into commands (the simulated mount, or a line shared between programs) must know each
// length, and must never guess one for a first byte it does not know.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstdint>
#include <span>

namespace skyjog::cmd {

// The number a description ends with: none, one byte, or a 16-bit value (high byte first).
enum class Arg : uint8_t { None, Byte, Word };

// The reply length of a pass-through frame: its last byte is the number of data bytes the reply
// carries, and the '#' follows them.
inline constexpr int ReplyInFrame = -1;

struct CommandInfo {
    char letter;
    int length;      // bytes, the letter included
    int replyLength; // bytes, the '#' included; ReplyInFrame for 'P'
    const char* text;
    Arg arg = Arg::None; // taken from the byte after the letter
};

// A message of the pass-through frame 'P' len dest id d1 d2 d3 n, to a motor controller.
struct MessageInfo {
    uint8_t id;
    const char* text;
    Arg arg = Arg::None;            // taken from d1 (and d2)
    const char* zeroText = nullptr; // the text instead when d1 is 0
};

std::span<const CommandInfo> commandTable();
std::span<const MessageInfo> messageTable();
const CommandInfo* findCommand(uint8_t letter);
const MessageInfo* findMessage(uint8_t id);

// Where the bytes received so far stand: a command still arriving, a whole command at their
// start, or a first byte no hand control knows (whose length nobody can tell).
struct Framing {
    enum class State { NeedMore, Complete, Unknown };
    State state = State::NeedMore;
    int length = 0;      // Complete: the command's bytes
    int replyLength = 0; // Complete: its reply's bytes, '#' included
};
// A pass-through frame's reply length is that of a motor that knows the message; one that does
// not (or a device that is not there) answers one data byte more. An older hand control does not
// answer 'v' at all.
Framing frameCommand(QByteArrayView received);

// "azm", "alt", or "device N": the device a pass-through frame goes to.
QString deviceName(uint8_t device);
// A complete command in a few words, as the simulator's log shows it.
QString describeCommand(const QByteArray& command);

} // namespace skyjog::cmd
