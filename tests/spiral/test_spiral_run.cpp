// The spiral's run: its commands, their order and timing, its stop and its failures, on a scripted
// line that answers at once, with the clock driven by the test.
#include "functions.h"
#include "spiralfixture.h"
#include "testsupport.h"

#include <QTest>

using namespace skyjog;
using namespace skyjog::test;

class TestSpiralRun : public QObject {
    Q_OBJECT
    ManualClock clk;
    FakeLine line;
    FakeSpiralHost host;
    QVector<Sent> sent;
    QByteArray position = "0000,2012#"; // 45.1 degrees: width 1 gives azimuth legs 1000

    // Number of VariableRateSlew commands sent so far.
    int legsStarted() const { return countOf(sent, isSlew); }
    // Asks for the stop from inside the window's event handling once n legs have started.
    void stopAfterLegs(int n) {
        host.onProcessEvents = [this, n] {
            if (legsStarted() >= n && !StopSpiral) ToggleSpiral(host);
        };
    }

private slots:
    void init() {
        clk = ManualClock(10000);
        setClock(&clk);
        line = FakeLine();
        host = FakeSpiralHost();
        sent.clear();
        line.onWrite = [this](const QByteArray& c, uint32_t now) {
            sent.push_back({now, c});
            if (c == cmd::GetAzAlt())
                line.deliver(position, now);
            else
                line.deliver("#", now);
        };
        Comm1().setBackendFactory(line.factory());
        SleepTime = 1;
        StopSpiral = true;
    }
    void cleanup() {
        setClock(nullptr);
        Comm1().setBackendFactory({});
        StopSpiral = true;
    }

    void firstSixLegsInOrderWithTheirDurations() {
        stopAfterLegs(6);
        ToggleSpiral(host);

        // clang-format off
        const QByteArrayList expected = {
            cmd::GetAzAlt(),
            trackCmd(0), stopCmd(17), slewCmd(16, 6, 3, 232),
            trackCmd(0), stopCmd(16), slewCmd(17, 7, 1, 244),
            trackCmd(0), stopCmd(17), slewCmd(16, 7, 3, 232),
            trackCmd(0), stopCmd(16), slewCmd(17, 6, 1, 244),
            trackCmd(0), stopCmd(17), slewCmd(16, 6, 3, 232),
            trackCmd(0), stopCmd(16), slewCmd(17, 7, 1, 244),
            stopCmd(17), stopCmd(16), trackCmd(1),
        };
        // clang-format on
        QCOMPARE(bytesOf(sent), expected);

        // Each leg starts once its tracking-off has been acknowledged (one poll of 1 ms) and
        // ends at the first poll more than its duration later.
        const int durations[] = {500, 500, 1000, 1000, 1500, 1500};
        for (int k = 0; k < 5; ++k) {
            const uint32_t legStart = sent[1 + 3 * k].at + 1;
            const uint32_t nextLeg = sent[1 + 3 * (k + 1)].at;
            QCOMPARE(nextLeg - legStart, uint32_t(durations[k] + 1));
        }
        // The first leg follows the position read (ten characters, ten polls) after one poll.
        QCOMPARE(sent[1].at - sent[0].at, 11u);
        QVERIFY(StopSpiral);
        QCOMPARE(host.labelChanges, QVector<bool>({true, false}));
        QVERIFY(!Comm1().portOpen());
    }

    void legTimingSurvivesTheTickCounterWrapping() {
        clk = ManualClock(0xFFFFFFFFu - 700);
        setClock(&clk);
        stopAfterLegs(4);
        ToggleSpiral(host);
        QCOMPARE(legsStarted(), 4);
        const int durations[] = {500, 500, 1000};
        for (int k = 0; k < 3; ++k)
            QCOMPARE(sent[1 + 3 * (k + 1)].at - (sent[1 + 3 * k].at + 1),
                     uint32_t(durations[k] + 1));
    }

