// INDI's Celestron driver, a client nobody here wrote, against skyjog-mount-sim on a
// pseudo-terminal: indiserver runs the driver headless, indi_setprop and indi_getprop drive it.
// What the driver sends is checked in the simulator's log, what it read back in its properties.
// Last, the driver reaches the simulator through skyjog's share, over TCP.
#include "simprocess.h"
#include "skyjogprocess.h"
#include "testhelpers.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTest>
#include <algorithm>
#include <cstdio>

using namespace skyjog::test;

namespace {

const QString Device = QStringLiteral("Celestron GPS");
const QStringList Tools = {"indiserver", "indi_celestron_gps", "indi_setprop", "indi_getprop"};

QByteArray pass(int len, int dest, int id, int d1, int n) {
    return bytes({'P', len, dest, id, d1, 0, 0, n});
}

} // namespace

class TestInteropIndi : public QObject {
    Q_OBJECT
    SimProcess sim;
    QProcess server;
    QProcessEnvironment env;
    quint16 port = 0;

    // Runs one INDI tool to its end, at most timeoutMs; returns its exit code (-1: it hung).
    int run(const QString& tool, const QStringList& args, QByteArray* out = nullptr,
            int timeoutMs = 15000) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(tool, QStringList{"-p", QString::number(port)} + args);
        if (!p.waitForFinished(timeoutMs)) {
            p.kill();
            p.waitForFinished(5000);
            return -1;
        }
        if (out) *out = p.readAllStandardOutput();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    bool set(const QString& spec) {
        return run(QStringLiteral("indi_setprop"), {Device + u'.' + spec}) == 0;
    }
    // The value of one element, or a null string when the server does not have it.
    QString get(const QString& element) {
        QByteArray out;
        if (run(QStringLiteral("indi_getprop"), {"-t", "3", Device + u'.' + element}, &out) != 0)
            return {};
        const QString line = QString::fromUtf8(out).trimmed();
        const int eq = line.indexOf(u'=');
        return eq < 0 ? QString() : line.mid(eq + 1);
    }
    bool waitForValue(const QString& element, const QString& value, int ms = 30000) {
        QDeadlineTimer deadline(ms);
        while (get(element) != value) {
            if (deadline.hasExpired()) return false;
            QTest::qWait(200);
        }
        return true;
    }
    bool waitForCommand(const QByteArray& bytes, int ms = 15000) {
        return sim.waitForLog(
            [&](const QVector<SimLogEntry>& log) {
                for (const SimLogEntry& e : log)
                    if (e.command && e.bytes == bytes) return true;
                return false;
            },
            ms);
    }
    void connectDriver() {
        QVERIFY(set("CONNECTION_MODE.CONNECTION_SERIAL=On"));
        QVERIFY(set("DEVICE_PORT.PORT=" + sim.portText()));
        QVERIFY(set("DEVICE_BAUD_RATE.9600=On"));
        QVERIFY(set("CONNECTION.CONNECT=On"));
        QVERIFY2(waitForValue("CONNECTION.CONNECT", "On"), "the driver did not connect");
        // The connection is made once the driver has asked whether the mount is aligned.
        QVERIFY(waitForCommand("J"));
    }

private slots:
    void initTestCase() {
        QVERIFY2(sim.start(SimProcess::Host::Pty, {"--tracking", "2", "--guide-rate", "64,192"}),
                 qPrintable(sim.error()));
        // The driver keeps settings under ~/.indi: a scratch home keeps the user's out of it.
        QVERIFY(QDir().mkpath(sim.scratch("home")));
        env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", sim.scratch("home"));
        // indiserver cannot be told an interface; a port that was free a moment ago will do.
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
        probe.close();
        server.setProcessEnvironment(env);
        server.setWorkingDirectory(sim.scratch("home"));
        server.setStandardOutputFile(sim.scratch("indiserver.log"));
        server.setStandardErrorFile(sim.scratch("indiserver.log"), QIODevice::Append);
        endWithParent(server);
        server.start("indiserver", {"-p", QString::number(port), "indi_celestron_gps"});
        QVERIFY(server.waitForStarted(10000));
        QVERIFY2(waitForValue("CONNECTION.CONNECT", "Off", 20000), "indiserver did not come up");
    }

