#include "signalend.h"

#include "functions.h"
#include "spiral.h"

#include <QTimer>
#include <QWidget>

#include <QCoreApplication>
#include <iterator>
#include <utility>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#ifdef Q_OS_WIN
#include <QAbstractNativeEventFilter>
#include <atomic>
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace skyjog {

namespace {

// The one object that serves the requests, touched on the main thread only.
EndRequests* current = nullptr;
std::function<void()> endProgram;
std::function<void()> sendAtOnce;
bool served = false;

// Runs on the main thread, from its event loop (a nested one too: the spiral's, a box's).
void serveRequest() {
    if (!current || served) return;
    served = true;
    endProgram();
}

#ifdef Q_OS_UNIX
// The handler may do almost nothing: it wakes the event loop through a socket (the pattern Qt
// documents for Unix signals), and the loop does the rest.
int wake[2] = {-1, -1};
volatile std::sig_atomic_t requests = 0;
constexpr int EndSignals[] = {SIGTERM, SIGHUP, SIGINT};

void onEndSignal(int sig) {
    const int savedErrno = errno;
    // The three block one another while this runs, so the count cannot be raced.
    if (requests > 0) {
        // The first request is still being served, and may be stuck (a box nobody answers, a
        // mount that does not take the stop): this one ends the program now, as if it had no
        // handler at all. The signal is blocked until this returns, and is delivered then.
        struct sigaction dfl = {};
        dfl.sa_handler = SIG_DFL;
        sigemptyset(&dfl.sa_mask);
        ::sigaction(sig, &dfl, nullptr);
        ::raise(sig);
    } else {
        requests = 1;
        const char byte = 1;
        [[maybe_unused]] const auto n = ::write(wake[0], &byte, 1);
    }
    errno = savedErrno;
}
#endif

#ifdef Q_OS_WIN
std::atomic<int> consoleRequests{0};

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI onConsoleEvent(DWORD type) {
    // A second event while the first is served: the default handler ends the process now.
    if (consoleRequests.fetch_add(1) > 0) return FALSE;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] { serveRequest(); }, Qt::QueuedConnection);
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) return TRUE;
    // A console closing (or a logoff, a shutdown): the system ends the process as soon as this
    // returns, and at the latest after 5 s. The main thread ends it first, once the window has
    // closed.
    ::Sleep(4500);
    return TRUE;
}

// The session ends (the user logs off, the system shuts down): once WM_ENDSESSION has been
// answered the process may be ended at any moment, so the stops go out before it is answered.
class SessionEnd : public QAbstractNativeEventFilter {
public:
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "windows_generic_MSG" || done_) return false;
        const MSG* msg = static_cast<const MSG*>(message);
        if (msg->message != WM_ENDSESSION || msg->wParam == FALSE) return false;
        done_ = true;
        if (sendAtOnce) sendAtOnce();
        serveRequest();
        return false;
    }

private:
    bool done_ = false;
};
#endif

} // namespace

struct EndRequests::Native {
#ifdef Q_OS_UNIX
    QSocketNotifier* notifier = nullptr;
    struct sigaction before[std::size(EndSignals)] = {};
#endif
#ifdef Q_OS_WIN
    SessionEnd sessionEnd;
#endif
};

EndRequests::EndRequests(std::function<void()> end, std::function<void()> atOnce, QObject* parent)
    : QObject(parent), native_(new Native) {
    current = this;
    endProgram = std::move(end);
    sendAtOnce = std::move(atOnce);
#ifdef Q_OS_UNIX
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, wake) != 0) {
        qWarning("Skyjog: no socket for the end signals; SIGTERM, SIGHUP and SIGINT end the "
                 "program without stopping the mount");
        return;
    }
    native_->notifier = new QSocketNotifier(wake[1], QSocketNotifier::Read, this);
    connect(native_->notifier, &QSocketNotifier::activated, this, [] {
        char byte = 0;
        [[maybe_unused]] const auto n = ::read(wake[1], &byte, 1);
        serveRequest();
    });
    struct sigaction sa = {};
    sa.sa_handler = onEndSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : EndSignals)
        sigaddset(&sa.sa_mask, sig);
    // A read or write of the serial line that the signal interrupts goes on by itself.
    sa.sa_flags = SA_RESTART;
    for (size_t i = 0; i < std::size(EndSignals); ++i)
        ::sigaction(EndSignals[i], &sa, &native_->before[i]);
#endif
#ifdef Q_OS_WIN
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    QCoreApplication::instance()->installNativeEventFilter(&native_->sessionEnd);
#endif
}

EndRequests::~EndRequests() {
#ifdef Q_OS_UNIX
    if (native_->notifier) {
        for (size_t i = 0; i < std::size(EndSignals); ++i)
            ::sigaction(EndSignals[i], &native_->before[i], nullptr);
        delete native_->notifier;
        ::close(wake[0]);
        ::close(wake[1]);
        wake[0] = wake[1] = -1;
    }
#endif
#ifdef Q_OS_WIN
    ::SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(&native_->sessionEnd);
#endif
    delete native_;
    current = nullptr;
    endProgram = {};
    sendAtOnce = {};
}

void endOnRequest(QWidget& window) {
    StopSpiral = true;
    if (SpiralRunning()) {
        // The spiral runs in a handler further down this stack and sends its stop sequence as it
        // returns; the window closes after that, from the event loop it returns to.
        QTimer::singleShot(0, &window, [&window] { endOnRequest(window); });
        return;
    }
    window.close();
}

} // namespace skyjog
