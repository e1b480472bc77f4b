#include "icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QTransform>

namespace skyjog {

QPixmap arrowPixmap(Qt::ArrowType direction) {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    // Drawn pointing up, then turned about the centre.
    QPainterPath arrow;
    arrow.moveTo(16, 2);
    arrow.lineTo(30, 17);
    arrow.lineTo(21, 17);
    arrow.lineTo(21, 30);
    arrow.lineTo(11, 30);
    arrow.lineTo(11, 17);
    arrow.lineTo(2, 17);
    arrow.closeSubpath();
    qreal angle = 0;
    switch (direction) {
    case Qt::DownArrow:
        angle = 180;
        break;
    case Qt::LeftArrow:
        angle = -90;
        break;
    case Qt::RightArrow:
        angle = 90;
        break;
    default:
        break;
    }
    QTransform t;
    t.translate(16, 16);
    t.rotate(angle);
    t.translate(-16, -16);
    p.setTransform(t);
    p.setPen(QPen(QColor(0, 0, 0), 1.5));
    p.setBrush(QColor(0, 0, 128));
    p.drawPath(arrow);
    return pm;
}

QPixmap spiralPixmap() {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setPen(QPen(Qt::black, 2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    // Legs as the search runs them: right, up, left, down, each pair one step longer; then the
    // whole figure is fitted to the picture with a small margin.
    QPointF at(0, 0);
    QPolygonF path{at};
    const QPointF dirs[4] = {{1, 0}, {0, -1}, {-1, 0}, {0, 1}};
    for (int leg = 0; leg < 10; ++leg) {
        at += dirs[leg % 4] * (leg / 2 + 1);
        path << at;
    }
    const QRectF box = path.boundingRect();
    const qreal scale = 27.0 / std::max(box.width(), box.height());
    QTransform t;
    t.translate(16, 16);
    t.scale(scale, scale);
    t.translate(-box.center().x(), -box.center().y());
    p.setRenderHint(QPainter::Antialiasing);
    p.drawPolyline(t.map(path));
    return pm;
}

} // namespace skyjog
