#include "padsession.h"
#include "common.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <unistd.h>

namespace bench {

ProcUsage procUsage(qint64 pid) {
    ProcUsage u;
    // Every thread's time on a processor in nanoseconds (the xcb plugin reads the X connection
    // on a thread of its own). /proc/PID/stat counts in clock ticks of 10 ms, too coarse for a
    // figure of 0.1 % over 10 s.
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    double ns = 0;
    bool all = true;
    const QStringList ids = tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& id : ids) {
        QFile status(tasks.filePath(id + QStringLiteral("/status")));
        if (status.open(QIODevice::ReadOnly)) {
            long n = 0;
            for (const QByteArray& line : status.readAll().split('\n')) {
                const QList<QByteArray> p = line.simplified().split(' ');
                if (p.size() == 2 &&
                    (p[0] == "voluntary_ctxt_switches:" || p[0] == "nonvoluntary_ctxt_switches:"))
                    n += p[1].toLong();
            }
            u.switches += n;
            if (id.toLongLong() == pid) u.mainSwitches = n;
        }
        QFile f(tasks.filePath(id + QStringLiteral("/schedstat")));
        if (!f.open(QIODevice::ReadOnly)) {
            all = false;
            continue;
        }
        ns += f.readAll().split(' ').value(0).toDouble();
    }
    if (all && !ids.isEmpty()) {
        u.cpuMs = ns / 1e6;
        u.precise = true;
    }
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.open(QIODevice::ReadOnly)) {
        // Fields after the command name (which may hold spaces) start at its closing parenthesis.
        const QByteArray s = stat.readAll();
        const QList<QByteArray> f = s.mid(s.lastIndexOf(')') + 2).split(' ');
        if (f.size() > 13 && !u.precise) {
            const double tick = 1000.0 / double(sysconf(_SC_CLK_TCK));
            u.cpuMs = (f[11].toDouble() + f[12].toDouble()) * tick; // utime, stime
        }
    }
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            const QList<QByteArray> p = line.simplified().split(' ');
            if (p.size() < 2) continue;
            if (p[0] == "VmHWM:") u.hwmKb = p[1].toLong();
            if (p[0] == "VmRSS:") u.rssKb = p[1].toLong();
        }
    }
    return u;
}

PadSession::~PadSession() {
    stopApp();
    x_.close();
    xvfb_.stop();
}

bool PadSession::startX(QString* error) {
    if (!xvfb_.start(error, 150, 30)) return false;
    if (!x_.open(xvfb_.display())) {
        *error = QStringLiteral("cannot connect to %1").arg(xvfb_.display());
        return false;
    }
    return x_.setAutoRepeat(150, 30, error);
}

bool PadSession::launch(const QByteArray& settingsLine, QString* error, double* launchedMs,
                        double* shownMs, const QStringList& arguments) {
    stopApp();
    dir_ = std::make_unique<QTemporaryDir>();
    const QString copy = dir_->filePath(QStringLiteral("skyjog"));
    // A copy, not a link: the program finds its settings beside its resolved executable.
    if (!QFile::copy(buildDirFile(QStringLiteral("skyjog")), copy)) {
        *error = QStringLiteral("cannot copy the skyjog executable");
        return false;
    }
    QFile ini(dir_->filePath(QStringLiteral("Skyjogger.ini")));
    if (!ini.open(QIODevice::WriteOnly)) {
        *error = ini.errorString();
        return false;
    }
    ini.write(settingsLine + "\r\n");
    ini.close();

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), xvfb_.display());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir_->path()); // private (0700), as Qt wants it
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_->path());
    app_.setProcessEnvironment(env);
    app_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    x_.watchMaps();
    const double launched = nowMs();
    app_.start(copy, arguments);
    if (!app_.waitForStarted(30000)) {
        *error = app_.errorString();
        return false;
    }
    const auto mapped = x_.waitForMap(QStringLiteral("Skyjog"), app_.processId(), 30000);
    if (!mapped) {
        *error = QStringLiteral("the Skyjog window did not appear");
        return false;
    }
    window_ = mapped->window;
    if (launchedMs) *launchedMs = launched;
    if (shownMs) *shownMs = mapped->atMs;
    return true;
}

void PadSession::stopApp() {
    window_ = 0;
    if (app_.state() != QProcess::NotRunning) {
        app_.kill();
        app_.waitForFinished(5000);
    }
    dir_.reset();
}

void PadSession::focus() {
    x_.focus(window_);
    if (const auto g = x_.geometry(window_))
        xsession::xdotool(display(),
                          {QStringLiteral("mousemove"), QString::number(g->x + g->width - 5),
                           QString::number(g->y + g->height - 5)});
}

QByteArray keySettingsLine(const QString& port, int trackIndex) {
    return QStringLiteral("7,6,7,6,\"%1\",100,100,8,8,%2,#FALSE#,3,0")
        .arg(port)
        .arg(trackIndex)
        .toUtf8();
}

std::optional<ExactLine::Command> waitCommand(ExactLine& line, size_t from,
                                              const std::function<bool(const QByteArray&)>& pred,
                                              int timeoutMs) {
    std::optional<ExactLine::Command> found;
    xsession::waitFor(
        [&] {
            const auto cmds = line.commands();
            for (size_t i = from; i < cmds.size(); ++i)
                if (pred(cmds[i].bytes)) {
                    found = cmds[i];
                    return true;
                }
            return false;
        },
        timeoutMs);
    return found;
}

bool isSlew(const QByteArray& c) {
    return c.size() == 8 && c[0] == 'P' && c[1] == 3;
}
bool isStop(const QByteArray& c) {
    return c.size() == 8 && c[0] == 'P' && c[1] == 2;
}
bool isTracking(const QByteArray& c) {
    return c.size() == 2 && c[0] == 'T';
}

bool runKeyRounds(PadSession& pad, ExactLine& line, int rounds, int holdMs, KeyFigures* k,
                  QString* error) {
    for (int i = 0; i < rounds; ++i) {
        line.clear();
        const double pressAt = nowMs();
        if (!pad.x().fakeKey(QStringLiteral("Up"), true)) {
            *error = QStringLiteral("no XTEST library (libXtst.so.6)");
            return false;
        }
        const auto slew = waitCommand(line, 0, isSlew);
        if (!slew) {
            *error = QStringLiteral("no slew command after the key press");
            return false;
        }
        k->press.push_back(slew->lastByteMs - pressAt);
        // Held: the server repeats the key after 150 ms, every 30 ms.
        xsession::waitFor([&] { return nowMs() >= pressAt + holdMs; }, holdMs + 100);
        const double releaseAt = nowMs();
        pad.x().fakeKey(QStringLiteral("Up"), false);
        const auto stop = waitCommand(line, 0, isStop);
        if (!stop) {
            *error = QStringLiteral("no stop command after the key release");
            return false;
        }
        k->release.push_back(stop->lastByteMs - releaseAt);
        // The tracking restore that follows the stop, then a pause between rounds.
        const size_t afterStop = line.commands().size();
        waitCommand(line, afterStop - 1, isTracking);
        xsession::waitFor([] { return false; }, 150);
    }
    return true;
}

} // namespace bench
