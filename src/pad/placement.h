#pragma once
// Bringing a window back from a place no screen shows any more (a monitor unplugged, a laptop
// taken off its dock) before the user has to hunt for it.
#include <QList>
#include <QPoint>
#include <QRect>
#include <cstdint>

class QWidget;

namespace skyjog {

// Where a window whose frame is at frame belongs, given the screens' available areas: where it
// is when any part of it lies in one of them; otherwise on the nearest area, whole where it fits
// and with its top-left corner in the area where it does not. Without areas it stays.
QPoint placeOnScreens(const QRect& frame, const QList<QRect>& areas);

// The available areas of the screens there are now.
QList<QRect> availableScreenAreas();

// Moves a top-level window that lies on no screen onto the nearest one (placeOnScreens); a
// window that shows anywhere stays where it is.
void bringOntoAScreen(QWidget& window);

// A window's place in the settings file's twips, kept as it was loaded while the window stays
// where that put it, so that a place never drifts through the conversion to pixels and back.
class TwipsPlace {
public:
    // Moves the window to the place (the frame's top-left corner), onto a screen if it shows on
    // none; the twips are kept all the same, so it goes back there once that screen is back.
    void load(QWidget& window, int32_t left, int32_t top);
    // The place to save: the loaded twips while the window has not moved, else where it is.
    void unload(const QWidget& window, int32_t& left, int32_t& top) const;

private:
    QPoint loadedPos_;
    int32_t left_ = 0;
    int32_t top_ = 0;
};

} // namespace skyjog
