// The spiral's numbers: rates from the width and the altitude, the fold, the legs.
#include "spiralmath.h"
#include "vberror.h"

#include <QTest>

using namespace skyjog;
using namespace skyjog::spiral;

namespace {
// The azimuth rate bytes for a width and the position reply's altitude digits.
cmd::RateBytes azimuthBytesFor(double width, const QByteArray& altitudeDigits) {
    const QByteArray reply = "0000," + altitudeDigits + "#";
    return rateBytes(azimuthRate(baseRate(width), foldAltitude(cmd::altitudeFromReply(reply))));
}

int errorNumber(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const VbError& e) {
        return e.number;
    }
    return 0;
}
} // namespace

class TestSpiralMath : public QObject {
    Q_OBJECT

private slots:
    void ratesForWidthAndAltitude_data() {
        QTest::addColumn<double>("width");
        QTest::addColumn<QByteArray>("digits");
        QTest::addColumn<int>("altHigh");
        QTest::addColumn<int>("altLow");
        QTest::addColumn<int>("azRate");
        QTest::addColumn<int>("azHigh");
        QTest::addColumn<int>("azLow");
        QTest::newRow("1 at 0000") << 1.0 << QByteArray("0000") << 1 << 244 << 499 << 1 << 243;
        QTest::newRow("1 at 2012") << 1.0 << QByteArray("2012") << 1 << 244 << 1000 << 3 << 232;
        QTest::newRow("1 at F8E4") << 1.0 << QByteArray("F8E4") << 1 << 244 << 587 << 2 << 75;
        QTest::newRow("1 at 3C00") << 1.0 << QByteArray("3C00") << 1 << 244 << 5487 << 21 << 111;
        QTest::newRow("10 at 0000") << 10.0 << QByteArray("0000") << 19 << 136 << 4991 << 19 << 127;
        QTest::newRow("10 at 2012") << 10.0 << QByteArray("2012") << 19 << 136 << 10000 << 39 << 16;
        QTest::newRow("10 at F8E4") << 10.0 << QByteArray("F8E4") << 19 << 136 << 5872 << 22 << 240;
        // 54873 would be faster than the fastest rate the pad offers.
        QTest::newRow("10 at 3C00")
            << 10.0 << QByteArray("3C00") << 19 << 136 << 43200 << 168 << 192;
    }
    void ratesForWidthAndAltitude() {
        QFETCH(double, width);
        QFETCH(QByteArray, digits);
        const int16_t base = baseRate(width);
        QFETCH(int, altHigh);
        QFETCH(int, altLow);
        QCOMPARE(int(rateBytes(base).high), altHigh);
        QCOMPARE(int(rateBytes(base).low), altLow);
        const double alt = foldAltitude(cmd::altitudeFromReply("0000," + digits + "#"));
        QFETCH(int, azRate);
        QCOMPARE(azimuthRate(base, alt), azRate);
        QFETCH(int, azHigh);
        QFETCH(int, azLow);
        const cmd::RateBytes az = azimuthBytesFor(width, digits);
        QCOMPARE(int(az.high), azHigh);
        QCOMPARE(int(az.low), azLow);
    }

    void altitudeFold() {
        // F8E4 reads as 350.0024 degrees: below the horizon, folded back to 9.9976.
        QCOMPARE(foldAltitude(cmd::altitudeFromReply("0000,F8E4#")), 360.0 - 63716 * 360.0 / 65536);
        QCOMPARE(foldAltitude(350.0), 10.0);
        QCOMPARE(foldAltitude(95.0), 95.0); // strictly above 95 only
        QCOMPARE(foldAltitude(95.0001), 360.0 - 95.0001);
        // An empty reply is altitude 0: the factor is just under 1.
        QVERIFY(azimuthFactor(0.0) < 1.0 && azimuthFactor(0.0) > 0.998);
    }

    void baseRateRoundsHalfToEvenAndFailsBeyond16Bits() {
        QCOMPARE(baseRate(0.001), int16_t(0)); // 0.5
        QCOMPARE(baseRate(0.003), int16_t(2)); // 1.5
        QCOMPARE(baseRate(0.005), int16_t(2)); // 2.5
        QCOMPARE(baseRate(0), int16_t(0));
        QCOMPARE(baseRate(65.534), int16_t(32767));
        QCOMPARE(errorNumber([] { baseRate(65.535); }), 6);
        QCOMPARE(errorNumber([] { baseRate(-65.6); }), 6);
        // A negative width computes, but no slew can carry it.
        QCOMPARE(baseRate(-1), int16_t(-500));
        QCOMPARE(errorNumber([] { rateBytes(-500); }), 5);
        QCOMPARE(errorNumber([] { rateBytes(65536); }), 5);
        QCOMPARE(int(rateBytes(65535).high), 255);
        QCOMPARE(int(rateBytes(256).high), 1);
        QCOMPARE(int(rateBytes(256).low), 0);
    }

