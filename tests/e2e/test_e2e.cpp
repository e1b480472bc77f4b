// The built program under a real X server, driven by real X input (xdotool: keys held long
// enough for the server's own auto-repeat, mouse clicks on the arrow buttons, the menus by their
// access keys, the close request a window manager sends), talking to skyjog-mount-sim on a
// pseudo-terminal. Every check is on the bytes the simulated mount received, in order.
#include "fixture.h"

#include <QFile>
#include <QTest>

#include <csignal>

using namespace xsession;
using namespace e2e;

namespace {

const QString AltAzSettings = QStringLiteral("7,6,7,6,\"%1\",100,100,8,8,1,#FALSE#,3,0");

// What moves the mount when the program is told to end: an arrow key or an arrow button held,
// or a spiral started by S.
enum class Motion { Key, Mouse, Spiral };

void addMotionRows(const char* name, int value) {
    for (auto [kind, motion] :
         {std::pair{"key held", Motion::Key}, std::pair{"mouse held", Motion::Mouse},
          std::pair{"spiral", Motion::Spiral}})
        QTest::addRow("%s, %s", name, kind) << value << int(motion);
}

} // namespace

class TestEndToEnd : public QObject, private Fixture {
    Q_OBJECT

    // Starts the motion and waits until the mount has it under way: the slew (and the key's
    // auto-repeat begun), or the spiral's first leg and the start of its second.
    void startMotion(Motion m) {
        switch (m) {
        case Motion::Key:
            QCOMPARE(xdotool(xvfb.display(), {"keydown", "Up"}), 0);
            QVERIFY(mount->waitForCount(2));
            QTest::qWait(2 * RepeatDelayMs);
            break;
        case Motion::Mouse: {
            const QPoint up = controlCentre(2040, 600, 375, 615); // cmdUp
            QCOMPARE(xdotool(xvfb.display(), {"mousemove", QString::number(up.x()),
                                              QString::number(up.y()), "mousedown", "1"}),
                     0);
            QVERIFY(mount->waitForCount(2));
            break;
        }
        case Motion::Spiral:
            key(QStringLiteral("s"));
            QVERIFY(mount->waitForCount(6));
            break;
        }
    }
    // The mount got its stops: the hold's stop and tracking restore, or the spiral's whole stop
    // sequence, and nothing after them.
    void checkStopped(Motion m, const QList<QByteArray>& sent) {
        if (m == Motion::Spiral) {
            QVERIFY2(endsWithStopSequence(sent, 1), qPrintable(show(sent)));
            // Each leg is tracking off, a stop and a slew: the last one's slew ran until the
            // stop sequence.
            QVERIFY2(sent.size() >= 10 && sent[sent.size() - 4].left(2) == bytes({80, 3}),
                     qPrintable(show(sent)));
        } else {
            QCOMPARE(show(sent), show(UpPressAndRelease));
        }
    }

private slots:
    void initTestCase() { startDisplay(); }
    void cleanup() {
        // What a case left held on the server (a program that ended mid-hold) is let go, so
        // that nothing repeats into the next case.
        xdo({"keyup", "Up"});
        xdo({"mouseup", "1"});
        endCase();
    }
    void cleanupTestCase() { endDisplay(); }

    void firstStartSendsNothing() {
        launch(QStringLiteral("7,6,7,6,\"%1\",100,100,8,8,1,#FALSE#,3,0"));
        // Long enough for any start-up command, and for an incomplete one to be logged as such.
        QTest::qWait(1500);
        QVERIFY(app->running());
        QCOMPARE(show(mount->commands()), QString());
    }

    void heldArrowKeyStartsAndStopsOnce() {
        launch(QStringLiteral("7,6,7,6,\"%1\",100,100,8,8,1,#FALSE#,3,0")); // Alt/Az, 128x
        x.watchKeys(window);
        QCOMPARE(xdotool(xvfb.display(), {"keydown", "Up"}), 0);
        QTest::qWait(1200);
        QCOMPARE(xdotool(xvfb.display(), {"keyup", "Up"}), 0);

        const QList<QByteArray> sent = settledCommands();
        // The server really repeated the key while it was held.
        const auto counts = x.keyCounts(QStringLiteral("Up"));
        QVERIFY2(counts.presses >= 3, qPrintable(QStringLiteral("%1 presses").arg(counts.presses)));
        QCOMPARE(show(sent), show({bytes({84, 0}), bytes({80, 3, 17, 7, 30, 0, 0, 0}),
                                   bytes({80, 2, 17, 37, 0, 0, 0, 0}), bytes({84, 1})}));
    }

