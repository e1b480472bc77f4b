#pragma once
// How the window system reports a held key to this program.

namespace skyjog {

// Asks the X server for XKB's "detectable auto-repeat" on the program's own connection: a held
// key then arrives as presses only, and its one release is the real one. True when the server
// confirmed it; false elsewhere (not X11, no XKB, or refused), where a held key may arrive as
// release and press pairs. Needs the application object.
bool enableDetectableAutoRepeat();

} // namespace skyjog
