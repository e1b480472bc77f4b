#include "motion.h"

#include "clock.h"
#include "report.h"
#include "vberror.h"

#include <algorithm>

namespace skyjog {

QString axisName(std::size_t axis) {
    return axis == 0 ? QStringLiteral("Up/Down") : QStringLiteral("Left/Right");
}

namespace {
// The other arrow of the same axis.
Arrow partnerOf(Arrow a) {
    switch (a) {
    case Arrow::Up:
        return Arrow::Down;
    case Arrow::Down:
        return Arrow::Up;
    case Arrow::Left:
        return Arrow::Right;
    default:
        return Arrow::Left;
    }
}
} // namespace

Motion::Motion(Actions actions) : actions_(std::move(actions)) {
    quietRetry_.setSingleShot(true);
    quietRetry_.setInterval(QuietRetryMs);
    QObject::connect(&quietRetry_, &QTimer::timeout, [this] { retryQuietly(); });
}

bool Motion::press(Arrow a, Source s) {
    // A tap's next press starts afresh, and its own release decides when it ends.
    dropTapEnd(a, s);
    holders_[size_t(a)] |= bit(s);
    return startPress(a, s);
}

Motion::KeyPress Motion::keyDown(Arrow a) {
    if (keyIsDown_) return KeyPress::Ignored;
    keyIsDown_ = true;
    dropKeyHolds(axisOf(a));
    holders_[size_t(a)] |= bit(Source::Key);
    if (!startPress(a, Source::Key)) return KeyPress::Failed;
    // Shown only now, and only while the key still holds it (its release may have come inside
    // the start).
    if (holds(a, Source::Key)) holders_[size_t(a)] |= KeyShown;
    changed();
    return KeyPress::Started;
}

bool Motion::startPress(Arrow a, Source s) {
    pressedAt_[size_t(a)][size_t(s)] = clock().tickCount();
    driving_[axisOf(a)] = a;
    // The press takes the axis from a client: its slew replaces the client's move, and its
    // release stops the axis.
    remote_[axisOf(a)] = 0;
    remoteGoto_[axisOf(a)] = false;
    remoteStopDue_[axisOf(a)] = false;
    changed();
    bool ok = true;
    ++pressDepth_;
    try {
        actions_.startSlew(a);
    } catch (const VbError& e) {
        reportError(e);
        ok = false;
    }
    --pressDepth_;
    runDeferredReleases();
    return ok;
}

void Motion::runDeferredReleases() {
    if (pressDepth_ > 0) return;
    for (auto [arrow, source] : std::exchange(deferredReleases_, {}))
        release(arrow, source);
    // A tap that came due during the start ends now, after its start.
    endDueTaps();
}

bool Motion::deferred(Arrow a, Source s) const {
    return std::find(deferredReleases_.begin(), deferredReleases_.end(), std::pair{a, s}) !=
           deferredReleases_.end();
}

void Motion::release(Arrow a, Source s) {
    if (pressDepth_ > 0) {
        if (!deferred(a, s)) deferredReleases_.emplace_back(a, s);
        changed();
        return;
    }
    const auto pending = std::find_if(tapEnds_.begin(), tapEnds_.end(), [&](const TapEnd& t) {
        return t.arrow == a && t.source == s;
    });
    if (pending != tapEnds_.end()) {
        // A second release of a tap under way (a key-up seen elsewhere) changes nothing, unless
        // the tap is to end now.
        if (!lettingGo_) return;
        tapEnds_.erase(pending);
        letGo(a, s, false);
        return;
    }
    const uint32_t held = elapsedMs(pressedAt_[size_t(a)][size_t(s)], clock().tickCount());
    if (tapMs_ && !lettingGo_ && (holders_[size_t(a)] & bit(s)) && held < uint32_t(*tapMs_)) {
        const uint32_t due = pressedAt_[size_t(a)][size_t(s)] + uint32_t(*tapMs_);
        tapEnds_.push_back({a, s, due});
        // The key itself is up: the next arrow key's press is a new one.
        if (s == Source::Key) keyIsDown_ = false;
        clock().callAt(due, &timerContext_, [this] { endDueTaps(); });
        return;
    }
    letGo(a, s, true);
}

void Motion::letGo(Arrow a, Source s, bool keyUp) {
    holders_[size_t(a)] &= uint8_t(~bit(s));
    if (s == Source::Key) {
        if (keyUp) keyIsDown_ = false;
        dropKeyHolds(axisOf(a));
    }
    changed();
    if (allStopping_ || keepsMoving(a)) return;
    try {
        stopAxis(a);
        actions_.stopped(a, s);
    } catch (const VbError& e) {
        reportError(e);
    }
}

void Motion::endDueTaps() {
    // Inside a press's start a tap's end waits for it, as a release does.
    if (pressDepth_ > 0) return;
    const uint32_t now = clock().tickCount();
    for (;;) {
        const auto due = std::find_if(tapEnds_.begin(), tapEnds_.end(), [&](const TapEnd& t) {
            return int32_t(t.due - now) <= 0;
        });
        if (due == tapEnds_.end()) return;
        const TapEnd t = *due;
        tapEnds_.erase(due);
        letGo(t.arrow, t.source, false);
    }
}

void Motion::endTaps() {
    const bool wasLettingGo = std::exchange(lettingGo_, true);
    for (const TapEnd& t : std::exchange(tapEnds_, {}))
        letGo(t.arrow, t.source, false);
    lettingGo_ = wasLettingGo;
}

void Motion::dropTapEnd(Arrow a, Source s) {
    std::erase_if(tapEnds_, [&](const TapEnd& t) { return t.arrow == a && t.source == s; });
}

void Motion::dropKeyHolds(std::size_t axis) {
    for (Arrow a : {arrowOfAxis(axis), partnerOf(arrowOfAxis(axis))}) {
        holders_[size_t(a)] &= uint8_t(~(bit(Source::Key) | KeyShown));
        // A key that takes the axis over ends its key tap too, without a stop of its own.
        dropTapEnd(a, Source::Key);
    }
}

bool Motion::keepsMoving(Arrow a) const {
    const std::optional<Arrow> moving = driving_[axisOf(a)];
    return moving && (holders_[size_t(*moving)] & Sources) != 0;
}

void Motion::stopAxis(Arrow a) {
    const size_t axis = axisOf(a);
    driving_[axis].reset();
    noteStop(axis, actions_.stopSlew(a));
}

void Motion::noteStop(std::size_t axis, Confirmation how) {
    driving_[axis].reset();
    remote_[axis] = 0;
    remoteGoto_[axis] = false;
    remoteStopDue_[axis] = false;
    portLost_[axis] = how == Confirmation::PortFailed;
    if (portLost_[axis])
        quietRetry_.start();
    else if (!portLost_[0] && !portLost_[1])
        quietRetry_.stop();
    if (how == Confirmation::Confirmed) {
        if (std::exchange(unconfirmed_[axis], false)) changed();
        return;
    }
    // Told once: until a stop of the axis is confirmed, the arrows' look says it.
    if (std::exchange(unconfirmed_[axis], true)) return;
    changed();
    // A port that failed has said so in its own box, that the mount may still be moving.
    if (how == Confirmation::NotAcknowledged) reportError(err::stopNotConfirmed(axisName(axis)));
}

void Motion::releaseLost() {
    const bool wasLettingGo = std::exchange(lettingGo_, true);
    actions_.keyboardLost();
    for (size_t axis : {size_t(0), size_t(1)}) {
        for (Arrow a : {arrowOfAxis(axis), partnerOf(arrowOfAxis(axis))})
            if (holds(a, Source::Key)) release(a, Source::Key);
    }
    // A key press whose slew could not start leaves the key slew under way until an arrow
    // key-up, which may now never come here: without this, every arrow key would be ignored
    // from now on.
    keyIsDown_ = false;
    for (Arrow a : AllArrows)
        if (holds(a, Source::Button)) release(a, Source::Button);
    lettingGo_ = wasLettingGo;
    changed();
}

void Motion::allStop() {
    allStopping_ = true;
    lettingGo_ = true;
    releaseLost();
    actions_.controllerLetGo();
    // The controller's taps: their buttons are up already.
    endTaps();
    lettingGo_ = false;
    allStopping_ = false;
    // A client's GoTo is ended by its cancel; an axis's stop alone may not end it.
    if ((remoteGoto(0) || remoteGoto(1)) && actions_.cancelGoto) {
        try {
            actions_.cancelGoto();
        } catch (const VbError& e) {
            reportError(e);
        }
    }
    for (size_t axis : {size_t(0), size_t(1)}) {
        try {
            stopAxis(arrowOfAxis(axis));
        } catch (const VbError& e) {
            reportError(e);
        }
    }
}

void Motion::resendUnconfirmed() {
    for (size_t axis : {size_t(0), size_t(1)})
        if (unconfirmed_[axis]) stopUnlessHeld(axis);
}

void Motion::retryQuietly() {
    if (actions_.mayRetryNow && !actions_.mayRetryNow()) {
        quietRetry_.start();
        return;
    }
    // The user was told when the port failed; a box every two seconds would bury the pad.
    const ReportsToStandardError quiet;
    for (size_t axis : {size_t(0), size_t(1)})
        if (portLost_[axis] && unconfirmed_[axis]) stopUnlessHeld(axis);
}

void Motion::stopOnTheWayOut(bool bothAxes,
                             const std::function<QByteArray(std::size_t axis)>& stop,
                             const std::function<QByteArray()>& restore) {
    bool stopped = false;
    for (size_t axis : {size_t(0), size_t(1)}) {
        if (!bothAxes && !mayBeMoving(axis)) continue;
        noteStop(axis, SendConfirmed(stop(axis)));
        stopped = true;
    }
    try {
        if (stopped) SendConfirmed(restore());
    } catch (const VbError& e) {
        reportError(e);
    }
}

void Motion::stopUnlessHeld(std::size_t axis) {
    const std::optional<Arrow> moving = driving_[axis];
    if (moving && (holders_[size_t(*moving)] & Sources) != 0) return;
    try {
        stopAxis(arrowOfAxis(axis));
    } catch (const VbError& e) {
        reportError(e);
    }
}

bool Motion::padHolds(std::size_t axis) const {
    for (Arrow a : {arrowOfAxis(axis), partnerOf(arrowOfAxis(axis))}) {
        if ((holders_[size_t(a)] & Sources) != 0) return true;
        // A tap under way holds its axis until its length is up.
        if (std::any_of(tapEnds_.begin(), tapEnds_.end(),
                        [a](const TapEnd& t) { return t.arrow == a; }))
            return true;
    }
    // A press whose start is still going out.
    return pressDepth_ > 0 && driving_[axis].has_value();
}

void Motion::remoteMoved(std::size_t axis, int client, bool gotoMove) {
    remote_[axis] = client;
    remoteGoto_[axis] = gotoMove;
    remoteStopDue_[axis] = false;
}

void Motion::remoteStopped(std::size_t axis) {
    remote_[axis] = 0;
    remoteGoto_[axis] = false;
    remoteStopDue_[axis] = false;
}

void Motion::remoteGone(int client) {
    if (client == 0) return;
    for (size_t axis : {size_t(0), size_t(1)})
        if (remote_[axis] == client) remoteStopDue_[axis] = true;
    stopGoneRemotes();
}

void Motion::stopGoneRemotes() {
    if (!remoteStopDue_[0] && !remoteStopDue_[1]) return;
    // Never in the middle of another exchange: its bytes and the stop's would mix on the line.
    if (actions_.mayRetryNow && !actions_.mayRetryNow()) {
        if (!remoteStopWaiting_) {
            remoteStopWaiting_ = true;
            clock().callAt(clock().tickCount() + RemoteRetryMs, &timerContext_, [this] {
                remoteStopWaiting_ = false;
                stopGoneRemotes();
            });
        }
        return;
    }
    const bool cancel = (remoteStopDue_[0] && remoteGoto_[0]) || (remoteStopDue_[1] && remoteGoto_[1]);
    // A cancel that fails leaves the stops to go all the same.
    if (cancel && actions_.cancelGoto) {
        try {
            actions_.cancelGoto();
        } catch (const VbError& e) {
            reportError(e);
        }
    }
    for (size_t axis : {size_t(0), size_t(1)}) {
        if (!std::exchange(remoteStopDue_[axis], false)) continue;
        try {
            stopAxis(arrowOfAxis(axis));
        } catch (const VbError& e) {
            reportError(e);
        }
        if (actions_.stopped) actions_.stopped(arrowOfAxis(axis), Source::Remote);
    }
}

bool Motion::holds(Arrow a, Source s) const {
    return (holders_[size_t(a)] & bit(s)) != 0 && !deferred(a, s);
}

bool Motion::shows(Arrow a) const {
    const uint8_t h = holders_[size_t(a)];
    for (Source s : {Source::Button, Source::Controller})
        if (holds(a, s)) return true;
    return (h & KeyShown) != 0 && holds(a, Source::Key);
}

bool Motion::heldByKeyOrMouse() const {
    if (keyIsDown_) return true;
    return std::any_of(std::begin(AllArrows), std::end(AllArrows), [this](Arrow a) {
        return holds(a, Source::Key) || holds(a, Source::Button);
    });
}

bool Motion::idle() const {
    return pressDepth_ == 0 && !keyIsDown_ && deferredReleases_.empty() && tapEnds_.empty() &&
           std::all_of(holders_.begin(), holders_.end(),
                       [](uint8_t h) { return (h & Sources) == 0; });
}

void Motion::changed() const {
    if (actions_.changed) actions_.changed();
}

} // namespace skyjog
