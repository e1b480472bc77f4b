// The Unix serial backend on a real pseudo-terminal: the lock file other serial programs look
// for, refusing a port another live program holds, the raw 9600 8N1 line, the settings found on
// the device put back, and what goes through unchanged.
#include "functions.h"
#include "posix_serial_backend.h"
#include "testsupport.h"
#include "vberror.h"

#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/time.h>
#include <termios.h>
#include <unistd.h>

using namespace skyjog;
using namespace skyjog::test;

namespace {

// A pseudo-terminal whose far end the test plays itself.
struct Pty {
    int master = -1;
    int slave = -1; // held open so that the terminal outlives the backend's closes
    QString path;
    Pty() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return;
        path = QString::fromLocal8Bit(::ptsname(master));
        slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY | O_NONBLOCK);
    }
    ~Pty() {
        if (slave >= 0) ::close(slave);
        if (master >= 0) ::close(master);
    }
    QByteArray readFar() {
        QByteArray all;
        char buf[256];
        for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;)
            all.append(buf, int(n));
        return all;
    }
    void writeFar(const QByteArray& b) {
        QCOMPARE(::write(master, b.constData(), size_t(b.size())), ssize_t(b.size()));
    }
    termios settings() const {
        termios t{};
        ::tcgetattr(slave, &t);
        return t;
    }
};

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A lock file with these contents, last written that many seconds ago.
void writeLock(const QString& path, const QByteArray& contents, int ageSeconds) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(contents), qint64(contents.size()));
    f.close();
    timeval times[2];
    ::gettimeofday(&times[0], nullptr);
    times[0].tv_sec -= ageSeconds;
    times[1] = times[0];
    QCOMPARE(::utimes(QFile::encodeName(path).constData(), times), 0);
}

// The number of a process that has finished.
qint64 deadProcess() {
    QProcess gone;
    gone.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("echo $$")});
    if (!gone.waitForFinished(5000)) return 0x7ffffff0;
    return gone.readAllStandardOutput().trimmed().toLongLong();
}

} // namespace

class TestPosixSerial : public QObject {
    Q_OBJECT

private slots:
    void init() {
        Comm1().setBackendFactory({});
        Comm1().setSettings(QStringLiteral("9600,N,8,1"));
        StopSpiral = false;
    }

    void lockFileLivesExactlyAsLongAsThePortIsOpen() {
        Pty pty;
        QVERIFY(pty.slave >= 0);
        const QString lock = PortLock::lockFilePath(pty.path);
        if (lock.isEmpty()) QSKIP("no lock folder this user may write");
        QVERIFY(!QFile::exists(lock));

        PosixSerialBackend port(pty.path);
        port.open(LineSettings{}, QDeadlineTimer(1000));
        QVERIFY(QFile::exists(lock));
        QCOMPARE(readFile(lock).split('\n').value(0), QByteArray::number(qint64(::getpid())));
        port.close();
        QVERIFY(!QFile::exists(lock));
    }

