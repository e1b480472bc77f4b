// The Help and About windows: the page byte for byte, Escape, the labels, and one window of each
// kind at a time, loaded afresh after closing.
#include "infowindows.h"
#include "ontop.h"
#include "testhelpers.h"

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

using namespace skyjog;
using skyjog::test::quietOffscreenWarnings;

namespace {

// clang-format off
const char* const ExpectedHelp =
    "Skyjog  -  SKJG\r\n"
    "\r\n"
    "SKJG provides arrow button control from a PC connected to most Celestron GoTo "
    "telescopes.  Models NOT supported are the original NexStar 5/8, the NexStar GT "
    "models and the Ultima 2000 line.  All newer models should work with this "
    "program.\r\n"
    "\r\n"
    "CAUTION: Just as with the arrow buttons on the hand control, SKJG can easily "
    "move the scope such that something makes contact with the mount.  Unlike the "
    "hand control, when using SKJG you might not be watching the scope closely and "
    "thus you might DAMAGE something!  Use appropriate caution.\r\n"
    "\r\n"
    "SKJG is especially useful for remote control of your scope and for imaging "
    "purposes when you are already using a PC to capture images.\r\n"
    "\r\n"
    "When you start, be sure to set the correct communications port (serial port "
    "number) as well as the tracking mode your scope will be using (Alt/Az, EQ "
    "North, EQ South).  If you you have a CGE with hand control version 3.01 or "
    "AS-GT scope with hand control version 3.04 or 3.03, you must select Alt/Az if "
    "you are in the Northern Hemisphere and EQ North if you are in the Southern "
    "Hemisphere (these versions have a small bug).  Also, note that if you want to "
    "temporarily suspend tracking (for example, if stepping away from the scope for "
    "a couple of hours), there is an option to set tracking off.\r\n"
    "\r\n"
    "In addition to using the arrow buttons shown on the PC screen, the arrow keys "
    "on your PC provide the same function.  Note the option to set different rates "
    "for each axis (don't you wish the hand control did that!).  Also, you can "
    "easily change the direction of each pair of arrows with the 'Reverse' buttons.\r\n"
    "\r\n"
    "The button with the square spiral will cause the scope to spiral out from the "
    "current location - useful if the GoTo didn't place an object in the field of "
    "view of the eyepiece or camera.  Click the button once to begin the spiral - "
    "click it again to stop.  In addition to clicking the spiral button on the "
    "screen, you can also press the 's' key on the PC keyboard.  Adjust to a higher "
    "'Width' for lower magnification, wider fields of view.  Use the 'Delay' to "
    "pause at each corner of the spiral.  The delay is measured in seconds and can "
    "allow a CCD camera to capture a quick image of a faint object and thus let you "
    "know when to stop the spiral.  For visual use, web cams or other cameras that "
    "can see in real-time, the delay should be 0.\r\n"
    "\r\n"
    "For the scope models that offer it, SKJG can turn on and off PEC playback.\r\n"
    "\r\n"
    "On the Tools menu you will find Scope Setup.  Here you can set Anti-Backlash on "
    "the scope (just as if you were using the hand control).  This is especially "
    "useful if you notice that after using the arrow buttons the tracking seems to "
    "pause for a few moments - this is normally caused by backlash in the gears and "
    "is compensated for with Anti-Backlash.  Also, you can set the AutoGuide Rate - "
    "useful if you are using a camera interfaced to the AutoGuide port on the scope.\r\n"
    "\r\n";
// clang-format on

void flushDeletes() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

int visibleWindowsNamed(const char* name) {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String(name) && w->isVisible()) ++n;
    return n;
}

} // namespace

