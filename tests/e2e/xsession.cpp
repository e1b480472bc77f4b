#include "xsession.h"

#include <QCoreApplication>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dlfcn.h>
#include <poll.h>
#include <time.h>

namespace xsession {

namespace {
Display* D(void* p) {
    return static_cast<Display*>(p);
}

int ignoreErrors(Display*, XErrorEvent*) {
    return 0;
}
} // namespace

double nowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) * 1000.0 + double(ts.tv_nsec) / 1e6;
}

bool waitFor(const std::function<bool()>& cond, int timeoutMs) {
    const double deadline = nowMs() + timeoutMs;
    for (;;) {
        if (cond()) return true;
        if (nowMs() >= deadline) return cond();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(5);
    }
}

void endProcess(QProcess& proc) {
    if (proc.state() == QProcess::NotRunning) return;
    proc.terminate();
    if (!proc.waitForFinished(5000)) {
        proc.kill();
        proc.waitForFinished(5000);
    }
}

// ---- Xvfb -------------------------------------------------------------------------------------

Xvfb::~Xvfb() {
    stop();
}

bool Xvfb::start(QString* error, int delayMs, int intervalMs) {
    // -displayfd: the server picks a free display itself and says which once it accepts
    // connections, so parallel runs never collide and nothing has to be guessed.
    proc_.setProcessChannelMode(QProcess::SeparateChannels);
    proc_.start(QStringLiteral("Xvfb"),
                {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                 QStringLiteral("0"), QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                 QStringLiteral("tcp"), QStringLiteral("-noreset"), QStringLiteral("-ardelay"),
                 QString::number(delayMs), QStringLiteral("-arinterval"),
                 QString::number(intervalMs)});
    if (!proc_.waitForStarted(10000)) {
        *error = QStringLiteral("Xvfb did not start: %1").arg(proc_.errorString());
        return false;
    }
    QByteArray out;
    const double deadline = nowMs() + 20000;
    while (!out.contains('\n') && nowMs() < deadline && proc_.state() == QProcess::Running) {
        proc_.waitForReadyRead(200);
        out += proc_.readAllStandardOutput();
    }
    bool ok = false;
    const int n = out.trimmed().toInt(&ok);
    if (!ok) {
        *error = QStringLiteral("Xvfb did not report its display: %1")
                     .arg(QString::fromLocal8Bit(proc_.readAllStandardError()));
        stop();
        return false;
    }
    display_ = QStringLiteral(":%1").arg(n);
    return true;
}

void Xvfb::stop() {
    endProcess(proc_);
}

void Xvfb::kill() {
    if (proc_.state() == QProcess::NotRunning) return;
    proc_.kill();
    proc_.waitForFinished(5000);
}

// ---- Xlib -------------------------------------------------------------------------------------

XDisplay::~XDisplay() {
    close();
}

bool XDisplay::open(const QString& display) {
    close();
    XSetErrorHandler(ignoreErrors); // windows come and go under our feet; a miss is not fatal
    dpy_ = XOpenDisplay(display.toLocal8Bit().constData());
    return dpy_ != nullptr;
}

void XDisplay::close() {
    if (dpy_) XCloseDisplay(D(dpy_));
    dpy_ = nullptr;
}

bool XDisplay::setAutoRepeat(int delayMs, int intervalMs, QString* error) {
    XAutoRepeatOn(D(dpy_));
    XkbSetAutoRepeatRate(D(dpy_), XkbUseCoreKbd, unsigned(delayMs), unsigned(intervalMs));
    XSync(D(dpy_), False);
    XKeyboardState state{};
    XGetKeyboardControl(D(dpy_), &state);
    unsigned delay = 0, interval = 0;
    XkbGetAutoRepeatRate(D(dpy_), XkbUseCoreKbd, &delay, &interval);
    if (state.global_auto_repeat != AutoRepeatModeOn || int(delay) != delayMs ||
        int(interval) != intervalMs) {
        *error = QStringLiteral("auto-repeat is %1, delay %2 ms, interval %3 ms")
                     .arg(state.global_auto_repeat == AutoRepeatModeOn ? "on" : "off")
                     .arg(delay)
                     .arg(interval);
        return false;
    }
    return true;
}

