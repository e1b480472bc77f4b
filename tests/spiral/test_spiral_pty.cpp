// The spiral on the real clock, through a pseudo-terminal to the standalone simulated mount.
// Timing is the real one, so only the order and the bytes are checked; every wait is bounded.
#include "functions.h"
#include "simprocess.h"
#include "spiralfixture.h"

#include <QElapsedTimer>
#include <QTest>

using namespace skyjog;
using namespace skyjog::test;

class TestSpiralPty : public QObject {
    Q_OBJECT

private slots:
    void threeLegsOnARealLine() {
        SimProcess sim;
        QVERIFY2(
            sim.start(SimProcess::Host::Pty, {QStringLiteral("--alt"), QStringLiteral("45.1")}),
            qPrintable(sim.error()));
        Comm1().setBackendFactory({});
        Comm1().setPortText(sim.portText());
        InitSleepTime();
        StopSpiral = true;

        // The mount at 45.1 degrees: width 1 gives azimuth legs at 1000.
        // clang-format off
        const QByteArrayList pattern = {
            trackCmd(0), stopCmd(17), slewCmd(16, 6, 3, 232),
            trackCmd(0), stopCmd(16), slewCmd(17, 7, 1, 244),
            trackCmd(0), stopCmd(17), slewCmd(16, 7, 3, 232),
            trackCmd(0), stopCmd(16), slewCmd(17, 6, 1, 244),
        };
        // clang-format on
        // The position read, then legs: anything else ends the run at once, not at the bound.
        auto wrongByte = [&](const QVector<QByteArray>& got) {
            for (int i = 0; i < got.size(); ++i)
                if (got[i] != (i == 0 ? cmd::GetAzAlt() : pattern[(i - 1) % pattern.size()]))
                    return true;
            return false;
        };

        FakeSpiralHost host;
        QElapsedTimer running;
        running.start();
        bool overran = false;
        bool wrong = false;
        int polls = 0;
        host.onProcessEvents = [&] {
            ++polls;
            if (StopSpiral) return;
            // Three legs take about two seconds; the log lags a little behind the line.
            const QVector<QByteArray> got = sim.commands();
            int slews = 0;
            for (const QByteArray& c : got)
                slews += isSlew(c) ? 1 : 0;
            if (wrongByte(got)) {
                wrong = true;
                ToggleSpiral(host);
            } else if (slews >= 3)
                ToggleSpiral(host);
            else if (running.hasExpired(30000)) {
                overran = true;
                ToggleSpiral(host);
            }
        };
        ToggleSpiral(host);
        QVERIFY(!overran);
        QVERIFY2(!wrong, qPrintable(QStringLiteral("unexpected command on the line")));
        QVERIFY(StopSpiral);
        QCOMPARE(host.labelChanges, QVector<bool>({true, false}));
        QVERIFY(polls > 0);

        QVERIFY(sim.waitForLog([](const QVector<SimLogEntry>& log) {
            return !log.isEmpty() && log.last().command == false && log.size() >= 2 &&
                   log[log.size() - 2].bytes == trackCmd(1);
        }));
        const QVector<QByteArray> got = sim.commands();
        QByteArrayList commands(got.begin(), got.end());
        // The position read, then whole legs, then the stop sequence. A leg may have started
        // while the log was catching up, so the number of legs is three or more.
        QVERIFY(commands.size() >= 1 + 9 + 3);
        QCOMPARE(commands.first(), cmd::GetAzAlt());
        QCOMPARE(commands.mid(commands.size() - 3),
                 QByteArrayList({stopCmd(17), stopCmd(16), trackCmd(1)}));
        const QByteArrayList legs = commands.mid(1, commands.size() - 4);
        QCOMPARE(legs.size() % 3, 0);
        for (int i = 0; i < legs.size(); ++i)
            QCOMPARE(legs[i], pattern[i % pattern.size()]);
        // Every command was answered: nothing was lost on the line.
        int replies = 0;
        for (const SimLogEntry& e : sim.log())
            replies += e.command ? 0 : 1;
        QCOMPARE(replies, commands.size());
        QVERIFY(!Comm1().portOpen());
    }
};

QTEST_GUILESS_MAIN(TestSpiralPty)
#include "test_spiral_pty.moc"
