#pragma once
// The real program under a private X server, for the benchmarks: Xvfb with the server's own
// auto-repeat, the program copied into a folder of its own beside a settings file, the moment
// its window is mapped, and what the system says about its processor time and memory; and the
// key-press rounds that time a press and a release of Up to the line.
#include "exactline.h"
#include "xsession.h"

#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

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

    // Copies the program into a fresh folder with this settings line and starts it with these
    // arguments; returns when its main window is mapped. launchedMs / shownMs: just before the
    // start, and the map. Its Skyjog.conf stays in that folder (XDG_CONFIG_HOME points there
    // too), never the user's.
    bool launch(const QByteArray& settingsLine, QString* error, double* launchedMs = nullptr,
                double* shownMs = nullptr, const QStringList& arguments = {});
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

// The settings line of the key rounds: the line's port and the mount (1 Alt/Az, 2 EQ North).
QByteArray keySettingsLine(const QString& port, int trackIndex);

// Waits (bounded) for the first command at or after index from that satisfies pred.
std::optional<ExactLine::Command> waitCommand(ExactLine& line, size_t from,
                                              const std::function<bool(const QByteArray&)>& pred,
                                              int timeoutMs = 3000);
bool isSlew(const QByteArray& c);
bool isStop(const QByteArray& c);
bool isTracking(const QByteArray& c);

// Press to the slew's last byte on the line, release to the stop's, one per round (ms).
struct KeyFigures {
    std::vector<double> press, release;
};
// Rounds of Up pressed, held holdMs (the server repeats it) and released, on a pad that is
// launched and focused; false with the reason when a command never reaches the line. Other
// commands may share the line: only the slew, the stop and the tracking restore are looked for.
bool runKeyRounds(PadSession& pad, ExactLine& line, int rounds, int holdMs, KeyFigures* figures,
                  QString* error);

} // namespace bench