std::vector<unsigned long> XDisplay::windowListProperty(unsigned long window, const char* name,
                                                        unsigned long type) {
    std::vector<unsigned long> out;
    Display* d = D(dpy_);
    Atom actual = 0;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, window, XInternAtom(d, name, False), 0, 4096, False, type, &actual,
                           &format, &items, &after, &data) == Success &&
        data) {
        if (format == 32) {
            const auto* list = reinterpret_cast<const unsigned long*>(data);
            out.assign(list, list + items);
        }
        XFree(data);
    }
    return out;
}

QString XDisplay::windowName(unsigned long window) {
    Display* d = D(dpy_);
    Atom type = 0;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    QString name;
    if (XGetWindowProperty(d, window, XInternAtom(d, "_NET_WM_NAME", False), 0, 1024, False,
                           XInternAtom(d, "UTF8_STRING", False), &type, &format, &items, &after,
                           &data) == Success &&
        data) {
        name = QString::fromUtf8(reinterpret_cast<const char*>(data), int(items));
        XFree(data);
        return name;
    }
    char* legacy = nullptr;
    if (XFetchName(d, window, &legacy) && legacy) {
        name = QString::fromLocal8Bit(legacy);
        XFree(legacy);
    }
    return name;
}

qint64 XDisplay::pidOf(unsigned long window) {
    const auto pid = windowListProperty(window, "_NET_WM_PID", XA_CARDINAL);
    return pid.size() == 1 ? qint64(pid.front()) : 0;
}

std::vector<unsigned long> XDisplay::rootChildren() {
    std::vector<unsigned long> out;
    Display* d = D(dpy_);
    Window root = 0, parent = 0, *children = nullptr;
    unsigned n = 0;
    if (!XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &n)) return out;
    out.assign(children, children + n);
    if (children) XFree(children);
    return out;
}

std::vector<unsigned long> XDisplay::findWindows(const QString& title, qint64 pid) {
    std::vector<unsigned long> found;
    Display* d = D(dpy_);
    // A window manager puts each window into a frame of its own: the windows themselves are then
    // found in its list, not among the root's children.
    std::vector<unsigned long> candidates = rootChildren();
    for (unsigned long w : windowListProperty(DefaultRootWindow(d), "_NET_CLIENT_LIST", XA_WINDOW))
        if (std::find(candidates.begin(), candidates.end(), w) == candidates.end())
            candidates.push_back(w);
    for (const unsigned long w : candidates) {
        XWindowAttributes attr{};
        if (!XGetWindowAttributes(d, w, &attr) || attr.map_state != IsViewable) continue;
        if (windowName(w) != title) continue;
        if (pid > 0 && pidOf(w) != pid) continue;
        found.push_back(w);
    }
    return found;
}

std::optional<Geometry> XDisplay::geometry(unsigned long window) {
    Display* d = D(dpy_);
    XWindowAttributes attr{};
    if (!XGetWindowAttributes(d, window, &attr)) return std::nullopt;
    int x = 0, y = 0;
    Window child = 0;
    if (!XTranslateCoordinates(d, window, DefaultRootWindow(d), 0, 0, &x, &y, &child))
        return std::nullopt;
    return Geometry{x, y, attr.width, attr.height};
}

bool XDisplay::exists(unsigned long window) {
    XWindowAttributes attr{};
    return XGetWindowAttributes(D(dpy_), window, &attr) && attr.map_state == IsViewable;
}

