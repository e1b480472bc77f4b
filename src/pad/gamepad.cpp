#include "gamepad.h"

#include <QSocketNotifier>
#include <SDL.h>
#include <algorithm>
#include <cerrno>
#include <optional>
#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace skyjog {

static_assert(PadMapping::ButtonCount == SDL_CONTROLLER_BUTTON_MAX);

namespace {

constexpr size_t idx(Arrow a) {
    return size_t(a);
}

std::optional<Arrow> arrowOf(PadAction a) {
    switch (a) {
    case PadAction::Up:
        return Arrow::Up;
    case PadAction::Down:
        return Arrow::Down;
    case PadAction::Left:
        return Arrow::Left;
    case PadAction::Right:
        return Arrow::Right;
    default:
        return std::nullopt;
    }
}

GamePad::NodeOpener& nodeOpener() {
    static GamePad::NodeOpener opener = &GamePad::openNode;
    return opener;
}

} // namespace

void GamePad::setNodeOpener(NodeOpener opener) {
    nodeOpener() = opener ? std::move(opener) : NodeOpener(&GamePad::openNode);
}

int GamePad::openNode(const QString& path) {
#ifdef Q_OS_LINUX
    // Only a device node can be watched; SDL names others (a virtual controller has no path).
    if (!path.startsWith(QLatin1String("/dev/"))) return -1;
    return ::open(path.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
#else
    // Windows and macOS name devices that no descriptor can wait on.
    Q_UNUSED(path);
    return -1;
#endif
}

GamePad::GamePad(Handlers handlers, double deadZone, QObject* parent)
    : QObject(parent), handlers_(std::move(handlers)) {
    setDeadZone(deadZone);
    connect(&timer_, &QTimer::timeout, this, [this] { tick(); });
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

bool GamePad::isButtonDown(int button) const {
    return button >= 0 && button < PadMapping::ButtonCount && down_[size_t(button)];
}

void GamePad::setMapping(const PadMapping& m) {
    mapping_ = m;
    // A button held while its action changes counts as what it does now.
    update();
    updateFastest();
}

void GamePad::captureButton(std::function<void(int)> taken) {
    capture_ = std::move(taken);
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
    if (vanished_ >= 0 && SDL_JoystickGetDeviceInstanceID(deviceIndex) == vanished_) return;
    SDL_GameController* c = SDL_GameControllerOpen(deviceIndex);
    if (!c) return;
    controller_ = c;
    SDL_Joystick* joystick = SDL_GameControllerGetJoystick(c);
    instance_ = SDL_JoystickInstanceID(joystick);
    const char* name = SDL_GameControllerName(c);
    name_ = name ? QString::fromUtf8(name) : QStringLiteral("Game controller");
    char guid[33] = {};
    SDL_JoystickGetGUIDString(SDL_JoystickGetGUID(joystick), guid, sizeof guid);
    guid_ = QString::fromLatin1(guid);
    mapping_ = handlers_.mappingFor ? handlers_.mappingFor(guid_) : PadMapping::standard();
    watchNode();
    updateTimer();
    if (handlers_.changed) handlers_.changed();
}

void GamePad::watchNode() {
    QString path;
#if SDL_VERSION_ATLEAST(2, 24, 0)
    if (const char* p = SDL_GameControllerPath(controller_)) path = QString::fromUtf8(p);
#endif
    const int fd = nodeOpener()(path);
    if (fd < 0) return;
    nodeFd_ = fd;
    notifier_ = new QSocketNotifier(qintptr(fd), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { nodeReadable(); });
}

void GamePad::nodeReadable() {
    // The node is only a bell: what it says is read again by SDL from its own descriptor. It is
    // emptied here, or it would ring on for ever. An end or an error means the device is gone.
    bool gone = false;
#ifdef Q_OS_UNIX
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(nodeFd_, buffer, sizeof buffer);
        if (n > 0) continue;
        if (n < 0 && errno == EINTR) continue;
        gone = !(n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
        break;
    }
#endif
    if (!gone) {
        poll();
        return;
    }
    // Whatever SDL still makes of it, a controller that cannot be heard is let go, and not taken
    // up again until it has been plugged in anew.
    vanished_ = instance_;
    close();
    openFirst();
}

void GamePad::openFirst() {
    for (int i = 0, n = SDL_NumJoysticks(); i < n && !controller_; ++i)
        open(i);
}

void GamePad::close() {
    if (!controller_) return;
    // Gone is gone: what it held is let go at once, and nothing it showed counts any more.
    down_ = {};
    taken_ = {};
    stick_ = {};
    latched_ = {};
    fastestLatched_ = false;
    update();
    updateFastest();
    capture_ = nullptr;
    delete std::exchange(notifier_, nullptr);
#ifdef Q_OS_UNIX
    if (nodeFd_ >= 0) ::close(nodeFd_);
#endif
    nodeFd_ = -1;
    SDL_GameControllerClose(controller_);
    controller_ = nullptr;
    instance_ = -1;
    name_.clear();
    guid_.clear();
    mapping_ = PadMapping::standard();
    updateTimer();
    if (handlers_.changed) handlers_.changed();
    emit inputChanged();
}

void GamePad::updateTimer() {
    if (!enabled_ || !available_) {
        timer_.stop();
        return;
    }
    timer_.start(controller_ && !notifier_ ? FastPollMs : SlowPollMs);
}

void GamePad::tick() {
    if (notifier_)
        checkPlugging();
    else
        poll();
}

void GamePad::checkPlugging() {
    if (!enabled_ || !available_) return;
    // Only arrivals and removals: the controller's own events wait in SDL's queue for the read
    // its node rings for.
    SDL_PumpEvents();
    SDL_Event e;
    while (SDL_PeepEvents(&e, 1, SDL_GETEVENT, SDL_CONTROLLERDEVICEADDED,
                          SDL_CONTROLLERDEVICEREMOVED) > 0) {
        device(e);
        if (!enabled_) return;
    }
}

void GamePad::device(const SDL_Event& e) {
    if (e.type == SDL_CONTROLLERDEVICEADDED) {
        open(e.cdevice.which);
        return;
    }
    if (e.cdevice.which == vanished_) vanished_ = -1;
    if (controller_ && e.cdevice.which == instance_) {
        close();
        openFirst();
    }
}

void GamePad::poll() {
    if (!enabled_ || !available_) return;
    ++reads_;
    bool input = false;
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
        switch (e.type) {
        case SDL_CONTROLLERDEVICEADDED:
        case SDL_CONTROLLERDEVICEREMOVED:
            device(e);
            break;
        case SDL_CONTROLLERBUTTONDOWN:
        case SDL_CONTROLLERBUTTONUP:
            if (controller_ && e.cbutton.which == instance_) {
                button(e.cbutton.button, e.type == SDL_CONTROLLERBUTTONDOWN);
                input = true;
            }
            break;
        case SDL_CONTROLLERAXISMOTION:
            if (controller_ && e.caxis.which == instance_) {
                axis(e.caxis.axis, e.caxis.value);
                input = true;
            }
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
    if (input) emit inputChanged();
}

void GamePad::button(uint8_t b, bool down) {
    if (b >= PadMapping::ButtonCount) return;
    down_[b] = down;
    if (down && capture_) {
        taken_[b] = true;
        std::exchange(capture_, nullptr)(b);
        return;
    }
    if (taken_[b]) {
        if (!down) taken_[b] = false;
        return;
    }
    const PadAction action = mapping_.action(b);
    if (arrowOf(action)) return; // counted at the end of the read
    // What the arrows showed before this button counts before it.
    update();
    if (action == PadAction::Fastest) {
        updateFastest();
        return;
    }
    if (!down) return;
    switch (action) {
    case PadAction::Spiral:
        if (handlers_.spiral) handlers_.spiral();
        break;
    case PadAction::AllStop:
        if (handlers_.allStop) handlers_.allStop();
        break;
    case PadAction::RateDown:
    case PadAction::RateUp:
        if (handlers_.rateStep) handlers_.rateStep(action == PadAction::RateUp ? +1 : -1);
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

std::array<bool, 4> GamePad::shown() const {
    const bool fromButtons = mapping_.arrows != ArrowInput::Stick;
    const bool fromStick = mapping_.arrows != ArrowInput::Buttons;
    std::array<bool, 4> shows{};
    for (int b = 0; b < PadMapping::ButtonCount; ++b)
        if (const std::optional<Arrow> a = arrowOf(mapping_.action(b)))
            shows[idx(*a)] =
                shows[idx(*a)] || (fromButtons && down_[size_t(b)] && !taken_[size_t(b)]);
    for (size_t i = 0; i < 4; ++i)
        shows[i] = shows[i] || (fromStick && stick_[i]);
    return shows;
}

void GamePad::update() {
    std::array<bool, 4> want = shown();
    for (size_t i = 0; i < 4; ++i)
        if (!want[i]) latched_[i] = false;
    // The D-pad one way and the stick the other contradict each other: neither counts.
    for (auto [first, second] : {std::pair{Arrow::Up, Arrow::Down}, {Arrow::Left, Arrow::Right}}) {
        if (want[idx(first)] && want[idx(second)]) want[idx(first)] = want[idx(second)] = false;
    }
    for (size_t i = 0; i < 4; ++i)
        want[i] = want[i] && !latched_[i];
    // Releases before presses, so that a quick change of direction on one axis stops the old one
    // before the new one starts.
    for (size_t i = 0; i < 4; ++i)
        if (holds(Arrow(i)) && !want[i]) setHeld(Arrow(i), false);
    for (size_t i = 0; i < 4; ++i)
        if (!holds(Arrow(i)) && want[i]) setHeld(Arrow(i), true);
}

void GamePad::updateFastest() {
    bool want = false;
    for (int b : mapping_.buttonsOf(PadAction::Fastest))
        want = want || (down_[size_t(b)] && !taken_[size_t(b)]);
    if (!want) fastestLatched_ = false;
    want = want && !fastestLatched_;
    if (want == fastestHeld_) return;
    fastestHeld_ = want;
    if (handlers_.fastest) handlers_.fastest(want);
}

void GamePad::setHeld(Arrow a, bool held) {
    const auto& handler = held ? handlers_.arrowDown : handlers_.arrowUp;
    if (handler) handler(a);
}

void GamePad::releaseAll() {
    const std::array<bool, 4> shows = shown();
    for (size_t i = 0; i < 4; ++i) {
        latched_[i] = latched_[i] || shows[i];
        if (holds(Arrow(i))) setHeld(Arrow(i), false);
    }
    if (fastestHeld_) {
        fastestLatched_ = true;
        updateFastest();
    }
}

} // namespace skyjog
