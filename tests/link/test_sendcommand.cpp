// The transaction rules, on a scripted line with the clock driven by the test.
#include "functions.h"
#include "testsupport.h"

#include <QTest>

using namespace skyjog;
using namespace skyjog::test;

class TestSendCommand : public QObject {
    Q_OBJECT
    ManualClock clk;
    FakeLine line;

private slots:
    void init() {
        clk = ManualClock(5000);
        line = FakeLine();
        setClock(&clk);
        Comm1().setBackendFactory(line.factory());
        SleepTime = 1;
        StopSpiral = false;
    }
    void cleanup() {
        setClock(nullptr);
        Comm1().setBackendFactory({});
    }

    void sleepTimeFromClockIncrement() {
        QCOMPARE(sleepTimeForIncrement(156250), int16_t(17));
        QCOMPARE(sleepTimeForIncrement(100144), int16_t(11));
        QCOMPARE(sleepTimeForIncrement(0), int16_t(1));
        QCOMPARE(sleepTimeForIncrement(15000), int16_t(2)); // 2.5 goes to the even 2
        clk.setIncrement(156250);
        InitSleepTime();
        QCOMPARE(SleepTime, int16_t(17));
    }

    // The polling pause keeps a loop on a fixed grid: a pass's own work and a late wake-up are
    // taken out of the next pause instead of adding up, and a loop a whole period behind starts
    // a fresh grid instead of making up the lost passes with pauses of nothing.
    void pacedPausesKeepToTheirGrid() {
        const int64_t ms = 1000000;
        PaceState s;
        QCOMPARE(paceDeadline(s, 10 * ms, ms), 11 * ms);          // first pause: one period
        QCOMPARE(paceDeadline(s, 11 * ms + 70000, ms), 12 * ms);  // woke 70 us late
        QCOMPARE(paceDeadline(s, 12 * ms + 999999, ms), 13 * ms); // a pass of almost a period
        QCOMPARE(paceDeadline(s, 14 * ms, ms), 15 * ms);          // exactly a period behind
        QCOMPARE(paceDeadline(s, 40 * ms + 5, ms), 41 * ms + 5);  // a long handler
        QCOMPARE(paceDeadline(s, 41 * ms + 5, 0), 41 * ms + 5);   // a zero pause is no pause
        PaceState fresh;
        QCOMPARE(paceDeadline(fresh, 0, 17 * ms), 17 * ms);
        QCOMPARE(paceDeadline(fresh, 20 * ms, 17 * ms), 34 * ms);
    }

    void replyLengthZeroReturnsWithoutReading() {
        line.deliver("stale", 0);
        const QByteArray r = SendCommand("T\x01", 0, 500);
        QVERIFY(r.isEmpty());
        QCOMPARE(line.reads, 1); // the drain only
        QCOMPARE(clk.sleeps, 0u);
        QCOMPARE(line.opens, 1);
        QCOMPARE(line.closes, 1);
        QVERIFY(!Comm1().portOpen());
    }

    void collectsOneCharacterPerPass() {
        SleepTime = 17;
        line.onWrite = [&](const QByteArray&, uint32_t now) {
            line.deliver("1234,5678#", now + 30);
        };
        const uint32_t t0 = clk.now();
        const QByteArray r = SendCommand("Z", 10, 500);
        QCOMPARE(r, QByteArray("1234,5678#"));
        // Nothing arrives for 30 ms (two passes), then one character on each of ten passes.
        QCOMPARE(clk.now() - t0, 12u * 17u);
    }

    void silentMountTimesOutAfterFirstPassPastTimeout() {
        SleepTime = 17;
        const uint32_t t0 = clk.now();
        const QByteArray r = SendCommand("Z", 10, 500);
        QVERIFY(r.isEmpty());
        // Passes at 0, 17, ..., 493 read; the pass at 510 is the first at or past 500 and leaves.
        QCOMPARE(clk.now() - t0, 510u);
        QCOMPARE(line.reads, 1 + 30);
        QVERIFY(!StopSpiral); // a time-out is not a failure
    }

    void timeoutComparisonIsGreaterOrEqual() {
        SleepTime = 100;
        const uint32_t t0 = clk.now();
        SendCommand("Z", 10, 500);
        QCOMPARE(clk.now() - t0, 500u); // leaves on the pass where elapsed == time-out
    }

