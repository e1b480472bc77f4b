// skyjog-mount-sim: the simulated mount on a pseudo-terminal and/or a loopback TCP port, for
// trying the program (or any other hand-control client) without a telescope.
#include "mountsim.h"
#include "simhost.h"
#include "tcphost.h"
#ifdef Q_OS_UNIX
#include "ptyhost.h"
#endif

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QTextStream>
#include <cmath>
#include <cstdio>
#include <memory>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

using namespace skyjog::sim;

namespace {

const char* const Intro =
    "Simulated Celestron hand control for Skyjog and other clients.\n"
    "\n"
    "Hosts: --pty PATH makes a pseudo-terminal and a link to it at PATH; clients open PATH as a\n"
    "serial device, as often as they like. --tcp PORT listens on 127.0.0.1 only, like a\n"
    "serial-over-TCP bridge (PORT 0 picks a free port); every connection reaches the same\n"
    "mount, and replies go to every open connection. Both may be given at once. A fault of\n"
    "the disconnect kind hangs up the terminal (a new one takes its place behind the same\n"
    "link) or closes the connections. When ready, one line is printed on standard output:\n"
    "\"ready pty=PATH tcp=127.0.0.1:PORT\" (with the hosts that were asked for).\n"
    "\n"
    "Log: every command received and every reply sent is logged with its time in milliseconds\n"
    "since the start, its bytes in decimal and a note. --log prints each entry on standard\n"
    "output as it happens; --log-file FILE writes each entry to FILE at once; SIGUSR1 prints\n"
    "the most recent entries on standard output (--log-keep of them, after a line saying how\n"
    "many earlier ones were dropped). A command lost on the line (--lose, --lose-share) is\n"
    "logged with the note \"lost on the line\". SIGTERM or SIGINT ends the simulator and\n"
    "removes the link.\n"
    "\n";

#ifdef Q_OS_UNIX
int signalPipe[2] = {-1, -1};
void onSignal(int sig) {
    const char c = char(sig);
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &c, 1);
}
#endif

[[noreturn]] void fail(const QString& message) {
    std::fprintf(stderr, "skyjog-mount-sim: %s\n", qPrintable(message));
    std::exit(2);
}

// Reads a whole number within [lo, hi] from an option, or stops with a message.
long long number(const QCommandLineParser& p, const QString& name, long long lo, long long hi) {
    bool ok = false;
    const long long v = p.value(name).toLongLong(&ok);
    if (!ok || v < lo || v > hi)
        fail(QStringLiteral("--%1 wants a whole number from %2 to %3").arg(name).arg(lo).arg(hi));
    return v;
}

QList<long long> numbers(const QCommandLineParser& p, const QString& name, int count, int hi) {
    const QStringList parts = p.value(name).split(u',');
    QList<long long> out;
    for (const QString& part : parts) {
        bool ok = false;
        const long long v = part.trimmed().toLongLong(&ok);
        if (!ok || v < 0 || v > hi) break;
        out << v;
    }
    if (out.size() != count)
        fail(QStringLiteral("--%1 wants %2 comma-separated numbers from 0 to %3")
                 .arg(name)
                 .arg(count)
                 .arg(hi));
    return out;
}

