// SendCommand round trips over a pseudo-terminal to the simulated mount paced at 9600 baud: an
// 8-byte command with a one-byte acknowledgement, and "Z" with its 10-character position reply,
// each beside the time its characters need on the wire. The same commands against a line timed
// to the microsecond show how much of the rest is the program's own.
#include "clock.h"
#include "commands.h"
#include "common.h"
#include "exactline.h"
#include "functions.h"
#include "report.h"
#include "serialcontrol.h"

#include <QCoreApplication>
#include <QTextStream>
#include <cstdio>
#include <functional>

using namespace skyjog;

namespace {

// Wraps the real backend and notes when each step of a command happens.
struct Marks {
    double start = 0, opened = 0, written = 0, lastChar = 0, closed = 0;
};
Marks marks;

class MarkingBackend final : public SerialBackend {
public:
    explicit MarkingBackend(std::unique_ptr<SerialBackend> inner) : inner_(std::move(inner)) {}
    void open(const LineSettings& line, const QDeadlineTimer& deadline) override {
        marks.start = bench::nowMs();
        inner_->open(line, deadline);
        marks.opened = bench::nowMs();
    }
    void close() override {
        inner_->close();
        marks.closed = bench::nowMs();
    }
    bool isOpen() const override { return inner_->isOpen(); }
    QByteArray read(int maxChars) override {
        QByteArray r = inner_->read(maxChars);
        if (maxChars == 1 && !r.isEmpty()) marks.lastChar = bench::nowMs();
        return r;
    }
    void write(const QByteArray& data, const QDeadlineTimer& deadline) override {
        inner_->write(data, deadline);
        marks.written = bench::nowMs();
    }

    bool openIsRoundTrip() const override { return inner_->openIsRoundTrip(); }

private:
    std::unique_ptr<SerialBackend> inner_;
};

struct Case {
    QString name;
    QByteArray command;
    int16_t replyLength;
    int wireChars;
    double target;
};

const std::vector<Case>& cases() {
    static const std::vector<Case> c{
        {QStringLiteral("ack (P 2 17 37 0 0 0 0 -> #: 8 + 1 chars)"),
         cmd::FixedRateSlew(cmd::AltMotor), cmd::AckLength, 8 + 1, 1.2},
        {QStringLiteral("position (Z -> AAAA,BBBB#: 1 + 10 chars)"), cmd::GetAzAlt(),
         cmd::PositionReplyLength, 1 + 10, 1.25},
    };
    return c;
}

struct Rows {
    std::vector<QStringList> summary, phases;
};

// Runs every case against the line named by port; returns false when a command failed.
// pause(): how long the mount took before answering the command just sent, taken off its time.
bool measure(
    const QString& peer, const QString& port, int rounds, Rows& rows,
    const std::function<double()>& pause = [] { return 0.0; }) {
    Comm1().setPortText(port);
    Comm1().setBackendFactory([](const PortSpec& spec) {
        return std::make_unique<MarkingBackend>(makeDefaultBackend(spec));
    });
    int failures = 0;
    setReporter([&](const QString& text, const QString&) {
        ++failures;
        std::fprintf(stderr, "bench_sendcommand: %s\n", qPrintable(text));
    });
    for (const Case& c : cases()) {
        for (int i = 0; i < 5; ++i)
            (void)SendCommand(c.command, c.replyLength, cmd::TimeoutMs);
        std::vector<double> times, opening, writing, replying, ending;
        int shortReplies = 0;
        for (int i = 0; i < rounds && failures == 0; ++i) {
            const double t0 = bench::nowMs();
            const QByteArray reply = SendCommand(c.command, c.replyLength, cmd::TimeoutMs);
            const double mountPause = pause();
            times.push_back(bench::nowMs() - t0 - mountPause);
            if (reply.size() != c.replyLength) ++shortReplies;
            opening.push_back(marks.opened - marks.start);
            writing.push_back(marks.written - marks.opened);
            replying.push_back(marks.lastChar - marks.written - mountPause);
            ending.push_back(marks.closed - marks.lastChar);
        }
        const bench::Stats s = bench::stats(times);
        const double wire = c.wireChars * bench::CharMs;
        rows.summary.push_back({peer, c.name, bench::fmt(wire), bench::fmt(s.median),
                                bench::fmt(s.mean), bench::fmt(s.p90), bench::fmt(s.max),
                                bench::fmt(s.median / wire) + "x", bench::fmt(s.mean / wire) + "x",
                                QStringLiteral("%1x").arg(c.target),
                                QString::number(shortReplies)});
        const double reply = bench::stats(replying).median;
        rows.phases.push_back({peer, c.name, bench::fmt(bench::stats(opening).median, 3),
                               bench::fmt(bench::stats(writing).median, 3), bench::fmt(reply, 3),
                               bench::fmt(reply - wire, 3),
                               bench::fmt(bench::stats(ending).median, 3)});
    }
    Comm1().setBackendFactory({});
    setReporter({});
    return failures == 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(10, atoi(argv[1])) : 300;

    InitSleepTime();
    Comm1().setSettings(QStringLiteral("9600,N,8,1"));
    Rows rows;
    QString error;

    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("mount"));
    bench::SimProcess sim;
    if (!sim.start(link, {QStringLiteral("--pace")}, &error)) {
        std::fprintf(stderr, "bench_sendcommand: %s\n", qPrintable(error));
        return 1;
    }
    bool ok = measure(QStringLiteral("skyjog-mount-sim --pace"), link, rounds, rows);
    sim.stop();

