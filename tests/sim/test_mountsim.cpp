// The mount model on its own: framing, replies, motion, stored values, faults, pacing and log,
// with time given explicitly.
#include "commandtable.h"
#include "mountsim.h"
#include "testhelpers.h"

#include <QTest>
#include <cmath>

using namespace skyjog::sim;
using skyjog::test::bytes;

namespace {

QByteArray pass(int len, int dest, int id, int d1, int d2, int d3, int n) {
    return bytes({'P', len, dest, id, d1, d2, d3, n});
}

// Sends a command at time t and returns what has arrived by then.
QByteArray ask(MountSim& sim, const QByteArray& cmd, int64_t t) {
    sim.receive(cmd, t);
    return sim.takeOutput(t);
}

Options still() {
    Options o;
    o.trackingMode = 0;
    return o;
}

} // namespace

class TestMountSim : public QObject {
    Q_OBJECT

private slots:
    void framingSplitsAndJoinsByCommandLength() {
        MountSim sim(still());
        // One command in three pieces, the pieces well inside the gap.
        sim.receive(bytes({'P', 3, 16}), 100);
        QVERIFY(sim.takeOutput(100).isEmpty());
        sim.receive(bytes({6, 3}), 150);
        sim.receive(bytes({232, 0, 0}), 200);
        QCOMPARE(sim.takeOutput(200), QByteArray("#"));
        QCOMPARE(sim.axisRate(16), 1000.0);
        // Several commands in one piece, each answered in turn.
        QCOMPARE(ask(sim, bytes({'K', 'a', 'K', 0, 'T', 2, 't'}), 300),
                 bytes({'a', '#', 0, '#', '#', 2, '#'}));
        QCOMPARE(sim.commands(), QVector<QByteArray>({pass(3, 16, 6, 3, 232, 0, 0), "Ka",
                                                      bytes({'K', 0}), bytes({'T', 2}), "t"}));
    }

    void everyFirstByteFixesItsCommandsLength() {
        for (int c = 0; c < 256; ++c) {
            const int expected = QByteArray("KT").contains(char(c))    ? 2
                                 : c == 'P'                            ? 8
                                 : QByteArray("BRS").contains(char(c)) ? 10
                                 : QByteArray("brs").contains(char(c)) ? 18
                                 : QByteArray("HIW").contains(char(c)) ? 9
                                                                       : 1;
            QVERIFY2(commandLength(uint8_t(c)) == expected, qPrintable(QString::number(c)));
        }
    }

    // The model and the command table agree on the length of every reply.
    void everyKnownCommandIsAnsweredAtItsReplyLength() {
        Options o = still();
        o.handControlVersion[0] = 5;
        o.handControlVersion[1] = 28;
        MountSim sim(o);
        int64_t t = 0;
        for (const skyjog::cmd::CommandInfo& c : skyjog::cmd::commandTable()) {
            const QByteArray command = c.letter == 'P' ? pass(1, 17, 254, 0, 0, 0, 2)
                                                       : c.letter + QByteArray(c.length - 1, '0');
            const int expected = skyjog::cmd::frameCommand(command).replyLength;
            QVERIFY2(ask(sim, command, t += 1000).size() == expected,
                     qPrintable(QString(QChar(c.letter))));
        }
        QCOMPARE(sim.commands().size(), qsizetype(skyjog::cmd::commandTable().size()));
    }

    void truncatedCommandIsDroppedUnanswered() {
        MountSim sim(still());
        sim.receive(bytes({'P', 2, 17}), 1000);
        // A next byte exactly at the gap still belongs to the command ...
        sim.receive(bytes({36}), 1250);
        // ... one later than the gap does not: the rest is dropped, and framing starts afresh.
        sim.receive(bytes({9}), 1501);
        QVERIFY(sim.takeOutput(1501).isEmpty());
        QCOMPARE(ask(sim, "Kx", 2000), QByteArray("x#"));
        // The late byte began a command of its own (an unknown one, unanswered).
        QCOMPARE(sim.commands(), QVector<QByteArray>({bytes({9}), "Kx"}));
        QCOMPARE(sim.axisRate(17), 0.0); // the fixed-rate move never happened
        // The drop is in the log, with the bytes that were dropped.
        QCOMPARE(sim.log().first().bytes, bytes({'P', 2, 17, 36}));
        QVERIFY(sim.log().first().note.contains("dropped"));
        QCOMPARE(sim.log().first().timeMs, 1250u + 250u);
    }

    void unknownCommandsGetNoReply() {
        MountSim sim(still());
        QVERIFY(ask(sim, "Q", 10).isEmpty());
        QVERIFY(ask(sim, "v", 10).isEmpty());           // a 4.41 hand control knows no variant
        QCOMPARE(ask(sim, "Kz", 10), QByteArray("z#")); // framing went on
        sim.options().handControlVersion[0] = 5;
        sim.options().handControlVersion[1] = 28;
        QCOMPARE(ask(sim, "v", 20), bytes({0x11, '#'}));
    }

