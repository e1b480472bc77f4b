// The controls that talk to the mount, through the real widgets and the simulated mount: rates
// and Reverse, tracking and PEC, the arrow buttons and keys, the spiral's start and stop.
#include "arrowbutton.h"
#include "padfixture.h"
#include "updown.h"

#include <QAbstractItemView>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QToolButton>
#include <functional>

using namespace skyjog;
using namespace skyjog::test;
using Sent = QVector<QByteArray>;

namespace {

// The user opens the list and clicks an entry.
void pick(QComboBox* list, int index) {
    list->showPopup();
    QAbstractItemView* view = list->view();
    QVERIFY(view->isVisible());
    const QRect r = view->visualRect(view->model()->index(index, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, r.center());
    QVERIFY(!view->isVisible());
    QCOMPARE(list->currentIndex(), index);
}

} // namespace

class TestPadControls : public QObject {
    Q_OBJECT
private slots:
    void firstPickAfterStartUpIsSent() {
        Pad pad;
        Settings s = Pad::simSettings();
        s.TrackModeIndex = 2;
        Interface& w = pad.startOnSim(s);
        QCOMPARE(w.cmbTrackMode->currentText(), QStringLiteral("EQ North"));
        QVERIFY(pad.takeSent().isEmpty());
        pick(w.cmbTrackMode, 0);
        QCOMPARE(pad.takeSent(), Sent{T(0)});
        pick(w.cmbTrackMode, 3);
        pick(w.cmbTrackMode, 3); // the same entry again is a pick all the same
        QCOMPARE(pad.takeSent(), (Sent{T(3), T(3)}));
        QCOMPARE(sim::sharedMountSim().trackingMode(), uint8_t(3));
        // Keys that move the closed list pick too.
        w.cmbTrackMode->setFocus();
        QTest::keyClick(w.cmbTrackMode, Qt::Key_Home);
        QCOMPARE(pad.takeSent(), Sent{T(0)});
        QVERIFY(pad.reports.boxes.empty());
    }

    void firstStartWithTrackingEqNorthRestoresItAfterTheFirstRelease() {
        Pad pad;
        Settings s = Pad::simSettings();
        s.TrackModeIndex = 2;
        Interface& w = pad.startOnSim(s);
        QTest::mousePress(w.cmdUp, Qt::LeftButton);
        QTest::mouseRelease(w.cmdUp, Qt::LeftButton);
        QCOMPARE(pad.takeSent(), (Sent{Slew(Alt, 7, 30, 0), Stop(Alt), T(2)}));
    }

    void pecOption() {
        Pad pad;
        Interface& w = pad.startOnSim();
        QTest::mouseClick(w.optOff, Qt::LeftButton); // already selected: still a click
        QCOMPARE(pad.takeSent(), Sent{cmd::PecPlayback(false)});
        QTest::mouseClick(w.optOn, Qt::LeftButton);
        QCOMPARE(pad.takeSent(), (Sent{cmd::PecSeekIndex(), cmd::PecPlayback(true)}));
        QVERIFY(sim::sharedMountSim().pecPlaying());
        QTest::mouseClick(w.optOn, Qt::LeftButton);
        QTest::mouseClick(w.optOff, Qt::LeftButton);
        QCOMPARE(pad.takeSent(),
                 (Sent{cmd::PecSeekIndex(), cmd::PecPlayback(true), cmd::PecPlayback(false)}));
        QVERIFY(w.optOff->isChecked());
        QVERIFY(!sim::sharedMountSim().pecPlaying());
    }

    void ratePicksSetTheirOwnAxisOnly() {
        Pad pad;
        Interface& w = pad.startOnSim();
        pick(w.cmbAzRate, 4); // 8x
        QCOMPARE((QList<int16_t>{w.AzRateHigh, w.AzRateLow, w.AltRateHigh, w.AltRateLow}),
                 (QList<int16_t>{1, 224, 30, 0}));
        pick(w.cmbAzRate, 13);
        QCOMPARE((QList<int16_t>{w.AzRateHigh, w.AzRateLow}), (QList<int16_t>{168, 192}));
        pick(w.cmbAltRate, 0);
        QCOMPARE((QList<int16_t>{w.AzRateHigh, w.AzRateLow, w.AltRateHigh, w.AltRateLow}),
                 (QList<int16_t>{168, 192, 0, 30}));
        QVERIFY(pad.takeSent().isEmpty());

        // The next press uses the new rates.
        QTest::mousePress(w.cmdRight, Qt::LeftButton);
        QTest::mouseRelease(w.cmdRight, Qt::LeftButton);
        QTest::mousePress(w.cmdDown, Qt::LeftButton);
        QTest::mouseRelease(w.cmdDown, Qt::LeftButton);
        QCOMPARE(pad.takeSent(), (Sent{T(0), Slew(Az, 6, 168, 192), Stop(Az), T(1), T(0),
                                       Slew(Alt, 6, 0, 30), Stop(Alt), T(1)}));
    }

