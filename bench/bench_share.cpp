// The mount shared through the real program (skyjog --share under its own Xvfb) on an exactly
// timed 9600-baud line:
//   a client's round trip for an echo (K x -> x#) and a position (Z -> 10 characters) beside the
//   wire time, the bare line with no program between, and SendCommand in this process on the
//   same line, which is what the pad itself pays;
//   the pad's key press and release to the line while two clients poll the position ten times a
//   second, against no clients, for an EQ North and an Alt/Az mount;
//   commands a second through the share, one client back to back, against the line's limit.
#include "commands.h"
#include "common.h"
#include "exactline.h"
#include "functions.h"
#include "padsession.h"
#include "report.h"
#include "serialcontrol.h"

#include <QCoreApplication>
#include <QTextStream>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace bench;

namespace {

// The setup failed: thrown, so that the program, its X server and the clients' threads are
// all stopped on the way out.
struct SetupFailed {
    QString what;
};
[[noreturn]] void fail(const QString& what) {
    throw SetupFailed{what};
}

struct Case {
    QString name;
    QByteArray command;
    QByteArray reply;
};

const std::vector<Case>& cases() {
    static const std::vector<Case> c{
        {QStringLiteral("echo (K x -> x#: 2 + 2 chars)"), QByteArrayLiteral("Kx"),
         QByteArrayLiteral("x#")},
        {QStringLiteral("position (Z -> 0000,0000#: 1 + 10 chars)"), skyjog::cmd::GetAzAlt(),
         QByteArrayLiteral("0000,0000#")},
    };
    return c;
}

double wireMs(const Case& c) {
    return double(c.command.size() + c.reply.size()) * CharMs;
}

// Writes a command to fd and reads until its reply is in, or timeoutMs has passed.
bool exchangeOn(int fd, const QByteArray& command, int replyLength, int timeoutMs,
                QByteArray* reply) {
    reply->clear();
    if (::write(fd, command.constData(), size_t(command.size())) != command.size()) return false;
    const double deadline = nowMs() + timeoutMs;
    while (reply->size() < replyLength) {
        const double left = deadline - nowMs();
        if (left <= 0) return false;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, int(left) + 1) <= 0) continue;
        char buf[64];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) {
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            return false; // closed
        }
        reply->append(buf, int(n));
    }
    return true;
}

// A program on the share: one TCP connection, each command waiting for its reply.
class Client {
public:
    ~Client() { close(); }
    bool connectTo(uint16_t port, int timeoutMs, QString* error) {
        const double deadline = nowMs() + timeoutMs;
        int last = 0;
        // The program listens only once it is up; until then the port refuses.
        while (nowMs() < deadline) {
            fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(port);
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
                // What a planetarium sets for a protocol of small commands.
                const int one = 1;
                ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                return true;
            }
            last = errno;
            close();
            ::usleep(50000);
        }
        *error = QStringLiteral("cannot connect to the share on 127.0.0.1:%1 within %2 ms: %3")
                     .arg(port)
                     .arg(timeoutMs)
                     .arg(QString::fromLocal8Bit(std::strerror(last)));
        return false;
    }
    bool exchange(const QByteArray& command, int replyLength, int timeoutMs, QByteArray* reply) {
        return fd_ >= 0 && exchangeOn(fd_, command, replyLength, timeoutMs, reply);
    }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

// A port nobody listens on now (the kernel's choice); the program is given it next.
uint16_t freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(fd);
        return 0;
    }
    ::close(fd);
    return ntohs(a.sin_port);
}

