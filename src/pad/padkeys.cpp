#include "padkeys.h"

#include "keyrepeat.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QWidget>
#include <utility>

namespace skyjog {

namespace {

std::optional<Arrow> arrowForKey(int key) {
    switch (key) {
    case Qt::Key_Up:
        return Arrow::Up;
    case Qt::Key_Down:
        return Arrow::Down;
    case Qt::Key_Left:
        return Arrow::Left;
    case Qt::Key_Right:
        return Arrow::Right;
    default:
        return std::nullopt;
    }
}

// One physical key: its scan code where the window system gives one, otherwise its key code.
quint64 physicalKey(const QKeyEvent& e) {
    return e.nativeScanCode() != 0 ? (quint64(1) << 32) | e.nativeScanCode() : quint32(e.key());
}

} // namespace

PadKeys::PadKeys(QWidget& window, Handlers handlers)
    : window_(window), handlers_(std::move(handlers)),
      // With the repetition of a held key told apart by the X server, a key-up needs no
      // waiting: the stop goes out the moment the key is let go.
      keyRepeat_(enableDetectableAutoRepeat() ? KeyRepeat::Detectable : KeyRepeat::ReleasePairs) {
    releaseTimer_.setSingleShot(true);
    releaseTimer_.setInterval(ReleaseGraceMs);
    connect(&releaseTimer_, &QTimer::timeout, this, [this] { commitPendingRelease(); });
}

void PadKeys::setKeyRepeat(KeyRepeat mode) {
    commitPendingRelease();
    keyRepeat_ = mode;
}

void PadKeys::commitPendingRelease() {
    if (!pendingRelease_) return;
    const Arrow a = pendingRelease_->arrow;
    pendingRelease_.reset();
    releaseTimer_.stop();
    handlers_.arrowUp(a);
}

void PadKeys::loseKeyboard() {
    commitPendingRelease();
    keysDown_.clear();
    // Their key-ups may go to another program now.
    untaken_.clear();
    pressedInPopup_.clear();
}

bool PadKeys::isOwnKeyTarget(QWidget* w) const {
    // While a menu, a drop-down list or a context menu is open, the arrows navigate it, and S
    // belongs to its list.
    return w->window() == &window_ && !QApplication::activePopupWidget();
}

bool PadKeys::isOwnOrItsList(QWidget* w) const {
    QWidget* top = w->window();
    if (top == &window_) return true;
    if (top->windowType() == Qt::Popup && !qobject_cast<QMenu*>(top)) {
        for (QWidget* p = top->parentWidget(); p; p = p->parentWidget())
            if (p == &window_) return true;
    }
    return false;
}

bool PadKeys::eventFilter(QObject* watched, QEvent* e) {
    const QEvent::Type type = e->type();
    if (type == QEvent::Show) {
        auto* w = qobject_cast<QWidget*>(watched);
        if (w && w->isWindow() && w->windowType() == Qt::Popup) popupOpens();
        return false;
    }
    if (type == QEvent::Hide) {
        auto* w = qobject_cast<QWidget*>(watched);
        if (w && w->isWindow() && w->windowType() == Qt::Popup) popupCloses();
        return false;
    }
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease && type != QEvent::ShortcutOverride)
        return false;
    auto* ke = static_cast<QKeyEvent*>(e);
    const std::optional<Arrow> arrow = arrowForKey(ke->key());
    if (ke->key() == Qt::Key_Escape) {
        escapeKey(watched, *ke);
        return false;
    }
    if (ke->key() != Qt::Key_S && !arrow) return false;
    const bool realRelease = type == QEvent::KeyRelease && !ke->isAutoRepeat();
    // A key-up ends the key's hold wherever it lands (an open menu, another window of the
    // program), so that the key's next press here is taken as a press.
    if (realRelease) keysDown_.remove(physicalKey(*ke));
    // The window system hands a key to the native window first, then to the focused widget:
    // only the widget is looked at, so that no key acts twice.
    auto* w = qobject_cast<QWidget*>(watched);
    if (!w) return false;
    const bool own = isOwnKeyTarget(w);
    if (type != QEvent::ShortcutOverride &&
        untakenRepetition(*ke, realRelease,
                          !own && (QApplication::activePopupWidget() ||
                                   w->window()->windowType() == Qt::Popup))) {
        // Neither the window nor the popup it lands in acts on it; on the window it still
        // unmasks a release and press pair.
        return own ? keyPress(*ke, arrow, false) : true;
    }
    if (!own) {
        // Wherever the release of an arrow that holds its axis lands, the axis stops.
        if (realRelease && arrow && handlers_.keyHolds(*arrow)) {
            commitPendingRelease();
            handlers_.arrowUp(*arrow);
        }
        return false;
    }
    // There an S is a letter being typed, not a request for the spiral.
    if (!arrow && w == letterBox_) return false;
    switch (type) {
    case QEvent::ShortcutOverride:
        // Claimed, so that no shortcut takes these keys before the key press.
        ke->accept();
        return true;
    case QEvent::KeyPress:
        return keyPress(*ke, arrow);
    default:
        return keyRelease(*ke, arrow);
    }
}

