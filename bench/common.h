#pragma once
// Shared pieces of the benchmarks: a monotonic clock in milliseconds, the simulated mount as a
// child process on a pseudo-terminal, and a small statistics table.
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <vector>

namespace bench {

// CLOCK_MONOTONIC in milliseconds, with fraction.
double nowMs();

// Runs the event loop for ms milliseconds.
void idle(int ms);

// The bytes 10-bit characters take at 9600 baud.
constexpr double CharMs = 10.0 * 1000.0 / 9600.0;

// skyjog-mount-sim beside this executable (or in SKYJOG_BUILD_DIR's parent build dir).
QString buildDirFile(const QString& name);

class SimProcess {
public:
    SimProcess() = default;
    ~SimProcess();
    // Starts the simulator on a pseudo-terminal linked at linkPath; returns false (with the
    // simulator's output in *error) when it is not ready within timeoutMs.
    bool start(const QString& linkPath, const QStringList& extraArgs, QString* error,
               int timeoutMs = 10000);
    void stop();
    qint64 pid() const;
    // Lines the simulator printed so far, with the monotonic time at which each was read.
    struct Line {
        double readAtMs;
        QString text;
    };
    // Reads whatever the simulator printed, waiting at most waitMs for something new.
    void poll(int waitMs);
    const std::vector<Line>& lines() const { return lines_; }

private:
    QProcess proc_;
    QByteArray partial_;
    std::vector<Line> lines_;
};

struct Stats {
    double min = 0, median = 0, mean = 0, p90 = 0, max = 0;
    int n = 0;
};
Stats stats(std::vector<double> v);

// A plain text table: header row, then rows; columns padded to their widest cell.
void printTable(const QStringList& header, const std::vector<QStringList>& rows);
QString fmt(double v, int decimals = 2);

} // namespace bench
