#pragma once
// The spiral's arithmetic, free of the line and the window: rates from the width and the
// altitude the mount reports, and the plan of legs.
#include "commands.h"

#include <QString>
#include <cstdint>

namespace skyjog::spiral {

// One unit of width moves an altitude leg at 500 quarter arc-seconds per second.
inline constexpr int RatePerWidth = 500;
// The fastest rate the hand pad offers ("3 deg/sec"); faster azimuth legs are held to it.
inline constexpr int32_t MaxAzimuthRate = 43200;
// Readings above this many degrees are taken as below the horizon and folded back.
inline constexpr double FoldAbove = 95.0;
// Each pair of legs runs this much longer than the pair before.
inline constexpr int32_t LegStepMs = 500;

// A number typed into the Width or Delay box, read from the start of the text with a period as
// the decimal separator, or the user's regional one when the text has no period; no leading
// number reads as 0.
double boxNumber(const QString& text);

// The altitude legs' rate: width x 500, rounded half to even. Throws VbError 6 outside 16 bits.
int16_t baseRate(double width);

// A rate as the two bytes a slew carries. Throws VbError 5 for a rate the command cannot carry
// (negative, or beyond 16 bits).
cmd::RateBytes rateBytes(int32_t rate);

// The altitude read from the mount (cmd::altitudeFromReply): above 95 degrees (strictly) the
// reading becomes 360 minus itself.
double foldAltitude(double degrees);

// How much faster the azimuth legs run than the altitude legs at this altitude.
double azimuthFactor(double altitudeDegrees);
// factor x base, rounded half to even in a wide type and held to 43200. Throws VbError 5 when
// the result is negative (an altitude between 90.1 and 95 degrees), which no slew can carry.
int32_t azimuthRate(int16_t base, double altitudeDegrees);

// What one leg does: stop the axis it does not move, then move the other.
struct Leg {
    uint8_t stopMotor = 0;
    uint8_t moveMotor = 0;
    uint8_t messageId = 0;
    bool usesAzimuthRate = false;
};
// The leg that starts when legCount legs have already been started.
Leg legFor(int legCount);
// How long leg k (counted from 0) runs: 500 ms for legs 0 and 1, 1000 ms for 2 and 3, ...
int32_t legDurationMs(int leg);

// The corner pause in milliseconds from the Delay box's number of seconds, rounded half to even.
// Throws VbError 6 beyond 32 bits.
int32_t cornerDelayMs(double seconds);

} // namespace skyjog::spiral
