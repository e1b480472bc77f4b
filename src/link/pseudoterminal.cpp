#include "pseudoterminal.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace skyjog {

namespace {
QString sysError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool fail(PseudoTerminal& pty, QString* error, QString text) {
    *error = std::move(text);
    closePseudoTerminal(pty);
    return false;
}
} // namespace

bool openPseudoTerminal(PseudoTerminal& pty, const QString& linkPath, QString* error) {
    const QFileInfo info(linkPath);
    if (info.exists() && !info.isSymLink()) {
        *error = QStringLiteral("%1 exists and is not a link; not replacing it").arg(linkPath);
        return false;
    }
    pty.master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (pty.master < 0 || ::grantpt(pty.master) != 0 || ::unlockpt(pty.master) != 0)
        return fail(pty, error, QStringLiteral("Cannot create a pseudo-terminal: %1").arg(sysError()));
    ::fcntl(pty.master, F_SETFL, ::fcntl(pty.master, F_GETFL) | O_NONBLOCK);
    const QByteArray slave = ::ptsname(pty.master);
    pty.slavePath = QString::fromLocal8Bit(slave);
    pty.slave = ::open(slave.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (pty.slave < 0)
        return fail(pty, error, QStringLiteral("Cannot open %1: %2").arg(pty.slavePath, sysError()));
    // A new terminal starts cooked: echo, line editing, CR/LF translation, XON/XOFF. A serial
    // line has none of that.
    termios t{};
    ::tcgetattr(pty.slave, &t);
    ::cfmakeraw(&t);
    ::cfsetispeed(&t, B9600);
    ::cfsetospeed(&t, B9600);
    ::tcsetattr(pty.slave, TCSANOW, &t);

    const QByteArray link = QFile::encodeName(linkPath);
    const QByteArray tmp = link + ".new" + QByteArray::number(::getpid());
    ::unlink(tmp.constData());
    if (::symlink(slave.constData(), tmp.constData()) != 0 ||
        ::rename(tmp.constData(), link.constData()) != 0) {
        const QString reason = sysError();
        ::unlink(tmp.constData());
        return fail(pty, error, QStringLiteral("Cannot make the link %1: %2").arg(linkPath, reason));
    }
    return true;
}

void closePseudoTerminal(PseudoTerminal& pty, const QString& linkPath) {
    if (!linkPath.isEmpty()) {
        const QByteArray link = QFile::encodeName(linkPath);
        char target[4096];
        const ssize_t n = ::readlink(link.constData(), target, sizeof target - 1);
        if (n > 0 && QFile::decodeName(QByteArray(target, int(n))) == pty.slavePath)
            ::unlink(link.constData());
    }
    if (pty.slave >= 0) ::close(pty.slave);
    if (pty.master >= 0) ::close(pty.master);
    pty.slave = pty.master = -1;
}

void keepRaw(const PseudoTerminal& pty) {
    termios t{};
    if (pty.slave < 0 || ::tcgetattr(pty.slave, &t) != 0) return;
    const tcflag_t iflag = IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF;
    const tcflag_t lflag = ECHO | ECHONL | ICANON | ISIG | IEXTEN;
    if ((t.c_iflag & iflag) || (t.c_lflag & lflag) || (t.c_oflag & OPOST) ||
        (t.c_cflag & (CSIZE | PARENB)) != CS8) {
        t.c_iflag &= ~iflag;
        t.c_lflag &= ~lflag;
        t.c_oflag &= ~OPOST;
        t.c_cflag = (t.c_cflag & ~(CSIZE | PARENB)) | CS8;
        ::tcsetattr(pty.slave, TCSANOW, &t);
    }
}

QByteArray readMaster(const PseudoTerminal& pty) {
    QByteArray data;
    char buf[4096];
    while (pty.master >= 0) {
        const ssize_t n = ::read(pty.master, buf, sizeof buf);
        if (n > 0) {
            data.append(buf, int(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        break; // EAGAIN: all read. EIO cannot happen while the slave end is held open.
    }
    return data;
}

void writeMaster(const PseudoTerminal& pty, const QByteArray& bytes) {
    qsizetype done = 0;
    while (pty.master >= 0 && done < bytes.size()) {
        const ssize_t n =
            ::write(pty.master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0)
            done += n;
        else if (n < 0 && errno == EINTR)
            continue;
        else
            break;
    }
}

} // namespace skyjog
