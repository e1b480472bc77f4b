#pragma once
// A game controller as a second set of arrows for the pad: the D-pad and the left stick hold the
// four arrows, and a few buttons do what the window's own controls do. Read on the GUI thread by
// a timer, through SDL's game-controller layer (no video subsystem), also while another program
// has the focus: at the eyepiece the camera program is often the one in front.
#include "arrow.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>

struct _SDL_GameController;

namespace skyjog {

class GamePad : public QObject {
public:
    // What the controller asks of the window.
    struct Handlers {
        std::function<void(Arrow)> arrowDown;
        std::function<void(Arrow)> arrowUp;
        std::function<void()> spiral;         // button A (south)
        std::function<void()> allStop;        // button B (east) and Back
        std::function<void(int)> rateStep;    // -1 left shoulder, +1 right shoulder
        std::function<void()> changed;        // a controller came or went, or the use changed
    };

    // How often the controller is read: often while one is attached, so that a press starts the
    // slew within a few milliseconds; seldom when none is, only to notice one being plugged in.
    static constexpr int FastPollMs = 10;
    static constexpr int SlowPollMs = 1000;
    // The stick presses an arrow beyond the dead zone (a share of full deflection) and lets go
    // only once back under this share of the dead zone, so that it does not chatter at the edge.
    static constexpr double DefaultDeadZone = 0.5;
    static constexpr double ReleaseShare = 0.7;

    explicit GamePad(Handlers handlers, QObject* parent = nullptr);
    ~GamePad() override;

    // Starts or stops using controllers. Stopping lets go of every arrow held, as a release would.
    void setEnabled(bool on);
    bool isEnabled() const { return enabled_; }
    // False when SDL could not be started (why: lastError()).
    bool isAvailable() const { return available_; }
    QString lastError() const { return lastError_; }

    // A share of full deflection, kept within 0.05 to 0.95.
    void setDeadZone(double share);
    double deadZone() const { return deadZone_; }

    // The connected controller's name, empty when none is in use.
    QString controllerName() const { return name_; }
    bool isConnected() const { return controller_ != nullptr; }
    bool holds(Arrow a) const { return held_[size_t(a)]; }
    int pollInterval() const { return timer_.interval(); }
    bool isPolling() const { return timer_.isActive(); }

    // Lets go of every arrow the controller holds, each with its release. An arrow still pressed
    // on the controller counts again only once it has been let go there: an all-stop must not
    // restart what the user still holds.
    void releaseAll();
    // Takes in what the controller did since the last poll.
    void poll();

private:
    void start();
    void stop();
    void open(int deviceIndex);
    void close();
    void openFirst();
    void button(uint8_t button, bool down);
    void axis(uint8_t axis, int16_t value);
    void update();
    void setHeld(Arrow a, bool held);
    void updateTimer();

    Handlers handlers_;
    QTimer timer_;
    bool enabled_ = false;
    bool available_ = false;
    bool sdlStarted_ = false;
    QString lastError_;
    double deadZone_ = DefaultDeadZone;

    _SDL_GameController* controller_ = nullptr;
    int32_t instance_ = -1;
    QString name_;
    // What the controller shows for each arrow: the D-pad, the stick (with its hysteresis), the
    // arrows that must be let go before they count again, and what the window was told.
    std::array<bool, 4> dpad_{};
    std::array<bool, 4> stick_{};
    std::array<bool, 4> latched_{};
    std::array<bool, 4> held_{};
};

} // namespace skyjog
