#pragma once
// What the end-to-end tests share: the simulated mount on a pseudo-terminal, the built program in
// a folder of its own with its settings file, and a private X server to run it on, with helpers
// to find its window and its controls and to drive them by real X input.
#include "testhelpers.h"
#include "xsession.h"

#include <QList>
#include <QPoint>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <initializer_list>
#include <memory>

namespace e2e {

// Bounds for things that happen at once on an idle machine but may crawl on a loaded one.
constexpr int StartMs = 30000;
constexpr int ReplyMs = 10000;
constexpr int RepeatDelayMs = 150;
constexpr int RepeatIntervalMs = 30;

using skyjog::test::bytes;
using skyjog::test::show;

// The commands of an Up hold in Alt/Az at 128x with the default direction codes.
inline const QByteArray TrackingOff = bytes({84, 0});
inline const QByteArray AltAz = bytes({84, 1});
inline const QByteArray UpSlew = bytes({80, 3, 17, 7, 30, 0, 0, 0});
inline const QByteArray AltStop = bytes({80, 2, 17, 37, 0, 0, 0, 0});
inline const QByteArray AzStop = bytes({80, 2, 16, 37, 0, 0, 0, 0});
inline const QList<QByteArray> UpPressAndRelease{TrackingOff, UpSlew, AltStop, AltAz};

// The mount's side: skyjog-mount-sim on a pseudo-terminal, logging to a file.
class Mount {
public:
    explicit Mount(const QString& dir);
    ~Mount();
    bool start(const QString& exe);
    QString link() const { return link_; }

    // One command as the mount received it, with the simulator's time stamp (ms since its start).
    struct Received {
        QByteArray bytes;
        double simMs = 0;
    };
    // Every command the mount received so far, in order, including any incomplete one.
    QList<Received> received() const;
    QList<QByteArray> commands() const;
    bool waitForCount(int n, int timeoutMs = ReplyMs) const;
    // A simulator time stamp on this process's clock (xsession::nowMs). Estimated from when
    // commands were first seen in the log against their stamps: it may come out late by the
    // log-watching lag (a few ms while a wait watches the log), never early.
    double testClockOf(double simMs) const;

private:
    QString link_, log_;
    QProcess proc_;
    QByteArray ready_;
    mutable QList<double> seenAt_;
    mutable double offset_ = 1e300;
};

// The program, copied into a folder of its own with its settings file beside it.
class App {
public:
    App(const QString& dir, const QString& display);
    ~App() { kill(); }
    bool start(const QString& exe, const QByteArray& settingsLine);
    qint64 pid() const { return proc_.processId(); }
    bool running() const { return proc_.state() == QProcess::Running; }
    bool waitForExit(int timeoutMs);
    int exitCode() const { return proc_.exitCode(); }
    // Whether it ended by itself (a signal that kills it does not count).
    bool exitedNormally() const { return proc_.exitStatus() == QProcess::NormalExit; }
    QString iniPath() const { return dir_ + QStringLiteral("/Skyjogger.ini"); }
    void kill();

private:
    QString dir_, display_;
    QProcess proc_;
};

// A test class's private X server, and one mount and program per test case.
class Fixture {
protected:
    xsession::Xvfb xvfb;
    xsession::XDisplay x;
    QString skyjogExe, simExe;

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<Mount> mount;
    std::unique_ptr<App> app;
    unsigned long window = 0;

    // The X server with auto-repeat on, and the programs checked (initTestCase).
    void startDisplay();
    // The case's program and mount gone (cleanup).
    void endCase();
    // The X server gone (cleanupTestCase).
    void endDisplay();

    // UpMessage,DownMessage,LeftMessage,RightMessage,"port",top,left,alt,az,track,ontop,w,d with
    // %1 for the mount's link.
    QString settings(const QString& fields) const;
    // Starts the mount and the program with a settings file; leaves the program's window found,
    // focused and with the pointer over it.
    void launch(const QString& settingsPattern);
    void focusMain();
    // The centre of a control given in twips inside the window's client area, on the screen.
    QPoint controlCentre(int left, int top, int width, int height);
    // The height of the menu bar above the client area, in pixels.
    int menuBarHeight();
    // Presses and holds a mouse button on a control, then releases it.
    void click(QPoint at, int button, int holdMs);
    void key(const QString& keys);
    // xdotool with the given arguments on the display; true when it succeeded.
    bool xdo(const QStringList& args);
    // Waits until the command list stops growing for quietMs (bounded by ReplyMs).
    QList<QByteArray> settledCommands(int quietMs = 800);
    // A window of this program with this title, once it is up; 0 when none came.
    unsigned long waitForWindow(const QString& title);
    // Spiral commands end with both stops and the tracking restore.
    static bool endsWithStopSequence(const QList<QByteArray>& c, int mode);
};

} // namespace e2e