void PadKeys::escapeKey(QObject* watched, const QKeyEvent& e) {
    // Escape acts and still reaches the control that has the focus. A key event is seen again
    // by each parent it propagates to: one key-down acts once.
    auto* w = qobject_cast<QWidget*>(watched);
    if (e.type() != QEvent::KeyPress || e.isAutoRepeat() || !w || !isOwnOrItsList(w)) return;
    if (e.timestamp() != 0 && e.timestamp() == escapeTime_) return;
    escapeTime_ = e.timestamp();
    handlers_.escape();
}

bool PadKeys::keyPress(const QKeyEvent& e, std::optional<Arrow> arrow, bool acts) {
    bool autoRepeat = e.isAutoRepeat();
    const quint64 k = physicalKey(e);
    const bool wasDown = keysDown_.contains(k);
    keysDown_.insert(k);
    if (keyRepeat_ == KeyRepeat::Detectable) {
        // No key-up since this key's last press: it is being held, and this is its repetition
        // (which the platform does not flag in this mode).
        autoRepeat = autoRepeat || wasDown;
    } else if (pendingRelease_ && arrow == pendingRelease_->arrow && e.timestamp() != 0 &&
               e.timestamp() == pendingRelease_->timestamp) {
        // The held-back release and this press are one repetition of a held key.
        pendingRelease_.reset();
        releaseTimer_.stop();
        autoRepeat = true;
    } else if (!arrow) {
        autoRepeat = autoRepeat || (e.timestamp() != 0 && e.timestamp() == sReleaseTime_);
    }
    // Whatever else was released goes out before this key acts.
    commitPendingRelease();
    if (!acts) return true;
    if (arrow) return handlers_.arrowDown(*arrow);
    // One press is one toggle: a held S repeats its key-downs, and each would otherwise stop the
    // spiral it has just started, or start a new one.
    if (!autoRepeat) handlers_.spiralKey();
    return true;
}

bool PadKeys::keyRelease(const QKeyEvent& e, std::optional<Arrow> arrow) {
    if (!arrow) {
        if (!e.isAutoRepeat()) sReleaseTime_ = e.timestamp();
        return false; // an S key-up is left alone
    }
    // X11 without detectable auto-repeat turns a held key into release and press pairs; only
    // the real release counts.
    if (e.isAutoRepeat()) return true;
    if (keyRepeat_ == KeyRepeat::Detectable) {
        handlers_.arrowUp(*arrow);
        return true;
    }
    // Qt does not always recognise such a pair (it has to find the press already queued when
    // the release comes in). The release waits a moment: the press of the same key with the
    // same time stamp that follows it unmasks both as repetition.
    commitPendingRelease();
    pendingRelease_ = PendingRelease{*arrow, e.timestamp(), physicalKey(e)};
    releaseTimer_.start();
    return true;
}

// ---- keys a popup took ----

void PadKeys::popupOpens() {
    // Its opening ends the holds, and with them what this knows of the keys held: kept apart.
    UntakenKeys held = untaken_;
    for (quint64 k : std::as_const(keysDown_))
        held.hold(k);
    if (pendingRelease_) held.holdReleasedAt(pendingRelease_->key, pendingRelease_->timestamp);
    const UntakenKeys inPopup = pressedInPopup_;
    handlers_.popupOpened();
    untaken_.merge(held);
    pressedInPopup_.merge(inPopup);
}

void PadKeys::popupCloses() {
    untaken_.merge(pressedInPopup_);
    pressedInPopup_.clear();
}

bool PadKeys::untakenRepetition(const QKeyEvent& e, bool realRelease, bool inPopup) {
    const quint64 k = physicalKey(e);
    const bool pairs = keyRepeat_ == KeyRepeat::ReleasePairs;
    if (e.type() == QEvent::KeyRelease) {
        if (realRelease) {
            untaken_.released(k, e.timestamp(), pairs);
            pressedInPopup_.released(k, e.timestamp(), pairs);
        }
        return false;
    }
    if (untaken_.repeats(k, e.timestamp(), e.isAutoRepeat(), pairs)) return true;
    // Seen again as it propagates: noting it twice changes nothing.
    if (inPopup) pressedInPopup_.hold(k);
    return false;
}

} // namespace skyjog
