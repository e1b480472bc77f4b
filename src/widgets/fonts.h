#pragma once
// The faces the program's windows are drawn in, in one place.
#include <QFont>

namespace skyjog {

// The classic dialog face at a size in points, of regular weight: its Windows name first, then
// metric look-alikes found on Linux.
QFont classicFont(double points);

// The font narrowed, where a sample is wider in it than the room the layout gives it, until the
// sample fits (to 60 % at the narrowest): where only a wider face is at hand, no caption is cut
// off.
QFont narrowedToFit(QFont font, const QString& sample, qreal room);

// A condensed sans-serif at a size in pixels, for the main window's small fixed layout: DejaVu
// Sans Condensed on most Linux systems; elsewhere the stretch narrows what there is.
QFont condensedFont(int pixels);

} // namespace skyjog
