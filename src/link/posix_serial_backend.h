#pragma once
#include "backend.h"
#include "portlock.h"

#include <termios.h>

namespace skyjog {

// A terminal device through the POSIX terminal interface, for Unix systems. It keeps the
// conventions serial programs share: the device is used exclusively (TIOCEXCL), a lock file that
// QSerialPort reads as its own announces who holds it (PortLock), and the settings found on the
// device are put back when it is closed.
//
// Why not QSerialPort here: the port is opened and closed for every command, and QSerialPort's
// lock file (a QLockFile) is flushed to disk when it is made and again when it is removed. Where
// the lock folder is on disk rather than in memory, that costs several milliseconds per open and
// per close, more than an 8-byte command's time on the wire at 9600 baud.
class PosixSerialBackend final : public SerialBackend {
public:
    explicit PosixSerialBackend(QString device);
    ~PosixSerialBackend() override;
    void open(const LineSettings& line, const QDeadlineTimer& deadline) override;
    void close() override;
    bool isOpen() const override { return fd_ >= 0; }
    QByteArray read(int maxChars) override;
    void write(const QByteArray& data, const QDeadlineTimer& deadline) override;

private:
    [[noreturn]] void lost(const QString& why);

    QString device_;
    int fd_ = -1;
    termios saved_{};
    PortLock lock_;
};

} // namespace skyjog
