#pragma once
// Serves one mount model to real lines (a pseudo-terminal, TCP connections) on the wall clock:
// bytes that arrive go into the model, replies leave when the model says they are due.
#include "mountsim.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
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
    explicit SimRunner(MountSim& sim, QObject* parent = nullptr);

    MountSim& sim() { return sim_; }
    // Milliseconds since the runner started: the model's clock and the log's time stamps.
    uint32_t now() const;

    void addLine(SimLine* line);
    void removeLine(SimLine* line);
    // Bytes a client wrote.
    void input(const QByteArray& bytes);

private:
    void pump();

    MountSim& sim_;
    QElapsedTimer clock_;
    QTimer timer_;
    std::vector<SimLine*> lines_;
};

} // namespace skyjog::sim