    void rateChangeWhileHeldAffectsOnlyTheNextPress() {
        Pad pad;
        Settings s = Pad::simSettings();
        s.TrackModeIndex = 0;
        Interface& w = pad.startOnSim(s);
        QTest::mousePress(w.cmdLeft, Qt::LeftButton);
        pick(w.cmbAzRate, 9);
        QTest::mouseRelease(w.cmdLeft, Qt::LeftButton);
        QTest::mousePress(w.cmdLeft, Qt::LeftButton);
        QTest::mouseRelease(w.cmdLeft, Qt::LeftButton);
        QCOMPARE(pad.takeSent(),
                 (Sent{Slew(Az, 7, 30, 0), Stop(Az), T(0), Slew(Az, 7, 56, 64), Stop(Az), T(0)}));
    }

    void reverseButtons() {
        Pad pad;
        Settings s = Pad::simSettings();
        s.UpMessage = 7;
        s.DownMessage = 7; // a pair that is not one of each
        Interface& w = pad.startOnSim(s);
        QTest::mouseClick(w.cmdRevUD, Qt::LeftButton);
        QCOMPARE((QList<int16_t>{w.UpMessage, w.DownMessage}), (QList<int16_t>{6, 7}));
        QTest::mouseClick(w.cmdRevUD, Qt::LeftButton);
        QCOMPARE((QList<int16_t>{w.UpMessage, w.DownMessage}), (QList<int16_t>{7, 6}));
        QTest::mouseClick(w.cmdRevLR, Qt::LeftButton);
        QCOMPARE((QList<int16_t>{w.LeftMessage, w.RightMessage}), (QList<int16_t>{6, 7}));
        QCOMPARE((QList<int16_t>{w.UpMessage, w.DownMessage}), (QList<int16_t>{7, 6}));
        QTest::mouseClick(w.cmdRevLR, Qt::LeftButton);
        QCOMPARE((QList<int16_t>{w.LeftMessage, w.RightMessage}), (QList<int16_t>{7, 6}));
        QCOMPARE(w.cmdRevLR->text(), QStringLiteral("Reverse"));
        QVERIFY(pad.takeSent().isEmpty());

        // A running slew is not touched: its stop does not depend on the direction.
        QTest::mousePress(w.cmdLeft, Qt::LeftButton);
        QTest::mouseClick(w.cmdRevLR, Qt::LeftButton);
        QTest::mouseRelease(w.cmdLeft, Qt::LeftButton);
        QTest::mousePress(w.cmdLeft, Qt::LeftButton);
        QTest::mouseRelease(w.cmdLeft, Qt::LeftButton);
        QCOMPARE(pad.takeSent(), (Sent{T(0), Slew(Az, 7, 30, 0), Stop(Az), T(1), T(0),
                                       Slew(Az, 6, 30, 0), Stop(Az), T(1)}));
        // Keys still reach the window after a button took the focus.
        QVERIFY(!w.KeyIsDown());
        pad.press(QApplication::focusWidget() ? QApplication::focusWidget() : &w, Qt::Key_Up);
        QCOMPARE(pad.takeSent(), (Sent{T(0), Slew(Alt, 7, 30, 0)}));
    }

    // Press and release of every arrow button in every tracking mode.
    void arrowButtons_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("arrow");
        QTest::addColumn<int>("button");
        const char* modes[] = {"Off", "Alt/Az", "EQ North", "EQ South"};
        const char* arrows[] = {"Up", "Down", "Left", "Right"};
        for (int m = 0; m < 4; ++m)
            for (int a = 0; a < 4; ++a)
                QTest::addRow("%s %s", modes[m], arrows[a]) << m << a << int(Qt::LeftButton);
        QTest::newRow("right mouse button") << 1 << 0 << int(Qt::RightButton);
        QTest::newRow("middle mouse button") << 2 << 3 << int(Qt::MiddleButton);
    }
    void arrowButtons() {
        QFETCH(int, mode);
        QFETCH(int, arrow);
        QFETCH(int, button);
        Pad pad;
        Settings s = Pad::simSettings();
        s.TrackModeIndex = int16_t(mode);
        Interface& w = pad.startOnSim(s);
        ArrowButton* buttons[] = {w.cmdUp, w.cmdDown, w.cmdLeft, w.cmdRight};
        const uint8_t motor = arrow < 2 ? Alt : Az;
        const uint8_t id = (arrow % 2 == 0) ? 7 : 6;
        const QByteArray slew = Slew(motor, id, 30, 0);

        const double before = sim::sharedMountSim().axisRate(motor); // tracking, if any
        QTest::mousePress(buttons[arrow], Qt::MouseButton(button));
        Sent expected;
        if (mode == 1) expected << T(0);
        expected << slew;
        QCOMPARE(pad.takeSent(), expected);
        QCOMPARE(w.LastCommand, slew);
        QVERIFY(sim::sharedMountSim().axisRate(motor) != before);

        // Released away from the button: it kept the mouse.
        QTest::mouseRelease(buttons[arrow], Qt::MouseButton(button), {}, QPoint(-40, -40));
        QCOMPARE(pad.takeSent(), (Sent{Stop(motor), T(uint8_t(mode))}));
        QCOMPARE(w.LastCommand, Stop(motor));
        QCOMPARE(sim::sharedMountSim().axisRate(motor), mode == 0 ? 0.0 : before);
        QVERIFY(pad.reports.boxes.empty());
    }

