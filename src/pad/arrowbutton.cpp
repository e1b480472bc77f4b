#include "arrowbutton.h"

#include <QMouseEvent>
#include <QPainter>

namespace skyjog {

ArrowButton::ArrowButton(QWidget* parent) : QPushButton(parent) {}

void ArrowButton::mousePressEvent(QMouseEvent* e) {
    e->accept();
    if (isHeld()) return; // a second mouse button on a held arrow changes nothing
    emit mouseDown();
}

// A quick second click arrives as a double click instead of a press; it is a press all the same.
void ArrowButton::mouseDoubleClickEvent(QMouseEvent* e) {
    mousePressEvent(e);
}

void ArrowButton::mouseReleaseEvent(QMouseEvent* e) {
    e->accept();
    if (!isHeld() || e->buttons() != Qt::NoButton) return;
    emit mouseUp();
}

void ArrowButton::showState(bool pressed, bool unconfirmed) {
    setDown(pressed);
    if (unconfirmed == unconfirmed_) return;
    unconfirmed_ = unconfirmed;
    setToolTip(unconfirmed ? QStringLiteral("The mount did not confirm the stop of this axis: it "
                                            "may still be moving. Escape sends the stop again.")
                           : QString());
    update();
}

// The button keeps the mouse while held, so it stays down even when the pointer leaves it.
void ArrowButton::mouseMoveEvent(QMouseEvent* e) {
    e->accept();
}

void ArrowButton::paintEvent(QPaintEvent* e) {
    QPushButton::paintEvent(e);
    if (!unconfirmed_) return;
    // A dashed red frame, thick enough to be seen at a glance from the eyepiece, and red so that
    // the night look keeps it without spoiling dark-adapted eyes.
    QPainter p(this);
    p.setPen(QPen(QColor(230, 40, 20), 3, Qt::DashLine));
    p.drawRect(rect().adjusted(1, 1, -2, -2));
}

void ArrowButton::loseMouse() {
    if (!isHeld()) return;
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