class TestInfoWindows : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { quietOffscreenWarnings(); }
    void cleanup() {
        for (QWidget* w : QApplication::topLevelWidgets())
            w->close();
        flushDeletes();
    }

    void helpTextByteForByte() {
        const QByteArray text = HelpText().toLatin1();
        QCOMPARE(text, QByteArray(ExpectedHelp));
        // Every line break is CR LF, and the page ends with a blank line.
        QCOMPARE(text.count('\n'), text.count("\r\n"));
        QCOMPARE(text.count('\r'), text.count("\r\n"));
        QVERIFY(text.endsWith("\r\n\r\n"));
        QCOMPARE(text.count("\r\n\r\n"), 9);
        // PEC playback comes after the spiral and before the scope setup.
        const auto spiral = text.indexOf("square spiral");
        const auto pec = text.indexOf("PEC playback");
        const auto setup = text.indexOf("On the Tools menu");
        QVERIFY(spiral >= 0 && spiral < pec && pec < setup);
    }

    void helpWindowLayoutAndPage() {
        ShowHelp();
        HelpWindow* help = HelpWindow::current();
        QVERIFY(help);
        QVERIFY(QTest::qWaitForWindowExposed(help));
        QCOMPARE(help->objectName(), QStringLiteral("Help"));
        QCOMPARE(help->windowTitle(), QStringLiteral("Skyjog Help"));
        QCOMPARE(help->size(), QSize(531, 356)); // 7965 x 5340 twips
        QVERIFY(help->minimumSize() == help->maximumSize());
        QVERIFY(!help->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!help->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
        QVERIFY(!help->parentWidget());
        QVERIFY(!help->isModal());
        QVERIFY(onTopRequested(help));

        auto* box = help->findChild<QPlainTextEdit*>(QStringLiteral("txtHelp"));
        QVERIFY(box);
        QCOMPARE(box->geometry(), QRect(4, 4, 523, 349));
        QCOMPARE(box->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(box->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        // The box shows the page line for line.
        QCOMPARE(box->toPlainText(), QString::fromLatin1(ExpectedHelp)
                                         .replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
        QVERIFY(box->verticalScrollBar()->maximum() > 0); // the page is longer than the box
    }

    void escapeClosesHelpEvenFromTheTextBox() {
        ShowHelp();
        QPointer<HelpWindow> help = HelpWindow::current();
        auto* box = help->findChild<QPlainTextEdit*>(QStringLiteral("txtHelp"));
        box->setFocus();
        // Other keys stay with the box.
        QTest::keyClick(box, Qt::Key_PageDown);
        QTest::keyClick(box, Qt::Key_A);
        QVERIFY(help->isVisible());
        QTest::keyClick(box, Qt::Key_Escape);
        QVERIFY(!HelpWindow::current());
        flushDeletes();
        QVERIFY(!help); // closing unloads it

        // Escape with the focus on the window itself closes it too.
        ShowHelp();
        help = HelpWindow::current();
        QTest::keyClick(help.data(), Qt::Key_Escape);
        QVERIFY(!HelpWindow::current());
    }

    void escapeClosesAboutFromItsButtonAndItself() {
        for (bool onButton : {true, false}) {
            ShowAbout();
            QPointer<AboutWindow> about = AboutWindow::current();
            QWidget* target = onButton ? static_cast<QWidget*>(about->findChild<QPushButton*>(
                                             QStringLiteral("cmdOK")))
                                       : about.data();
            QTest::keyClick(target, Qt::Key_Tab); // other keys leave it open
            QVERIFY(about->isVisible());
            QTest::keyClick(target, Qt::Key_Escape);
            QVERIFY2(!AboutWindow::current(), onButton ? "from OK" : "from the window");
            flushDeletes();
            QVERIFY(!about);
        }
    }

    void oneHelpWindowLoadedAgainAfterClosing() {
        ShowHelp();
        HelpWindow* first = HelpWindow::current();
        auto* box = first->findChild<QPlainTextEdit*>(QStringLiteral("txtHelp"));
        box->setPlainText(QStringLiteral("changed"));
        ShowHelp(); // already open: brought forward, not loaded again
        QCOMPARE(HelpWindow::current(), first);
        QCOMPARE(box->toPlainText(), QStringLiteral("changed"));
        QCOMPARE(visibleWindowsNamed("Help"), 1);

        first->close();
        ShowHelp(); // before the closed one is even deleted
        HelpWindow* second = HelpWindow::current();
        QVERIFY(second && second != first);
        QCOMPARE(visibleWindowsNamed("Help"), 1);
        QVERIFY(
            second->findChild<QPlainTextEdit*>()->toPlainText().startsWith("Skyjog  -  SKJG\n\n"));
    }

    void aboutWindow() {
        ShowAbout();
        QPointer<AboutWindow> about = AboutWindow::current();
        QVERIFY(about);
        QVERIFY(QTest::qWaitForWindowExposed(about.data()));
        QCOMPARE(about->objectName(), QStringLiteral("About"));
        QCOMPARE(about->windowTitle(), QStringLiteral("About Skyjog"));
        QCOMPARE(about->size(), QSize(257, 209)); // 3855 x 3135 twips
        QVERIFY(about->minimumSize() == about->maximumSize());
        QVERIFY(!about->parentWidget());
        QVERIFY(onTopRequested(about));

        auto* title = about->findChild<QLabel*>(QStringLiteral("lblTitle"));
        QCOMPARE(title->text(), QStringLiteral("Skyjog"));
        QCOMPARE(title->geometry(), QRect(7, 16, 247, 32));
        QVERIFY(title->font().bold());
        QVERIFY(title->font().italic());
        QCOMPARE(title->font().pointSizeF(), 13.5);
        auto* version = about->findChild<QLabel*>(QStringLiteral("lblVersion"));
        QCOMPARE(version->text(), QStringLiteral("Version 1.0.8"));
        QCOMPARE(version->y(), 48);
        // The labels stack in order, all centred at the same left edge and width.
        int lastTop = version->y();
        for (int top : {72, 88, 104, 138}) {
            QLabel* l = nullptr;
            for (QLabel* c : about->findChildren<QLabel*>())
                if (c->y() == top) l = c;
            QVERIFY2(l, qPrintable(QString::number(top)));
            QVERIFY(!l->text().isEmpty());
            QVERIFY(l->y() > lastTop);
            lastTop = l->y();
            QCOMPARE(l->x(), 7);
            QCOMPARE(l->width(), 247);
            QVERIFY(l->alignment() & Qt::AlignHCenter);
        }
        auto* ok = about->findChild<QPushButton*>(QStringLiteral("cmdOK"));
        QCOMPARE(ok->text(), QStringLiteral("OK"));
        QCOMPARE(ok->size(), QSize(84, 23));
        QVERIFY(ok->y() > lastTop);

        ShowAbout(); // only brought forward
        QCOMPARE(AboutWindow::current(), about.data());
        QCOMPARE(visibleWindowsNamed("About"), 1);

        QTest::mouseClick(ok, Qt::LeftButton);
        QVERIFY(!AboutWindow::current());
        flushDeletes();
        QVERIFY(!about);
    }

    void theSecondaryWindowsAreIndependentOfEachOther() {
        ShowHelp();
        ShowAbout();
        QVERIFY(HelpWindow::current() && AboutWindow::current());
        QVERIFY(onTopRequested(HelpWindow::current()));
        QVERIFY(onTopRequested(AboutWindow::current()));
        HelpWindow::current()->close();
        QVERIFY(AboutWindow::current()); // closing one leaves the other
    }
};

QTEST_MAIN(TestInfoWindows)
#include "test_infowindows.moc"