    void upAt128xSendsTheDocumentedBytes() {
        Pad pad;
        Interface& w = pad.startOnSim();
        QTest::mousePress(w.cmdUp, Qt::LeftButton);
        QTest::mouseRelease(w.cmdUp, Qt::LeftButton);
        QCOMPARE(pad.takeSent(),
                 (Sent{QByteArray("T\x00", 2), QByteArray("P\x03\x11\x07\x1e\0\0\0", 8),
                       QByteArray("P\x02\x11\x25\0\0\0\0", 8), QByteArray("T\x01", 2)}));
    }

    void secondMouseButtonOnAHeldArrowChangesNothing() {
        Pad pad;
        Interface& w = pad.startOnSim();
        auto mouse = [&](QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons held) {
            QMouseEvent e(type, QPointF(5, 5), w.cmdDown->mapToGlobal(QPointF(5, 5)), button, held,
                          Qt::NoModifier);
            QApplication::sendEvent(w.cmdDown, &e);
        };
        mouse(QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton);
        mouse(QEvent::MouseButtonPress, Qt::RightButton, Qt::LeftButton | Qt::RightButton);
        mouse(QEvent::MouseButtonRelease, Qt::LeftButton, Qt::RightButton);
        QCOMPARE(pad.takeSent(), (Sent{T(0), Slew(Alt, 6, 30, 0)}));
        mouse(QEvent::MouseButtonRelease, Qt::RightButton, Qt::NoButton);
        QCOMPARE(pad.takeSent(), (Sent{Stop(Alt), T(1)}));
    }

    // A pick from the keyboard while an arrow key holds its axis is what the release restores.
    // Opening the list's popup takes the keyboard and the mouse, which ends the hold at once.
    void trackingChangeWhileHeldIsWhatTheReleaseRestores_data() { keyRepeatModes(); }
    void trackingChangeWhileHeldIsWhatTheReleaseRestores() {
        Pad pad;
        Interface& w = pad.startOnSim();
        useKeyRepeatMode(w);
        QTest::mousePress(w.cmdRight, Qt::LeftButton);
        pick(w.cmbTrackMode, 3);
        QTest::mouseRelease(w.cmdRight, Qt::LeftButton);
        QCOMPARE(pad.takeSent(), (Sent{T(0), Slew(Az, 6, 30, 0), Stop(Az), T(1), T(3)}));

        pad.press(&w, Qt::Key_Left);
        w.cmbTrackMode->setFocus();
        QTest::keyClick(w.cmbTrackMode, Qt::Key_O, Qt::NoModifier); // "Off", by its first letter
        QCOMPARE(w.cmbTrackMode->currentIndex(), 0);
        pad.release(&w, Qt::Key_Left);
        QCOMPARE(pad.takeSent(), (Sent{Slew(Az, 7, 30, 0), T(0), Stop(Az), T(0)}));
    }

    void arrowKeysNeverReachTheFocusedControl_data() { keyRepeatModes(); }
    void arrowKeysNeverReachTheFocusedControl() {
        Pad pad;
        Interface& w = pad.startOnSim();
        useKeyRepeatMode(w);
        w.txtWidth->setFocus();
        w.txtWidth->setCursorPosition(1);
        QWidget* targets[] = {w.cmbTrackMode, w.cmbAltRate, w.txtWidth, w.optOff, w.cmdRevLR};
        for (QWidget* t : targets) {
            t->setFocus();
            QTest::keyPress(t, Qt::Key_Down);
            QTest::keyRelease(t, Qt::Key_Down);
            pad.settle();
            QTest::keyPress(t, Qt::Key_Left, Qt::ShiftModifier);
            QTest::keyRelease(t, Qt::Key_Left, Qt::ShiftModifier);
            pad.settle();
            QCOMPARE(pad.takeSent(), (Sent{T(0), Slew(Alt, 6, 30, 0), Stop(Alt), T(1), T(0),
                                           Slew(Az, 7, 30, 0), Stop(Az), T(1)}));
        }
        QCOMPARE(w.cmbTrackMode->currentIndex(), 1);
        QCOMPARE(w.cmbAltRate->currentIndex(), 8);
        QCOMPARE(w.txtWidth->cursorPosition(), 1);
        QVERIFY(w.optOff->isChecked());
        // Other keys are left to the control.
        w.txtWidth->setFocus();
        w.txtWidth->selectAll();
        QTest::keyClicks(w.txtWidth, QStringLiteral("5"));
        QCOMPARE(w.txtWidth->text(), QStringLiteral("5"));
        QCOMPARE(w.SpiralWidth, int16_t(5));
        QVERIFY(pad.takeSent().isEmpty());
    }

