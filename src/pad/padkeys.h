#pragma once
// The main window's keyboard: the arrow keys and S, seen before any control of the window gets
// them, told apart from the repetitions of a held key, and handed to the window as an arrow going
// down or up and as the spiral key.
#include "arrow.h"
#include "untakenkeys.h"

#include <QObject>
#include <QSet>
#include <QTimer>
#include <array>
#include <functional>
#include <optional>

class QKeyEvent;
class QWidget;

namespace skyjog {

class PadKeys : public QObject {
public:
    // What the window does with its keys.
    struct Handlers {
        // An arrow key went down, or repeats while held: true when the window takes the key,
        // which then reaches no control.
        std::function<bool(Arrow)> arrowDown;
        // An arrow key was let go.
        std::function<void(Arrow)> arrowUp;
        // Whether this arrow's key holds its axis: its release then stops the axis wherever the
        // release lands.
        std::function<bool(Arrow)> keyHolds;
        // Escape on the window.
        std::function<void()> escape;
        // S was pressed (not its repetitions while it is held).
        std::function<void()> spiralKey;
        // A menu, a drop-down list or a context menu opened: it takes the keyboard and the mouse,
        // without deactivating the window, so the release of anything held goes to it, or nowhere.
        std::function<void()> popupOpened;
    };

    // How the window system reports a held key.
    enum class KeyRepeat {
        // Presses only, and its one key-up is the real release (X11 with XKB's detectable
        // auto-repeat): a key-up acts at once, a press of a key already down is a repetition.
        Detectable,
        // Possibly as release and press pairs that are not always flagged as auto-repeat: an
        // arrow key's release waits ReleaseGraceMs for the press that would unmask the pair.
        ReleasePairs,
    };
    static constexpr int ReleaseGraceMs = 20;

    // The keys of window while no popup is open over it (Escape also in its own drop-down
    // lists). Asks the window system for Detectable and falls back to ReleasePairs. Sees nothing
    // until installed as the application's event filter.
    PadKeys(QWidget& window, Handlers handlers);

    // A box that takes names as well as numbers: an S typed there is a letter, not the spiral key.
    void setLetterBox(QWidget* box) { letterBox_ = box; }

    KeyRepeat keyRepeat() const { return keyRepeat_; }
    void setKeyRepeat(KeyRepeat mode);

    // An arrow key's release held back until it is clear that no auto-repeat press follows.
    bool releasePending() const { return pendingRelease_.has_value(); }
    // Lets a held-back release act now, ahead of whatever comes next.
    void commitPendingRelease();

    // The keyboard went elsewhere (focus lost, a popup, the window closing): a held-back release
    // acts, and every key's next press here counts as a new one, since its key-up may now go to
    // another program.
    void loseKeyboard();

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    bool isOwnKeyTarget(QWidget* w) const;
    bool isOwnOrItsList(QWidget* w) const;
    // A key press and release of the window's own; true: the key is consumed. A press that does
    // not act only tells repetition pairs apart.
    bool keyPress(const QKeyEvent& e, std::optional<Arrow> arrow, bool acts = true);
    bool keyRelease(const QKeyEvent& e, std::optional<Arrow> arrow);
    void escapeKey(QObject* watched, const QKeyEvent& e);

    QWidget& window_;
    Handlers handlers_;
    QWidget* letterBox_ = nullptr;
    KeyRepeat keyRepeat_;

    struct PendingRelease {
        Arrow arrow;
        quint64 timestamp;
        quint64 key;
    };
    std::optional<PendingRelease> pendingRelease_;
    QTimer releaseTimer_;
    // When S last came up, to tell its unflagged release and press pairs from new presses.
    quint64 sReleaseTime_ = 0;
    quint64 escapeTime_ = 0;
    // The arrow and S keys down at the moment, by physical key, as far as this program has seen
    // them: with detectable auto-repeat, a press of one of them is a repetition.
    QSet<quint64> keysDown_;

    // ---- keys a popup took ----
    // A popup opens: what is held now is its own until let go, and repeats nothing anywhere.
    void popupOpens();
    // It closes: what was pressed inside it and is still held repeats nothing here.
    void popupCloses();
    // Notes a key press or release; true for a press that repeats an untaken key.
    bool untakenRepetition(const QKeyEvent& e, bool realRelease, bool inPopup);
    UntakenKeys untaken_;
    // Pressed inside the open popups: their repetitions are theirs while they are open.
    UntakenKeys pressedInPopup_;
};

} // namespace skyjog
