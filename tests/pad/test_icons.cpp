// The arrow and spiral pictures at 100 %, 150 % and 200 % scaling: drawn for the pixel density,
// never a small picture enlarged; each arrow pointing its own way; greyed out when disabled.
#include "arrowbutton.h"
#include "icons.h"
#include "padfixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QImage>
#include <QTest>
#include <QTransform>

using namespace skyjog;
using namespace skyjog::test;

namespace {

// The pixels alone.
QImage image(const QPixmap& pm) {
    QImage img = pm.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    img.setDevicePixelRatio(1.0);
    return img;
}

bool opaque(const QImage& img, QPointF grid) {
    // grid is on the 32 x 32 design grid.
    const QPoint at((grid * img.width() / 32.0).toPoint());
    return qAlpha(img.pixel(at)) > 200;
}
bool clear(const QImage& img, QPointF grid) {
    const QPoint at((grid * img.width() / 32.0).toPoint());
    return qAlpha(img.pixel(at)) == 0;
}

} // namespace

class TestIcons : public QObject {
    Q_OBJECT

private slots:
    void drawnForThePixelDensity_data() {
        QTest::addColumn<QIcon>("icon");
        QTest::addColumn<int>("side");
        QTest::addColumn<qreal>("dpr");
        for (qreal dpr : {1.0, 1.5, 2.0}) {
            const QByteArray scale = QByteArray::number(int(dpr * 100)) + " %";
            QTest::newRow("arrow " + scale) << arrowIcon(Qt::UpArrow) << 21 << dpr;
            QTest::newRow("spiral " + scale) << spiralIcon() << 26 << dpr;
        }
    }
    void drawnForThePixelDensity() {
        QFETCH(QIcon, icon);
        QFETCH(int, side);
        QFETCH(qreal, dpr);
        const QPixmap pm = icon.pixmap(QSize(side, side), dpr);
        const int devicePixels = qRound(side * dpr);
        QCOMPARE(pm.size(), QSize(devicePixels, devicePixels));
        QCOMPARE(pm.devicePixelRatio(), dpr);
        // The very picture drawn directly at that many pixels: nothing was scaled up.
        QCOMPARE(image(pm), image(icon.pixmap(QSize(devicePixels, devicePixels), 1.0)));
        // And it is a picture, not an empty square.
        const QImage img = image(pm);
        int painted = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                painted += qAlpha(img.pixel(x, y)) > 0;
        QVERIFY2(painted > img.width() * img.height() / 10, qPrintable(QString::number(painted)));
    }

    void sharpEdgesAtTwoHundredPercent() {
        // At 200 % the arrow's flat bottom edge is a clean line: a row that is fully inside the
        // shaft, then at most one row of partial coverage, then nothing. An enlarged 32-pixel
        // picture smears that edge over several rows.
        const QImage img = image(arrowIcon(Qt::UpArrow).pixmap(QSize(32, 32), 2.0));
        QCOMPARE(img.size(), QSize(64, 64));
        const int x = img.width() / 2;
        int partial = 0;
        for (int y = img.height() / 2; y < img.height(); ++y) {
            const int a = qAlpha(img.pixel(x, y));
            if (a > 0 && a < 250) ++partial;
        }
        QVERIFY2(partial <= 2, qPrintable(QString::number(partial)));
    }

    void eachArrowPointsItsWay_data() {
        QTest::addColumn<int>("direction");
        QTest::addColumn<int>("turn"); // degrees clockwise from pointing up
        QTest::newRow("up") << int(Qt::UpArrow) << 0;
        QTest::newRow("right") << int(Qt::RightArrow) << 90;
        QTest::newRow("down") << int(Qt::DownArrow) << 180;
        QTest::newRow("left") << int(Qt::LeftArrow) << 270;
    }
    void eachArrowPointsItsWay() {
        QFETCH(int, direction);
        QFETCH(int, turn);
        const QImage img = image(arrowIcon(Qt::ArrowType(direction)).pixmap(QSize(64, 64), 1.0));
        QTransform t;
        t.translate(16, 16);
        t.rotate(turn);
        t.translate(-16, -16);
        // Pointing up: the tip near the top and the shaft's foot near the bottom; the head wide
        // above the middle, nothing beside the narrow shaft below it.
        QVERIFY(opaque(img, t.map(QPointF(16, 5))));
        QVERIFY(opaque(img, t.map(QPointF(16, 28))));
        QVERIFY(opaque(img, t.map(QPointF(8, 14))));
        QVERIFY(opaque(img, t.map(QPointF(24, 14))));
        QVERIFY(clear(img, t.map(QPointF(8, 22))));
        QVERIFY(clear(img, t.map(QPointF(24, 22))));
    }

    void disabledIsGreyedOut() {
        const QIcon icon = arrowIcon(Qt::UpArrow);
        const QImage normal = image(icon.pixmap(QSize(32, 32), 1.0, QIcon::Normal));
        const QImage disabled = image(icon.pixmap(QSize(32, 32), 1.0, QIcon::Disabled));
        QVERIFY(normal != disabled);
        // Navy inside the arrow when enabled; grey (no colour) when disabled.
        const QRgb inside = normal.pixel(16, 20);
        QVERIFY(qBlue(inside) > qRed(inside) + 60);
        const QRgb grey = disabled.pixel(16, 20);
        QVERIFY(qAbs(qBlue(grey) - qRed(grey)) < 30);
    }

    void theWindowsButtonsUseTheDrawings() {
        Pad pad;
        Interface& w = pad.start();
        const QList<QAbstractButton*> buttons{w.cmdUp, w.cmdDown, w.cmdLeft, w.cmdRight,
                                              w.cmdSpiral};
        for (QAbstractButton* b : buttons) {
            const QPixmap pm = b->icon().pixmap(b->iconSize(), 2.0);
            QCOMPARE(pm.size(), b->iconSize() * 2);
        }
    }
};

QTEST_MAIN(TestIcons)
#include "test_icons.moc"
