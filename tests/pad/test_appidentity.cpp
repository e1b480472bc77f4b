// What the desktop knows the program by: the name that also names the user's settings folder,
// the desktop entry the window belongs to, and the icon at every size a desktop asks for.
#include "appidentity.h"
#include "padfixture.h"

#include <QStandardPaths>
#include <QTest>

using namespace skyjog;
using namespace skyjog::test;

class TestAppIdentity : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { setApplicationIdentity(); }

    void settingsFolderIsSkyjogs() {
        // The folder an installed program keeps Skyjogger.ini in; the README names it.
        const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
        QVERIFY2(dir.endsWith(QLatin1String("/Skyjog")), qPrintable(dir));
    }

    void windowBelongsToTheDesktopEntry() {
        // The installed entry is <id>.desktop, and the AppStream component's id is <id>.
        QCOMPARE(QGuiApplication::desktopFileName(), applicationId());
        QVERIFY(applicationId().count(u'.') >= 2); // reverse-DNS
        QVERIFY(!applicationId().endsWith(QLatin1String(".desktop")));
    }

    void iconComesInEverySize() {
        const QIcon icon = QGuiApplication::windowIcon();
        QList<int> sides;
        for (const QSize& s : icon.availableSizes()) {
            QCOMPARE(s.width(), s.height());
            sides << s.width();
        }
        std::sort(sides.begin(), sides.end());
        QCOMPARE(sides, (QList<int>{16, 22, 24, 32, 48, 64, 128, 256}));
        for (int side : sides) {
            const QImage img = icon.pixmap(QSize(side, side), 1.0).toImage();
            QCOMPARE(img.size(), QSize(side, side));
            // Opaque in the middle, clear in the very corner (the tile has round corners).
            QCOMPARE(qAlpha(img.pixel(side / 2, side / 2)), 255);
            QCOMPARE(qAlpha(img.pixel(0, 0)), 0);
        }
    }

    void mainWindowShowsTheIcon() {
        Pad pad;
        Interface& w = pad.start();
        QCOMPARE(w.windowIcon().availableSizes().size(), 8);
    }
};

QTEST_MAIN(TestAppIdentity)
#include "test_appidentity.moc"
