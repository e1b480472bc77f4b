#include "spiral.h"
#include "clock.h"
#include "commands.h"
#include "functions.h"
#include "report.h"
#include "spiralmath.h"
#include "vberror.h"

#include <QScopeGuard>

namespace skyjog {

namespace {

void send(const QByteArray& command) {
    SendCommand(command, cmd::AckLength, cmd::TimeoutMs);
}

// Waits until the tick count reaches `until` or a stop is asked for. The window's clicks and keys
// are handled as they come, and a stop among them ends the wait at once; in between the thread
// sleeps, so a running spiral costs next to nothing.
void serveEventsUntil(SpiralHost& host, uint32_t until) {
    Clock& clk = clock();
    const auto due = [&] { return int32_t(until - clk.tickCount()) <= 0; };
    while (!StopSpiral && !due()) {
        host.processEvents();
        if (StopSpiral || due()) return;
        clk.waitForEvents(until);
    }
}

void restoreTracking(SpiralHost& host) {
    send(cmd::SetTrackingMode(host.trackingMode()));
}

void stopBothAxes() {
    send(cmd::FixedRateSlew(cmd::AltMotor));
    send(cmd::FixedRateSlew(cmd::AzMotor));
}

// Whatever way RunSpiral is left, the window must not be left believing a spiral still runs:
// it would refuse to close, and the next press would only "stop" the dead spiral.
class EndGuard {
public:
    explicit EndGuard(SpiralHost& host) : host_(host) {}
    ~EndGuard() {
        StopSpiral = true;
        try {
            host_.setSpiralLabelVisible(false);
        } catch (...) {
        }
    }

private:
    SpiralHost& host_;
};

// Preparation and legs; returns when StopSpiral is found set, throws when a rate cannot be
// worked out or sent.
void runLegs(SpiralHost& host) {
    using namespace spiral;
    Clock& clk = clock();

    host.setSpiralLabelVisible(true);

    const int16_t base = baseRate(boxNumber(host.widthText()));
    const cmd::RateBytes altitudeBytes = rateBytes(base);

    const QByteArray position =
        SendCommand(cmd::GetAzAlt(), cmd::PositionReplyLength, cmd::TimeoutMs);
    const double altitude = foldAltitude(cmd::altitudeFromReply(position));
    const int32_t azimuth = azimuthRate(base, altitude);
    const cmd::RateBytes azimuthBytes = rateBytes(azimuth);

    int32_t legDuration = 0;
    int legCount = 0;
    // A failed position read has set StopSpiral; it does not end the spiral, which then runs
    // as if the mount stood at altitude 0.
    StopSpiral = false;

    const int32_t cornerDelay = cornerDelayMs(boxNumber(host.delayText()));
    uint32_t legStart = clk.tickCount();

    for (;;) {
        if (StopSpiral) return;

        if (int64_t(elapsedMs(legStart, clk.tickCount())) <= int64_t(legDuration)) {
            // The leg ends at the first moment more than its length has passed.
            serveEventsUntil(host, legStart + uint32_t(legDuration) + 1);
            continue;
        }

        if (legCount > 0 && cornerDelay > 0) {
            stopBothAxes();
            restoreTracking(host);
            serveEventsUntil(host, clk.tickCount() + uint32_t(cornerDelay));
            // A stop asked for during the pause ends the spiral here: starting the next leg only
            // to stop it again would move the mount after the user asked it to stand still.
            if (StopSpiral) return;
        }

        send(cmd::SetTrackingMode(cmd::TrackingOff));
        legStart = clk.tickCount();
        legDuration = legDurationMs(legCount);

        const Leg leg = legFor(legCount);
        const cmd::RateBytes rate = leg.usesAzimuthRate ? azimuthBytes : altitudeBytes;
        send(cmd::FixedRateSlew(leg.stopMotor));
        send(cmd::VariableRateSlew(leg.moveMotor, leg.messageId, rate.high, rate.low));
        ++legCount;
    }
}

} // namespace

void ToggleSpiral(SpiralHost& host) {
    if (StopSpiral) {
        StopSpiral = false;
        RunSpiral(host);
    } else {
        StopSpiral = true;
    }
}

namespace {
int runs = 0;
} // namespace

bool SpiralRunning() {
    return runs > 0;
}

void RunSpiral(SpiralHost& host) {
    ++runs;
    const auto done = qScopeGuard([] { --runs; });
    const BoxesDoNotWait boxesStayUpBehindTheLegs;
    EndGuard guard(host);
    int reportedNumber = -1;
    try {
        runLegs(host);
    } catch (const VbError& e) {
        // A spiral that cannot go on ends as a stopped one does, so the mount is left still and
        // tracking, and the window is free to close.
        StopSpiral = true;
        reportError(e);
        reportedNumber = e.number;
    }

    // The last stops leave the mount to itself: each is confirmed, and sent again when the line
    // lost it.
    const Confirmation altitude = SendConfirmed(cmd::FixedRateSlew(cmd::AltMotor));
    const Confirmation azimuth = SendConfirmed(cmd::FixedRateSlew(cmd::AzMotor));
    Confirmation restore = Confirmation::Confirmed;
    try {
        restore = SendConfirmed(cmd::SetTrackingMode(host.trackingMode()));
    } catch (const VbError& e) {
        // The same missing selection that ended the run would only repeat its message.
        if (e.number != reportedNumber) reportError(e);
    }
    host.spiralStopped(worse(altitude, restore), worse(azimuth, restore));
}

} // namespace skyjog
