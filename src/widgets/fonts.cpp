#include "fonts.h"

#include <QFontMetricsF>
#include <QStringList>
#include <algorithm>

namespace skyjog {

QFont classicFont(double points) {
    QFont f;
    f.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                   QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                   QStringLiteral("DejaVu Sans")});
    f.setPointSizeF(points);
    f.setWeight(QFont::Normal);
    return f;
}

QFont narrowedToFit(QFont font, const QString& sample, qreal room) {
    const qreal width = QFontMetricsF(font).horizontalAdvance(sample);
    if (width > room) font.setStretch(std::max(60, int(100.0 * room / width)));
    return font;
}

QFont condensedFont(int pixels) {
    QFont f;
    f.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans Narrow"),
                   QStringLiteral("Arial Narrow"), QStringLiteral("Arial"),
                   QStringLiteral("Helvetica")});
    f.setStyleHint(QFont::SansSerif);
    f.setStretch(QFont::Condensed);
    f.setPixelSize(pixels);
    return f;
}

} // namespace skyjog
