#pragma once
// A serial line to a hand control with exact 9600-baud timing, for measuring what the program
// itself adds to a command: a pseudo-terminal whose far end is served by a thread that times
// every character to the microsecond (10 bits at 9600 baud each way), answers at once, and notes
// when each command's last byte has crossed the line. Only the replies the benchmarks need.
#include <QByteArray>
#include <QString>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace bench {

class ExactLine {
public:
    ExactLine();
    ~ExactLine();
    bool start(QString* error);
    void stop();
    // The terminal a client opens.
    QString devicePath() const { return slavePath_; }

    struct Command {
        QByteArray bytes;
        double lastByteMs; // when its last byte crossed the line (nowMs() clock)
        double latencyMs;  // how long the mount took before starting its reply
    };
    std::vector<Command> commands() const;
    // Each reply starts after a random pause of up to maxMs (a real hand control takes a
    // moment of its own); 0, the default, answers at once.
    void setLatencySpread(double maxMs) { latencySpread_ = maxMs; }
    // How the mount answers a position (Z): as a hand control does, or one of the ways a mount
    // gets it wrong.
    enum class PositionReply { Whole, Garbage, Short, Late, Never };
    void setPositionReply(PositionReply r) { positionReply_ = r; }
    static constexpr double LateMs = 1500;
    // The next n motor stops are lost on the line: they cross it, and nothing answers.
    void loseStops(int n) { stopsToLose_ = n; }
    void clear();

private:
    void run();

    int master_ = -1;
    int slave_ = -1;
    QString slavePath_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<double> latencySpread_{0};
    std::atomic<PositionReply> positionReply_{PositionReply::Whole};
    std::atomic<int> stopsToLose_{0};
    mutable std::mutex mutex_;
    std::vector<Command> commands_;
};

} // namespace bench
