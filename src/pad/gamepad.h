#pragma once
// A game controller as a second set of arrows for the pad: the D-pad and the left stick hold the
// four arrows, and a few buttons do what the window's own controls do, as the user's mapping
// says. Read on the GUI thread through SDL's game-controller layer (no video subsystem), also
// while another program has the focus: at the eyepiece the camera program is often the one in
// front. Where the controller has a device node (Linux), the node wakes the program and SDL is
// read only then; elsewhere it is polled.
#include "arrow.h"
#include "padmapping.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>

class QSocketNotifier;
struct _SDL_GameController;
union SDL_Event;

namespace skyjog {

class GamePad : public QObject {
    Q_OBJECT
public:
    // What the controller asks of the window.
    struct Handlers {
        std::function<void(Arrow)> arrowDown;
        std::function<void(Arrow)> arrowUp;
        // Whether the controller holds the arrow now, as whoever keeps the holds says.
        std::function<bool(Arrow)> holds;
        std::function<void()> spiral;
        std::function<void()> allStop;
        std::function<void(int)> rateStep; // -1 or +1
        std::function<void(bool)> fastest; // its button went down (true) or up
        std::function<void()> changed;     // a controller came or went, or the use changed
        // The mapping of a controller being opened, by its GUID; the standard one without this.
        std::function<PadMapping(const QString& guid)> mappingFor;
    };

    // How often the controller is polled where it has no node to wake the program, so that a
    // press starts the slew within a few milliseconds; and how often SDL is asked only about
    // controllers plugged in or out.
    static constexpr int FastPollMs = 10;
    static constexpr int SlowPollMs = 1000;
    // The stick lets go of an arrow only once back under this share of the dead zone, so that it
    // does not chatter at the edge.
    static constexpr double ReleaseShare = 0.7;

    // What opens a controller's device node to watch: its path as SDL names it (empty when SDL
    // has none, as for its virtual controllers) to a descriptor that is readable when the
    // controller has something to say, which the controller then owns; -1 polls instead.
    using NodeOpener = std::function<int(const QString& path)>;
    static void setNodeOpener(NodeOpener opener); // an empty one restores the system's own
    static int openNode(const QString& path);     // the system's own

    // deadZone: the share of full deflection the stick must pass to press an arrow.
    GamePad(Handlers handlers, double deadZone, QObject* parent = nullptr);
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

    // The connected controller's name and GUID, empty when none is in use.
    QString controllerName() const { return name_; }
    QString guid() const { return guid_; }
    bool isConnected() const { return controller_ != nullptr; }
    bool holds(Arrow a) const { return handlers_.holds && handlers_.holds(a); }
    // What the controller shows now: a button down, and the arrows the stick presses.
    bool isButtonDown(int button) const;
    bool stickPresses(Arrow a) const { return stick_[size_t(a)]; }
    int pollInterval() const { return timer_.interval(); }
    bool isPolling() const { return timer_.isActive(); }
    // Whether the connected controller's node wakes the program (no fast polling then).
    bool watchesNode() const { return notifier_ != nullptr; }
    // How many times SDL has been read for what the controller did.
    int reads() const { return reads_; }

    // The mapping of the connected controller (the standard one when none is).
    const PadMapping& mapping() const { return mapping_; }
    void setMapping(const PadMapping& m);
    // The next button pressed goes to taken instead of doing what it does (and its release is
    // let pass); cancelled by cancelCapture or another captureButton.
    void captureButton(std::function<void(int button)> taken);
    void cancelCapture() { capture_ = nullptr; }
    bool isCapturing() const { return bool(capture_); }

    // Lets go of every arrow the controller holds, each with its release, and of the fastest
    // rate. What is still pressed on the controller counts again only once it has been let go
    // there: an all-stop must not restart what the user still holds.
    void releaseAll();
    // Takes in what the controller did since the last read.
    void poll();

signals:
    // A button or the stick changed (for a live display).
    void inputChanged();

private:
    void start();
    void stop();
    void open(int deviceIndex);
    void close();
    void openFirst();
    void device(const SDL_Event& e);
    void tick();
    void checkPlugging();
    void watchNode();
    void nodeReadable();
    void button(uint8_t button, bool down);
    void axis(uint8_t axis, int16_t value);
    // The arrows the controller shows, from its buttons and its stick as mapped.
    std::array<bool, 4> shown() const;
    void update();
    void updateFastest();
    void setHeld(Arrow a, bool held);
    void updateTimer();

    Handlers handlers_;
    QTimer timer_;
    bool enabled_ = false;
    bool available_ = false;
    bool sdlStarted_ = false;
    QString lastError_;
    double deadZone_;
    int reads_ = 0;

    _SDL_GameController* controller_ = nullptr;
    int32_t instance_ = -1;
    // A controller whose node went away: not opened again until SDL has seen it go.
    int32_t vanished_ = -1;
    QString name_;
    QString guid_;
    int nodeFd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    PadMapping mapping_ = PadMapping::standard();
    std::function<void(int)> capture_;

    // What the controller shows: its buttons (and those taken by a capture, whose release does
    // nothing), the stick (with its hysteresis), the arrows that must be let go before they count
    // again, and what the window was told.
    std::array<bool, PadMapping::ButtonCount> down_{};
    std::array<bool, PadMapping::ButtonCount> taken_{};
    std::array<bool, 4> stick_{};
    std::array<bool, 4> latched_{};
    bool fastestLatched_ = false;
    bool fastestHeld_ = false;
};

} // namespace skyjog
