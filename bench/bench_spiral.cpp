// Spiral legs on the real clock: the real program under a private X server, started with the S
// key, against skyjog-mount-sim on a pseudo-terminal paced at 9600 baud. Each leg's length is
// taken from the simulator's time-stamped log as the time from one leg's slew command to the
// next one's, and set beside the nominal 500 x (leg / 2 + 1) ms.
#include "common.h"
#include "padsession.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QTextStream>
#include <cmath>
#include <cstdio>

using namespace bench;

namespace {

void fail(const QString& what) {
    std::fprintf(stderr, "bench_spiral: %s\n", qPrintable(what));
    std::exit(1);
}

// Log times (ms) of the variable-rate slews (P 3 ...), one per leg.
std::vector<double> legStarts(const QString& logPath) {
    std::vector<double> t;
    QFile f(logPath);
    if (!f.open(QIODevice::ReadOnly)) return t;
    static const QRegularExpression sp(QStringLiteral("\\s+"));
    for (const QByteArray& raw : f.readAll().split('\n')) {
        const QStringList tok = QString::fromUtf8(raw).trimmed().split(sp, Qt::SkipEmptyParts);
        if (tok.size() >= 4 && tok[1] == QLatin1String("cmd") && tok[2] == QLatin1String("80") &&
            tok[3] == QLatin1String("3"))
            t.push_back(tok[0].toDouble());
    }
    return t;
}

struct Run {
    QString line;
    std::vector<double> diffs;
    std::vector<QStringList> rows;
};

// One spiral of the given number of legs against the simulator started with simArgs.
Run runSpiral(PadSession& pad, const QString& lineName, const QStringList& simArgs, int legs) {
    QString error;
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("mount"));
    const QString log = dir.filePath(QStringLiteral("sim.log"));
    SimProcess sim;
    if (!sim.start(link, simArgs + QStringList{QStringLiteral("--log-file"), log}, &error))
        fail(error);
    if (!pad.launch(QStringLiteral("7,6,7,6,\"%1\",100,100,8,8,1,#FALSE#,3,0").arg(link).toUtf8(),
                    &error))
        fail(error);
    pad.focus();
    xsession::waitFor([] { return false; }, 500);

    pad.x().fakeKey(QStringLiteral("s"), true);
    pad.x().fakeKey(QStringLiteral("s"), false);
    // legs + 1 starts bound legs; the whole run is 500 x (1 + 1 + 2 + 2 + ...) ms.
    double totalMs = 0;
    for (int k = 0; k < legs; ++k)
        totalMs += 500.0 * (k / 2 + 1);
    const bool enough = xsession::waitFor(
        [&] {
            sim.poll(0);
            return int(legStarts(log).size()) >= legs + 1;
        },
        int(totalMs) + 30000);
    pad.x().fakeKey(QStringLiteral("s"), true);
    pad.x().fakeKey(QStringLiteral("s"), false);
    xsession::waitFor([] { return false; }, 500);
    pad.stopApp();
    sim.stop();
    if (!enough) fail(QStringLiteral("the spiral did not run %1 legs in time").arg(legs));

    Run run;
    run.line = lineName;
    const std::vector<double> t = legStarts(log);
    for (int k = 0; k < legs; ++k) {
        const double nominal = 500.0 * (k / 2 + 1);
        const double actual = t[size_t(k) + 1] - t[size_t(k)];
        run.diffs.push_back(actual - nominal);
        run.rows.push_back({lineName, QString::number(k), fmt(nominal, 0), fmt(actual, 0),
                            fmt(actual - nominal, 0)});
    }
    return run;
}

QStringList summary(const Run& run) {
    const auto& d = run.diffs;
    const int n = int(d.size());
    // Drift: the least-squares slope of the difference against the leg number.
    double sx = 0, sy = 0, sxx = 0, sxy = 0, worst = 0;
    for (int k = 0; k < n; ++k) {
        sx += k;
        sy += d[size_t(k)];
        sxx += double(k) * k;
        sxy += k * d[size_t(k)];
        worst = std::max(worst, std::abs(d[size_t(k)]));
    }
    const double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
    const int half = n / 2;
    double first = 0, second = 0;
    for (int k = 0; k < n; ++k)
        (k < half ? first : second) += d[size_t(k)];
    return {run.line, fmt(sy / n, 2), fmt(worst, 0), fmt(slope, 3),
            fmt(first / half, 2) + " / " + fmt(second / (n - half), 2)};
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int legs = argc > 1 ? std::max(4, atoi(argv[1])) : 20;

    PadSession pad;
    QString error;
    if (!pad.startX(&error)) fail(error);
    const Run paced =
        runSpiral(pad, QStringLiteral("9600 baud (--pace)"), {QStringLiteral("--pace")}, legs);
    const Run instant = runSpiral(pad, QStringLiteral("instant"), {}, legs);

    QTextStream out(stdout);
    out << "Spiral legs on the real clock: skyjog-mount-sim on a pseudo-terminal, width 3, delay "
           "0, "
           "started and stopped with S; a leg is one leg's slew command to the next one's in the "
           "simulator's log (ms)\n";
    out.flush();
    std::vector<QStringList> rows = paced.rows;
    rows.insert(rows.end(), instant.rows.begin(), instant.rows.end());
    printTable({"line", "leg", "nominal", "actual", "difference"}, rows);
    out << '\n';
    out.flush();
    printTable({"line", "mean difference (< 5)", "worst (< 25)", "drift ms/leg (none)",
                QStringLiteral("mean, first / second half")},
               {summary(paced), summary(instant)});
    return 0;
}
