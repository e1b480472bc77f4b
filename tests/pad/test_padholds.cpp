// Holds of an arrow that end some other way than by their own release on the window: a menu, a
// drop-down list or a context menu opening over them, the release landing elsewhere, a stop that
// does not get through. None may leave a motor running, and the next press must work as usual.
#include "arrowbutton.h"
#include "laststops.h"
#include "padfixture.h"

#include <QAbstractItemView>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QToolTip>

using namespace skyjog;
using namespace skyjog::test;
using Sent = QVector<QByteArray>;

namespace {

// The user clicks a menu's title in the menu bar; the menu opens under the mouse.
QMenu* openMenuWithTheMouse(Interface& w, QMenu* menu) {
    QMenuBar* bar = w.menuBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(menu->menuAction()).center());
    return qobject_cast<QMenu*>(QApplication::activePopupWidget());
}

struct Timed {
    uint32_t at;
    QByteArray bytes;
    bool operator==(const Timed&) const = default;
};
char* toString(const Timed& t) {
    return QTest::toString(QStringLiteral("%1 ms: %2").arg(t.at).arg(t.bytes.toHex(' ')));
}
// Every command that reached the simulated mount so far, with when, then forgets them.
QVector<Timed> takeTimed() {
    QVector<Timed> out;
    for (const sim::LogEntry& e : sim::sharedMountSim().log())
        if (e.fromClient) out.push_back({uint32_t(e.timeMs), e.bytes});
    sim::sharedMountSim().clearLog();
    return out;
}

// Lets ms pass on the test clock, the window's events served as its event loop would.
void waitFor(Pad& pad, uint32_t ms) {
    const uint32_t until = pad.clock.now() + ms;
    do {
        pad.clock.waitForEvents(until);
    } while (int32_t(until - pad.clock.now()) > 0);
    QCoreApplication::processEvents();
}

} // namespace

class TestPadHolds : public QObject {
    Q_OBJECT
private slots:
    void aMenuOpenedOverAHeldKeyStopsIt_data() { keyRepeatModes(); }
    void aMenuOpenedOverAHeldKeyStopsIt() {
        Pad pad;
        Interface& w = pad.startOnSim();
        useKeyRepeatMode(w);
        pad.press(&w, Qt::Key_Up);
        QCOMPARE(pad.takeSent(), (Sent{T(0), Slew(Alt, 7, 30, 0)}));
        QMenu* menu = openMenuWithTheMouse(w, w.mnuFile);
        QVERIFY(menu);
        QCOMPARE(menu, w.mnuFile);
        // The menu took the keyboard: the stop goes out as it opens, not at the release.
        QCOMPARE(pad.takeSent(), (Sent{Stop(Alt), T(1)}));
        QCOMPARE(sim::sharedMountSim().axisRate(Alt), 0.0);
        QVERIFY(!w.KeyIsDown());
        QVERIFY(!w.cmdUp->isDown());
        pad.release(menu, Qt::Key_Up);
        QTest::keyClick(menu, Qt::Key_Escape);
        QVERIFY(!menu->isVisible());
        QVERIFY(pad.takeSent().isEmpty());
        // The next press is a press like any other.
        pad.press(&w, Qt::Key_Up);
        pad.release(&w, Qt::Key_Up);
        QCOMPARE(pad.takeSent(), (Sent{T(0), Slew(Alt, 7, 30, 0), Stop(Alt), T(1)}));
    }

