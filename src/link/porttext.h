#pragma once
// What the text in the port box names, and what the system calls its serial ports.
#include <QString>
#include <cstdint>

namespace skyjog {

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

// What the port text reaches, in words for the user: the device ("/dev/ttyUSB0", "COM3"), the
// bridge ("host:port over TCP"), "built-in simulated mount", or why the text names no port.
QString portDescription(const QString& text);

// The device a port number names on this platform: COMn on Windows; /dev/ttyUSB{n-1} on Linux;
// on macOS the n-th USB serial device (/dev/cu.usbserial*, /dev/cu.usbmodem*, sorted by name).
QString numberedDevice(int number);

// Lists the serial ports the system has, for error messages ("none" when there are none).
QString listSerialPorts();
// That list as the tail of a message about a port that cannot be opened:
// " (serial ports here: ...)".
QString portsHint();

// Refuses a device before anything opens it, so that nothing is ever written to what is not a
// serial line: throws VbError 8002 when it does not exist, 8005 when it cannot be looked at, and
// 8010 when it is not a terminal device (a regular file, a directory). Windows devices are left
// to the open itself.
void checkSerialDevice(const QString& device);

} // namespace skyjog
