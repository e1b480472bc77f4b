#pragma once
// Serves one mount model to real lines (a pseudo-terminal, TCP connections) on the wall clock:
// bytes that arrive go into the model, replies leave when the model says they are due.
#include "mountsim.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <memory>
#include <vector>

namespace skyjog::sim {

// One way the model reaches clients.
class SimLine {
public:
    virtual ~SimLine() = default;
    // Hands reply bytes to whoever is connected; bytes nobody can take are lost, as on a wire.
    virtual void send(const QByteArray& bytes) = 0;
    // Drops the line (a Disconnect fault); the line is usable again afterwards.
    virtual void hangUp() = 0;
};

class SimRunner : public QObject {
    Q_OBJECT
public:
    // What wakes the runner when the model's next byte is due.
    enum class Timer {
        Finest,    // to the microsecond where the system offers it (Linux), else as EventLoop
        EventLoop, // the event loop's precise timer, to the millisecond (every system)
    };

    explicit SimRunner(MountSim& sim, QObject* parent = nullptr, Timer timer = Timer::Finest);
    ~SimRunner() override;

    MountSim& sim() { return sim_; }
    // Milliseconds since the runner started: the log's time stamps.
    int64_t now() const;
    // Microseconds since the runner started: the model's clock.
    int64_t nowUs() const;

    void addLine(SimLine* line);
    void removeLine(SimLine* line);
    // Bytes a client wrote.
    void input(const QByteArray& bytes);

private:
    void pump();
    void wakeIn(int64_t us);
    void timerFired();

    MountSim& sim_;
    QElapsedTimer clock_;
    // A character at 9600 baud takes 1.04 ms, finer than the event loop's millisecond timers,
    // so on Linux the wake-ups come from a timer descriptor set to the microsecond. Elsewhere
    // (or without one) the QTimer wakes the runner up to a millisecond late, which delays a
    // byte but never sends one early: the model decides what is due.
    int timerFd_ = -1;
    std::unique_ptr<QSocketNotifier> timerNotifier_;
    QTimer timer_;
    std::vector<SimLine*> lines_;
};

} // namespace skyjog::sim
