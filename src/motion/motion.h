#pragma once
// Who moves each axis of the mount. Every source of presses (the arrow buttons, the arrow keys,
// the game controller) reports its presses and releases here and keeps no copy of its own; the
// buttons show, and the position readings ask, what this says. It decides when a release stops
// an axis, ends the holds whose releases can no longer arrive, stops everything at once, and
// keeps each axis whose stop the mount never confirmed until a stop is confirmed.
#include "arrow.h"
#include "functions.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace skyjog {

// Remote: a program that shares the mount through the pad; it holds no arrow, only the axes
// its own commands moved.
enum class Source : uint8_t { Button, Key, Controller, Remote };

class Motion {
public:
    // What the core asks of the pad: the bytes of a slew are the pad's.
    struct Actions {
        // Sends the start of an arrow's slew; a failure other than the line's throws VbError.
        std::function<void(Arrow)> startSlew;
        // Sends the stop of the arrow's axis and the tracking restore after it, and says how the
        // worse of the two went. A failure other than the line's throws VbError.
        std::function<Confirmation(Arrow)> stopSlew;
        // A release's stop went out.
        std::function<void(Arrow, Source)> stopped;
        // What an arrow shows (held, its stop unconfirmed) may have changed.
        std::function<void()> changed;
        // The keyboard went elsewhere: a release held back acts now, and every key's next press
        // counts as a new one.
        std::function<void()> keyboardLost;
        // All-stop: the controller lets go of what it holds (each with its release), and what
        // it still holds counts again only once let go there.
        std::function<void()> controllerLetGo;
        // Whether a stop may go out by itself now: not in the middle of a spiral, a command or a
        // box's event loop.
        std::function<bool()> mayRetryNow;
        // Cancels a GoTo a client started, before its axes' stops (a client that went while the
        // mount slewed to its target). Unset: the stops alone.
        std::function<Confirmation()> cancelGoto;
    };

    // How often a stop that could not be sent for a failed port is tried again, quietly.
    static constexpr int QuietRetryMs = 2000;
    // How soon the stop of a client that went is tried again while the line is busy.
    static constexpr int RemoteRetryMs = 5;

    explicit Motion(Actions actions);

    // A press starts the arrow's slew at once. Releases that arrive while a press's start is
    // under way (inside a box's event loop) wait for it, so that no stop goes out before its
    // start. False: the start failed, and its failure has been reported.
    bool press(Arrow a, Source s);
    // An arrow key's press. One keyboard slew at a time: while a key slew is under way another
    // arrow key's press is ignored (the window still takes the key). A key that starts an axis
    // another arrow's key held takes that hold over.
    enum class KeyPress { Ignored, Started, Failed };
    KeyPress keyDown(Arrow a);
    // A release stops the axis unless the arrow that moves it is still held, by any source. An
    // arrow key's release ends every key hold on its axis, whichever key started it.
    void release(Arrow a, Source s);
    // The keyboard and the mouse are gone (the focus left, a popup took them, the window
    // closes): every key and button hold ends as its release would. The controller's holds
    // outlast the focus.
    void releaseLost();
    // Every hold of every source ends, and each axis gets one stop.
    void allStop();
    // Repeatable taps: a press that ends sooner than ms after it began is held until then, so
    // that every short tap moves the mount as far; a longer press stops at its release as ever.
    // The keyboard's and the mouse's loss and all-stop end a tap at once. None: every release
    // acts when it comes. A tap under way when this changes ends as it began.
    void setTapLength(std::optional<int> ms) { tapMs_ = ms; }
    std::optional<int> tapLength() const { return tapMs_; }
    // Every tap under way ends now, the controller's too (the window closes).
    void endTaps();
    // Sends the stop of every axis whose stop is unconfirmed once more.
    void resendUnconfirmed();
    // The process is ending without the window's own release of the holds (the display gone,
    // the session ending): every axis that may still move, or both while a spiral runs, gets
    // its stop, confirmed, and tracking is restored once after them. A second call sends
    // nothing more.
    void stopOnTheWayOut(bool bothAxes, const std::function<QByteArray(std::size_t axis)>& stop,
                         const std::function<QByteArray()>& restore);
    // Tries each axis whose stop was lost to a failed port once more, with no box: the line may
    // be back. Due QuietRetryMs after each such failure, until a stop is confirmed.
    void retryQuietly();
    bool quietRetryDue() const { return quietRetry_.isActive(); }
    // A stop of the axis sent elsewhere (the spiral's, the last ones on the way out) went as it
    // says.
    void noteStop(std::size_t axis, Confirmation how);

