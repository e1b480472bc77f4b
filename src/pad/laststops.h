#pragma once
// The stops that must go out however the process ends. Qt's X11 plugin ends the process with
// exit() from deep inside the event loop when the display connection breaks, and a session's end
// may leave no time for the window to close: neither runs the window's own release of the holds.
// The serial line does not need the display, so whoever owns the motion registers here what
// stops it, and this runs it on the way out.
#include <functional>

namespace skyjog {

// What stops every axis that still moves and restores tracking; it does nothing when nothing
// moves. It must not paint, show a box or reach the display in any way. Empty: nothing to stop.
void setLastStops(std::function<void()> fn);

// Runs the function set, with every report going to standard error instead of a box. Safe to
// call from several ways out in a row: a run inside a run does nothing.
void sendLastStops();

// Makes sendLastStops run when the calling thread ends: main returning, or exit() called on that
// thread from anywhere (Qt's display plugin calls it on the main thread). Call it once, on the
// main thread, once the window is there.
void sendLastStopsAtExit();

} // namespace skyjog
