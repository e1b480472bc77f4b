#pragma once
// The pictures of the arrow buttons and the spiral button, drawn rather than loaded.
#include <QPixmap>

namespace skyjog {

// A 32 x 32 block arrow pointing the given way (Qt::UpArrow ... Qt::RightArrow).
QPixmap arrowPixmap(Qt::ArrowType direction);
// A 32 x 32 black square spiral on a transparent background.
QPixmap spiralPixmap();

} // namespace skyjog
