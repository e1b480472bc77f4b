#include "gamepad.h"

#include <SDL.h>
#include <algorithm>
#include <optional>

namespace skyjog {

namespace {

constexpr size_t idx(Arrow a) {
    return size_t(a);
}

std::optional<Arrow> dpadArrow(uint8_t button) {
    switch (button) {
    case SDL_CONTROLLER_BUTTON_DPAD_UP:
        return Arrow::Up;
    case SDL_CONTROLLER_BUTTON_DPAD_DOWN:
        return Arrow::Down;
    case SDL_CONTROLLER_BUTTON_DPAD_LEFT:
        return Arrow::Left;
    case SDL_CONTROLLER_BUTTON_DPAD_RIGHT:
        return Arrow::Right;
    default:
        return std::nullopt;
    }
}

} // namespace

GamePad::GamePad(Handlers handlers, QObject* parent)
    : QObject(parent), handlers_(std::move(handlers)) {
    connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
}

GamePad::~GamePad() {
    stop();
}

void GamePad::setEnabled(bool on) {
    if (on == enabled_) return;
    enabled_ = on;
    if (on)
        start();
    else
        stop();
    if (handlers_.changed) handlers_.changed();
}

void GamePad::setDeadZone(double share) {
    deadZone_ = std::clamp(share, 0.05, 0.95);
}

void GamePad::start() {
    // Without this SDL drops the controller's events whenever no window of this program has the
    // focus.
    SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
    // SDL would otherwise turn SIGINT and SIGTERM into events of its own queue, which nothing
    // here reads: the program could no longer be ended by them.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) != 0) {
        available_ = false;
        lastError_ = QString::fromUtf8(SDL_GetError());
        return;
    }
    sdlStarted_ = true;
    available_ = true;
    lastError_.clear();
    // What an earlier user of SDL left in the queue is not this controller's doing; controllers
    // already attached are opened here rather than from their queued arrival.
    SDL_GameControllerUpdate();
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    openFirst();
    updateTimer();
}

void GamePad::stop() {
    timer_.stop();
    close();
    if (sdlStarted_) SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
    sdlStarted_ = false;
}

void GamePad::open(int deviceIndex) {
    if (controller_ || !SDL_IsGameController(deviceIndex)) return;
    SDL_GameController* c = SDL_GameControllerOpen(deviceIndex);
    if (!c) return;
    controller_ = c;
    instance_ = SDL_JoystickInstanceID(SDL_GameControllerGetJoystick(c));
    const char* name = SDL_GameControllerName(c);
    name_ = name ? QString::fromUtf8(name) : QStringLiteral("Game controller");
    updateTimer();
    if (handlers_.changed) handlers_.changed();
}

void GamePad::openFirst() {
    for (int i = 0, n = SDL_NumJoysticks(); i < n && !controller_; ++i)
        open(i);
}

void GamePad::close() {
    if (!controller_) return;
    // Gone is gone: what it held is let go at once, and nothing it showed counts any more.
    dpad_ = {};
    stick_ = {};
    latched_ = {};
    update();
    SDL_GameControllerClose(controller_);
    controller_ = nullptr;
    instance_ = -1;
    name_.clear();
    updateTimer();
    if (handlers_.changed) handlers_.changed();
}

void GamePad::updateTimer() {
    if (!enabled_ || !available_) {
        timer_.stop();
        return;
    }
    timer_.start(controller_ ? FastPollMs : SlowPollMs);
}