    void cleanup() {
        // What both sides said, for whoever has to find out why a step failed.
        if (!QTest::currentTestFailed()) return;
        QFile serverLog(sim.scratch("indiserver.log"));
        if (serverLog.open(QIODevice::ReadOnly))
            qWarning("indiserver:\n%s", serverLog.readAll().right(4000).constData());
        QString text;
        for (const SimLogEntry& e : sim.log())
            if (e.command && e.bytes != "e" && e.bytes != "p")
                text += QString::number(e.timeMs) + u' ' + e.note + u'\n';
        qWarning("simulator, commands other than the position polls:\n%s", qPrintable(text));
    }

    void cleanupTestCase() {
        // The driver ends when indiserver closes its pipes.
        if (server.state() != QProcess::NotRunning) {
            server.terminate();
            if (!server.waitForFinished(10000)) {
                server.kill();
                server.waitForFinished(5000);
            }
        }
        QCOMPARE(sim.stop(), 0);
    }

    void connectingAsksWhatTheMountIs() {
        connectDriver();
        // The driver's opening questions, in its order, each answered byte for byte.
        const QVector<QByteArray> expected = {"Kx",
                                              "V",
                                              "m",
                                              pass(1, 16, 254, 0, 2),
                                              pass(1, 17, 254, 0, 2),
                                              pass(1, 18, 254, 0, 4),
                                              "Kx",
                                              "t",
                                              pass(1, 16, 71, 0, 1),
                                              pass(1, 17, 71, 0, 1)};
        const QVector<SimLogEntry> log = sim.log();
        QVector<QByteArray> cmds, replies;
        for (int i = 0; i < log.size() && cmds.size() < expected.size(); ++i) {
            if (!log[i].command) continue;
            cmds << log[i].bytes;
            replies << (i + 1 < log.size() && !log[i + 1].command ? log[i + 1].bytes
                                                                  : QByteArray());
        }
        QCOMPARE(cmds, expected);
        QCOMPARE(replies, QVector<QByteArray>({"x#", bytes({4, 41, '#'}), bytes({20, '#'}),
                                               bytes({7, 11, '#'}), bytes({7, 11, '#'}),
                                               bytes({0, 0, 0, 0, 0, '#'}), "x#", bytes({2, '#'}),
                                               bytes({64, '#'}), bytes({192, '#'})}));
        // What the driver made of the answers.
        QCOMPARE(get("Firmware Info.Model"), QStringLiteral("AVX"));
        QCOMPARE(get("Firmware Info.HC Version"), QStringLiteral("4.41"));
        QCOMPARE(get("Firmware Info.Ra Version"), QStringLiteral("7.11"));
        QCOMPARE(get("Firmware Info.Has Focuser"), QStringLiteral("False"));
        QCOMPARE(get("CELESTRON_TRACK_MODE.MODE_EQ_N"), QStringLiteral("On"));
        QCOMPARE(get("GUIDE_RATE.GUIDE_RATE_WE").toDouble(), 64 / 255.0);
        QCOMPARE(get("GUIDE_RATE.GUIDE_RATE_NS").toDouble(), 192 / 255.0);
    }

    void trackingOffAndOn() {
        QVERIFY(set("TELESCOPE_TRACK_STATE.TRACK_OFF=On"));
        QVERIFY(waitForCommand(bytes({'T', 0})));
        QVERIFY(set("TELESCOPE_TRACK_STATE.TRACK_ON=On"));
        QVERIFY(waitForCommand(bytes({'T', 2})));
        QVERIFY(waitForValue("TELESCOPE_TRACK_STATE.TRACK_ON", "On"));
    }