uint16_t angleToTurn16(double degrees) {
    const double f = degrees / 360.0 - std::floor(degrees / 360.0);
    return uint16_t(std::lround(f * 65536.0) & 0xFFFF);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("skyjog-mount-sim"));

    QCommandLineParser p;
    p.setApplicationDescription(QString::fromLatin1(Intro) + modelDescription());
    p.addHelpOption();
    p.addOptions({
        {"pty", "Serve on a pseudo-terminal linked at <path>.", "path"},
        {"tcp", "Serve on 127.0.0.1:<port> (0: a free port).", "port"},
        {"pace", "Pace bytes both ways at 9600 baud (10 bits each), as a real line does."},
        {"latency", "Wait <ms> after a command before its reply (default 0).", "ms", "0"},
        {"fault",
         "Spoil replies: none, silent (no reply), short (one byte less), garbage (right length, "
         "wrong bytes), extra (extra bytes after the reply), late (reply after --late-ms), "
         "disconnect (drop the line).",
         "kind", "none"},
        {"fault-skip", "Answer the first <n> commands normally before faults begin.", "n", "0"},
        {"fault-count", "Spoil only <n> replies (-1: all of them).", "n", "-1"},
        {"late-ms", "Delay of a late reply (default 1500).", "ms", "1500"},
        {"lose",
         "Lose commands on the line (received, but no effect and no reply at all), as a noisy "
         "cable or a busy hand control does. <rule> is KIND[@MOTOR][:N[:SKIP]]: the next N "
         "commands of the kind (default 1; all: every one) after letting SKIP of them through. "
         "KIND: stop (a fixed-rate stop), fixed (a fixed-rate move), variable (a variable-rate "
         "move), tracking (T), or any first letter (Z, P, ...); MOTOR: azm, alt, 16 or 17, for "
         "pass-through frames to that motor only. May be given more than once.",
         "rule"},
        {"lose-share", "Also lose this share (0-1) of all commands, at random.", "share", "0"},
        {"seed", "Seed of the random losses: the same seed loses the same commands.", "n", "1"},
        {"gap-ms", "Drop an incomplete command after <ms> without its next byte (default 250).",
         "ms", "250"},
        {"revert-ms",
         "With tracking on, a variable rate reverts to tracking after <ms> without commands "
         "(default 20000; 0 never).",
         "ms", "20000"},
        {"pec-seek-ms", "Time a PEC index seek takes (default 2000).", "ms", "2000"},
        {"az", "Starting azimuth (RA axis) angle in degrees.", "deg", "0"},
        {"alt", "Starting altitude (Dec axis) angle in degrees.", "deg", "0"},
        {"tracking", "Starting tracking mode 0-3 (default 1, Alt/Az).", "mode", "1"},
        {"backlash", "Starting anti-backlash: azm+,azm-,alt+,alt- (0-255).", "values", "0,0,0,0"},
        {"guide-rate", "Starting autoguide rates: azm,alt (0-255).", "values", "128,128"},
        {"hc-version", "Hand-control version the mount reports (default 4.41).", "major.minor",
         "4.41"},
        {"log", "Print each log entry on standard output as it happens."},
        {"log-file", "Write each log entry to <file> as it happens.", "file"},
        {"log-keep",
         "Keep the most recent <n> log entries in memory for SIGUSR1 (default 10000); --log and "
         "--log-file still get every entry.",
         "n", "10000"},
    });
    p.process(app);

    Options opt;
    opt.pace9600 = p.isSet("pace");
    opt.latencyMs = uint32_t(number(p, "latency", 0, 600000));
    const auto fault = faultFromName(p.value("fault"));
    if (!fault) fail(QStringLiteral("unknown fault \"%1\"").arg(p.value("fault")));
    opt.fault = *fault;
    opt.faultSkip = int(number(p, "fault-skip", 0, 1 << 30));
    opt.faultCount = int(number(p, "fault-count", -1, 1 << 30));
    opt.lateReplyMs = uint32_t(number(p, "late-ms", 0, 600000));
    for (const QString& text : p.values("lose")) {
        const std::optional<Loss> loss = lossFromText(text);
        if (!loss)
            fail(QStringLiteral("--lose wants KIND[@MOTOR][:N[:SKIP]], not \"%1\"").arg(text));
        opt.lose << *loss;
    }
    bool okShare = false;
    opt.loseShare = p.value("lose-share").toDouble(&okShare);
    if (!okShare || !(opt.loseShare >= 0 && opt.loseShare <= 1))
        fail(QStringLiteral("--lose-share wants a number from 0 to 1"));
    opt.loseSeed = uint32_t(number(p, "seed", 0, 0xFFFFFFFFll));
    opt.commandGapMs = uint32_t(number(p, "gap-ms", 1, 600000));
    opt.revertMs = uint32_t(number(p, "revert-ms", 0, 1 << 30));
    opt.pecSeekMs = uint32_t(number(p, "pec-seek-ms", 0, 1 << 30));
    opt.logLimit = int(number(p, "log-keep", 0, 1 << 24));
    bool okAz = false, okAlt = false;
    opt.azimuth = angleToTurn16(p.value("az").toDouble(&okAz));
    opt.altitude = angleToTurn16(p.value("alt").toDouble(&okAlt));
    if (!okAz || !okAlt) fail(QStringLiteral("--az and --alt want numbers of degrees"));
    opt.trackingMode = uint8_t(number(p, "tracking", 0, 3));
    const auto bl = numbers(p, "backlash", 4, 255);
    opt.backlash[0][0] = uint8_t(bl[0]);
    opt.backlash[0][1] = uint8_t(bl[1]);
    opt.backlash[1][0] = uint8_t(bl[2]);
    opt.backlash[1][1] = uint8_t(bl[3]);
    const QStringList hc = p.value("hc-version").split(u'.');
    bool okMajor = false, okMinor = false;
    const int major = hc.value(0).toInt(&okMajor), minor = hc.value(1).toInt(&okMinor);
    if (hc.size() != 2 || !okMajor || !okMinor || major < 0 || major > 255 || minor < 0 ||
        minor > 255)
        fail(QStringLiteral("--hc-version wants MAJOR.MINOR, each 0-255"));
    opt.handControlVersion[0] = uint8_t(major);
    opt.handControlVersion[1] = uint8_t(minor);
    const auto gr = numbers(p, "guide-rate", 2, 255);
    opt.guideRate[0] = uint8_t(gr[0]);
    opt.guideRate[1] = uint8_t(gr[1]);

    if (!p.isSet("pty") && !p.isSet("tcp"))
        fail(QStringLiteral("nothing to serve: give --pty PATH and/or --tcp PORT"));

    MountSim sim(opt);
    SimRunner runner(sim);

    std::unique_ptr<QFile> logFile;
    if (p.isSet("log-file")) {
        logFile = std::make_unique<QFile>(p.value("log-file"));
        if (!logFile->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
            fail(QStringLiteral("cannot write %1: %2")
                     .arg(logFile->fileName(), logFile->errorString()));
    }
    const bool printLog = p.isSet("log");
    sim.setLogListener([&](const LogEntry& e) {
        const QByteArray line = MountSim::formatLogEntry(e).toUtf8() + '\n';
        if (printLog) {
            std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
            std::fflush(stdout);
        }
        if (logFile) {
            logFile->write(line);
            logFile->flush();
        }
    });

    QStringList ready;
#ifdef Q_OS_UNIX
    std::unique_ptr<PtyHost> pty;
    if (p.isSet("pty")) {
        pty = std::make_unique<PtyHost>(runner, p.value("pty"));
        QString error;
        if (!pty->start(&error)) fail(error);
        ready << QStringLiteral("pty=") + pty->linkPath();
    }
#else
    if (p.isSet("pty")) fail(QStringLiteral("--pty needs a Unix system"));
#endif
    std::unique_ptr<TcpHost> tcp;
    if (p.isSet("tcp")) {
        tcp = std::make_unique<TcpHost>(runner);
        QString error;
        if (!tcp->start(quint16(number(p, "tcp", 0, 65535)), &error)) fail(error);
        ready << QStringLiteral("tcp=127.0.0.1:%1").arg(tcp->port());
    }

#ifdef Q_OS_UNIX
    // Signals arrive through a pipe, so that they are handled in the event loop.
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        fail(QStringLiteral("socketpair failed"));
    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, [&] {
        char c = 0;
        if (::read(signalPipe[0], &c, 1) != 1) return;
        if (c == SIGUSR1) {
            const QByteArray text = sim.logText().toUtf8();
            std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
            std::fflush(stdout);
        } else {
            QCoreApplication::quit();
        }
    });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGUSR1})
        ::sigaction(sig, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
#endif

    std::printf("ready %s\n", qPrintable(ready.join(u' ')));
    std::fflush(stdout);

    const int rc = app.exec();
    // The hosts go first: the pty host removes its link.
    tcp.reset();
#ifdef Q_OS_UNIX
    pty.reset();
#endif
    return rc;
}
