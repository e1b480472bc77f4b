// The game controller drives the pad: an SDL virtual controller, read by the window's own poll,
// against the simulated mount, with the exact bytes it sends.
#include "arrowbutton.h"
#include "controllerdialog.h"
#include "gamepad.h"
#include "padfixture.h"
#include "positionwindow.h"
#include "preferences.h"
#include "virtualcontroller.h"

#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QTableWidget>
#include <csignal>
#ifdef Q_OS_UNIX
#include <signal.h>
#endif

using namespace skyjog;
using namespace skyjog::test;
using Sent = QVector<QByteArray>;

namespace {

// The main window on the simulated mount, with a controller plugged in before it starts.
struct Setup {
    explicit Setup(Settings s = Pad::simSettings()) : w(pad.startOnSim(s)) {
        pad.takeSent();
    }
    // What the controller did reaches the window at its next read.
    Sent poll() {
        w.gamePad()->poll();
        return pad.takeSent();
    }
    // Pressed and let go, each seen by a read of its own.
    Sent tap(SDL_GameControllerButton b) {
        controller.button(b, true);
        w.gamePad()->poll();
        controller.button(b, false);
        return poll();
    }
    // What reaches the line once n commands have (waiting at most 2 s for a node's read).
    Sent sentOnceThere(qsizetype n) {
        Sent sent = pad.takeSent();
        for (QDeadlineTimer until(2000); sent.size() < n && !until.hasExpired();) {
            QTest::qWait(2);
            sent += pad.takeSent();
        }
        return sent;
    }
    Pad pad;
    VirtualController controller;
    Interface& w;
};

// The open Tools > Game Controller... dialog, opened if it is not.
ControllerDialog* openDialog(Interface& w) {
    w.mnuControllerDialog->trigger();
    for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<ControllerDialog*>(top); d && d->isVisible()) return d;
    return nullptr;
}

int rowOf(PadAction a) {
    return int(std::find(PadActions.begin(), PadActions.end(), a) - PadActions.begin());
}

// Binds an action through the dialog, by pressing the button on the controller.
void bindInDialog(ControllerDialog& d, Setup& t, PadAction a, SDL_GameControllerButton b) {
    d.tblActions->selectRow(rowOf(a));
    QTest::mouseClick(d.cmdBind, Qt::LeftButton);
    QCOMPARE(d.lblPrompt->text(), QStringLiteral("Press a button for %1").arg(actionName(a)));
    t.controller.button(b, true);
    QVERIFY(t.poll().isEmpty()); // taken by the binding: it does nothing else
    t.controller.button(b, false);
    QVERIFY(t.poll().isEmpty());
    QVERIFY(d.lblPrompt->text().isEmpty());
}

Settings inMode(int trackModeIndex) {
    Settings s = Pad::simSettings();
    s.TrackModeIndex = int16_t(trackModeIndex);
    return s;
}

} // namespace

class TestGamePad : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QVERIFY2(startControllers(), SDL_GetError());
    }
    void cleanupTestCase() { SDL_Quit(); }

#ifdef Q_OS_UNIX
    // Reading controllers leaves the program's signals alone: SIGTERM and SIGINT still end it.
    void theSignalsStayTheProgramsOwn() {
        SDL_Quit();
        std::signal(SIGTERM, SIG_DFL);
        std::signal(SIGINT, SIG_DFL);
        {
            Pad pad;
            Interface& w = pad.startOnSim();
            QVERIFY(w.gamePad()->isAvailable());
            struct sigaction term {}, interrupt {};
            sigaction(SIGTERM, nullptr, &term);
            sigaction(SIGINT, nullptr, &interrupt);
            QVERIFY(term.sa_handler == SIG_DFL);
            QVERIFY(interrupt.sa_handler == SIG_DFL);
        }
        QVERIFY2(startControllers(), SDL_GetError());
    }