    void movesAndStopsAnAxis() {
        QVERIFY(set("TELESCOPE_SLEW_RATE.7x=On"));
        QVERIFY(set("TELESCOPE_MOTION_WE.MOTION_WEST=On"));
        QVERIFY(waitForCommand(pass(2, 16, 36, 7, 0)));
        // The driver takes a stop only once it has marked the motion as under way.
        QVERIFY(waitForValue("TELESCOPE_MOTION_WE._STATE", "Busy"));
        QVERIFY(set("TELESCOPE_MOTION_WE.MOTION_WEST=Off"));
        QVERIFY(waitForCommand(pass(2, 16, 36, 0, 0)));
        // Which way south is depends on the side of the pier the driver thinks the tube is on.
        QVERIFY(set("TELESCOPE_MOTION_NS.MOTION_SOUTH=On"));
        QVERIFY(sim.waitForLog([](const QVector<SimLogEntry>& log) {
            return std::any_of(log.begin(), log.end(), [](const SimLogEntry& e) {
                return e.command &&
                       (e.bytes == pass(2, 17, 36, 7, 0) || e.bytes == pass(2, 17, 37, 7, 0));
            });
        }));
        QVERIFY(waitForValue("TELESCOPE_MOTION_NS._STATE", "Busy"));
        QVERIFY(set("TELESCOPE_MOTION_NS.MOTION_SOUTH=Off"));
        // The driver stops either direction with the positive message and rate 0.
        QVERIFY(waitForCommand(pass(2, 17, 36, 0, 0)));
    }

    void guideRatesAreWrittenAndReadBack() {
        QVERIFY(set("GUIDE_RATE.GUIDE_RATE_WE;GUIDE_RATE_NS=0.5;0.25"));
        QVERIFY(waitForCommand(pass(2, 16, 70, 128, 0)));
        QVERIFY(waitForCommand(pass(2, 17, 70, 64, 0)));
        // A new connection reads them from the mount again.
        QVERIFY(set("CONNECTION.DISCONNECT=On"));
        QVERIFY(waitForValue("CONNECTION.CONNECT", "Off"));
        const int before = sim.commands().size();
        QVERIFY(set("CONNECTION.CONNECT=On"));
        QVERIFY(waitForValue("CONNECTION.CONNECT", "On"));
        QVERIFY(sim.waitForLog([&](const QVector<SimLogEntry>&) {
            return sim.commands().mid(before).count("J") > 0;
        }));
        QCOMPARE(get("GUIDE_RATE.GUIDE_RATE_WE").toDouble(), 128 / 255.0);
        QCOMPARE(get("GUIDE_RATE.GUIDE_RATE_NS").toDouble(), 64 / 255.0);
    }

    void newerHandControlAnswersTheVariant() {
        // From version 5.28 on, the driver also asks for the variant and the precise time.
        SimProcess newer;
        QVERIFY2(newer.start(SimProcess::Host::Pty, {"--tracking", "2", "--hc-version", "5.30"}),
                 qPrintable(newer.error()));
        QVERIFY(set("CONNECTION.DISCONNECT=On"));
        QVERIFY(waitForValue("CONNECTION.CONNECT", "Off"));
        QVERIFY(set("DEVICE_PORT.PORT=" + newer.portText()));
        QVERIFY(set("CONNECTION.CONNECT=On"));
        QVERIFY(waitForValue("CONNECTION.CONNECT", "On"));
        QVERIFY(newer.waitForLog(
            [&](const QVector<SimLogEntry>&) { return newer.commands().contains("J"); }));
        QCOMPARE(get("Firmware Info.HC Version"), QStringLiteral("5.30"));
        const QVector<SimLogEntry> log = newer.log();
        QVERIFY(log.size() > 6);
        QCOMPARE(log[2].bytes, QByteArray("V"));
        QCOMPARE(log[3].bytes, bytes({5, 30, '#'}));
        QCOMPARE(log[4].bytes, QByteArray("v"));
        QCOMPARE(log[5].bytes, bytes({0x11, '#'}));
        QVERIFY(newer.commands().contains("i"));
        QVERIFY(!newer.commands().contains("h"));
        QVERIFY(set("CONNECTION.DISCONNECT=On"));
        QVERIFY(waitForValue("CONNECTION.CONNECT", "Off"));
    }

