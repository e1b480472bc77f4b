#pragma once
// Keeping a window above all normal windows, without moving, resizing or re-creating it.
#include <QString>

class QWidget;

namespace skyjog {

// The dynamic property that records the last state asked for, so that tests and the platform
// layers that cannot be observed (an offscreen run has no window manager) can see it.
inline const char* const OnTopProperty = "skyjogOnTop";

// Puts a top-level window above all windows that are not themselves on top (onTop true) or back
// among them (false). The window keeps its position and size and is not hidden or re-created;
// the native window is created if it does not exist yet. On X11 the window manager is asked for
// the "above" state, on Windows the window is made topmost; elsewhere the toolkit's hint is used.
void SetOnTop(QWidget* window, bool onTop);

// The state last asked for with SetOnTop (false when it was never called for this window).
bool onTopRequested(const QWidget* window);

// Shows a window that is already open again and brings it in front of the others.
void bringForward(QWidget* window);

} // namespace skyjog
