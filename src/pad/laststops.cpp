#include "laststops.h"

#include "report.h"

#include <utility>

namespace skyjog {

namespace {

std::function<void()>& lastStops() {
    static std::function<void()> fn;
    return fn;
}

bool running = false;

// exit() runs the destructors of the calling thread's thread_local objects before it destroys
// any static object or calls any atexit function. A plain atexit handler would run after the
// statics built since its registration (the serial control, the port's lock, the clock) were
// already destroyed; this one runs while all of them are still there.
struct AtThreadEnd {
    ~AtThreadEnd() { sendLastStops(); }
};

} // namespace

void setLastStops(std::function<void()> fn) {
    lastStops() = std::move(fn);
}

void sendLastStops() {
    if (running || !lastStops()) return;
    running = true;
    const ReportsToStandardError noBoxes;
    // A copy: what it stops may set another function (or none) while it runs.
    const std::function<void()> fn = lastStops();
    fn();
    running = false;
}

void sendLastStopsAtExit() {
    thread_local AtThreadEnd atEnd;
    (void)atEnd;
}

} // namespace skyjog