    // Skyjog owns the mount's port and the driver comes in through its share: it connects, reads
    // the position, starts a move and aborts it, and every byte reaches the mount as it was sent.
    void overTcpThroughSkyjogsShare() {
        SimProcess mount;
        QVERIFY2(mount.start(SimProcess::Host::Pty, {"--tracking", "2", "--az", "90", "--alt", "30"}),
                 qPrintable(mount.error()));
        SkyjogProcess skyjog;
        QVERIFY2(skyjog.start(mount.portText()), qPrintable(skyjog.error()));

        QVERIFY(set("CONNECTION_MODE.CONNECTION_TCP=On"));
        QVERIFY(set("DEVICE_ADDRESS.ADDRESS;PORT=127.0.0.1;" + QString::number(skyjog.tcpPort())));
        QVERIFY(set("CONNECTION.CONNECT=On"));
        QVERIFY2(waitForValue("CONNECTION.CONNECT", "On"), "the driver did not connect");
        QVERIFY(mount.waitForLog(
            [&](const QVector<SimLogEntry>&) { return mount.commands().contains("J"); }));
        const QVector<QByteArray> opening = mount.commands().mid(0, 3);
        QCOMPARE(opening, QVector<QByteArray>({"Kx", "V", "m"}));
        QCOMPARE(get("Firmware Info.Model"), QStringLiteral("AVX"));

        // The mount's axes stand at 90 and 30 degrees: on an equatorial mount, 6 h and +30.
        QDeadlineTimer deadline(30000);
        while (std::abs(get("EQUATORIAL_EOD_COORD.RA").toDouble() - 6.0) > 0.01 ||
               std::abs(get("EQUATORIAL_EOD_COORD.DEC").toDouble() - 30.0) > 0.01) {
            QVERIFY2(!deadline.hasExpired(), "the position never reached the driver");
            QTest::qWait(200);
        }

        QVERIFY(set("TELESCOPE_SLEW_RATE.7x=On"));
        QVERIFY(set("TELESCOPE_MOTION_WE.MOTION_WEST=On"));
        QVERIFY(mount.waitForLog([&](const QVector<SimLogEntry>&) {
            return mount.commands().contains(pass(2, 16, 36, 7, 0));
        }));
        QVERIFY(waitForValue("TELESCOPE_MOTION_WE._STATE", "Busy"));
        const int moved = mount.commands().indexOf(pass(2, 16, 36, 7, 0));
        QVERIFY(set("TELESCOPE_ABORT_MOTION.ABORT=On"));
        // The driver's abort: both axes stopped, each twice, then any GoTo cancelled.
        const QVector<QByteArray> abort = {pass(2, 17, 36, 0, 0), pass(2, 17, 36, 0, 0),
                                           pass(2, 16, 36, 0, 0), pass(2, 16, 36, 0, 0), "M"};
        const auto motorCommands = [&] {
            QVector<QByteArray> out;
            for (const QByteArray& c : mount.commands().mid(moved + 1))
                if (c.startsWith('P') || c == "M") out << c;
            return out;
        };
        QVERIFY2(mount.waitForLog([&](const QVector<SimLogEntry>&) {
            return motorCommands().size() >= abort.size();
        }),
                 "the abort did not reach the mount");
        QCOMPARE(motorCommands(), abort);
        QVERIFY(skyjog.running());

        QVERIFY(set("CONNECTION.DISCONNECT=On"));
        QVERIFY(waitForValue("CONNECTION.CONNECT", "Off"));
        QVERIFY(set("CONNECTION_MODE.CONNECTION_SERIAL=On"));
    }
};

int main(int argc, char** argv) {
    // Without the client there is nothing to check against: say so and report a skip.
    for (const QString& tool : Tools) {
        if (QStandardPaths::findExecutable(tool).isEmpty()) {
            std::printf("%s is not installed (package indi-bin): skipped\n", qPrintable(tool));
            return 77;
        }
    }
    QCoreApplication app(argc, argv);
    TestInteropIndi test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_interop_indi.moc"
