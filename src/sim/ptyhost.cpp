#include "ptyhost.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <dirent.h>
#include <sys/inotify.h>
#endif
#include <algorithm>
#include <utility>

namespace skyjog::sim {

namespace {
QString sysError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}
} // namespace

PtyHost::PtyHost(SimRunner& runner, QString linkPath, QObject* parent)
    : QObject(parent), runner_(runner), link_(std::move(linkPath)) {
    // Nothing tells the master when a client changes the terminal's settings, so they are
    // checked often as well as around every exchange.
    rawTimer_.setInterval(50);
    connect(&rawTimer_, &QTimer::timeout, this, &PtyHost::keepRaw);
}

PtyHost::~PtyHost() {
    runner_.removeLine(this);
    // Remove the link only while it still names our terminal: never someone else's file.
    const QByteArray link = QFile::encodeName(link_);
    char target[4096];
    const ssize_t n = ::readlink(link.constData(), target, sizeof target - 1);
    if (n > 0 && QFile::decodeName(QByteArray(target, int(n))) == slavePath_)
        ::unlink(link.constData());
    closePty();
}

bool PtyHost::start(QString* error) {
    const QFileInfo info(link_);
    if (info.exists() && !info.isSymLink()) {
        *error = QStringLiteral("%1 exists and is not a link; not replacing it").arg(link_);
        return false;
    }
    if (!openPty(error)) return false;
    runner_.addLine(this);
    rawTimer_.start();
    return true;
}

bool PtyHost::openPty(QString* error) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        *error = QStringLiteral("Cannot create a pseudo-terminal: %1").arg(sysError());
        closePty();
        return false;
    }
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    slavePath_ = QString::fromLocal8Bit(::ptsname(master_));
    slave_ = ::open(::ptsname(master_), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (slave_ < 0) {
        *error = QStringLiteral("Cannot open %1: %2").arg(slavePath_, sysError());
        closePty();
        return false;
    }
    // A new terminal starts cooked: echo, line editing, CR/LF translation, XON/XOFF. A serial
    // line has none of that.
    termios t{};
    ::tcgetattr(slave_, &t);
    ::cfmakeraw(&t);
    ::cfsetispeed(&t, B9600);
    ::cfsetospeed(&t, B9600);
    ::tcsetattr(slave_, TCSANOW, &t);

    // Point the link at the new terminal in one step, so a client never finds it missing.
    const QByteArray link = QFile::encodeName(link_);
    const QByteArray tmp = link + ".new" + QByteArray::number(::getpid());
    ::unlink(tmp.constData());
    if (::symlink(::ptsname(master_), tmp.constData()) != 0 ||
        ::rename(tmp.constData(), link.constData()) != 0) {
        *error = QStringLiteral("Cannot make the link %1: %2").arg(link_, sysError());
        ::unlink(tmp.constData());
        closePty();
        return false;
    }

    notifier_ = std::make_unique<QSocketNotifier>(master_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &PtyHost::readMaster);
    watchClients();
    return true;
}

void PtyHost::watchClients() {
#ifdef Q_OS_LINUX
    watch_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch_ < 0) return;
    if (::inotify_add_watch(watch_, ::ptsname(master_), IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
        qWarning("Cannot watch %s for clients: %s", qPrintable(slavePath_), std::strerror(errno));
        ::close(watch_);
        watch_ = -1;
        return;
    }
    watchNotifier_ = std::make_unique<QSocketNotifier>(watch_, QSocketNotifier::Read);
    connect(watchNotifier_.get(), &QSocketNotifier::activated, this, &PtyHost::clientsChanged);
#endif
}