    void heldArrowKeyAutoRepeats_data() { keyRepeatModes(); }
    void heldArrowKeyAutoRepeats() {
        Pad pad;
        Interface& w = pad.startOnSim();
        useKeyRepeatMode(w);
        w.cmbAzRate->setFocus();
        pad.press(w.cmbAzRate, Qt::Key_Right);
        for (int i = 0; i < 5; ++i)
            pad.repeat(w.cmbAzRate, Qt::Key_Right);
        QCOMPARE(pad.takeSent(), (Sent{T(0), Slew(Az, 6, 30, 0)}));
        QVERIFY(w.KeyIsDown());
        pad.release(w.cmbAzRate, Qt::Key_Right);
        QCOMPARE(pad.takeSent(), (Sent{Stop(Az), T(1)}));
        QVERIFY(!w.KeyIsDown());
        QCOMPARE(w.cmbAzRate->currentIndex(), 8);
    }

    // On X11 Qt does not always flag the release and press of a held key as auto-repeat; the
    // pair still shares one time stamp.
    void heldArrowKeyAutoRepeatsUnflagged() {
        Pad pad;
        Interface& w = pad.startOnSim();
        pad.press(&w, Qt::Key_Down);
        for (int i = 0; i < 5; ++i) {
            pad.repeat(&w, Qt::Key_Down, false);
            QVERIFY(!w.keyReleasePending());
        }
        QCOMPARE(pad.takeSent(), (Sent{T(0), Slew(Alt, 6, 30, 0)}));
        pad.release(&w, Qt::Key_Down);
        QCOMPARE(pad.takeSent(), (Sent{Stop(Alt), T(1)}));
        QVERIFY(!w.KeyIsDown());

        // A real second press (its own time stamp) after a real release is a new slew.
        pad.press(&w, Qt::Key_Down);
        pad.key(&w, QEvent::KeyRelease, Qt::Key_Down);
        pad.press(&w, Qt::Key_Down);
        QCOMPARE(pad.takeSent(),
                 (Sent{T(0), Slew(Alt, 6, 30, 0), Stop(Alt), T(1), T(0), Slew(Alt, 6, 30, 0)}));
        pad.release(&w, Qt::Key_Down);
        QCOMPARE(pad.takeSent(), (Sent{Stop(Alt), T(1)}));
    }

    // A release that is still held back goes out before anything that follows it.
    void aHeldBackReleaseKeepsItsPlace() {
        Pad pad;
        Interface& w = pad.startOnSim();
        pad.press(&w, Qt::Key_Left);
        pad.key(&w, QEvent::KeyRelease, Qt::Key_Left);
        QVERIFY(w.keyReleasePending());
        pad.press(&w, Qt::Key_Up);
        pad.key(&w, QEvent::KeyRelease, Qt::Key_Up);
        QTest::mousePress(w.cmdRight, Qt::LeftButton);
        QTest::mouseRelease(w.cmdRight, Qt::LeftButton);
        QCOMPARE(pad.takeSent(),
                 (Sent{T(0), Slew(Az, 7, 30, 0), Stop(Az), T(1), T(0), Slew(Alt, 7, 30, 0),
                       Stop(Alt), T(1), T(0), Slew(Az, 6, 30, 0), Stop(Az), T(1)}));
        // Closing right after a key-up still stops that axis, before the program ends.
        pad.press(&w, Qt::Key_Right);
        pad.key(&w, QEvent::KeyRelease, Qt::Key_Right);
        Sent sentByTheEnd;
        w.setProgramEnd([&] { sentByTheEnd = pad.takeSent(); });
        QVERIFY(w.close());
        QCOMPARE(sentByTheEnd, (Sent{T(0), Slew(Az, 6, 30, 0), Stop(Az), T(1)}));
    }

    void secondArrowKeyWhileOneIsHeld_data() { keyRepeatModes(); }
    void secondArrowKeyWhileOneIsHeld() {
        Pad pad;
        Settings s = Pad::simSettings();
        s.TrackModeIndex = 2;
        Interface& w = pad.startOnSim(s);
        useKeyRepeatMode(w);
        // Left held, Up pressed and released first: Up only stops its idle axis.
        pad.press(&w, Qt::Key_Left);
        pad.press(&w, Qt::Key_Up);
        QCOMPARE(pad.takeSent(), Sent{Slew(Az, 7, 30, 0)});
        pad.release(&w, Qt::Key_Up);
        QCOMPARE(pad.takeSent(), (Sent{Stop(Alt), T(2)}));
        QVERIFY(sim::sharedMountSim().axisRate(Az) != 0);
        pad.release(&w, Qt::Key_Left);
        QCOMPARE(pad.takeSent(), (Sent{Stop(Az), T(2)}));

        // Left held, Up pressed, Left released first: Up's next auto-repeat starts it.
        pad.press(&w, Qt::Key_Left);
        pad.press(&w, Qt::Key_Up);
        pad.release(&w, Qt::Key_Left);
        QCOMPARE(pad.takeSent(), (Sent{Slew(Az, 7, 30, 0), Stop(Az), T(2)}));
        pad.repeat(&w, Qt::Key_Up);
        pad.repeat(&w, Qt::Key_Up);
        QCOMPARE(pad.takeSent(), Sent{Slew(Alt, 7, 30, 0)});
        pad.release(&w, Qt::Key_Up);
        QCOMPARE(pad.takeSent(), (Sent{Stop(Alt), T(2)}));
    }

