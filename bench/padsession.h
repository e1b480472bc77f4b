#pragma once
// The real program under a private X server, for the benchmarks: Xvfb with the server's own
// auto-repeat, the program copied into a folder of its own beside a settings file, the moment
// its window is mapped, and what the system says about its processor time and memory.
#include "xsession.h"

#include <QByteArray>
#include <QProcess>
#include <QTemporaryDir>
#include <memory>

namespace bench {

struct ProcUsage {
    double cpuMs = 0; // processor time so far, all threads (scheduler statistics when the
                      // kernel keeps them: nanoseconds; otherwise clock ticks)
    bool precise = false;
    long hwmKb = 0; // peak resident set (VmHWM)
    long rssKb = 0;
    // Context switches so far, voluntary and involuntary: every time a thread went to sleep or
    // was put off a processor, so about one per wake-up. All threads, and the main thread alone
    // (the one that runs the window and the spiral).
    long switches = 0;
    long mainSwitches = 0;
};
ProcUsage procUsage(qint64 pid);

class PadSession {
public:
    ~PadSession();
    bool startX(QString* error);
    xsession::XDisplay& x() { return x_; }
    QString display() const { return xvfb_.display(); }

    // Copies the program into a fresh folder with this settings line and starts it; returns when
    // its main window is mapped. launchedMs / shownMs: just before the start, and the map.
    bool launch(const QByteArray& settingsLine, QString* error, double* launchedMs = nullptr,
                double* shownMs = nullptr);
    void stopApp();
    qint64 pid() const { return app_.processId(); }
    unsigned long window() const { return window_; }
    // Keyboard focus to the main window, the pointer over it.
    void focus();
    QString scratch() const { return dir_ ? dir_->path() : QString(); }

private:
    xsession::Xvfb xvfb_;
    xsession::XDisplay x_;
    std::unique_ptr<QTemporaryDir> dir_;
    QProcess app_;
    unsigned long window_ = 0;
};

} // namespace bench
