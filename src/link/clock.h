#pragma once
// The millisecond tick counter and the pause, behind one seam so that tests can drive time.
#include <cstdint>
#include <functional>

class QObject;

namespace skyjog {

// The timing of one polling loop's pauses (see Clock::pace).
struct PaceState {
    int64_t nextNs = -1;
};

class Clock {
public:
    virtual ~Clock() = default;
    // A 32-bit millisecond counter that wraps; subtract two readings as uint32_t.
    virtual uint32_t tickCount() = 0;
    // The same count in 64 bits, which never wraps, for what must measure spans of any length.
    // Unless a clock knows it itself, it is the 32-bit count with its wraps counted, which needs a
    // reading at least once in every 49 days.
    virtual int64_t tickCount64();
    virtual void sleep(uint32_t ms) = 0;
    // The pause of a polling loop: ms counted from where the loop's previous pause was due to
    // end, not from the moment this one is asked for. A pass's own work and each wake-up's
    // lateness then do not add up over the passes, so a loop that pauses 1 ms polls every
    // millisecond, as a loop that must meet characters arriving every 1.04 ms needs. A loop
    // that fell a whole pause behind (a long handler, a busy machine) starts afresh rather than
    // catching up with pauses of nothing. Clocks without a finer time simply sleep.
    virtual void pace(PaceState& state, uint32_t ms) {
        (void)state;
        sleep(ms);
    }
    // Rests until the tick count reaches `until` or an event comes to this thread's event loop,
    // whichever is first, and handles what came. Returns at once when `until` has come, and may
    // also return before either (an event the loop keeps for itself), so a caller checks what it
    // waits for and calls again. `until` lies less than 24 days ahead.
    virtual void waitForEvents(uint32_t until) = 0;
    // The system clock's increment in 100-ns units (0 where the system reports none).
    virtual uint32_t clockIncrement100ns() = 0;
    // Calls fn from this thread's event loop once the tick count has reached `due` (at once when
    // it has), unless context is gone by then. Nothing waits for it meanwhile: what is held up
    // for a moment (a tap's stop) does not hold up the window or a spiral's legs.
    virtual void callAt(uint32_t due, QObject* context, std::function<void()> fn) = 0;

private:
    bool counting64_ = false;
    uint32_t last32_ = 0;
    int64_t count64_ = 0;
};

class SystemClock final : public Clock {
public:
    uint32_t tickCount() override;
    int64_t tickCount64() override;
    void sleep(uint32_t ms) override;
    void pace(PaceState& state, uint32_t ms) override;
    void waitForEvents(uint32_t until) override;
    uint32_t clockIncrement100ns() override;
    void callAt(uint32_t due, QObject* context, std::function<void()> fn) override;
};

// The clock in use; the system clock unless a test installed another.
Clock& clock();
// Where a paced pause that starts at nowNs is to end: one period after the previous pause's due
// end, or one period from now for a loop's first pause and for a loop a whole period behind.
// Updates state.
int64_t paceDeadline(PaceState& state, int64_t nowNs, int64_t periodNs);

// Installs a clock (not owned); nullptr restores the system clock.
void setClock(Clock* c);

// Milliseconds from start to now on a wrapping counter.
inline uint32_t elapsedMs(uint32_t start, uint32_t now) {
    return now - start;
}

} // namespace skyjog