    void aButtonHeldThroughAltFStops() {
        Pad pad;
        Interface& w = pad.startOnSim();
        QTest::mousePress(w.cmdUp, Qt::LeftButton);
        QCOMPARE(pad.takeSent(), (Sent{T(0), Slew(Alt, 7, 30, 0)}));
        QTest::keyClick(&w, Qt::Key_F, Qt::AltModifier);
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QCOMPARE(menu, w.mnuFile);
        QCOMPARE(pad.takeSent(), (Sent{Stop(Alt), T(1)}));
        QVERIFY(!w.cmdUp->isHeld());
        QVERIFY(!w.cmdUp->isDown());
        // The mouse comes up over the menu: nothing more goes out.
        QTest::mouseRelease(menu, Qt::LeftButton, {}, QPoint(-5, -5));
        QTest::keyClick(menu, Qt::Key_Escape);
        QVERIFY(pad.takeSent().isEmpty());
        QTest::mousePress(w.cmdUp, Qt::LeftButton);
        QTest::mouseRelease(w.cmdUp, Qt::LeftButton);
        QCOMPARE(pad.takeSent(), (Sent{T(0), Slew(Alt, 7, 30, 0), Stop(Alt), T(1)}));
    }

    void aContextMenuOrAListOpenedOverAHeldKeyStopsIt_data() { keyRepeatModes(); }
    void aContextMenuOrAListOpenedOverAHeldKeyStopsIt() {
        Pad pad;
        Settings s = Pad::simSettings();
        s.TrackModeIndex = 2;
        Interface& w = pad.startOnSim(s);
        useKeyRepeatMode(w);
        pad.press(&w, Qt::Key_Left);
        QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, QPoint(5, 5),
                                    w.txtWidth->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(w.txtWidth, &menuEvent);
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QVERIFY(menu);
        QCOMPARE(pad.takeSent(), (Sent{Slew(Az, 7, 30, 0), Stop(Az), T(2)}));
        QFETCH(bool, detectable);
        const auto repeatLeft = [&](QWidget* at) {
            if (detectable)
                pad.press(at, Qt::Key_Left);
            else
                pad.repeat(at, Qt::Key_Left, false);
        };
        repeatLeft(menu);
        menu->close();
        // The held key goes on repeating onto the window: that starts nothing.
        repeatLeft(&w);
        QVERIFY(!w.keyReleasePending());
        QVERIFY(pad.takeSent().isEmpty());

        // A drop-down list's popup takes the keyboard and the mouse just the same.
        pad.press(&w, Qt::Key_Right);
        w.cmbAltRate->showPopup();
        QVERIFY(w.cmbAltRate->view()->isVisible());
        QCOMPARE(pad.takeSent(), (Sent{Slew(Az, 6, 30, 0), Stop(Az), T(2)}));
        w.cmbAltRate->hidePopup();
    }

