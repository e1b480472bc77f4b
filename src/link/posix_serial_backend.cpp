#include "posix_serial_backend.h"
#include "porttext.h"
#include "vberror.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace skyjog {

namespace {
// How long one command's bytes may take to leave; 8 bytes need about 8 ms at 9600 baud.
constexpr int WriteTimeoutMs = 1000;

QString portsHint() {
    return QStringLiteral(" (serial ports here: %1)").arg(listSerialPorts());
}
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

bool processAlive(pid_t pid) {
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

// The process named on the first line of a lock file (UUCP writes it padded, QLockFile plain).
pid_t lockOwner(const QByteArray& path) {
    QFile f(QFile::decodeName(path));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    bool ok = false;
    const qint64 pid = f.readLine(64).trimmed().toLongLong(&ok);
    return ok && pid > 0 ? pid_t(pid) : 0;
}
} // namespace

PosixSerialBackend::PosixSerialBackend(QString device) : device_(std::move(device)) {}

PosixSerialBackend::~PosixSerialBackend() {
    close();
}

QString PosixSerialBackend::lockFilePath(const QString& device) {
    // The folders and the order QSerialPort looks in, so that both find the same file.
    static const char* const folders[] = {"/var/lock",         "/etc/locks", "/var/spool/locks",
                                          "/var/spool/uucp",   "/tmp",       "/var/tmp",
                                          "/var/lock/lockdev", "/run/lock"};
    QString name = device.startsWith(QStringLiteral("/dev/")) ? device.mid(5) : device;
    name.replace(u'/', u'_');
    for (const char* folder : folders) {
        const QString dir = QString::fromLatin1(folder);
        const QString path = dir + QStringLiteral("/LCK..") + name;
        const QFileInfo info(dir);
        if (info.isReadable() && (QFileInfo::exists(path) || info.isWritable())) return path;
    }
    return {};
}

void PosixSerialBackend::takeLock() {
    const QString path = lockFilePath(device_);
    if (path.isEmpty()) return; // nowhere to announce it; TIOCEXCL still keeps others out
    const QByteArray file = QFile::encodeName(path);
    // What QLockFile writes, so that Qt programs read it as theirs: process, program, host. The
    // program is named as the system names the running process, which is what they compare.
    static const QByteArray who = [] {
        QString program =
            QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).fileName();
        if (program.isEmpty()) program = QCoreApplication::applicationName();
        return program.toUtf8() + '\n' + QSysInfo::machineHostName().toUtf8() + '\n';
    }();
    const QByteArray content = QByteArray::number(qint64(::getpid())) + '\n' + who;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = ::open(file.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            // Not flushed to disk: the file lives for one command, and a lock left behind by a
            // crash is recognised as stale by the dead process it names.
            const bool written =
                ::write(fd, content.constData(), size_t(content.size())) == content.size();
            ::close(fd);
            if (!written) {
                ::unlink(file.constData());
                return;
            }
            lockPath_ = path;
            return;
        }
        if (errno != EEXIST) return; // a folder we may not write: go on without a lock file
        const pid_t owner = lockOwner(file);
        if (owner == ::getpid()) return; // our own, from an earlier open still in progress
        if (processAlive(owner))
            throw VbError(
                err::PortInUse,
                QStringLiteral("Cannot open %1: it is in use by another program (process %2, "
                               "lock file %3)%4")
                    .arg(device_)
                    .arg(owner)
                    .arg(path, portsHint()));
        ::unlink(file.constData()); // stale: its process is gone
    }
}

void PosixSerialBackend::releaseLock() {
    if (lockPath_.isEmpty()) return;
    const QByteArray file = QFile::encodeName(lockPath_);
    if (lockOwner(file) == ::getpid()) ::unlink(file.constData());
    lockPath_.clear();
}

void PosixSerialBackend::open(const LineSettings& line) {
    close();
    const QByteArray path = QFile::encodeName(device_);
    struct stat st {};
    if (::stat(path.constData(), &st) != 0) {
        const int e = errno;
        throw VbError(
            e == ENOENT ? err::InvalidPort : err::PortInUse,
            QStringLiteral("Cannot open %1: %2%3").arg(device_, sysError(e), portsHint()));
    }
    if (!S_ISCHR(st.st_mode))
        throw VbError(err::NotSerialDevice,
                      QStringLiteral("Cannot open %1: it is not a serial device%2")
                          .arg(device_, portsHint()));

    const speed_t speed = speedFor(line.baud);
    if (speed == B0)
        throw VbError(err::InvalidPort, QStringLiteral("Cannot open %1: %2 baud is not supported")
                                            .arg(device_)
                                            .arg(line.baud));

    takeLock();
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int e = errno;
        releaseLock();
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
        releaseLock();
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
    releaseLock();
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

void PosixSerialBackend::write(const QByteArray& data) {
    qsizetype done = 0;
    int waitedMs = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd_, data.constData() + done, size_t(data.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        const int e = n < 0 ? errno : EIO;
        if (e == EINTR) continue;
        if ((e == EAGAIN || e == EWOULDBLOCK) && waitedMs < WriteTimeoutMs) {
            pollfd p{fd_, POLLOUT, 0};
            ::poll(&p, 1, 10);
            waitedMs += 10;
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
