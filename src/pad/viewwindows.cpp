#include "viewwindows.h"

#include "nightlook.h"
#include "placement.h"
#include "positionwindow.h"
#include "preferences.h"

#include <QWidget>

namespace skyjog {

ViewWindows::ViewWindows(Preferences& prefs, std::function<bool()> idleForReadings,
                         std::function<bool()> unloading)
    : prefs_(prefs), idle_(std::move(idleForReadings)), unloading_(std::move(unloading)) {}

ViewWindows::~ViewWindows() {
    if (PositionWindow* p = PositionWindow::current()) p->forgetHost();
}

bool ViewWindows::keptNightLook() const {
    return prefs_.get(Pref::NightVision).toBool();
}

void ViewWindows::setNightLook(bool night) {
    skyjog::setNightLook(night);
    prefs_.set(Pref::NightVision, night);
    save();
}

void ViewWindows::showPosition() {
    ShowPosition({.idle = idle_,
                  .place =
                      [this](QWidget& window) {
                          if (!prefs_.contains(Pref::PositionX)) return;
                          window.move(prefs_.get(Pref::PositionX).toInt(),
                                      prefs_.get(Pref::PositionY).toInt());
                          // As the pad itself: back from a screen that is gone.
                          bringOntoAScreen(window);
                      },
                  .closedAt =
                      [this](const QPoint& place) {
                          if (unloading_()) return;
                          prefs_.set(Pref::PositionX, place.x());
                          prefs_.set(Pref::PositionY, place.y());
                          prefs_.set(Pref::PositionOpen, false);
                          save();
                      }});
}

void ViewWindows::restore() {
    if (prefs_.get(Pref::PositionOpen).toBool()) showPosition();
}

void ViewWindows::keepAtUnload() {
    if (PositionWindow* p = PositionWindow::current()) {
        prefs_.set(Pref::PositionX, p->pos().x());
        prefs_.set(Pref::PositionY, p->pos().y());
        prefs_.set(Pref::PositionOpen, true);
    }
    save();
}

void ViewWindows::save() {
    QString why;
    if (!prefs_.save(&why)) qWarning("%s", qPrintable(why));
}

} // namespace skyjog