void XDisplay::focus(unsigned long window) {
    Display* d = D(dpy_);
    if (windowManagerName().isEmpty()) {
        XRaiseWindow(d, window);
        XSetInputFocus(d, window, RevertToParent, CurrentTime);
        XSync(d, False);
        return;
    }
    // A window manager owns focus and stacking: a client that sets them itself is overridden
    // at its next decision. It is asked as a pager asks (source 2), which it always obeys.
    const Window root = DefaultRootWindow(d);
    const Atom active = XInternAtom(d, "_NET_ACTIVE_WINDOW", False);
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = window;
    e.xclient.message_type = active;
    e.xclient.format = 32;
    e.xclient.data.l[0] = 2;
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
    XSync(d, False);
    waitFor(
        [&] {
            const auto now = windowListProperty(root, "_NET_ACTIVE_WINDOW", XA_WINDOW);
            return now.size() == 1 && now.front() == window;
        },
        5000);
}

QString XDisplay::windowManagerName() {
    Display* d = D(dpy_);
    const auto check =
        windowListProperty(DefaultRootWindow(d), "_NET_SUPPORTING_WM_CHECK", XA_WINDOW);
    if (check.size() != 1) return {};
    // The check window names itself too; a stale property left by a manager that has gone
    // points at a window that no longer does.
    const auto self = windowListProperty(check.front(), "_NET_SUPPORTING_WM_CHECK", XA_WINDOW);
    if (self.size() != 1 || self.front() != check.front()) return {};
    return windowName(check.front());
}

std::vector<unsigned long> XDisplay::clientStacking() {
    Display* d = D(dpy_);
    return windowListProperty(DefaultRootWindow(d), "_NET_CLIENT_LIST_STACKING", XA_WINDOW);
}

unsigned long XDisplay::frameOf(unsigned long window) {
    Display* d = D(dpy_);
    Window w = window;
    for (;;) {
        Window root = 0, parent = 0, *children = nullptr;
        unsigned n = 0;
        if (!XQueryTree(d, w, &root, &parent, &children, &n)) return 0;
        if (children) XFree(children);
        if (parent == root || parent == 0) return w;
        w = parent;
    }
}

QStringList XDisplay::netWmState(unsigned long window) {
    Display* d = D(dpy_);
    QStringList names;
    for (unsigned long atom : windowListProperty(window, "_NET_WM_STATE", XA_ATOM)) {
        char* name = XGetAtomName(d, Atom(atom));
        if (!name) continue;
        names << QString::fromLatin1(name);
        XFree(name);
    }
    return names;
}

bool XDisplay::sendDeleteWindow(unsigned long window) {
    Display* d = D(dpy_);
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = window;
    e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = long(XInternAtom(d, "WM_DELETE_WINDOW", False));
    e.xclient.data.l[1] = CurrentTime;
    const Status s = XSendEvent(d, window, False, NoEventMask, &e);
    XSync(d, False);
    return s != 0;
}

bool XDisplay::fakeKey(const QString& keysym, bool press) {
    // Loaded at run time: the extension's library comes with xdotool, its headers might not.
    using FakeKeyFn = int (*)(Display*, unsigned int, Bool, unsigned long);
    static const FakeKeyFn fake = [] {
        void* lib = dlopen("libXtst.so.6", RTLD_NOW | RTLD_LOCAL);
        return lib ? reinterpret_cast<FakeKeyFn>(dlsym(lib, "XTestFakeKeyEvent")) : nullptr;
    }();
    if (!fake) return false;
    const unsigned code = XKeysymToKeycode(D(dpy_), XStringToKeysym(keysym.toLatin1().constData()));
    fake(D(dpy_), code, press ? True : False, CurrentTime);
    XFlush(D(dpy_));
    return true;
}

void XDisplay::watchKeys(unsigned long window) {
    drainEvents();
    keyEvents_.clear();
    // Several clients may select key events on one window; the program gets them all the same.
    XSelectInput(D(dpy_), window, KeyPressMask | KeyReleaseMask);
    XSync(D(dpy_), False);
}

