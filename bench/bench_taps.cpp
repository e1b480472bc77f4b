// Repeatable taps: from a short click of an arrow button to the first byte of its stop on an
// exactly timed line, against the tap length. The main window runs in this process (offscreen);
// each click lasts a random 5 to 200 ms (at most the length less 20) and comes at a random moment, as a user's finger does.
#include "arrowbutton.h"
#include "common.h"
#include "exactline.h"
#include "interface.h"
#include "preferences.h"
#include "report.h"
#include "settingsfile.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <cmath>
#include <cstdio>
#include <random>

using namespace skyjog;
using namespace bench;

namespace {

void click(QWidget* button, QEvent::Type type) {
    const QPointF at(button->width() / 2.0, button->height() / 2.0);
    QMouseEvent e(type, at, button->mapToGlobal(at), Qt::LeftButton,
                  type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, {});
    QApplication::sendEvent(button, &e);
}

bool isStop(const QByteArray& c) {
    return c.size() == 8 && c[0] == 'P' && c[1] == 2;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 40;
    setReporter([](const QString& text, const QString&) {
        std::fprintf(stderr, "box: %s\n", qPrintable(text));
    });
    ExactLine line;
    QString error;
    if (!line.start(&error)) {
        std::fprintf(stderr, "exact line: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("Repeatable taps: a click of 5-200 ms to the first byte of its stop on the exactly "
                "timed line (%d clicks per length; EQ North, so the slew is one command)\n\n",
                rounds);
    std::vector<QStringList> rows;
    std::mt19937 rng(11);
    for (const int tapMs : {50, 250, 1000}) {
        QTemporaryDir program, user;
        Settings s;
        s.CommPortText = line.devicePath();
        s.TrackModeIndex = 2;
        saveSettings(QDir(program.path()).filePath(SettingsLocation::FileName), s);
        Preferences prefs(user.path());
        prefs.set(Pref::TapsEnabled, true);
        prefs.set(Pref::TapLength, tapMs);
        prefs.save();
        Interface w(SettingsLocation(program.path(), user.path()));
        w.setProgramEnd([] {});
        w.show();
        idle(200);
        std::vector<double> errors, absErrors;
        int failures = 0;
        for (int i = 0; i < rounds; ++i) {
            idle(std::uniform_int_distribution<int>(60, 160)(rng));
            line.clear();
            const double pressed = nowMs();
            click(w.cmdUp, QEvent::MouseButtonPress);
            // Short of the length even with the slew's own time on the line (about 9 ms) before it.
            idle(std::uniform_int_distribution<int>(5, std::min(200, tapMs - 20))(rng));
            click(w.cmdUp, QEvent::MouseButtonRelease);
            std::optional<double> stopStart;
            for (const double until = nowMs() + tapMs + 2000; !stopStart && nowMs() < until;) {
                idle(5);
                for (const ExactLine::Command& c : line.commands())
                    if (isStop(c.bytes)) stopStart = c.lastByteMs - 8 * CharMs;
            }
            if (!stopStart) {
                ++failures;
                continue;
            }
            errors.push_back(*stopStart - pressed - tapMs);
            absErrors.push_back(std::abs(errors.back()));
            idle(50); // the tracking restore
        }
        const Stats e = stats(errors);
        const Stats a = stats(absErrors);
        rows.push_back({QString::number(tapMs), QString::number(e.n), fmt(e.mean), fmt(a.mean),
                        fmt(e.median), fmt(e.min), fmt(e.max), QString::number(failures)});
    }
    printTable({"tap ms", "clicks", "mean error", "mean |error|", "median", "min", "max",
                "failures"},
               rows);
    std::printf("\nerror: stop's first byte minus (press + tap length), ms; target: mean |error| "
                "under 1.5 ms\n");
    return 0;
}