#endif

    void theDPadHoldsAnArrowAndItsButtonShowsIt() {
        Setup t;
        QCOMPARE(t.w.mnuController->text(), QStringLiteral("Game &Controller: Skyjog Test Pad"));
        QVERIFY(t.w.mnuController->isChecked());
        QCOMPARE(t.w.gamePad()->pollInterval(), GamePad::FastPollMs);
        t.controller.button(SDL_CONTROLLER_BUTTON_DPAD_UP, true);
        QCOMPARE(t.poll(), (Sent{T(0), Slew(Alt, 7, 30, 0)}));
        QVERIFY(t.w.cmdUp->isDown());
        QCOMPARE(t.w.LastCommand, Slew(Alt, 7, 30, 0));
        QVERIFY(t.poll().isEmpty()); // held: nothing more
        t.controller.button(SDL_CONTROLLER_BUTTON_DPAD_UP, false);
        QCOMPARE(t.poll(), (Sent{Stop(Alt), T(1)}));
        QVERIFY(!t.w.cmdUp->isDown());
        // A short press slews and stops.
        QCOMPARE(t.tap(SDL_CONTROLLER_BUTTON_DPAD_RIGHT),
                 (Sent{T(0), Slew(Az, 6, 30, 0), Stop(Az), T(1)}));
    }

    // The position window reads nothing while the controller holds an arrow, focus or not.
    void noPositionReadingWhileTheControllerHolds() {
        Setup t;
        t.w.mnuPosition->trigger();
        PositionWindow* p = PositionWindow::current();
        QVERIFY(p);
        p->timer()->stop();
        t.pad.takeSent();
        t.controller.button(SDL_CONTROLLER_BUTTON_DPAD_UP, true);
        QCOMPARE(t.poll(), (Sent{T(0), Slew(Alt, 7, 30, 0)}));
        QVERIFY(!t.w.idleForReadings());
        p->poll();
        QVERIFY(t.pad.takeSent().isEmpty());
        t.controller.button(SDL_CONTROLLER_BUTTON_DPAD_UP, false);
        QCOMPARE(t.poll(), (Sent{Stop(Alt), T(1)}));
        QVERIFY(t.w.idleForReadings());
        p->poll();
        QCOMPARE(t.pad.takeSent(), Sent{cmd::GetAzAlt()});
        p->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // Plugged in and out while the pad runs: the menu names what is there, and the read slows
    // down when nothing is.
    void aControllerComesAndGoes() {
        Setup t;
        t.controller.unplug();
        t.poll();
        QCOMPARE(t.w.mnuController->text(), QStringLiteral("Game &Controller (none connected)"));
        QCOMPARE(t.w.gamePad()->pollInterval(), GamePad::SlowPollMs);
        VirtualController other("Second Pad", SecondProductId);
        t.poll();
        QCOMPARE(t.w.mnuController->text(), QStringLiteral("Game &Controller: Second Pad"));
        QCOMPARE(t.w.gamePad()->pollInterval(), GamePad::FastPollMs);
        other.button(SDL_CONTROLLER_BUTTON_DPAD_DOWN, true);
        QCOMPARE(t.poll(), (Sent{T(0), Slew(Alt, 6, 30, 0)}));
        other.button(SDL_CONTROLLER_BUTTON_DPAD_DOWN, false);
        QCOMPARE(t.poll(), (Sent{Stop(Alt), T(1)}));
    }

    void aDiagonalMovesBothAxes() {
        Setup t(inMode(2)); // EQ North: no tracking change around a slew
        t.controller.button(SDL_CONTROLLER_BUTTON_DPAD_UP, true);
        t.controller.button(SDL_CONTROLLER_BUTTON_DPAD_LEFT, true);
        QCOMPARE(t.poll(), (Sent{Slew(Alt, 7, 30, 0), Slew(Az, 7, 30, 0)}));
        QVERIFY(sim::sharedMountSim().axisMoving(Alt));
        QVERIFY(sim::sharedMountSim().axisMoving(Az));
        QVERIFY(t.w.cmdUp->isDown() && t.w.cmdLeft->isDown());
        t.controller.button(SDL_CONTROLLER_BUTTON_DPAD_UP, false);
        QCOMPARE(t.poll(), (Sent{Stop(Alt), T(2)}));
        t.controller.button(SDL_CONTROLLER_BUTTON_DPAD_LEFT, false);
        QCOMPARE(t.poll(), (Sent{Stop(Az), T(2)}));
        // The stick's diagonal is the same.
        t.controller.axis(SDL_CONTROLLER_AXIS_LEFTX, 0.8);
        t.controller.axis(SDL_CONTROLLER_AXIS_LEFTY, 0.8);
        QCOMPARE(t.poll(), (Sent{Slew(Alt, 6, 30, 0), Slew(Az, 6, 30, 0)}));
        t.controller.axis(SDL_CONTROLLER_AXIS_LEFTX, 0);
        t.controller.axis(SDL_CONTROLLER_AXIS_LEFTY, 0);
        QCOMPARE(t.poll(), (Sent{Stop(Alt), T(2), Stop(Az), T(2)}));
    }

    // The stick presses beyond the dead zone and lets go only well inside it; the D-pad and the
    // stick pushed against each other hold nothing.
    // Both stick axes, both ways: each side has the same dead zone and the same hysteresis.
    void theStickHasADeadZoneWithHysteresis_data() {
        QTest::addColumn<int>("axis");
        QTest::addColumn<double>("sign");
        QTest::addColumn<int>("arrow");
        QTest::addColumn<QByteArray>("slew");
        QTest::addColumn<QByteArray>("stop");
        QTest::newRow("up") << int(SDL_CONTROLLER_AXIS_LEFTY) << -1.0 << int(Arrow::Up)
                            << Slew(Alt, 7, 30, 0) << Stop(Alt);
        QTest::newRow("down") << int(SDL_CONTROLLER_AXIS_LEFTY) << 1.0 << int(Arrow::Down)
                              << Slew(Alt, 6, 30, 0) << Stop(Alt);
        QTest::newRow("left") << int(SDL_CONTROLLER_AXIS_LEFTX) << -1.0 << int(Arrow::Left)
                              << Slew(Az, 7, 30, 0) << Stop(Az);
        QTest::newRow("right") << int(SDL_CONTROLLER_AXIS_LEFTX) << 1.0 << int(Arrow::Right)
                               << Slew(Az, 6, 30, 0) << Stop(Az);
    }
    void theStickHasADeadZoneWithHysteresis() {
        QFETCH(int, axis);
        QFETCH(double, sign);
        QFETCH(int, arrow);
        QFETCH(QByteArray, slew);
        QFETCH(QByteArray, stop);
        Setup t(inMode(2));
        const auto stick = SDL_GameControllerAxis(axis);
        t.controller.axis(stick, 0.45 * sign);
        QVERIFY(t.poll().isEmpty());
        t.controller.axis(stick, 0.55 * sign);
        QCOMPARE(t.poll(), (Sent{slew}));
        // Wavering about the edge: still held, nothing sent.
        for (double v : {0.45, 0.52, 0.38, 0.49, 0.36}) {
            t.controller.axis(stick, v * sign);
            QVERIFY(t.poll().isEmpty());
        }
        QVERIFY(t.w.buttonFor(Arrow(arrow))->isDown());
        t.controller.axis(stick, 0.3 * sign);
        QCOMPARE(t.poll(), (Sent{stop, T(2)}));
        QVERIFY(!t.w.buttonFor(Arrow(arrow))->isDown());
    }

    // Straight across from one side to the other: the old direction stops first.
    void theStickCrossesStraightOver() {
        Setup t(inMode(2));
        t.controller.axis(SDL_CONTROLLER_AXIS_LEFTX, -0.9);
        QCOMPARE(t.poll(), (Sent{Slew(Az, 7, 30, 0)}));
        t.controller.axis(SDL_CONTROLLER_AXIS_LEFTX, 0.9);
        QCOMPARE(t.poll(), (Sent{Stop(Az), T(2), Slew(Az, 6, 30, 0)}));
        t.controller.button(SDL_CONTROLLER_BUTTON_DPAD_LEFT, true);
        QCOMPARE(t.poll(), (Sent{Stop(Az), T(2)}));
        t.controller.button(SDL_CONTROLLER_BUTTON_DPAD_LEFT, false);
        QCOMPARE(t.poll(), (Sent{Slew(Az, 6, 30, 0)}));
        t.controller.axis(SDL_CONTROLLER_AXIS_LEFTX, 0);
        QCOMPARE(t.poll(), (Sent{Stop(Az), T(2)}));
    }

    // The dead zone and whether the controller is used come from the preferences file; the
    // menu entry turns it off and on and keeps the choice there, not in the settings line.
    void itsSettingsLiveInAFileOfTheirOwn() {
        Pad pad;
        {
            Preferences prefs(pad.user.path());
            prefs.setValue(QStringLiteral("controller/deadZone"), 20);
            QVERIFY(prefs.save());
        }
        VirtualController controller;
        Interface& w = pad.startOnSim(inMode(2));
        QCOMPARE(w.gamePad()->deadZone(), 0.2);
        controller.axis(SDL_CONTROLLER_AXIS_LEFTX, 0.25);
        w.gamePad()->poll();
        QCOMPARE(pad.takeSent(), (Sent{Slew(Az, 6, 30, 0)}));

        // Turned off while it holds an arrow: the arrow is let go, and nothing is read after.
        w.mnuController->trigger();
        QCOMPARE(pad.takeSent(), (Sent{Stop(Az), T(2)}));
        QCOMPARE(w.mnuController->text(), QStringLiteral("Game &Controller (off)"));
        QVERIFY(!w.mnuController->isChecked());
        QVERIFY(!w.gamePad()->isPolling());
        controller.button(SDL_CONTROLLER_BUTTON_DPAD_UP, true);
        w.gamePad()->poll();
        QVERIFY(pad.takeSent().isEmpty());
        QCOMPARE(Preferences(pad.user.path()).value(QStringLiteral("controller/enabled")).toBool(),
                 false);
        QVERIFY(w.close());
        QCOMPARE(pad.readSettings().count(','), 12);

        // The next start leaves it off.
        pad.window.reset();
        Interface& again = pad.startOnSim(inMode(2));
        QVERIFY(!again.mnuController->isChecked());
        again.mnuController->trigger();
        QCOMPARE(again.mnuController->text(), QStringLiteral("Game &Controller: Skyjog Test Pad"));
        controller.button(SDL_CONTROLLER_BUTTON_DPAD_UP, false);
        controller.button(SDL_CONTROLLER_BUTTON_DPAD_DOWN, true);
        again.gamePad()->poll();
        QCOMPARE(pad.takeSent(), (Sent{Slew(Alt, 6, 30, 0)}));
        controller.button(SDL_CONTROLLER_BUTTON_DPAD_DOWN, false);
        again.gamePad()->poll();
        QCOMPARE(pad.takeSent(), (Sent{Stop(Alt), T(2)}));
    }

    void aControllerUnpluggedMidSlewStopsAtOnce() {
        Setup t;
        t.controller.axis(SDL_CONTROLLER_AXIS_LEFTX, 1.0);
        t.controller.button(SDL_CONTROLLER_BUTTON_DPAD_UP, true);
        QCOMPARE(t.poll(), (Sent{T(0), Slew(Alt, 7, 30, 0), T(0), Slew(Az, 6, 30, 0)}));
        t.controller.unplug();
        const Sent stops = t.poll();
        QCOMPARE(stops.size(), 4);
        QVERIFY(stops.contains(Stop(Az)) && stops.contains(Stop(Alt)));
        QVERIFY(!sim::sharedMountSim().axisMoving(Az) && !sim::sharedMountSim().axisMoving(Alt));
        QVERIFY(!t.w.cmdRight->isDown() && !t.w.cmdUp->isDown());
        QVERIFY(!t.w.gamePad()->holds(Arrow::Right));

        // One that goes without a word (its last events and its removal never read) is let go
        // all the same.
        VirtualController again;
        t.poll();
        again.button(SDL_CONTROLLER_BUTTON_DPAD_LEFT, true);
        QCOMPARE(t.poll(), (Sent{T(0), Slew(Az, 7, 30, 0)}));
        again.unplug();
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
        QCOMPARE(t.poll(), (Sent{Stop(Az), T(1)}));
        QVERIFY(!t.w.cmdLeft->isDown());
        QCOMPARE(t.w.mnuController->text(), QStringLiteral("Game &Controller (none connected)"));
    }

    // Key, mouse and controller on one arrow: the axis stops when the last of them lets go.
    // The focus going elsewhere ends the key's hold but not the controller's; closing ends both.
    void severalSourcesOnOneArrow() {
        Setup t(inMode(2));
        QWidget other;
        other.setAttribute(Qt::WA_ShowWithoutActivating);
        other.show();
        t.w.setKeyRepeat(Interface::KeyRepeat::Detectable);

        t.controller.button(SDL_CONTROLLER_BUTTON_DPAD_LEFT, true);
        QCOMPARE(t.poll(), (Sent{Slew(Az, 7, 30, 0)}));
        t.pad.press(&t.w, Qt::Key_Left);
        QCOMPARE(t.pad.takeSent(), (Sent{Slew(Az, 7, 30, 0)}));
        t.pad.release(&t.w, Qt::Key_Left);
        QVERIFY(t.pad.takeSent().isEmpty());
        QVERIFY(t.w.cmdLeft->isDown());
        QTest::mousePress(t.w.cmdLeft, Qt::LeftButton);
        t.controller.button(SDL_CONTROLLER_BUTTON_DPAD_LEFT, false);
        QCOMPARE(t.poll(), (Sent{Slew(Az, 7, 30, 0)}));
        QTest::mouseRelease(t.w.cmdLeft, Qt::LeftButton);
        QCOMPARE(t.pad.takeSent(), (Sent{Stop(Az), T(2)}));
        QVERIFY(!t.w.cmdLeft->isDown());

        // Key first, then the controller; the key's release leaves the axis to the controller.
        t.pad.press(&t.w, Qt::Key_Right);
        t.controller.button(SDL_CONTROLLER_BUTTON_DPAD_RIGHT, true);
        QCOMPARE(t.poll(), (Sent{Slew(Az, 6, 30, 0), Slew(Az, 6, 30, 0)}));
        QApplication::setActiveWindow(&other); // focus lost: the key's hold ends, not the pad's
        QVERIFY(t.pad.takeSent().isEmpty());
        QVERIFY(sim::sharedMountSim().axisMoving(Az));
        QVERIFY(t.w.cmdRight->isDown());
        // The other arrow of the axis, held and let go meanwhile, does stop the axis.
        QTest::mousePress(t.w.cmdLeft, Qt::LeftButton);
        QTest::mouseRelease(t.w.cmdLeft, Qt::LeftButton);
        QCOMPARE(t.pad.takeSent(), (Sent{Slew(Az, 7, 30, 0), Stop(Az), T(2)}));
        QApplication::setActiveWindow(&t.w);

        // A key's arrow moving the axis keeps it moving through another arrow's releases, and
        // stops it at its own.
        QTest::mousePress(t.w.cmdRight, Qt::LeftButton);
        t.pad.press(&t.w, Qt::Key_Left);
        QCOMPARE(t.pad.takeSent(), (Sent{Slew(Az, 6, 30, 0), Slew(Az, 7, 30, 0)}));
        QTest::mouseRelease(t.w.cmdRight, Qt::LeftButton);
        QVERIFY(t.pad.takeSent().isEmpty());
        t.pad.release(&t.w, Qt::Key_Left);
        QCOMPARE(t.pad.takeSent(), (Sent{Stop(Az), T(2)}));

        // Closing the window ends the controller's hold.
        t.controller.button(SDL_CONTROLLER_BUTTON_DPAD_RIGHT, false);
        t.controller.button(SDL_CONTROLLER_BUTTON_DPAD_UP, true);
        QCOMPARE(t.poll(), (Sent{Stop(Az), T(2), Slew(Alt, 7, 30, 0)}));
        QVERIFY(t.w.close());
        QCOMPARE(t.pad.takeSent(), (Sent{Stop(Alt), T(2)}));
        QVERIFY(!t.w.gamePad());
    }

    // B (and Back) stops everything, whoever holds it, and what is still held on the controller
    // does not start again until it is let go.
    void theAllStopButton_data() {
        QTest::addColumn<int>("button");
        QTest::newRow("B") << int(SDL_CONTROLLER_BUTTON_B);
        QTest::newRow("Back") << int(SDL_CONTROLLER_BUTTON_BACK);
    }
    void theAllStopButton() {
        QFETCH(int, button);
        const auto stopButton = SDL_GameControllerButton(button);
        Setup t(inMode(3));
        t.w.setKeyRepeat(Interface::KeyRepeat::Detectable);
        t.controller.button(SDL_CONTROLLER_BUTTON_DPAD_UP, true);
        t.poll();
        t.pad.press(&t.w, Qt::Key_Left);
        QTest::mousePress(t.w.cmdLeft, Qt::LeftButton);
        t.pad.takeSent();
        t.controller.button(stopButton, true);
        QCOMPARE(t.poll(), (Sent{Stop(Alt), T(3), Stop(Az), T(3)}));
        QVERIFY(!t.w.cmdUp->isDown() && !t.w.cmdLeft->isDown() && !t.w.KeyIsDown());
        QVERIFY(!sim::sharedMountSim().axisMoving(Alt) && !sim::sharedMountSim().axisMoving(Az));
        // Their own releases come later and send nothing more than a key-up would.
        t.controller.button(stopButton, false);
        QVERIFY(t.poll().isEmpty());
        QTest::mouseRelease(t.w.cmdLeft, Qt::LeftButton);
        QVERIFY(t.pad.takeSent().isEmpty());
        t.controller.button(SDL_CONTROLLER_BUTTON_DPAD_UP, false);
        QVERIFY(t.poll().isEmpty());
        t.pad.release(&t.w, Qt::Key_Left);
        t.pad.takeSent();
        t.controller.button(SDL_CONTROLLER_BUTTON_DPAD_UP, true);
        QCOMPARE(t.poll(), (Sent{Slew(Alt, 7, 30, 0)}));
        t.controller.button(SDL_CONTROLLER_BUTTON_DPAD_UP, false);
        QCOMPARE(t.poll(), (Sent{Stop(Alt), T(3)}));
    }

    // A starts the spiral as S does; B ends it.
    void theSpiralButtons() {
        Setup t;
        t.controller.button(SDL_CONTROLLER_BUTTON_A, true);
        QVERIFY(t.poll().isEmpty()); // the spiral starts from its own event
        t.controller.button(SDL_CONTROLLER_BUTTON_A, false);
        bool ranWhileSpiralling = false;
        Sent duringSpiral;
        t.pad.clock.at(t.pad.clock.now() + 3000, [&] {
            ranWhileSpiralling = !StopSpiral && t.w.lblSpiral->isVisible();
            duringSpiral = t.pad.takeSent();
            t.controller.button(SDL_CONTROLLER_BUTTON_B, true);
            t.w.gamePad()->poll();
        });
        QTRY_VERIFY_WITH_TIMEOUT(ranWhileSpiralling, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(t.w.lblSpiral->isHidden(), 5000);
        QVERIFY(StopSpiral);
        QVERIFY(!duringSpiral.isEmpty());
        const Sent after = t.pad.takeSent();
        QCOMPARE(after.mid(0, 4), (Sent{Stop(Alt), T(1), Stop(Az), T(1)}));
        QVERIFY(!sim::sharedMountSim().axisMoving(Alt) && !sim::sharedMountSim().axisMoving(Az));
    }

    // The shoulders step both rate lists as a pick would, each list stopping at its end.
    void theShouldersStepTheRates() {
        Settings s = inMode(2);
        s.AltRateIndex = 12;
        s.AzRateIndex = 1;
        Setup t(s);
        QVERIFY(t.tap(SDL_CONTROLLER_BUTTON_RIGHTSHOULDER).isEmpty());
        QVERIFY(t.tap(SDL_CONTROLLER_BUTTON_RIGHTSHOULDER).isEmpty());
        QCOMPARE(t.w.cmbAltRate->currentIndex(), 13);
        QCOMPARE(t.w.cmbAzRate->currentIndex(), 3);
        t.controller.button(SDL_CONTROLLER_BUTTON_DPAD_UP, true);
        t.controller.button(SDL_CONTROLLER_BUTTON_DPAD_RIGHT, true);
        QCOMPARE(t.poll(), (Sent{Slew(Alt, 7, 168, 192), Slew(Az, 6, 0, 240)}));
        t.controller.button(SDL_CONTROLLER_BUTTON_DPAD_UP, false);
        t.controller.button(SDL_CONTROLLER_BUTTON_DPAD_RIGHT, false);
        t.poll();
        for (int i = 0; i < 5; ++i)
            t.tap(SDL_CONTROLLER_BUTTON_LEFTSHOULDER);
        QCOMPARE(t.w.cmbAltRate->currentIndex(), 8);
        QCOMPARE(t.w.cmbAzRate->currentIndex(), 0);
        QCOMPARE(t.w.AzRateHigh, int16_t(0));
        QCOMPARE(t.w.AzRateLow, int16_t(30));
        QCOMPARE(t.w.AltRateHigh, int16_t(30));
    }

    // A mapping's text, as kept in the preferences: read back as written, and anything damaged
    // gives nothing, so that the standard mapping is used instead of half of one.
    void mappingText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("standard") << PadMapping::standard().toText() << true;
        QTest::newRow("stick only, X fastest") << "arrows:stick,x:fastest,y:up" << true;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("no arrows") << "a:spiral" << false;
        QTest::newRow("unknown button") << "arrows:both,zz:spiral" << false;
        QTest::newRow("unknown action") << "arrows:both,a:launch" << false;
        QTest::newRow("one button twice") << "arrows:both,a:spiral,a:up" << false;
        QTest::newRow("arrows twice") << "arrows:both,arrows:stick" << false;
        QTest::newRow("no colon") << "arrows:both,a" << false;
    }
    void mappingText() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        const std::optional<PadMapping> m = PadMapping::fromText(text);
        QCOMPARE(m.has_value(), valid);
        if (m) QCOMPARE(PadMapping::fromText(m->toText()), m);
    }

    // One action per button: binding takes the button from what it did, and the action from
    // the buttons it had.
    void bindingMovesAButton() {
        PadMapping m = PadMapping::standard();
        QCOMPARE(m.buttonsOf(PadAction::AllStop),
                 (QList<int>{SDL_CONTROLLER_BUTTON_B, SDL_CONTROLLER_BUTTON_BACK}));
        m.bind(PadAction::AllStop, SDL_CONTROLLER_BUTTON_A);
        QCOMPARE(m.buttonsOf(PadAction::AllStop), QList<int>{SDL_CONTROLLER_BUTTON_A});
        QVERIFY(m.buttonsOf(PadAction::Spiral).isEmpty());
        QCOMPARE(m.action(SDL_CONTROLLER_BUTTON_B), PadAction::None);
    }

