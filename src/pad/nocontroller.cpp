// A build without SDL2: no controller, and no menu entries for one.
#include "controller.h"

#include <QAction>
#include <utility>

namespace skyjog {

std::unique_ptr<Controller> makeController(ControllerHooks, Preferences&, QAction*& toggle,
                                           QAction*& dialogEntry) {
    delete std::exchange(toggle, nullptr);
    delete std::exchange(dialogEntry, nullptr);
    return nullptr;
}

} // namespace skyjog
