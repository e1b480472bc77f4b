// SendCommand through a real line to skyjog-mount-sim: a pseudo-terminal (built with
// SKYJOG_HOST_PTY; opened through QSerialPort when SKYJOG_QSERIALPORT is also set, otherwise
// through the program's own terminal backend) or a loopback TCP connection (SKYJOG_HOST_TCP). Real
// clock, every wait bounded.
#include "commands.h"
#include "functions.h"
#include "serialport_backend.h"
#include "simprocess.h"
#include "testhelpers.h"
#include "testsupport.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTest>
#include <csignal>

#ifdef SKYJOG_HOST_PTY
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#endif

using namespace skyjog;
using namespace skyjog::test;

namespace {
#ifdef SKYJOG_HOST_PTY
constexpr auto Host = SimProcess::Host::Pty;
#else
constexpr auto Host = SimProcess::Host::Tcp;
#endif

} // namespace

class TestSimHosts : public QObject {
    Q_OBJECT
    std::unique_ptr<SimProcess> sim;

    // Starts a fresh simulator and points the serial control at it.
    void startSim(QStringList args = {}) {
        sim = std::make_unique<SimProcess>();
        QVERIFY2(sim->start(Host, args), qPrintable(sim->error()));
        Comm1().setPortText(sim->portText());
    }
    // Waits until the simulator has sent a reply with these bytes and it has had time to cross.
    void waitForReply(const QByteArray& bytes) {
        QVERIFY(sim->waitForLog([&](const QVector<SimLogEntry>& log) {
            for (const SimLogEntry& e : log)
                if (!e.command && e.bytes == bytes) return true;
            return false;
        }));
        QTest::qWait(100);
    }

private slots:
    void init() {
        InitSleepTime();
        StopSpiral = false;
#ifdef SKYJOG_QSERIALPORT
        Comm1().setBackendFactory([](const PortSpec& spec) -> std::unique_ptr<SerialBackend> {
            if (spec.kind == PortSpec::Kind::Device)
                return std::make_unique<SerialPortBackend>(spec.device);
            return makeDefaultBackend(spec);
        });
#else
        Comm1().setBackendFactory({});
#endif
    }
    void cleanup() {
        if (sim) QCOMPARE(sim->stop(), 0); // a clean exit on SIGTERM
        sim.reset();
    }

    void commandsArriveAndRepliesReturnByteForByte() {
        startSim({"--tracking", "0", "--az", "90", "--alt", "45", "--backlash", "0,7,0,0",
                  "--guide-rate", "128,35"});
        using namespace cmd;
        QCOMPARE(SendCommand(GetAzAlt(), 10, 500), QByteArray("4000,2000#"));
        QCOMPARE(SendCommand(GetBacklash(AzMotor, Direction::Negative), 2, 500), bytes({7, '#'}));
        // A data byte of 0 is kept; a data byte equal to the terminator is not a terminator.
        QCOMPARE(SendCommand(GetBacklash(AltMotor, Direction::Positive), 2, 500), bytes({0, '#'}));
        QCOMPARE(SendCommand(GetGuideRate(AltMotor), 2, 500), QByteArray("##"));
        QCOMPARE(SendCommand(VariableRateSlew(AzMotor, MsgSlewPositive, 0xA8, 0xC0), 1, 500),
                 QByteArray("#"));
        QCOMPARE(SendCommand(FixedRateSlew(AzMotor), 1, 500), QByteArray("#"));
        QCOMPARE(SendCommand(SetTrackingMode(0), 1, 500), QByteArray("#"));
        QCOMPARE(sim->commands(),
                 QVector<QByteArray>(
                     {"Z", bytes({'P', 1, 16, 65, 0, 0, 0, 1}), bytes({'P', 1, 17, 64, 0, 0, 0, 1}),
                      bytes({'P', 1, 17, 71, 0, 0, 0, 1}), bytes({'P', 3, 16, 6, 168, 192, 0, 0}),
                      bytes({'P', 2, 16, 37, 0, 0, 0, 0}), bytes({'T', 0})}));
        QVERIFY(!StopSpiral);
        QVERIFY(!Comm1().portOpen());
    }

    void lineSurvivesManyOpensAndCloses() {
        startSim();
        for (int i = 0; i < 40; ++i) {
            const char c = char('A' + i % 26);
            QCOMPARE(SendCommand(QByteArray("K") + c, 2, 500), QByteArray(1, c) + '#');
        }
        QCOMPARE(sim->commands().size(), 40);
    }

    void replyLengthZeroDoesNotWait() {
        startSim();
        QVERIFY(SendCommand("Kx", 0, 500).isEmpty());
        waitForReply("x#");
        // Whatever of that reply is still on the line is drained by the next command.
        QCOMPARE(SendCommand("Ky", 2, 500), QByteArray("y#"));
        QCOMPARE(sim->commands(), QVector<QByteArray>({"Kx", "Ky"}));
    }

