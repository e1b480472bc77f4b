#pragma once
// A private X server for driving the real program: a virtual X server on a free display with the
// server's own key auto-repeat on, optionally a real window manager (openbox) on it, an Xlib
// connection that finds the program's windows, reads their geometry, stacking and states,
// focuses them, asks them to close as a window manager would (WM_DELETE_WINDOW) and watches the
// key events the server delivers to them; and xdotool for the user's input. Every wait is bounded.
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace xsession {

// CLOCK_MONOTONIC in milliseconds, with fraction.
double nowMs();

// Polls cond every few milliseconds (running the caller's Qt events) until it holds or timeoutMs
// has passed; returns its last value.
bool waitFor(const std::function<bool()>& cond, int timeoutMs);

// Ends a helper process: asked first, killed if it does not go (each step bounded).
void endProcess(QProcess& proc);

class Xvfb {
public:
    ~Xvfb();
    // Starts Xvfb on a display number it finds free, auto-repeat after delayMs every intervalMs.
    // False (with the reason) when there is no Xvfb or it does not come up.
    bool start(QString* error, int delayMs = 150, int intervalMs = 30);
    void stop();
    // Kills the server (SIGKILL), as a crash would end it: its clients are cut off at once.
    void kill();
    QString display() const { return display_; }

private:
    QProcess proc_;
    QString display_;
};

struct Geometry {
    int x = 0, y = 0, width = 0, height = 0; // outer position on the root window, size
    double centreX() const { return x + width / 2.0; }
    double centreY() const { return y + height / 2.0; }
};

class XDisplay {
public:
    ~XDisplay();
    bool open(const QString& display);
    void close();
    void* handle() const { return dpy_; } // the Xlib Display

    // Switches the server's auto-repeat on with the given timing and reads it back.
    bool setAutoRepeat(int delayMs, int intervalMs, QString* error);

    // Viewable top-level windows whose title is exactly title, of process pid when pid > 0: the
    // root's children, and under a window manager the client windows it manages.
    std::vector<unsigned long> findWindows(const QString& title, qint64 pid = 0);
    std::optional<Geometry> geometry(unsigned long window);
    bool exists(unsigned long window);
    // Gives the keyboard focus to the window and raises it: under a window manager by asking it
    // (_NET_ACTIVE_WINDOW, as a pager does) and waiting until it says so, otherwise directly.
    void focus(unsigned long window);

    // The running window manager's name (_NET_SUPPORTING_WM_CHECK), empty when there is none.
    QString windowManagerName();
    // The managed client windows, bottom to top, as the window manager stacks them
    // (_NET_CLIENT_LIST_STACKING).
    std::vector<unsigned long> clientStacking();
    // The root's children bottom to top, as the server stacks them.
    std::vector<unsigned long> rootChildren();
    // The root's child that holds window: its window manager frame, or the window itself.
    unsigned long frameOf(unsigned long window);
    // The names of the atoms in the window's _NET_WM_STATE ("_NET_WM_STATE_ABOVE", ...).
    QStringList netWmState(unsigned long window);
    // The process that owns the window (_NET_WM_PID), 0 when it does not say.
    qint64 pidOf(unsigned long window);
    // What a window manager sends when the user clicks the close box.
    bool sendDeleteWindow(unsigned long window);

    // Presses or releases a key through the XTEST extension, as xdotool does, and flushes the
    // request to the server. False when the extension's library cannot be loaded.
    bool fakeKey(const QString& keysym, bool press);

    // Reports every top-level window that gets mapped from now on.
    void watchMaps();
    // Waits (at most timeoutMs) for a window of this title and process to be mapped, and says
    // which and when (nowMs clock, taken as the server's notice arrived).
    struct Mapped {
        unsigned long window = 0;
        double atMs = 0;
    };
    std::optional<Mapped> waitForMap(const QString& title, qint64 pid, int timeoutMs);
    // Waits (at most timeoutMs) for a pop-up (an override-redirect window: a menu, a list) of
    // this process to be mapped, and says which and when.
    std::optional<Mapped> waitForPopup(qint64 pid, int timeoutMs);

    // Starts counting the key presses and releases the server delivers to window.
    void watchKeys(unsigned long window);
    struct KeyCounts {
        int presses = 0;
        int releases = 0;
    };
    // Events so far for the key with this keysym name ("Up", "s"), since watchKeys.
    KeyCounts keyCounts(const QString& keysym);

private:
    void drainEvents();
    void* dpy_ = nullptr;
    QString windowName(unsigned long window);
    std::vector<unsigned long> windowListProperty(unsigned long window, const char* name,
                                                  unsigned long type);
    struct KeyEvent {
        unsigned int keycode;
        bool press;
    };
    struct MapEvent {
        Mapped map;
        bool overrideRedirect;
    };
    std::optional<Mapped> waitForMapOf(const std::function<bool(const MapEvent&)>& wanted,
                                       int timeoutMs);
    std::vector<KeyEvent> keyEvents_;
    std::vector<MapEvent> maps_;
};

// Openbox, as Debian installs it, managing the windows of a private X server: its own default
// configuration, nothing from the user's. Found on the PATH; tests that need it say so and skip
// where it is not installed.
class WindowManager {
public:
    ~WindowManager();
    static bool installed();
    // Starts it and waits until it has taken the screen over (bounded). False with the reason.
    bool start(const QString& display, XDisplay& x, QString* error);
    void stop();
    bool running() const { return proc_.state() == QProcess::Running; }

private:
    QProcess proc_;
    std::unique_ptr<QTemporaryDir> home_;
};

// Runs xdotool with the given arguments on the display; returns its exit code (-1 when it did
// not run or did not finish within timeoutMs) and its output in *out.
int xdotool(const QString& display, const QStringList& args, QString* out = nullptr,
            int timeoutMs = 15000);

} // namespace xsession
