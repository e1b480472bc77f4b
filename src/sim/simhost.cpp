#include "simhost.h"

#include <algorithm>

namespace skyjog::sim {

SimRunner::SimRunner(MountSim& sim, QObject* parent) : QObject(parent), sim_(sim) {
    clock_.start();
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &SimRunner::pump);
}

uint32_t SimRunner::now() const {
    return uint32_t(clock_.elapsed());
}

void SimRunner::addLine(SimLine* line) {
    lines_.push_back(line);
}

void SimRunner::removeLine(SimLine* line) {
    lines_.erase(std::remove(lines_.begin(), lines_.end(), line), lines_.end());
}

void SimRunner::input(const QByteArray& bytes) {
    sim_.receive(bytes, now());
    pump();
}

void SimRunner::pump() {
    const QByteArray out = sim_.takeOutput(now());
    if (!out.isEmpty())
        for (SimLine* line : lines_)
            line->send(out);
    if (sim_.disconnected()) {
        for (SimLine* line : lines_)
            line->hangUp();
        sim_.reconnect();
    }
    const int wait = sim_.msUntilNextEvent(now());
    if (wait >= 0)
        timer_.start(wait);
    else
        timer_.stop();
}

} // namespace skyjog::sim
