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
