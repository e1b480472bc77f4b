#pragma once
// Windows the program keeps at most one of (the Setup Scope dialog, Help, About), each opened
// modeless and without an owner.
#include "ontop.h"

#include <QPointer>
#include <utility>

namespace skyjog {

// One window of kind W. Opening builds it and runs its Form_Load before it is first shown; when it
// is open already, it is only brought forward, not loaded again. A window that has been closed may
// still wait for its deletion: it counts as gone, and the next opening builds and loads a new one.
template <typename W> class OneWindow {
public:
    // The open window, also while it loads and is not shown yet; otherwise nullptr.
    W* current() const {
        W* w = open_.data();
        return w && (w->isVisible() || loading_) ? w : nullptr;
    }

    // What a new window is built with (nothing, or what it needs of its host).
    template <typename... Args> void show(Args&&... args) {
        if (open_ && !open_->isVisible() && !loading_) {
            open_->deleteLater();
            open_ = nullptr;
        }
        if (open_) {
            bringForward(open_);
            return;
        }
        open_ = new W(std::forward<Args>(args)...);
        // A load that reports a failure runs the box's event loop, where the menu can ask for
        // the window again: that asks for this one.
        loading_ = true;
        open_->Form_Load();
        loading_ = false;
        if (open_) bringForward(open_);
    }

private:
    QPointer<W> open_;
    bool loading_ = false;
};

} // namespace skyjog