    void silentMountGivesEmptyText() {
        startSim({"--fault", "silent"});
        ReportRecorder rec;
        QVERIFY(SendCommand(cmd::GetAzAlt(), 10, 500).isEmpty());
        QVERIFY(rec.boxes.empty());
        QVERIFY(!StopSpiral);
        QCOMPARE(sim->commands(), QVector<QByteArray>({"Z"}));
    }

    void extraBytesAreDrainedByTheNextCommand() {
        startSim({"--fault", "extra", "--fault-count", "1"});
        QCOMPARE(SendCommand(cmd::GetGuideRate(16), 2, 500), bytes({128, '#'}));
        QCOMPARE(SendCommand("Kq", 2, 500), QByteArray("q#"));
    }

    void lateCharactersNeverBecomeTheNextReply() {
        startSim({"--fault", "late", "--late-ms", "700", "--fault-count", "1"});
        QVERIFY(SendCommand("Ka", 2, 500).isEmpty());
        waitForReply("a#");
        QCOMPARE(SendCommand("Kb", 2, 500), QByteArray("b#"));
    }

    // A stop the line loses gets no reply at all, and the axis runs on until a stop arrives.
    void lostStopGetsNoReplyAndTheAxisRunsOn() {
        startSim({"--tracking", "0", "--lose", "stop@alt"});
        using namespace cmd;
        ReportRecorder rec;
        QCOMPARE(SendCommand(VariableRateSlew(AltMotor, MsgSlewPositive, 168, 192), 1, 500),
                 QByteArray("#"));
        QVERIFY(SendCommand(FixedRateSlew(AltMotor), 1, 500).isEmpty());
        const QByteArray running = SendCommand(GetAzAlt(), 10, 500);
        QTest::qWait(200); // 3 degrees a second: well over a step of the reply
        QVERIFY(SendCommand(GetAzAlt(), 10, 500) != running);
        QCOMPARE(SendCommand(FixedRateSlew(AltMotor), 1, 500), QByteArray("#"));
        const QByteArray stopped = SendCommand(GetAzAlt(), 10, 500);
        QTest::qWait(200);
        QCOMPARE(SendCommand(GetAzAlt(), 10, 500), stopped);
        QVERIFY(rec.boxes.empty());

        QVERIFY(sim->waitForLog([](const QVector<SimLogEntry>& log) { return log.size() == 13; }));
        const QVector<SimLogEntry> log = sim->log();
        QCOMPARE(log[1].bytes, QByteArray("#"));
        // The lost stop is followed straight by the next command.
        QCOMPARE(log[2].bytes, FixedRateSlew(AltMotor));
        QCOMPARE(log[2].note, QStringLiteral("alt stop, lost on the line"));
        QVERIFY(log[3].command);
        QCOMPARE(log[3].bytes, GetAzAlt());
        QCOMPARE(log[7].bytes, FixedRateSlew(AltMotor));
        QCOMPARE(log[7].note, QStringLiteral("alt stop"));
        QCOMPARE(log[8].bytes, QByteArray("#"));
        QVERIFY(!log[8].command);
    }

    void pacedLineDeliversWholeReplies() {
        startSim({"--pace", "--latency", "30", "--tracking", "0", "--az", "180"});
        QCOMPARE(SendCommand(cmd::GetAzAlt(), 10, 500), QByteArray("8000,0000#"));
    }

    // The hang-up is what is tested, not how soon the simulator answers: the commands wait
    // long enough for a loaded machine.
    void droppedLineFailsOneCommandAndRecovers() {
        startSim({"--fault", "disconnect", "--fault-count", "1"});
        ReportRecorder rec;
        QVERIFY(SendCommand(cmd::GetAzAlt(), 10, ReplyNotTestedMs).isEmpty());
        QCOMPARE(rec.boxes.size(), size_t(1));
        QVERIFY(StopSpiral);
        QVERIFY(!Comm1().portOpen());
        StopSpiral = false;
        QCOMPARE(SendCommand("Kx", 2, ReplyNotTestedMs), QByteArray("x#"));
        QCOMPARE(rec.boxes.size(), size_t(1));
        QVERIFY(!StopSpiral);
    }

#if defined(SKYJOG_HOST_TCP) && defined(Q_OS_UNIX)
    // Memory keeps the most recent entries (what SIGUSR1 prints); the log file gets every one.
    // The simulator takes signals only where there are any.
    void memoryKeepsTheRecentLogAndTheFileAllOfIt() {
        startSim({"--log-keep", "4"});
        for (int i = 0; i < 10; ++i)
            QCOMPARE(SendCommand(QByteArray("K") + char('a' + i), 2, 500),
                     QByteArray(1, char('a' + i)) + '#');
        QVERIFY(sim->waitForLog([](const QVector<SimLogEntry>& log) { return log.size() == 20; }));
        QCOMPARE(sim->commands().size(), 10);

        QProcess& p = sim->process();
        p.readAllStandardOutput(); // the ready line
        ::kill(pid_t(p.processId()), SIGUSR1);
        QByteArray out;
        QDeadlineTimer deadline(5000);
        while (out.count('\n') < 5 && !deadline.hasExpired()) {
            p.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
            out += p.readAllStandardOutput();
        }
        const QList<QByteArray> lines = out.trimmed().split('\n');
        QCOMPARE(lines.size(), 5);
        QCOMPARE(lines[0], QByteArray("(16 earlier entries dropped; the last 4 follow)"));
        QVERIFY2(lines[1].contains(" cmd   75 105") && lines[4].contains(" reply 106 35"),
                 out.constData());
    }
#endif