void XDisplay::drainEvents() {
    Display* d = D(dpy_);
    while (XPending(d)) {
        XEvent e{};
        XNextEvent(d, &e);
        if (e.type == KeyPress || e.type == KeyRelease)
            keyEvents_.push_back({e.xkey.keycode, e.type == KeyPress});
        else if (e.type == MapNotify)
            maps_.push_back({{e.xmap.window, nowMs()}, e.xmap.override_redirect != 0});
    }
}

void XDisplay::watchMaps() {
    Display* d = D(dpy_);
    drainEvents();
    maps_.clear();
    XSelectInput(d, DefaultRootWindow(d), SubstructureNotifyMask);
    XSync(d, False);
}

std::optional<XDisplay::Mapped>
XDisplay::waitForMapOf(const std::function<bool(const MapEvent&)>& wanted, int timeoutMs) {
    Display* d = D(dpy_);
    const double deadline = nowMs() + timeoutMs;
    size_t checked = 0;
    for (;;) {
        drainEvents();
        for (; checked < maps_.size(); ++checked)
            if (wanted(maps_[checked])) return maps_[checked].map;
        const double left = deadline - nowMs();
        if (left <= 0) return std::nullopt;
        pollfd p{ConnectionNumber(d), POLLIN, 0};
        ::poll(&p, 1, int(std::min(left, 50.0)) + 1);
    }
}

std::optional<XDisplay::Mapped> XDisplay::waitForMap(const QString& title, qint64 pid,
                                                     int timeoutMs) {
    return waitForMapOf(
        [&](const MapEvent& m) {
            // Checked against the live list of viewable windows: a notice can outlive its window.
            const auto live = findWindows(title, pid);
            return std::find(live.begin(), live.end(), m.map.window) != live.end();
        },
        timeoutMs);
}

std::optional<XDisplay::Mapped> XDisplay::waitForPopup(qint64 pid, int timeoutMs) {
    return waitForMapOf(
        [&](const MapEvent& m) {
            return m.overrideRedirect && exists(m.map.window) && pidOf(m.map.window) == pid;
        },
        timeoutMs);
}

XDisplay::KeyCounts XDisplay::keyCounts(const QString& keysym) {
    XSync(D(dpy_), False);
    drainEvents();
    const KeySym sym = XStringToKeysym(keysym.toLatin1().constData());
    const unsigned code = XKeysymToKeycode(D(dpy_), sym);
    KeyCounts c;
    for (const KeyEvent& k : keyEvents_) {
        if (k.keycode != code) continue;
        (k.press ? c.presses : c.releases)++;
    }
    return c;
}

// ---- openbox ----------------------------------------------------------------------------------

WindowManager::~WindowManager() {
    stop();
}

bool WindowManager::installed() {
    return !QStandardPaths::findExecutable(QStringLiteral("openbox")).isEmpty();
}

bool WindowManager::start(const QString& display, XDisplay& x, QString* error) {
    // Configuration and cache in a folder of its own: Debian's defaults, never the user's files.
    home_ = std::make_unique<QTemporaryDir>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home_->filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home_->filePath(QStringLiteral("cache")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home_->filePath(QStringLiteral("data")));
    proc_.setProcessEnvironment(env);
    proc_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    proc_.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    if (!proc_.waitForStarted(10000)) {
        *error = QStringLiteral("openbox did not start: %1").arg(proc_.errorString());
        return false;
    }
    // Up once it names itself on the root window (EWMH), after it has taken the screen over.
    if (!waitFor([&] { return !x.windowManagerName().isEmpty() || !running(); }, 20000) ||
        !running()) {
        *error = QStringLiteral("openbox did not take the screen over");
        stop();
        return false;
    }
    return true;
}

void WindowManager::stop() {
    endProcess(proc_);
}

// ---- xdotool ----------------------------------------------------------------------------------

int xdotool(const QString& display, const QStringList& args, QString* out, int timeoutMs) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("xdotool"), args);
    if (!p.waitForStarted(5000)) return -1;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(2000);
        return -1;
    }
    if (out) *out = QString::fromLocal8Bit(p.readAllStandardOutput());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

} // namespace xsession
