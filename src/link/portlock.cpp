#include "portlock.h"
#include "porttext.h"
#include "vberror.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSysInfo>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <limits>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace skyjog {

namespace {

bool processAlive(pid_t pid) {
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

// What QLockFile writes, so that Qt programs read it as theirs: process, program, host. The
// program is named as the system names the running process, which is what they compare.
QByteArray lockContents() {
    static const QByteArray who = [] {
        QString program =
            QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).fileName();
        if (program.isEmpty()) program = QCoreApplication::applicationName();
        return program.toUtf8() + '\n' + QSysInfo::machineHostName().toUtf8() + '\n';
    }();
    return QByteArray::number(qint64(::getpid())) + '\n' + who;
}

// The process on the first line of a lock file (UUCP writes it padded, QLockFile plain); 0 when
// there is no whole first line, or it is not a process number.
pid_t ownerIn(const QByteArray& contents) {
    const qsizetype end = contents.indexOf('\n');
    if (end < 0) return 0;
    bool ok = false;
    const qint64 pid = contents.left(end).trimmed().toLongLong(&ok);
    return ok && pid > 0 && pid <= std::numeric_limits<pid_t>::max() ? pid_t(pid) : 0;
}

// The program on the second line, as QLockFile and this program write it; empty when there is
// none (UUCP writes only the process) or the line is not whole yet.
QByteArray programIn(const QByteArray& contents) {
    const qsizetype first = contents.indexOf('\n');
    const qsizetype second = first < 0 ? -1 : contents.indexOf('\n', first + 1);
    return second < 0 ? QByteArray() : contents.mid(first + 1, second - first - 1);
}

// Whether the process with that number is another program than the one the lock names: its
// number has been handed on since the lock's maker died. This is the test QLockFile makes, with
// the program named the same way. Where the running program cannot be told (another user's
// process, no /proc), it is taken to be the one named.
bool runsAnotherProgram(pid_t pid, const QByteArray& program) {
#ifdef Q_OS_LINUX
    if (program.isEmpty()) return false;
    char target[4096];
    const QByteArray exe = "/proc/" + QByteArray::number(qint64(pid)) + "/exe";
    const ssize_t n = ::readlink(exe.constData(), target, sizeof target - 1);
    if (n <= 0) return false;
    QByteArray running(target, int(n));
    // A program replaced on disk while it runs (an upgrade) is still that program.
    if (running.endsWith(" (deleted)")) running.chop(10);
    return running.mid(running.lastIndexOf('/') + 1) != program;
#else
    Q_UNUSED(pid);
    Q_UNUSED(program);
    return false;
#endif
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// How long ago the file was last written, either way: a clock set back makes a file look as
// if it came from the future, which says nothing about whether it is stale.
qint64 ageMs(const struct stat& st) {
#ifdef Q_OS_MACOS
    const timespec& m = st.st_mtimespec;
#else
    const timespec& m = st.st_mtim;
#endif
    const qint64 modified = qint64(m.tv_sec) * 1000 + m.tv_nsec / 1000000;
    return std::llabs(QDateTime::currentMSecsSinceEpoch() - modified);
}

bool writeAll(int fd, const QByteArray& data) {
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n > 0)
            done += n;
        else if (!(n < 0 && errno == EINTR))
            return false;
    }
    return true;
}

enum class Look {
    Gone,  // no file by that name (any more, or a new one): look again
    Held,  // someone has the port, or may have
    Stale, // left behind by a program that is gone; removed
    Stuck, // stale, but this program may not remove it
};
struct Verdict {
    Look look;
    pid_t owner = 0;
};

