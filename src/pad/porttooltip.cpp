#include "porttooltip.h"

#include "porttext.h"

#include <QEvent>
#include <QLineEdit>

namespace skyjog {

PortTooltip::PortTooltip(QLineEdit* box) : QObject(box), box_(box) {
    box->installEventFilter(this);
    connect(box, &QLineEdit::textChanged, this, [this] {
        if (box_->hasFocus()) show();
    });
}

void PortTooltip::show() {
    box_->setToolTip(portDescription(box_->text()));
}

bool PortTooltip::eventFilter(QObject* watched, QEvent* event) {
    if (watched == box_) {
        if (event->type() == QEvent::FocusIn) show();
        if (event->type() == QEvent::FocusOut) box_->setToolTip(QString());
    }
    return false;
}

} // namespace skyjog