#ifdef Q_OS_UNIX
    // With a device node the controller is read when the node rings, and not otherwise: no fast
    // timer runs while it is idle.
    void aNodeWakesTheRead() {
        PipeNode node;
        Setup t(inMode(2));
        QCOMPARE(node.opened(), 1);
        QVERIFY(t.w.gamePad()->watchesNode());
        QCOMPARE(t.w.gamePad()->pollInterval(), GamePad::SlowPollMs);
        const int reads = t.w.gamePad()->reads();
        t.controller.button(SDL_CONTROLLER_BUTTON_DPAD_UP, true);
        // Silent: nothing is read, however long the wait (the plug-in timer may run meanwhile).
        QTest::qWait(60);
        QCOMPARE(t.w.gamePad()->reads(), reads);
        QVERIFY(t.pad.takeSent().isEmpty());
        node.ring();
        QCOMPARE(t.sentOnceThere(1), (Sent{Slew(Alt, 7, 30, 0)}));
        QCOMPARE(t.w.gamePad()->reads(), reads + 1);
        t.controller.button(SDL_CONTROLLER_BUTTON_DPAD_UP, false);
        node.ring();
        QCOMPARE(t.sentOnceThere(2), (Sent{Stop(Alt), T(2)}));
    }

    // A node that goes away (its far end closed) lets go of what the controller held at once,
    // and the controller is not taken up again until it is plugged in anew.
    void aNodeThatVanishesLetsGo() {
        PipeNode node;
        Setup t(inMode(2));
        t.controller.button(SDL_CONTROLLER_BUTTON_DPAD_LEFT, true);
        t.controller.axis(SDL_CONTROLLER_AXIS_LEFTY, 0.9);
        node.ring();
        QCOMPARE(t.sentOnceThere(2), (Sent{Slew(Alt, 6, 30, 0), Slew(Az, 7, 30, 0)}));
        node.closeFarEnd();
        QTRY_VERIFY_WITH_TIMEOUT(!t.w.gamePad()->isConnected(), 2000);
        const Sent stops = t.pad.takeSent();
        QCOMPARE(stops.size(), 4);
        QVERIFY(stops.contains(Stop(Alt)) && stops.contains(Stop(Az)));
        QVERIFY(!sim::sharedMountSim().axisMoving(Alt) && !sim::sharedMountSim().axisMoving(Az));
        QVERIFY(!t.w.cmdLeft->isDown() && !t.w.cmdDown->isDown());
        QCOMPARE(t.w.mnuController->text(), QStringLiteral("Game &Controller (none connected)"));
        t.poll();
        QVERIFY(!t.w.gamePad()->isConnected());
        QCOMPARE(node.opened(), 1);
        // Plugged in again, it is back.
        t.controller.unplug();
        t.poll();
        VirtualController again;
        t.poll();
        QVERIFY(t.w.gamePad()->isConnected());
        QCOMPARE(node.opened(), 2);
    }
