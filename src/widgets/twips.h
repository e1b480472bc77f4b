#pragma once
// Window layouts are drawn in twips: 15 to a pixel at 96 dots per inch, and Qt's high-DPI scaling
// takes the pixels on to other densities.
class QWidget;

namespace skyjog {

inline constexpr int TwipsPerPixel = 15;

// Twips to the nearest pixel. A whole number of twips never lies halfway between two pixels (15
// is odd), so there is no tie to settle, and a control lands on the pixel its twips are nearest.
int twipsToPixels(int twips);

// Puts a control at its place in twips inside its parent; each of the four is rounded on its own.
void placeInTwips(QWidget* w, int left, int top, int width, int height);

} // namespace skyjog
