// The built program under a real X server with a real window manager (openbox, as Debian ships
// it), driven by real X input: a menu that takes the keyboard and the mouse while an arrow is
// held, and a message box stacked among windows kept on top while a spiral runs. Every check is
// on the bytes the simulated mount received, in order, and on when they arrived.
#include "fixture.h"

#include <QTest>
#include <algorithm>

using namespace xsession;
using namespace e2e;

namespace {

// Alt/Az at 128x, the window at 100, 100 pixels: far enough from the screen's centre that a box
// centred on the screen instead of on the window shows, near enough to its corner that a box
// centred on it fits on the screen.
const QString AltAzSettings = QStringLiteral("7,6,7,6,\"%1\",1500,1500,8,8,1,#FALSE#,3,0");
const QString OnTopSettings = QStringLiteral("7,6,7,6,\"%1\",1500,1500,8,8,1,#TRUE#,3,0");

// How long an arrow stays held before the menu opens: well past the server's repeat delay.
constexpr int HoldMs = 600;
// How long the menu stays open over the held arrow before its release.
constexpr int OpenMenuMs = 500;
// How long the box stays up at least.
constexpr int BoxUpMs = 1500;
// How late a leg may end on a loaded machine: polls, the commands' own exchanges, scheduling.
constexpr double LegMarginMs = 400;

int indexOf(const std::vector<unsigned long>& list, unsigned long w) {
    const auto it = std::find(list.begin(), list.end(), w);
    return it == list.end() ? -1 : int(it - list.begin());
}

QString str(double v) {
    return QString::number(v, 'f', 0);
}

} // namespace

class TestEndToEndWm : public QObject, private Fixture {
    Q_OBJECT

    WindowManager wm;

    // The File menu's title in the menu bar, on the screen.
    QPoint fileMenuTitle() {
        const auto g = x.geometry(window);
        return g ? QPoint(g->x + 16, g->y + menuBarHeight() / 2) : QPoint();
    }

    // Up held on the keyboard, slewing, and repeating by the server's auto-repeat.
    void holdUpRepeating() {
        x.watchKeys(window);
        QVERIFY(xdo({"keydown", "Up"}));
        QVERIFY2(mount->waitForCount(2), qPrintable(show(mount->commands())));
        QTest::qWait(HoldMs);
        const auto counts = x.keyCounts(QStringLiteral("Up"));
        QVERIFY2(counts.presses >= 3, qPrintable(QStringLiteral("%1 presses").arg(counts.presses)));
        QCOMPARE(show(mount->commands()), show({TrackingOff, UpSlew}));
    }

    // An arrow held while a menu opened: its hold ended as the menu opened (the stop and the
    // tracking restore are in the log before the release, stamped between the request for the
    // menu and shortly after its map); the release, given as xdotool arguments, lands on the open
    // menu and sends nothing, nor chooses anything; Escape closes the menu, sending nothing.
    void releaseOverOpenMenu(const XDisplay::Mapped& menu, double openedAt,
                             const QStringList& release) {
        mount->waitForCount(4, 3000);
        QTest::qWait(OpenMenuMs);
        QVERIFY2(x.exists(menu.window), "the menu closed by itself");
        const QList<Mount::Received> atRelease = mount->received();
        const double releasedAt = nowMs();
        QVERIFY(xdo(release));

        QList<QByteArray> sent;
        for (const Mount::Received& r : atRelease)
            sent << r.bytes;
        QCOMPARE(show(sent), show(UpPressAndRelease));
        const double stopAt = mount->testClockOf(atRelease[2].simMs);
        qInfo("stop at the mount %s ms after the menu was asked for, %s ms after its map, %s ms "
              "before the release",
              qPrintable(str(stopAt - openedAt)), qPrintable(str(stopAt - menu.atMs)),
              qPrintable(str(releasedAt - stopAt)));
        // The estimate is never early: a stop estimated before the request came before it.
        QVERIFY2(stopAt >= openedAt, "the stop went out before the menu was asked for");
        QVERIFY2(stopAt <= menu.atMs + 250, "the stop went out well after the menu opened");

        QCOMPARE(show(settledCommands(600)), show(UpPressAndRelease));
        QVERIFY2(app->running(), "the release over the menu chose Exit");
        QVERIFY(x.exists(menu.window));
        QVERIFY(xdo({"key", "Escape"}));
        QVERIFY2(waitFor([&] { return !x.exists(menu.window); }, ReplyMs),
                 "Escape did not close the menu");
        QCOMPARE(show(settledCommands(400)), show(UpPressAndRelease));
    }

private slots:
    void initTestCase() {
        if (!WindowManager::installed())
            QSKIP("openbox is not installed (Debian package openbox): the cases that need a "
                  "window manager are skipped");
        startDisplay();
        QString error;
        QVERIFY2(wm.start(xvfb.display(), x, &error), qPrintable(error));
    }
    void init() { QVERIFY2(wm.running(), "openbox has ended"); }
    void cleanup() {
        endCase();
        // A case that failed half-way must not leave the next one a key or a button held.
        xdo({"keyup", "Up", "keyup", "Down", "mouseup", "1"});
    }
    void cleanupTestCase() {
        wm.stop();
        endDisplay();
    }

