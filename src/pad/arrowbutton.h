#pragma once
// A picture button that reports press and release of any mouse button, for the arrows that slew
// the mount for as long as they are held. Whether the mouse holds it, and what it shows, come
// from whoever keeps the holds: the button keeps no copy.
#include <QPushButton>
#include <functional>

namespace skyjog {

class ArrowButton : public QPushButton {
    Q_OBJECT
public:
    explicit ArrowButton(QWidget* parent = nullptr);

    // Whether the mouse holds this arrow: a second press of a held arrow changes nothing, and
    // only a held arrow reports a release.
    void setHeldByMouse(std::function<bool()> heldByMouse) { heldByMouse_ = std::move(heldByMouse); }
    bool isHeld() const { return heldByMouse_ && heldByMouse_(); }
    // Pressed while anything holds the arrow; marked while the mount has not confirmed the stop
    // of its axis.
    void showState(bool pressed, bool unconfirmed);
    bool showsUnconfirmed() const { return unconfirmed_; }
    // Ends a hold whose release will never arrive (the mouse was taken away from the button):
    // reports it exactly as the release would.
    void loseMouse();

signals:
    // The first mouse button went down on the button.
    void mouseDown();
    // The last mouse button came up (wherever the pointer is by then), or the hold was lost.
    void mouseUp();

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    bool event(QEvent* e) override;

private:
    std::function<bool()> heldByMouse_;
    bool unconfirmed_ = false;
};

} // namespace skyjog
