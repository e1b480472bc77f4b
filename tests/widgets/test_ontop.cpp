// SetOnTop on the platform-independent side: the state it records, and that the window keeps its
// place, its size and its native window.
#include "ontop.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QWidget>
#include <QWindow>

using namespace skyjog;

class TestOnTop : public QObject {
    Q_OBJECT

private slots:
    void shownWindowKeepsPlaceSizeAndNativeWindow() {
        QWidget w;
        w.setGeometry(130, 140, 250, 160);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QRect before = w.geometry();
        QWindow* handle = w.windowHandle();
        const WId id = w.winId();

        for (bool on : {true, false, true}) {
            SetOnTop(&w, on);
            QCOMPARE(onTopRequested(&w), on);
            QCOMPARE(w.geometry(), before);
            QVERIFY(w.isVisible());
            QCOMPARE(w.windowHandle(), handle);
            QCOMPARE(w.winId(), id);
            // Here the toolkit hint carries the state, on the native window only: the widget's
            // own flags are left alone, as changing those re-creates the window.
            QCOMPARE(handle->flags().testFlag(Qt::WindowStaysOnTopHint), on);
            QVERIFY(!w.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        }
    }

    void beforeShowingCreatesTheNativeWindowWithoutShowingIt() {
        QWidget w;
        w.setGeometry(50, 60, 200, 100);
        QVERIFY(!onTopRequested(&w));
        SetOnTop(&w, true);
        QVERIFY(onTopRequested(&w));
        QVERIFY(!w.isVisible());
        QVERIFY(w.windowHandle());
        QVERIFY(w.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.geometry(), QRect(50, 60, 200, 100));
        QVERIFY(w.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
    }

    void aChildStandsForItsWindow() {
        QWidget w;
        auto* b = new QPushButton(&w);
        SetOnTop(b, true);
        QVERIFY(onTopRequested(&w));
        QVERIFY(onTopRequested(b));
        SetOnTop(nullptr, true); // nothing to do, and no crash
        QVERIFY(!onTopRequested(nullptr));
    }

    void bringForwardShowsAndRestores() {
        QWidget w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.hide();
        const bool offscreen = QGuiApplication::platformName() == QLatin1String("offscreen");
        if (offscreen) QTest::ignoreMessage(QtWarningMsg, "This plugin does not support raise()");
        bringForward(&w);
        QVERIFY(w.isVisible());
        w.setWindowState(Qt::WindowMinimized);
        if (offscreen) QTest::ignoreMessage(QtWarningMsg, "This plugin does not support raise()");
        bringForward(&w);
        QVERIFY(!w.isMinimized());
    }
};

QTEST_MAIN(TestOnTop)
#include "test_ontop.moc"
