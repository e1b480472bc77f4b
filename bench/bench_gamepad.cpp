// The game controller: from a press on the controller to the last byte of the slew on an exactly
// timed line, and the processor time the controller's reading costs while the window idles, with
// a controller attached and with none, both for a controller polled every 10 ms and for one
// whose device node wakes the program. The main window runs in this process (offscreen), read as
// in the program; the controller is SDL's virtual joystick, pressed from another thread at
// moments that have nothing to do with any timer, as a user's thumb has. SDL's virtual
// controller has no device node (and this machine has no /dev/input): a pipe stands in for it,
// written by the pressing thread right after each change, as the kernel would.
#include "common.h"
#include "exactline.h"
#include "gamepad.h"
#include "interface.h"
#include "report.h"
#include "settingsfile.h"
#include "virtualcontroller.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <random>
#include <thread>

using namespace skyjog;
using namespace bench;
using skyjog::test::PipeNode;
using skyjog::test::VirtualController;

namespace {

double processCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// The command's last byte on the line, once it is there (waiting at most 2 s).
std::optional<double> waitForCommand(const ExactLine& line, size_t index) {
    const double until = nowMs() + 2000;
    while (nowMs() < until) {
        const auto c = line.commands();
        if (c.size() > index) return c[index].lastByteMs;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return std::nullopt;
}

// The main window on settings folders of its own, which outlive it.
struct Window {
    QTemporaryDir program, user;
    std::unique_ptr<Interface> pad;
};

struct PressResult {
    std::vector<double> pressToSlew;
    int failures = 0;
};

// Presses and releases D-pad Up rounds times from another thread; the window, on this thread,
// sends the commands. Returns the time from each press to the last byte of its slew.
PressResult pressRounds(ExactLine& line, VirtualController& pad, const PipeNode* node, int rounds,
                        size_t commandsPerPress) {
    PressResult r;
    std::atomic<bool> done{false};
    std::thread user([&] {
        std::mt19937 rng(7);
        std::uniform_int_distribution<int> pauseUs(60000, 160000);
        for (int i = 0; i < rounds; ++i) {
            std::this_thread::sleep_for(std::chrono::microseconds(pauseUs(rng)));
            line.clear();
            const double pressed = nowMs();
            pad.button(SDL_CONTROLLER_BUTTON_DPAD_UP, true);
            if (node) node->ring();
            const std::optional<double> slew = waitForCommand(line, commandsPerPress - 1);
            if (slew)
                r.pressToSlew.push_back(*slew - pressed);
            else
                ++r.failures;
            std::this_thread::sleep_for(std::chrono::microseconds(pauseUs(rng)));
            const size_t before = line.commands().size();
            pad.button(SDL_CONTROLLER_BUTTON_DPAD_UP, false);
            if (node) node->ring();
            if (!waitForCommand(line, before + 1)) ++r.failures; // stop and tracking restore
        }
        done = true;
    });
    while (!done)
        idle(20);
    user.join();
    return r;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 40;
    const int sampleMs = argc > 2 ? std::max(1000, atoi(argv[2])) : 10000;
    setReporter([](const QString& text, const QString&) {
        std::fprintf(stderr, "box: %s\n", qPrintable(text));
    });

    if (!skyjog::test::startControllers()) {
        std::fprintf(stderr, "SDL: %s\n", SDL_GetError());
        return 1;
    }
    ExactLine line;
    QString error;
    if (!line.start(&error)) {
        std::fprintf(stderr, "exact line: %s\n", qPrintable(error));
        return 1;
    }

    std::printf("Game controller: D-pad press to the last byte of the slew on the exactly timed "
                "line (%d presses per mode), read every %d ms (polled) or when the node rings\n\n",
                rounds, GamePad::FastPollMs);
    std::vector<QStringList> rows;
    std::vector<QStringList> cpuRows;
    const auto startWindow = [&](int mode) {
        auto w = std::make_unique<Window>();
        Settings s;
        s.CommPortText = line.devicePath();
        s.TrackModeIndex = int16_t(mode);
        saveSettings(QDir(w->program.path()).filePath(SettingsLocation::FileName), s);
        w->pad = std::make_unique<Interface>(SettingsLocation(w->program.path(), w->user.path()));
        w->pad->setProgramEnd([] {});
        w->pad->show();
        return w;
    };
    for (const bool woken : {false, true}) {
        // Alt/Az: T 0, its acknowledgement, then P 3 (11 characters); EQ North: P 3 alone (8).
        for (const auto& [mode, modeName, commands, chars] :
             {std::tuple{1, "Alt/Az", size_t(2), 11}, std::tuple{2, "EQ North", size_t(1), 8}}) {
            std::optional<PipeNode> node;
            if (woken) node.emplace();
            VirtualController pad("Bench Pad");
            auto w = startWindow(mode);
            idle(200);
            const PressResult r =
                pressRounds(line, pad, node ? &*node : nullptr, rounds, commands);
            const double wire = chars * CharMs;
            const Stats st = stats(r.pressToSlew);
            rows.push_back({QString::fromLatin1(woken ? "node (pipe)" : "polled"),
                            QString::fromLatin1(modeName), QString::number(chars), fmt(wire),
                            fmt(st.median), fmt(st.mean), fmt(st.p90), fmt(st.max),
                            fmt(st.median - wire), fmt(st.max - wire),
                            QString::number(r.failures)});
        }
    }

    // Processor time of the whole process (every thread) while the window idles; the line's own
    // thread is stopped first, so that only the window and SDL are counted.
    line.stop();
    const auto sample = [&](Interface& w, const char* state, const char* target) {
        idle(1500); // settled: after a change the window's reading has taken its new pace
        const double before = processCpuMs();
        idle(sampleMs);
        const double used = processCpuMs() - before;
        GamePad* g = w.gamePad();
        cpuRows.push_back({QString::fromLatin1(state), QString::number(sampleMs / 1000.0),
                           fmt(used, 1), fmt(100.0 * used / sampleMs, 3),
                           QString::fromLatin1(g->watchesNode() ? "node" : "timer"),
                           QString::number(g->pollInterval()), QString::fromLatin1(target)});
    };
    {
        VirtualController pad("Bench Pad");
        auto w = startWindow(1);
        {
            const double before = processCpuMs();
            const double t0 = nowMs();
            for (int i = 0; i < 10000; ++i)
                w->pad->gamePad()->poll();
            std::printf("One read of the attached controller, back to back: %.2f us of processor "
                        "time, %.2f us elapsed\n\n",
                        (processCpuMs() - before) / 10, (nowMs() - t0) / 10);
        }
        sample(*w->pad, "controller attached, polled", "");
        pad.unplug();
        sample(*w->pad, "none attached", "< 0.1 %");
        // For comparison: what waking the event loop as often costs by itself, reading nothing.
        QTimer bare;
        bare.start(GamePad::FastPollMs);
        QObject::connect(&bare, &QTimer::timeout, [] {});
        sample(*w->pad, "none attached + an empty 10 ms timer", "");
    }
    {
        PipeNode node;
        VirtualController pad("Bench Pad");
        auto w = startWindow(1);
        sample(*w->pad, "controller attached, node (pipe)", "< 0.05 %");
    }
    printTable({"read", "mode", "wire chars", "wire ms", "median", "mean", "p90", "max", "median-wire",
                "max-wire", "failures"},
               rows);
    std::printf("\ntarget: no more than the wire time + 12 ms\n\n");
    printTable({"state", "seconds", "cpu ms", "% of one core", "woken by", "timer ms", "target"},
               cpuRows);
    SDL_Quit();
    return 0;
}
