#include "ptyhost.h"

#include <QFile>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/ioctl.h>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <dirent.h>
#include <sys/inotify.h>
#endif
#include <algorithm>
#include <utility>

namespace skyjog::sim {

PtyHost::PtyHost(SimRunner& runner, QString linkPath, QObject* parent)
    : QObject(parent), runner_(runner), link_(std::move(linkPath)) {
    // Nothing tells the master when a client changes the terminal's settings, so they are
    // checked often as well as around every exchange.
    rawTimer_.setInterval(50);
    connect(&rawTimer_, &QTimer::timeout, this, &PtyHost::keepRaw);
}

PtyHost::~PtyHost() {
    runner_.removeLine(this);
    closePty();
    closePseudoTerminal(pty_, link_);
}

bool PtyHost::start(QString* error) {
    if (!openPty(error)) return false;
    runner_.addLine(this);
    rawTimer_.start();
    return true;
}

bool PtyHost::openPty(QString* error) {
    if (!openPseudoTerminal(pty_, link_, error)) return false;
    notifier_ = std::make_unique<QSocketNotifier>(pty_.master, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &PtyHost::readMaster);
    watchClients();
    return true;
}

void PtyHost::watchClients() {
#ifdef Q_OS_LINUX
    watch_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch_ < 0) return;
    if (::inotify_add_watch(watch_, QFile::encodeName(pty_.slavePath).constData(), IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
        qWarning("Cannot watch %s for clients: %s", qPrintable(pty_.slavePath), std::strerror(errno));
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
    if (!closed || pty_.slave < 0) return;
    // A client that ends normally gives up exclusive use before it closes; one killed in the
    // middle of a command cannot. Exclusive use belongs to the terminal, not to a descriptor:
    // clearing it through our own slave end clears it for everyone, so it is cleared only when
    // nobody else has the terminal open any more.
    int exclusive = 0;
    if (::ioctl(pty_.slave, TIOCGEXCL, &exclusive) != 0 || !exclusive) return;
    if (!openElsewhere(QFile::encodeName(pty_.slavePath))) ::ioctl(pty_.slave, TIOCNXCL);
#endif
}

void PtyHost::closePty() {
    watchNotifier_.reset();
    if (watch_ >= 0) ::close(watch_);
    watch_ = -1;
    notifier_.reset();
}

void PtyHost::readMaster() {
    const QByteArray data = skyjog::readMaster(pty_);
    keepRaw();
    if (!data.isEmpty()) runner_.input(data);
}

void PtyHost::send(const QByteArray& bytes) {
    keepRaw();
    writeMaster(pty_, bytes);
}

void PtyHost::hangUp() {
    // Closing both ends hangs up whoever has the terminal open; a fresh terminal takes its
    // place behind the same link. The link moves to the new terminal before the old one is
    // closed: a client that reopens the moment it sees the hang-up must find the new one, not
    // the terminal that is going away.
    PseudoTerminal old = std::exchange(pty_, PseudoTerminal{});
    closePty();
    QString error;
    if (!openPty(&error)) qWarning("%s", qPrintable(error));
    closePseudoTerminal(old);
}

} // namespace skyjog::sim