    // While a drop-down list is open its keys are its own. The arrow held from before it opened
    // repeats into it and then onto the window once it has closed, and starts nothing either
    // way; an arrow pressed inside moves the list's selection and no motor, and is still the
    // list's while held after the pick closed it. The next press is a press like any other.
    void keysInAnOpenList_data() {
        QTest::addColumn<bool>("detectable");
        QTest::addColumn<QString>("list");
        QTest::addColumn<bool>("releasedInside");
        for (bool detectable : {false, true})
            for (const char* list : {"tracking", "altitude rate", "azimuth rate"})
                for (bool inside : {true, false})
                    QTest::addRow("%s, %s, released %s", detectable ? "detectable" : "pairs", list,
                                  inside ? "inside" : "after")
                        << detectable << QString(list) << inside;
    }
    void keysInAnOpenList() {
        QFETCH(bool, detectable);
        QFETCH(QString, list);
        QFETCH(bool, releasedInside);
        Pad pad;
        Interface& w = pad.startOnSim();
        useKeyRepeatMode(w);
        QComboBox* box = list == "tracking"        ? w.cmbTrackMode
                         : list == "altitude rate" ? w.cmbAltRate
                                                   : w.cmbAzRate;
        const bool az = box == w.cmbAzRate;
        const int held = az ? Qt::Key_Left : Qt::Key_Up;
        const uint8_t motor = az ? Az : Alt;
        // A held key's repetitions: presses, or release and press pairs flagged or not.
        const auto repeatHeld = [&](QWidget* at, int key) {
            for (bool flagged : {true, false}) {
                if (detectable)
                    pad.press(at, key);
                else
                    pad.repeat(at, key, flagged);
            }
        };

        pad.press(&w, held);
        QCOMPARE(pad.takeSent(), (Sent{T(0), Slew(motor, 7, 30, 0)}));
        const int before = box->currentIndex();
        box->showPopup();
        QAbstractItemView* view = box->view();
        QVERIFY(view->isVisible());
        QCOMPARE(pad.takeSent(), (Sent{Stop(motor), T(1)}));
        repeatHeld(view, held);
        QVERIFY(pad.takeSent().isEmpty());
        QCOMPARE(view->currentIndex().row(), before);
        pad.press(view, Qt::Key_Down);
        if (detectable)
            pad.press(view, Qt::Key_Down);
        else
            pad.repeat(view, Qt::Key_Down, false);
        QCOMPARE(view->currentIndex().row(), before + 2);
        QVERIFY(pad.takeSent().isEmpty());
        QVERIFY(!sim::sharedMountSim().axisMoving(Alt) && !sim::sharedMountSim().axisMoving(Az));
        if (releasedInside) {
            pad.release(view, held);
            pad.release(view, Qt::Key_Down);
        }

        // Enter picks the entry: the tracking list sends its mode, a rate list only keeps it.
        QTest::keyClick(view, Qt::Key_Return);
        QVERIFY(!view->isVisible());
        QCOMPARE(box->currentIndex(), before + 2);
        const bool tracking = box == w.cmbTrackMode;
        const uint8_t mode = tracking ? 3 : 1;
        QCOMPARE(pad.takeSent(), tracking ? Sent{T(3)} : Sent{});
        if (!releasedInside) {
            repeatHeld(&w, Qt::Key_Down);
            repeatHeld(&w, held);
            QVERIFY(!w.keyReleasePending());
            QVERIFY(pad.takeSent().isEmpty());
            QVERIFY(!w.cmdUp->isDown() && !w.cmdDown->isDown() && !w.cmdLeft->isDown());
            // Their key-ups stop the axis as every arrow's key-up does.
            pad.release(&w, Qt::Key_Down);
            pad.release(&w, held);
            QCOMPARE(pad.takeSent(), (Sent{Stop(Alt), T(mode), Stop(motor), T(mode)}));
        }

        // At 1.5 deg/sec on the list's axis, or in EQ South that needs no tracking off.
        pad.press(&w, held);
        pad.release(&w, held);
        const Sent start =
            tracking ? Sent{Slew(motor, 7, 30, 0)} : Sent{T(0), Slew(motor, 7, 0x54, 0x60)};
        QCOMPARE(pad.takeSent(), (start + Sent{Stop(motor), T(mode)}));
    }

    // A tooltip is a window of its own but takes nothing from the button under it.
    void aTooltipLeavesAHoldAlone() {
        Pad pad;
        Interface& w = pad.startOnSim();
        QTest::mousePress(w.cmdRight, Qt::LeftButton);
        QToolTip::showText(w.cmdRight->mapToGlobal(QPoint(2, 2)), QStringLiteral("tip"), w.cmdRight);
        QVERIFY(w.cmdRight->isHeld());
        QTest::mouseRelease(w.cmdRight, Qt::LeftButton);
        QCOMPARE(pad.takeSent(), (Sent{T(0), Slew(Az, 6, 30, 0), Stop(Az), T(1)}));
        QToolTip::hideText();
    }

    // The release of a held arrow key stops its axis wherever it lands; releases of keys that
    // hold nothing are left to whoever gets them.
    void aReleaseElsewhereStillStops_data() { keyRepeatModes(); }
    void aReleaseElsewhereStillStops() {
        Pad pad;
        Interface& w = pad.startOnSim();
        useKeyRepeatMode(w);
        QLineEdit elsewhere;
        elsewhere.setAttribute(Qt::WA_ShowWithoutActivating);
        elsewhere.show();
        pad.press(&w, Qt::Key_Down);
        QCOMPARE(pad.takeSent(), (Sent{T(0), Slew(Alt, 6, 30, 0)}));
        pad.release(&elsewhere, Qt::Key_Down);
        QCOMPARE(pad.takeSent(), (Sent{Stop(Alt), T(1)}));
        pad.release(&elsewhere, Qt::Key_Left);
        QVERIFY(pad.takeSent().isEmpty());
        pad.press(&w, Qt::Key_Down);
        pad.release(&w, Qt::Key_Down);
        QCOMPARE(pad.takeSent(), (Sent{T(0), Slew(Alt, 6, 30, 0), Stop(Alt), T(1)}));
    }

