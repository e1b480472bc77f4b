#pragma once
// The pictures of the arrow buttons and the spiral button. They are drawings, painted afresh at
// the size and pixel density they are shown at, so they stay sharp at 150 % and 200 % scaling.
#include <QIcon>

namespace skyjog {

// A navy block arrow with a black edge, pointing the given way (Qt::UpArrow ... Qt::RightArrow).
QIcon arrowIcon(Qt::ArrowType direction);
// A black square spiral on a transparent background. At night both are drawn in red.
QIcon spiralIcon();

} // namespace skyjog