    // A lock file that names its process is judged by that process alone, however young; one
    // that names nobody (its maker may still be writing it) is respected as long as QLockFile
    // respects it.
    void lockFileRules_data() {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<int>("ageSeconds");
        QTest::addColumn<bool>("held");
        QTest::newRow("empty, just made") << QByteArray() << 0 << true;
        QTest::newRow("empty, 10 s") << QByteArray() << 10 << true;
        QTest::newRow("empty, 60 s") << QByteArray() << 60 << false;
        QTest::newRow("cut short, 10 s") << QByteArray("   dead") << 10 << true;
        QTest::newRow("cut short, 60 s") << QByteArray("   dead") << 60 << false;
        QTest::newRow("not a number, 10 s") << QByteArray("COM1\n") << 10 << true;
        QTest::newRow("number cut short, just made") << QByteArray("live") << 0 << true;
        // Left by a program that was killed: nothing is waited for.
        QTest::newRow("dead process, just made") << QByteArray("dead\n") << 0 << false;
        QTest::newRow("dead process, Qt's, just made")
            << QByteArray("dead\nskyjog\nhost\n") << 0 << false;
        QTest::newRow("dead process, 10 s") << QByteArray("dead\n") << 10 << false;
        QTest::newRow("dead process, UUCP, 10 s") << QByteArray("      dead\n") << 10 << false;
        QTest::newRow("live process, just made") << QByteArray("live\n") << 0 << true;
        QTest::newRow("live process, half written") << QByteArray("live\nsk") << 0 << true;
        QTest::newRow("live process, 60 s") << QByteArray("live\nprog\nhost\n") << 60 << true;
        QTest::newRow("live process, UUCP, 60 s") << QByteArray("      live\n") << 60 << true;
#ifdef Q_OS_LINUX
        // The number has been handed on to another program since the lock's maker died.
        QTest::newRow("number now another program's")
            << QByteArray("live\nskyjog\nhost\n") << 0 << false;
#endif
        // This process does not hold it (its own locks are flocked): an earlier process that had
        // the same number left it.
        QTest::newRow("this process's number, 10 s") << QByteArray("self\n") << 10 << false;
        QTest::newRow("dead process, dated ahead") << QByteArray("dead\n") << -60 << false;
    }
    void lockFileRules() {
        QFETCH(QByteArray, contents);
        QFETCH(int, ageSeconds);
        QFETCH(bool, held);
        Pty pty;
        const QString lock = PortLock::lockFilePath(pty.path);
        if (lock.isEmpty()) QSKIP("no lock folder this user may write");
        QProcess live;
        live.start(QStringLiteral("sleep"), {QStringLiteral("30")});
        QVERIFY(live.waitForStarted());
        contents.replace("dead", QByteArray::number(deadProcess()));
        contents.replace("live", QByteArray::number(live.processId()));
        // The live process's program, named as the system names it.
        contents.replace(
            "prog",
            QFile::encodeName(QFileInfo(QFile::symLinkTarget(
                                            QStringLiteral("/proc/%1/exe").arg(live.processId())))
                                  .fileName()));
        contents.replace("self", QByteArray::number(qint64(::getpid())));
        writeLock(lock, contents, ageSeconds);

        Comm1().setPortText(pty.path);
        ReportRecorder rec;
        QVERIFY(SendCommand("T\x02", 0, 500).isEmpty());
        if (held) {
            QCOMPARE(rec.boxes.size(), size_t(1));
            QVERIFY2(rec.boxes[0].text.contains(QStringLiteral("in use by another program")) &&
                         rec.boxes[0].text.contains(lock) &&
                         rec.boxes[0].text.endsWith(QStringLiteral(" - 8005")),
                     qPrintable(rec.boxes[0].text));
            QVERIFY(StopSpiral);
            QVERIFY(!Comm1().portOpen());
            QCOMPARE(pty.readFar(), QByteArray()); // not one byte reached the line
            QCOMPARE(readFile(lock), contents);    // nor was the lock touched
        } else {
            QVERIFY2(rec.boxes.empty(), qPrintable(rec.texts().join(u'\n')));
            QCOMPARE(pty.readFar(), QByteArray("T\x02"));
            QVERIFY(!QFileInfo::exists(lock) && !QFileInfo(lock).isSymLink());
        }
        live.kill();
        live.waitForFinished();
        QFile::remove(lock);
    }