#ifdef Q_OS_LINUX
namespace {
// Whether a process other than this one has the device open. Only asked when a client has gone
// while the terminal was in exclusive use, which a client that ends normally never leaves.
bool openElsewhere(const QByteArray& device) {
    const pid_t self = ::getpid();
    DIR* proc = ::opendir("/proc");
    if (!proc) return true; // cannot tell: leave the terminal as it is
    bool found = false;
    while (!found) {
        const dirent* p = ::readdir(proc);
        if (!p) break;
        char* end = nullptr;
        const long pid = std::strtol(p->d_name, &end, 10);
        if (*end != '\0' || pid <= 0 || pid == self) continue;
        const QByteArray fds = QByteArray("/proc/") + p->d_name + "/fd";
        DIR* dir = ::opendir(fds.constData());
        if (!dir) continue; // gone, or not ours to see
        while (const dirent* f = ::readdir(dir)) {
            char target[256];
            const QByteArray link = fds + '/' + f->d_name;
            const ssize_t n = ::readlink(link.constData(), target, sizeof target);
            if (n == device.size() && std::memcmp(target, device.constData(), size_t(n)) == 0) {
                found = true;
                break;
            }
        }
        ::closedir(dir);
    }
    ::closedir(proc);
    return found;
}
} // namespace
#endif

void PtyHost::clientsChanged() {
#ifdef Q_OS_LINUX
    bool closed = false;
    alignas(inotify_event) char buf[4096];
    for (;;) {
        const ssize_t n = ::read(watch_, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        // Identical events that queue up are merged into one, so closes cannot be counted: a
        // close, any close, is the cue to look again.
        closed = true;
    }
    if (!closed || slave_ < 0) return;
    // A client that ends normally gives up exclusive use before it closes; one killed in the
    // middle of a command cannot. Exclusive use belongs to the terminal, not to a descriptor:
    // clearing it through our own slave end clears it for everyone, so it is cleared only when
    // nobody else has the terminal open any more.
    int exclusive = 0;
    if (::ioctl(slave_, TIOCGEXCL, &exclusive) != 0 || !exclusive) return;
    if (!openElsewhere(QFile::encodeName(slavePath_))) ::ioctl(slave_, TIOCNXCL);
#endif
}

void PtyHost::closePty() {
    watchNotifier_.reset();
    if (watch_ >= 0) ::close(watch_);
    watch_ = -1;
    notifier_.reset();
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
    slave_ = master_ = -1;
}

void PtyHost::keepRaw() {
    // A client may leave the terminal in another mode (a serial library restores the settings
    // it found when it closes). Only what alters bytes is put right; speeds and the client's
    // read time-outs (VMIN, VTIME) stay as the client set them.
    termios t{};
    if (slave_ < 0 || ::tcgetattr(slave_, &t) != 0) return;
    const tcflag_t iflag = IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF;
    const tcflag_t lflag = ECHO | ECHONL | ICANON | ISIG | IEXTEN;
    if ((t.c_iflag & iflag) || (t.c_lflag & lflag) || (t.c_oflag & OPOST) ||
        (t.c_cflag & (CSIZE | PARENB)) != CS8) {
        t.c_iflag &= ~iflag;
        t.c_lflag &= ~lflag;
        t.c_oflag &= ~OPOST;
        t.c_cflag = (t.c_cflag & ~(CSIZE | PARENB)) | CS8;
        ::tcsetattr(slave_, TCSANOW, &t);
    }
}

void PtyHost::readMaster() {
    QByteArray data;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n > 0) {
            data.append(buf, int(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        break; // EAGAIN: all read. EIO cannot happen while our own slave end is open.
    }
    keepRaw();
    if (!data.isEmpty()) runner_.input(data);
}

void PtyHost::send(const QByteArray& bytes) {
    if (master_ < 0) return;
    keepRaw();
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0)
            done += n;
        else if (n < 0 && errno == EINTR)
            continue;
        else
            break; // the terminal's input queue is full: the rest is lost, as on a wire
    }
}

void PtyHost::hangUp() {
    // Closing both ends hangs up whoever has the terminal open; a fresh terminal takes its
    // place behind the same link. The link moves to the new terminal before the old one is
    // closed: a client that reopens the moment it sees the hang-up must find the new one, not
    // the terminal that is going away.
    const int oldMaster = std::exchange(master_, -1);
    const int oldSlave = std::exchange(slave_, -1);
    notifier_.reset();
    watchNotifier_.reset();
    if (watch_ >= 0) ::close(watch_);
    watch_ = -1;
    QString error;
    if (!openPty(&error)) qWarning("%s", qPrintable(error));
    if (oldSlave >= 0) ::close(oldSlave);
    if (oldMaster >= 0) ::close(oldMaster);
}

} // namespace skyjog::sim
