#pragma once
// One way of reaching a hand control: a serial device, a serial-over-TCP bridge, the built-in
// simulated mount, or a test fake. The serial control opens one for every command.
#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

namespace skyjog {

class SerialBackend {
public:
    virtual ~SerialBackend() = default;
    // Throws VbError when the line cannot be opened; the backend is then closed.
    virtual void open() = 0;
    // Never throws; closing a closed backend does nothing.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // What has arrived so far, at most maxChars of it; never waits. Throws VbError on a dead line.
    virtual QByteArray read(int maxChars) = 0;
    // Hands the whole command to the line; throws VbError when that fails.
    virtual void write(const QByteArray& data) = 0;
};

// What the port text names.
struct PortSpec {
    enum class Kind { Numbered, Device, Tcp, Sim };
    Kind kind = Kind::Numbered;
    int16_t number = 0; // Numbered: the port number; otherwise the leading number of the text
    QString device;     // Numbered: the platform's device for it; Device: the path as given
    QString host;       // Tcp
    quint16 tcpPort = 0;
    QString display() const; // how messages name the line
    bool operator==(const PortSpec&) const = default;
};

// Reads the port text: "sim", "host:port" or "tcp://host:port", a device path ("/dev/...",
// "\\.\COMn"), "COMn", or a number (the number at the start of the text, as a 16-bit integer;
// a text without one gives 0). Throws VbError 6 when the number does not fit 16 bits and 8002
// when it is negative.
PortSpec parsePortText(const QString& text);

// The device a port number names on this platform: COMn on Windows; /dev/ttyUSB{n-1} on Linux;
// on macOS the n-th USB serial device (/dev/cu.usbserial*, /dev/cu.usbmodem*, sorted by name).
QString numberedDevice(int number);

// Builds the backend for a port spec; the default knows the serial, device and TCP kinds and the
// simulator once one is registered.
using BackendFactory = std::function<std::unique_ptr<SerialBackend>(const PortSpec&)>;
std::unique_ptr<SerialBackend> makeDefaultBackend(const PortSpec& spec);

// The in-process simulated mount registers itself here (the link does not depend on it).
void setSimBackendFactory(std::function<std::unique_ptr<SerialBackend>()> factory);

// Lists the serial ports the system has, for error messages ("none" when there are none).
QString listSerialPorts();

} // namespace skyjog
