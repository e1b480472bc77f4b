#pragma once
// A simulated hand control with its two motor controllers. The model is driven by the caller's
// millisecond (or microsecond) clock, a 64-bit count that does not wrap, so that the model takes
// steps of any size: bytes go in with receive(), replies come out of takeOutput() once their time
// has come. The same model serves the in-process backend ("sim"),
// the pseudo-terminal host and the TCP host.
#include <QByteArray>
#include <QString>
#include <QVector>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace skyjog {
class SerialBackend;
}

namespace skyjog::sim {

enum class Fault {
    None,
    Silent,     // no reply at all
    ShortReply, // one byte less than a full reply
    Garbage,    // a reply of the right length made of wrong bytes
    ExtraBytes, // the right reply followed by more bytes
    LateReply,  // the reply after a delay longer than a client's time-out
    Disconnect, // the host drops the line (pty hangs up, TCP closes)
};

// Which commands a rule for lost commands picks.
enum class LossKind {
    Stop,     // a fixed-rate stop: 'P' 2 motor 36|37 0 ...
    Fixed,    // a fixed-rate move, rate 1-9
    Variable, // a variable-rate move: 'P' len motor 6|7 ...
    Tracking, // a tracking-mode change: 'T' mode
    Letter,   // any command that begins with a given byte
};

// The next commands of a kind that the line loses, after letting some of them through.
struct Loss {
    LossKind kind = LossKind::Stop;
    char letter = 0;   // Letter: the first byte
    uint8_t motor = 0; // 16 or 17: only pass-through frames to that motor; 0: any command
    int skip = 0;      // matching commands that get through first
    int count = 1;     // matching commands lost after those (-1: every one)
};

struct Options {
    bool pace9600 = false;  // bytes take 10 bits at 9600 baud each way
    uint32_t latencyMs = 0; // from the end of a command to the start of its reply
    Fault fault = Fault::None;
    uint32_t lateReplyMs = 1500;
    // Starting state.
    uint16_t azimuth = 0x0000; // 16-bit fraction of a turn
    uint16_t altitude = 0x0000;
    uint8_t trackingMode = 1;
    uint8_t backlash[2][2] = {{0, 0}, {0, 0}}; // [az=0/alt=1][positive=0/negative=1]
    uint8_t guideRate[2] = {128, 128};         // az, alt

    // Which replies a fault spoils: after faultSkip answered commands, the next faultCount of
    // them (-1: all). Both count from the last reset().
    int faultSkip = 0;
    int faultCount = -1;
    QByteArray extraBytes = "EXTRA#"; // what an ExtraBytes fault appends
    // Commands lost on the line, as a noisy cable or a busy hand control loses them: the bytes
    // arrive, but the command does nothing and gets no reply at all. A command is lost when any
    // rule picks it, or by chance with the given share of all commands (a sequence fixed by the
    // seed). Rules and chance count from the last reset().
    QVector<Loss> lose;
    double loseShare = 0; // 0-1
    uint32_t loseSeed = 1;
    // A command whose next byte does not come within this time is dropped unanswered.
    uint32_t commandGapMs = 250;
    // With tracking on, a variable rate falls back to the tracking rate after this long without
    // any command (0: never).
    uint32_t revertMs = 20000;
    // How long a PEC index seek takes.
    uint32_t pecSeekMs = 2000;
    // What the hand control and the motor controllers say about themselves.
    uint8_t handControlVersion[2] = {4, 41};
    uint8_t model = 20;
    uint8_t motorVersion[2] = {7, 11};
    // Site: latitude d m s, 0 north / 1 south; longitude d m s, 0 east / 1 west.
    uint8_t location[8] = {50, 0, 0, 0, 8, 0, 0, 0};
    // How many of the most recent log entries, and of the most recent commands, are kept in
    // memory; older ones are dropped (and counted). The log listener still sees every entry.
    int logLimit = 10000;
};

// How the hand control cuts a client's byte stream into commands: the first byte of a command
// fixes its length, and a command whose next byte comes more than the gap after the byte before
// is dropped unanswered. Times are the model's milliseconds.
int commandLength(uint8_t first);
class CommandFraming {
public:
    // The next byte, arriving at the given time: the command it completes, if it completes one.
    // An incomplete command that has expired is to be dropped first.
    std::optional<QByteArray> take(char byte, double at);
    // When the incomplete command expires for want of its next byte: a byte arriving exactly then
    // still belongs to it. Infinity when no command is incomplete.
    double expiresAt(double gapMs) const;
    // Forgets the incomplete command and returns its bytes.
    QByteArray drop();

private:
    QByteArray partial_;
    double lastAt_ = 0;
};

// Fault names as the command line spells them: none silent short garbage extra late disconnect.
QString faultName(Fault fault);
std::optional<Fault> faultFromName(const QString& name);

// A rule as the command line spells it: KIND[@MOTOR][:N[:SKIP]], KIND one of stop fixed variable
// tracking or a single first byte (Z, P, ...), MOTOR azm alt 16 or 17, N a count or "all".
std::optional<Loss> lossFromText(const QString& text);

struct LogEntry {
    int64_t timeMs = 0;
    bool fromClient = true; // true: a command received; false: a reply sent
    QByteArray bytes;
    QString note; // what the command means, or what a fault did to a reply
};

class MountSim {
public:
    explicit MountSim(Options options = {});
    ~MountSim();