    // A keyboard slew shows on its button for as long as its axis moves.
    void aKeyboardSlewShowsItsButtonPressed_data() { keyRepeatModes(); }
    void aKeyboardSlewShowsItsButtonPressed() {
        Pad pad;
        Interface& w = pad.startOnSim();
        useKeyRepeatMode(w);
        pad.press(&w, Qt::Key_Left);
        QVERIFY(w.cmdLeft->isDown());
        pad.press(&w, Qt::Key_Up); // ignored while Left holds: nothing moves, nothing shows
        QVERIFY(!w.cmdUp->isDown());
        pad.release(&w, Qt::Key_Up);
        QVERIFY(w.cmdLeft->isDown()); // the azimuth axis still moves
        // A click on the held arrow's own button keeps it shown until the key lets go.
        QTest::mousePress(w.cmdLeft, Qt::LeftButton);
        QTest::mouseRelease(w.cmdLeft, Qt::LeftButton);
        QVERIFY(w.cmdLeft->isDown());
        pad.release(&w, Qt::Key_Left);
        QVERIFY(!w.cmdLeft->isDown());
        // Down released while Up holds the same axis: the axis stops, and its button shows it.
        pad.press(&w, Qt::Key_Up);
        QVERIFY(w.cmdUp->isDown());
        pad.press(&w, Qt::Key_Down);
        pad.release(&w, Qt::Key_Down);
        QVERIFY(!w.cmdUp->isDown());
        QVERIFY(!w.cmdDown->isDown());
        QCOMPARE(sim::sharedMountSim().axisRate(Alt), 0.0);
        pad.release(&w, Qt::Key_Up);
    }

    // Closing the window ends every hold: nothing held in it can be let go once it is gone.
    void closingTheWindowStopsWhatIsHeld() {
        Pad pad;
        Interface& w = pad.startOnSim();
        w.setKeyRepeat(Interface::KeyRepeat::Detectable);
        pad.press(&w, Qt::Key_Left);
        QTest::mousePress(w.cmdUp, Qt::LeftButton);
        QCOMPARE(pad.takeSent(), (Sent{T(0), Slew(Az, 7, 30, 0), T(0), Slew(Alt, 7, 30, 0)}));
        Sent sentByTheEnd;
        w.setProgramEnd([&] { sentByTheEnd = pad.takeSent(); });
        QVERIFY(w.close());
        QCOMPARE(sentByTheEnd.size(), 4);
        QVERIFY(sentByTheEnd.contains(Stop(Az)) && sentByTheEnd.contains(Stop(Alt)));
        QCOMPARE(sim::sharedMountSim().axisMoving(Az), false);
        QCOMPARE(sim::sharedMountSim().axisMoving(Alt), false);
    }

