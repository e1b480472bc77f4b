#pragma once
// The square spiral search.
#include "functions.h"

#include <QString>
#include <cstdint>

namespace skyjog {

// What the spiral needs of the window that runs it.
class SpiralHost {
public:
    virtual ~SpiralHost() = default;
    virtual QString widthText() const = 0;
    virtual QString delayText() const = 0;
    // The item data of the tracking list's selected entry; throws VbError when there is none.
    virtual uint8_t trackingMode() const = 0;
    virtual void setSpiralLabelVisible(bool visible) = 0;
    // Lets the window handle its pending events (handlers run nested inside this call). Between
    // two calls the spiral rests in the clock's waitForEvents, which an event for the thread's
    // event loop ends.
    virtual void processEvents() = 0;
    // How the final stop of each axis (and the tracking restore after both) went.
    virtual void spiralStopped(Confirmation altitude, Confirmation azimuth) = 0;
};

// The spiral button and the S key: start a spiral when none runs, otherwise ask it to stop.
// Returns when the spiral it started has ended.
void ToggleSpiral(SpiralHost& host);

// Runs one whole spiral: preparation, legs until StopSpiral is set, the stop sequence.
void RunSpiral(SpiralHost& host);

// Whether RunSpiral is under way, its stop sequence included (StopSpiral alone turns True while
// the last stops still have to go out).
bool SpiralRunning();

} // namespace skyjog
