#include "twips.h"

#include <QWidget>
#include <cmath>

namespace skyjog {

int twipsToPixels(int twips) {
    return int(std::lround(double(twips) / TwipsPerPixel));
}

void placeInTwips(QWidget* w, int left, int top, int width, int height) {
    w->setGeometry(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width),
                   twipsToPixels(height));
}

} // namespace skyjog