// Decides about the lock file at that path as it is now, and removes it when it is stale.
Verdict judge(const QByteArray& file) {
    const int fd = ::open(file.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return {errno == ENOENT ? Look::Gone : Look::Held}; // unreadable: in use
    const auto closeFd = qScopeGuard([fd] { ::close(fd); });
    char buf[256];
    ssize_t n = 0;
    do
        n = ::read(fd, buf, sizeof buf);
    while (n < 0 && errno == EINTR);
    const QByteArray contents = n > 0 ? QByteArray(buf, int(n)) : QByteArray();
    const pid_t owner = ownerIn(contents);

    // QLockFile and this program keep the file flocked for as long as they hold it.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return {Look::Held, owner};
    struct stat opened {
    }, named{};
    if (::fstat(fd, &opened) != 0) return {Look::Held, owner};
    if (::stat(file.constData(), &named) != 0 || !sameFile(opened, named))
        return {Look::Gone, owner};

    // A program that writes the file after making it (QLockFile, UUCP tools) leaves it empty or
    // cut short for a moment, with no whole first line: who made it cannot be told, so it is
    // given as long as QLockFile gives it. Once the first line is whole it names its maker, who
    // wrote it while alive, and that process is the whole answer, at any age: alive, the file is
    // its own, even half written; gone (or its number now running another program), the file was
    // left by a crash and is taken over at once, rather than refusing the user's first commands
    // after a restart. A file naming this process is not held by it (its own are flocked): it
    // was left by an earlier process that had the same number.
    if (owner == 0) {
        if (ageMs(opened) < PortLock::NamelessMs) return {Look::Held, owner};
    } else if (owner != ::getpid() && processAlive(owner) &&
               !runsAnotherProgram(owner, programIn(contents))) {
        return {Look::Held, owner};
    }
    // Whoever plays by these rules cannot remove or replace it while its flock is ours.
    if (::unlink(file.constData()) != 0) return {Look::Stuck, owner};
    return {Look::Stale, owner};
}

VbError inUse(const QString& device, const QString& path, pid_t owner) {
    const QString who = owner > 0 ? QStringLiteral("process %1, lock file %2").arg(owner).arg(path)
                                  : QStringLiteral("lock file %1").arg(path);
    return VbError(err::PortInUse,
                   QStringLiteral("Cannot open %1: it is in use by another program (%2)%3")
                       .arg(device, who, portsHint()));
}

} // namespace

QString PortLock::lockFilePath(const QString& device) {
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

void PortLock::take(const QString& device) {
    release();
    const QString real = QFileInfo(device).canonicalFilePath();
    QStringList names{real.isEmpty() ? device : real};
    if (!real.isEmpty() && real != device) names << device;
    try {
        for (const QString& name : names) {
            const QString path = lockFilePath(name);
            if (path.isEmpty() || paths().contains(path)) continue;
            takeOne(device, path);
        }
    } catch (...) {
        release();
        throw;
    }
}

void PortLock::takeOne(const QString& device, const QString& path) {
    const QByteArray file = QFile::encodeName(path);
    // The lock appears whole and already flocked, in one step: it is written under a name of its
    // own in the same folder and then linked to the lock's name, which fails if that exists.
    const QFileInfo info(path);
    QByteArray temp = QFile::encodeName(info.path() + QStringLiteral("/.") + info.fileName() +
                                        QStringLiteral(".XXXXXX"));
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        // A folder this program may not write: it takes no lock, but still keeps out of a port
        // whose lock says it is in use (TIOCEXCL keeps others out as far as it can).
        const Verdict v = judge(file);
        if (v.look == Look::Held) throw inUse(device, path, v.owner);
        return;
    }
    const auto drop = [&] {
        ::unlink(temp.constData());
        ::close(fd);
    };
    ::fchmod(fd, 0644);
    ::flock(fd, LOCK_EX | LOCK_NB); // a file nobody else knows yet
    // Not flushed to disk: the file lives for one command, and one left behind by a crash is
    // recognised as stale by the dead process it names.
    if (!writeAll(fd, lockContents())) {
        drop(); // a full disk: go on without, as where the folder may not be written
        return;
    }
    pid_t owner = 0;
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (::link(temp.constData(), file.constData()) == 0) {
            ::unlink(temp.constData());
            held_.push_back({path, fd});
            return;
        }
        if (errno != EEXIST) { // a file system without hard links: go on without
            drop();
            return;
        }
        const Verdict v = judge(file);
        owner = v.owner;
        if (v.look == Look::Held) break;
        if (v.look == Look::Stuck) {
            drop();
            return;
        }
    }
    drop();
    throw inUse(device, path, owner);
}

void PortLock::release() {
    for (auto it = held_.rbegin(); it != held_.rend(); ++it) {
        // Removed only while the name is still this file: never another program's lock.
        const QByteArray file = QFile::encodeName(it->path);
        struct stat mine {
        }, named{};
        if (::fstat(it->fd, &mine) == 0 && ::stat(file.constData(), &named) == 0 &&
            sameFile(mine, named))
            ::unlink(file.constData());
        ::close(it->fd);
    }
    held_.clear();
}

QStringList PortLock::paths() const {
    QStringList out;
    for (const Held& h : held_)
        out << h.path;
    return out;
}

} // namespace skyjog
