#include "spiralmath.h"
#include "convert.h"
#include "vberror.h"

#include <QLocale>
#include <cmath>

namespace skyjog::spiral {

double boxNumber(const QString& text) {
    // The window writes the Delay box in the user's regional format ("0,5" where the decimal
    // separator is a comma). Read with a period alone, such a box would give 0 and the corner
    // pauses would silently vanish; so the regional separator is taken as the decimal point too.
    const QString sep = QLocale().decimalPoint();
    if (sep != QStringLiteral(".") && !text.contains(u'.')) {
        QString t = text;
        const qsizetype at = t.indexOf(sep);
        if (at >= 0) t.replace(at, sep.size(), u'.');
        return conv::leadingNumber(t);
    }
    return conv::leadingNumber(text);
}

int16_t baseRate(double width) {
    return conv::toInt16(width * RatePerWidth);
}

cmd::RateBytes rateBytes(int32_t rate) {
    if (rate < 0 || rate > 0xFFFF) throw err::invalidArgument();
    return cmd::splitRate(uint16_t(rate));
}

double foldAltitude(double degrees) {
    return degrees > FoldAbove ? 360.0 - degrees : degrees;
}

double azimuthFactor(double altitudeDegrees) {
    // The hand pad has always used these two constants; keeping them keeps the legs' rates.
    return 1.0 + std::tan((altitudeDegrees - 0.1) * 3.14159 / 180.0);
}

int32_t azimuthRate(int16_t base, double altitudeDegrees) {
    // Near the zenith the factor grows without bound, so round in double and cap before
    // narrowing: no integer type holds every product.
    const double rate = std::nearbyint(azimuthFactor(altitudeDegrees) * double(base));
    if (std::isnan(rate) || rate < 0) throw err::invalidArgument();
    return rate > MaxAzimuthRate ? MaxAzimuthRate : int32_t(rate);
}

Leg legFor(int legCount) {
    using namespace cmd;
    switch (legCount & 3) {
    case 0:
        return {AltMotor, AzMotor, MsgSlewPositive, true};
    case 1:
        return {AzMotor, AltMotor, MsgSlewNegative, false};
    case 2:
        return {AltMotor, AzMotor, MsgSlewNegative, true};
    default:
        return {AzMotor, AltMotor, MsgSlewPositive, false};
    }
}

int32_t legDurationMs(int leg) {
    return LegStepMs * (leg / 2 + 1);
}

int32_t cornerDelayMs(double seconds) {
    return conv::toInt32(seconds * 1000.0);
}

} // namespace skyjog::spiral
