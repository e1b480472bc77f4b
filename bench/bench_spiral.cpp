// Spiral legs on the real clock: the real program under a private X server, started with the S
// key, against skyjog-mount-sim on a pseudo-terminal paced at 9600 baud, on an instant line, and
// on the exactly timed 9600-baud line. The program times a leg from just after the leg's
// tracking-off exchange (before its two motor commands) to the moment it finds the leg's time up,
// when it sends the next leg's tracking-off. On the line that is the time from the leg's first
// motor command leaving the program to the next tracking-off leaving it; the line stamps a
// command when its last character has arrived, so each stamp is moved back by the command's own
// wire time. Both are set beside the nominal 500 x (leg / 2 + 1) ms, and so is the period from
// one leg's slew to the next one's, which also holds the tracking-off exchange between the legs.
// From the first leg to the last the program's processor time and context switches are counted
// as well: what a running spiral costs a laptop's battery.
#include "common.h"
#include "exactline.h"
#include "padsession.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QTextStream>
#include <QThread>
#include <cmath>
#include <cstdio>
#include <functional>

using namespace bench;

namespace {

void fail(const QString& what) {
    std::fprintf(stderr, "bench_spiral: %s\n", qPrintable(what));
    std::exit(1);
}

// One command as it reached the mount: when its last character arrived (ms), and its bytes.
struct Cmd {
    double t;
    QByteArray bytes;
};

// The commands in the simulator's log ("<ms> cmd <bytes in decimal> [(note)]").
std::vector<Cmd> commandsInLog(const QString& logPath) {
    std::vector<Cmd> cmds;
    QFile f(logPath);
    if (!f.open(QIODevice::ReadOnly)) return cmds;
    static const QRegularExpression sp(QStringLiteral("\\s+"));
    for (const QByteArray& raw : f.readAll().split('\n')) {
        const QStringList tok = QString::fromUtf8(raw).trimmed().split(sp, Qt::SkipEmptyParts);
        if (tok.size() < 3 || tok[1] != QLatin1String("cmd")) continue;
        QByteArray bytes;
        for (const QString& b : tok.mid(2)) {
            bool ok = false;
            const int v = b.toInt(&ok);
            if (!ok) break;
            bytes += char(v);
        }
        cmds.push_back({tok[0].toDouble(), bytes});
    }
    return cmds;
}

// The commands that crossed the exactly timed line, stamped to the microsecond.
std::vector<Cmd> commandsOnLine(const ExactLine& line) {
    std::vector<Cmd> cmds;
    for (const ExactLine::Command& c : line.commands())
        cmds.push_back({c.lastByteMs, c.bytes});
    return cmds;
}

// One leg on the line (ms, each command's last character's arrival).
struct LegTimes {
    double trackingOff = 0; // T 0, the exchange that comes before the leg's start
    double firstMotor = 0;  // the stop of the axis the leg does not move
    double slew = 0;        // P 3 ...
};

// The legs: each tracking-off followed directly by a stop and a slew.
std::vector<LegTimes> legsIn(const std::vector<Cmd>& cmds) {
    const auto is = [](const Cmd& c, char a, char b) {
        return c.bytes.size() >= 2 && c.bytes[0] == a && c.bytes[1] == b;
    };
    std::vector<LegTimes> legs;
    for (size_t i = 0; i + 2 < cmds.size(); ++i)
        if (is(cmds[i], 'T', 0) && is(cmds[i + 1], 'P', 2) && is(cmds[i + 2], 'P', 3))
            legs.push_back({cmds[i].t, cmds[i + 1].t, cmds[i + 2].t});
    return legs;
}

struct Run {
    QString line;
    std::vector<double> diffs;       // leg as the program times it, less nominal
    std::vector<double> periodDiffs; // slew to next slew, less nominal
    std::vector<QStringList> rows;
    // The program from the first leg's start to the last leg's end.
    double usageMs = 0;
    ProcUsage usageFrom, usageTo;
};

// Waits (bounded) until the line has seen n legs. It is looked at ten times a second, so that
// the benchmark's own work stays small beside what it measures.
bool waitForLegs(const std::function<std::vector<LegTimes>()>& legsSoFar, int n, int timeoutMs) {
    const double deadline = nowMs() + timeoutMs;
    for (;;) {
        if (int(legsSoFar().size()) >= n) return true;
        if (nowMs() >= deadline) return false;
        QThread::msleep(100);
    }
}

// One spiral of the given number of legs on the mount at port, whose legs legsSoFar reads;
// charMs is the time one character takes on that line.
Run runSpiral(PadSession& pad, const QString& lineName, const QString& port,
              const std::function<std::vector<LegTimes>()>& legsSoFar, int legs, double charMs) {
    QString error;
    if (!pad.launch(QStringLiteral("7,6,7,6,\"%1\",100,100,8,8,1,#FALSE#,3,0").arg(port).toUtf8(),
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
    Run run;
    if (!waitForLegs(legsSoFar, 1, 30000)) fail(QStringLiteral("the spiral did not start"));
    run.usageFrom = procUsage(pad.pid());
    const double usageFromMs = nowMs();
    const bool enough = waitForLegs(legsSoFar, legs + 1, int(totalMs) + 30000);
    run.usageTo = procUsage(pad.pid());
    run.usageMs = nowMs() - usageFromMs;
    pad.x().fakeKey(QStringLiteral("s"), true);
    pad.x().fakeKey(QStringLiteral("s"), false);
    xsession::waitFor([] { return false; }, 500);
    pad.stopApp();
    if (!enough) fail(QStringLiteral("the spiral did not run %1 legs in time").arg(legs));

    run.line = lineName;
    const std::vector<LegTimes> t = legsSoFar();
    for (int k = 0; k < legs; ++k) {
        const double nominal = 500.0 * (k / 2 + 1);
        // When each command left the program: its stamp less its own characters' wire time
        // (8 for the stop, 2 for the tracking-off).
        const double legStart = t[size_t(k)].firstMotor - 8 * charMs;
        const double legEnd = t[size_t(k) + 1].trackingOff - 2 * charMs;
        const double actual = legEnd - legStart;
        const double period = t[size_t(k) + 1].slew - t[size_t(k)].slew;
        run.diffs.push_back(actual - nominal);
        run.periodDiffs.push_back(period - nominal);
        run.rows.push_back({lineName, QString::number(k), fmt(nominal, 0), fmt(actual, 2),
                            fmt(actual - nominal, 2), fmt(period, 1), fmt(period - nominal, 1)});
    }
    return run;
}

// The same against skyjog-mount-sim on a pseudo-terminal, started with simArgs.
Run runOnSimulator(PadSession& pad, const QString& lineName, const QStringList& simArgs, int legs,
                   double charMs) {
    QString error;
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("mount"));
    const QString log = dir.filePath(QStringLiteral("sim.log"));
    SimProcess sim;
    if (!sim.start(link, simArgs + QStringList{QStringLiteral("--log-file"), log}, &error))
        fail(error);
    return runSpiral(
        pad, lineName, link,
        [&] {
            sim.poll(0);
            return legsIn(commandsInLog(log));
        },
        legs, charMs);
}

QStringList summary(const QString& what, const Run& run, const std::vector<double>& d) {
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
    return {run.line,       what,
            fmt(sy / n, 2), fmt(worst, 1),
            fmt(slope, 3),  fmt(first / half, 2) + " / " + fmt(second / (n - half), 2)};
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int legs = argc > 1 ? std::max(4, atoi(argv[1])) : 20;

    PadSession pad;
    QString error;
    if (!pad.startX(&error)) fail(error);
    const Run paced = runOnSimulator(pad, QStringLiteral("9600 baud (--pace)"),
                                     {QStringLiteral("--pace")}, legs, CharMs);
    const Run instant = runOnSimulator(pad, QStringLiteral("instant"), {}, legs, 0);
    ExactLine line;
    if (!line.start(&error)) fail(error);
    const Run exact = runSpiral(
        pad, QStringLiteral("9600 baud, exactly timed"), line.devicePath(),
        [&] { return legsIn(commandsOnLine(line)); }, legs, CharMs);
    line.stop();

    QTextStream out(stdout);
    out << "Spiral legs on the real clock, width 3, delay 0, started and stopped with S: against "
           "skyjog-mount-sim on a pseudo-terminal, from its log (stamped in whole ms), and on an "
           "exactly timed line (stamped to the microsecond). Leg: from the leg's first motor "
           "command to the next leg's tracking-off, as each left the program. Period: from the "
           "leg's slew to the next leg's slew, the leg plus the tracking-off exchange between the "
           "two (ms)\n";
    out.flush();
    const std::vector<const Run*> runs = {&paced, &instant, &exact};
    std::vector<QStringList> rows;
    for (const Run* r : runs)
        rows.insert(rows.end(), r->rows.begin(), r->rows.end());
    printTable({"line", "leg", "nominal", "leg", "difference", "period", "difference"}, rows);
    out << '\n';
    out.flush();
    std::vector<QStringList> summaries;
    for (const Run* r : runs)
        summaries.push_back(summary(QStringLiteral("leg"), *r, r->diffs));
    for (const Run* r : runs)
        summaries.push_back(summary(QStringLiteral("period"), *r, r->periodDiffs));
    printTable({"line", "measure", "mean difference (leg < 1.5)", "worst (leg < 5)",
                "drift ms/leg (none)", QStringLiteral("mean, first / second half")},
               summaries);

    out << "\nThe skyjog process from the first leg's start to the last leg's end: processor time "
           "of all threads ("
        << (paced.usageFrom.precise ? "scheduler statistics, ns" : "clock ticks, 10 ms")
        << "), and wake-ups as context switches (voluntary and involuntary, from "
           "/proc/PID/task/*/status), of all threads and of the main thread alone\n";
    out.flush();
    std::vector<QStringList> usageRows;
    for (const Run* r : runs) {
        const double s = r->usageMs / 1000.0;
        const double cpu = r->usageTo.cpuMs - r->usageFrom.cpuMs;
        const long all = r->usageTo.switches - r->usageFrom.switches;
        const long main = r->usageTo.mainSwitches - r->usageFrom.mainSwitches;
        usageRows.push_back({r->line, fmt(s, 1), fmt(cpu, 1), fmt(cpu / r->usageMs * 100.0, 3),
                             fmt(double(all) / s, 1), fmt(double(main) / s, 1)});
    }
    printTable({"line", "seconds", "cpu ms", "% of one core (< 0.5)", "wake-ups/s (< 50)",
                "main thread wake-ups/s"},
               usageRows);
    return 0;
}
