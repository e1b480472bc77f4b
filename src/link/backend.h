#pragma once
// One way of reaching a hand control: a serial device, a serial-over-TCP bridge, the built-in
// simulated mount, or a test fake. The serial control opens one for every command.
#include <QByteArray>
#include <QString>

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
    // Throws VbError when the line cannot be opened; the backend is then closed.
    virtual void open(const LineSettings& line) = 0;
    // Never throws; closing a closed backend does nothing.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // What has arrived so far, at most maxChars of it; never waits. Throws VbError on a dead line.
    virtual QByteArray read(int maxChars) = 0;
    // Hands the whole command to the line; throws VbError when that fails.
    virtual void write(const QByteArray& data) = 0;
};

} // namespace skyjog