    // Repeatable taps of 250 ms: a press shorter than that stops 250 ms after it began, a longer
    // one at its release, each with its tracking restored; from a button and from a key.
    void aShortTapIsHeldToItsLength_data() {
        QTest::addColumn<bool>("byKey");
        QTest::addColumn<uint32_t>("heldMs");
        QTest::addColumn<bool>("tap");
        QTest::newRow("button, 20 ms") << false << 20u << true;
        QTest::newRow("button, 600 ms") << false << 600u << false;
        QTest::newRow("key, 20 ms") << true << 20u << true;
        QTest::newRow("key, 600 ms") << true << 600u << false;
    }
    void aShortTapIsHeldToItsLength() {
        QFETCH(bool, byKey);
        QFETCH(uint32_t, heldMs);
        QFETCH(bool, tap);
        Pad pad;
        pad.keepTaps(true, 250);
        Interface& w = pad.startOnSim();
        w.setKeyRepeat(Interface::KeyRepeat::Detectable);
        QCOMPARE(w.motion().tapLength(), std::optional<int>(250));
        takeTimed();
        const uint32_t t0 = pad.clock.now();
        if (byKey) pad.press(&w, Qt::Key_Up);
        else QTest::mousePress(w.cmdUp, Qt::LeftButton);
        waitFor(pad, heldMs);
        // Each command takes the simulated line a millisecond.
        const uint32_t stopAt = tap ? t0 + 250 : pad.clock.now();
        if (byKey) pad.release(&w, Qt::Key_Up);
        else QTest::mouseRelease(w.cmdUp, Qt::LeftButton);
        // Held on: the arrow shows it, and nothing more goes out until the tap's end.
        QCOMPARE(w.cmdUp->isDown(), tap);
        waitFor(pad, 1000);
        QCOMPARE(takeTimed(), (QVector<Timed>{{t0, T(0)},
                                              {t0 + 1, Slew(Alt, 7, 30, 0)},
                                              {stopAt, Stop(Alt)},
                                              {stopAt + 1, T(1)}}));
        QVERIFY(!w.cmdUp->isDown());
        QVERIFY(w.motion().idle());
    }

    // Losing the focus ends a tap at once, as it ends a hold.
    void focusLossEndsATap() {
        Pad pad;
        pad.keepTaps(true, 250);
        Interface& w = pad.startOnSim();
        takeTimed();
        const uint32_t t0 = pad.clock.now();
        QTest::mousePress(w.cmdLeft, Qt::LeftButton);
        waitFor(pad, 20);
        QTest::mouseRelease(w.cmdLeft, Qt::LeftButton);
        waitFor(pad, 80);
        const uint32_t lost = pad.clock.now();
        QWidget other;
        other.show();
        QApplication::setActiveWindow(&other);
        QVERIFY(!w.isActiveWindow());
        waitFor(pad, 1000);
        QCOMPARE(takeTimed(), (QVector<Timed>{{t0, T(0)},
                                              {t0 + 1, Slew(Az, 7, 30, 0)},
                                              {lost, Stop(Az)},
                                              {lost + 1, T(1)}}));
        QVERIFY(w.motion().idle());
    }

    // Off unless chosen; the submenu turns taps on at a length and off, the choice is kept for
    // the next start, and a length kept in the file that the menu does not offer is shown too.
    void theTapChoiceIsKept() {
        const auto entry = [](Interface& w, const QString& text) {
            for (QAction* a : w.mnuTaps->menu()->actions())
                if (a->text() == text) return a;
            qFatal("no entry %s", qPrintable(text));
        };
        const auto checked = [](Interface& w) {
            QStringList out;
            for (QAction* a : w.mnuTaps->menu()->actions())
                if (a->isChecked()) out << a->text();
            return out.join(',');
        };
        Pad pad;
        {
            Interface& w = pad.startOnSim();
            QCOMPARE(checked(w), QStringLiteral("&Off"));
            QVERIFY(!w.motion().tapLength());
            entry(w, "600 ms")->trigger();
            QCOMPARE(w.motion().tapLength(), std::optional<int>(600));
            QCOMPARE(checked(w), QStringLiteral("600 ms"));
        }
        pad.window.reset();
        {
            Interface& w = pad.startOnSim();
            QCOMPARE(w.motion().tapLength(), std::optional<int>(600));
            QCOMPARE(checked(w), QStringLiteral("600 ms"));
            entry(w, "&Off")->trigger();
            QVERIFY(!w.motion().tapLength());
        }
        pad.window.reset();
        QVERIFY(!pad.start().motion().tapLength());
        pad.window.reset();
        QCOMPARE(Preferences(pad.user.path()).get(Pref::TapLength).toInt(), 600);
        for (auto [kept, shown] : {std::pair{333, 333}, std::pair{4000, 2000}, std::pair{10, 50}}) {
            pad.keepTaps(true, kept);
            Interface& w = pad.start();
            QCOMPARE(w.motion().tapLength(), std::optional<int>(shown));
            QCOMPARE(checked(w), QStringLiteral("%1 ms").arg(shown));
            pad.window.reset();
        }
    }