    void repliesAreByteExact_data() {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("echo") << QByteArray("Kx") << QByteArray("x#");
        QTest::newRow("echo 0") << bytes({'K', 0}) << bytes({0, '#'});
        QTest::newRow("version") << QByteArray("V") << bytes({4, 41, '#'});
        QTest::newRow("model") << QByteArray("m") << bytes({20, '#'});
        QTest::newRow("aligned") << QByteArray("J") << bytes({1, '#'});
        QTest::newRow("goto?") << QByteArray("L") << QByteArray("0#");
        QTest::newRow("cancel") << QByteArray("M") << QByteArray("#");
        QTest::newRow("tracking") << QByteArray("t") << bytes({3, '#'});
        QTest::newRow("set tracking") << bytes({'T', 0}) << QByteArray("#");
        QTest::newRow("Z") << QByteArray("Z") << QByteArray("1234,C000#");
        QTest::newRow("z") << QByteArray("z") << QByteArray("12340000,C0000000#");
        QTest::newRow("E") << QByteArray("E") << QByteArray("1234,C000#");
        QTest::newRow("e") << QByteArray("e") << QByteArray("12340000,C0000000#");
        QTest::newRow("pier") << QByteArray("p") << QByteArray("W#");
        QTest::newRow("location") << QByteArray("w") << bytes({50, 0, 0, 0, 8, 0, 0, 0, '#'});
        QTest::newRow("set location") << bytes({'W', 1, 2, 3, 0, 4, 5, 6, 1}) << QByteArray("#");
        QTest::newRow("goto") << QByteArray("R1234,C000") << QByteArray("#");
        QTest::newRow("mc version azm") << pass(1, 16, 254, 0, 0, 0, 2) << bytes({7, 11, '#'});
        QTest::newRow("mc version alt") << pass(1, 17, 254, 0, 0, 0, 2) << bytes({7, 11, '#'});
        QTest::newRow("no focuser") << pass(1, 18, 254, 0, 0, 0, 4) << bytes({0, 0, 0, 0, 0, '#'});
        QTest::newRow("unknown id") << pass(1, 16, 99, 0, 0, 0, 1) << bytes({0, 0, '#'});
        QTest::newRow("backlash az+") << pass(1, 16, 64, 0, 0, 0, 1) << bytes({11, '#'});
        QTest::newRow("backlash az-") << pass(1, 16, 65, 0, 0, 0, 1) << bytes({12, '#'});
        QTest::newRow("backlash alt+") << pass(1, 17, 64, 0, 0, 0, 1) << bytes({0, '#'});
        QTest::newRow("backlash alt-") << pass(1, 17, 65, 0, 0, 0, 1) << bytes({99, '#'});
        QTest::newRow("guide az") << pass(1, 16, 71, 0, 0, 0, 1) << bytes({35, '#'});
        QTest::newRow("guide alt") << pass(1, 17, 71, 0, 0, 0, 1) << bytes({255, '#'});
        QTest::newRow("set guide") << pass(2, 16, 70, 1, 0, 0, 0) << QByteArray("#");
        QTest::newRow("slew") << pass(3, 17, 7, 168, 192, 0, 0) << QByteArray("#");
        QTest::newRow("stop") << pass(2, 17, 37, 0, 0, 0, 0) << QByteArray("#");
        QTest::newRow("pec index?") << pass(1, 16, 24, 0, 0, 0, 1) << bytes({0, '#'});
        QTest::newRow("pec bins") << pass(2, 16, 48, 0x3F, 0, 0, 1) << bytes({88, '#'});
        QTest::newRow("position") << pass(1, 16, 1, 0, 0, 0, 3) << bytes({0x12, 0x34, 0, '#'});
        // The reply carries as many data bytes as the command asks for.
        QTest::newRow("n pads") << pass(1, 16, 64, 0, 0, 0, 3) << bytes({11, 0, 0, '#'});
        QTest::newRow("n cuts") << pass(1, 16, 254, 0, 0, 0, 1) << bytes({7, '#'});
    }
    void repliesAreByteExact() {
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, reply);
        Options o;
        o.azimuth = 0x1234;
        o.altitude = 0xC000;
        o.trackingMode = 3;
        o.backlash[0][0] = 11;
        o.backlash[0][1] = 12;
        o.backlash[1][1] = 99;
        o.guideRate[0] = 35;
        o.guideRate[1] = 255;
        MountSim sim(o);
        QCOMPARE(ask(sim, command, 5000), reply);
    }

    void clockAndSiteCanBeSetAndRead() {
        MountSim sim(still());
        QCOMPARE(ask(sim, bytes({'W', 33, 51, 10, 1, 151, 12, 30, 0}), 0), QByteArray("#"));
        QCOMPARE(ask(sim, "w", 0), bytes({33, 51, 10, 1, 151, 12, 30, 0, '#'}));
        // 23:59:30 on 31 December 2024, UTC+1, no summer time; the clock runs on.
        QCOMPARE(ask(sim, bytes({'H', 23, 59, 30, 12, 31, 24, 1, 0}), 1000), QByteArray("#"));
        QCOMPARE(ask(sim, "h", 91000), bytes({0, 1, 0, 1, 1, 25, 1, 0, '#'}));
        QCOMPARE(ask(sim, "i", 91000), bytes({0, 1, 0, 1, 1, 25, 4, 0, '#'})); // offset in quarters
    }

    void variableRateMovesTheAxisForItsTime() {
        MountSim sim(still());
        // 1000 quarter arc-seconds per second is 250"/s: 14.4 s make one degree.
        ask(sim, pass(3, 16, 6, 3, 232, 0, 0), 1000);
        QCOMPARE(sim.azimuthDegrees(1000 + 14400), 1.0);
        QCOMPARE(ask(sim, "Z", 1000 + 14400), QByteArray("00B6,0000#")); // 65536/360 = 182.04
        // Three degrees per second down for 30 s: -90 degrees, reported as C000.
        ask(sim, pass(3, 17, 7, 168, 192, 0, 0), 20000);
        QCOMPARE(sim.altitudeDegrees(50000), -90.0);
        QCOMPARE(ask(sim, "Z", 50000).mid(5), QByteArray("C000#"));
        // The 24-bit form, in 1/1024 arc-second per second: 256000 is again 250"/s.
        ask(sim, pass(4, 17, 6, 0x03, 0xE8, 0x00, 0), 50000);
        QCOMPARE(sim.axisRate(17), 1000.0);
        // Special values select the tracking rates.
        ask(sim, pass(3, 16, 7, 0xFF, 0xFF, 0, 0), 60000);
        QCOMPARE(sim.axisRate(16), -60.0);
        ask(sim, pass(3, 16, 6, 0xFF, 0xFE, 0, 0), 60000);
        QVERIFY(sim.axisRate(16) < 60.0 && sim.axisRate(16) > 59.0);
    }

    void trackingTurnsTheAzimuthAxisAtTheSiderealRate() {
        Options o;
        o.trackingMode = 2;
        MountSim sim(o);
        sim.receive("t", 0);
        // 240 s at 15"/s is one degree.
        QCOMPARE(sim.azimuthDegrees(240000), 1.0);
        QCOMPARE(sim.altitudeDegrees(240000), 0.0);
        ask(sim, bytes({'T', 0}), 240000);
        QCOMPARE(sim.azimuthDegrees(480000), 1.0);
        QCOMPARE(sim.trackingMode(), uint8_t(0));
    }

    void fixedRatesFollowTheHandControlTable() {
        MountSim sim(still());
        const double expected[10] = {0, 120, 240, 480, 960, 1920, 7200, 14400, 28800, 57600};
        for (int r = 1; r <= 9; ++r) {
            ask(sim, pass(2, 17, 36, r, 0, 0, 0), 100);
            QCOMPARE(sim.axisRate(17), expected[r]);
            ask(sim, pass(2, 17, 37, r, 0, 0, 0), 100);
            QCOMPARE(sim.axisRate(17), -expected[r]);
        }
    }

    void stopsAndModeChangesEndMoves() {
        Options o;
        o.trackingMode = 2;
        o.revertMs = 0;
        MountSim sim(o);
        // A fixed-rate stop ends a variable move; the axis goes back to tracking.
        ask(sim, pass(3, 16, 6, 56, 64, 0, 0), 0);
        QCOMPARE(sim.axisRate(16), 14400.0);
        ask(sim, pass(2, 16, 37, 0, 0, 0, 0), 1000);
        QCOMPARE(sim.axisRate(16), 60.0);
        // Either direction's stop does it, and it ends a fixed move too.
        ask(sim, pass(2, 17, 37, 5, 0, 0, 0), 1000);
        ask(sim, pass(2, 17, 36, 0, 0, 0, 0), 1000);
        QCOMPARE(sim.axisRate(17), 0.0);
        // A mode change puts both axes back to the new mode's tracking rates.
        ask(sim, pass(3, 16, 7, 1, 0, 0, 0), 2000);
        ask(sim, pass(3, 17, 6, 1, 0, 0, 0), 2000);
        ask(sim, bytes({'T', 1}), 3000);
        QCOMPARE(sim.axisRate(16), 60.0);
        QCOMPARE(sim.axisRate(17), 0.0);
        // Off stops both.
        ask(sim, pass(3, 16, 7, 1, 0, 0, 0), 4000);
        ask(sim, pass(3, 17, 6, 1, 0, 0, 0), 4000);
        ask(sim, bytes({'T', 0}), 5000);
        QCOMPARE(sim.axisRate(16), 0.0);
        QCOMPARE(sim.axisRate(17), 0.0);
        // The azimuth integrated each rate over its own second: 14400, 60, -256, 60, -256.
        QCOMPARE(sim.azimuthDegrees(9000), (14400.0 + 60.0 - 256.0 + 60.0 - 256.0) / 14400.0);
    }

    void variableRateRevertsToTrackingAfterSilence() {
        Options o;
        o.trackingMode = 1;
        MountSim sim(o);
        ask(sim, pass(3, 17, 6, 3, 232, 0, 0), 0);
        sim.receive("Kx", 15000); // any command restarts the wait
        QCOMPARE(sim.axisRate(17), 1000.0);
        QCOMPARE(sim.altitudeDegrees(34999), 1000.0 * 34.999 / 14400.0);
        QCOMPARE(sim.altitudeDegrees(35000), 1000.0 * 35.0 / 14400.0);
        QCOMPARE(sim.axisRate(17), 0.0);
        QCOMPARE(sim.altitudeDegrees(60000), 1000.0 * 35.0 / 14400.0);
        // With tracking off nothing reverts.
        ask(sim, bytes({'T', 0}), 60000);
        ask(sim, pass(3, 17, 6, 3, 232, 0, 0), 60000);
        QCOMPARE(sim.altitudeDegrees(160000), 1000.0 * 135.0 / 14400.0);
    }

    void backlashAndGuideRatesAreStored() {
        MountSim sim(still());
        QCOMPARE(ask(sim, pass(2, 17, 17, 42, 0, 0, 0), 0), QByteArray("#"));
        QCOMPARE(ask(sim, pass(2, 16, 16, 200, 0, 0, 0), 0), QByteArray("#"));
        QCOMPARE(ask(sim, pass(1, 17, 65, 0, 0, 0, 1), 0), bytes({42, '#'}));
        QCOMPARE(ask(sim, pass(1, 16, 64, 0, 0, 0, 1), 0), bytes({200, '#'}));
        QCOMPARE(ask(sim, pass(1, 17, 64, 0, 0, 0, 1), 0), bytes({0, '#'}));
        QCOMPARE(sim.backlash(17, false), uint8_t(42));
        QCOMPARE(sim.backlash(16, true), uint8_t(200));
        QCOMPARE(ask(sim, pass(2, 17, 70, 0, 0, 0, 0), 0), QByteArray("#"));
        QCOMPARE(ask(sim, pass(1, 17, 71, 0, 0, 0, 1), 0), bytes({0, '#'}));
        QCOMPARE(ask(sim, pass(1, 16, 71, 0, 0, 0, 1), 0), bytes({128, '#'}));
        QCOMPARE(sim.guideRate(17), uint8_t(0));
        QCOMPARE(sim.guideRate(16), uint8_t(128));
    }

    void pecSeekTakesTimeAndPlaybackIsRemembered() {
        MountSim sim(still());
        QCOMPARE(ask(sim, pass(1, 16, 25, 0, 0, 0, 0), 1000), QByteArray("#"));
        QCOMPARE(ask(sim, pass(1, 16, 24, 0, 0, 0, 1), 2999), bytes({0x00, '#'}));
        QVERIFY(!sim.pecIndexFound(2999));
        QCOMPARE(ask(sim, pass(1, 16, 24, 0, 0, 0, 1), 3000), bytes({0xFF, '#'}));
        // A second seek finds it at once.
        ask(sim, pass(1, 16, 25, 0, 0, 0, 0), 9000);
        QCOMPARE(ask(sim, pass(1, 16, 24, 0, 0, 0, 1), 9000), bytes({0xFF, '#'}));
        QCOMPARE(ask(sim, pass(2, 16, 13, 1, 0, 0, 0), 9000), QByteArray("#"));
        QVERIFY(sim.pecPlaying());
        ask(sim, pass(2, 16, 13, 0, 0, 0, 0), 9000);
        QVERIFY(!sim.pecPlaying());
    }

    void faultsSpoilReplies_data() {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("none") << int(Fault::None) << QByteArray("x#");
        QTest::newRow("silent") << int(Fault::Silent) << QByteArray();
        QTest::newRow("short") << int(Fault::ShortReply) << QByteArray("x");
        QTest::newRow("garbage") << int(Fault::Garbage) << bytes({0x87, 0xDC});
        QTest::newRow("extra") << int(Fault::ExtraBytes) << QByteArray("x#EXTRA#");
        QTest::newRow("late") << int(Fault::LateReply) << QByteArray();
    }
    void faultsSpoilReplies() {
        QFETCH(int, fault);
        QFETCH(QByteArray, reply);
        Options o = still();
        o.fault = Fault(fault);
        MountSim sim(o);
        QCOMPARE(ask(sim, "Kx", 100), reply);
        QVERIFY(!sim.disconnected());
        // The command itself was taken either way.
        QCOMPARE(sim.commands(), QVector<QByteArray>({"Kx"}));
    }

    void lateReplyComesAfterItsDelay() {
        Options o = still();
        o.fault = Fault::LateReply;
        o.lateReplyMs = 800;
        MountSim sim(o);
        sim.receive("Kx", 100);
        QVERIFY(sim.takeOutput(899).isEmpty());
        QCOMPARE(sim.takeOutput(900), QByteArray("x#"));
        // The reply is logged when it is sent, not when it was asked for.
        QCOMPARE(sim.log().last().timeMs, 900u);
        QVERIFY(!sim.log().last().fromClient);
    }

    void faultsCanSkipAndCount() {
        Options o = still();
        o.fault = Fault::Silent;
        o.faultSkip = 1;
        o.faultCount = 2;
        MountSim sim(o);
        ask(sim, "v", 0); // not answered, so not counted
        QCOMPARE(ask(sim, "Ka", 0), QByteArray("a#"));
        QCOMPARE(ask(sim, "Kb", 0), QByteArray());
        QCOMPARE(ask(sim, "Kc", 0), QByteArray());
        QCOMPARE(ask(sim, "Kd", 0), QByteArray("d#"));
    }

    // Rules as the command line gives them, and the commands they lose from a sequence.
    void lostCommandsGetNoReplyAndDoNothing_data() {
        QTest::addColumn<QStringList>("rules");
        QTest::addColumn<QList<QByteArray>>("sent");
        QTest::addColumn<QList<int>>("lost");
        const QByteArray slewAz = pass(3, 16, 6, 168, 192, 0, 0);
        const QByteArray slewAlt = pass(3, 17, 7, 168, 192, 0, 0);
        const QByteArray stopAz = pass(2, 16, 37, 0, 0, 0, 0);
        const QByteArray stopAlt = pass(2, 17, 37, 0, 0, 0, 0);
        const QByteArray fixedAz = pass(2, 16, 36, 5, 0, 0, 0);
        const QByteArray getGuide = pass(1, 17, 71, 0, 0, 0, 1);
        QTest::newRow("the next stop")
            << QStringList{"stop"} << QList<QByteArray>{slewAlt, stopAlt, stopAlt, stopAlt}
            << QList<int>{1};
        QTest::newRow("one motor's stop")
            << QStringList{"stop@alt"} << QList<QByteArray>{slewAz, stopAz, stopAlt, stopAlt}
            << QList<int>{2};
        QTest::newRow("the other direction's stop too")
            << QStringList{"stop@16:2"}
            << QList<QByteArray>{pass(2, 16, 36, 0, 0, 0, 0), fixedAz, stopAz, stopAz}
            << QList<int>{0, 2};
        QTest::newRow("2 tracking commands")
            << QStringList{"tracking:2"}
            << QList<QByteArray>{bytes({'T', 2}), "Kx", bytes({'T', 3}), bytes({'T', 1})}
            << QList<int>{0, 2};
        QTest::newRow("every stop after the first")
            << QStringList{"stop:all:1"}
            << QList<QByteArray>{stopAz, stopAlt, stopAz, "Kx", stopAlt} << QList<int>{1, 2, 4};
        QTest::newRow("the third stop")
            << QStringList{"stop:1:2"}
            << QList<QByteArray>{stopAz, stopAlt, stopAz, stopAlt, stopAz} << QList<int>{2};
        QTest::newRow("a first letter")
            << QStringList{"Z"} << QList<QByteArray>{"z", "Kx", "Z", "Z"} << QList<int>{2};
        QTest::newRow("slews and fixed moves")
            << QStringList{"variable", "fixed@azm"}
            << QList<QByteArray>{slewAlt, pass(2, 17, 36, 5, 0, 0, 0), fixedAz, slewAlt, stopAz}
            << QList<int>{0, 2};
        // Both rules count a command they both pick.
        QTest::newRow("overlapping rules")
            << QStringList{"stop", "P:2"}
            << QList<QByteArray>{stopAlt, "Kx", getGuide, getGuide, stopAlt} << QList<int>{0, 2};
    }
    void lostCommandsGetNoReplyAndDoNothing() {
        QFETCH(QStringList, rules);
        QFETCH(QList<QByteArray>, sent);
        QFETCH(QList<int>, lost);
        Options o = still();
        for (const QString& rule : rules)
            o.lose << *lossFromText(rule);
        MountSim sim(o);
        int64_t t = 0;
        for (int i = 0; i < sent.size(); ++i) {
            const bool moving = sim.axisMoving(16) || sim.axisMoving(17);
            const double az = sim.axisRate(16), alt = sim.axisRate(17);
            const uint8_t mode = sim.trackingMode();
            const QByteArray reply = ask(sim, sent[i], t += 1000);
            const QVector<LogEntry> log = sim.log();
            const LogEntry entry = log[log.size() - (reply.isEmpty() ? 1 : 2)];
            QCOMPARE(entry.bytes, sent[i]);
            if (lost.contains(i)) {
                QVERIFY2(reply.isEmpty(), qPrintable(QString::number(i)));
                QVERIFY2(entry.note.endsWith(", lost on the line"), qPrintable(entry.note));
                QCOMPARE(sim.axisMoving(16) || sim.axisMoving(17), moving);
                QCOMPARE(sim.axisRate(16), az);
                QCOMPARE(sim.axisRate(17), alt);
                QCOMPARE(sim.trackingMode(), mode);
            } else {
                QVERIFY2(!reply.isEmpty(), qPrintable(QString::number(i)));
                QVERIFY(!entry.note.contains("lost"));
            }
        }
        // The lost commands were received all the same.
        QCOMPARE(sim.commands(), QVector<QByteArray>(sent.begin(), sent.end()));
    }

    void lostStopLeavesTheAxisRunning() {
        Options o = still();
        o.lose << Loss{LossKind::Stop};
        MountSim sim(o);
        ask(sim, pass(3, 17, 6, 168, 192, 0, 0), 0); // 3 degrees a second up
        QVERIFY(ask(sim, pass(2, 17, 37, 0, 0, 0, 0), 1000).isEmpty());
        QCOMPARE(sim.altitudeDegrees(2000), 6.0);
        QCOMPARE(ask(sim, pass(2, 17, 37, 0, 0, 0, 0), 2000), QByteArray("#"));
        QCOMPARE(sim.altitudeDegrees(3000), 6.0);
        QCOMPARE(sim.logText().count("lost on the line"), 1);
        QVERIFY(sim.logText().contains("alt stop, lost on the line"));
    }

    // A lost command is not heard, so it does not hold off the fall back to tracking.
    void lostCommandsDoNotKeepAVariableRate() {
        Options o;
        o.trackingMode = 1;
        o.lose << Loss{LossKind::Letter, 'K', 0, 0, -1};
        MountSim sim(o);
        ask(sim, pass(3, 17, 6, 3, 232, 0, 0), 0);
        QVERIFY(ask(sim, "Kx", 15000).isEmpty());
        QCOMPARE(sim.altitudeDegrees(25000), 1000.0 * 20.0 / 14400.0);
        QCOMPARE(sim.axisRate(17), 0.0);
    }

    void shareOfCommandsIsLostByTheSeed() {
        const auto lostOf = [](uint32_t seed) {
            Options o = still();
            o.loseShare = 0.25;
            o.loseSeed = seed;
            MountSim sim(o);
            QList<int> lost;
            for (int i = 0; i < 1000; ++i)
                if (ask(sim, "Kx", 10 * i).isEmpty()) lost << i;
            // Every one of them is in the log as lost, and only they are.
            if (sim.logText().count("lost on the line") != lost.size()) return QList<int>{-1};
            return lost;
        };
        const QList<int> lost = lostOf(7);
        // What seed 7 loses of 1000 with Qt's seeded generator: the same on every machine.
        QCOMPARE(lost.size(), 244);
        QCOMPARE(lostOf(7), lost);
        QVERIFY(lostOf(8) != lost);
        // A reset starts the sequence again.
        Options o = still();
        o.loseShare = 0.25;
        o.loseSeed = 7;
        MountSim sim(o);
        for (int i = 0; i < 10; ++i)
            ask(sim, "Kx", i);
        sim.reset(o);
        QList<int> again;
        for (int i = 0; i < 1000; ++i)
            if (ask(sim, "Kx", 10 * i).isEmpty()) again << i;
        QCOMPARE(again, lost);
    }

    void lossRulesReadAsTheCommandLineSpellsThem_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("letter");
        QTest::addColumn<int>("motor");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("skip");
        const auto row = [](const char* text, LossKind kind, char letter, int motor, int count,
                            int skip) {
            QTest::newRow(text) << QString(text) << true << int(kind) << int(letter) << motor
                                << count << skip;
        };
        row("stop", LossKind::Stop, 0, 0, 1, 0);
        row("STOP@ALT", LossKind::Stop, 0, 17, 1, 0);
        row("fixed@16:3", LossKind::Fixed, 0, 16, 3, 0);
        row("variable:all", LossKind::Variable, 0, 0, -1, 0);
        row("tracking:2:5", LossKind::Tracking, 0, 0, 2, 5);
        row("Z", LossKind::Letter, 'Z', 0, 1, 0);
        row("z:all:0", LossKind::Letter, 'z', 0, -1, 0);
        row("P@azm", LossKind::Letter, 'P', 16, 1, 0);
        for (const char* bad : {"", "stopp", "stop@sky", "stop@", "stop:0", "stop:-2", "stop:1:-1",
                                "stop:x", "stop:1:2:3", "ZZ"})
            QTest::newRow(bad) << QString(bad) << false << 0 << 0 << 0 << 0 << 0;
    }
    void lossRulesReadAsTheCommandLineSpellsThem() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        const std::optional<Loss> loss = lossFromText(text);
        QCOMPARE(loss.has_value(), valid);
        if (!valid) return;
        QTEST(int(loss->kind), "kind");
        QTEST(int(loss->letter), "letter");
        QTEST(int(loss->motor), "motor");
        QTEST(loss->count, "count");
        QTEST(loss->skip, "skip");
    }

    void disconnectDropsTheLineUntilReconnected() {
        Options o = still();
        o.fault = Fault::Disconnect;
        o.faultCount = 1;
        MountSim sim(o);
        QVERIFY(ask(sim, "Kx", 0).isEmpty());
        QVERIFY(sim.disconnected());
        QVERIFY(ask(sim, "Ky", 10).isEmpty()); // nobody is listening
        QCOMPARE(sim.commands().size(), 1);
        sim.reconnect();
        QVERIFY(!sim.disconnected());
        QCOMPARE(ask(sim, "Kz", 20), QByteArray("z#"));
    }

    void pacingAndLatencyDelayReplies() {
        Options o = still();
        o.pace9600 = true;
        MountSim sim(o);
        // Two bytes in take 2.08 ms; the reply's bytes follow 1.04 ms apart.
        sim.receive("Kx", 1000);
        QVERIFY(sim.commands().isEmpty());
        QCOMPARE(sim.msUntilNextEvent(1000), 2); // the first byte is in at 1001.04
        QVERIFY(sim.takeOutput(1003).isEmpty());
        QCOMPARE(sim.commands().size(), 1);
        QCOMPARE(sim.takeOutput(1004), QByteArray("x"));
        QCOMPARE(sim.takeOutput(1005), QByteArray("#"));
        QCOMPARE(sim.msUntilNextEvent(1005), -1);

        sim.options().pace9600 = false;
        sim.options().latencyMs = 30;
        sim.receive("Ky", 2000);
        QVERIFY(sim.takeOutput(2029).isEmpty());
        QCOMPARE(sim.takeOutput(2030, 1), QByteArray("y")); // at most maxBytes
        QCOMPARE(sim.takeOutput(2030), QByteArray("#"));
    }

    void microsecondClockPacesBetweenMilliseconds() {
        Options o = still();
        o.pace9600 = true;
        MountSim sim(o);
        // 0.3 ms into a millisecond; a character takes 1041.67 us.
        const int64_t t0 = 5'000'300;
        sim.receiveUs("Kx", t0);
        QCOMPARE(sim.usUntilNextEvent(t0), int64_t(1042));
        QVERIFY(sim.takeOutputUs(t0 + 2083).isEmpty());
        QVERIFY(sim.commands().isEmpty()); // the second byte is in at +2083.33 us
        QVERIFY(sim.takeOutputUs(t0 + 3124).isEmpty());
        QCOMPARE(sim.commands().size(), 1);
        QCOMPARE(sim.takeOutputUs(t0 + 3126), QByteArray("x")); // due at +3125
        QCOMPARE(sim.usUntilNextEvent(t0 + 3126), int64_t(1041));
        QVERIFY(sim.takeOutputUs(t0 + 4166).isEmpty());
        QCOMPARE(sim.takeOutputUs(t0 + 4167), QByteArray("#"));
        QCOMPARE(sim.usUntilNextEvent(t0 + 4167), int64_t(-1));
        // The log keeps milliseconds of the same clock: the command and the start of its reply
        // at +2.08 ms.
        QCOMPARE(sim.log().size(), 2);
        QCOMPARE(sim.log()[0].timeMs, 5002u);
        QCOMPARE(sim.log()[1].timeMs, 5002u);
    }

    void logKeepsCommandsAndRepliesWithTimes() {
        MountSim sim(still());
        QVector<LogEntry> heard;
        sim.setLogListener([&](const LogEntry& e) { heard << e; });
        ask(sim, bytes({'T', 0}), 4000);
        ask(sim, pass(3, 16, 6, 168, 192, 0, 0), 4100);
        QCOMPARE(sim.log().size(), 4);
        QCOMPARE(heard.size(), 4);
        QCOMPARE(sim.log()[0].timeMs, 4000u);
        QVERIFY(sim.log()[0].fromClient);
        QCOMPARE(sim.log()[1].bytes, QByteArray("#"));
        QVERIFY(!sim.log()[1].fromClient);
        QCOMPARE(sim.log()[2].timeMs, 4100u);
        const QStringList lines = sim.logText().split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 4);
        QVERIFY(lines[2].contains(QStringLiteral("4100 cmd   80 3 16 6 168 192 0 0")));
        QVERIFY(lines[2].contains(QStringLiteral("azm variable rate +43200")));
        QVERIFY(lines[3].contains(QStringLiteral("reply 35")));
        sim.clearLog();
        QVERIFY(sim.log().isEmpty() && sim.commands().isEmpty());
    }

    // Nothing happens for weeks, months or years, and then a command comes: the axes have moved
    // all that time.
    void timeStepsOfAnySizeMoveTheAxes_data() {
        QTest::addColumn<qint64>("step");
        QTest::newRow("2^31 ms (24.9 days)") << (qint64(1) << 31);
        QTest::newRow("2^32 ms and 1 s (49.7 days)") << (qint64(1) << 32) + 1000;
        QTest::newRow("2^40 ms (35 years)") << (qint64(1) << 40);
    }
    void timeStepsOfAnySizeMoveTheAxes() {
        QFETCH(qint64, step);
        MountSim sim(still());
        const int64_t t0 = 0xFFFFF000;             // where a 32-bit count would wrap on the way
        ask(sim, pass(3, 16, 6, 0, 1, 0, 0), t0);  // azimuth +1 (a quarter arc-second a second)
        ask(sim, pass(3, 17, 7, 0, 60, 0, 0), t0); // altitude -60 (sidereal)
        const double seconds = double(step) / 1000.0;
        const auto degrees = [&](double qasPerSecond) {
            const double turns = seconds * qasPerSecond / (360.0 * 3600.0 * 4.0);
            return (turns - std::floor(turns)) * 360.0;
        };
        const double alt = degrees(-60.0);
        QVERIFY2(std::abs(sim.azimuthDegrees(t0 + step) - degrees(1.0)) < 1e-6,
                 qPrintable(QString::number(sim.azimuthDegrees(t0 + step), 'f', 9)));
        QVERIFY(std::abs(sim.altitudeDegrees(t0 + step) - (alt >= 180.0 ? alt - 360.0 : alt)) <
                1e-6);
        QCOMPARE(ask(sim, "Kx", t0 + step), QByteArray("x#"));
        QCOMPARE(sim.log().last().timeMs, t0 + step);
        // A reading from before the last one changes nothing.
        QCOMPARE(ask(sim, "Ky", t0), QByteArray("y#"));
        QCOMPARE(sim.log().last().timeMs, t0 + step);
    }

    // A client polling for days must not grow the log without end: memory keeps the most recent
    // entries and counts the rest, while the listener (the log file) still hears every one.
    void logKeepsOnlyTheMostRecentEntries() {
        Options o = still();
        o.logLimit = 100;
        MountSim sim(o);
        int64_t heard = 0;
        sim.setLogListener([&](const LogEntry&) { ++heard; });
        for (int i = 0; i < 1000; ++i)
            QCOMPARE(ask(sim, QByteArray("K") + char('a' + i % 26), 10 * i),
                     QByteArray(1, char('a' + i % 26)) + '#');
        QCOMPARE(heard, 2000);
        const QVector<LogEntry> log = sim.log();
        QCOMPARE(log.size(), 100);
        QCOMPARE(sim.droppedLogEntries(), 1900);
        QCOMPARE(log.first().timeMs, 10 * 950); // command 950 and its reply onwards
        QVERIFY(log.first().fromClient);
        QCOMPARE(log.last().timeMs, 10 * 999);
        QCOMPARE(log.last().bytes, QByteArray(1, char('a' + 999 % 26)) + '#');
        const QVector<QByteArray> commands = sim.commands();
        QCOMPARE(commands.size(), 100);
        QCOMPARE(commands.first(), QByteArray("K") + char('a' + 900 % 26));
        const QStringList lines = sim.logText().split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 101);
        QCOMPARE(lines.first(),
                 QStringLiteral("(1900 earlier entries dropped; the last 100 follow)"));
        sim.clearLog();
        QCOMPARE(sim.droppedLogEntries(), 0);
        QVERIFY(sim.log().isEmpty() && sim.commands().isEmpty());
    }

    void defaultLogLimitHoldsUnderADayOfPolling() {
        // INDI polls two commands a second: a day is 172,800 of them. A few hours' worth shows
        // the bound.
        MountSim sim(still());
        for (int i = 0; i < 30000; ++i)
            ask(sim, "e", 500 * int64_t(i));
        QCOMPARE(sim.log().size(), Options{}.logLimit);
        QCOMPARE(sim.commands().size(), Options{}.logLimit);
        QCOMPARE(sim.droppedLogEntries(), 60000 - Options{}.logLimit);
    }

    void resetStartsAfresh() {
        MountSim sim(still());
        ask(sim, pass(2, 16, 16, 9, 0, 0, 0), 0);
        Options o;
        o.backlash[0][0] = 3;
        sim.reset(o);
        QCOMPARE(sim.backlash(16, true), uint8_t(3));
        QCOMPARE(sim.trackingMode(), uint8_t(1));
        QVERIFY(sim.log().isEmpty());
    }

    void faultNamesRoundTrip() {
        for (Fault f : {Fault::None, Fault::Silent, Fault::ShortReply, Fault::Garbage,
                        Fault::ExtraBytes, Fault::LateReply, Fault::Disconnect})
            QCOMPARE(faultFromName(faultName(f)), std::optional<Fault>(f));
        QVERIFY(!faultFromName("sometimes"));
    }
};

QTEST_GUILESS_MAIN(TestMountSim)
#include "test_mountsim.moc"