    Options& options();
    void reset(Options options = {});

    // Bytes that reached the hand control at nowMs. A reading earlier than one before it changes
    // nothing (time does not go back).
    void receive(const QByteArray& bytes, int64_t nowMs);
    // Reply bytes that have arrived at the client's side by nowMs, at most maxBytes of them.
    QByteArray takeOutput(int64_t nowMs, int maxBytes = 1 << 20);
    // True when a Disconnect fault has fired.
    bool disconnected() const;
    // The line is back (a new connection): forgets whatever was in flight either way.
    void reconnect();
    // Milliseconds from nowMs until the model next has something to do or deliver (a reply byte
    // due, a command byte arriving, an incomplete command expiring); -1 when nothing is pending.
    int msUntilNextEvent(int64_t nowMs);
    // The same on a microsecond clock, for hosts on the wall clock where a character takes
    // 1.04 ms: whole milliseconds would send them late and unevenly. One model takes one kind
    // of clock; log time stamps stay in milliseconds (of the microsecond clock / 1000).
    void receiveUs(const QByteArray& bytes, int64_t nowUs);
    QByteArray takeOutputUs(int64_t nowUs, int maxBytes = 1 << 20);
    // Microseconds until the next event, rounded up; -1 when nothing is pending.
    int64_t usUntilNextEvent(int64_t nowUs);
    // Called with every log entry as it is made.
    void setLogListener(std::function<void(const LogEntry&)> listener);

    // The most recent complete commands received, in order (the framing splits a byte stream into
    // them); at most Options::logLimit of them.
    QVector<QByteArray> commands() const;
    // The most recent log entries, in order; at most Options::logLimit of them.
    QVector<LogEntry> log() const;
    // How many entries have been dropped from the front of the log to keep it within its limit.
    int64_t droppedLogEntries() const;
    void clearLog();
    // The log as text, one line per entry: time, direction, bytes in decimal; a first line says
    // how many earlier entries were dropped, if any were.
    QString logText() const;
    static QString formatLogEntry(const LogEntry& entry);

    // Mount state, for tests and the log.
    // Axis angles: azimuth (RA axis) in [0, 360), altitude (Dec axis) in [-180, 180).
    double azimuthDegrees(int64_t nowMs) const;
    double altitudeDegrees(int64_t nowMs) const;
    uint8_t trackingMode() const;
    uint8_t backlash(int motor /*16|17*/, bool positive) const;
    uint8_t guideRate(int motor) const;
    bool pecPlaying() const; // the azimuth/RA motor's
    bool pecIndexFound(int64_t nowMs) const;
    // The signed rate a motor runs at now, in quarter arc-seconds per second.
    double axisRate(int motor) const;
    // Whether a motor runs a move of its own (a variable or fixed rate) rather than tracking.
    bool axisMoving(int motor) const;

private:
    QByteArray takeDue(double t, int maxBytes);
    double nextEventAt() const;

    struct Impl;
    std::unique_ptr<Impl> d;
};

// The model in words, for the simulator's help text.
QString modelDescription();

// The simulated mount behind the port text "sim": one per program, living between commands.
MountSim& sharedMountSim();
// A backend that talks to a model in-process, reading its time from skyjog::clock()'s 64-bit
// count.
std::unique_ptr<SerialBackend> makeInProcessBackend(MountSim& sim);
// Makes "sim" reach sharedMountSim().
void registerInProcessSim();

} // namespace skyjog::sim