    void extraCharactersAreDrainedByTheNextCommand() {
        line.onWrite = [&](const QByteArray& c, uint32_t now) {
            if (c == "A")
                line.deliver("ab#EXTRA", now);
            else
                line.deliver("#", now + 5);
        };
        QCOMPARE(SendCommand("A", 3, 500), QByteArray("ab#"));
        QCOMPARE(SendCommand("B", 1, 500), QByteArray("#"));
    }

    void lateCharactersNeverBecomeTheNextReply() {
        line.onWrite = [&](const QByteArray& c, uint32_t now) {
            if (c == "A")
                line.deliver("late#", now + 800); // after the time-out
            else
                line.deliver("ok", now + 50);
        };
        QVERIFY(SendCommand("A", 5, 500).isEmpty());
        clk.advance(1000);
        QCOMPARE(SendCommand("B", 2, 500), QByteArray("ok"));
    }

    void drainGoesOnWhileReadsComeBackFull() {
        line.deliver(QByteArray(1200, 'x'), 0);
        line.onWrite = [&](const QByteArray&, uint32_t now) { line.deliver("#", now); };
        // One read takes 1000; the 200 left would otherwise be taken as the reply.
        QCOMPARE(SendCommand("K", 1, 500), QByteArray("#"));
        QCOMPARE(line.reads, 2 + 1);
    }

    void zeroByteIsAnOrdinaryReplyCharacter() {
        line.onWrite = [&](const QByteArray&, uint32_t now) {
            line.deliver(QByteArray("\0#", 2), now);
        };
        const QByteArray r = SendCommand(QByteArray("P\x01\x10\x40\0\0\0\x01", 8), 2, 500);
        QCOMPARE(r, QByteArray("\0#", 2));
        QCOMPARE(line.writes.last().size(), 8);
    }

    void wrappingTickCounterDoesNoHarm() {
        clk = ManualClock(0xFFFFFF00u);
        setClock(&clk);
        SleepTime = 10;
        const uint32_t t0 = clk.now();
        QVERIFY(SendCommand("Z", 10, 500).isEmpty());
        QCOMPARE(clk.now() - t0, 500u);
    }

    void failingPortReportsOncePerCommand() {
        ReportRecorder rec;
        line.failOpen = std::pair{8002, QStringLiteral("Cannot open /dev/ttyUSB0: No such file")};
        QVERIFY(SendCommand("T\x00", 1, 500).isEmpty());
        QVERIFY(SendCommand("T\x01", 1, 500).isEmpty());
        QCOMPARE(rec.texts(), QStringList({"Cannot open /dev/ttyUSB0: No such file - 8002",
                                           "Cannot open /dev/ttyUSB0: No such file - 8002"}));
        QCOMPARE(rec.boxes[0].caption, QStringLiteral("Skyjog"));
        QVERIFY(StopSpiral);
        QVERIFY(!Comm1().portOpen());
        QVERIFY(line.writes.isEmpty());
    }

    // Both leave the reply empty; only a failed port has been reported, and the caller can
    // tell which it was.
    void aFailedPortIsToldApartFromASilentMount() {
        ReportRecorder rec;
        CommandResult r = SendCommandResult("T\x01", 1, 500);
        QVERIFY(r.reply.isEmpty());
        QVERIFY(!r.portFailed);
        QVERIFY(rec.boxes.empty());

        line.onWrite = [&](const QByteArray&, uint32_t now) { line.deliver("#", now); };
        r = SendCommandResult("T\x01", 1, 500);
        QCOMPARE(r.reply, QByteArray("#"));
        QVERIFY(!r.portFailed);

        line.failOpen = std::pair{8002, QStringLiteral("Cannot open /dev/ttyUSB0")};
        r = SendCommandResult("T\x01", 1, 500);
        QVERIFY(r.reply.isEmpty());
        QVERIFY(r.portFailed);
        QCOMPARE(rec.texts(), QStringList{"Cannot open /dev/ttyUSB0 - 8002"});
        QVERIFY(StopSpiral);
        QVERIFY(!Comm1().portOpen());
    }

    void portNumberZeroFailsAtOpenWithTheStandardMessage() {
        ReportRecorder rec;
        Comm1().setBackendFactory({});
        Comm1().setPortText(QStringLiteral("0"));
        QVERIFY(SendCommand("Z", 10, 500).isEmpty());
        QCOMPARE(rec.boxes.size(), size_t(1));
        QVERIFY(rec.boxes[0].text.endsWith(QStringLiteral(" - 8002")));
        QVERIFY(StopSpiral);
    }
};

QTEST_GUILESS_MAIN(TestSendCommand)
#include "test_sendcommand.moc"