    void buttonAndKeySlewsAreIndependent_data() { keyRepeatModes(); }
    void buttonAndKeySlewsAreIndependent() {
        Pad pad;
        Interface& w = pad.startOnSim();
        useKeyRepeatMode(w);
        pad.press(&w, Qt::Key_Left);
        QTest::mousePress(w.cmdUp, Qt::LeftButton);
        QTest::mouseRelease(w.cmdUp, Qt::LeftButton);
        pad.release(&w, Qt::Key_Left);
        QCOMPARE(pad.takeSent(), (Sent{T(0), Slew(Az, 7, 30, 0), T(0), Slew(Alt, 7, 30, 0),
                                       Stop(Alt), T(1), Stop(Az), T(1)}));
    }

    void losingTheWindowStopsAKeyboardSlew_data() { keyRepeatModes(); }
    void losingTheWindowStopsAKeyboardSlew() {
        Pad pad;
        Interface& w = pad.startOnSim();
        useKeyRepeatMode(w);
        QWidget other;
        other.setAttribute(Qt::WA_ShowWithoutActivating);
        other.show();
        QApplication::setActiveWindow(&w);
        pad.press(&w, Qt::Key_Down);
        QCOMPARE(pad.takeSent(), (Sent{T(0), Slew(Alt, 6, 30, 0)}));
        QApplication::setActiveWindow(&other);
        QVERIFY(!w.isActiveWindow());
        QCOMPARE(pad.takeSent(), (Sent{Stop(Alt), T(1)}));
        QVERIFY(!w.KeyIsDown());
        QCOMPARE(sim::sharedMountSim().axisRate(Alt), 0.0);
        // Back in the window, a new key starts again.
        QApplication::setActiveWindow(&w);
        pad.press(&w, Qt::Key_Right);
        pad.release(&w, Qt::Key_Right);
        QCOMPARE(pad.takeSent(), (Sent{T(0), Slew(Az, 6, 30, 0), Stop(Az), T(1)}));
    }

    void losingTheWindowStopsBothAxesWhenTwoKeysStartedThem_data() { keyRepeatModes(); }
    void losingTheWindowStopsBothAxesWhenTwoKeysStartedThem() {
        Pad pad;
        Settings s = Pad::simSettings();
        s.TrackModeIndex = 0;
        Interface& w = pad.startOnSim(s);
        useKeyRepeatMode(w);
        pad.press(&w, Qt::Key_Left);
        pad.press(&w, Qt::Key_Up);
        pad.release(&w, Qt::Key_Up); // frees the guard while Left still runs
        pad.press(&w, Qt::Key_Down);
        QCOMPARE(pad.takeSent(), (Sent{Slew(Az, 7, 30, 0), Stop(Alt), T(0), Slew(Alt, 6, 30, 0)}));
        QWidget other;
        other.show();
        QApplication::setActiveWindow(&other);
        const Sent sent = pad.takeSent();
        QCOMPARE(sent.size(), 4);
        QVERIFY(sent.contains(Stop(Alt)) && sent.contains(Stop(Az)));
        QCOMPARE(sent.count(T(0)), 2);
        QCOMPARE(sim::sharedMountSim().axisRate(Alt), 0.0);
        QCOMPARE(sim::sharedMountSim().axisRate(Az), 0.0);
    }

    void anArrowButtonThatLosesTheMouseStops() {
        Pad pad;
        Interface& w = pad.startOnSim();
        QWidget other;
        other.setAttribute(Qt::WA_ShowWithoutActivating);
        other.show();
        QApplication::setActiveWindow(&w);
        QTest::mousePress(w.cmdLeft, Qt::LeftButton);
        QApplication::setActiveWindow(&other);
        QCOMPARE(pad.takeSent(), (Sent{T(0), Slew(Az, 7, 30, 0), Stop(Az), T(1)}));
        QVERIFY(!w.cmdLeft->isHeld());
        QVERIFY(!w.cmdLeft->isDown());
        QApplication::setActiveWindow(&w);
        QTest::mouseRelease(w.cmdLeft, Qt::LeftButton); // the late release changes nothing
        QVERIFY(pad.takeSent().isEmpty());

        QTest::mousePress(w.cmdUp, Qt::LeftButton);
        QEvent ungrab(QEvent::UngrabMouse);
        QApplication::sendEvent(w.cmdUp, &ungrab);
        QCOMPARE(pad.takeSent(), (Sent{T(0), Slew(Alt, 7, 30, 0), Stop(Alt), T(1)}));
    }