    // Up held on the keyboard, the File menu clicked open under the mouse: the menu takes the
    // keyboard, so the key's release goes to it; the hold ends as the menu opens.
    void heldKeyEndsWhenFileMenuOpensUnderMouse() {
        launch(AltAzSettings);
        if (QTest::currentTestFailed()) return;
        const QPoint file = fileMenuTitle();
        holdUpRepeating();
        if (QTest::currentTestFailed()) return;

        x.watchMaps();
        const double openedAt = nowMs();
        QVERIFY(
            xdo({"mousemove", QString::number(file.x()), QString::number(file.y()), "click", "1"}));
        const auto menu = x.waitForPopup(app->pid(), ReplyMs);
        QVERIFY2(menu, "the File menu did not open");
        const auto mg = x.geometry(menu->window);
        QVERIFY(mg);
        QVERIFY2(mg->x <= file.x() && file.x() < mg->x + mg->width && mg->y > file.y() &&
                     mg->y < file.y() + 40,
                 "the menu did not open under the mouse");

        // The key is still down, repeating into the open menu; its release comes there.
        releaseOverOpenMenu(*menu, openedAt, {"keyup", "Up"});
        if (QTest::currentTestFailed()) return;

        // The next press is a press.
        QVERIFY(xdo({"keydown", "Up"}));
        QVERIFY(mount->waitForCount(6));
        QTest::qWait(HoldMs);
        QVERIFY(xdo({"keyup", "Up"}));
        QCOMPARE(show(settledCommands()), show(UpPressAndRelease + UpPressAndRelease));
    }

    // Up held on the keyboard, the tracking list clicked open: the hold ends as the list opens,
    // and the key's auto-repeat into the open list starts nothing, however long it goes on. Arrows
    // pressed in the list move its selection and send nothing; Enter picks the entry, and the
    // next press of Up is a press.
    void heldKeyRepeatsNothingIntoOpenTrackingList() {
        launch(AltAzSettings);
        if (QTest::currentTestFailed()) return;
        holdUpRepeating();
        if (QTest::currentTestFailed()) return;

        x.watchMaps();
        const QPoint list = controlCentre(40, 2040, 1095, 315);
        QVERIFY(
            xdo({"mousemove", QString::number(list.x()), QString::number(list.y()), "click", "1"}));
        const auto popup = x.waitForPopup(app->pid(), ReplyMs);
        QVERIFY2(popup, "the tracking list did not open");
        QVERIFY(mount->waitForCount(4, 3000));
        // Up still down, repeating into the list well past the server's repeat delay.
        QTest::qWait(OpenMenuMs);
        QVERIFY2(x.exists(popup->window), "the list closed by itself");
        QCOMPARE(show(settledCommands(400)), show(UpPressAndRelease));
        QVERIFY(xdo({"keyup", "Up"}));

        // Alt/Az is the second entry: one Down selects EQ North, held past the repeat delay it
        // goes on to EQ South, and Up brings it back.
        QVERIFY(xdo({"keydown", "Down", "sleep", QString::number(RepeatDelayMs * 4 / 1000.0),
                     "keyup", "Down", "key", "--delay", "40", "Up"}));
        QCOMPARE(show(settledCommands(400)), show(UpPressAndRelease));
        QVERIFY2(x.exists(popup->window), "the arrows closed the list");
        QVERIFY(xdo({"key", "Return"}));
        QVERIFY2(waitFor([&] { return !x.exists(popup->window); }, ReplyMs),
                 "Enter did not close the list");
        const QByteArray eqNorth = bytes({84, 2});
        QCOMPARE(show(settledCommands(400)), show(UpPressAndRelease + QList{eqNorth}));

        // EQ North tracks on through a slew: the press sends the slew alone.
        QVERIFY(xdo({"keydown", "Up"}));
        QVERIFY(mount->waitForCount(6));
        QTest::qWait(HoldMs);
        QVERIFY(xdo({"keyup", "Up"}));
        QCOMPARE(show(settledCommands()),
                 show(UpPressAndRelease + QList{eqNorth, UpSlew, AltStop, eqNorth}));
    }