#endif

    // Tools > Game Controller...: a button is bound by pressing it, Escape cancels a binding,
    // and the mapping, kept under the controller's GUID, survives a restart.
    void aButtonIsBoundByPressingIt() {
        Setup t(inMode(2));
        ControllerDialog* d = openDialog(t.w);
        QVERIFY(d);
        QCOMPARE(d->lblController->text(), QStringLiteral("Skyjog Test Pad"));
        QCOMPARE(d->tblActions->item(rowOf(PadAction::AllStop), 1)->text(),
                 QStringLiteral("B, Back"));
        QCOMPARE(d->tblActions->item(rowOf(PadAction::Fastest), 1)->text(),
                 QStringLiteral("(none)"));
        bindInDialog(*d, t, PadAction::Up, SDL_CONTROLLER_BUTTON_Y);
        QCOMPARE(d->tblActions->item(rowOf(PadAction::Up), 1)->text(), QStringLiteral("Y"));
        // The live display shows what is pressed.
        t.controller.button(SDL_CONTROLLER_BUTTON_Y, true);
        QCOMPARE(t.poll(), (Sent{Slew(Alt, 7, 30, 0)}));
        QCOMPARE(d->lblPressed->text(), QStringLiteral("Pressed: Y"));
        t.controller.button(SDL_CONTROLLER_BUTTON_Y, false);
        QCOMPARE(t.poll(), (Sent{Stop(Alt), T(2)}));
        QCOMPARE(d->lblPressed->text(), QStringLiteral("Pressed: nothing"));
        QVERIFY(t.tap(SDL_CONTROLLER_BUTTON_DPAD_UP).isEmpty()); // no longer Up

        // Escape ends the binding and leaves the dialog open; the button does what it did.
        d->tblActions->selectRow(rowOf(PadAction::Down));
        QTest::mouseClick(d->cmdBind, Qt::LeftButton);
        QTest::keyClick(d, Qt::Key_Escape);
        QVERIFY(d->lblPrompt->text().isEmpty());
        QVERIFY(d->isVisible());
        QVERIFY(!t.w.gamePad()->isCapturing());
        QCOMPARE(t.tap(SDL_CONTROLLER_BUTTON_Y), (Sent{Slew(Alt, 7, 30, 0), Stop(Alt), T(2)}));

        // The dead zone, from the slider, kept with the rest.
        d->sldDeadZone->setValue(30);
        QCOMPARE(t.w.gamePad()->deadZone(), 0.3);
        d->close();
        const QString guid = t.w.gamePad()->guid();
        QVERIFY(!guid.isEmpty());
        QVERIFY(t.w.close());
        const Preferences prefs(t.pad.user.path());
        QCOMPARE(prefs.get(Pref::ControllerDeadZone).toInt(), 30);
        QVERIFY(prefs.get(Pref::ControllerMapping, guid).toString().contains(QLatin1String("y:up")));

        t.pad.window.reset();
        Interface& again = t.pad.startOnSim(inMode(2));
        t.pad.takeSent();
        QCOMPARE(again.gamePad()->deadZone(), 0.3);
        t.controller.button(SDL_CONTROLLER_BUTTON_Y, true);
        again.gamePad()->poll();
        QCOMPARE(t.pad.takeSent(), (Sent{Slew(Alt, 7, 30, 0)}));
        t.controller.button(SDL_CONTROLLER_BUTTON_Y, false);
        again.gamePad()->poll();
        QCOMPARE(t.pad.takeSent(), (Sent{Stop(Alt), T(2)}));
    }

    // Each controller keeps its own mapping: the one changed on the first is not the second's.
    void twoControllersTwoMappings() {
        Setup t(inMode(2));
        ControllerDialog* d = openDialog(t.w);
        QVERIFY(d);
        bindInDialog(*d, t, PadAction::Left, SDL_CONTROLLER_BUTTON_X);
        t.controller.unplug();
        t.poll();
        QCOMPARE(d->lblController->text(), QStringLiteral("none connected"));
        QVERIFY(!d->cmdBind->isEnabled());

        VirtualController second("Second Pad", SecondProductId);
        t.poll();
        QCOMPARE(d->lblController->text(), QStringLiteral("Second Pad"));
        QCOMPARE(d->tblActions->item(rowOf(PadAction::Left), 1)->text(),
                 QStringLiteral("D-pad left"));
        // The second takes its arrows from the stick alone.
        d->cmbArrows->setCurrentIndex(int(ArrowInput::Stick));
        emit d->cmbArrows->activated(int(ArrowInput::Stick));
        second.button(SDL_CONTROLLER_BUTTON_X, true);
        second.button(SDL_CONTROLLER_BUTTON_DPAD_LEFT, true);
        QVERIFY(t.poll().isEmpty());
        second.axis(SDL_CONTROLLER_AXIS_LEFTX, -0.9);
        QCOMPARE(t.poll(), (Sent{Slew(Az, 7, 30, 0)}));
        second.axis(SDL_CONTROLLER_AXIS_LEFTX, 0);
        QCOMPARE(t.poll(), (Sent{Stop(Az), T(2)}));
        second.unplug();
        t.poll();

        // The first, back, has its own again.
        VirtualController first;
        t.poll();
        QCOMPARE(d->tblActions->item(rowOf(PadAction::Left), 1)->text(), QStringLiteral("X"));
        first.button(SDL_CONTROLLER_BUTTON_X, true);
        QCOMPARE(t.poll(), (Sent{Slew(Az, 7, 30, 0)}));
        first.button(SDL_CONTROLLER_BUTTON_X, false);
        QCOMPARE(t.poll(), (Sent{Stop(Az), T(2)}));
        first.axis(SDL_CONTROLLER_AXIS_LEFTX, -0.9);
        QCOMPARE(t.poll(), (Sent{Slew(Az, 7, 30, 0)}));
        first.axis(SDL_CONTROLLER_AXIS_LEFTX, 0);
        QCOMPARE(t.poll(), (Sent{Stop(Az), T(2)}));
        d->close();
    }

    // While "fastest rate while held" is down, every arrow press, from any source, starts at the
    // last entry of both lists; a slew already running keeps its rate, and let go, the lists go
    // back to their entries through their selection events.
    void theFastestRateWhileHeld() {
        Settings s = inMode(2);
        s.AltRateIndex = 3; // 4x: 240
        s.AzRateIndex = 5;  // 16x: 960
        Pad pad;
        VirtualController controller;
        {
            // Its GUID, from a first start.
            Interface& first = pad.startOnSim(s);
            const QString guid = first.gamePad()->guid();
            QVERIFY(first.close());
            pad.window.reset();
            Preferences prefs(pad.user.path());
            PadMapping m = PadMapping::standard();
            m.bind(PadAction::Fastest, SDL_CONTROLLER_BUTTON_X);
            prefs.set(Pref::ControllerMapping, m.toText(), guid);
            QVERIFY(prefs.save());
        }
        Interface& w = pad.startOnSim(s);
        w.setKeyRepeat(Interface::KeyRepeat::Detectable);
        pad.takeSent();
        const auto poll = [&] {
            w.gamePad()->poll();
            return pad.takeSent();
        };
        controller.button(SDL_CONTROLLER_BUTTON_X, true);
        QVERIFY(poll().isEmpty());
        QCOMPARE(w.cmbAltRate->currentIndex(), 13);
        QCOMPARE(w.cmbAzRate->currentIndex(), 13);
        controller.button(SDL_CONTROLLER_BUTTON_DPAD_UP, true);
        QCOMPARE(poll(), (Sent{Slew(Alt, 7, 168, 192)}));
        pad.press(&w, Qt::Key_Left);
        QCOMPARE(pad.takeSent(), (Sent{Slew(Az, 7, 168, 192)}));
        // Let go: the lists are back, the slews run on as they started.
        controller.button(SDL_CONTROLLER_BUTTON_X, false);
        QVERIFY(poll().isEmpty());
        QCOMPARE(w.cmbAltRate->currentIndex(), 3);
        QCOMPARE(w.cmbAzRate->currentIndex(), 5);
        QCOMPARE(w.AltRateLow, int16_t(240));
        QCOMPARE(w.AzRateHigh, int16_t(3));
        QCOMPARE(w.AzRateLow, int16_t(192));
        QVERIFY(sim::sharedMountSim().axisMoving(Alt));
        controller.button(SDL_CONTROLLER_BUTTON_DPAD_UP, false);
        QCOMPARE(poll(), (Sent{Stop(Alt), T(2)}));
        controller.button(SDL_CONTROLLER_BUTTON_DPAD_UP, true);
        QCOMPARE(poll(), (Sent{Slew(Alt, 7, 0, 240)}));
        controller.button(SDL_CONTROLLER_BUTTON_DPAD_UP, false);
        QCOMPARE(poll(), (Sent{Stop(Alt), T(2)}));
        pad.release(&w, Qt::Key_Left);
        QCOMPARE(pad.takeSent(), (Sent{Stop(Az), T(2)}));
        QTest::mouseClick(w.cmdRight, Qt::LeftButton);
        QCOMPARE(pad.takeSent(), (Sent{Slew(Az, 6, 3, 192), Stop(Az), T(2)}));

        // A list the user picks meanwhile keeps the pick; the other goes back.
        controller.button(SDL_CONTROLLER_BUTTON_X, true);
        poll();
        controller.button(SDL_CONTROLLER_BUTTON_LEFTSHOULDER, true);
        poll();
        QCOMPARE(w.cmbAltRate->currentIndex(), 12);
        controller.button(SDL_CONTROLLER_BUTTON_LEFTSHOULDER, false);
        controller.button(SDL_CONTROLLER_BUTTON_X, false);
        poll();
        QCOMPARE(w.cmbAltRate->currentIndex(), 12);
        QCOMPARE(w.cmbAzRate->currentIndex(), 12);
        QVERIFY(w.close());
    }
};

QTEST_MAIN(TestGamePad)
#include "test_gamepad.moc"