    bench::ExactLine exact;
    if (!exact.start(&error)) {
        std::fprintf(stderr, "bench_sendcommand: %s\n", qPrintable(error));
        return 1;
    }
    ok = measure(QStringLiteral("exact-timed line"), exact.devicePath(), rounds, rows) && ok;
    // A real hand control takes a moment before it answers, which moves its reply against the
    // collecting loop's passes; an instant answer always meets them at the same point.
    exact.setLatencySpread(1.0);
    ok = measure(QStringLiteral("exact, mount pause 0-1 ms taken off"), exact.devicePath(), rounds,
                 rows, [&] { return exact.commands().back().latencyMs; }) &&
         ok;
    exact.setLatencySpread(0);

    // A stop the line loses: from its last byte to the last byte of the stop sent again, and to
    // the confirmed stop's return.
    std::vector<double> toResend, toConfirmed;
    int unconfirmed = 0;
    Comm1().setPortText(exact.devicePath());
    for (int i = 0; i < std::max(1, rounds / 10); ++i) {
        exact.clear();
        exact.loseStops(1);
        const skyjog::Confirmation how = skyjog::SendConfirmed(skyjog::cmd::FixedRateSlew(17));
        const double returned = bench::nowMs();
        const auto sent = exact.commands();
        if (how != skyjog::Confirmation::Confirmed || sent.size() != 2) {
            ++unconfirmed;
            continue;
        }
        toResend.push_back(sent[1].lastByteMs - sent[0].lastByteMs);
        toConfirmed.push_back(returned - sent[0].lastByteMs);
    }
    const bench::Stats sr = bench::stats(toResend), sf = bench::stats(toConfirmed);
    ok = ok && unconfirmed == 0;

    // The port's open and close alone, without any bytes.
    Comm1().setPortText(exact.devicePath());
    std::vector<double> openTimes, closeTimes;
    for (int i = 0; i < rounds; ++i) {
        const double t0 = bench::nowMs();
        Comm1().setPortOpen(true);
        const double t1 = bench::nowMs();
        Comm1().setPortOpen(false);
        const double t2 = bench::nowMs();
        openTimes.push_back(t1 - t0);
        closeTimes.push_back(t2 - t1);
    }
    exact.stop();
    const bench::Stats so = bench::stats(openTimes), sc = bench::stats(closeTimes);

    // The collecting loop's pause as this machine keeps it: one pass is a read and this.
    std::vector<double> pauses;
    for (int i = 0; i < rounds; ++i) {
        const double t0 = bench::nowMs();
        skyjog::clock().sleep(uint32_t(SleepTime));
        pauses.push_back(bench::nowMs() - t0);
    }
    const bench::Stats sp = bench::stats(pauses);

    QTextStream out(stdout);
    out << "SendCommand round trip over a pseudo-terminal, " << rounds
        << " rounds per case, SleepTime " << SleepTime
        << " ms; times in ms, ratios against the wire time\n";
    out.flush();
    bench::printTable({"line", "case", "wire", "median", "mean", "p90", "max", "median/wire",
                       "mean/wire", "target", "short"},
                      rows.summary);
    out << "\nWhere the time goes (medians, ms): open; drain and write; write to the last reply "
           "character read; that beyond the wire time; last character to port closed (the "
           "loop's last pause and the close)\n";
    out.flush();
    bench::printTable(
        {"line", "case", "open", "drain+write", "to last char", "beyond wire", "to closed"},
        rows.phases);
    out << "\nPort open and close alone, and the polling pause (ms)\n";
    out.flush();
    bench::printTable(
        {"step", "median", "mean", "p90", "max"},
        {{"open", bench::fmt(so.median, 3), bench::fmt(so.mean, 3), bench::fmt(so.p90, 3),
          bench::fmt(so.max, 3)},
         {"close", bench::fmt(sc.median, 3), bench::fmt(sc.mean, 3), bench::fmt(sc.p90, 3),
          bench::fmt(sc.max, 3)},
         {QStringLiteral("pause of SleepTime (%1 ms)").arg(SleepTime), bench::fmt(sp.median, 3),
          bench::fmt(sp.mean, 3), bench::fmt(sp.p90, 3), bench::fmt(sp.max, 3)}});
    out << "\nA stop lost on the exactly timed line (" << toResend.size()
        << " rounds, unconfirmed: " << unconfirmed
        << "): from its last byte to the resent stop's last byte, and to the confirmed return "
           "(ms)\n";
    out.flush();
    bench::printTable({"span", "median", "mean", "p90", "max"},
                      {{"lost stop -> stop sent again", bench::fmt(sr.median), bench::fmt(sr.mean),
                        bench::fmt(sr.p90), bench::fmt(sr.max)},
                       {"lost stop -> confirmed", bench::fmt(sf.median), bench::fmt(sf.mean),
                        bench::fmt(sf.p90), bench::fmt(sf.max)}});
    return ok ? 0 : 1;
}
