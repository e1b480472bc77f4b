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

// The kept choice in force from the start; the entry's check turns it on (asking the length,
// with the last one offered) and off. save writes the preferences.
void wireRepeatableTaps(QAction* entry, QWidget* parent, Preferences& prefs, Motion& motion,
                        std::function<void()> save);

} // namespace skyjog
