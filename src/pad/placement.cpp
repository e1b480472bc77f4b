#include "placement.h"

#include "twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <cstdint>

namespace skyjog {

namespace {
// Squared distance between two rectangles: 0 when they touch or overlap.
int64_t gapSquared(const QRect& a, const QRect& b) {
    const int64_t dx = std::max<int64_t>({0, int64_t(b.left()) - a.right() - 1,
                                          int64_t(a.left()) - b.right() - 1});
    const int64_t dy = std::max<int64_t>({0, int64_t(b.top()) - a.bottom() - 1,
                                          int64_t(a.top()) - b.bottom() - 1});
    return dx * dx + dy * dy;
}

// The coordinate that puts a span of the given length inside [low, high], or at low when it is
// longer than that.
int within(int at, int length, int low, int high) {
    return std::max(low, std::min(at, high + 1 - length));
}
} // namespace

QPoint placeOnScreens(const QRect& frame, const QList<QRect>& areas) {
    const QRect* nearest = nullptr;
    for (const QRect& area : areas) {
        if (area.isEmpty()) continue;
        if (area.intersects(frame)) return frame.topLeft();
        if (!nearest || gapSquared(frame, area) < gapSquared(frame, *nearest)) nearest = &area;
    }
    if (!nearest) return frame.topLeft();
    return {within(frame.left(), frame.width(), nearest->left(), nearest->right()),
            within(frame.top(), frame.height(), nearest->top(), nearest->bottom())};
}

QList<QRect> availableScreenAreas() {
    QList<QRect> areas;
    for (const QScreen* screen : QGuiApplication::screens())
        areas << screen->availableGeometry();
    return areas;
}

void bringOntoAScreen(QWidget& window) {
    const QList<QRect> areas = availableScreenAreas();
    const QRect frame = window.frameGeometry();
    if (placeOnScreens(frame, areas) == frame.topLeft()) return;
    // Where it fits whole depends on the frame the window system puts around it, which is known
    // only for a window that exists: one that will be shown anyway is made now.
    (void)window.winId();
    window.move(placeOnScreens(window.frameGeometry(), areas));
}

void TwipsPlace::load(QWidget& window, int32_t left, int32_t top) {
    window.move(twipsToPixels(left), twipsToPixels(top));
    bringOntoAScreen(window);
    loadedPos_ = window.pos();
    left_ = left;
    top_ = top;
}

void TwipsPlace::unload(const QWidget& window, int32_t& left, int32_t& top) const {
    if (window.pos() == loadedPos_) {
        left = left_;
        top = top_;
    } else {
        left = window.pos().x() * TwipsPerPixel;
        top = window.pos().y() * TwipsPerPixel;
    }
}

} // namespace skyjog