    // Another program sharing the mount (a client, by its number) moves and stops axes by its
    // own commands; the pad only hears of them. The hand at the pad wins: a client may not move
    // an axis the pad holds, and a press takes the axis from the client.
    bool padHolds(std::size_t axis) const;
    // A client's move of the axis went out; a stop from anyone ends it.
    void remoteMoved(std::size_t axis, int client, bool gotoMove = false);
    void remoteStopped(std::size_t axis);
    // The client that moves the axis now; 0 for none.
    int remoteMoving(std::size_t axis) const { return remote_[axis]; }
    // That move is a GoTo, which a cancel ends.
    bool remoteGoto(std::size_t axis) const { return remote_[axis] != 0 && remoteGoto_[axis]; }
    // A client went: the axes it still moves get their stop, confirmed, as a release's. Where a
    // stop may not go out now (a command, the spiral or a box's event loop is under way) it goes
    // as soon as one may.
    void remoteGone(int client);

    bool holds(Arrow a, Source s) const;
    // Held by any source: what its button shows. A key whose slew failed to start shows nothing.
    bool shows(Arrow a) const;
    // An arrow key's slew is under way, from its press until the next arrow key's release (or
    // the keyboard's loss).
    bool keyIsDown() const { return keyIsDown_; }
    // A key or a button holds something: what the keyboard's and the mouse's loss would end.
    bool heldByKeyOrMouse() const;
    // Nothing is held by any source and no press is under way.
    bool idle() const;
    // The mount never confirmed the axis's last stop: it may still be moving.
    bool unconfirmed(std::size_t axis) const { return unconfirmed_[axis]; }
    // Started and not stopped since, or stopped without confirmation.
    bool mayBeMoving(std::size_t axis) const {
        return driving_[axis] || unconfirmed_[axis] || remote_[axis] != 0;
    }

private:
    static uint8_t bit(Source s) { return uint8_t(1u << int(s)); }
    // Beside the sources' bits: the key's slew started, so that its button shows it.
    static constexpr uint8_t KeyShown = 0x80;
    static constexpr uint8_t Sources = 0x7f;

    bool startPress(Arrow a, Source s);
    // What a release does once it acts: the hold ends, and the axis stops unless still held.
    // keyUp: an arrow key came up now (not a tap's end, when another key may be down).
    void letGo(Arrow a, Source s, bool keyUp);
    void endDueTaps();
    void dropTapEnd(Arrow a, Source s);
    void runDeferredReleases();
    bool deferred(Arrow a, Source s) const;
    void dropKeyHolds(std::size_t axis);
    bool keepsMoving(Arrow a) const;
    // The stop of the arrow's axis, its confirmation noted.
    void stopAxis(Arrow a);
    void changed() const;
    // The stop of the axis, unless the user holds it (a stop would end a slew they still want).
    void stopUnlessHeld(std::size_t axis);

    Actions actions_;
    std::array<uint8_t, 4> holders_{};
    // The arrow that last started each axis.
    std::array<std::optional<Arrow>, 2> driving_{};
    std::array<bool, 2> unconfirmed_{};
    // The client whose move of each axis went out last, until a stop.
    std::array<int, 2> remote_{};
    std::array<bool, 2> remoteGoto_{};
    // The axes whose client went, waiting for a moment their stop may go out.
    std::array<bool, 2> remoteStopDue_{};
    bool remoteStopWaiting_ = false;
    void stopGoneRemotes();
    // The axes whose last stop failed on the port, to be tried again by themselves.
    std::array<bool, 2> portLost_{};
    QTimer quietRetry_;
    bool keyIsDown_ = false;
    // Releases during an all-stop only let go: the all-stop sends the stops itself.
    bool allStopping_ = false;
    int pressDepth_ = 0;
    std::vector<std::pair<Arrow, Source>> deferredReleases_;

    std::optional<int> tapMs_;
    // When each source last pressed each arrow.
    std::array<std::array<uint32_t, 4>, 4> pressedAt_{};
    struct TapEnd {
        Arrow arrow;
        Source source;
        uint32_t due;
    };
    // Releases that came before their tap's length was up, held until it is.
    std::vector<TapEnd> tapEnds_;
    // Releases in the keyboard's loss and in all-stop act at once, a tap's too.
    bool lettingGo_ = false;
    // The tap ends' timers call into this object only while it lives.
    QObject timerContext_;
};

// How the pad names an axis: by the arrows that move it.
QString axisName(std::size_t axis);

} // namespace skyjog
