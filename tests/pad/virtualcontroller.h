#pragma once
// A game controller the tests plug in and out: SDL's virtual joystick, shaped like a common game
// controller, with its buttons and axes numbered as SDL's game-controller ones. SDL's
// game-controller subsystem must be running while one exists.
#include "gamepad.h"

#include <QtGlobal>
#include <SDL.h>
#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace skyjog::test {

constexpr int16_t Full = SDL_JOYSTICK_AXIS_MAX;

// Identities of their own (test ids under pid.codes' vendor id): a real controller plugged into
// the machine the tests run on is ignored, so it cannot take a test controller's place. SDL
// names a controller after the first one it saw with the same identity, so a second controller
// in one test takes the second id.
constexpr uint16_t VendorId = 0x1209;
constexpr uint16_t ProductId = 0x0001;
constexpr uint16_t SecondProductId = 0x0002;

// Starts SDL's game-controller subsystem for the test program, reading controllers whatever
// window has the focus, as the pad does, and only the test's own.
inline bool startControllers() {
    SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
    SDL_SetHint(SDL_HINT_GAMECONTROLLER_IGNORE_DEVICES_EXCEPT, "0x1209/0x0001,0x1209/0x0002");
    return SDL_Init(SDL_INIT_GAMECONTROLLER) == 0;
}

// Plugged in for its lifetime, or until unplugged.
class VirtualController {
public:
    explicit VirtualController(const char* name = "Skyjog Test Pad",
                               uint16_t productId = ProductId) {
        SDL_VirtualJoystickDesc d;
        SDL_zero(d);
        d.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
        d.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
        d.nbuttons = SDL_CONTROLLER_BUTTON_DPAD_RIGHT + 1;
        d.naxes = SDL_CONTROLLER_AXIS_MAX;
        d.button_mask = (1u << d.nbuttons) - 1;
        d.axis_mask = (1u << d.naxes) - 1;
        d.name = name;
        d.vendor_id = VendorId;
        d.product_id = productId;
        const int index = SDL_JoystickAttachVirtualEx(&d);
        if (index < 0) qFatal("virtual controller: %s", SDL_GetError());
        joystick_ = SDL_JoystickOpen(index);
        if (!joystick_) qFatal("virtual controller: %s", SDL_GetError());
    }
    ~VirtualController() { unplug(); }
    VirtualController(const VirtualController&) = delete;
    VirtualController& operator=(const VirtualController&) = delete;

    void button(SDL_GameControllerButton b, bool down) {
        SDL_JoystickSetVirtualButton(joystick_, b, down ? 1 : 0);
    }
    void axis(SDL_GameControllerAxis a, double share) {
        SDL_JoystickSetVirtualAxis(joystick_, a, int16_t(share * Full));
    }
    void unplug() {
        if (!joystick_) return;
        const SDL_JoystickID id = SDL_JoystickInstanceID(joystick_);
        SDL_JoystickClose(joystick_);
        joystick_ = nullptr;
        for (int i = 0; i < SDL_NumJoysticks(); ++i)
            if (SDL_JoystickGetDeviceInstanceID(i) == id) SDL_JoystickDetachVirtual(i);
    }

private:
    SDL_Joystick* joystick_ = nullptr;
};

#ifdef Q_OS_UNIX
// Stands a pipe in for the device node of every controller opened while it lives (SDL's virtual
// controller has none): a byte written rings as the device would when it has something to say,
// and closing the far end is the node going away.
class PipeNode {
public:
    PipeNode() {
        GamePad::setNodeOpener([this](const QString&) {
            int fds[2];
            if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) return -1;
            closeFarEnd();
            far_ = fds[1];
            ++opened_;
            return fds[0];
        });
    }
    ~PipeNode() {
        GamePad::setNodeOpener({});
        closeFarEnd();
    }
    PipeNode(const PipeNode&) = delete;
    PipeNode& operator=(const PipeNode&) = delete;

    void ring() const {
        const char c = 1;
        if (far_ >= 0 && ::write(far_, &c, 1) != 1) qFatal("pipe node: cannot write");
    }
    void closeFarEnd() {
        if (far_ >= 0) ::close(far_);
        far_ = -1;
    }
    int opened() const { return opened_; }

private:
    int far_ = -1;
    int opened_ = 0;
};
#endif

} // namespace skyjog::test