    // A message box during a press runs its own event loop; a release handled there must not go
    // out before the start that is still to come.
    void aReleaseInsideAPressWaitsForIt_data() { keyRepeatModes(); }
    void aReleaseInsideAPressWaitsForIt() {
        Pad pad;
        Interface& w = pad.startOnSim();
        useKeyRepeatMode(w);
        QWidget other;
        other.setAttribute(Qt::WA_ShowWithoutActivating);
        other.show();
        QApplication::setActiveWindow(&w);
        FakeLine line;
        line.acknowledge = true;
        Comm1().setBackendFactory(line.factory());
        line.failOpen = std::make_pair(8002, QStringLiteral("Port busy"));
        pad.reports.onReport = [&](const ReportRecorder::Box&) {
            line.failOpen.reset();
            QApplication::setActiveWindow(&other); // the box takes the window's place
        };
        pad.press(&w, Qt::Key_Up);
        QCOMPARE(pad.reports.texts(), QStringList{"Port busy - 8002"});
        QCOMPARE(line.writes, (QVector<QByteArray>{Slew(Alt, 7, 30, 0), Stop(Alt), T(1)}));
        QVERIFY(!w.KeyIsDown());
    }

    void sKeyTogglesTheSpiralOncePerPress_data() { keyRepeatModes(); }
    void sKeyTogglesTheSpiralOncePerPress() {
        Pad pad;
        Interface& w = pad.startOnSim();
        useKeyRepeatMode(w);
        w.cmbAltRate->setFocus();
        QVector<bool> runningAt;
        const uint32_t t0 = pad.clock.now();
        // Held S: auto-repeats do not stop the spiral; a real second press does.
        pad.clock.at(t0 + 300, [&] { pad.repeat(w.cmbAltRate, Qt::Key_S); });
        pad.clock.at(t0 + 600, [&] { pad.repeat(w.cmbAltRate, Qt::Key_S); });
        pad.clock.at(t0 + 700, [&] { pad.release(w.cmbAltRate, Qt::Key_S); });
        pad.clock.at(t0 + 900, [&] {
            runningAt << !StopSpiral << w.lblSpiral->isVisible();
            QVERIFY(!w.close()); // refused while it runs
            pad.press(w.cmbAltRate, Qt::Key_S);
        });
        pad.clock.at(t0 + 5000, [&] { StopSpiral = true; }); // bounds a failing run
        pad.press(w.cmbAltRate, Qt::Key_S);
        QVERIFY(pad.clock.now() < t0 + 5000);
        QCOMPARE(runningAt, (QVector<bool>{true, true}));
        QVERIFY(StopSpiral);
        QVERIFY(w.lblSpiral->isHidden());
        QVERIFY(pad.clock.now() >= t0 + 900);
        QCOMPARE(pad.reports.texts(), QStringList{"Please stop the spiral!"});
        const Sent sent = pad.takeSent();
        QVERIFY(sent.size() > 6);
        QCOMPARE(sent.first(), cmd::GetAzAlt());
        QCOMPARE(sent.mid(sent.size() - 3), (Sent{Stop(Alt), Stop(Az), T(1)}));
        QCOMPARE(w.cmbAltRate->currentIndex(), 8);
        QVERIFY(w.close());
    }

    void heldSUnflaggedTogglesOnce() {
        Pad pad;
        Interface& w = pad.startOnSim();
        bool runningAfterRepeats = false;
        const uint32_t t0 = pad.clock.now();
        pad.clock.at(t0 + 300, [&] { pad.repeat(&w, Qt::Key_S, false); });
        pad.clock.at(t0 + 400, [&] { pad.repeat(&w, Qt::Key_S, false); });
        pad.clock.at(t0 + 500, [&] { pad.release(&w, Qt::Key_S); });
        pad.clock.at(t0 + 800, [&] {
            runningAfterRepeats = !StopSpiral;
            pad.press(&w, Qt::Key_S);
        });
        pad.press(&w, Qt::Key_S);
        QVERIFY(runningAfterRepeats);
        QVERIFY(StopSpiral);
        QVERIFY(pad.clock.now() >= t0 + 800);
    }

