#include "icons.h"
#include "nightlook.h"

#include <QApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmapCache>
#include <QStyle>
#include <QStyleOption>
#include <QTransform>
#include <functional>

namespace skyjog {

namespace {

// The pictures are designed on a 32 x 32 grid.
constexpr qreal Grid = 32;

void drawArrow(QPainter& p, Qt::ArrowType direction) {
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
    p.translate(16, 16);
    p.rotate(angle);
    p.translate(-16, -16);
    p.setPen(QPen(nightLook() ? NightInk : QColor(0, 0, 0), 1.5));
    p.setBrush(nightLook() ? NightFill : QColor(0, 0, 128));
    p.drawPath(arrow);
}

void drawSpiral(QPainter& p) {
    p.setPen(QPen(nightLook() ? NightInk : QColor(Qt::black), 2, Qt::SolidLine, Qt::SquareCap,
                  Qt::MiterJoin));
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
}

// Paints a drawing into whatever square it is asked for, in device pixels, instead of scaling
// one fixed pixmap: at 200 % a 21-pixel icon is drawn on 42 x 42 pixels.
class DrawnIconEngine final : public QIconEngine {
public:
    DrawnIconEngine(QString name, std::function<void(QPainter&)> draw)
        : name_(std::move(name)), draw_(std::move(draw)) {}

    QIconEngine* clone() const override { return new DrawnIconEngine(name_, draw_); }
    QString key() const override { return QStringLiteral("skyjog.drawn"); }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        const qreal dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        QPixmap pm = render(rect.size() * dpr, mode);
        pm.setDevicePixelRatio(dpr);
        painter->drawPixmap(rect.topLeft(), pm);
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override {
        return render(size, mode);
    }

    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State, qreal scale) override {
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
        return render(size * scale, mode); // the size is in device-independent pixels
#else
        Q_UNUSED(scale);
        return render(size, mode); // the size has been multiplied by the scale already
#endif
    }

private:
    QPixmap render(const QSize& devicePixels, QIcon::Mode mode) const {
        if (devicePixels.isEmpty()) return {};
        const QString cacheKey = QStringLiteral("skyjog.%1.%2x%3.%4.%5")
                                     .arg(name_)
                                     .arg(devicePixels.width())
                                     .arg(devicePixels.height())
                                     .arg(int(mode))
                                     .arg(nightLook() ? QLatin1String("night") : QLatin1String("day"));
        QPixmap pm;
        if (QPixmapCache::find(cacheKey, &pm)) return pm;

        pm = QPixmap(devicePixels);
        pm.fill(Qt::transparent);
        {
            QPainter p(&pm);
            const qreal side = std::min(devicePixels.width(), devicePixels.height());
            p.translate((devicePixels.width() - side) / 2, (devicePixels.height() - side) / 2);
            p.scale(side / Grid, side / Grid);
            draw_(p);
        }
        // Greyed out when disabled, as the style does for any icon.
        if (mode != QIcon::Normal && qobject_cast<QApplication*>(QCoreApplication::instance())) {
            QStyleOption opt;
            opt.palette = QApplication::palette();
            pm = QApplication::style()->generatedIconPixmap(mode, pm, &opt);
        }
        QPixmapCache::insert(cacheKey, pm);
        return pm;
    }

    QString name_;
    std::function<void(QPainter&)> draw_;
};

} // namespace

QIcon arrowIcon(Qt::ArrowType direction) {
    return QIcon(new DrawnIconEngine(QStringLiteral("arrow%1").arg(int(direction)),
                                     [direction](QPainter& p) { drawArrow(p, direction); }));
}

QIcon spiralIcon() {
    return QIcon(new DrawnIconEngine(QStringLiteral("spiral"), drawSpiral));
}

} // namespace skyjog