    void azimuthRateNearAndPastTheZenith() {
        // Straight up the factor is huge but positive: the cap holds it, with no overflow.
        QCOMPARE(azimuthRate(1, 90.1), MaxAzimuthRate);
        QCOMPARE(azimuthRate(32767, 90.1), MaxAzimuthRate);
        QCOMPARE(azimuthRate(500, 90.0), MaxAzimuthRate);
        // Just past it the tangent turns negative: a negative rate cannot be sent.
        QCOMPARE(errorNumber([] { azimuthRate(500, 90.1025); }), 5);
        QCOMPARE(errorNumber([] { azimuthRate(500, 95.0); }), 5);
        QCOMPARE(errorNumber([] { azimuthRate(1, 92.0); }), 5);
        // With width 0 nothing moves, whatever the altitude.
        QCOMPARE(azimuthRate(0, 92.0), 0);
        QCOMPARE(azimuthRate(0, 0.0), 0);
        // The constants are 0.1 degree and 3.14159, not pi: at 45.1 the factor is not exactly 2.
        QVERIFY(azimuthFactor(45.1) != 2.0);
        QVERIFY(qAbs(azimuthFactor(45.1) - 2.0) < 1e-5);
    }

    void legTableAndDurations() {
        struct Expected {
            uint8_t stop, move, id;
            bool az;
            int32_t ms;
        };
        const Expected legs[] = {{17, 16, 6, true, 500},  {16, 17, 7, false, 500},
                                 {17, 16, 7, true, 1000}, {16, 17, 6, false, 1000},
                                 {17, 16, 6, true, 1500}, {16, 17, 7, false, 1500},
                                 {17, 16, 7, true, 2000}, {16, 17, 6, false, 2000}};
        for (int k = 0; k < 8; ++k) {
            const Leg leg = legFor(k);
            QCOMPARE(leg.stopMotor, legs[k].stop);
            QCOMPARE(leg.moveMotor, legs[k].move);
            QCOMPARE(leg.messageId, legs[k].id);
            QCOMPARE(leg.usesAzimuthRate, legs[k].az);
            QCOMPARE(legDurationMs(k), legs[k].ms);
        }
        QCOMPARE(legDurationMs(101), 500 * 51);
        QCOMPARE(legFor(101).messageId, uint8_t(7));
    }

    void boxesReadWithAPeriodOrTheRegionalSeparator() {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QCOMPARE(boxNumber("2.5"), 2.5);
        QCOMPARE(boxNumber("2,5"), 2.5); // as the window writes a delay of 2.5 here
        QCOMPARE(boxNumber("0,5s"), 0.5);
        QCOMPARE(boxNumber("1.5,2"), 1.5);
        QCOMPARE(boxNumber(" 3 seconds"), 3.0);
        QCOMPARE(boxNumber(".5"), 0.5);
        QCOMPARE(boxNumber("-1"), -1.0);
        QCOMPARE(boxNumber(""), 0.0);
        QCOMPARE(boxNumber("abc"), 0.0);
        QLocale::setDefault(QLocale::c());
        QCOMPARE(boxNumber("2,5"), 2.0); // a comma is no decimal separator here
    }

    // A box number beyond the double range is too large for any rate or pause, not 0.
    void boxesAtTheEdgesOfTheDoubleRange() {
        QCOMPARE(errorNumber([] { boxNumber(QString(400, u'9')); }), 6);
        QCOMPARE(errorNumber([] { boxNumber(QStringLiteral("1e400 wide")); }), 6);
        QCOMPARE(boxNumber(QStringLiteral("1e-400")), 0.0);
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QCOMPARE(errorNumber([] { boxNumber(QString(400, u'9') + QStringLiteral(",5")); }), 6);
        QCOMPARE(boxNumber(QStringLiteral("0,") + QString(400, u'0') + QStringLiteral("1")), 0.0);
        QLocale::setDefault(QLocale::c());
    }

    void cornerDelayMilliseconds() {
        QCOMPARE(cornerDelayMs(2), 2000);
        QCOMPARE(cornerDelayMs(0.5), 500);
        QCOMPARE(cornerDelayMs(0.0005), 0); // 0.5 ms
        QCOMPARE(cornerDelayMs(0.0015), 2); // 1.5 ms
        QCOMPARE(cornerDelayMs(0.0025), 2); // 2.5 ms
        QCOMPARE(cornerDelayMs(-1), -1000);
        QCOMPARE(errorNumber([] { cornerDelayMs(3e6); }), 6);
    }
};

QTEST_GUILESS_MAIN(TestSpiralMath)
#include "test_spiralmath.moc"
