#include "exactline.h"
#include "common.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

namespace bench {

namespace {
int commandLength(uint8_t first) {
    switch (first) {
    case 'P':
        return 8;
    case 'T':
    case 'K':
        return 2;
    default:
        return 1;
    }
}

QByteArray replyTo(const QByteArray& cmd) {
    switch (cmd[0]) {
    case 'Z':
        return QByteArrayLiteral("0000,0000#");
    case 'K':
        return cmd.mid(1, 1) + '#';
    default:
        return QByteArrayLiteral("#");
    }
}
} // namespace

ExactLine::ExactLine() = default;
ExactLine::~ExactLine() {
    stop();
}

bool ExactLine::start(QString* error) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    slavePath_ = QString::fromLocal8Bit(::ptsname(master_));
    // Held open so that the terminal survives the client's closing it after every command.
    slave_ = ::open(::ptsname(master_), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios t{};
    ::tcgetattr(slave_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave_, TCSANOW, &t);
    thread_ = std::thread([this] { run(); });
    return true;
}

void ExactLine::stop() {
    if (thread_.joinable()) {
        stop_ = true;
        thread_.join();
    }
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
    slave_ = master_ = -1;
}

std::vector<ExactLine::Command> ExactLine::commands() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
}

void ExactLine::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    commands_.clear();
}

void ExactLine::run() {
    ::prctl(PR_SET_TIMERSLACK, 1);
    struct Out {
        double at;
        char byte;
    };
    std::deque<Out> out;
    double inFree = 0, outFree = 0;
    QByteArray partial;
    QRandomGenerator random(20261208); // the same pauses on every run
    while (!stop_) {
        double wait = 50;
        if (!out.empty()) wait = std::max(0.0, out.front().at - nowMs());
        const timespec ts{time_t(wait / 1000), long(std::fmod(wait, 1000.0) * 1e6)};
        pollfd p{master_, POLLIN, 0};
        const int r = ::ppoll(&p, 1, &ts, nullptr);
        const double now = nowMs();
        if (r > 0 && (p.revents & POLLIN)) {
            char buf[256];
            const ssize_t n = ::read(master_, buf, sizeof buf);
            for (ssize_t i = 0; i < n; ++i) {
                inFree = std::max(inFree, now) + CharMs;
                partial += buf[i];
                if (partial.size() < commandLength(uint8_t(partial[0]))) continue;
                const double latency = latencySpread_ * random.generateDouble();
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    commands_.push_back({partial, inFree, latency});
                }
                double at = std::max(inFree + latency, outFree);
                QByteArray reply = replyTo(partial);
                // A fixed-rate move at rate 0: 'P', 2, motor, 36 or 37, 0.
                const bool stop = partial.size() == 8 && partial[0] == 'P' && partial[1] == 2 &&
                                  (uint8_t(partial[3]) == 36 || uint8_t(partial[3]) == 37) &&
                                  partial[4] == 0;
                if (stop && stopsToLose_ > 0) {
                    --stopsToLose_;
                    reply.clear();
                }
                if (partial[0] == 'Z') {
                    switch (positionReply_.load()) {
                    case PositionReply::Whole:
                        break;
                    case PositionReply::Garbage:
                        reply = QByteArrayLiteral("\xff\xfe\xfd\xfc\xfb\xfa\xf9\xf8\xf7\xf6");
                        break;
                    case PositionReply::Short:
                        reply.chop(1);
                        break;
                    case PositionReply::Late:
                        at += LateMs; // and what comes after it waits behind it
                        break;
                    case PositionReply::Never:
                        reply.clear();
                        break;
                    }
                }
                for (char c : reply)
                    out.push_back({at += CharMs, c});
                outFree = at;
                partial.clear();
            }
        }
        QByteArray due;
        while (!out.empty() && out.front().at <= nowMs()) {
            due += out.front().byte;
            out.pop_front();
        }
        if (!due.isEmpty()) [[maybe_unused]]
            const auto w = ::write(master_, due.constData(), size_t(due.size()));
    }
}

} // namespace bench
