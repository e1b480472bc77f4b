#include "simhost.h"

#include <algorithm>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <ctime>
#include <sys/timerfd.h>
#include <unistd.h>
#endif

namespace skyjog::sim {

SimRunner::SimRunner(MountSim& sim, QObject* parent, Timer timer) : QObject(parent), sim_(sim) {
    clock_.start();
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &SimRunner::pump);
#ifdef Q_OS_LINUX
    if (timer == Timer::Finest)
        timerFd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (timerFd_ >= 0) {
        timerNotifier_ = std::make_unique<QSocketNotifier>(timerFd_, QSocketNotifier::Read);
        connect(timerNotifier_.get(), &QSocketNotifier::activated, this, &SimRunner::timerFired);
    }
#else
    Q_UNUSED(timer);
#endif
}

SimRunner::~SimRunner() {
    timerNotifier_.reset();
#ifdef Q_OS_LINUX
    if (timerFd_ >= 0) ::close(timerFd_);
#endif
}

int64_t SimRunner::now() const {
    return clock_.elapsed();
}

int64_t SimRunner::nowUs() const {
    return clock_.nsecsElapsed() / 1000;
}

void SimRunner::addLine(SimLine* line) {
    lines_.push_back(line);
}

void SimRunner::removeLine(SimLine* line) {
    lines_.erase(std::remove(lines_.begin(), lines_.end(), line), lines_.end());
}

void SimRunner::input(const QByteArray& bytes) {
    sim_.receiveUs(bytes, nowUs());
    pump();
}

void SimRunner::pump() {
    const QByteArray out = sim_.takeOutputUs(nowUs());
    if (!out.isEmpty())
        for (SimLine* line : lines_)
            line->send(out);
    if (sim_.disconnected()) {
        for (SimLine* line : lines_)
            line->hangUp();
        sim_.reconnect();
    }
    wakeIn(sim_.usUntilNextEvent(nowUs()));
}

void SimRunner::wakeIn(int64_t us) {
    if (timerFd_ < 0) {
        if (us >= 0)
            timer_.start(int((us + 999) / 1000));
        else
            timer_.stop();
        return;
    }
#ifdef Q_OS_LINUX
    // Zero disarms a timer descriptor, so an event already due is one nanosecond away.
    itimerspec spec{};
    if (us >= 0) {
        const int64_t ns = std::max<int64_t>(us * 1000, 1);
        spec.it_value.tv_sec = time_t(ns / 1000000000);
        spec.it_value.tv_nsec = long(ns % 1000000000);
    }
    ::timerfd_settime(timerFd_, 0, &spec, nullptr);
#endif
}

void SimRunner::timerFired() {
#ifdef Q_OS_LINUX
    uint64_t expirations = 0;
    while (::read(timerFd_, &expirations, sizeof expirations) < 0 && errno == EINTR) {
    }
#endif
    pump();
}

} // namespace skyjog::sim
