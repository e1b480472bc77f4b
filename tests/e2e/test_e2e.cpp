// The built program under a real X server, driven by real X input (xdotool: keys held long
// enough for the server's own auto-repeat, mouse clicks on the arrow buttons, the menus by their
// access keys, the close request a window manager sends), talking to skyjog-mount-sim on a
// pseudo-terminal. Every check is on the bytes the simulated mount received, in order.
#include "testhelpers.h"
#include "xsession.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace xsession;
using skyjog::test::bytes;
using skyjog::test::show;

namespace {

constexpr int RepeatDelayMs = 150;
constexpr int RepeatIntervalMs = 30;
// Bounds for things that happen at once on an idle machine but may crawl on a loaded one.
constexpr int StartMs = 30000;
constexpr int ReplyMs = 10000;

// The mount's side: skyjog-mount-sim on a pseudo-terminal, logging to a file.
class Mount {
public:
    explicit Mount(const QString& dir)
        : link_(dir + QStringLiteral("/mount")), log_(dir + QStringLiteral("/sim.log")) {}
    ~Mount() {
        if (proc_.state() == QProcess::NotRunning) return;
        proc_.terminate();
        if (!proc_.waitForFinished(5000)) {
            proc_.kill();
            proc_.waitForFinished(5000);
        }
    }
    bool start(const QString& exe) {
        proc_.start(exe, {QStringLiteral("--pty"), link_, QStringLiteral("--log-file"), log_});
        if (!proc_.waitForStarted(StartMs)) return false;
        return waitFor(
            [&] {
                proc_.waitForReadyRead(20);
                ready_ += proc_.readAllStandardOutput();
                return ready_.contains("ready");
            },
            StartMs);
    }
    QString link() const { return link_; }

    // Every command the mount received so far, in order, including any incomplete one.
    QList<QByteArray> commands() const {
        QList<QByteArray> out;
        QFile f(log_);
        if (!f.open(QIODevice::ReadOnly)) return out;
        static const QRegularExpression sp(QStringLiteral("\\s+"));
        for (const QByteArray& raw : f.readAll().split('\n')) {
            const QStringList tok = QString::fromUtf8(raw).trimmed().split(sp, Qt::SkipEmptyParts);
            if (tok.size() < 3 || tok[1] != QLatin1String("cmd")) continue;
            QByteArray b;
            for (int i = 2; i < tok.size() && !tok[i].startsWith(u'('); ++i)
                if (tok[i] != QLatin1String("-")) b += char(tok[i].toInt());
            out << b;
        }
        return out;
    }
    bool waitForCount(int n, int timeoutMs = ReplyMs) const {
        return waitFor([&] { return commands().size() >= n; }, timeoutMs);
    }

private:
    QString link_, log_;
    QProcess proc_;
    QByteArray ready_;
};

// The program, copied into a folder of its own with its settings file beside it.
class App {
public:
    App(const QString& dir, const QString& display)
        : dir_(dir + QStringLiteral("/app")), display_(display) {}
    ~App() { kill(); }
    bool start(const QString& exe, const QByteArray& settingsLine) {
        QDir().mkpath(dir_);
        // A copy, not a link: the program finds its folder through the resolved executable path.
        const QString copy = dir_ + QStringLiteral("/skyjog");
        if (!QFile::copy(exe, copy)) return false;
        QFile ini(iniPath());
        if (!ini.open(QIODevice::WriteOnly)) return false;
        ini.write(settingsLine + "\r\n");
        ini.close();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display_);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), QFileInfo(dir_).path()); // private (0700)
        proc_.setProcessEnvironment(env);
        proc_.setProcessChannelMode(QProcess::ForwardedChannels);
        proc_.start(copy, {});
        return proc_.waitForStarted(StartMs);
    }
    qint64 pid() const { return proc_.processId(); }
    bool running() const { return proc_.state() == QProcess::Running; }
    bool waitForExit(int timeoutMs) {
        return proc_.state() == QProcess::NotRunning || proc_.waitForFinished(timeoutMs);
    }
    int exitCode() const { return proc_.exitCode(); }
    QString iniPath() const { return dir_ + QStringLiteral("/Skyjogger.ini"); }
    void kill() {
        if (proc_.state() == QProcess::NotRunning) return;
        proc_.kill();
        proc_.waitForFinished(5000);
    }

