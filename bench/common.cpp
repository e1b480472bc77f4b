#include "common.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QTextStream>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <numeric>
#include <time.h>

namespace bench {

double nowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) * 1000.0 + double(ts.tv_nsec) / 1e6;
}

QString buildDirFile(const QString& name) {
    // Benchmarks live in <build>/bench; the executables in <build>.
    const QDir here(QCoreApplication::applicationDirPath());
    for (const QString& candidate :
         {here.filePath(name), here.filePath(QStringLiteral("../") + name)}) {
        if (QFileInfo(candidate).isExecutable()) return QFileInfo(candidate).canonicalFilePath();
    }
    return here.filePath(QStringLiteral("../") + name);
}

SimProcess::~SimProcess() {
    stop();
}

bool SimProcess::start(const QString& linkPath, const QStringList& extraArgs, QString* error,
                       int timeoutMs) {
    proc_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList args{QStringLiteral("--pty"), linkPath};
    args += extraArgs;
    proc_.start(buildDirFile(QStringLiteral("skyjog-mount-sim")), args);
    if (!proc_.waitForStarted(timeoutMs)) {
        *error = proc_.errorString();
        return false;
    }
    const double deadline = nowMs() + timeoutMs;
    while (nowMs() < deadline) {
        poll(50);
        for (const Line& l : lines_)
            if (l.text.startsWith(QStringLiteral("ready"))) return true;
        if (proc_.state() != QProcess::Running) break;
    }
    *error = QStringLiteral("the simulator did not get ready");
    return false;
}

void SimProcess::stop() {
    if (proc_.state() == QProcess::NotRunning) return;
    proc_.terminate();
    if (!proc_.waitForFinished(3000)) {
        proc_.kill();
        proc_.waitForFinished(3000);
    }
}

qint64 SimProcess::pid() const {
    return proc_.processId();
}

void SimProcess::poll(int waitMs) {
    if (proc_.bytesAvailable() == 0 && waitMs > 0) proc_.waitForReadyRead(waitMs);
    const double at = nowMs();
    partial_ += proc_.readAllStandardOutput();
    for (;;) {
        const int nl = partial_.indexOf('\n');
        if (nl < 0) break;
        lines_.push_back({at, QString::fromUtf8(partial_.left(nl)).trimmed()});
        partial_.remove(0, nl + 1);
    }
}

Stats stats(std::vector<double> v) {
    Stats s;
    s.n = int(v.size());
    if (v.empty()) return s;
    std::sort(v.begin(), v.end());
    s.min = v.front();
    s.max = v.back();
    s.median = v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    s.mean = std::accumulate(v.begin(), v.end(), 0.0) / double(v.size());
    s.p90 = v[std::min(v.size() - 1, size_t(std::ceil(0.9 * double(v.size()))) - 1)];
    return s;
}

QString fmt(double v, int decimals) {
    return QString::number(v, 'f', decimals);
}

void printTable(const QStringList& header, const std::vector<QStringList>& rows) {
    std::vector<int> width(size_t(header.size()), 0);
    auto measure = [&](const QStringList& r) {
        for (int i = 0; i < r.size() && i < header.size(); ++i)
            width[size_t(i)] = std::max(width[size_t(i)], int(r[i].size()));
    };
    measure(header);
    for (const auto& r : rows)
        measure(r);
    QTextStream out(stdout);
    auto line = [&](const QStringList& r) {
        QString s = QStringLiteral("| ");
        for (int i = 0; i < header.size(); ++i)
            s += (i < r.size() ? r[i] : QString()).leftJustified(width[size_t(i)]) +
                 QStringLiteral(" | ");
        out << s.trimmed() << '\n';
    };
    line(header);
    QStringList sep;
    for (int w : width)
        sep << QString(w, u'-');
    line(sep);
    for (const auto& r : rows)
        line(r);
    out.flush();
}

void idle(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace bench
