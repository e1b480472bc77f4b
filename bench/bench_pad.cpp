// The real program under a private X server, on an exactly timed 9600-baud line:
//   start-up to the window shown, and peak memory;
//   key press to the last byte of the slew command on the line and key release to the last
//   byte of the stop, through real X input (XTEST, as xdotool sends it) with the server's own
//   auto-repeat on, beside their wire times;
//   processor time while idle and during a spiral.
#include "common.h"
#include "exactline.h"
#include "padsession.h"

#include <QCoreApplication>
#include <QTextStream>
#include <algorithm>
#include <cstdio>

using namespace bench;

namespace {

void fail(const QString& what) {
    std::fprintf(stderr, "bench_pad: %s\n", qPrintable(what));
    std::exit(1);
}

KeyFigures measureKeys(PadSession& pad, ExactLine& line, int trackIndex, int rounds, int holdMs) {
    QString error;
    if (!pad.launch(keySettingsLine(line.devicePath(), trackIndex), &error)) fail(error);
    pad.focus();
    xsession::waitFor([] { return false; }, 500);
    KeyFigures k;
    if (!runKeyRounds(pad, line, rounds, holdMs, &k, &error)) fail(error);
    pad.stopApp();
    return k;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int launches = argc > 1 ? std::max(3, atoi(argv[1])) : 10;
    const int keyRounds = argc > 2 ? std::max(3, atoi(argv[2])) : 20;
    const int sampleMs = argc > 3 ? std::max(1000, atoi(argv[3])) : 10000;

    PadSession pad;
    QString error;
    if (!pad.startX(&error)) fail(error);
    ExactLine line;
    if (!line.start(&error)) fail(error);
    QTextStream out(stdout);

    // ---- start-up and memory --------------------------------------------------------------
    std::vector<double> startup;
    long startupHwm = 0;
    for (int i = 0; i < launches; ++i) {
        double launched = 0, shown = 0;
        if (!pad.launch(keySettingsLine(line.devicePath(), 1), &error, &launched, &shown))
            fail(error);
        startup.push_back(shown - launched);
        xsession::waitFor([] { return false; }, 300);
        startupHwm = std::max(startupHwm, procUsage(pad.pid()).hwmKb);
        pad.stopApp();
    }

    // ---- key press and release to the line -------------------------------------------------
    const KeyFigures altAz = measureKeys(pad, line, 1, keyRounds, 400);
    const KeyFigures eqNorth = measureKeys(pad, line, 2, keyRounds, 400);

    // ---- processor time --------------------------------------------------------------------
    if (!pad.launch(keySettingsLine(line.devicePath(), 1), &error)) fail(error);
    pad.focus();
    xsession::waitFor([] { return false; }, 1000);
    const ProcUsage idle0 = procUsage(pad.pid());
    const double idleT0 = nowMs();
    xsession::waitFor([] { return false; }, sampleMs);
    const ProcUsage idle1 = procUsage(pad.pid());
    const double idleT1 = nowMs();

    line.clear();
    pad.x().fakeKey(QStringLiteral("s"), true);
    pad.x().fakeKey(QStringLiteral("s"), false);
    if (!waitCommand(line, 0, isSlew)) fail(QStringLiteral("the spiral did not start"));
    xsession::waitFor([] { return false; }, 500);
    const ProcUsage spiral0 = procUsage(pad.pid());
    const double spiralT0 = nowMs();
    xsession::waitFor([] { return false; }, sampleMs);
    const ProcUsage spiral1 = procUsage(pad.pid());
    const double spiralT1 = nowMs();
    const size_t spiralCommands = line.commands().size();
    pad.x().fakeKey(QStringLiteral("s"), true);
    pad.x().fakeKey(QStringLiteral("s"), false);
    xsession::waitFor([] { return false; }, 500);
    const long peakHwm = std::max(startupHwm, procUsage(pad.pid()).hwmKb);
    pad.stopApp();
    line.stop();

    // ---- tables ----------------------------------------------------------------------------
    const Stats su = stats(startup);
    out << "Start-up: launch to the main window mapped, " << launches << " launches (ms)\n";
    out.flush();
    printTable(
        {"figure", "median", "mean", "max", "target"},
        {{"launch to window shown", fmt(su.median, 1), fmt(su.mean, 1), fmt(su.max, 1), "300"}});
    out << "\nPeak memory (VmHWM)\n";
    out.flush();
    printTable({"when", "MB", "target"},
               {{"after start-up", fmt(startupHwm / 1024.0, 1), "80"},
                {"after idle, spiral and stop", fmt(peakHwm / 1024.0, 1), "80"}});

    out << "\nKey to line, XTEST key events with the server's auto-repeat (150 ms, 30 ms), held "
           "400 ms, "
        << keyRounds << " rounds each; exactly timed 9600-baud line (ms)\n";
    out.flush();
    std::vector<QStringList> rows;
    auto row = [&](const QString& what, const std::vector<double>& v, int chars) {
        const Stats s = stats(v);
        const double wire = chars * CharMs;
        rows.push_back({what, QString::number(chars), fmt(wire), fmt(s.median), fmt(s.mean),
                        fmt(s.max), fmt(s.median / wire) + "x", fmt(s.mean / wire) + "x", "1.3x"});
    };
    row("Alt/Az press -> last byte of slew (T 0, #, P 3 ...)", altAz.press, 2 + 1 + 8);
    row("Alt/Az release -> last byte of stop (P 2 ...)", altAz.release, 8);
    row("EQ North press -> last byte of slew (P 3 ...)", eqNorth.press, 8);
    row("EQ North release -> last byte of stop (P 2 ...)", eqNorth.release, 8);
    printTable({"path", "wire chars", "wire", "median", "mean", "max", "median/wire", "mean/wire",
                "target"},
               rows);

    const double idlePct = (idle1.cpuMs - idle0.cpuMs) / (idleT1 - idleT0) * 100.0;
    const double spiralPct = (spiral1.cpuMs - spiral0.cpuMs) / (spiralT1 - spiralT0) * 100.0;
    out << "\nProcessor time of the skyjog process, all threads, "
        << (idle0.precise ? "scheduler statistics (ns)" : "clock ticks (10 ms)") << "\n";
    out.flush();
    printTable({"state", "seconds", "cpu ms", "% of one core", "target"},
               {{"idle", fmt((idleT1 - idleT0) / 1000.0, 1), fmt(idle1.cpuMs - idle0.cpuMs, 1),
                 fmt(idlePct, 3), "< 0.1"},
                {QStringLiteral("spiral (%1 commands)").arg(spiralCommands),
                 fmt((spiralT1 - spiralT0) / 1000.0, 1), fmt(spiral1.cpuMs - spiral0.cpuMs, 1),
                 fmt(spiralPct, 3), "< 3"}});
    return 0;
}