    // A window torn down while a button is held stops it, and does not call into what is
    // already gone.
    void aWindowDestroyedWhileHeld() {
        Pad pad;
        Interface& w = pad.startOnSim();
        QTest::mousePress(w.cmdRight, Qt::LeftButton);
        pad.window.reset();
        QCOMPARE(pad.takeSent(), (Sent{T(0), Slew(Az, 6, 30, 0), Stop(Az), T(1)}));
    }

    // A line that loses the stop, the tracking restore, or every copy of the stop: what is lost
    // goes out again at once; what is never confirmed is told once, marks the axis's arrows, and
    // goes out again with Escape.
    void aLostStopIsSentAgain_data() {
        QTest::addColumn<bool>("byKey");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("count");
        QTest::addColumn<Sent>("release");
        const auto k = [](sim::LossKind kind) { return int(kind); };
        const Sent stopAgain{Stop(Alt), Stop(Alt), T(2)};
        const Sent restoreAgain{Stop(Alt), T(2), T(2)};
        const Sent never{Stop(Alt), Stop(Alt), Stop(Alt), T(2), T(2), T(2)};
        for (bool byKey : {false, true}) {
            const char* how = byKey ? "key" : "button";
            QTest::addRow("%s, first stop", how) << byKey << k(sim::LossKind::Stop) << 1 << stopAgain;
            QTest::addRow("%s, tracking restore", how) << byKey << k(sim::LossKind::Tracking) << 1
                                                      << restoreAgain;
            QTest::addRow("%s, every stop and restore", how) << byKey << k(sim::LossKind::Stop) << -1
                                                            << never;
        }
    }
    void aLostStopIsSentAgain() {
        QFETCH(bool, byKey);
        QFETCH(int, kind);
        QFETCH(int, count);
        QFETCH(Sent, release);
        Pad pad;
        Settings s = Pad::simSettings();
        s.TrackModeIndex = 2; // EQ North: the press sends the slew alone
        Interface& w = pad.startOnSim(s);
        if (byKey)
            pad.press(&w, Qt::Key_Up);
        else
            QTest::mousePress(w.cmdUp, Qt::LeftButton);
        QCOMPARE(pad.takeSent(), (Sent{Slew(Alt, 7, 30, 0)}));
        sim::sharedMountSim().options().lose = {{.kind = sim::LossKind(kind), .count = count}};
        // The restore sets the axes' rates for the mode: lost too, it leaves the motor running.
        if (count < 0)
            sim::sharedMountSim().options().lose << sim::Loss{.kind = sim::LossKind::Tracking,
                                                              .count = -1};
        if (byKey)
            pad.release(&w, Qt::Key_Up);
        else
            QTest::mouseRelease(w.cmdUp, Qt::LeftButton);
        QCOMPARE(pad.takeSent(), release);
        const bool never = count < 0;
        QCOMPARE(pad.reports.texts(),
                 never ? QStringList{StopNotConfirmedText.arg("Up/Down")} : QStringList());
        QCOMPARE(sim::sharedMountSim().axisMoving(Alt), never);
        for (ArrowButton* b : {w.cmdUp, w.cmdDown, w.cmdLeft})
            QCOMPARE(b->showsUnconfirmed(), never && b != w.cmdLeft);
        if (!never) return;

        // Escape sends it again; this time it gets through, and the arrows look as usual.
        sim::sharedMountSim().options().lose.clear();
        pad.press(w.txtWidth, Qt::Key_Escape);
        QCOMPARE(pad.takeSent(), (Sent{Stop(Alt), T(2)}));
        QVERIFY(!sim::sharedMountSim().axisMoving(Alt));
        QVERIFY(!w.cmdUp->showsUnconfirmed() && !w.cmdDown->showsUnconfirmed());
        QCOMPARE(pad.reports.texts().size(), 1);
        pad.press(&w, Qt::Key_Escape);
        QVERIFY(pad.takeSent().isEmpty());
    }

