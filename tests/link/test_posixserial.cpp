// The Unix serial backend on a real pseudo-terminal: the lock file other serial programs look
// for, refusing a port another live program holds, the raw 9600 8N1 line, the settings found on
// the device put back, and what goes through unchanged.
#include "functions.h"
#include "posix_serial_backend.h"
#include "testsupport.h"

#include <QFile>
#include <QProcess>
#include <QTest>

#include <fcntl.h>
#include <stdlib.h>
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

void writeLock(const QString& path, qint64 pid) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(QByteArray::number(pid).rightJustified(10) + '\n'); // the UUCP way: padded
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
        const QString lock = PosixSerialBackend::lockFilePath(pty.path);
        if (lock.isEmpty()) QSKIP("no lock folder this user may write");
        QVERIFY(!QFile::exists(lock));

        PosixSerialBackend port(pty.path);
        port.open(LineSettings{});
        QVERIFY(QFile::exists(lock));
        QCOMPARE(readFile(lock).split('\n').value(0), QByteArray::number(qint64(::getpid())));
        port.close();
        QVERIFY(!QFile::exists(lock));
    }

    void portHeldByAnotherLiveProgramIsRefusedUntouched() {
        Pty pty;
        const QString lock = PosixSerialBackend::lockFilePath(pty.path);
        if (lock.isEmpty()) QSKIP("no lock folder this user may write");
        QProcess holder;
        holder.start(QStringLiteral("sleep"), {QStringLiteral("30")});
        QVERIFY(holder.waitForStarted());
        writeLock(lock, holder.processId());

        Comm1().setPortText(pty.path);
        ReportRecorder rec;
        QVERIFY(SendCommand("T\x02", 1, 500).isEmpty());
        QCOMPARE(rec.boxes.size(), size_t(1));
        QVERIFY2(rec.boxes[0].text.contains(QStringLiteral("in use by another program")),
                 qPrintable(rec.boxes[0].text));
        QVERIFY(rec.boxes[0].text.endsWith(QStringLiteral(" - 8005")));
        QVERIFY(StopSpiral);
        QVERIFY(!Comm1().portOpen());
        QCOMPARE(pty.readFar(), QByteArray()); // not one byte reached the line
        QCOMPARE(readFile(lock).trimmed(), QByteArray::number(holder.processId()));

        holder.kill();
        holder.waitForFinished();
        QFile::remove(lock);
    }

    void staleLockOfAFinishedProgramIsReplaced() {
        Pty pty;
        const QString lock = PosixSerialBackend::lockFilePath(pty.path);
        if (lock.isEmpty()) QSKIP("no lock folder this user may write");
        QProcess gone;
        gone.start(QStringLiteral("true"), {});
        QVERIFY(gone.waitForFinished());
        const qint64 deadPid = gone.processId() ? gone.processId() : 0x7ffffff0;
        writeLock(lock, deadPid);

        Comm1().setPortText(pty.path);
        ReportRecorder rec;
        QVERIFY(SendCommand("T\x02", 0, 500).isEmpty());
        QVERIFY(rec.boxes.empty());
        QCOMPARE(pty.readFar(), QByteArray("T\x02"));
        QVERIFY(!QFile::exists(lock));
    }

    void lineIsRaw9600AndTheFoundSettingsComeBack() {
        Pty pty;
        termios cooked = pty.settings(); // a fresh terminal: line editing, echo, CR/LF mapping
        QVERIFY(cooked.c_lflag & ICANON);

        PosixSerialBackend port(pty.path);
        port.open(LineSettings{});
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
        port.write(all);
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
        port.open(LineSettings{});
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
