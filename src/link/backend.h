#pragma once
// One way of reaching a hand control: a serial device, a serial-over-TCP bridge, the built-in
// simulated mount, or a test fake. The serial control opens one for every command.
#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>
#include <algorithm>
#include <limits>

namespace skyjog {

// How the line is driven; a backend without a real serial line ignores it.
struct LineSettings {
    qint32 baud = 9600;
    char parity = 'N';
    int dataBits = 8;
    int stopBits = 1;
};

class SerialBackend {
public:
    virtual ~SerialBackend() = default;
    // Throws VbError when the line cannot be opened, or not before the deadline; the backend is
    // then closed.
    virtual void open(const LineSettings& line, const QDeadlineTimer& deadline) = 0;
    // Never throws; closing a closed backend does nothing.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // What has arrived so far, at most maxChars of it; never waits. Throws VbError on a dead line.
    virtual QByteArray read(int maxChars) = 0;
    // Hands the whole command to the line; throws VbError when that fails or the line has not
    // taken it all by the deadline.
    virtual void write(const QByteArray& data, const QDeadlineTimer& deadline) = 0;
    // True where reaching the line is itself a round trip, made for every command (a connection
    // over a network): a command's time-out then counts from before the open rather than from
    // the write, so that the whole command keeps to it.
    virtual bool openIsRoundTrip() const { return false; }
};

// What is left of a deadline, as the millisecond argument of a wait (-1: no end).
inline int waitMs(const QDeadlineTimer& deadline) {
    if (deadline.isForever()) return -1;
    return int(std::clamp<qint64>(deadline.remainingTime(), 0, std::numeric_limits<int>::max()));
}

} // namespace skyjog