    // Still unconfirmed, the axis is tried again by all-stop and by its arrows' next release,
    // and the user is told only the first time.
    void anUnconfirmedStopIsTriedAgainByItsArrows() {
        Pad pad;
        Settings s = Pad::simSettings();
        s.TrackModeIndex = 2;
        Interface& w = pad.startOnSim(s);
        sim::sharedMountSim().options().lose = {{.kind = sim::LossKind::Stop, .count = 6}};
        QTest::mouseClick(w.cmdLeft, Qt::LeftButton);
        QCOMPARE(pad.takeSent(), (Sent{Slew(Az, 7, 30, 0), Stop(Az), Stop(Az), Stop(Az), T(2)}));
        QTest::mouseClick(w.cmdRight, Qt::LeftButton);
        QCOMPARE(pad.takeSent(), (Sent{Slew(Az, 6, 30, 0), Stop(Az), Stop(Az), Stop(Az), T(2)}));
        QCOMPARE(pad.reports.texts(), QStringList{StopNotConfirmedText.arg("Left/Right")});
        QVERIFY(w.cmdRight->showsUnconfirmed() && !w.cmdUp->showsUnconfirmed());
        pad.press(&w, Qt::Key_Right);
        pad.release(&w, Qt::Key_Right);
        QCOMPARE(pad.takeSent(), (Sent{Slew(Az, 6, 30, 0), Stop(Az), T(2)}));
        QVERIFY(!w.cmdRight->showsUnconfirmed() && !w.cmdLeft->showsUnconfirmed());
        QVERIFY(!sim::sharedMountSim().axisMoving(Az));
    }

    // A stop lost to a failed port is tried again by itself every two seconds, with no box,
    // until the line is back and a stop is confirmed.
    void aStopLostToThePortIsTriedAgainQuietly() {
        Pad pad;
        Settings s = Pad::simSettings();
        s.TrackModeIndex = 2;
        Interface& w = pad.startOnSim(s);
        QTest::mousePress(w.cmdUp, Qt::LeftButton);
        FakeLine line;
        line.failOpen = std::make_pair(8002, QStringLiteral("Cannot open /dev/ttyUSB0"));
        Comm1().setBackendFactory(line.factory());
        QTest::mouseRelease(w.cmdUp, Qt::LeftButton);
        QCOMPARE(pad.reports.texts().size(), 2); // the stop's and the restore's, as before
        QVERIFY(w.cmdUp->showsUnconfirmed());
        QVERIFY(w.motion().quietRetryDue());
        w.motion().retryQuietly(); // the line is still gone
        QCOMPARE(pad.reports.texts().size(), 2);
        QVERIFY(w.motion().quietRetryDue() && w.cmdUp->showsUnconfirmed());
        QVERIFY(pad.takeSent().size() == 1); // only the slew reached the mount
        // The line comes back.
        Comm1().setBackendFactory({});
        w.motion().retryQuietly();
        QCOMPARE(pad.takeSent(), (Sent{Stop(Alt), T(2)}));
        QVERIFY(!w.cmdUp->showsUnconfirmed() && !w.motion().quietRetryDue());
        QVERIFY(!sim::sharedMountSim().axisMoving(Alt));
        QCOMPARE(pad.reports.texts().size(), 2);
        // Held again meanwhile, the axis is the user's: nothing goes out by itself.
        Comm1().setBackendFactory(line.factory());
        QTest::mouseClick(w.cmdDown, Qt::LeftButton);
        Comm1().setBackendFactory({});
        pad.takeSent();
        QTest::mousePress(w.cmdDown, Qt::LeftButton);
        QCOMPARE(pad.takeSent(), (Sent{Slew(Alt, 6, 30, 0)}));
        w.motion().retryQuietly();
        QVERIFY(pad.takeSent().isEmpty());
        QTest::mouseRelease(w.cmdDown, Qt::LeftButton);
        QCOMPARE(pad.takeSent(), (Sent{Stop(Alt), T(2)}));
        QVERIFY(!w.cmdDown->showsUnconfirmed());
    }

