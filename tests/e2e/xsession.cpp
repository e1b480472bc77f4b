#include "xsession.h"

#include <QCoreApplication>
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
    if (proc_.state() == QProcess::NotRunning) return;
    proc_.terminate();
    if (!proc_.waitForFinished(5000)) {
        proc_.kill();
        proc_.waitForFinished(5000);
    }
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

std::vector<unsigned long> XDisplay::findWindows(const QString& title, qint64 pid) {
    std::vector<unsigned long> found;
    Display* d = D(dpy_);
    const Atom pidAtom = XInternAtom(d, "_NET_WM_PID", False);
    const Atom nameAtom = XInternAtom(d, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
    Window root = 0, parent = 0, *children = nullptr;
    unsigned n = 0;
    if (!XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &n)) return found;
    for (unsigned i = 0; i < n; ++i) {
        const Window w = children[i];
        XWindowAttributes attr{};
        if (!XGetWindowAttributes(d, w, &attr) || attr.map_state != IsViewable) continue;

        QString name;
        Atom type = 0;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(d, w, nameAtom, 0, 1024, False, utf8, &type, &format, &items, &after,
                               &data) == Success &&
            data) {
            name = QString::fromUtf8(reinterpret_cast<const char*>(data), int(items));
            XFree(data);
            data = nullptr;
        } else {
            char* legacy = nullptr;
            if (XFetchName(d, w, &legacy) && legacy) {
                name = QString::fromLocal8Bit(legacy);
                XFree(legacy);
            }
        }
        if (name != title) continue;

        if (pid > 0) {
            qint64 windowPid = 0;
            if (XGetWindowProperty(d, w, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &items,
                                   &after, &data) == Success &&
                data) {
                if (items == 1) windowPid = qint64(*reinterpret_cast<unsigned long*>(data));
                XFree(data);
            }
            if (windowPid != pid) continue;
        }
        found.push_back(w);
    }
    if (children) XFree(children);
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
    XRaiseWindow(D(dpy_), window);
    XSetInputFocus(D(dpy_), window, RevertToParent, CurrentTime);
    XSync(D(dpy_), False);
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
            maps_.push_back({e.xmap.window, nowMs()});
    }
}

void XDisplay::watchMaps() {
    Display* d = D(dpy_);
    drainEvents();
    maps_.clear();
    XSelectInput(d, DefaultRootWindow(d), SubstructureNotifyMask);
    XSync(d, False);
}

std::optional<XDisplay::Mapped> XDisplay::waitForMap(const QString& title, qint64 pid,
                                                     int timeoutMs) {
    Display* d = D(dpy_);
    const double deadline = nowMs() + timeoutMs;
    size_t checked = 0;
    for (;;) {
        drainEvents();
        for (; checked < maps_.size(); ++checked) {
            // Checked against the live list of viewable windows: a notice can outlive its window.
            for (unsigned long w : findWindows(title, pid))
                if (w == maps_[checked].window) return maps_[checked];
        }
        const double left = deadline - nowMs();
        if (left <= 0) return std::nullopt;
        pollfd p{ConnectionNumber(d), POLLIN, 0};
        ::poll(&p, 1, int(std::min(left, 50.0)) + 1);
    }
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