void GamePad::poll() {
    if (!enabled_ || !available_) return;
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
        switch (e.type) {
        case SDL_CONTROLLERDEVICEADDED:
            open(e.cdevice.which);
            break;
        case SDL_CONTROLLERDEVICEREMOVED:
            if (controller_ && e.cdevice.which == instance_) {
                close();
                openFirst();
            }
            break;
        case SDL_CONTROLLERBUTTONDOWN:
        case SDL_CONTROLLERBUTTONUP:
            if (controller_ && e.cbutton.which == instance_)
                button(e.cbutton.button, e.type == SDL_CONTROLLERBUTTONDOWN);
            break;
        case SDL_CONTROLLERAXISMOTION:
            if (controller_ && e.caxis.which == instance_) axis(e.caxis.axis, e.caxis.value);
            break;
        default:
            break;
        }
        // A handler may have turned the controller off (closing the window).
        if (!enabled_) return;
    }
    // The arrows change once per read, from everything it brought: all releases go out before
    // any press, so that a change of direction never has two arrows of an axis held at once.
    update();
    // A controller that stopped answering without a removal (a driver or SDL failure) is let go
    // like one pulled out.
    if (controller_ && !SDL_GameControllerGetAttached(controller_)) {
        close();
        openFirst();
    }
}

void GamePad::button(uint8_t b, bool down) {
    if (const std::optional<Arrow> a = dpadArrow(b)) {
        dpad_[idx(*a)] = down;
        return;
    }
    if (!down) return;
    // What the arrows showed before this button counts before it.
    update();
    switch (b) {
    case SDL_CONTROLLER_BUTTON_A:
        if (handlers_.spiral) handlers_.spiral();
        break;
    case SDL_CONTROLLER_BUTTON_B:
    case SDL_CONTROLLER_BUTTON_BACK:
        if (handlers_.allStop) handlers_.allStop();
        break;
    case SDL_CONTROLLER_BUTTON_LEFTSHOULDER:
        if (handlers_.rateStep) handlers_.rateStep(-1);
        break;
    case SDL_CONTROLLER_BUTTON_RIGHTSHOULDER:
        if (handlers_.rateStep) handlers_.rateStep(+1);
        break;
    default:
        break;
    }
}

void GamePad::axis(uint8_t which, int16_t value) {
    if (which != SDL_CONTROLLER_AXIS_LEFTX && which != SDL_CONTROLLER_AXIS_LEFTY) return;
    const double press = deadZone_ * SDL_JOYSTICK_AXIS_MAX;
    const double release = press * ReleaseShare;
    // Screen convention: the stick pushed away from the user reads negative on Y.
    const bool x = which == SDL_CONTROLLER_AXIS_LEFTX;
    const size_t negative = idx(x ? Arrow::Left : Arrow::Up);
    const size_t positive = idx(x ? Arrow::Right : Arrow::Down);
    stick_[negative] = -value > (stick_[negative] ? release : press);
    stick_[positive] = value > (stick_[positive] ? release : press);
}

void GamePad::update() {
    std::array<bool, 4> want{};
    for (size_t i = 0; i < 4; ++i) {
        want[i] = dpad_[i] || stick_[i];
        if (!want[i]) latched_[i] = false;
    }
    // The D-pad one way and the stick the other contradict each other: neither counts.
    for (auto [first, second] : {std::pair{Arrow::Up, Arrow::Down}, {Arrow::Left, Arrow::Right}}) {
        if (want[idx(first)] && want[idx(second)]) want[idx(first)] = want[idx(second)] = false;
    }
    for (size_t i = 0; i < 4; ++i)
        want[i] = want[i] && !latched_[i];
    // Releases before presses, so that a quick change of direction on one axis stops the old one
    // before the new one starts.
    for (size_t i = 0; i < 4; ++i)
        if (held_[i] && !want[i]) setHeld(Arrow(i), false);
    for (size_t i = 0; i < 4; ++i)
        if (!held_[i] && want[i]) setHeld(Arrow(i), true);
}

void GamePad::setHeld(Arrow a, bool held) {
    held_[idx(a)] = held;
    const auto& handler = held ? handlers_.arrowDown : handlers_.arrowUp;
    if (handler) handler(a);
}

void GamePad::releaseAll() {
    for (size_t i = 0; i < 4; ++i) {
        latched_[i] = latched_[i] || dpad_[i] || stick_[i];
        if (held_[i]) setHeld(Arrow(i), false);
    }
}

} // namespace skyjog
