// The game controller: from a press on the controller to the last byte of the slew on an exactly
// timed line, and the processor time the controller's reading costs while the window idles, with
// a controller attached and with none. The main window runs in this process (offscreen), read by
// its own timer as in the program; the controller is SDL's virtual joystick, pressed from another
// thread at moments that have nothing to do with that timer, as a user's thumb has.
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

struct PressResult {
    std::vector<double> pressToSlew;
    int failures = 0;
};

// Presses and releases D-pad Up rounds times from another thread; the window, on this thread,
// sends the commands. Returns the time from each press to the last byte of its slew.
PressResult pressRounds(ExactLine& line, VirtualController& pad, int rounds,
                        size_t commandsPerPress) {
    PressResult r;
    whileServing([&] {
        std::mt19937 rng(7);
        std::uniform_int_distribution<int> pauseUs(60000, 160000);
        for (int i = 0; i < rounds; ++i) {
            std::this_thread::sleep_for(std::chrono::microseconds(pauseUs(rng)));
            line.clear();
            const double pressed = nowMs();
            pad.button(SDL_CONTROLLER_BUTTON_DPAD_UP, true);
            const std::optional<double> slew = waitForCommand(line, commandsPerPress - 1);
            if (slew)
                r.pressToSlew.push_back(*slew - pressed);
            else
                ++r.failures;
            std::this_thread::sleep_for(std::chrono::microseconds(pauseUs(rng)));
            const size_t before = line.commands().size();
            pad.button(SDL_CONTROLLER_BUTTON_DPAD_UP, false);
            if (!waitForCommand(line, before + 1)) ++r.failures; // stop and tracking restore
        }
    });
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
                "line (%d presses per mode), window read every %d ms\n\n",
                rounds, GamePad::FastPollMs);
    std::vector<QStringList> rows;
    std::vector<QStringList> cpuRows;
    // Alt/Az: T 0, its acknowledgement, then P 3 (11 characters); EQ North: P 3 alone (8).
    for (const auto& [mode, modeName, commands, chars] :
         {std::tuple{1, "Alt/Az", size_t(2), 11}, std::tuple{2, "EQ North", size_t(1), 8}}) {
        QTemporaryDir program, user;
        Settings s;
        s.CommPortText = line.devicePath();
        s.TrackModeIndex = int16_t(mode);
        saveSettings(QDir(program.path()).filePath(SettingsLocation::FileName), s);
        VirtualController pad("Bench Pad");
        auto w = std::make_unique<Interface>(SettingsLocation(program.path(), user.path()));
        w->setProgramEnd([] {});
        w->show();
        idle(200);
        const PressResult r = pressRounds(line, pad, rounds, commands);
        const double wire = chars * CharMs;
        const Stats st = stats(r.pressToSlew);
        rows.push_back({QString::fromLatin1(modeName), QString::number(chars), fmt(wire),
                        fmt(st.median), fmt(st.mean), fmt(st.p90), fmt(st.max),
                        fmt(st.median - wire), fmt(st.max - wire), QString::number(r.failures)});

        w.reset();
    }

    // Processor time of the whole process (every thread) while the window idles; the line's own
    // thread is stopped first, so that only the window and SDL are counted.
    line.stop();
    {
        QTemporaryDir program, user;
        Settings s;
        s.CommPortText = line.devicePath();
        saveSettings(QDir(program.path()).filePath(SettingsLocation::FileName), s);
        VirtualController pad("Bench Pad");
        auto w = std::make_unique<Interface>(SettingsLocation(program.path(), user.path()));
        w->setProgramEnd([] {});
        w->show();
        const auto sample = [&](const char* state, const char* target) {
            idle(1500); // settled: after a change the window's reading has taken its new pace
            const double before = processCpuMs();
            idle(sampleMs);
            const double used = processCpuMs() - before;
            cpuRows.push_back({QString::fromLatin1(state), QString::number(sampleMs / 1000.0),
                               fmt(used, 1), fmt(100.0 * used / sampleMs, 3),
                               QString::number(w->gamePad()->pollInterval()),
                               QString::fromLatin1(target)});
        };
        {
            const double before = processCpuMs();
            const double t0 = nowMs();
            for (int i = 0; i < 10000; ++i)
                w->gamePad()->poll();
            std::printf("One read of the attached controller, back to back: %.2f us of processor "
                        "time, %.2f us elapsed\n\n",
                        (processCpuMs() - before) / 10, (nowMs() - t0) / 10);
        }
        sample("controller attached", "< 0.2 %");
        pad.unplug();
        sample("none attached", "< 0.1 %");
        // For comparison: what waking the event loop as often costs by itself, reading nothing.
        QTimer bare;
        bare.start(GamePad::FastPollMs);
        QObject::connect(&bare, &QTimer::timeout, [] {});
        sample("none attached + an empty 10 ms timer", "");
    }
    printTable({"mode", "wire chars", "wire ms", "median", "mean", "p90", "max", "median-wire",
                "max-wire", "failures"},
               rows);
    std::printf("\ntarget: no more than the wire time + 12 ms\n\n");
    printTable({"state", "seconds", "cpu ms", "% of one core", "read every ms", "target"}, cpuRows);
    SDL_Quit();
    return 0;
}
