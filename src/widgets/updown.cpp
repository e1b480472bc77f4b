#include "updown.h"

#include <QLineEdit>
#include <QToolButton>
#include <algorithm>

namespace skyjog {

UpDown::UpDown(QWidget* parent) : QWidget(parent), up_(new QToolButton(this)), down_(new QToolButton(this)) {
    for (QToolButton* b : {up_, down_}) {
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
    }
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    up_->setObjectName(QStringLiteral("up"));
    down_->setObjectName(QStringLiteral("down"));
    connect(up_, &QToolButton::clicked, this, &UpDown::stepUp);
    connect(down_, &QToolButton::clicked, this, &UpDown::stepDown);
}

void UpDown::setRange(int min, int max) {
    min_ = min;
    max_ = max;
    value_ = std::clamp(value_, min_, max_);
}

void UpDown::setValue(int v) { value_ = std::clamp(v, min_, max_); }

void UpDown::step(int dir) {
    if (fromBuddy_ && buddy_) {
        bool ok = false;
        const int typed = buddy_->text().trimmed().toInt(&ok);
        if (ok) value_ = std::clamp(typed, min_, max_);
    }
    const int next = std::clamp(value_ + dir * increment_, min_, max_);
    if (next == value_) return; // at a limit the arrows do nothing
    value_ = next;
    if (buddy_) buddy_->setText(QString::number(value_));
    emit changed();
}

void UpDown::resizeEvent(QResizeEvent*) {
    const int h = height() / 2;
    up_->setGeometry(0, 0, width(), h);
    down_->setGeometry(0, h, width(), height() - h);
}

} // namespace skyjog
