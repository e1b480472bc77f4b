#pragma once
// Runs skyjog-mount-sim for a test: starts it on a pseudo-terminal or a TCP port in a scratch
// folder, waits (bounded) for its ready line, reads its log file, and ends it on destruction.
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <functional>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/prctl.h>
#endif
#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace skyjog::test {

// A child that must not outlive the test, even when the test itself is killed.
inline void endWithParent(QProcess& p) {
#ifdef Q_OS_LINUX
    p.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
#else
    Q_UNUSED(p);
#endif
}

// A command's time-out where the reply's timing is not what a case tests: a simulator process on
// a loaded machine may take longer to answer than a mount would.
inline constexpr int16_t ReplyNotTestedMs = 5000;

struct SimLogEntry {
    qint64 timeMs = 0;
    bool command = true;
    QByteArray bytes;
    QString note;
};

class SimProcess {
public:
    enum class Host { Pty, Tcp };

    ~SimProcess() { stop(); }

    // Starts the simulator with extra options; false (with the reason in error()) on failure.
    bool start(Host host, QStringList args = {}) {
        if (!dir_.isValid()) return fail(QStringLiteral("no scratch folder"));
        logPath_ = dir_.filePath(QStringLiteral("sim.log"));
        if (host == Host::Pty)
            args << QStringLiteral("--pty") << dir_.filePath(QStringLiteral("mount"));
        else
            args << QStringLiteral("--tcp") << QStringLiteral("0");
        args << QStringLiteral("--log-file") << logPath_;
        proc_.setProgram(QStringLiteral(SKYJOG_MOUNT_SIM));
        proc_.setArguments(args);
        proc_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        endWithParent(proc_);
        proc_.start();
        if (!proc_.waitForStarted(10000)) return fail(QStringLiteral("did not start"));
        QDeadlineTimer deadline(15000);
        QByteArray out;
        while (!out.contains('\n')) {
            if (deadline.hasExpired() || proc_.state() != QProcess::Running)
                return fail(QStringLiteral("no ready line: ") + QString::fromUtf8(out));
            proc_.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
            out += proc_.readAllStandardOutput();
        }
        const QString line = QString::fromUtf8(out.left(out.indexOf('\n')));
        static const QRegularExpression ptyRe(QStringLiteral(R"(pty=(\S+))"));
        static const QRegularExpression tcpRe(QStringLiteral(R"(tcp=(\S+))"));
        if (!line.startsWith(QStringLiteral("ready ")))
            return fail(QStringLiteral("bad ready line: ") + line);
        if (auto m = ptyRe.match(line); m.hasMatch()) portText_ = m.captured(1);
        if (auto m = tcpRe.match(line); m.hasMatch()) portText_ = m.captured(1);
        return !portText_.isEmpty() || fail(QStringLiteral("no host in: ") + line);
    }

    // Ends the simulator as a user would (SIGTERM), and kills it if it does not go.
    int stop() {
        if (proc_.state() == QProcess::NotRunning) return proc_.exitCode();
        proc_.terminate();
        if (!proc_.waitForFinished(5000)) {
            proc_.kill();
            proc_.waitForFinished(5000);
            return -1;
        }
        return proc_.exitStatus() == QProcess::NormalExit ? proc_.exitCode() : -1;
    }

#ifdef Q_OS_UNIX
    // Pulls the mount's cable: the simulator is killed at once, and its link is pointed at a
    // device in this test's own folder that never exists. The terminal the dead simulator held is
    // free as soon as it dies, and the system hands the next new terminal the same name, perhaps
    // to another test's simulator: a link left pointing at it would open that mount.
    bool unplug() {
        proc_.kill();
        if (!proc_.waitForFinished(5000)) return fail(QStringLiteral("did not die"));
        const QByteArray link = QFile::encodeName(portText_);
        const QByteArray tmp = link + ".unplugged";
        const QByteArray gone = QFile::encodeName(dir_.filePath(QStringLiteral("unplugged")));
        ::unlink(tmp.constData());
        if (::symlink(gone.constData(), tmp.constData()) != 0 ||
            ::rename(tmp.constData(), link.constData()) != 0)
            return fail(QStringLiteral("cannot repoint ") + portText_);
        return true;
    }
#endif

    // What a client puts in its port box: the link path, or "127.0.0.1:PORT".
    QString portText() const { return portText_; }
    QString error() const { return error_; }
    QString scratch(const QString& name) const { return dir_.filePath(name); }
    QProcess& process() { return proc_; }

    QVector<SimLogEntry> log() const {
        QVector<SimLogEntry> out;
        QFile f(logPath_);
        if (!f.open(QIODevice::ReadOnly)) return out;
        // "<time> cmd|reply <bytes in decimal, or -> [ (note)]"
        static const QRegularExpression re(
            QStringLiteral(R"(^\s*(\d+) (cmd|reply)\s+([\d ]+|-)(?:\s+\((.*)\))?$)"));
        for (const QByteArray& raw : f.readAll().split('\n')) {
            const auto m = re.match(QString::fromUtf8(raw));
            if (!m.hasMatch()) continue;
            SimLogEntry e;
            e.timeMs = m.captured(1).toLongLong();
            e.command = m.captured(2) == QStringLiteral("cmd");
            if (m.captured(3) != QStringLiteral("-"))
                for (const QString& n : m.captured(3).split(u' ', Qt::SkipEmptyParts))
                    e.bytes += char(n.toInt());
            e.note = m.captured(4);
            out << e;
        }
        return out;
    }
    QVector<QByteArray> commands() const {
        QVector<QByteArray> out;
        for (const SimLogEntry& e : log())
            if (e.command) out << e.bytes;
        return out;
    }
    QVector<QByteArray> replies() const {
        QVector<QByteArray> out;
        for (const SimLogEntry& e : log())
            if (!e.command) out << e.bytes;
        return out;
    }

    // Waits (serving events) until the log satisfies pred, at most ms milliseconds.
    bool waitForLog(const std::function<bool(const QVector<SimLogEntry>&)>& pred, int ms = 10000) {
        QDeadlineTimer deadline(ms);
        while (!pred(log())) {
            if (deadline.hasExpired()) return false;
            QTest::qWait(10);
        }
        return true;
    }

private:
    bool fail(const QString& why) {
        error_ = why;
        return false;
    }
    QTemporaryDir dir_;
    QProcess proc_;
    QString logPath_;
    QString portText_;
    QString error_;
};

} // namespace skyjog::test
