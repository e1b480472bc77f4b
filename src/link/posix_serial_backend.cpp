#include "posix_serial_backend.h"
#include "porttext.h"
#include "vberror.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace skyjog {

namespace {
QString sysError(int e) {
    return QString::fromLocal8Bit(std::strerror(e));
}

speed_t speedFor(qint32 baud) {
    switch (baud) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    default:
        return B0;
    }
}
} // namespace

PosixSerialBackend::PosixSerialBackend(QString device) : device_(std::move(device)) {}

PosixSerialBackend::~PosixSerialBackend() {
    close();
}

void PosixSerialBackend::open(const LineSettings& line, const QDeadlineTimer&) {
    close();
    checkSerialDevice(device_);

    const speed_t speed = speedFor(line.baud);
    if (speed == B0)
        throw VbError(err::InvalidPort, QStringLiteral("Cannot open %1: %2 baud is not supported")
                                            .arg(device_)
                                            .arg(line.baud));

    lock_.take(device_);
    const QByteArray path = QFile::encodeName(device_);
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int e = errno;
        lock_.release();
        const bool inUse = e == EBUSY || e == EACCES || e == EPERM;
        throw VbError(
            inUse ? err::PortInUse : err::InvalidPort,
            inUse ? QStringLiteral("Cannot open %1: it is in use by another program, or access is "
                                   "denied (%2)%3")
                        .arg(device_, sysError(e), portsHint())
                  : QStringLiteral("Cannot open %1: %2%3").arg(device_, sysError(e), portsHint()));
    }
    auto fail = [&](int number, const QString& why) {
        ::close(fd);
        lock_.release();
        throw VbError(number,
                      QStringLiteral("Cannot open %1: %2%3").arg(device_, why, portsHint()));
    };
    termios t{};
    if (::tcgetattr(fd, &t) != 0)
        fail(err::NotSerialDevice, QStringLiteral("it is not a serial device"));
    if (::ioctl(fd, TIOCEXCL) != 0) fail(err::PortInUse, sysError(errno));
    saved_ = t;

    // A raw 8-bit line: no echo, no line editing, no translation of CR or LF, no XON/XOFF, the
    // modem lines ignored; reads never wait.
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
#ifdef CMSPAR
    t.c_cflag &= ~CMSPAR;
#endif
    t.c_cflag |= line.dataBits == 5   ? CS5
                 : line.dataBits == 6 ? CS6
                 : line.dataBits == 7 ? CS7
                                       : CS8;
    if (line.stopBits == 2) t.c_cflag |= CSTOPB;
    switch (line.parity) {
    case 'E':
        t.c_cflag |= PARENB;
        break;
    case 'O':
        t.c_cflag |= PARENB | PARODD;
        break;
#ifdef CMSPAR
    case 'M':
        t.c_cflag |= PARENB | PARODD | CMSPAR;
        break;
    case 'S':
        t.c_cflag |= PARENB | CMSPAR;
        break;
#endif
    default:
        break;
    }
    if (t.c_cflag & PARENB) t.c_iflag |= INPCK;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    if (::tcsetattr(fd, TCSANOW, &t) != 0) {
        const int e = errno;
        ::ioctl(fd, TIOCNXCL);
        fail(err::InvalidPort, sysError(e));
    }
    fd_ = fd;
}

void PosixSerialBackend::close() {
    if (fd_ < 0) return;
    // Leave the device as we found it, as other serial programs do; a line that is gone
    // refuses this, which does not matter any more.
    ::tcsetattr(fd_, TCSANOW, &saved_);
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    fd_ = -1;
    lock_.release();
}

void PosixSerialBackend::lost(const QString& why) {
    throw VbError(err::ReadFailed, QStringLiteral("Lost %1: %2").arg(device_, why));
}

QByteArray PosixSerialBackend::read(int maxChars) {
    if (maxChars <= 0 || fd_ < 0) return {};
    QByteArray buf(maxChars, Qt::Uninitialized);
    for (;;) {
        const ssize_t n = ::read(fd_, buf.data(), size_t(maxChars));
        if (n > 0) {
            buf.truncate(int(n));
            return buf;
        }
        const int e = n < 0 ? errno : 0;
        if (e == EINTR) continue;
        if (n == 0 || e == EAGAIN || e == EWOULDBLOCK) {
            // Nothing came (with no minimum count a terminal read returns 0 at once). A terminal
            // that was hung up also reads as empty; poll tells the two apart.
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)))
                lost(QStringLiteral("the device can no longer be read"));
            return {};
        }
        // EIO: the line was hung up or the adapter pulled out.
        lost(e == EIO ? QStringLiteral("the device can no longer be read") : sysError(e));
    }
}

void PosixSerialBackend::write(const QByteArray& data, const QDeadlineTimer& deadline) {
    // 8 bytes need about 8 ms at 9600 baud; a line that does not take them by the deadline
    // (flow control held, a full queue) fails the command.
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd_, data.constData() + done, size_t(data.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        const int e = n < 0 ? errno : EIO;
        if (e == EINTR) continue;
        if ((e == EAGAIN || e == EWOULDBLOCK) && !deadline.hasExpired()) {
            // Polled in short steps: a terminal may report itself writable and still refuse.
            pollfd p{fd_, POLLOUT, 0};
            const int left = waitMs(deadline);
            ::poll(&p, 1, left < 0 ? 10 : std::min(left, 10));
            continue;
        }
        throw VbError(err::WriteFailed,
                      QStringLiteral("Cannot write to %1: %2")
                          .arg(device_, e == EAGAIN || e == EWOULDBLOCK
                                            ? QStringLiteral("the line does not take the data")
                                            : sysError(e)));
    }
}

} // namespace skyjog