    // cmdUp held with the mouse, the File menu opened by Alt+F: the menu takes the mouse, so the
    // button's release goes to it; the hold ends as the menu opens.
    void heldButtonEndsWhenAltFOpensFileMenu() {
        launch(AltAzSettings);
        if (QTest::currentTestFailed()) return;
        const QPoint up = controlCentre(2040, 600, 375, 615);
        QVERIFY(
            xdo({"mousemove", QString::number(up.x()), QString::number(up.y()), "mousedown", "1"}));
        QVERIFY2(mount->waitForCount(2), qPrintable(show(mount->commands())));
        // The button keeps the mouse: the pointer is taken, still pressed, to where the menu will
        // open below its title, so that the release comes over the open menu without a drag
        // across it (a drag onto an entry and a release there chooses the entry, as in any menu).
        const QPoint overMenu = fileMenuTitle() + QPoint(24, menuBarHeight() / 2 + 10);
        QVERIFY(xdo({"mousemove", QString::number(overMenu.x()), QString::number(overMenu.y())}));
        QTest::qWait(HoldMs);
        QCOMPARE(show(mount->commands()), show({TrackingOff, UpSlew}));

        x.watchMaps();
        const double openedAt = nowMs();
        QVERIFY(xdo({"key", "alt+f"}));
        const auto menu = x.waitForPopup(app->pid(), ReplyMs);
        QVERIFY2(menu, "Alt+F did not open the File menu");
        const auto mg = x.geometry(menu->window);
        QVERIFY(mg);
        QVERIFY2(mg->x <= overMenu.x() && overMenu.x() < mg->x + mg->width &&
                     mg->y <= overMenu.y() && overMenu.y() < mg->y + mg->height,
                 qPrintable(QStringLiteral("the menu opened at %1,%2 %3x%4, not under the pointer")
                                .arg(mg->x)
                                .arg(mg->y)
                                .arg(mg->width)
                                .arg(mg->height)));

        // The button is still down; its release comes over the open menu.
        releaseOverOpenMenu(*menu, openedAt, {"mouseup", "1"});
        if (QTest::currentTestFailed()) return;

        // The next click is a click.
        click(up, 1, HoldMs);
        QCOMPARE(show(settledCommands()), show(UpPressAndRelease + UpPressAndRelease));
    }

    // "Always on top" ticked, a spiral running, the close box clicked: the refusal's box comes up
    // above the pad, centred on it, wide enough for its caption, and the spiral goes on timing
    // its legs behind it.
    void refusedCloseBoxOverOnTopPadLetsSpiralRun() {
        launch(OnTopSettings);
        if (QTest::currentTestFailed()) return;
        const QString above = QStringLiteral("_NET_WM_STATE_ABOVE");
        QVERIFY2(waitFor([&] { return x.netWmState(window).contains(above); }, ReplyMs),
                 qPrintable(x.netWmState(window).join(u' ')));
        key(QStringLiteral("s"));
        QVERIFY(mount->waitForCount(7)); // the position read and two legs

        QVERIFY(x.sendDeleteWindow(window));
        const unsigned long box = waitForWindow(QStringLiteral("Alert"));
        QVERIFY2(box, "no window titled Alert");
        const double boxUpAt = nowMs();
        // Stacking as the window manager keeps it, and as the server has it; given a moment to
        // settle after the map.
        const auto boxAbovePad = [&] {
            const auto stacking = x.clientStacking();
            const auto frames = x.rootChildren();
            return indexOf(stacking, window) >= 0 &&
                   indexOf(stacking, box) > indexOf(stacking, window) &&
                   indexOf(frames, x.frameOf(window)) >= 0 &&
                   indexOf(frames, x.frameOf(box)) > indexOf(frames, x.frameOf(window));
        };
        QVERIFY2(waitFor(boxAbovePad, 3000), "the box is not above the pad");
        QVERIFY2(waitFor([&] { return x.netWmState(box).contains(above); }, 3000),
                 qPrintable(x.netWmState(box).join(u' ')));
        const auto padFrame = x.geometry(x.frameOf(window));
        const auto boxFrame = x.geometry(x.frameOf(box));
        const auto boxClient = x.geometry(box);
        QVERIFY(padFrame && boxFrame && boxClient);
        qInfo("pad frame %d,%d %dx%d; box frame %d,%d %dx%d", padFrame->x, padFrame->y,
              padFrame->width, padFrame->height, boxFrame->x, boxFrame->y, boxFrame->width,
              boxFrame->height);
        // Within a title bar's height: a box centred on the screen would be 150 px off.
        QVERIFY2(std::abs(boxFrame->centreX() - padFrame->centreX()) <= 40 &&
                     std::abs(boxFrame->centreY() - padFrame->centreY()) <= 40,
                 "the box is not centred on the pad");
        QVERIFY2(boxClient->width >= 240, qPrintable(QString::number(boxClient->width)));

        // Left up a while, and until a leg has started behind it (bounded: a spiral held up by
        // the box starts none). The log is watched meanwhile, so its stamps map onto this clock.
        const qsizetype before = mount->received().size();
        waitFor([&] { return false; }, BoxUpMs);
        waitFor([&] { return slewsSince(boxUpAt) > 0; }, ReplyMs);
        qInfo("%d commands while the box was up", int(mount->received().size() - before));
        QVERIFY2(x.exists(box), "the box went away by itself");
        const double boxDownAt = nowMs();
        x.focus(box);
        key(QStringLiteral("Return"));
        QVERIFY2(waitFor([&] { return !x.exists(box); }, ReplyMs), "Enter did not close the box");
        QVERIFY(app->running());
        QVERIFY(x.exists(window));

        focusMain();
        key(QStringLiteral("s"));
        settledCommands();
        const QList<Mount::Received> run = mount->received();
        checkSpiral(run, boxUpAt, boxDownAt);
        if (QTest::currentTestFailed()) return;

        // With the spiral stopped the window closes, sending nothing.
        QVERIFY(x.sendDeleteWindow(window));
        QVERIFY2(app->waitForExit(StartMs), "the program did not end");
        QCOMPARE(app->exitCode(), 0);
        QCOMPARE(mount->commands().size(), run.size());
    }

private:
    // How many leg slews the mount received after this moment (on this process's clock).
    int slewsSince(double since) {
        int n = 0;
        for (const Mount::Received& r : mount->received())
            if (r.bytes.startsWith(bytes({80, 3})) && mount->testClockOf(r.simMs) > since) ++n;
        return n;
    }

