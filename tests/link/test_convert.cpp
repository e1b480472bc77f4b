#include "convert.h"
#include "vberror.h"

#include <QTest>
#include <cmath>

using namespace skyjog;

namespace {
int errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const VbError& e) {
        return e.number;
    }
    return 0;
}
} // namespace

class TestConvert : public QObject {
    Q_OBJECT
private slots:
    void roundsHalfToEven() {
        QCOMPARE(conv::toInt16(2.5), int16_t(2));
        QCOMPARE(conv::toInt16(3.5), int16_t(4));
        QCOMPARE(conv::toInt16(-2.5), int16_t(-2));
        QCOMPARE(conv::toInt16(1.0001 + 0.4999), int16_t(2));
        QCOMPARE(conv::toInt16(32767.4), int16_t(32767));
        QCOMPARE(conv::toInt32(54872.5), 54872);
    }
    void overflowIsError6() {
        QCOMPARE(errorOf([] { conv::toInt16(32767.5); }), 6); // rounds to 32768
        QCOMPARE(errorOf([] { conv::toInt16(-32768.6); }), 6);
        QCOMPARE(errorOf([] { conv::toInt16(NAN); }), 6);
        QCOMPARE(errorOf([] { conv::toInt16(-32768.5); }), 0); // rounds to -32768
    }
    void textConversions() {
        const QLocale c = QLocale::c();
        const QLocale de(QLocale::German, QLocale::Germany);
        QCOMPARE(conv::textToDouble(QStringLiteral("2.5"), c), 2.5);
        QCOMPARE(conv::textToDouble(QStringLiteral("2,5"), de), 2.5);
        QCOMPARE(conv::textToDouble(QStringLiteral(" 4 "), c), 4.0);
        QCOMPARE(errorOf([&] { conv::textToDouble(QStringLiteral("abc"), c); }), 13);
        QCOMPARE(errorOf([&] { conv::textToDouble(QString(), c); }), 13);
        QCOMPARE(errorOf([&] { conv::textToInt16(QStringLiteral("40000"), c); }), 6);
        QCOMPARE(conv::textToInt16(QStringLiteral("2.5"), c), int16_t(2));
    }
    // Numbers of a valid form beyond the double range are an overflow, never "not a number"
    // and never a silent 0; numbers below its smallest value are 0.
    void numbersAtTheEdgesOfTheDoubleRange_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("error");
        QTest::addColumn<double>("value");
        const QString nines(400, u'9');
        const QString tiny = QStringLiteral("0.") + QString(400, u'0') + QStringLiteral("1");
        QTest::newRow("1e400") << "1e400" << 6 << 0.0;
        QTest::newRow("-1e400") << "-1e400" << 6 << 0.0;
        QTest::newRow("400 nines") << nines << 6 << 0.0;
        QTest::newRow("-400 nines") << QStringLiteral("-") + nines << 6 << 0.0;
        QTest::newRow("400 nines, a fraction") << nines + QStringLiteral(".5") << 6 << 0.0;
        QTest::newRow("1.8e308") << "1.8e308" << 6 << 0.0;
        QTest::newRow("1.7e308") << "1.7e308" << 0 << 1.7e308;
        QTest::newRow("1e-400") << "1e-400" << 0 << 0.0;
        QTest::newRow("-1e-400") << "-1e-400" << 0 << 0.0;
        QTest::newRow("400 zeros then 1") << tiny << 0 << 0.0;
        QTest::newRow("smallest subnormal") << "4.9e-324" << 0 << 4.9e-324;
        QTest::newRow("inf is no number") << "inf" << 13 << 0.0;
        QTest::newRow("nan is no number") << "nan" << 13 << 0.0;
        QTest::newRow("1e400x is no number") << "1e400x" << 13 << 0.0;
        QTest::newRow("1e-400x is no number") << "1e-400x" << 13 << 0.0;
    }
    void numbersAtTheEdgesOfTheDoubleRange() {
        QFETCH(QString, text);
        QFETCH(int, error);
        QFETCH(double, value);
        double got = -1;
        QCOMPARE(errorOf([&] { got = conv::textToDouble(text, QLocale::c()); }), error);
        if (error == 0) QCOMPARE(got, value);
        // A box read as a 16-bit whole number fails the same way.
        if (error != 0) QCOMPARE(errorOf([&] { conv::textToInt16(text, QLocale::c()); }), error);
        // The leading-number reading agrees wherever the whole text is a number.
        if (error != 13) {
            got = -1;
            QCOMPARE(errorOf([&] { got = conv::leadingNumber(text + QStringLiteral("x")); }),
                     error);
            if (error == 0) QCOMPARE(got, value);
        }
    }
    void edgesInARegionalFormat() {
        const QLocale de(QLocale::German, QLocale::Germany);
        QCOMPARE(errorOf([&] { conv::textToDouble(QStringLiteral("1,5e400"), de); }), 6);
        QCOMPARE(conv::textToDouble(QStringLiteral("1,5e-400"), de), 0.0);
        QCOMPARE(errorOf([&] { conv::textToDouble(QStringLiteral("1,5,5e-400"), de); }), 13);
        // The C form still reads where the regional one does not.
        QCOMPARE(errorOf([&] { conv::textToDouble(QStringLiteral("2.5e400"), de); }), 6);
    }

    void leadingNumber_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value");
        QTest::newRow("empty") << QString() << 0.0;
        QTest::newRow("plain") << "3" << 3.0;
        QTest::newRow("spaces") << "  12abc" << 12.0;
        QTest::newRow("fraction") << "1.5x" << 1.5;
        QTest::newRow("no zero") << ".5" << 0.5;
        QTest::newRow("letters") << "abc" << 0.0;
        QTest::newRow("negative") << "-2" << -2.0;
        QTest::newRow("comma stops") << "2,5" << 2.0;
        QTest::newRow("exponent") << "1e3" << 1000.0;
        QTest::newRow("dangling e") << "7e" << 7.0;
        QTest::newRow("lone dot") << "." << 0.0;
    }
    void leadingNumber() {
        QFETCH(QString, text);
        QFETCH(double, value);
        QCOMPARE(conv::leadingNumber(text), value);
    }
    void shortestForms_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << 0.0 << "0";
        QTest::newRow("half") << 0.5 << ".5";
        QTest::newRow("minus quarter") << -0.25 << "-.25";
        QTest::newRow("two") << 2.0 << "2";
        QTest::newRow("two point three") << 2.3 << "2.3";
        QTest::newRow("tenth") << 0.1 << ".1";
        QTest::newRow("thousand") << 1000.0 << "1000";
    }
    void shortestForms() {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(conv::formatShortest(value), text);
        QCOMPARE(conv::leadingNumber(text), value);
    }
    void shortestRoundTripsEveryValue() {
        for (double v : {1.0 / 3.0, 1e-7, 123456789.125, 1e300, -7.77e-300}) {
            const QString s = conv::formatShortest(v);
            QCOMPARE(conv::textToDouble(s, QLocale::c()), v);
        }
    }
    void localeDisplay() {
        const QLocale de(QLocale::German, QLocale::Germany);
        QCOMPARE(conv::formatShortestLocale(0.5, de), QStringLiteral("0,5"));
        QCOMPARE(conv::formatShortestLocale(12345, de), QStringLiteral("12345"));
    }
};

QTEST_APPLESS_MAIN(TestConvert)
#include "test_convert.moc"
