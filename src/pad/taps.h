#pragma once
// Tools > Repeatable Taps: whether short presses are held to one length, and which, kept in the
// preferences and handed to the motion core.
#include <QtGlobal>
#include <functional>

class QAction;
class QWidget;

namespace skyjog {

class Motion;
class Preferences;

inline constexpr int MinTapMs = 50;
inline constexpr int MaxTapMs = 2000;

// The kept choice in force from the start; the entry's submenu turns taps off or picks their
// length. save writes the preferences.
void wireRepeatableTaps(QAction* entry, QWidget* parent, Preferences& prefs, Motion& motion,
                        std::function<void()> save);

} // namespace skyjog