    // The whole run as the mount saw it: the position read; legs of tracking off, the other
    // axis's stop and the leg's slew, by the leg table; the stop sequence. No leg runs past its
    // length, and legs went on starting while the box was up.
    void checkSpiral(const QList<Mount::Received>& run, double boxUpAt, double boxDownAt) {
        QList<QByteArray> sent;
        for (const Mount::Received& r : run)
            sent << r.bytes;
        const QString all = show(sent);
        QVERIFY2(sent.size() >= 7 && (sent.size() - 4) % 3 == 0, qPrintable(all));
        QCOMPARE(sent.front(), bytes({90}));
        QVERIFY2(endsWithStopSequence(sent, 1), qPrintable(all));
        const int legs = int(sent.size() - 4) / 3;
        const QByteArray az = sent[3].mid(4, 2); // from the altitude the mount reported
        const QByteArray alt = bytes({5, 220});  // width 3: 1500
        int legsStartedUnderBox = 0;
        for (int k = 0; k < legs; ++k) {
            const int i = 1 + 3 * k;
            const bool azimuthLeg = k % 2 == 0;
            const int messageId = (k % 4 == 0 || k % 4 == 3) ? 6 : 7;
            QCOMPARE(show({sent[i], sent[i + 1], sent[i + 2]}),
                     show({TrackingOff, azimuthLeg ? AltStop : AzStop,
                           bytes({80, 3, azimuthLeg ? 16 : 17, messageId}) +
                               (azimuthLeg ? az : alt) + bytes({0, 0})}));
            // From the slew to the next leg's tracking-off, or to the stop sequence.
            const double length = run[i + 3].simMs - run[i + 2].simMs;
            const double nominal = 500.0 * (k / 2 + 1);
            qInfo("leg %d: %s ms (nominal %s)", k, qPrintable(str(length)),
                  qPrintable(str(nominal)));
            QVERIFY2(length <= nominal + LegMarginMs,
                     qPrintable(QStringLiteral("leg %1 ran %2 ms, nominally %3")
                                    .arg(k)
                                    .arg(str(length), str(nominal))));
            const double slewAt = mount->testClockOf(run[i + 2].simMs);
            if (slewAt > boxUpAt && slewAt < boxDownAt) ++legsStartedUnderBox;
        }
        QVERIFY2(legsStartedUnderBox >= 1, "no leg started while the box was up");
    }
};

QTEST_GUILESS_MAIN(TestEndToEndWm)
#include "test_e2e_wm.moc"