    void cornerPausesStopBothAxesAndRestoreTracking() {
        host.delay = QStringLiteral("2");
        // The user switches to EQ North during the second leg: later restores use it.
        host.onProcessEvents = [this] {
            if (legsStarted() == 2) host.mode = 2;
            if (legsStarted() >= 3 && !StopSpiral) ToggleSpiral(host);
        };
        ToggleSpiral(host);

        // clang-format off
        const QByteArrayList expected = {
            cmd::GetAzAlt(),
            trackCmd(0), stopCmd(17), slewCmd(16, 6, 3, 232),
            stopCmd(17), stopCmd(16), trackCmd(1),
            trackCmd(0), stopCmd(16), slewCmd(17, 7, 1, 244),
            stopCmd(17), stopCmd(16), trackCmd(2),
            trackCmd(0), stopCmd(17), slewCmd(16, 7, 3, 232),
            stopCmd(17), stopCmd(16), trackCmd(2),
        };
        // clang-format on
        QCOMPARE(bytesOf(sent), expected);
        // The pause starts once tracking is back on and lasts the full two seconds.
        QCOMPARE(sent[7].at - (sent[6].at + 1), 2000u);
        QCOMPARE(sent[13].at - (sent[12].at + 1), 2000u);
        // The leg's own time does not include the pause that follows it.
        QCOMPARE(sent[4].at - (sent[1].at + 1), 501u);
    }

    void zeroOrNegativeDelayMakesNoPauses() {
        for (const char* d : {"0", "-2", "0.0004"}) {
            init();
            host.delay = QString::fromLatin1(d);
            stopAfterLegs(3);
            ToggleSpiral(host);
            QCOMPARE(countOf(sent, [](const QByteArray& c) { return c == trackCmd(1); }), 1);
            QCOMPARE(sent.size(), 1 + 9 + 3);
        }
    }

    void stopDuringACornerPauseStopsAtOnce() {
        host.delay = QStringLiteral("2");
        uint32_t stopAt = 0;
        bool clickScheduled = false;
        bool clicked = false;
        host.onProcessEvents = [&] {
            // The click comes half a second into the first pause and is handled as it comes.
            if (sent.size() == 7 && !clickScheduled) {
                clickScheduled = true;
                clk.at(sent[6].at + 500, [&] { clicked = true; });
            }
            if (clicked && !StopSpiral) {
                ToggleSpiral(host);
                stopAt = clk.now();
            }
        };
        ToggleSpiral(host);

        // clang-format off
        const QByteArrayList expected = {
            cmd::GetAzAlt(),
            trackCmd(0), stopCmd(17), slewCmd(16, 6, 3, 232),
            stopCmd(17), stopCmd(16), trackCmd(1),
            stopCmd(17), stopCmd(16), trackCmd(1),
        };
        // clang-format on
        // No next leg is started only to be stopped: the stop sequence follows the pause.
        QCOMPARE(bytesOf(sent), expected);
        // The pause ends as the request is handled, not after two seconds.
        QCOMPARE(stopAt, sent[6].at + 500);
        QCOMPARE(sent[7].at, stopAt);
        QCOMPARE(host.labelChanges, QVector<bool>({true, false}));
    }

    void failingCommandEndsTheSpiralAfterItsPass() {
        ReportRecorder rec;
        // The line fails for one command, the tracking-off of the third leg.
        host.onProcessEvents = [this] {
            if (legsStarted() == 2 && !line.failOpen)
                line.failOpen = std::pair{8002, QStringLiteral("Port gone")};
        };
        rec.onReport = [this](const ReportRecorder::Box&) { line.failOpen.reset(); };
        ToggleSpiral(host);

        QCOMPARE(rec.texts(), QStringList({"Port gone - 8002"}));
        // clang-format off
        const QByteArrayList expected = {
            cmd::GetAzAlt(),
            trackCmd(0), stopCmd(17), slewCmd(16, 6, 3, 232),
            trackCmd(0), stopCmd(16), slewCmd(17, 7, 1, 244),
            // tracking-off failed; the rest of the pass still goes out
            stopCmd(17), slewCmd(16, 7, 3, 232),
            stopCmd(17), stopCmd(16), trackCmd(1),
        };
        // clang-format on
        QCOMPARE(bytesOf(sent), expected);
        QVERIFY(StopSpiral);
        QVERIFY(!host.labelVisible);
    }

    void brokenLineReportsEveryCommandAndStillEnds() {
        ReportRecorder rec;
        line.failOpen = std::pair{8002, QStringLiteral("No such port")};
        ToggleSpiral(host);
        // The position read fails without ending the run; the first leg's three commands fail
        // and end it; the stop sequence's three commands are still tried.
        QCOMPARE(rec.boxes.size(), size_t(1 + 3 + 3));
        QVERIFY(sent.isEmpty());
        QVERIFY(StopSpiral);
        QCOMPARE(host.labelChanges, QVector<bool>({true, false}));
        QVERIFY(!Comm1().portOpen());
    }

