#pragma once
// A picture button that reports press and release of any mouse button, for the arrows that slew
// the mount for as long as they are held.
#include <QPushButton>

namespace skyjog {

class ArrowButton : public QPushButton {
    Q_OBJECT
public:
    explicit ArrowButton(QWidget* parent = nullptr);

    bool isHeld() const { return held_; }
    // Shows the button pressed while its arrow key holds the axis, so that a keyboard slew can
    // be seen as well as a mouse one.
    void setKeyHeld(bool held);
    bool isKeyHeld() const { return keyHeld_; }
    // The same for a game controller's hold.
    void setControllerHeld(bool held);
    bool isControllerHeld() const { return controllerHeld_; }
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
    bool event(QEvent* e) override;

private:
    bool held_ = false;
    bool keyHeld_ = false;
    bool controllerHeld_ = false;
    // Pressed while anything holds it.
    void showHeld() { setDown(held_ || keyHeld_ || controllerHeld_); }
};

} // namespace skyjog
