// The game controller wired to the window: its handlers, its menu entries, its choices in the
// preferences (a mapping per controller), its dialog, and the fastest rate while a button is
// held.
#include "controller.h"
#include "controllerdialog.h"
#include "gamepad.h"
#include "ontop.h"
#include "preferences.h"

#include <QAction>
#include <QPointer>
#include <cmath>
#include <optional>

namespace skyjog {

namespace {

class PadController : public QObject, public Controller {
public:
    PadController(ControllerHooks hooks, Preferences& prefs, QAction* toggle, QAction* dialogEntry)
        : hooks_(std::move(hooks)), prefs_(prefs), toggle_(toggle) {
        pad_ = new GamePad(
            {.arrowDown = hooks_.arrowDown,
             .arrowUp = hooks_.arrowUp,
             .holds = hooks_.holds,
             // The spiral runs inside the handler that starts it, serving events as it goes;
             // run from the controller's read it would keep the controller from being read
             // again (a timer or a notifier is not re-entered), so it starts from an event of
             // its own.
             .spiral = [this] { QMetaObject::invokeMethod(this, hooks_.spiral, Qt::QueuedConnection); },
             .allStop = hooks_.allStop,
             .rateStep = [this](int delta) { stepRates(delta); },
             .fastest = [this](bool held) { fastest(held); },
             .changed = [this] { showState(); },
             .mappingFor = [this](const QString& guid) { return mappingFor(guid); }},
            prefs_.get(Pref::ControllerDeadZone).toInt() / 100.0, this);
        connect(toggle_, &QAction::triggered, this, [this](bool on) { use(on); });
        connect(dialogEntry, &QAction::triggered, this, [this] { showDialog(); });
        pad_->setEnabled(prefs_.get(Pref::ControllerEnabled).toBool());
        showState();
    }
    ~PadController() override {
        delete dialog_.data();
        // Its holds end here, while the window's handlers can still send the stops.
        delete std::exchange(pad_, nullptr);
    }

    GamePad* gamePad() const override { return pad_; }
    void releaseAll() override { pad_->releaseAll(); }

private:
    void use(bool on) {
        pad_->setEnabled(on);
        prefs_.set(Pref::ControllerEnabled, on);
        rememberDeadZone();
        hooks_.savePreferences();
    }
    void rememberDeadZone() {
        prefs_.set(Pref::ControllerDeadZone, int(std::lround(pad_->deadZone() * 100)));
    }

    void showState() {
        if (!pad_ || !toggle_) return;
        QString text;
        if (pad_->isEnabled() && !pad_->isAvailable())
            text = QStringLiteral("Game &Controller (not available: %1)").arg(pad_->lastError());
        else if (pad_->isConnected())
            text = QStringLiteral("Game &Controller: %1").arg(pad_->controllerName());
        else if (pad_->isEnabled())
            text = QStringLiteral("Game &Controller (none connected)");
        else
            text = QStringLiteral("Game &Controller (off)");
        toggle_->setText(text);
        toggle_->setChecked(pad_->isEnabled());
        if (dialog_) dialog_->refresh();
    }

    PadMapping mappingFor(const QString& guid) const {
        return PadMapping::fromText(prefs_.get(Pref::ControllerMapping, guid).toString())
            .value_or(PadMapping::standard());
    }

    void showDialog() {
        if (!dialog_) {
            dialog_ = new ControllerDialog(
                *pad_, {.mappingChanged =
                            [this](const PadMapping& m) {
                                if (pad_->guid().isEmpty()) return;
                                prefs_.set(Pref::ControllerMapping, m.toText(), pad_->guid());
                                hooks_.savePreferences();
                            },
                        .deadZoneChanged =
                            [this] {
                                rememberDeadZone();
                                hooks_.savePreferences();
                            }});
        }
        bringForward(dialog_);
        SetOnTop(dialog_, true);
    }

    // Past either end of its list a step does nothing.
    void stepRates(int delta) {
        const ControllerHooks::RateLists r = hooks_.rateLists();
        const auto step = [&](int i) { return i + delta >= 0 && i + delta < r.count ? i + delta : i; };
        hooks_.pickRates(step(r.alt), step(r.az));
    }

    // While held, every press starts at the fastest rate; a slew already running keeps the rate
    // it started with. Let go, each list goes back to its entry, unless the user picked another
    // meanwhile.
    void fastest(bool held) {
        const ControllerHooks::RateLists r = hooks_.rateLists();
        const int last = r.count - 1;
        if (held) {
            before_ = {r.alt, r.az};
            hooks_.pickRates(last, last);
            return;
        }
        if (!before_) return;
        const auto [alt, az] = *std::exchange(before_, std::nullopt);
        hooks_.pickRates(r.alt == last ? alt : r.alt, r.az == last ? az : r.az);
    }

    ControllerHooks hooks_;
    Preferences& prefs_;
    QAction* toggle_;
    GamePad* pad_ = nullptr;
    QPointer<ControllerDialog> dialog_;
    std::optional<std::pair<int, int>> before_;
};

} // namespace

std::unique_ptr<Controller> makeController(ControllerHooks hooks, Preferences& prefs,
                                           QAction*& toggle, QAction*& dialogEntry) {
    return std::make_unique<PadController>(std::move(hooks), prefs, toggle, dialogEntry);
}

} // namespace skyjog
