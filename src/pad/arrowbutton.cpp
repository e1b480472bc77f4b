#include "arrowbutton.h"

#include <QMouseEvent>

namespace skyjog {

ArrowButton::ArrowButton(QWidget* parent) : QPushButton(parent) {}

void ArrowButton::mousePressEvent(QMouseEvent* e) {
    e->accept();
    if (held_) return; // a second mouse button on a held arrow changes nothing
    held_ = true;
    setDown(true);
    emit mouseDown();
}

// A quick second click arrives as a double click instead of a press; it is a press all the same.
void ArrowButton::mouseDoubleClickEvent(QMouseEvent* e) {
    mousePressEvent(e);
}

void ArrowButton::mouseReleaseEvent(QMouseEvent* e) {
    e->accept();
    if (!held_ || e->buttons() != Qt::NoButton) return;
    held_ = false;
    showHeld();
    emit mouseUp();
}

void ArrowButton::setKeyHeld(bool held) {
    keyHeld_ = held;
    showHeld();
}

void ArrowButton::setControllerHeld(bool held) {
    controllerHeld_ = held;
    showHeld();
}

// The button keeps the mouse while held, so it stays down even when the pointer leaves it.
void ArrowButton::mouseMoveEvent(QMouseEvent* e) {
    e->accept();
}

void ArrowButton::loseMouse() {
    if (!held_) return;
    held_ = false;
    showHeld();
    emit mouseUp();
}

bool ArrowButton::event(QEvent* e) {
    switch (e->type()) {
    case QEvent::UngrabMouse:
    case QEvent::Hide:
        loseMouse();
        break;
    case QEvent::EnabledChange:
        if (!isEnabled()) loseMouse();
        break;
    default:
        break;
    }
    return QPushButton::event(e);
}

} // namespace skyjog