private:
    QString dir_, display_;
    QProcess proc_;
};

} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT

    Xvfb xvfb;
    XDisplay x;
    QString skyjogExe, simExe;

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<Mount> mount;
    std::unique_ptr<App> app;
    unsigned long window = 0;

    QString settings(const QString& fields) const {
        // UpMessage,DownMessage,LeftMessage,RightMessage,"port",top,left,alt,az,track,ontop,w,d
        return fields.arg(mount->link());
    }

    // Starts the mount and the program with a settings file; leaves the program's window found,
    // focused and with the pointer over it.
    void launch(const QString& settingsPattern) {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
        mount = std::make_unique<Mount>(dir->path());
        QVERIFY2(mount->start(simExe), "skyjog-mount-sim did not get ready");
        app = std::make_unique<App>(dir->path(), xvfb.display());
        QVERIFY(app->start(skyjogExe, settings(settingsPattern).toUtf8()));
        QVERIFY2(
            waitFor([&] { return !x.findWindows(QStringLiteral("Skyjog"), app->pid()).empty(); },
                    StartMs),
            "the Skyjog window did not appear");
        window = x.findWindows(QStringLiteral("Skyjog"), app->pid()).front();
        focusMain();
    }

    void focusMain() {
        x.focus(window);
        const auto g = x.geometry(window);
        QVERIFY(g);
        QCOMPARE(xdotool(xvfb.display(), {"mousemove", QString::number(g->x + g->width - 5),
                                          QString::number(g->y + g->height - 5)}),
                 0);
    }

    // The centre of a control given in twips inside the window's client area, on the screen.
    QPoint controlCentre(int left, int top, int width, int height) {
        const auto g = x.geometry(window);
        if (!g) return {};
        const double scale = g->width / 275.0; // the client area is 4125 x 2940 twips
        const double menuBar = g->height - 196 * scale;
        return QPoint(g->x + int((left + width / 2.0) / 15.0 * scale),
                      g->y + int(menuBar + (top + height / 2.0) / 15.0 * scale));
    }

    // Presses and holds a mouse button on a control, then releases it.
    void click(QPoint at, int button, int holdMs) {
        QCOMPARE(xdotool(xvfb.display(),
                         {"mousemove", QString::number(at.x()), QString::number(at.y()),
                          "mousedown", QString::number(button), "sleep",
                          QString::number(holdMs / 1000.0), "mouseup", QString::number(button)}),
                 0);
    }

    void key(const QString& keys) {
        QCOMPARE(xdotool(xvfb.display(), {"key", "--delay", "40", keys}), 0);
    }

    // Waits until the command list stops growing for quietMs (bounded by ReplyMs).
    QList<QByteArray> settledCommands(int quietMs = 800) {
        QList<QByteArray> last = mount->commands();
        double since = nowMs();
        waitFor(
            [&] {
                const auto now = mount->commands();
                if (now != last) {
                    last = now;
                    since = nowMs();
                }
                return nowMs() - since >= quietMs;
            },
            ReplyMs);
        return last;
    }

    // A window of this program with this title, once it is up.
    unsigned long waitForWindow(const QString& title) {
        unsigned long found = 0;
        waitFor(
            [&] {
                const auto w = x.findWindows(title, app->pid());
                found = w.empty() ? 0 : w.front();
                return found != 0;
            },
            StartMs);
        return found;
    }

    // Spiral commands end with both stops and the tracking restore.
    static bool endsWithStopSequence(const QList<QByteArray>& c, int mode) {
        return c.size() >= 3 && c[c.size() - 3] == bytes({80, 2, 17, 37, 0, 0, 0, 0}) &&
               c[c.size() - 2] == bytes({80, 2, 16, 37, 0, 0, 0, 0}) &&
               c.back() == bytes({84, mode});
    }

private slots:
    void initTestCase() {
        skyjogExe = QStringLiteral(SKYJOG_EXE);
        simExe = QStringLiteral(SKYJOG_MOUNT_SIM);
        QVERIFY2(QFileInfo(skyjogExe).isExecutable(), qPrintable(skyjogExe + " is missing"));
        QVERIFY2(QFileInfo(simExe).isExecutable(), qPrintable(simExe + " is missing"));
        QString error;
        QVERIFY2(xvfb.start(&error, RepeatDelayMs, RepeatIntervalMs), qPrintable(error));
        QVERIFY(x.open(xvfb.display()));
        QVERIFY2(x.setAutoRepeat(RepeatDelayMs, RepeatIntervalMs, &error), qPrintable(error));
        QString version;
        QVERIFY2(xdotool(xvfb.display(), {"version"}, &version) == 0, "xdotool is missing");
    }

    void cleanup() {
        if (app) app->kill();
        app.reset();
        mount.reset();
        dir.reset();
        window = 0;
    }

    void cleanupTestCase() {
        x.close();
        xvfb.stop();
    }

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
