#include "commands.h"
#include "testhelpers.h"

#include <QTest>

using namespace skyjog;
using skyjog::test::bytes;

class TestCommands : public QObject {
    Q_OBJECT
private slots:
    void everyCommandsBytes_data() {
        QTest::addColumn<QByteArray>("built");
        QTest::addColumn<QByteArray>("expected");
        using D = cmd::Direction;
        QTest::newRow("tracking off") << cmd::SetTrackingMode(0) << bytes({84, 0});
        QTest::newRow("tracking eq south") << cmd::SetTrackingMode(3) << bytes({84, 3});
        QTest::newRow("get az alt") << cmd::GetAzAlt() << bytes({90});
        QTest::newRow("slew az id6 rate 1000")
            << cmd::VariableRateSlew(16, 6, 3, 232) << bytes({80, 3, 16, 6, 3, 232, 0, 0});
        QTest::newRow("slew alt 3deg")
            << cmd::VariableRateSlew(17, 7, 168, 192) << bytes({80, 3, 17, 7, 168, 192, 0, 0});
        QTest::newRow("stop alt") << cmd::FixedRateSlew(17) << bytes({80, 2, 17, 37, 0, 0, 0, 0});
        QTest::newRow("stop az") << cmd::FixedRateSlew(16) << bytes({80, 2, 16, 37, 0, 0, 0, 0});
        QTest::newRow("pec seek") << cmd::PecSeekIndex() << bytes({80, 1, 16, 25, 0, 0, 0, 0});
        QTest::newRow("pec on") << cmd::PecPlayback(true) << bytes({80, 2, 16, 13, 1, 0, 0, 0});
        QTest::newRow("pec off") << cmd::PecPlayback(false) << bytes({80, 2, 16, 13, 0, 0, 0, 0});
        QTest::newRow("set backlash alt +")
            << cmd::SetBacklash(17, D::Positive, 255) << bytes({80, 2, 17, 16, 255, 0, 0, 0});
        QTest::newRow("set backlash az -")
            << cmd::SetBacklash(16, D::Negative, 0) << bytes({80, 2, 16, 17, 0, 0, 0, 0});
        QTest::newRow("get backlash az -")
            << cmd::GetBacklash(16, D::Negative) << bytes({80, 1, 16, 65, 0, 0, 0, 1});
        QTest::newRow("get backlash alt +")
            << cmd::GetBacklash(17, D::Positive) << bytes({80, 1, 17, 64, 0, 0, 0, 1});
        QTest::newRow("set guide alt")
            << cmd::SetGuideRate(17, 128) << bytes({80, 2, 17, 70, 128, 0, 0, 0});
        QTest::newRow("get guide az")
            << cmd::GetGuideRate(16) << bytes({80, 1, 16, 71, 0, 0, 0, 1});
    }
    void everyCommandsBytes() {
        QFETCH(QByteArray, built);
        QFETCH(QByteArray, expected);
        QCOMPARE(built, expected);
        if (expected[0] == 'P') QCOMPARE(built.size(), 8); // zero bytes are data, never cut off
    }

    void positionReplyAltitude() {
        QCOMPARE(cmd::altitudeFromReply("0000,2012#"), 8210 * 360.0 / 65536);
        QCOMPARE(cmd::altitudeFromReply("0000,3C00#"), 84.375);
        QCOMPARE(cmd::altitudeFromReply("0000,F8E4#"), 63716 * 360.0 / 65536);
        // Only characters 6-9 count; the azimuth half is never read.
        QCOMPARE(cmd::altitudeFromReply("FFFF,0000#"), 0.0);
        QCOMPARE(cmd::altitudeFromReply("0000,f8e4#"), cmd::altitudeFromReply("0000,F8E4#"));
    }

    void shortAndGarbledPositionReplies() {
        using cmd::altitudeFromReply, cmd::hexPair;
        QCOMPARE(altitudeFromReply(""), 0.0);
        QCOMPARE(altitudeFromReply("0000,"), 0.0);
        // A lone digit of a pair is that pair's whole value.
        QCOMPARE(hexPair("0000,2", 5), 2);
        QCOMPARE(hexPair("0000,2", 7), 0);
        QCOMPARE(hexPair("0000,201", 7), 1);
        QCOMPARE(altitudeFromReply("0000,201"), (0x20 * 256 + 1) * 360.0 / 65536);
        // A non-digit ends its pair early; the other pair is read on its own.
        QCOMPARE(hexPair("0000,2G12#", 5), 2);
        QCOMPARE(hexPair("0000,2G12#", 7), 0x12);
        QCOMPARE(hexPair("0000,G212#", 5), 0);
        QCOMPARE(hexPair("0000, 212#", 5), 0);
        QCOMPARE(hexPair(QByteArray("0000,\xC1"
                                    "2\0\0#",
                                    10),
                         5),
                 0);
        QCOMPARE(hexPair(QByteArray("0000,1\0"
                                    "12#",
                                    10),
                         5),
                 1);
        // Longer replies change nothing: only two characters per pair.
        QCOMPARE(hexPair("0000,ABCDEF#", 7), 0xCD);
    }

    void valueAndAcknowledgementReplies() {
        // The value is the first byte whatever it is, "#" and zero included.
        QCOMPARE(cmd::valueFromReply(bytes({0, '#'})), std::optional<uint8_t>(0));
        QCOMPARE(cmd::valueFromReply(bytes({'#', '#'})), std::optional<uint8_t>('#'));
        QCOMPARE(cmd::valueFromReply(bytes({255})), std::optional<uint8_t>(255));
        QVERIFY(!cmd::valueFromReply({}).has_value());
        QVERIFY(cmd::isAcknowledged("#"));
        QVERIFY(!cmd::isAcknowledged(""));
        QVERIFY(!cmd::isAcknowledged(bytes({0, '#'})));
    }

    void rateSplitsHighThenLow() {
        QCOMPARE(int(cmd::splitRate(1000).high), 3);
        QCOMPARE(int(cmd::splitRate(1000).low), 232);
        QCOMPARE(int(cmd::splitRate(43200).high), 168);
        QCOMPARE(int(cmd::splitRate(43200).low), 192);
        QCOMPARE(int(cmd::splitRate(255).high), 0);
        QCOMPARE(int(cmd::splitRate(256).high), 1);
        QCOMPARE(int(cmd::splitRate(256).low), 0);
    }
};

QTEST_APPLESS_MAIN(TestCommands)
#include "test_commands.moc"
