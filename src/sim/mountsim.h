#pragma once
// A simulated hand control with its two motor controllers. The model is driven by the caller's
// millisecond clock: bytes go in with receive(), replies come out of takeOutput() once their time
// has come. The same model serves the in-process backend ("sim"), the pseudo-terminal host and
// the TCP host.
#include <QByteArray>
#include <QString>
#include <QVector>
#include <cstdint>
#include <memory>

namespace skyjog {
class SerialBackend;
}

namespace skyjog::sim {

enum class Fault {
    None,
    Silent,      // no reply at all
    ShortReply,  // one byte less than a full reply
    Garbage,     // a reply of the right length made of wrong bytes
    ExtraBytes,  // the right reply followed by more bytes
    LateReply,   // the reply after a delay longer than a client's time-out
    Disconnect,  // the host drops the line (pty hangs up, TCP closes)
};

struct Options {
    bool pace9600 = false;    // bytes take 10 bits at 9600 baud each way
    uint32_t latencyMs = 0;   // from the end of a command to the start of its reply
    Fault fault = Fault::None;
    uint32_t lateReplyMs = 1500;
    // Starting state.
    uint16_t azimuth = 0x0000;   // 16-bit fraction of a turn
    uint16_t altitude = 0x0000;
    uint8_t trackingMode = 1;
    uint8_t backlash[2][2] = {{0, 0}, {0, 0}}; // [az=0/alt=1][positive=0/negative=1]
    uint8_t guideRate[2] = {128, 128};         // az, alt
};

struct LogEntry {
    uint32_t timeMs = 0;
    bool fromClient = true; // true: a command received; false: a reply sent
    QByteArray bytes;
};

class MountSim {
public:
    explicit MountSim(Options options = {});
    ~MountSim();

    Options& options();
    void reset(Options options = {});

    // Bytes that reached the hand control at nowMs.
    void receive(const QByteArray& bytes, uint32_t nowMs);
    // Reply bytes that have arrived at the client's side by nowMs, at most maxBytes of them.
    QByteArray takeOutput(uint32_t nowMs, int maxBytes = 1 << 20);
    // True when a Disconnect fault has fired.
    bool disconnected() const;

    // Every complete command received, in order (the framing splits a byte stream into them).
    QVector<QByteArray> commands() const;
    const QVector<LogEntry>& log() const;
    void clearLog();
    // The log as text, one line per entry: time, direction, bytes in decimal.
    QString logText() const;

    // Mount state, for tests and the log.
    double azimuthDegrees(uint32_t nowMs) const;
    double altitudeDegrees(uint32_t nowMs) const;
    uint8_t trackingMode() const;
    uint8_t backlash(int motor /*16|17*/, bool positive) const;
    uint8_t guideRate(int motor) const;
    bool pecPlaying() const;
    // The signed rate a motor runs at now, in quarter arc-seconds per second.
    double axisRate(int motor) const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// The simulated mount behind the port text "sim": one per program, living between commands.
MountSim& sharedMountSim();
// A backend that talks to a model in-process, reading its time from skyjog::clock().
std::unique_ptr<SerialBackend> makeInProcessBackend(MountSim& sim);
// Makes "sim" reach sharedMountSim().
void registerInProcessSim();

} // namespace skyjog::sim