    // A lock file that cannot be read (here a link, which is never followed) is in use.
    void unreadableLockIsRespected() {
        Pty pty;
        const QString lock = PortLock::lockFilePath(pty.path);
        if (lock.isEmpty()) QSKIP("no lock folder this user may write");
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), lock));
        Comm1().setPortText(pty.path);
        ReportRecorder rec;
        QVERIFY(SendCommand("T\x02", 0, 500).isEmpty());
        QCOMPARE(rec.boxes.size(), size_t(1));
        QVERIFY(rec.boxes[0].text.endsWith(QStringLiteral(" - 8005")));
        QCOMPARE(pty.readFar(), QByteArray());
        QVERIFY(QFileInfo(lock).isSymLink());
        QFile::remove(lock);
    }

    // A Qt program and this one read each other's lock files: each keeps out while the other
    // holds the port, and the port is free again the moment it lets go.
    void qtLockFileAndOursKeepEachOtherOut() {
        Pty pty;
        const QString lock = PortLock::lockFilePath(pty.path);
        if (lock.isEmpty()) QSKIP("no lock folder this user may write");
        {
            QLockFile qt(lock);
            QVERIFY(qt.tryLock(0));
            Comm1().setPortText(pty.path);
            ReportRecorder rec;
            QVERIFY(SendCommand("T\x02", 0, 500).isEmpty());
            QCOMPARE(rec.boxes.size(), size_t(1));
            QVERIFY2(rec.boxes[0].text.contains(QStringLiteral("process %1").arg(::getpid())) &&
                         rec.boxes[0].text.endsWith(QStringLiteral(" - 8005")),
                     qPrintable(rec.boxes[0].text));
            QCOMPARE(pty.readFar(), QByteArray());
        }
        PosixSerialBackend port(pty.path);
        port.open(LineSettings{}, QDeadlineTimer(1000));
        {
            QLockFile qt(lock);
            qt.setStaleLockTime(0); // stale by age never: only by its process
            QVERIFY(!qt.tryLock(0));
            QCOMPARE(qt.error(), QLockFile::LockFailedError);
        }
        port.close();
        QLockFile qt(lock);
        QVERIFY(qt.tryLock(0));
    }

    // Two names of one device (a link such as /dev/serial/by-id/..., and the device) take one
    // lock; the link's own name is locked as well, since that is what QSerialPort takes when it
    // is given the link.
    void aLinkAndItsDeviceShareOneLock() {
        Pty pty;
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("by-id-mount"));
        QVERIFY(QFile::link(pty.path, link));
        const QString deviceLock = PortLock::lockFilePath(pty.path);
        const QString linkLock = PortLock::lockFilePath(link);
        if (deviceLock.isEmpty() || linkLock.isEmpty()) QSKIP("no lock folder this user may write");
        QVERIFY(deviceLock != linkLock);

        for (const auto& [first, second] :
             {std::pair{link, pty.path}, std::pair{pty.path, link}, std::pair{link, link}}) {
            PosixSerialBackend holder(first);
            holder.open(LineSettings{}, QDeadlineTimer(1000));
            QVERIFY(QFileInfo::exists(deviceLock));
            QCOMPARE(QFileInfo::exists(linkLock), first == link);
            PosixSerialBackend other(second);
            try {
                other.open(LineSettings{}, QDeadlineTimer(1000));
                QFAIL(qPrintable(QStringLiteral("%1 opened while %2 was held").arg(second, first)));
            } catch (const VbError& e) {
                QCOMPARE(e.number, err::PortInUse);
                QVERIFY2(e.description.contains(QStringLiteral("in use by another program")),
                         qPrintable(e.description));
            }
            QVERIFY(!other.isOpen());
            holder.close();
            QVERIFY(!QFileInfo::exists(deviceLock) && !QFileInfo::exists(linkLock));
            other.open(LineSettings{}, QDeadlineTimer(1000));
            other.close();
        }
    }

    void lineIsRaw9600AndTheFoundSettingsComeBack() {
        Pty pty;
        termios cooked = pty.settings(); // a fresh terminal: line editing, echo, CR/LF mapping
        QVERIFY(cooked.c_lflag & ICANON);

        PosixSerialBackend port(pty.path);
        port.open(LineSettings{}, QDeadlineTimer(1000));
        const termios t = pty.settings();
        QCOMPARE(cfgetospeed(&t), speed_t(B9600));
        QCOMPARE(cfgetispeed(&t), speed_t(B9600));
        QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
        QCOMPARE(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
        QCOMPARE(t.c_lflag & (ICANON | ECHO | ISIG), tcflag_t(0));
        QCOMPARE(t.c_iflag & (ICRNL | INLCR | IXON | ISTRIP), tcflag_t(0));
        QCOMPARE(t.c_oflag & OPOST, tcflag_t(0));

        // Every byte value crosses unchanged both ways, CR, LF, XOFF and zero included.
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all += char(b);
        port.write(all, QDeadlineTimer(1000));
        QCOMPARE(pty.readFar(), all);
        pty.writeFar(all);
        QByteArray got;
        for (int i = 0; i < 100 && got.size() < all.size(); ++i) {
            got += port.read(1000);
            if (got.size() < all.size()) QTest::qWait(5);
        }
        QCOMPARE(got, all);

        port.close();
        const termios back = pty.settings();
        QCOMPARE(back.c_lflag, cooked.c_lflag);
        QCOMPARE(back.c_iflag, cooked.c_iflag);
        QCOMPARE(back.c_oflag, cooked.c_oflag);
    }

    void readsAtMostTheAskedNumberAndNeverWait() {
        Pty pty;
        PosixSerialBackend port(pty.path);
        port.open(LineSettings{}, QDeadlineTimer(1000));
        QCOMPARE(port.read(1), QByteArray());
        pty.writeFar("AB");
        QByteArray first;
        for (int i = 0; i < 100 && first.isEmpty(); ++i) {
            first = port.read(1);
            if (first.isEmpty()) QTest::qWait(5);
        }
        QCOMPARE(first, QByteArray("A"));
        QCOMPARE(port.read(1), QByteArray("B"));
        QCOMPARE(port.read(1), QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestPosixSerial)
#include "test_posixserial.moc"
