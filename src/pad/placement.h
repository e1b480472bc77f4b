#pragma once
// Bringing a window back from a place no screen shows any more (a monitor unplugged, a laptop
// taken off its dock) before the user has to hunt for it.
#include <QList>
#include <QPoint>
#include <QRect>

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

} // namespace skyjog