    void emptyWidthBoxRunsWithRateZero() {
        host.width = QString();
        stopAfterLegs(2);
        ToggleSpiral(host);
        QCOMPARE(bytesOf(sent).mid(1, 6),
                 QByteArrayList({trackCmd(0), stopCmd(17), slewCmd(16, 6, 0, 0), trackCmd(0),
                                 stopCmd(16), slewCmd(17, 7, 0, 0)}));
    }

    void widthAndDelayBoxesReadInEitherNotation() {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        host.width = QStringLiteral("2,5"); // the regional form the window writes
        host.delay = QStringLiteral("0.5s");
        host.onProcessEvents = [this] {
            if (legsStarted() >= 2 && !StopSpiral) ToggleSpiral(host);
        };
        ToggleSpiral(host);
        QLocale::setDefault(QLocale::c());
        QCOMPARE(sent[3].bytes, slewCmd(16, 6, 9, 196)); // 1250 x 1.99996
        QCOMPARE(sent[9].bytes, slewCmd(17, 7, 4, 226)); // 1250
        QCOMPARE(sent[7].at - (sent[6].at + 1), 500u);   // the half-second corner pause
    }

    void positionReadWithoutAnswerReadsAltitudeZero() {
        position.clear(); // the mount does not answer "Z"
        stopAfterLegs(1);
        ToggleSpiral(host);
        QCOMPARE(sent[3].bytes, slewCmd(16, 6, 1, 243)); // 499
        // A silent mount costs the whole time-out, then the run goes on.
        QCOMPARE(sent[1].at - sent[0].at, 501u);
    }

    void failedPositionReadDoesNotEndTheSpiral() {
        ReportRecorder rec;
        line.failOpen = std::pair{8005, QStringLiteral("Port in use")};
        rec.onReport = [this](const ReportRecorder::Box&) { line.failOpen.reset(); };
        stopAfterLegs(3);
        ToggleSpiral(host);
        QCOMPARE(rec.texts(), QStringList({"Port in use - 8005"}));
        QCOMPARE(legsStarted(), 3);
        QCOMPARE(sent[2].bytes, slewCmd(16, 6, 1, 243)); // altitude 0
    }

    void garbledPositionReply() {
        position = "0000,F8X4#"; // the low pair stops at X and reads as 0
        stopAfterLegs(1);
        ToggleSpiral(host);
        // 0xF800 is 348.75 degrees, folded to 11.25: 500 x (1 + tan 11.15) = 598.5
        QCOMPARE(sent[3].bytes, slewCmd(16, 6, 2, 87));
    }

    void rateThatCannotBeSentEndsLikeAStoppedSpiral_data() {
        QTest::addColumn<QString>("width");
        QTest::addColumn<QString>("delay");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("positionRead");
        const QString overflow = QStringLiteral("Overflow - 6");
        const QString invalid = QStringLiteral("Invalid procedure call or argument - 5");
        const QByteArray at45 = "0000,2012#";
        // clang-format off
        QTest::newRow("width 65.535")   << "65.535" << "0"   << at45 << overflow << false;
        QTest::newRow("width 100")      << "100"    << "0"   << at45 << overflow << false;
        QTest::newRow("negative width") << "-1"     << "0"   << at45 << invalid  << false;
        // 0x416C is 92 degrees: past the zenith the factor is negative.
        QTest::newRow("altitude 92")    << "1"      << "0"   << QByteArray("0000,416C#")
                                                                     << invalid  << true;
        // A corner pause beyond 32 bits of milliseconds.
        QTest::newRow("delay 3e6")      << "1"      << "3e6" << at45 << overflow << true;
        // clang-format on
    }
    void rateThatCannotBeSentEndsLikeAStoppedSpiral() {
        QFETCH(QString, width);
        QFETCH(QString, delay);
        QFETCH(QByteArray, reply);
        QFETCH(QString, message);
        QFETCH(bool, positionRead);
        ReportRecorder rec;
        host.width = width;
        host.delay = delay;
        position = reply;
        ToggleSpiral(host);

        QCOMPARE(rec.texts(), QStringList({message}));
        QCOMPARE(rec.boxes[0].caption, AppTitle);
        QByteArrayList expected;
        if (positionRead) expected << cmd::GetAzAlt();
        expected << stopCmd(17) << stopCmd(16) << trackCmd(1);
        QCOMPARE(bytesOf(sent), expected);
        QVERIFY(StopSpiral);
        QCOMPARE(host.labelChanges, QVector<bool>({true, false}));

        // The next press starts a new spiral rather than "stopping" the failed one.
        sent.clear();
        host.width = QStringLiteral("1");
        host.delay = QStringLiteral("0");
        position = "0000,2012#";
        stopAfterLegs(1);
        ToggleSpiral(host);
        QCOMPARE(legsStarted(), 1);
    }

