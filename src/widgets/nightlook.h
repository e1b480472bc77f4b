#pragma once
// The night look: dark red on black in every window of the program, so that a glance at the
// screen does not cost the observer the eyes' adaptation to the dark. Nothing white or blue is
// left, not even a focus frame or a selection.
#include <QColor>
#include <QPalette>

namespace skyjog {

// Switches the whole program to the night look or back to the day look it had before. Every
// window, open or opened later, follows at once: the application's palette carries
// it (with the text boxes' carets painted over in red), and the drawn pictures ask nightLook()
// each time they are painted.
void setNightLook(bool on);
bool nightLook();

// The night palette, every role in every colour group.
QPalette nightPalette();

// The colours the pictures are drawn in at night: the strong line and the filled surface.
inline const QColor NightInk(200, 0, 0);
inline const QColor NightFill(110, 0, 0);

} // namespace skyjog