    void missingPortReportsEachCommand() {
#ifdef SKYJOG_HOST_PTY
        QTemporaryDir dir;
        const QString port = dir.filePath(QStringLiteral("ttyMissing"));
#else
        QTcpServer probe; // a port that was free a moment ago and has nobody listening now
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const QString port = QStringLiteral("127.0.0.1:%1").arg(probe.serverPort());
        probe.close();
#endif
        Comm1().setPortText(port);
        ReportRecorder rec;
        QVERIFY(SendCommand(cmd::SetTrackingMode(0), 1, 500).isEmpty());
        QVERIFY(SendCommand(cmd::GetAzAlt(), 10, 500).isEmpty());
        QCOMPARE(rec.boxes.size(), size_t(2));
        for (const auto& box : rec.boxes) {
            QVERIFY2(box.text.contains(port), qPrintable(box.text));
            QVERIFY(box.text.endsWith(QStringLiteral(" - 8002")));
        }
        QVERIFY(StopSpiral);
        QVERIFY(!Comm1().portOpen());
    }

#ifdef SKYJOG_HOST_PTY
    void regularFileIsRefusedAndLeftAlone() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("notaport"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("keep me\n");
        f.close();
        const QDateTime stamp = QDateTime::currentDateTimeUtc().addDays(-3);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.setFileTime(stamp, QFileDevice::FileModificationTime));
        f.close();

        for (const QString& target : {path, dir.path()}) {
            Comm1().setPortText(target);
            ReportRecorder rec;
            StopSpiral = false;
            QVERIFY(SendCommand(cmd::SetTrackingMode(2), 1, 500).isEmpty());
            QCOMPARE(rec.boxes.size(), size_t(1));
            QVERIFY(rec.boxes[0].text.contains(QStringLiteral("not a serial device")));
            QVERIFY(rec.boxes[0].text.endsWith(QStringLiteral(" - 8010")));
            QVERIFY(StopSpiral);
            QVERIFY(!Comm1().portOpen());
        }
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("keep me\n"));
        QCOMPARE(QFileInfo(path).lastModified().toUTC(), stamp.toUTC());
    }

    void terminalLeftCookedByAClientIsPutRight() {
        startSim();
        const QByteArray link = QFile::encodeName(sim->portText());
        // A client sets line editing, echo and newline translation and leaves them so.
        int fd = ::open(link.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(fd >= 0);
        termios t{};
        QCOMPARE(::tcgetattr(fd, &t), 0);
        t.c_lflag |= ICANON | ECHO;
        t.c_iflag |= ICRNL | IXON;
        t.c_oflag |= OPOST | ONLCR;
        QCOMPARE(::tcsetattr(fd, TCSANOW, &t), 0);
        ::close(fd);
        // The simulator notices and puts the terminal back to raw.
        QDeadlineTimer deadline(5000);
        for (;;) {
            fd = ::open(link.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            QVERIFY(fd >= 0);
            QCOMPARE(::tcgetattr(fd, &t), 0);
            if (!(t.c_lflag & (ICANON | ECHO)) && !(t.c_iflag & (ICRNL | IXON)) &&
                !(t.c_oflag & OPOST))
                break;
            ::close(fd);
            QVERIFY2(!deadline.hasExpired(), "the terminal stayed cooked");
            QTest::qWait(20);
        }
        // A client that takes the terminal as it finds it exchanges bytes unchanged.
        QCOMPARE(::write(fd, "K\n", 2), ssize_t(2));
        QByteArray got;
        deadline.setRemainingTime(5000);
        while (got.size() < 2 && !deadline.hasExpired()) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0) {
                char buf[16];
                const ssize_t n = ::read(fd, buf, sizeof buf);
                if (n > 0) got.append(buf, int(n));
            }
        }
        ::close(fd);
        QCOMPARE(got, QByteArray("\n#"));
        QCOMPARE(sim->commands(), QVector<QByteArray>({"K\n"})); // nothing echoed back
    }

    void linkIsRemovedOnExit() {
        startSim();
        const QString link = sim->portText();
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(sim->stop(), 0);
        QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());
        sim.reset();
    }
#endif
};

QTEST_GUILESS_MAIN(TestSimHosts)
#include "test_sim_hosts.moc"