// The exactly timed line opened as a mount's owner would, with nothing of the program's.
class BareLine {
public:
    ~BareLine() { close(); }
    // Closed while the program has the line: a second reader of the terminal could take the
    // program's replies.
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    bool open(const QString& path, QString* error) {
        close();
        fd_ = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ < 0) {
            *error = QStringLiteral("cannot open %1: %2")
                         .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        termios t{};
        ::tcgetattr(fd_, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(fd_, TCSANOW, &t);
        return true;
    }
    bool exchange(const QByteArray& command, int replyLength, int timeoutMs, QByteArray* reply) {
        return exchangeOn(fd_, command, replyLength, timeoutMs, reply);
    }

private:
    int fd_ = -1;
};

// One way of getting a command to the mount and its reply back; false when no reply came.
using Way = std::function<bool(const Case&, QByteArray* reply)>;

struct RoundTrips {
    std::vector<double> total, toLine, fromLine;
    int bad = 0;
};

// rounds exchanges of the case after a few to warm up. toLine: from the start to the command's
// last byte on the line, less the command's own characters; fromLine: from the reply's last
// byte on the line (the line answers at once) to the reply in hand.
RoundTrips roundTrips(ExactLine& line, const Case& c, int rounds, const Way& way) {
    RoundTrips r;
    QByteArray reply;
    for (int i = 0; i < 5; ++i)
        way(c, &reply);
    for (int i = 0; i < rounds; ++i) {
        line.clear();
        const double t0 = nowMs();
        const bool ok = way(c, &reply);
        const double t1 = nowMs();
        const auto sent = line.commands();
        if (!ok || reply != c.reply || sent.size() != 1) {
            ++r.bad;
            continue;
        }
        r.total.push_back(t1 - t0);
        const double lastByte = sent[0].lastByteMs;
        r.toLine.push_back(lastByte - t0 - double(c.command.size()) * CharMs);
        r.fromLine.push_back(t1 - (lastByte + double(c.reply.size()) * CharMs));
    }
    return r;
}

// Back to back for seconds; commands a second, and how many went wrong.
struct Rate {
    double perSecond = 0;
    int bad = 0;
};
Rate rate(const Case& c, double seconds, const Way& way) {
    QByteArray reply;
    int n = 0, bad = 0;
    const double t0 = nowMs();
    double t = t0;
    while (t - t0 < seconds * 1000.0) {
        if (way(c, &reply) && reply == c.reply)
            ++n;
        else
            ++bad;
        t = nowMs();
    }
    return {n / ((t - t0) / 1000.0), bad};
}

// A program polling the position every periodMs on a thread of its own.
class Poller {
public:
    bool start(uint16_t port, double periodMs, double offsetMs, QString* error) {
        if (!client_.connectTo(port, 5000, error)) return false;
        thread_ = std::thread([this, periodMs, offsetMs] { run(periodMs, offsetMs); });
        return true;
    }
    void stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        client_.close();
    }
    ~Poller() { stop(); }
    int polls() const { return polls_; }
    int failures() const { return failures_; }
    const std::vector<double>& times() const { return times_; }
    void clear() {
        // Only while stopped or before start: the figures belong to the thread.
        polls_ = 0;
        failures_ = 0;
        times_.clear();
    }

private:
    void run(double periodMs, double offsetMs) {
        double due = nowMs() + offsetMs;
        QByteArray reply;
        while (!stop_) {
            while (!stop_ && nowMs() < due)
                ::usleep(useconds_t(std::clamp(due - nowMs(), 0.0, 20.0) * 1000.0));
            if (stop_) break;
            const double t0 = nowMs();
            ++polls_;
            if (client_.exchange(skyjog::cmd::GetAzAlt(), 10, 2000, &reply) && reply.size() == 10)
                times_.push_back(nowMs() - t0);
            else
                ++failures_;
            // A poll that took longer than its period is followed by the next at once.
            due = std::max(due + periodMs, nowMs());
        }
    }

    Client client_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> polls_{0}, failures_{0};
    std::vector<double> times_;
};

// Starts the program sharing the mount on a port of its own and connects one client, which has
// the program echo one command to prove the way through; fails loudly when any of it does not
// work.
uint16_t launchSharing(PadSession& pad, ExactLine& line, int trackIndex, Client* client) {
    const uint16_t port = freePort();
    if (port == 0) fail(QStringLiteral("no free TCP port on 127.0.0.1"));
    QString error;
    if (!pad.launch(keySettingsLine(line.devicePath(), trackIndex), &error, nullptr, nullptr,
                    {QStringLiteral("--share=127.0.0.1:%1").arg(port)}))
        fail(error);
    if (!client->connectTo(port, 10000, &error)) fail(error);
    QByteArray reply;
    if (!client->exchange("Kx", 2, 2000, &reply) || reply != "x#")
        fail(QStringLiteral("the share did not echo K x (got \"%1\")")
                 .arg(QString::fromLatin1(reply.toHex(' '))));
    return port;
}

QString verdict(bool met) {
    return met ? QStringLiteral("met") : QStringLiteral("not met");
}

