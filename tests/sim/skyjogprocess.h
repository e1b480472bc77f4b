#pragma once
// Runs the real skyjog for a test, sharing the mount: a copy of the program in a scratch folder
// beside a settings file that names the mount's port, its configuration and runtime folders in
// the same scratch folder (so the user's own are never read or written), no display. Returns
// once the share answers on its TCP port and its pseudo-terminal is there; killed at the end.
#include "simprocess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

namespace skyjog::test {

class SkyjogProcess {
public:
    ~SkyjogProcess() { kill(); }

    // mountPort: what the pad's port box would hold (a device path or "host:port").
    bool start(const QString& mountPort) {
        if (!dir_.isValid()) return fail(QStringLiteral("no scratch folder"));
        const QString copy = dir_.filePath(QStringLiteral("skyjog"));
        // A copy, not a link: the program finds its settings beside its resolved executable.
        if (!QFile::copy(QStringLiteral(SKYJOG_EXE), copy))
            return fail(QStringLiteral("cannot copy " SKYJOG_EXE));
        QFile ini(dir_.filePath(QStringLiteral("Skyjogger.ini")));
        if (!ini.open(QIODevice::WriteOnly)) return fail(ini.errorString());
        // EQ North, 9600 baud defaults otherwise.
        ini.write(QStringLiteral("7,6,7,6,\"%1\",100,100,8,8,2,#FALSE#,3,0\r\n")
                      .arg(mountPort)
                      .toUtf8());
        ini.close();

        // A port that was free a moment ago will do: the share cannot report the one it chose.
        {
            QTcpServer probe;
            if (!probe.listen(QHostAddress::LocalHost, 0)) return fail(probe.errorString());
            tcpPort_ = probe.serverPort();
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("HOME"), dir_.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir_.path()); // private (0700), as Qt wants
        proc_.setProcessEnvironment(env);
        proc_.setProcessChannelMode(QProcess::ForwardedChannels);
        endWithParent(proc_);
        proc_.start(copy, {QStringLiteral("--share=127.0.0.1:%1").arg(tcpPort_)});
        if (!proc_.waitForStarted(10000)) return fail(QStringLiteral("skyjog did not start"));

        QDeadlineTimer deadline(20000);
        for (;;) {
            if (proc_.state() != QProcess::Running)
                return fail(QStringLiteral("skyjog ended at start"));
            if (answers() && QFileInfo::exists(ptyPath())) return true;
            if (deadline.hasExpired())
                return fail(QStringLiteral("skyjog's share did not come up"));
            QTest::qWait(50);
        }
    }

    // A test ends the program rather than closing its window: closing with a client still
    // connected asks first, and nobody is there to answer.
    void kill() {
        if (proc_.state() == QProcess::NotRunning) return;
        proc_.kill();
        proc_.waitForFinished(5000);
    }

    QString tcpAddress() const { return QStringLiteral("127.0.0.1:%1").arg(tcpPort_); }
    quint16 tcpPort() const { return tcpPort_; }
    QString ptyPath() const { return dir_.filePath(QStringLiteral("skyjog-mount")); }
    QString error() const { return error_; }
    bool running() const { return proc_.state() == QProcess::Running; }

private:
    bool answers() {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, tcpPort_);
        const bool up = s.waitForConnected(500);
        s.abort();
        return up;
    }
    bool fail(const QString& why) {
        error_ = why;
        return false;
    }
    QTemporaryDir dir_;
    QProcess proc_;
    quint16 tcpPort_ = 0;
    QString error_;
};

} // namespace skyjog::test
