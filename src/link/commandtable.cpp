#include "commandtable.h"
#include "commands.h"

#include <algorithm>

namespace skyjog::cmd {

namespace {

constexpr CommandInfo Commands[] = {
    {'K', 2, 2, "echo"},
    {'V', 1, 3, "version"},
    {'v', 1, 2, "variant"},
    {'m', 1, 2, "model"},
    {'J', 1, 2, "alignment complete?"},
    {'L', 1, 2, "goto in progress?"},
    {'M', 1, 1, "cancel goto"},
    {'T', 2, 1, "set tracking mode ", Arg::Byte},
    {'t', 1, 2, "get tracking mode"},
    {'Z', 1, 10, "get azm-alt"},
    {'z', 1, 18, "get azm-alt"},
    {'E', 1, 10, "get ra-dec"},
    {'e', 1, 18, "get ra-dec"},
    {'P', 8, ReplyInFrame, "pass-through"},
    {'p', 1, 2, "pier side"},
    {'w', 1, 9, "get location"},
    {'W', 9, 1, "set location"},
    {'h', 1, 9, "get time"},
    {'i', 1, 9, "get time"},
    {'H', 9, 1, "set time"},
    {'I', 9, 1, "set time"},
    {'R', 10, 1, "goto"},
    {'r', 18, 1, "goto"},
    {'B', 10, 1, "goto"},
    {'b', 18, 1, "goto"},
    {'S', 10, 1, "sync"},
    {'s', 18, 1, "sync"},
};

constexpr MessageInfo Messages[] = {
    {MsgSlewPositive, "variable rate +", Arg::Word},
    {MsgSlewNegative, "variable rate -", Arg::Word},
    {MsgFixedPositive, "fixed rate +", Arg::Byte, "stop"},
    {MsgFixedNegative, "fixed rate -", Arg::Byte, "stop"},
    {MsgBacklashPositive, "set backlash + ", Arg::Byte},
    {MsgBacklashNegative, "set backlash - ", Arg::Byte},
    {MsgGetBacklashPositive, "get backlash +"},
    {MsgGetBacklashNegative, "get backlash -"},
    {MsgSetGuideRate, "set guide rate ", Arg::Byte},
    {MsgGetGuideRate, "get guide rate"},
    {MsgVersion, "version"},
    {MsgSeekPecIndex, "seek PEC index"},
    {MsgAtPecIndex, "at PEC index?"},
    {MsgPecPlayback, "PEC playback on", Arg::None, "PEC playback off"},
    {MsgPecBin, "PEC bin?"},
    {MsgPecRecordStart, "PEC record start"},
    {MsgPecRecordStop, "PEC record stop"},
    {MsgPecRecordDone, "PEC record done?"},
    {MsgPecRead, "PEC read ", Arg::Byte},
    {MsgPecWrite, "PEC write ", Arg::Byte},
};

constexpr int PassThroughLength = 8;

uint8_t byteAt(const QByteArray& bytes, int i) {
    return i < bytes.size() ? uint8_t(bytes[i]) : 0;
}

QString withArg(const char* text, Arg arg, const QByteArray& command, int at) {
    QString s = QString::fromLatin1(text);
    if (arg == Arg::Byte) s += QString::number(byteAt(command, at));
    if (arg == Arg::Word)
        s += QString::number((byteAt(command, at) << 8) | byteAt(command, at + 1));
    return s;
}

QString describePassThrough(const QByteArray& command) {
    const uint8_t id = byteAt(command, 3), d1 = byteAt(command, 4);
    const QString device = deviceName(byteAt(command, 2));
    const MessageInfo* m = findMessage(id);
    if (!m) return QStringLiteral("%1 message %2").arg(device).arg(id);
    if (m->zeroText && d1 == 0) return device + u' ' + QString::fromLatin1(m->zeroText);
    return device + u' ' + withArg(m->text, m->arg, command, 4);
}

} // namespace

std::span<const CommandInfo> commandTable() {
    return Commands;
}

std::span<const MessageInfo> messageTable() {
    return Messages;
}

const CommandInfo* findCommand(uint8_t letter) {
    const auto it = std::find_if(std::begin(Commands), std::end(Commands),
                                 [&](const CommandInfo& c) { return uint8_t(c.letter) == letter; });
    return it == std::end(Commands) ? nullptr : it;
}

const MessageInfo* findMessage(uint8_t id) {
    const auto it = std::find_if(std::begin(Messages), std::end(Messages),
                                 [&](const MessageInfo& m) { return m.id == id; });
    return it == std::end(Messages) ? nullptr : it;
}

Framing frameCommand(QByteArrayView received) {
    if (received.isEmpty()) return {};
    const CommandInfo* c = findCommand(uint8_t(received[0]));
    if (!c) return {Framing::State::Unknown};
    if (received.size() < c->length) return {};
    const int reply = c->replyLength == ReplyInFrame
                          ? int(uint8_t(received[PassThroughLength - 1])) + 1
                          : c->replyLength;
    return {Framing::State::Complete, c->length, reply};
}

QString deviceName(uint8_t device) {
    return device == AzMotor    ? QStringLiteral("azm")
           : device == AltMotor ? QStringLiteral("alt")
                                : QStringLiteral("device %1").arg(device);
}

QString describeCommand(const QByteArray& command) {
    const uint8_t c = byteAt(command, 0);
    if (c == 'P') return describePassThrough(command);
    if (const CommandInfo* info = findCommand(c)) return withArg(info->text, info->arg, command, 1);
    return (c > 32 && c < 127) ? QStringLiteral("unknown command '%1'").arg(QChar(c))
                               : QStringLiteral("unknown command");
}

} // namespace skyjog::cmd