int run(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(10, atoi(argv[1])) : 300;
    const int keyRounds = argc > 2 ? std::max(3, atoi(argv[2])) : 20;
    const double seconds = argc > 3 ? std::max(1.0, atof(argv[3])) : 3.0;
    constexpr double TargetOverMs = 2.0;
    constexpr double PollPeriodMs = 100.0;

    QString error;
    ExactLine line;
    if (!line.start(&error)) fail(error);

    // ---- the bare line and SendCommand in this process --------------------------------------
    BareLine bare;
    if (!bare.open(line.devicePath(), &error)) fail(error);
    const Way bareWay = [&](const Case& c, QByteArray* reply) {
        return bare.exchange(c.command, int(c.reply.size()), 1000, reply);
    };
    skyjog::InitSleepTime();
    skyjog::Comm1().setSettings(QStringLiteral("9600,N,8,1"));
    skyjog::Comm1().setPortText(line.devicePath());
    int reported = 0;
    skyjog::setReporter([&](const QString& text, const QString&) {
        ++reported;
        std::fprintf(stderr, "bench_share: SendCommand: %s\n", qPrintable(text));
    });
    const Way directWay = [&](const Case& c, QByteArray* reply) {
        *reply = skyjog::SendCommand(c.command, int16_t(c.reply.size()), skyjog::cmd::TimeoutMs);
        return reply->size() == c.reply.size();
    };
    std::vector<RoundTrips> bareTrips, directTrips, shareTrips;
    for (const Case& c : cases()) {
        bareTrips.push_back(roundTrips(line, c, rounds, bareWay));
        directTrips.push_back(roundTrips(line, c, rounds, directWay));
    }
    if (reported) fail(QStringLiteral("SendCommand on the exactly timed line failed"));
    bare.close();

    // ---- through the share -------------------------------------------------------------------
    PadSession pad;
    if (!pad.startX(&error)) fail(error);
    Client client;
    launchSharing(pad, line, 2, &client);
    const Way shareWay = [&](const Case& c, QByteArray* reply) {
        return client.exchange(c.command, int(c.reply.size()), 2000, reply);
    };
    for (const Case& c : cases())
        shareTrips.push_back(roundTrips(line, c, rounds, shareWay));

    // ---- commands a second ---------------------------------------------------------------------
    std::vector<Rate> bareRates, directRates, shareRates;
    for (const Case& c : cases())
        shareRates.push_back(rate(c, seconds, shareWay));
    client.close();
    pad.stopApp();
    if (!bare.open(line.devicePath(), &error)) fail(error);
    for (const Case& c : cases()) {
        bareRates.push_back(rate(c, seconds, bareWay));
        directRates.push_back(rate(c, seconds, directWay));
    }
    if (reported) fail(QStringLiteral("SendCommand on the exactly timed line failed"));
    skyjog::setReporter({});
    bare.close();

    // ---- the pad's keys while two clients poll ----------------------------------------------
    struct KeyRun {
        QString mount;
        KeyFigures alone, polled;
        int polls = 0, pollFailures = 0;
        std::vector<double> pollTimes;
    };
    std::vector<KeyRun> keyRuns;
    for (const auto& [mount, trackIndex] :
         {std::pair{QStringLiteral("EQ North"), 2}, std::pair{QStringLiteral("Alt/Az"), 1}}) {
        KeyRun run{mount, {}, {}, 0, 0, {}};
        Client check;
        const uint16_t port = launchSharing(pad, line, trackIndex, &check);
        check.close();
        pad.focus();
        xsession::waitFor([] { return false; }, 500);
        if (!runKeyRounds(pad, line, keyRounds, 400, &run.alone, &error)) fail(error);
        {
            Poller a, b;
            // Apart by a part of the period that keeps them from falling into step.
            if (!a.start(port, PollPeriodMs, 0, &error) ||
                !b.start(port, PollPeriodMs, PollPeriodMs * 0.37, &error))
                fail(error);
            xsession::waitFor([] { return false; }, 300);
            if (!runKeyRounds(pad, line, keyRounds, 400, &run.polled, &error)) fail(error);
            a.stop();
            b.stop();
            run.polls = a.polls() + b.polls();
            run.pollFailures = a.failures() + b.failures();
            run.pollTimes = a.times();
            run.pollTimes.insert(run.pollTimes.end(), b.times().begin(), b.times().end());
        }
        pad.stopApp();
        keyRuns.push_back(std::move(run));
    }
    line.stop();

    // ---- tables ------------------------------------------------------------------------------
    QTextStream out(stdout);
    out << "Round trip of a command, " << rounds
        << " rounds each, exactly timed 9600-baud line answering at once (ms). bare: this "
           "process on the line itself; direct: SendCommand in this process (the pad's own "
           "path); share: a TCP client through skyjog --share\n";
    out.flush();
    std::vector<QStringList> rows, phases, verdicts;
    for (size_t i = 0; i < cases().size(); ++i) {
        const Case& c = cases()[i];
        const double wire = wireMs(c);
        const Stats sb = stats(bareTrips[i].total), sd = stats(directTrips[i].total),
                    ss = stats(shareTrips[i].total);
        auto row = [&](const QString& way, const Stats& s, int bad) {
            rows.push_back({c.name, way, fmt(wire), fmt(s.median), fmt(s.p90), fmt(s.max),
                            fmt(s.median - wire), QString::number(bad)});
        };
        row(QStringLiteral("bare line"), sb, bareTrips[i].bad);
        row(QStringLiteral("direct (SendCommand)"), sd, directTrips[i].bad);
        row(QStringLiteral("share (TCP, skyjog)"), ss, shareTrips[i].bad);
        auto phase = [&](const QString& way, const RoundTrips& r) {
            phases.push_back({c.name, way, fmt(stats(r.toLine).median, 3),
                              fmt(stats(r.fromLine).median, 3), fmt(stats(r.fromLine).p90, 3)});
        };
        phase(QStringLiteral("bare line"), bareTrips[i]);
        phase(QStringLiteral("direct (SendCommand)"), directTrips[i]);
        phase(QStringLiteral("share (TCP, skyjog)"), shareTrips[i]);
        verdicts.push_back({c.name, fmt(ss.median), fmt(wire + TargetOverMs), fmt(ss.median - wire),
                            verdict(ss.median <= wire + TargetOverMs),
                            fmt(sd.median + TargetOverMs), fmt(ss.median - sd.median),
                            verdict(ss.median <= sd.median + TargetOverMs)});
    }
    printTable({"case", "way", "wire", "median", "p90", "max", "median - wire", "bad"}, rows);
    out << "\nWhere the time goes (ms): from the start to the command's last byte on the line, "
           "less the command's own characters; from the reply's last byte on the line to the "
           "reply in hand (for SendCommand that includes the port's close)\n";
    out.flush();
    printTable({"case", "way", "to line (median)", "from line (median)", "from line (p90)"},
               phases);
    out << "\nTarget: the share's median within " << fmt(TargetOverMs, 0)
        << " ms of the wire time, and within as much of the direct exchange (ms)\n";
    out.flush();
    printTable({"case", "share median", "wire + 2", "over wire", "vs wire", "direct + 2",
                "over direct", "vs direct"},
               verdicts);

    out << "\nThe pad's key to line while two clients each poll Z every " << fmt(PollPeriodMs, 0)
        << " ms, against no clients (sharing on in both); XTEST Up held 400 ms, " << keyRounds
        << " rounds each (ms). Held up: rounds slower than the slowest without clients (by 0.5 "
           "ms); worst "
           "extra: the worst with clients less the median without\n";
    out.flush();
    std::vector<QStringList> keyRows, pollRows;
    constexpr double OneExchangeMs = 15.0;
    for (const KeyRun& r : keyRuns) {
        auto key = [&](const QString& what, const std::vector<double>& alone,
                       const std::vector<double>& polled) {
            const Stats a = stats(alone), p = stats(polled);
            const double extra = p.median - a.median, worst = p.max - a.median;
            // Rounds the clients held up: slower than the slowest without them.
            const auto held = std::count_if(polled.begin(), polled.end(),
                                            [&](double v) { return v > a.max + 0.5; });
            keyRows.push_back({r.mount, what, fmt(a.median), fmt(a.max), fmt(p.median), fmt(p.p90),
                               fmt(p.max), QStringLiteral("%1 of %2").arg(held).arg(p.n),
                               fmt(extra), fmt(worst),
                               QStringLiteral("%1, %2").arg(verdict(extra <= OneExchangeMs),
                                                            verdict(worst <= OneExchangeMs))});
        };
        key(QStringLiteral("press -> slew's last byte"), r.alone.press, r.polled.press);
        key(QStringLiteral("release -> stop's last byte"), r.alone.release, r.polled.release);
        const Stats s = stats(r.pollTimes);
        pollRows.push_back({r.mount, QString::number(r.polls), QString::number(r.pollFailures),
                            fmt(s.median), fmt(s.p90), fmt(s.max)});
    }
    printTable({"mount", "key", "no clients median", "no clients max", "polled median",
                "polled p90", "polled max", "held up", "median extra", "worst extra",
                "<= 15 ms (median, worst)"},
               keyRows);
    out << "\nThe two clients' polls during those rounds: a Z round trip as each client saw it "
           "(ms)\n";
    out.flush();
    printTable({"mount", "polls", "failed", "median", "p90", "max"}, pollRows);

    out << "\nCommands a second, one client back to back, each waiting for its reply, " << seconds
        << " s each; the line's limit is 960 characters a second over the command's and reply's "
           "characters\n";
    out.flush();
    std::vector<QStringList> rateRows;
    for (size_t i = 0; i < cases().size(); ++i) {
        const Case& c = cases()[i];
        const double limit = 1000.0 / wireMs(c);
        rateRows.push_back(
            {c.name, fmt(limit, 1), fmt(bareRates[i].perSecond, 1),
             fmt(directRates[i].perSecond, 1), fmt(shareRates[i].perSecond, 1),
             fmt(shareRates[i].perSecond / limit * 100.0, 1) + " %",
             QString::number(bareRates[i].bad + directRates[i].bad + shareRates[i].bad)});
    }
    printTable({"case", "line limit", "bare line", "direct (SendCommand)", "share (TCP)",
                "share / limit", "bad"},
               rateRows);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    try {
        return run(argc, argv);
    } catch (const SetupFailed& e) {
        std::fprintf(stderr, "bench_share: %s\n", qPrintable(e.what));
        return 1;
    }
}
