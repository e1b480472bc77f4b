// SendCommand through the port text "sim": the real serial control and the in-process simulated
// mount, with the clock driven by the test.
#include "commands.h"
#include "functions.h"
#include "mountsim.h"
#include "testsupport.h"

#include <QTest>
#include <cmath>

using namespace skyjog;
using namespace skyjog::test;

class TestSimSendCommand : public QObject {
    Q_OBJECT
    ManualClock clk;

    sim::MountSim& mount() { return sim::sharedMountSim(); }
    void resetMount(sim::Options o = {}) {
        o.trackingMode = 0;
        mount().reset(o);
    }

private slots:
    void initTestCase() { sim::registerInProcessSim(); }
    void init() {
        clk = ManualClock(7000);
        setClock(&clk);
        Comm1().setBackendFactory({});
        Comm1().setPortText(QStringLiteral("sim"));
        SleepTime = 17;
        StopSpiral = false;
        resetMount();
    }
    void cleanup() { setClock(nullptr); }

    void everyCommandReachesTheMountAsBuilt() {
        using namespace cmd;
        const QVector<QByteArray> sent = {
            SetTrackingMode(0),
            VariableRateSlew(AzMotor, MsgSlewPositive, 0xA8, 0xC0),
            FixedRateSlew(AltMotor),
            PecSeekIndex(),
            PecPlayback(true),
            SetBacklash(AltMotor, Direction::Negative, 255),
            GetBacklash(AzMotor, Direction::Negative),
            SetGuideRate(AzMotor, 0),
            GetGuideRate(AltMotor),
            GetAzAlt(),
        };
        for (const QByteArray& c : sent)
            SendCommand(c, 1, TimeoutMs);
        QCOMPARE(mount().commands(), sent);
        QCOMPARE(mount().backlash(AltMotor, false), uint8_t(255));
        QCOMPARE(mount().guideRate(AzMotor), uint8_t(0));
        QVERIFY(mount().pecPlaying());
    }

    void repliesComeBackWhole() {
        sim::Options o;
        o.azimuth = 0x4000;
        o.altitude = 0x2012;
        o.guideRate[1] = 0x23; // the reply's data byte is the terminator's value
        resetMount(o);
        const uint32_t t0 = clk.now();
        QCOMPARE(SendCommand(cmd::GetAzAlt(), 10, 500), QByteArray("4000,2012#"));
        // One character per pass, the first on the first pass.
        QCOMPARE(clk.now() - t0, 10u * 17u);
        QCOMPARE(SendCommand(cmd::GetGuideRate(cmd::AltMotor), 2, 500), QByteArray("##"));
        QCOMPARE(SendCommand(cmd::SetTrackingMode(2), 1, 500), QByteArray("#"));
        QCOMPARE(mount().trackingMode(), uint8_t(2));
        QVERIFY(!StopSpiral);
    }

    void replyLengthZeroReturnsAtOnce() {
        QVERIFY(SendCommand("Kx", 0, 500).isEmpty());
        QCOMPARE(clk.sleeps, 0u); // not a single pass of the loop
        QCOMPARE(mount().commands(), QVector<QByteArray>({"Kx"}));
        // The unread reply is stale for the next command and drained by it.
        QCOMPARE(SendCommand("Ky", 2, 500), QByteArray("y#"));
    }

    void silentMountGivesEmptyAfterTheTimeout() {
        sim::Options o;
        o.fault = sim::Fault::Silent;
        resetMount(o);
        ReportRecorder rec;
        const uint32_t t0 = clk.now();
        QVERIFY(SendCommand(cmd::GetAzAlt(), 10, 500).isEmpty());
        QCOMPARE(clk.now() - t0, 510u); // the first pass at or past 500 ms
        QVERIFY(rec.boxes.empty());
        QVERIFY(!StopSpiral);
    }

    void shortAndGarbageRepliesAreReturnedAsTheyCame() {
        sim::Options o;
        o.fault = sim::Fault::ShortReply;
        o.faultCount = 1;
        resetMount(o);
        QCOMPARE(SendCommand(cmd::GetAzAlt(), 10, 500), QByteArray("0000,0000"));
        mount().options().fault = sim::Fault::Garbage;
        mount().options().faultCount = 2;
        QCOMPARE(SendCommand(cmd::GetBacklash(16, cmd::Direction::Positive), 2, 500),
                 QByteArray("\xFF\xDC", 2));
    }

    void extraBytesAreLeftForTheNextDrain() {
        sim::Options o;
        o.fault = sim::Fault::ExtraBytes;
        o.faultCount = 1;
        resetMount(o);
        QCOMPARE(SendCommand(cmd::GetGuideRate(16), 2, 500), QByteArray("\x80#"));
        QCOMPARE(SendCommand("Kq", 2, 500), QByteArray("q#"));
    }

