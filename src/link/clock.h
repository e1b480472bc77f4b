#pragma once
// The millisecond tick counter and the pause, behind one seam so that tests can drive time.
#include <cstdint>

namespace skyjog {

class Clock {
public:
    virtual ~Clock() = default;
    // A 32-bit millisecond counter that wraps; subtract two readings as uint32_t.
    virtual uint32_t tickCount() = 0;
    virtual void sleep(uint32_t ms) = 0;
    // The system clock's increment in 100-ns units (0 where the system reports none).
    virtual uint32_t clockIncrement100ns() = 0;
};

class SystemClock final : public Clock {
public:
    uint32_t tickCount() override;
    void sleep(uint32_t ms) override;
    uint32_t clockIncrement100ns() override;
};

// The clock in use; the system clock unless a test installed another.
Clock& clock();
// Installs a clock (not owned); nullptr restores the system clock.
void setClock(Clock* c);

// Milliseconds from start to now on a wrapping counter.
inline uint32_t elapsedMs(uint32_t start, uint32_t now) { return now - start; }

} // namespace skyjog
