// Faults on the line, one command at a time: a silent mount, one that answers garbage, one that
// answers after the time-out, more stale characters than one drain takes, a line that drops, a
// port that vanishes and a port that another program holds. Each ends within its bound, with the
// standard message exactly where a command fails, and the next good exchange intact.
// The in-process simulated mount runs on the test's clock; the pseudo-terminal cases use the
// standalone simulator on the real clock.
#include "commands.h"
#include "functions.h"
#include "mountsim.h"
#include "simprocess.h"
#include "testsupport.h"
#include "vberror.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace skyjog;
using namespace skyjog::test;

namespace {

// The in-process simulated mount behind "sim", with the given faults, on a clock the test owns.
struct InProcess {
    explicit InProcess(sim::Options o) {
        sim::registerInProcessSim();
        sim::sharedMountSim().reset(o);
        Comm1().setBackendFactory({});
        Comm1().setPortOpen(false);
        Comm1().setPortText(QStringLiteral("sim"));
        InitSleepTime(); // 1 ms: the test clock reports no increment
        StopSpiral = false;
    }
    ManualClock clock;
    ScopedClock scoped{&clock};
    ReportRecorder reports;
};

// The hand control's echo command: "K" and a character, answered with the character and "#".
QByteArray echo(char c) {
    return QByteArray("K") + c;
}

// A silent or late mount must never hold a command past its time-out and one more pass.
constexpr int WallBoundMs = 500 + 1500;

// What a client that may not override a terminal's exclusive use gets when it opens the port:
// "opened", or "refused <reason>".
QByteArray probe(const QString& port) {
    QProcess p;
    p.start(QStringLiteral(SKYJOG_PORT_HOLDER), {QStringLiteral("--probe"), port});
    if (!p.waitForFinished(5000)) return "probe hung";
    return p.readAllStandardOutput().trimmed();
}

// Whether the terminal is in exclusive use, as the system says (-1: it cannot say).
int exclusive(const QString& port) {
#ifdef TIOCGEXCL
    const int fd = ::open(QFile::encodeName(port).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return -1;
    int on = 0;
    const int r = ::ioctl(fd, TIOCGEXCL, &on);
    ::close(fd);
    return r == 0 ? on != 0 : -1;
#else
    Q_UNUSED(port);
    return -1;
#endif
}

// Bytes waiting on a terminal, counted without taking them.
int waitingOn(const QString& device) {
    const int fd = ::open(QFile::encodeName(device).constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return -1;
    int n = -1;
    if (::ioctl(fd, FIONREAD, &n) != 0) n = -1;
    ::close(fd);
    return n;
}

} // namespace

class TestFaultsLine : public QObject {
    Q_OBJECT

private slots:
    void init() { SleepTime = 1; }

    // --- the in-process mount, on the test's clock -------------------------------------------

    void silentMountGivesTheEmptyTextAtTheTimeOut() {
        sim::Options o;
        o.fault = sim::Fault::Silent;
        InProcess line(o);
        for (int i = 0; i < 3; ++i) {
            const uint32_t t0 = line.clock.now();
            QVERIFY(SendCommand(cmd::GetAzAlt(), 10, 500).isEmpty());
            const uint32_t took = line.clock.now() - t0;
            QVERIFY2(took >= 500 && took <= 500 + uint32_t(SleepTime),
                     qPrintable(QString::number(took)));
        }
        // Silence is not a failure: no message, the spiral flag untouched, the port closed, and
        // every command reached the mount.
        QVERIFY(line.reports.boxes.empty());
        QVERIFY(!StopSpiral);
        QVERIFY(!Comm1().portOpen());
        QCOMPARE(sim::sharedMountSim().commands().size(), 3);
    }

    void garbageIsHandedOverAsItCameAndTheNextReplyIsClean() {
        sim::Options o;
        o.fault = sim::Fault::Garbage;
        o.faultCount = 1;
        o.altitude = 0x2012;
        InProcess line(o);
        QByteArray expected = "0000,2012#";
        for (char& c : expected)
            c = char(~uint8_t(c));
        QCOMPARE(SendCommand(cmd::GetAzAlt(), 10, 500), expected);
        QCOMPARE(SendCommand(cmd::GetAzAlt(), 10, 500), QByteArray("0000,2012#"));
        QVERIFY(line.reports.boxes.empty());
        QVERIFY(!StopSpiral);
    }

    void lateReplyNeverBecomesTheNextReply() {
        sim::Options o;
        o.fault = sim::Fault::LateReply;
        o.lateReplyMs = 700;
        o.faultCount = 1;
        o.altitude = 0x2012;
        InProcess line(o);
        const uint32_t t0 = line.clock.now();
        QVERIFY(SendCommand(cmd::GetAzAlt(), 10, 500).isEmpty());
        QVERIFY(line.clock.now() - t0 <= 501);
        // The position arrives at 700 ms, while the program does something else ...
        line.clock.advance(400);
        // ... and the next command gets its own answer, not the stale position.
        QCOMPARE(SendCommand(cmd::SetTrackingMode(1), 1, 500), QByteArray("#"));
        QCOMPARE(SendCommand(cmd::GetAzAlt(), 10, 500), QByteArray("0000,2012#"));
        QVERIFY(line.reports.boxes.empty());
    }

    void moreThanAThousandStaleCharactersAreAllDrained_data() {
        QTest::addColumn<int>("stale");
        QTest::newRow("999") << 999;
        QTest::newRow("1000") << 1000;
        QTest::newRow("1001") << 1001;
        QTest::newRow("1500") << 1500;
        QTest::newRow("5000") << 5000;
    }
    void moreThanAThousandStaleCharactersAreAllDrained() {
        QFETCH(int, stale);
        sim::Options o;
        o.fault = sim::Fault::ExtraBytes;
        o.faultCount = 1;
        // The echo reply, then the characters that will be stale when the next command comes.
        o.extraBytes = QByteArray(stale, 'x');
        InProcess line(o);
        QCOMPARE(SendCommand(echo('a'), 2, 500), QByteArray("a#"));
        // Whatever piled up, the next command's reply is its own.
        QCOMPARE(SendCommand(echo('b'), 2, 500), QByteArray("b#"));
        QCOMPARE(SendCommand(echo('c'), 2, 500), QByteArray("c#"));
        QVERIFY(line.reports.boxes.empty());
    }

    void droppedLineFailsThatCommandOnlyAndNextOneWorks() {
        sim::Options o;
        o.fault = sim::Fault::Disconnect;
        o.faultSkip = 1;
        o.faultCount = 1;
        InProcess line(o);
        QCOMPARE(SendCommand(echo('a'), 2, 500), QByteArray("a#"));
        QVERIFY(SendCommand(echo('b'), 2, 500).isEmpty());
        QCOMPARE(line.reports.boxes.size(), size_t(1));
        QVERIFY(line.reports.boxes[0].text.endsWith(QStringLiteral(" - 8020")));
        QCOMPARE(line.reports.boxes[0].caption, AppTitle);
        QVERIFY(StopSpiral);
        QVERIFY(!Comm1().portOpen());
        // Opening again is plugging the line back in.
        QCOMPARE(SendCommand(echo('c'), 2, 500), QByteArray("c#"));
        QCOMPARE(line.reports.boxes.size(), size_t(1));
    }

    // --- the standalone simulator on a pseudo-terminal, on the real clock --------------------

    void silentMountOnARealLine() {
        SimProcess sim;
        QVERIFY2(sim.start(SimProcess::Host::Pty, {"--fault", "silent"}), qPrintable(sim.error()));
        Comm1().setBackendFactory({});
        Comm1().setPortText(sim.portText());
        InitSleepTime();
        ReportRecorder reports;
        StopSpiral = false;
        QElapsedTimer t;
        t.start();
        QVERIFY(SendCommand(cmd::GetAzAlt(), 10, 500).isEmpty());
        const qint64 took = t.elapsed();
        QVERIFY2(took >= 500 && took < WallBoundMs, qPrintable(QString::number(took)));
        QVERIFY(reports.boxes.empty());
        QVERIFY(!StopSpiral);
        QVERIFY(sim.waitForLog([](const QVector<SimLogEntry>& log) { return !log.isEmpty(); }));
        QCOMPARE(sim.commands(), QVector<QByteArray>({cmd::GetAzAlt()}));
    }

    void lateMountOnARealLine() {
        SimProcess sim;
        QVERIFY2(sim.start(SimProcess::Host::Pty,
                           {"--fault", "late", "--late-ms", "700", "--fault-count", "1"}),
                 qPrintable(sim.error()));
        Comm1().setBackendFactory({});
        Comm1().setPortText(sim.portText());
        InitSleepTime();
        ReportRecorder reports;
        QElapsedTimer t;
        t.start();
        QVERIFY(SendCommand(echo('a'), 2, 500).isEmpty());
        QVERIFY(t.elapsed() < WallBoundMs);
        // The late reply lands on the line; the next command drains it.
        QVERIFY(sim.waitForLog([](const QVector<SimLogEntry>& log) {
            return log.size() >= 2 && !log.last().command;
        }));
        QTest::qWait(100);
        QCOMPARE(SendCommand(echo('b'), 2, 500), QByteArray("b#"));
        QVERIFY(reports.boxes.empty());
    }

    void moreThanAThousandStaleCharactersOnARealLine() {
        SimProcess sim;
        QVERIFY2(sim.start(SimProcess::Host::Pty), qPrintable(sim.error()));
        Comm1().setBackendFactory({});
        Comm1().setPortText(sim.portText());
        InitSleepTime();
        ReportRecorder reports;
        // 200 site reads of 9 characters each are written and left unread: 1800 characters.
        Comm1().setPortOpen(true);
        Comm1().output(QByteArray(200, 'w'));
        Comm1().setPortOpen(false);
        QDeadlineTimer deadline(10000);
        while (waitingOn(sim.portText()) < 1800 && !deadline.hasExpired())
            QTest::qWait(10);
        QCOMPARE(waitingOn(sim.portText()), 1800);
        QCOMPARE(SendCommand(echo('b'), 2, 500), QByteArray("b#"));
        QCOMPARE(waitingOn(sim.portText()), 0);
        QVERIFY(reports.boxes.empty());
    }

    // The hang-up is what is tested, not how soon the simulator answers: the commands wait
    // long enough for a loaded machine.
    void droppedLineOnARealLine() {
        SimProcess sim;
        QVERIFY2(sim.start(SimProcess::Host::Pty,
                           {"--fault", "disconnect", "--fault-skip", "1", "--fault-count", "1"}),
                 qPrintable(sim.error()));
        Comm1().setBackendFactory({});
        Comm1().setPortText(sim.portText());
        InitSleepTime();
        ReportRecorder reports;
        StopSpiral = false;
        QCOMPARE(SendCommand(echo('a'), 2, ReplyNotTestedMs), QByteArray("a#"));
        QElapsedTimer t;
        t.start();
        QVERIFY(SendCommand(echo('b'), 2, ReplyNotTestedMs).isEmpty());
        QVERIFY(t.elapsed() < WallBoundMs);
        QCOMPARE(reports.texts().size(), 1);
        QVERIFY2(reports.texts()[0].startsWith(QStringLiteral("Lost ")) &&
                     reports.texts()[0].endsWith(QStringLiteral(" - 8020")),
                 qPrintable(reports.texts()[0]));
        QVERIFY(StopSpiral);
        QVERIFY(!Comm1().portOpen());
        // A fresh terminal is behind the same link at once: the next command gets through.
        QCOMPARE(SendCommand(echo('c'), 2, ReplyNotTestedMs), QByteArray("c#"));
        QCOMPARE(reports.boxes.size(), size_t(1));
    }

    void vanishedPortFailsEveryCommandUntilItIsBack() {
        auto sim = std::make_unique<SimProcess>();
        QVERIFY2(sim->start(SimProcess::Host::Pty), qPrintable(sim->error()));
        const QString link = sim->portText();
        Comm1().setBackendFactory({});
        Comm1().setPortText(link);
        InitSleepTime();
        ReportRecorder reports;
        QCOMPARE(SendCommand(echo('a'), 2, 500), QByteArray("a#"));

        // The mount's end goes away for good: the process is killed, its terminal with it.
        QVERIFY2(sim->unplug(), qPrintable(sim->error()));
        StopSpiral = false;
        for (int i = 0; i < 3; ++i) {
            QElapsedTimer t;
            t.start();
            QVERIFY(SendCommand(cmd::SetTrackingMode(uint8_t(i)), 1, 500).isEmpty());
            QVERIFY(t.elapsed() < WallBoundMs);
            QVERIFY(StopSpiral);
            QVERIFY(!Comm1().portOpen());
        }
        QCOMPARE(reports.boxes.size(), size_t(3));
        for (const auto& box : reports.boxes) {
            QVERIFY2(box.text.contains(link) && box.text.endsWith(QStringLiteral(" - 8002")),
                     qPrintable(box.text));
            QCOMPARE(box.caption, AppTitle);
        }
    }

    // A client killed in the middle of a command cannot end its exclusive use of the terminal;
    // the simulator does, once no client has the terminal open, and not before.
    void clientKilledMidCommandLeavesTheTerminalFree() {
#ifndef Q_OS_LINUX
        QSKIP("the simulator sees clients come and go through inotify, on Linux only");
#endif
        SimProcess sim;
        QVERIFY2(sim.start(SimProcess::Host::Pty), qPrintable(sim.error()));
        const QString link = sim.portText();
        const QByteArray before = probe(link);
        if (before != "opened") QSKIP(qPrintable(QStringLiteral("cannot probe: ") + before));

        QProcess holder;
        holder.setProgram(QStringLiteral(SKYJOG_PORT_HOLDER));
        holder.setArguments({QStringLiteral("--raw"), link});
        holder.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        endWithParent(holder);
        holder.start();
        QVERIFY(holder.waitForStarted(5000));
        QVERIFY(holder.waitForReadyRead(10000));
        QCOMPARE(holder.readLine().trimmed(), QByteArray("held"));
        QVERIFY2(probe(link).startsWith("refused"), "exclusive use keeps nobody out");

        // Another client (root, which exclusive use does not stop) comes and goes: the holder is
        // still there, and keeps its exclusive use.
        const int fd = ::open(QFile::encodeName(link).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(fd >= 0);
        ::close(fd);
        QTest::qWait(300);
        QVERIFY(probe(link).startsWith("refused"));
        QVERIFY(exclusive(link) != 0);

        holder.kill();
        QVERIFY(holder.waitForFinished(5000));
        QDeadlineTimer deadline(5000);
        QByteArray after;
        while ((after = probe(link)) != "opened" && !deadline.hasExpired())
            QTest::qWait(20);
        QCOMPARE(after, QByteArray("opened"));
        QVERIFY(exclusive(link) != 1);

        // The half command the holder left is dropped after its gap; then the port serves.
        QVERIFY(sim.waitForLog([](const QVector<SimLogEntry>& log) {
            return !log.isEmpty() && log.first().note.contains(QStringLiteral("incomplete"));
        }));
        Comm1().setBackendFactory({});
        Comm1().setPortText(link);
        InitSleepTime();
        ReportRecorder reports;
        QCOMPARE(SendCommand(echo('b'), 2, 500), QByteArray("b#"));
        QVERIFY(reports.boxes.empty());
    }

    void portHeldByAnotherProgramIsLeftAlone() {
        SimProcess sim;
        QVERIFY2(sim.start(SimProcess::Host::Pty), qPrintable(sim.error()));
        const QString link = sim.portText();
        Comm1().setBackendFactory({});
        Comm1().setPortText(link);
        InitSleepTime();
        ReportRecorder reports;

        QProcess holder;
        holder.setProgram(QStringLiteral(SKYJOG_PORT_HOLDER));
        holder.setArguments({link});
        holder.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        holder.start();
        QVERIFY(holder.waitForStarted(5000));
        QVERIFY(holder.waitForReadyRead(10000));
        const QByteArray said = holder.readLine().trimmed();
        QCOMPARE(said, QByteArray("held"));

        StopSpiral = false;
        QElapsedTimer t;
        t.start();
        QVERIFY(SendCommand(echo('a'), 2, 500).isEmpty());
        QVERIFY(t.elapsed() < WallBoundMs);
        QCOMPARE(reports.boxes.size(), size_t(1));
        const QString text = reports.boxes[0].text;
        QVERIFY2(text.contains(QStringLiteral("in use by another program")) &&
                     text.contains(QString::number(holder.processId())) &&
                     text.endsWith(QStringLiteral(" - 8005")),
                 qPrintable(text));
        QVERIFY(StopSpiral);
        QVERIFY(!Comm1().portOpen());

        // The holder's port is undisturbed: its own exchange works, and nothing of ours reached
        // the mount.
        holder.write("Kh\n");
        QVERIFY(holder.waitForReadyRead(5000));
        QCOMPARE(holder.readLine().trimmed(), QByteArray("reply 6823"));
        QVERIFY(sim.waitForLog([](const QVector<SimLogEntry>& log) { return log.size() >= 2; }));
        QCOMPARE(sim.commands(), QVector<QByteArray>({echo('h')}));

        // Once it lets go, the port is ours.
        holder.closeWriteChannel();
        QVERIFY(holder.waitForFinished(5000));
        QCOMPARE(SendCommand(echo('b'), 2, 500), QByteArray("b#"));
        QCOMPARE(reports.boxes.size(), size_t(1));
    }
};

QTEST_GUILESS_MAIN(TestFaultsLine)
#include "test_faults_line.moc"
