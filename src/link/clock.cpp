#include "clock.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <thread>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <time.h>
#endif
#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

namespace skyjog {

int64_t Clock::tickCount64() {
    const uint32_t now = tickCount();
    if (!counting64_) {
        counting64_ = true;
        count64_ = now;
    } else {
        count64_ += uint32_t(now - last32_);
    }
    last32_ = now;
    return count64_;
}

namespace {
// Nanoseconds on the monotonic clock since the first reading.
int64_t sinceStartNs() {
    static const QElapsedTimer timer = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return timer.nsecsElapsed();
}
constexpr int64_t NsPerMs = 1000000;
// Offset so that a monotonic counter starts somewhere arbitrary like the system's does.
constexpr int64_t TickOffset = 0x10000;
} // namespace

int64_t SystemClock::tickCount64() {
    return sinceStartNs() / NsPerMs + TickOffset;
}

uint32_t SystemClock::tickCount() {
    // The truncation to 32 bits is the wrap the callers are written for.
    return static_cast<uint32_t>(tickCount64());
}

namespace {
void tightenTimerSlack() {
#ifdef Q_OS_LINUX
    // Linux lets a sleeping thread wake up to its timer slack late (50 us by default) so that
    // wake-ups can be batched. The serial loop pauses 1 ms for every reply character, so the
    // slack alone would stretch a 10-character reply by half a millisecond: keep it minimal.
    thread_local const bool tightened = ::prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0) == 0;
    (void)tightened;
#endif
}
} // namespace

void SystemClock::sleep(uint32_t ms) {
    tightenTimerSlack();
    QThread::msleep(ms);
}

void SystemClock::pace(PaceState& state, uint32_t ms) {
    using namespace std::chrono;
    tightenTimerSlack();
    const int64_t now = duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
    const int64_t until = paceDeadline(state, now, int64_t(ms) * 1000000);
    std::this_thread::sleep_until(steady_clock::time_point(nanoseconds(until)));
}

void SystemClock::waitForEvents(uint32_t until) {
    // Qt's timers count whole milliseconds and may fire most of one late, and the kernel lets a
    // poll's time-out run late by a share of its length (0.1 %, five times that for a niced
    // program: 5 ms on a 5 s leg), which would lengthen every spiral leg by as much. So the event
    // loop is left a little before the counter turns to `until`, by more the longer the wait, and
    // the last stretch is slept on the precise clock: two or three wake-ups, on time.
    tightenTimerSlack();
    const int64_t nowNs = sinceStartNs();
    const int32_t aheadMs = int32_t(until - uint32_t(nowNs / NsPerMs + TickOffset));
    if (aheadMs <= 0) return;
    const int64_t leftNs = int64_t(aheadMs) * NsPerMs - nowNs % NsPerMs;
    const int64_t tailNs = 2 * NsPerMs + leftNs / 128;
    QAbstractEventDispatcher* loop = QAbstractEventDispatcher::instance();
    if (!loop || leftNs <= tailNs + NsPerMs) {
        std::this_thread::sleep_for(std::chrono::nanoseconds(leftNs));
        return;
    }
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    wake.start(std::chrono::milliseconds((leftNs - tailNs) / NsPerMs));
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void SystemClock::callAt(uint32_t due, QObject* context, std::function<void()> fn) {
    // A precise Qt timer may still fire most of a millisecond late: it is set to fire a little
    // early, and the rest is slept out on the precise clock, as the spiral's waits do.
    constexpr int32_t EarlyMs = 2;
    const int32_t aheadMs = int32_t(due - tickCount());
    QTimer::singleShot(std::max(aheadMs - EarlyMs, 0), Qt::PreciseTimer, context,
                       [this, due, fn = std::move(fn)] {
                           while (int32_t(due - tickCount()) > 0)
                               waitForEvents(due);
                           fn();
                       });
}

int64_t paceDeadline(PaceState& state, int64_t nowNs, int64_t periodNs) {
    if (state.nextNs < 0 || state.nextNs + periodNs <= nowNs) state.nextNs = nowNs;
    state.nextNs += periodNs;
    return state.nextNs;
}

uint32_t SystemClock::clockIncrement100ns() {
#ifdef Q_OS_WIN
    DWORD adjustment = 0, increment = 0;
    BOOL disabled = FALSE;
    GetSystemTimeAdjustment(&adjustment, &increment, &disabled);
    return increment;
#else
    timespec res{};
    if (clock_getres(CLOCK_MONOTONIC, &res) != 0) return 0;
    const uint64_t ns = uint64_t(res.tv_sec) * 1000000000u + uint64_t(res.tv_nsec);
    return static_cast<uint32_t>(ns / 100);
#endif
}

namespace {
Clock*& current() {
    static Clock* c = nullptr;
    return c;
}
} // namespace

Clock& clock() {
    static SystemClock sys;
    return current() ? *current() : sys;
}

void setClock(Clock* c) {
    current() = c;
}

} // namespace skyjog