    void heldArrowKeysInEqModeSendNoTrackingOff() {
        launch(QStringLiteral("7,6,7,6,\"%1\",100,100,8,13,2,#FALSE#,3,0")); // EQ North, az 3 deg/s
        QCOMPARE(xdotool(xvfb.display(), {"keydown", "Right"}), 0);
        QTest::qWait(700);
        QCOMPARE(xdotool(xvfb.display(), {"keyup", "Right"}), 0);
        QCOMPARE(show(settledCommands()),
                 show({bytes({80, 3, 16, 6, 168, 192, 0, 0}), bytes({80, 2, 16, 37, 0, 0, 0, 0}),
                       bytes({84, 2})}));
    }

    void arrowButtonsSlewWhileHeldWithAnyMouseButton() {
        launch(QStringLiteral("7,6,7,6,\"%1\",100,100,8,8,1,#FALSE#,3,0"));
        click(controlCentre(2040, 600, 375, 615), 1, 500); // cmdUp, left button
        QVERIFY(mount->waitForCount(4));
        click(controlCentre(1320, 1080, 615, 375), 3, 500); // cmdLeft, right button
        QCOMPARE(show(settledCommands()),
                 show({bytes({84, 0}), bytes({80, 3, 17, 7, 30, 0, 0, 0}),
                       bytes({80, 2, 17, 37, 0, 0, 0, 0}), bytes({84, 1}), bytes({84, 0}),
                       bytes({80, 3, 16, 7, 30, 0, 0, 0}), bytes({80, 2, 16, 37, 0, 0, 0, 0}),
                       bytes({84, 1})}));
    }

    void spiralStartsAndStopsWithS() {
        launch(QStringLiteral("7,6,7,6,\"%1\",100,100,8,8,1,#FALSE#,3,0"));
        key(QStringLiteral("s"));
        // The position read, then the first leg and the second (500 ms each).
        QVERIFY(mount->waitForCount(7));
        key(QStringLiteral("s"));
        const QList<QByteArray> sent = settledCommands();
        QVERIFY2(sent.size() >= 10, qPrintable(show(sent)));
        QCOMPARE(sent[0], bytes({90}));                        // Z
        QCOMPARE(sent[1], bytes({84, 0}));                     // leg 0: tracking off,
        QCOMPARE(sent[2], bytes({80, 2, 17, 37, 0, 0, 0, 0})); // altitude stopped,
        QCOMPARE(sent[3].left(4), bytes({80, 3, 16, 6}));      // azimuth positive
        QCOMPARE(sent[4], bytes({84, 0}));                     // leg 1
        QCOMPARE(sent[5], bytes({80, 2, 16, 37, 0, 0, 0, 0}));
        QCOMPARE(sent[6], bytes({80, 3, 17, 7, 5, 220, 0, 0})); // width 3: rate 1500
        QVERIFY2(endsWithStopSequence(sent, 1), qPrintable(show(sent)));
        // Nothing follows the stop: one press of S started the spiral, one stopped it.
        QTest::qWait(1200);
        QCOMPARE(mount->commands().size(), sent.size());
    }

    void closeIsRefusedMidSpiralThenSettingsAreSavedAtExit() {
        launch(QStringLiteral("7,6,7,6,\"%1\",100,100,8,8,1,#FALSE#,3,0"));
        key(QStringLiteral("s"));
        QVERIFY(mount->waitForCount(4));

        // The close box, as a window manager reports it.
        QVERIFY(x.sendDeleteWindow(window));
        const unsigned long alert = waitForWindow(QStringLiteral("Alert"));
        QVERIFY2(alert, "no window titled Alert");
        QVERIFY(app->running());
        QVERIFY(x.exists(window));
        x.focus(alert);
        key(QStringLiteral("Return"));
        QVERIFY(waitFor([&] { return x.findWindows(QStringLiteral("Alert"), app->pid()).empty(); },
                        StartMs));

        // The spiral goes on after the message: further legs arrive.
        const int before = int(mount->commands().size());
        QVERIFY(mount->waitForCount(before + 3));
        QVERIFY(app->running());

        focusMain();
        key(QStringLiteral("s"));
        QList<QByteArray> sent = settledCommands();
        QVERIFY2(endsWithStopSequence(sent, 1), qPrintable(show(sent)));

        // A change to save: the Up/Down Reverse button swaps the two direction codes.
        click(controlCentre(1800, 2040, 855, 375), 1, 100);
        // The File menu by its access key, then Exit by its own.
        focusMain();
        key(QStringLiteral("alt+f"));
        key(QStringLiteral("x"));
        QVERIFY2(app->waitForExit(StartMs), "the program did not end");
        QCOMPARE(app->exitCode(), 0);
        QFile ini(app->iniPath());
        QVERIFY(ini.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(ini.readAll()),
                 settings(QStringLiteral("6,7,7,6,\"%1\",100,100,8,8,1,#FALSE#,3,0\r\n")));
        // Closing sent nothing.
        QCOMPARE(mount->commands().size(), sent.size());
    }