    void lateCharactersNeverBecomeTheNextReply() {
        sim::Options o;
        o.fault = sim::Fault::LateReply;
        o.lateReplyMs = 800;
        o.faultCount = 1;
        resetMount(o);
        QVERIFY(SendCommand("Ka", 2, 500).isEmpty());
        clk.advance(1000); // the late "a#" arrives while the port is closed
        QCOMPARE(SendCommand("Kb", 2, 500), QByteArray("b#"));
    }

    void zeroByteInAReplyIsKept() {
        const QByteArray r = SendCommand(cmd::GetBacklash(17, cmd::Direction::Negative), 2, 500);
        QCOMPARE(r, QByteArray("\0#", 2));
    }

    void pacedLineStillDeliversEveryCharacter() {
        sim::Options o;
        o.pace9600 = true;
        o.latencyMs = 25;
        o.azimuth = 0xABCD;
        resetMount(o);
        SleepTime = 1;
        QCOMPARE(SendCommand(cmd::GetAzAlt(), 10, 500), QByteArray("ABCD,0000#"));
        // A reply that cannot arrive within the time-out is cut short.
        mount().options().latencyMs = 495;
        QCOMPARE(SendCommand(cmd::GetAzAlt(), 10, 500), QByteArray("AB"));
    }

    void droppedLineFailsOneCommandAndRecovers() {
        sim::Options o;
        o.fault = sim::Fault::Disconnect;
        o.faultCount = 1;
        resetMount(o);
        ReportRecorder rec;
        QVERIFY(SendCommand(cmd::GetAzAlt(), 10, 500).isEmpty());
        QCOMPARE(rec.boxes.size(), size_t(1));
        QVERIFY(rec.boxes[0].text.endsWith(QStringLiteral(" - 8020")));
        QVERIFY(StopSpiral);
        QVERIFY(!Comm1().portOpen());
        // Opening the port again is plugging the cable back in.
        QCOMPARE(SendCommand("Kx", 2, 500), QByteArray("x#"));
        QCOMPARE(rec.boxes.size(), size_t(1));
    }

    void slewMovesTheMountByItsTime() {
        // 3 degrees per second on the altitude motor, stopped 2 s later.
        SendCommand(cmd::VariableRateSlew(17, cmd::MsgSlewPositive, 0xA8, 0xC0), 1, 500);
        const int64_t started = mount().log()[0].timeMs;
        clk.advance(2000);
        SendCommand(cmd::FixedRateSlew(17), 1, 500);
        const int64_t stopped = mount().log()[2].timeMs;
        QCOMPARE(mount().altitudeDegrees(clk.now()), 3.0 * (stopped - started) / 1000.0);
        QCOMPARE(mount().axisRate(17), 0.0);
    }

    // The model reads the clock's 64-bit count: a move across the 32-bit counter's wrap, and a
    // pause of 2^31 ms and more between two commands, move the mount by their whole length.
    void timeAcrossTheWrapAndLongPausesCount_data() {
        QTest::addColumn<uint32_t>("start");
        QTest::addColumn<uint32_t>("pause");
        QTest::newRow("across the wrap") << 0xFFFFF000u << 14400u;
        QTest::newRow("2^31 ms") << 7000u << 0x80000000u;
        QTest::newRow("2^32 ms less 1 s") << 7000u << 0xFFFFFC18u;
    }
    void timeAcrossTheWrapAndLongPausesCount() {
        QFETCH(uint32_t, start);
        QFETCH(uint32_t, pause);
        clk = ManualClock(start);
        clk.limitMs = 0xFFFFFFFFu;
        resetMount();
        // Azimuth at 60 quarter arc-seconds a second, the sidereal rate.
        SendCommand(cmd::VariableRateSlew(16, cmd::MsgSlewPositive, 0, 60), 1, 500);
        const int64_t started = mount().log()[0].timeMs;
        clk.advance(pause);
        const QByteArray reply = SendCommand(cmd::GetAzAlt(), 10, 500);
        const int64_t asked = mount().log().last().timeMs;
        QVERIFY(asked - started >= int64_t(pause));
        const double turns = double(asked - started) / 1000.0 * 60.0 / (360.0 * 3600.0 * 4.0);
        const int position = int(std::floor((turns - std::floor(turns)) * 65536.0 + 1e-6));
        QCOMPARE(reply, QStringLiteral("%1,0000#").arg(position, 4, 16, QChar(u'0')).toUpper().toLatin1());
    }
};

QTEST_GUILESS_MAIN(TestSimSendCommand)
#include "test_sim_sendcommand.moc"
