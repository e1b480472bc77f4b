// The position-reply reader on arbitrary replies (a mount may answer anything, or be cut off),
// followed through to the spiral's rates the way the spiral uses them. Every reading is checked
// against a plain digit-by-digit reading of the same characters.
#include "commands.h"
#include "spiralmath.h"
#include "vberror.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace skyjog;

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "position_reply: %s\n", what);
    std::abort();
}

int digitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Up to two leading hexadecimal digits from index on; none reads as 0.
int expectedPair(const QByteArray& r, int index) {
    int v = 0;
    for (int i = index; i < index + 2 && i < r.size(); ++i) {
        const int d = digitValue(r[i]);
        if (d < 0) break;
        v = v * 16 + d;
    }
    return v;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The first two bytes choose a width for the rate step; the rest is the reply.
    if (size < 2 || size > 4096) return 0;
    const int16_t widthTenths = int16_t(uint16_t(data[0] | (data[1] << 8)));
    const QByteArray reply(reinterpret_cast<const char*>(data + 2), qsizetype(size - 2));

    for (int i = 0; i <= reply.size() + 2; ++i) {
        const int v = cmd::hexPair(reply, i);
        if (v < 0 || v > 255) fail("hexPair outside 0-255");
        if (v != expectedPair(reply, i)) fail("hexPair disagrees with the digits");
    }

    const double alt = cmd::altitudeFromReply(reply);
    if (!std::isfinite(alt) || alt < 0.0 || alt >= 360.0) fail("altitude outside [0, 360)");
    const int raw = expectedPair(reply, 5) * 256 + expectedPair(reply, 7);
    if (alt != double(raw) * 360.0 / 65536.0) fail("altitude disagrees with the digits");

    const double folded = spiral::foldAltitude(alt);
    if (!(folded >= 0.0 && folded < 265.0)) fail("folded altitude out of range");
    if (alt > spiral::FoldAbove ? folded != 360.0 - alt : folded != alt) fail("fold is wrong");

    // The rates the spiral derives from it: either a value a slew can carry or a reported
    // failure, never a wrapped or undefined number.
    try {
        const int16_t base = spiral::baseRate(widthTenths / 10.0);
        const int32_t az = spiral::azimuthRate(base, folded);
        if (az < 0 || az > spiral::MaxAzimuthRate) fail("azimuth rate out of range");
        const cmd::RateBytes b = spiral::rateBytes(az);
        if (int32_t(b.high) * 256 + int32_t(b.low) != az) fail("rate bytes do not carry the rate");
    } catch (const VbError& e) {
        if (e.number != err::InvalidArgument && e.number != err::Overflow)
            fail("unexpected error number");
    }
    return 0;
}
