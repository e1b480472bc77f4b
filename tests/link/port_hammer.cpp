// A second copy of the program's link sharing one port: sends echo commands through SendCommand,
// each with a character that names this process and the command, and counts what comes back.
//
//   port_hammer DEVICE TAG COUNT
//
// TAG 0 or 1 picks the characters: 0 uses 0x40-0x5F, 1 uses 0x60-0x7F, so that a reply meant for
// the other process is recognised as such. Says "ready", waits for a line on standard input, runs,
// then prints one line:
//   done commands=N own=N refused=N foreign=N late=N wrong=N timeouts=N failed=N first=MS last=MS
// own: the reply to this very command; refused: a failure reported as the port being in use
// (8005); foreign: a reply carrying the other process's character; late: the reply to one of this
// process's earlier commands that timed out (on a machine too busy to answer within the time-out,
// it may land after the next command's drain); wrong: any other reply; timeouts: nothing came;
// failed: any other failure (its message goes to standard error).
// first and last are the wall-clock milliseconds of the first and last command.
#include "functions.h"
#include "report.h"

#include <QCoreApplication>
#include <QDateTime>
#include <cstdio>
#include <iostream>
#include <string>

using namespace skyjog;

// Longer than a command's usual 500 ms: on a busy machine a reply may take longer than that, and
// a reply that comes after its command gave up is taken by whichever command comes next on the
// line, perhaps the other process's. Draining at the start of each command cannot tell such a
// reply from a fresh one; that is not what this program measures.
constexpr int16_t TimeoutMs = 5000;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s DEVICE TAG COUNT\n", argv[0]);
        return 2;
    }
    const QString device = QString::fromLocal8Bit(argv[1]);
    const int tag = std::atoi(argv[2]) ? 1 : 0;
    const int count = std::atoi(argv[3]);

    QString reported;
    setReporter([&](const QString& text, const QString&) { reported = text; });
    InitSleepTime();
    Comm1().setSettings(QStringLiteral("9600,N,8,1"));
    Comm1().setPortText(device);

    std::printf("ready\n");
    std::fflush(stdout);
    std::string line;
    std::getline(std::cin, line);

    const auto charFor = [](int tag, int i) { return char(0x40 + tag * 0x20 + i % 0x20); };
    int own = 0, refused = 0, foreign = 0, late = 0, wrong = 0, timeouts = 0, failed = 0;
    QByteArray timedOut; // the characters of this process's commands that got no reply
    const qint64 first = QDateTime::currentMSecsSinceEpoch();
    for (int i = 0; i < count; ++i) {
        const char c = charFor(tag, i);
        reported.clear();
        const QByteArray reply = SendCommand(QByteArray("K") + c, 2, TimeoutMs);
        if (!reported.isEmpty()) {
            if (reported.endsWith(QStringLiteral(" - 8005"))) {
                ++refused;
            } else {
                ++failed;
                std::fprintf(stderr, "command %d: %s\n", i, qPrintable(reported));
            }
            if (!reply.isEmpty()) ++wrong; // a failure never comes with a reply
        } else if (reply == QByteArray(1, c) + '#') {
            ++own;
        } else if (reply.isEmpty()) {
            ++timeouts;
            timedOut += c;
        } else if (reply.size() == 2 && reply[1] == '#' && timedOut.contains(reply[0])) {
            ++late;
        } else if (uint8_t(reply[0]) >> 5 == uint8_t(charFor(1 - tag, 0)) >> 5) {
            ++foreign;
        } else {
            ++wrong;
            std::fprintf(stderr, "command %d: sent %02x, got %s\n", i, uint8_t(c),
                         reply.toHex(' ').constData());
        }
    }
    const qint64 last = QDateTime::currentMSecsSinceEpoch();
    std::printf("done commands=%d own=%d refused=%d foreign=%d late=%d wrong=%d timeouts=%d "
                "failed=%d first=%lld last=%lld\n",
                count, own, refused, foreign, late, wrong, timeouts, failed, (long long)first,
                (long long)last);
    std::fflush(stdout);
    return 0;
}