    // A stop that cannot be sent says so, and that the mount may still be moving. On the way
    // out, when there may be no display left, it says so on standard error only.
    void aFailedStopSaysTheMountMayStillMove_data() {
        QTest::addColumn<bool>("onTheWayOut");
        QTest::newRow("released") << false;
        QTest::newRow("on the way out") << true;
    }
    void aFailedStopSaysTheMountMayStillMove() {
        QFETCH(bool, onTheWayOut);
        Pad pad;
        Interface& w = pad.startOnSim();
        QTest::mousePress(w.cmdUp, Qt::LeftButton);
        FakeLine line;
        line.failOpen = std::make_pair(8002, QStringLiteral("Cannot open /dev/ttyUSB0"));
        Comm1().setBackendFactory(line.factory());
        const QStringList said{"Cannot open /dev/ttyUSB0; the mount may still be moving - 8002",
                               "Cannot open /dev/ttyUSB0 - 8002"};
        if (onTheWayOut) {
            for (const QString& text : said)
                QTest::ignoreMessage(QtWarningMsg, qPrintable(QStringLiteral("Skyjog: ") + text));
            sendLastStops();
            QVERIFY(pad.reports.boxes.empty());
        }
        // The boxes are back for whatever follows.
        QTest::mouseRelease(w.cmdUp, Qt::LeftButton);
        QCOMPARE(pad.reports.texts(), said);
    }

    // On the way out without the window closing (the display gone), every axis that still moves
    // gets its stop, and tracking its restore; an idle pad sends nothing.
    void lastStopsStopWhatStillMoves_data() {
        QTest::addColumn<QString>("held");
        QTest::addColumn<Sent>("stops");
        QTest::newRow("nothing") << QString() << Sent{};
        QTest::newRow("button") << "button" << Sent{Stop(Alt), T(2)};
        QTest::newRow("key") << "key" << Sent{Stop(Az), T(2)};
        QTest::newRow("button and key") << "button and key" << Sent{Stop(Alt), Stop(Az), T(2)};
        QTest::newRow("released") << "released" << Sent{};
        // Down took the axis over from the held Up, and its release stopped it.
        QTest::newRow("taken over and released") << "button, taken over" << Sent{};
    }
    void lastStopsStopWhatStillMoves() {
        QFETCH(QString, held);
        QFETCH(Sent, stops);
        Pad pad;
        Settings s = Pad::simSettings();
        s.TrackModeIndex = 2;
        Interface& w = pad.startOnSim(s);
        if (held.contains(QLatin1String("button"))) QTest::mousePress(w.cmdUp, Qt::LeftButton);
        if (held.contains(QLatin1String("key"))) pad.press(&w, Qt::Key_Left);
        if (held.contains(QLatin1String("taken over"))) {
            QTest::mousePress(w.cmdDown, Qt::LeftButton);
            QTest::mouseRelease(w.cmdDown, Qt::LeftButton);
        }
        if (held == QLatin1String("released")) {
            QTest::mousePress(w.cmdDown, Qt::LeftButton);
            QTest::mouseRelease(w.cmdDown, Qt::LeftButton);
        }
        pad.takeSent();
        sendLastStops();
        QCOMPARE(pad.takeSent(), stops);
        QVERIFY(!sim::sharedMountSim().axisMoving(Alt));
        QVERIFY(!sim::sharedMountSim().axisMoving(Az));
        // Once is enough: a later way out finds nothing moving.
        sendLastStops();
        QCOMPARE(pad.takeSent(), Sent{});
        QVERIFY(pad.reports.boxes.empty());
    }
};

QTEST_MAIN(TestPadHolds)
#include "test_padholds.moc"