    // With detectable auto-repeat a held key repeats its presses, unflagged and with no key-up
    // between; its one key-up is the real release and acts at once.
    void detectableRepeatArrowKeys() {
        Pad pad;
        Settings s = Pad::simSettings();
        s.TrackModeIndex = 2;
        Interface& w = pad.startOnSim(s);
        QCOMPARE(w.keyRepeat(), Interface::KeyRepeat::ReleasePairs); // no X server here
        w.setKeyRepeat(Interface::KeyRepeat::Detectable);
        w.cmbAzRate->setFocus();
        pad.press(w.cmbAzRate, Qt::Key_Right);
        for (int i = 0; i < 5; ++i)
            pad.press(w.cmbAzRate, Qt::Key_Right);
        QCOMPARE(pad.takeSent(), Sent{Slew(Az, 6, 30, 0)});
        // Sent before the key-up's delivery returns: nothing waits for a press to follow.
        pad.key(w.cmbAzRate, QEvent::KeyRelease, Qt::Key_Right);
        QVERIFY(!w.keyReleasePending());
        QCOMPARE(pad.takeSent(), (Sent{Stop(Az), T(2)}));
        QVERIFY(!w.KeyIsDown());
        QCOMPARE(w.cmbAzRate->currentIndex(), 8);

        // A key-up and a press that share a time stamp are a quick second tap here, not a
        // repetition: the axis stops and starts again.
        pad.press(&w, Qt::Key_Down);
        pad.key(&w, QEvent::KeyRelease, Qt::Key_Down, false, 90000);
        pad.key(&w, QEvent::KeyPress, Qt::Key_Down, false, 90000);
        QCOMPARE(pad.takeSent(), (Sent{Slew(Alt, 6, 30, 0), Stop(Alt), T(2), Slew(Alt, 6, 30, 0)}));
        pad.key(&w, QEvent::KeyRelease, Qt::Key_Down);
        QCOMPARE(pad.takeSent(), (Sent{Stop(Alt), T(2)}));

        // Left held, Up pressed, Left released first: Up's next repetition starts its axis.
        pad.press(&w, Qt::Key_Left);
        pad.press(&w, Qt::Key_Up);
        pad.key(&w, QEvent::KeyRelease, Qt::Key_Left);
        QCOMPARE(pad.takeSent(), (Sent{Slew(Az, 7, 30, 0), Stop(Az), T(2)}));
        pad.press(&w, Qt::Key_Up);
        pad.press(&w, Qt::Key_Up);
        QCOMPARE(pad.takeSent(), Sent{Slew(Alt, 7, 30, 0)});
        pad.key(&w, QEvent::KeyRelease, Qt::Key_Up);
        QCOMPARE(pad.takeSent(), (Sent{Stop(Alt), T(2)}));
    }

    // A held S repeats its presses only: they do not toggle the spiral again.
    void detectableRepeatSTogglesOnce() {
        Pad pad;
        Interface& w = pad.startOnSim();
        w.setKeyRepeat(Interface::KeyRepeat::Detectable);
        bool runningAfterRepeats = false;
        const uint32_t t0 = pad.clock.now();
        pad.clock.at(t0 + 300, [&] { pad.press(&w, Qt::Key_S); });
        pad.clock.at(t0 + 400, [&] { pad.press(&w, Qt::Key_S); });
        pad.clock.at(t0 + 500, [&] { pad.key(&w, QEvent::KeyRelease, Qt::Key_S); });
        pad.clock.at(t0 + 800, [&] {
            runningAfterRepeats = !StopSpiral;
            pad.press(&w, Qt::Key_S);
        });
        pad.clock.at(t0 + 5000, [&] { StopSpiral = true; }); // bounds a failing run
        pad.press(&w, Qt::Key_S);
        QVERIFY(runningAfterRepeats);
        QVERIFY(StopSpiral);
        QVERIFY(pad.clock.now() >= t0 + 800);
        QVERIFY(pad.clock.now() < t0 + 5000);
        QVERIFY(w.lblSpiral->isHidden());
    }

    // The key-up of a held S may never reach the main window: when it lands in another window
    // of the program, or the window is deactivated (the key-up then goes to someone else), the
    // next S is a press again and stops the spiral.
    void detectableRepeatSKeyUpElsewhere() {
        Pad pad;
        Interface& w = pad.startOnSim();
        w.setKeyRepeat(Interface::KeyRepeat::Detectable);
        QWidget other;
        other.setAttribute(Qt::WA_ShowWithoutActivating);
        other.show();
        QCoreApplication::processEvents(); // the platform's own activation of the new window
        QApplication::setActiveWindow(&w);
        using Step = std::function<void()>;
        const Step keyUpInOtherWindow = [&] { pad.key(&other, QEvent::KeyRelease, Qt::Key_S); };
        const Step windowLost = [&] {
            QApplication::setActiveWindow(&other);
            QApplication::setActiveWindow(&w);
        };
        int timeouts = 0; // a spiral the second press failed to stop ends here
        for (const Step& keyUpGoesAstray : {keyUpInOtherWindow, windowLost}) {
            const uint32_t t0 = pad.clock.now();
            bool runningBeforeSecondPress = false;
            bool activeAtSecondPress = false;
            pad.clock.at(t0 + 300, keyUpGoesAstray);
            pad.clock.at(t0 + 400, [&] {
                runningBeforeSecondPress = !StopSpiral;
                activeAtSecondPress = w.isActiveWindow();
                pad.press(&w, Qt::Key_S);
            });
            pad.clock.at(t0 + 5000, [&] {
                ++timeouts;
                StopSpiral = true;
            });
            pad.press(&w, Qt::Key_S);
            QVERIFY(runningBeforeSecondPress);
            QVERIFY(activeAtSecondPress);
            QVERIFY(StopSpiral);
            QCOMPARE(timeouts, 0);
            pad.key(&w, QEvent::KeyRelease, Qt::Key_S);
        }
    }

