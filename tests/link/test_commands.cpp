#include "commands.h"
#include "commandtable.h"
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

    // Lengths as the protocol documents give them: the first byte fixes the command's, and the
    // reply's is fixed (a pass-through frame's comes from its last byte).
    void framingGivesLengthAndReplyLength_data() {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<int>("replyLength");
        QTest::newRow("echo") << QByteArray("Kx") << 2;
        QTest::newRow("version") << QByteArray("V") << 3;
        QTest::newRow("variant") << QByteArray("v") << 2;
        QTest::newRow("model") << QByteArray("m") << 2;
        QTest::newRow("aligned") << QByteArray("J") << 2;
        QTest::newRow("goto?") << QByteArray("L") << 2;
        QTest::newRow("cancel goto") << QByteArray("M") << 1;
        QTest::newRow("set tracking") << bytes({'T', 2}) << 1;
        QTest::newRow("get tracking") << QByteArray("t") << 2;
        QTest::newRow("Z") << QByteArray("Z") << 10;
        QTest::newRow("z") << QByteArray("z") << 18;
        QTest::newRow("E") << QByteArray("E") << 10;
        QTest::newRow("e") << QByteArray("e") << 18;
        QTest::newRow("pier side") << QByteArray("p") << 2;
        QTest::newRow("get location") << QByteArray("w") << 9;
        QTest::newRow("set location") << bytes({'W', 1, 2, 3, 0, 4, 5, 6, 1}) << 1;
        QTest::newRow("get time h") << QByteArray("h") << 9;
        QTest::newRow("get time i") << QByteArray("i") << 9;
        QTest::newRow("set time H") << bytes({'H', 23, 59, 30, 12, 31, 24, 1, 0}) << 1;
        QTest::newRow("set time I") << bytes({'I', 23, 59, 30, 12, 31, 24, 4, 0}) << 1;
        QTest::newRow("goto R") << QByteArray("R1234,C000") << 1;
        QTest::newRow("goto B") << QByteArray("B1234,C000") << 1;
        QTest::newRow("sync S") << QByteArray("S1234,C000") << 1;
        QTest::newRow("goto r") << QByteArray("r12340000,C0000000") << 1;
        QTest::newRow("goto b") << QByteArray("b12340000,C0000000") << 1;
        QTest::newRow("sync s") << QByteArray("s12340000,C0000000") << 1;
        QTest::newRow("stop") << cmd::FixedRateSlew(17) << 1;
        QTest::newRow("get backlash") << cmd::GetBacklash(16, cmd::Direction::Positive) << 2;
        QTest::newRow("P n=0x23") << cmd::passThrough(1, 16, 254, 0, 0, '#') << 36;
        QTest::newRow("P n=255") << cmd::passThrough(1, 18, 1, 0, 0, 255) << 256;
    }
    void framingGivesLengthAndReplyLength() {
        QFETCH(QByteArray, command);
        QFETCH(int, replyLength);
        using State = cmd::Framing::State;
        // Every piece short of the whole command asks for more, whatever its bytes.
        for (int i = 0; i < command.size(); ++i)
            QVERIFY2(cmd::frameCommand(command.left(i)).state == State::NeedMore,
                     qPrintable(QString::number(i)));
        // The next command's bytes do not belong to this one.
        for (const QByteArray& received : {command, command + "Kx", command + command}) {
            const cmd::Framing f = cmd::frameCommand(received);
            QVERIFY(f.state == State::Complete);
            QCOMPARE(f.length, command.size());
            QCOMPARE(f.replyLength, replyLength);
        }
    }

    void unknownFirstByteIsNeverGivenALength() {
        const QByteArray known = "KVvmJLMTtZzEePpwWhiHIRrBbSs";
        for (int c = 0; c < 256; ++c) {
            const QByteArray first(1, char(c));
            const cmd::Framing f = cmd::frameCommand(first + "Kx");
            QVERIFY2((f.state == cmd::Framing::State::Unknown) == !known.contains(char(c)),
                     qPrintable(QString::number(c)));
            QVERIFY2((cmd::findCommand(uint8_t(c)) == nullptr) == !known.contains(char(c)),
                     qPrintable(QString::number(c)));
        }
        // The table holds each letter once.
        QCOMPARE(qsizetype(cmd::commandTable().size()), known.size());
    }

    void commandsAreDescribed_data() {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QString>("text");
        QTest::newRow("tracking") << bytes({'T', 2}) << "set tracking mode 2";
        QTest::newRow("stop -") << cmd::FixedRateSlew(17) << "alt stop";
        QTest::newRow("stop +") << bytes({'P', 2, 16, 36, 0, 0, 0, 0}) << "azm stop";
        QTest::newRow("fixed") << bytes({'P', 2, 16, 36, 9, 0, 0, 0}) << "azm fixed rate +9";
        QTest::newRow("variable") << cmd::VariableRateSlew(17, 7, 168, 192)
                                  << "alt variable rate -43200";
        QTest::newRow("backlash") << cmd::SetBacklash(16, cmd::Direction::Negative, 7)
                                  << "azm set backlash - 7";
        QTest::newRow("pec off") << cmd::PecPlayback(false) << "azm PEC playback off";
        QTest::newRow("pec on") << cmd::PecPlayback(true) << "azm PEC playback on";
        QTest::newRow("focuser") << cmd::passThrough(1, 18, 254, 0, 0, 2) << "device 18 version";
        QTest::newRow("no such message")
            << cmd::passThrough(1, 17, 99, 0, 0, 0) << "alt message 99";
        QTest::newRow("unknown letter") << QByteArray("Q") << "unknown command 'Q'";
        QTest::newRow("unknown byte") << bytes({0}) << "unknown command";
    }
    void commandsAreDescribed() {
        QFETCH(QByteArray, command);
        QFETCH(QString, text);
        QCOMPARE(cmd::describeCommand(command), text);
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