    // Asked to end by a signal mid-motion, the program ends as closing it does: the mount gets
    // its stops, the settings are saved, and it exits cleanly. A spiral does not refuse it.
    void endSignalStopsTheMount_data() {
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("motion");
        addMotionRows("TERM", SIGTERM);
        addMotionRows("HUP", SIGHUP);
        addMotionRows("INT", SIGINT);
    }
    void endSignalStopsTheMount() {
        QFETCH(int, signal);
        QFETCH(int, motion);
        launch(AltAzSettings);
        // Read as it started; saving writes it anew.
        QVERIFY(QFile::remove(app->iniPath()));
        startMotion(Motion(motion));
        QCOMPARE(::kill(pid_t(app->pid()), signal), 0);
        QVERIFY2(app->waitForExit(StartMs), "the program did not end");
        QVERIFY(app->exitedNormally());
        QCOMPARE(app->exitCode(), 0);
        checkStopped(Motion(motion), settledCommands());
        QFile ini(app->iniPath());
        QVERIFY2(ini.open(QIODevice::ReadOnly), "the settings were not saved");
        QCOMPARE(QString::fromUtf8(ini.readAll()),
                 settings(AltAzSettings) + QStringLiteral("\r\n"));
    }

    // The first signal's end is stuck (the mount's line is gone: the stop fails and its box
    // waits for the user); a second ends the program at once, killed by it.
    void secondSignalEndsAtOnce() {
        launch(AltAzSettings);
        startMotion(Motion::Key);
        mount.reset(); // the simulator ends and takes its link with it
        QCOMPARE(::kill(pid_t(app->pid()), SIGTERM), 0);
        QVERIFY2(
            waitFor([&] { return x.findWindows(QStringLiteral("Skyjog"), app->pid()).size() >= 2; },
                    StartMs),
            "no box for the failed stop");
        QVERIFY(app->running());
        QCOMPARE(::kill(pid_t(app->pid()), SIGINT), 0);
        QVERIFY2(app->waitForExit(5000), "the second signal did not end the program");
        QVERIFY(!app->exitedNormally());
    }

    // The X server dies mid-motion: Qt ends the program from inside its display plugin, and the
    // stops still go out, over the serial line that never needed the display.
    void displayLostStopsTheMount_data() {
        QTest::addColumn<int>("motion");
        QTest::addRow("key held") << int(Motion::Key);
        QTest::addRow("mouse held") << int(Motion::Mouse);
        QTest::addRow("spiral") << int(Motion::Spiral);
    }
    void displayLostStopsTheMount() {
        QFETCH(int, motion);
        launch(AltAzSettings);
        startMotion(Motion(motion));
        // This side's own connection goes first: Xlib would end this process on a lost server.
        x.close();
        xvfb.kill();
        const bool ended = app->waitForExit(StartMs);
        const QList<QByteArray> sent = settledCommands();
        startDisplay(); // for the cases that follow
        QVERIFY2(ended, "the program did not end");
        QVERIFY(app->exitedNormally());
        QCOMPARE(app->exitCode(), 1);
        checkStopped(Motion(motion), sent);
    }

    void menusOpenByAccessKeys() {
        launch(QStringLiteral("7,6,7,6,\"%1\",100,100,8,8,1,#FALSE#,3,0"));
        key(QStringLiteral("alt+h"));
        key(QStringLiteral("a"));
        QVERIFY2(waitForWindow(QStringLiteral("About Skyjog")), "About did not open");
        focusMain();
        key(QStringLiteral("alt+t"));
        key(QStringLiteral("s"));
        QVERIFY2(waitForWindow(QStringLiteral("Setup Scope")), "Setup Scope did not open");
        // The dialog reads its six values; the S chose the menu entry and started no spiral.
        const QList<QByteArray> sent = settledCommands();
        QCOMPARE(sent.size(), 6);
        for (const QByteArray& c : sent)
            QCOMPARE(c.left(1), QByteArray("P"));
    }
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "test_e2e.moc"
