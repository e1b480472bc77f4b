#pragma once
// The lock files serial programs on Unix use to tell each other that a port is taken: a file
// "LCK..<device>" in the lock folder, named and placed as QSerialPort names and places it, holding
// what QLockFile writes (process, program, host), so that Qt programs and this one keep out of
// each other's way. TIOCEXCL does not keep a second opener out when it runs as root; the lock
// file is what does.
#include <QString>
#include <QStringList>
#include <vector>

namespace skyjog {

class PortLock {
public:
    PortLock() = default;
    ~PortLock() { release(); }
    PortLock(const PortLock&) = delete;
    PortLock& operator=(const PortLock&) = delete;

    // Takes the lock of the device the path leads to (a link such as /dev/serial/by-id/... and
    // the device it names share one lock) and, where the path itself is another name, that name's
    // lock as well, which is the one QSerialPort takes when given that path. Throws VbError 8005
    // when another program holds either. Where no lock folder may be written, takes nothing.
    void take(const QString& device);
    // Removes the lock files this holds; never throws.
    void release();
    // The lock files held now.
    QStringList paths() const;

    // The lock file QSerialPort would use for this name (empty when no lock folder is usable).
    static QString lockFilePath(const QString& device);

    // A lock file that names no process (empty, cut short, unreadable) is in use until it is
    // this old, the age after which QLockFile takes such a file for stale: its maker may still
    // be writing it. One that names a process is judged by that process at any age.
    static constexpr qint64 NamelessMs = 30000;

private:
    void takeOne(const QString& device, const QString& path);

    struct Held {
        QString path;
        int fd = -1; // kept open: its flock tells everyone who looks that the lock is alive
    };
    std::vector<Held> held_;
};

} // namespace skyjog
