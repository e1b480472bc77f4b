// A press behind a background reading: with the Position window open, an arrow key pressed the
// moment a reading's Z has crossed the line, to the last byte of its slew on the exactly timed
// line, for a mount that answers the reading as a hand control does, with garbage, short, late
// and never; beside the same press with the window closed. The main window runs in this process
// (offscreen), its readings on their own timer as in the program; the key events come from
// another thread, posted as the window system would deliver them.
//
//   bench_position [presses per case (20)]
#include "common.h"
#include "exactline.h"
#include "functions.h"
#include "interface.h"
#include "positionwindow.h"
#include "report.h"
#include "settingsfile.h"

#include <QApplication>
#include <QInputDevice>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <random>
#include <thread>

using namespace skyjog;
using namespace bench;

namespace {

// The first command at or after index that satisfies pred, once it is on the line (bounded).
std::optional<ExactLine::Command> waitFor(const ExactLine& line, size_t from,
                                          bool (*pred)(const QByteArray&), int ms) {
    const double until = nowMs() + ms;
    while (nowMs() < until) {
        const auto c = line.commands();
        for (size_t i = from; i < c.size(); ++i)
            if (pred(c[i].bytes)) return c[i];
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return std::nullopt;
}

bool isPosition(const QByteArray& c) {
    return c == "Z";
}
bool isSlew(const QByteArray& c) {
    return c.size() == 8 && c[0] == 'P' && c[1] == 3;
}
bool isStop(const QByteArray& c) {
    return c.size() == 8 && c[0] == 'P' && c[1] == 2;
}

struct Result {
    std::vector<double> pressToSlew;
    int failures = 0;
};

// Presses and releases Up rounds times from another thread. With behindReading, each press
// waits for a reading to begin and comes as its Z has crossed the line.
Result pressRounds(ExactLine& line, QWidget* window, int rounds, bool behindReading) {
    Result r;
    // Time-stamped as the window system stamps them: a release and a press with one stamp would
    // be taken for the two halves of an auto-repeat.
    const auto post = [window](QEvent::Type type) {
        auto* e = new QKeyEvent(type, Qt::Key_Up, Qt::NoModifier);
        e->setTimestamp(quint64(nowMs()));
        QCoreApplication::postEvent(window, e);
    };
    whileServing([&] {
        std::mt19937 rng(11);
        std::uniform_int_distribution<int> pauseUs(60000, 160000);
        for (int i = 0; i < rounds; ++i) {
            line.clear();
            if (behindReading && !waitFor(line, 0, isPosition, 5000)) {
                ++r.failures;
                continue;
            }
            if (!behindReading)
                std::this_thread::sleep_for(std::chrono::microseconds(pauseUs(rng)));
            const double pressed = nowMs();
            post(QEvent::KeyPress);
            if (const auto slew = waitFor(line, 0, isSlew, 3000))
                r.pressToSlew.push_back(slew->lastByteMs - pressed);
            else
                ++r.failures;
            std::this_thread::sleep_for(std::chrono::microseconds(pauseUs(rng)));
            const size_t before = line.commands().size();
            post(QEvent::KeyRelease);
            if (!waitFor(line, before, isStop, 3000)) ++r.failures;
            // Past the stop's own wait, should the mount hold its answer back.
            std::this_thread::sleep_for(std::chrono::milliseconds(600));
        }
    });
    return r;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 20;
    setReporter([](const QString& text, const QString&) {
        std::fprintf(stderr, "box: %s\n", qPrintable(text));
    });
    InitSleepTime();
    // Made here, on the window's thread: the first key event asks for the keyboard device, a
    // QObject that must not be born on the thread that posts the presses.
    QInputDevice::primaryKeyboard();
    ExactLine line;
    QString error;
    if (!line.start(&error)) {
        std::fprintf(stderr, "exact line: %s\n", qPrintable(error));
        return 1;
    }

    // EQ North: the press sends the slew alone (8 characters), so that what is measured is the
    // wait behind the reading, not the mount's answer to a tracking command.
    QTemporaryDir program, user;
    Settings s;
    s.CommPortText = line.devicePath();
    s.TrackModeIndex = 2;
    saveSettings(QDir(program.path()).filePath(SettingsLocation::FileName), s);
    auto w = std::make_unique<Interface>(SettingsLocation(program.path(), user.path()));
    w->setProgramEnd([] {});
    w->show();
    idle(200);

    std::printf("Press to the last byte of the slew (EQ North, P 3: 8 characters, %.2f ms) on the "
                "exactly timed line, %d presses per case; a reading waits %d ms for the mount\n\n",
                8 * CharMs, rounds, int(PositionWindow::ReadingTimeoutMs));
    using R = ExactLine::PositionReply;
    const std::tuple<const char*, bool, R> cases[] = {
        {"Position window closed (idle)", false, R::Whole},
        {"open, the mount answers at once", true, R::Whole},
        {"open, the mount answers garbage", true, R::Garbage},
        {"open, the mount answers short (no #)", true, R::Short},
        {"open, the mount answers late (1.5 s)", true, R::Late},
        {"open, the mount never answers", true, R::Never},
    };
    std::vector<QStringList> rows;
    double idleMedian = 0;
    for (const auto& [name, open, reply] : cases) {
        line.setPositionReply(reply);
        if (open) {
            w->showPosition();
            idle(300);
        }
        const Result r = pressRounds(line, w.get(), rounds, open);
        if (PositionWindow* p = PositionWindow::current()) p->close();
        idle(100);
        const Stats st = stats(r.pressToSlew);
        if (!open) idleMedian = st.median;
        rows.push_back({QString::fromLatin1(name), fmt(st.median), fmt(st.mean), fmt(st.p90),
                        fmt(st.max), open ? fmt(st.median - idleMedian) : QStringLiteral("-"),
                        open ? fmt(st.max - idleMedian) : QStringLiteral("-"),
                        QString::number(r.failures)});
    }
    printTable({"case", "median", "mean", "p90", "max", "median-idle", "max-idle", "failures"},
               rows);
    std::printf("\ntarget: within 50 ms of the idle figure\n");
    w.reset();
    line.stop();
    return 0;
}
