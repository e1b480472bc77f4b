#pragma once
// The game controller as the window sees it: the window hands it a few things it may do, and
// gets back an object it tells about an all-stop. A build without SDL2 has no controller: the
// factory then gives none and takes its menu entries away.
#include "arrow.h"

#include <QObject>
#include <functional>
#include <memory>

class QAction;

namespace skyjog {

class GamePad;
class Preferences;

// What the controller may ask of the window.
struct ControllerHooks {
    std::function<void(Arrow)> arrowDown;
    std::function<void(Arrow)> arrowUp;
    std::function<bool(Arrow)> holds;
    std::function<void()> spiral;
    std::function<void()> allStop;
    // The rate lists' selected entries and how many each has; and a pick of entries, each list
    // whose entry changes getting its selection event as a user's pick would.
    struct RateLists {
        int alt, az, count;
    };
    std::function<RateLists()> rateLists;
    std::function<void(int alt, int az)> pickRates;
    std::function<void()> savePreferences;
};

class Controller {
public:
    virtual ~Controller() = default;
    virtual GamePad* gamePad() const = 0;
    // An all-stop: every arrow the controller holds lets go, and counts again only once let go
    // on the controller.
    virtual void releaseAll() = 0;
};

// The window's controller, using (and showing in) the Tools menu's toggle and its dialog entry,
// with its choices in prefs; without controller support, null, and both entries are removed.
std::unique_ptr<Controller> makeController(ControllerHooks hooks, Preferences& prefs,
                                           QAction*& toggle, QAction*& dialogEntry);

} // namespace skyjog