    void spiralButtonStartsAndStops() {
        Pad pad;
        Interface& w = pad.startOnSim();
        pad.clock.at(pad.clock.now() + 200,
                     [&] { QTest::mouseClick(w.cmdSpiral, Qt::LeftButton); });
        QTest::mouseClick(w.cmdSpiral, Qt::LeftButton);
        QVERIFY(StopSpiral);
        const Sent sent = pad.takeSent();
        QCOMPARE(sent.first(), cmd::GetAzAlt());
        QCOMPARE(sent.mid(sent.size() - 3), (Sent{Stop(Alt), Stop(Az), T(1)}));
    }

    void sIsTypedIntoThePortBox() {
        Pad pad;
        Interface& w = pad.startOnSim();
        w.txtCommPort->setFocus();
        w.txtCommPort->clear();
        QTest::keyClicks(w.txtCommPort, QStringLiteral("SIM"));
        QCOMPARE(w.txtCommPort->text(), QStringLiteral("SIM"));
        QCOMPARE(Comm1().port().kind, PortSpec::Kind::Sim);
        QVERIFY(StopSpiral);
        QVERIFY(pad.takeSent().isEmpty());
        // Arrows there still slew.
        QTest::keyClick(w.txtCommPort, Qt::Key_Up);
        pad.settle();
        QCOMPARE(pad.takeSent(), (Sent{T(0), Slew(Alt, 7, 30, 0), Stop(Alt), T(1)}));
    }

    void widthAndDelayBoxes() {
        Pad pad;
        Settings s = Pad::simSettings();
        s.CornerDelay = 0.5;
        Interface& w = pad.startOnSim(s);
        QCOMPARE(w.txtDummy->text(), QStringLiteral("5"));
        QCOMPARE(w.UpDown2->buddy(), w.txtWidth);
        QCOMPARE((QList<int>{w.UpDown2->minimum(), w.UpDown2->maximum(), w.UpDown2->increment()}),
                 (QList<int>{0, 10, 1}));
        QCOMPARE(w.UpDown3->buddy(), w.txtDummy);
        QCOMPARE((QList<int>{w.UpDown3->minimum(), w.UpDown3->maximum(), w.UpDown3->increment()}),
                 (QList<int>{0, 100, 5}));

        // A typed delay does not move the hidden counter.
        w.txtCornerDelay->setText(QStringLiteral("3"));
        QCOMPARE(w.CornerDelay, 3.0);
        QTest::mouseClick(w.UpDown3->upButton(), Qt::LeftButton);
        QCOMPARE(w.txtDummy->text(), QStringLiteral("10"));
        QCOMPARE(w.txtCornerDelay->text(), QStringLiteral("1"));
        QCOMPARE(w.CornerDelay, 1.0);
        QTest::mouseClick(w.UpDown3->upButton(), Qt::LeftButton);
        QCOMPARE(w.txtCornerDelay->text(), QStringLiteral("1.5"));
        QCOMPARE(w.CornerDelay, 1.5);

        QTest::mouseClick(w.UpDown2->upButton(), Qt::LeftButton);
        QCOMPARE(w.txtWidth->text(), QStringLiteral("4"));
        QCOMPARE(w.SpiralWidth, int16_t(4));
        w.txtWidth->setText(QStringLiteral("2.5"));
        QCOMPARE(w.SpiralWidth, int16_t(2));
        w.txtWidth->setText(QString());
        w.txtCornerDelay->setText(QStringLiteral("soon"));
        w.txtWidth->setText(QStringLiteral("40000"));
        QCOMPARE(pad.reports.texts(),
                 (QStringList{"Type mismatch - 13", "Type mismatch - 13", "Overflow - 6"}));
        QCOMPARE(w.SpiralWidth, int16_t(2));
        QCOMPARE(w.CornerDelay, 1.5);
        QVERIFY(pad.takeSent().isEmpty());
    }

    void directionCodeThatIsNotAByteIsReportedNotTruncated() {
        Pad pad;
        Interface& w = pad.startOnSim();
        // The settings file refuses such a code, so only the window's own state can hold one.
        w.UpMessage = 263; // would go out as 7 if cut to a byte
        QTest::mousePress(w.cmdUp, Qt::LeftButton);
        QCOMPARE(pad.reports.texts(), QStringList{"Invalid procedure call or argument - 5"});
        QTest::mouseRelease(w.cmdUp, Qt::LeftButton);
        QCOMPARE(pad.takeSent(), (Sent{T(0), Stop(Alt), T(1)}));
    }
};

QTEST_MAIN(TestPadControls)
#include "test_padcontrols.moc"
