#pragma once
// What the View menu opens and turns on, kept beside the settings line in Skyjog.conf: the night
// look, and the Position window with its place and whether it was open at the end.
#include <functional>

namespace skyjog {

class Preferences;

class ViewWindows {
public:
    // idleForReadings: whether a reading of the position may go out now; unloading: whether the
    // pad is closing (the Position window's own close then keeps nothing).
    ViewWindows(Preferences& prefs, std::function<bool()> idleForReadings,
                std::function<bool()> unloading);
    // A Position window left open lets go of what it was handed, which goes with this.
    ~ViewWindows();
    ViewWindows(const ViewWindows&) = delete;
    ViewWindows& operator=(const ViewWindows&) = delete;

    // The night look as it was kept.
    bool keptNightLook() const;
    void setNightLook(bool night);
    void showPosition();
    // Opens again what was open when the program last ended.
    void restore();
    // Keeps where the Position window stands and that it was open, for the next start.
    void keepAtUnload();
    // A choice that cannot be kept is no reason to hold anything up: the pad works the same.
    void save();

private:
    Preferences& prefs_;
    std::function<bool()> idle_;
    std::function<bool()> unloading_;
};

} // namespace skyjog