    void lostTrackingSelectionInACornerPauseEndsTheSpiral() {
        ReportRecorder rec;
        host.delay = QStringLiteral("2");
        host.noSelection = true;
        ToggleSpiral(host);
        // Reported once, although the stop sequence meets the same missing selection.
        QCOMPARE(rec.texts(), QStringList({"Invalid procedure call or argument - 5"}));
        // clang-format off
        const QByteArrayList expected = {
            cmd::GetAzAlt(),
            trackCmd(0), stopCmd(17), slewCmd(16, 6, 3, 232),
            stopCmd(17), stopCmd(16),
            stopCmd(17), stopCmd(16),
        };
        // clang-format on
        QCOMPARE(bytesOf(sent), expected);
        QVERIFY(StopSpiral);
        QVERIFY(!host.labelVisible);
    }

    void lostTrackingSelectionAtTheStopIsReported() {
        ReportRecorder rec;
        host.onProcessEvents = [this] {
            if (legsStarted() >= 1 && !StopSpiral) {
                host.noSelection = true;
                ToggleSpiral(host);
            }
        };
        ToggleSpiral(host);
        QCOMPARE(rec.texts(), QStringList({"Invalid procedure call or argument - 5"}));
        QCOMPARE(bytesOf(sent).mid(4), QByteArrayList({stopCmd(17), stopCmd(16)}));
        QVERIFY(StopSpiral);
        QVERIFY(!host.labelVisible);
    }

    void toggleWhileRunningOnlyAsksForTheStop() {
        int togglesReturned = 0;
        host.onProcessEvents = [&] {
            if (legsStarted() == 2 && !StopSpiral) {
                ToggleSpiral(host); // returns at once: it only sets the flag
                ++togglesReturned;
                QVERIFY(StopSpiral);
                QCOMPARE(legsStarted(), 2);
            }
        };
        ToggleSpiral(host);
        QCOMPARE(togglesReturned, 1);
        QCOMPARE(legsStarted(), 2);
        QCOMPARE(countOf(sent, [](const QByteArray& c) { return c == cmd::GetAzAlt(); }), 1);
    }

    void twoTogglesInOnePollRunANestedSpiral() {
        // Holding S: a stop and a new start can be handled in the same round of events. The new
        // spiral runs inside the old one's poll; both end when it is stopped.
        int depth = 0;
        bool nestedStarted = false;
        host.onProcessEvents = [&] {
            if (depth > 0) {
                if (legsStarted() >= 3 && !StopSpiral) ToggleSpiral(host);
                return;
            }
            if (legsStarted() == 1 && !nestedStarted) {
                nestedStarted = true;
                ++depth;
                ToggleSpiral(host); // stop request
                ToggleSpiral(host); // new spiral, runs here until stopped
                --depth;
            }
        };
        ToggleSpiral(host);
        QCOMPARE(countOf(sent, [](const QByteArray& c) { return c == cmd::GetAzAlt(); }), 2);
        QVERIFY(StopSpiral);
        QVERIFY(!host.labelVisible);
        // The nested run's stop sequence, then the outer one's.
        QCOMPARE(bytesOf(sent).mid(sent.size() - 6),
                 QByteArrayList({stopCmd(17), stopCmd(16), trackCmd(1), stopCmd(17), stopCmd(16),
                                 trackCmd(1)}));
    }

    void pollsRestBetweenChecks() {
        stopAfterLegs(2);
        ToggleSpiral(host);
        // The window's events are handled as the run starts and as each leg starts, and between
        // those the spiral rests until the leg's end: nothing spins, and nothing wakes it every
        // millisecond.
        QCOMPARE(host.processEventsCalls, 3);
        QCOMPARE(clk.waits, 2u);
        QCOMPARE(clk.waitsWithEvents, 0u);
    }
};

QTEST_GUILESS_MAIN(TestSpiralRun)
#include "test_spiral_run.moc"
