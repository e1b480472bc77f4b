// Random use of the whole window against the simulated mount, looking for a motor left running:
// key and button presses and releases, menus, lists and context menus opened and closed, the
// focus lost and regained, a port that fails for a while (boxes), spirals started and stopped,
// Reverse, list picks, time passing, and (with controller support) a game controller's D-pad,
// stick, diagonals, all-stop and spiral buttons, unplugged and plugged in again; and programs
// sharing the mount, which connect, move an axis, stop it, poll, set the tracking mode and
// vanish. After each sequence, once nothing is held and no spiral runs, no axis may be slewing
// unless a box told the user that its stop did not get through or a client still connected
// moved it last, and the next press and release must work as usual.
//
//   SKYJOG_RANDOM_SEQUENCES=N   how many sequences (default 2000)
//   SKYJOG_RANDOM_SEED=S        the first sequence's seed (default 1); sequence i uses S + i
//   SKYJOG_RANDOM_REPLAY="..."  one sequence, as a failure prints it
//   SKYJOG_RANDOM_LOSS=P:S      with REPLAY: the share of commands the line loses and its seed
//   SKYJOG_RANDOM_TRACE=1       each step as it is played, with what is open and held
#include "arrowbutton.h"
#include "backends.h"
#include "loopclient.h"
#include "padfixture.h"
#include "vberror.h"

#include <QAbstractItemView>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <random>

#ifdef SKYJOG_HAVE_SDL2
#include "gamepad.h"
#include "virtualcontroller.h"
#endif

using namespace skyjog;
using namespace skyjog::test;

namespace {

enum class Kind {
    KeyDown,    // a: 0-3 arrows, 4 S
    KeyUp,      // a: as KeyDown
    KeyRepeat,  // a: 0-3; b: 1 flagged as auto-repeat, 0 not (X11 release and press pairs)
    MouseDown,  // a: arrow button 0-3; b: 0 left, 1 right
    MouseUp,    // b: mouse button
    Spiral,     // a click on the spiral button
    Menu,       // a: 0 File, 1 Tools, 2 Help; b: 0 by the mouse, 1 by its access key
    List,       // a: 0 altitude rate, 1 azimuth rate, 2 tracking; opens its popup
    Pick,       // a: list; b: entry, picked with the mouse (opening the popup first)
    Context,    // a: 0 port, 1 width, 2 delay box; a context menu opens on it
    Escape,     // to whatever has the keyboard
    FocusAway,  // another program's window is activated
    FocusBack,
    PortFails,  // every command fails until PortWorks
    PortWorks,
    Reverse,    // a: 0 Left/Right, 1 Up/Down
    Wait,       // a: milliseconds
    PadDown,    // a: arrow 0-3; b: 0 D-pad, 1 stick
    PadUp,      // a, b: as PadDown
    PadDiagonal, // a: 0-3 quarter, pushed on the stick
    PadButton,  // a: 0 A (spiral), 1 B (all-stop), 2 Back, 3 and 4 shoulders; pressed and let go
    PadUnplug,  // unplugged, or plugged in again
    ClientConnect, // a: client 0 or 1 connects (at most nine connections a sequence)
    ClientMove,    // a: client; b: arrow 0-3, at a fixed rate telling its connection apart
    ClientStop,    // a: client; b: 0 Up/Down, 1 Left/Right
    ClientPoll,    // a: client; b: 0 Z, 1 e
    ClientTrack,   // a: client; b: tracking mode 0-3
    ClientVanish,  // a: client; its connection breaks
    Count
};

const char* const KindNames[] = {"kd", "ku", "kr",  "md", "mu", "sp", "mn",  "ls", "pk",
                                 "cx", "es", "fa",  "fb", "pf", "pw", "rv", "wt",
                                 "gd", "gu", "gg", "gb", "gx", "cc", "cm", "cs", "cp",
                                 "ct", "cv"};
static_assert(std::size(KindNames) == size_t(Kind::Count));

struct Step {
    Kind kind;
    int a = 0;
    int b = 0;
};

QString format(const std::vector<Step>& steps) {
    QStringList out;
    for (const Step& s : steps)
        out << QStringLiteral("%1:%2:%3").arg(QLatin1String(KindNames[int(s.kind)])).arg(s.a).arg(s.b);
    return out.join(u' ');
}

std::vector<Step> parse(const QString& text) {
    std::vector<Step> steps;
    for (const QString& token : text.split(u' ', Qt::SkipEmptyParts)) {
        const QStringList parts = token.split(u':');
        const auto* name = std::find_if(std::begin(KindNames), std::end(KindNames), [&](const char* n) {
            return parts.value(0) == QLatin1String(n);
        });
        if (name == std::end(KindNames) || parts.size() != 3) continue;
        steps.push_back({Kind(name - std::begin(KindNames)), parts[1].toInt(), parts[2].toInt()});
    }
    return steps;
}

std::vector<Step> randomSteps(std::mt19937& rng) {
    // Weights: holds and releases most, the rest now and then.
    static const std::pair<Kind, int> weights[] = {
        {Kind::KeyDown, 14}, {Kind::KeyUp, 12},    {Kind::KeyRepeat, 6}, {Kind::MouseDown, 8},
        {Kind::MouseUp, 7},  {Kind::Spiral, 4},    {Kind::Menu, 4},      {Kind::List, 2},
        {Kind::Pick, 3},     {Kind::Context, 2},   {Kind::Escape, 4},    {Kind::FocusAway, 3},
        {Kind::FocusBack, 3}, {Kind::PortFails, 2}, {Kind::PortWorks, 3}, {Kind::Reverse, 2},
        {Kind::Wait, 14},
        {Kind::ClientConnect, 6}, {Kind::ClientMove, 10}, {Kind::ClientStop, 2},
        {Kind::ClientPoll, 3}, {Kind::ClientTrack, 1}, {Kind::ClientVanish, 4},
#ifdef SKYJOG_HAVE_SDL2
        {Kind::PadDown, 10}, {Kind::PadUp, 9}, {Kind::PadDiagonal, 3}, {Kind::PadButton, 4},
        {Kind::PadUnplug, 2},
#endif
    };
    int total = 0;
    for (const auto& [kind, weight] : weights)
        total += weight;
    std::uniform_int_distribution<int> length(8, 40);
    std::vector<Step> steps(size_t(length(rng)), Step{Kind::Wait});
    for (Step& s : steps) {
        int pick = std::uniform_int_distribution<int>(0, total - 1)(rng);
        for (const auto& [kind, weight] : weights) {
            if (pick < weight) {
                s.kind = kind;
                break;
            }
            pick -= weight;
        }
        auto upTo = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
        switch (s.kind) {
        case Kind::KeyDown:
        case Kind::KeyUp:
            s.a = upTo(5);
            break;
        case Kind::KeyRepeat:
        case Kind::MouseDown:
        case Kind::PadDown:
        case Kind::PadUp:
            s.a = upTo(4);
            s.b = upTo(2);
            break;
        case Kind::PadDiagonal:
            s.a = upTo(4);
            break;
        case Kind::PadButton:
            s.a = upTo(5);
            break;
        case Kind::MouseUp:
            s.b = upTo(2);
            break;
        case Kind::Menu:
            s.a = upTo(3);
            s.b = upTo(2);
            break;
        case Kind::List:
        case Kind::Context:
            s.a = upTo(3);
            break;
        case Kind::Pick:
            s.a = upTo(3);
            s.b = upTo(s.a == 2 ? 4 : 14);
            break;
        case Kind::Reverse:
        case Kind::ClientConnect:
        case Kind::ClientVanish:
            s.a = upTo(2);
            break;
        case Kind::ClientMove:
        case Kind::ClientTrack:
            s.a = upTo(2);
            s.b = upTo(4);
            break;
        case Kind::ClientStop:
        case Kind::ClientPoll:
            s.a = upTo(2);
            s.b = upTo(2);
            break;
        case Kind::Wait:
            s.a = std::uniform_int_distribution<int>(1, 1500)(rng);
            break;
        default:
            break;
        }
    }
    return steps;
}

// The line to the simulated mount, which fails every command while the port is "pulled" and
// remembers every command the program tried to send, and whether it got through.
struct Attempt {
    QByteArray bytes;
    bool sent;
};
class FlakyLine {
public:
    bool failing = false;
    std::vector<Attempt> attempts;

    BackendFactory factory() {
        return [this](const PortSpec& spec) -> std::unique_ptr<SerialBackend> {
            return std::make_unique<Backend>(*this, makeDefaultBackend(spec));
        };
    }

private:
    class Backend final : public SerialBackend {
    public:
        Backend(FlakyLine& line, std::unique_ptr<SerialBackend> inner)
            : line_(line), inner_(std::move(inner)) {}
        void open(const LineSettings& l, const QDeadlineTimer& d) override { inner_->open(l, d); }
        void close() override { inner_->close(); }
        bool isOpen() const override { return inner_->isOpen(); }
        QByteArray read(int maxChars) override { return inner_->read(maxChars); }
        void write(const QByteArray& data, const QDeadlineTimer& d) override {
            line_.attempts.push_back({data, !line_.failing});
            if (line_.failing)
                throw VbError(err::WriteFailed, QStringLiteral("Cannot write to the mount"));
            inner_->write(data, d);
        }

    private:
        FlakyLine& line_;
        std::unique_ptr<SerialBackend> inner_;
    };
};

const int ArrowKeys[] = {Qt::Key_Up, Qt::Key_Down, Qt::Key_Left, Qt::Key_Right, Qt::Key_S};

class Run {
public:
    // loseShare: the share of commands the line loses (no effect, no reply), in a sequence fixed
    // by loseSeed.
    Run(const std::vector<Step>& steps, bool detectable, double loseShare = 0, uint32_t loseSeed = 1)
        : steps_(steps) {
        Settings s = Pad::simSettings();
        pad_.writeSettings(s);
#ifdef SKYJOG_HAVE_SDL2
        controller_ = std::make_unique<VirtualController>();
#endif
        w_ = &pad_.start();
        w_->setKeyRepeat(detectable ? Interface::KeyRepeat::Detectable
                                    : Interface::KeyRepeat::ReleasePairs);
        w_->show();
        QApplication::setActiveWindow(w_);
        sim::Options o;
        o.revertMs = 0; // a slew left running stays running, to be seen
        o.loseShare = loseShare;
        o.loseSeed = loseSeed;
        sim::sharedMountSim().reset(o);
        Comm1().setBackendFactory(line_.factory());
        other_.setAttribute(Qt::WA_ShowWithoutActivating);
        other_.show();
        // A box the program waits for holds it up while the user reads it.
        pad_.reports.onReport = [this](const ReportRecorder::Box& b) {
            if (b.waited) pad_.clock.advance(uint32_t(700 + 37 * pad_.reports.boxes.size() % 900));
        };
    }
    ~Run() {
        Comm1().setBackendFactory({});
        StopSpiral = true;
    }

    // Plays the steps, then lets go of everything; empty when all is well, else what went wrong.
    QString play() {
        post();
        // The spiral runs inside the step that started it and plays the later steps from its
        // polls; out here, time moves a millisecond at a time.
        while (!done_) {
            QCoreApplication::processEvents();
            if (!done_) pad_.clock.advance(1);
        }
        return check();
    }

private:
    void post() {
        QMetaObject::invokeMethod(qApp, [this] { next(); }, Qt::QueuedConnection);
    }
    void next() {
        if (index_ >= steps_.size()) {
            // A spiral the controller's A asked for starts from an event of its own, which may
            // still wait behind this one: it begins, and is then stopped, like any other.
            if (!lastTurn_) {
                lastTurn_ = true;
                post();
                return;
            }
            if (!cleaning_) {
                cleaning_ = true;
                letGo();
            }
            done_ = StopSpiral;
            if (!done_) post(); // wait for the spiral to see its stop
            return;
        }
        const Step s = steps_[index_++];
        if (s.kind == Kind::Wait) {
            pad_.clock.at(pad_.clock.now() + uint32_t(s.a), [this] { post(); });
            return;
        }
        post();
        perform(s);
    }

    QWidget* keyTarget() const {
        if (QWidget* popup = QApplication::activePopupWidget()) return popup;
        if (QWidget* focus = QApplication::focusWidget()) return focus;
        if (QWidget* active = QApplication::activeWindow()) return active;
        return const_cast<QWidget*>(static_cast<const QWidget*>(&other_));
    }
    ArrowButton* button(int i) const {
        ArrowButton* b[] = {w_->cmdUp, w_->cmdDown, w_->cmdLeft, w_->cmdRight};
        return b[i];
    }
    QComboBox* list(int i) const {
        QComboBox* l[] = {w_->cmbAltRate, w_->cmbAzRate, w_->cmbTrackMode};
        return l[i];
    }
    // A click with the pointer somewhere else closes an open popup and goes no further.
    bool popupSwallowsClick() {
        if (QWidget* popup = QApplication::activePopupWidget()) {
            popup->close();
            return true;
        }
        return false;
    }
    static Qt::MouseButton mouseButton(int b) { return b == 0 ? Qt::LeftButton : Qt::RightButton; }

    void perform(const Step& s) {
        if (qEnvironmentVariableIsSet("SKYJOG_RANDOM_TRACE"))
            qInfo("%s popup=%s held=%d%d%d%d", KindNames[int(s.kind)],
                  QApplication::activePopupWidget()
                      ? QApplication::activePopupWidget()->metaObject()->className()
                      : "-",
                  button(0)->isHeld(), button(1)->isHeld(), button(2)->isHeld(), button(3)->isHeld());
        switch (s.kind) {
        case Kind::KeyDown:
            if (keysDown_.contains(s.a)) return; // a key already down cannot go down again
            keysDown_.insert(s.a);
            pad_.key(keyTarget(), QEvent::KeyPress, ArrowKeys[s.a]);
            return;
        case Kind::KeyUp:
            if (!keysDown_.remove(s.a)) return;
            pad_.key(keyTarget(), QEvent::KeyRelease, ArrowKeys[s.a]);
            return;
        case Kind::KeyRepeat:
            if (!keysDown_.contains(s.a)) return;
            if (s.b)
                pad_.repeat(keyTarget(), ArrowKeys[s.a], true);
            else
                pad_.key(keyTarget(), QEvent::KeyPress, ArrowKeys[s.a], true);
            return;
        case Kind::MouseDown: {
            const Qt::MouseButton mb = mouseButton(s.b);
            if (mouseButtons_ & mb) return;
            if (mouseButtons_ && heldButton_ != s.a) return; // the pointer is on another button
            // An open popup has the mouse: the press goes to it, and closes it.
            if (popupSwallowsClick()) return;
            mouseButtons_ |= mb;
            heldButton_ = s.a;
            QTest::mousePress(button(s.a), mb);
            return;
        }
        case Kind::MouseUp: {
            const Qt::MouseButton mb = mouseButton(s.b);
            if (!(mouseButtons_ & mb)) return;
            mouseButtons_ &= ~mb;
            QWidget* grabber = QApplication::activePopupWidget();
            if (!grabber) grabber = button(heldButton_);
            QMouseEvent up(QEvent::MouseButtonRelease, QPointF(3, 3),
                           grabber->mapToGlobal(QPointF(3, 3)), mb, mouseButtons_, {});
            QApplication::sendEvent(grabber, &up);
            return;
        }
        case Kind::Spiral:
            if (mouseButtons_ || popupSwallowsClick()) return;
            QTest::mouseClick(w_->cmdSpiral, Qt::LeftButton);
            return;
        case Kind::Menu: {
            QMenu* menus[] = {w_->mnuFile, w_->mnuTools, w_->mnuHelp};
            QMenu* menu = menus[s.a];
            if (s.b == 0) {
                if (mouseButtons_ || popupSwallowsClick()) return;
                QMenuBar* bar = w_->menuBar();
                QTest::mouseClick(bar, Qt::LeftButton, {},
                                  bar->actionGeometry(menu->menuAction()).center());
            } else {
                const int keys[] = {Qt::Key_F, Qt::Key_T, Qt::Key_H};
                QTest::keyClick(keyTarget(), Qt::Key(keys[s.a]), Qt::AltModifier);
            }
            return;
        }
        case Kind::List:
            if (mouseButtons_ || popupSwallowsClick()) return;
            list(s.a)->showPopup();
            return;
        case Kind::Pick: {
            if (mouseButtons_) return;
            QComboBox* l = list(s.a);
            if (QApplication::activePopupWidget() != l->view()->window() && popupSwallowsClick())
                return;
            if (!l->view()->isVisible()) l->showPopup();
            QAbstractItemView* view = l->view();
            const QRect r = view->visualRect(view->model()->index(s.b, 0));
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, r.center());
            return;
        }
        case Kind::Context: {
            if (mouseButtons_ || popupSwallowsClick()) return;
            QLineEdit* boxes[] = {w_->txtCommPort, w_->txtWidth, w_->txtCornerDelay};
            QContextMenuEvent e(QContextMenuEvent::Mouse, QPoint(4, 4),
                                boxes[s.a]->mapToGlobal(QPoint(4, 4)));
            QApplication::sendEvent(boxes[s.a], &e);
            return;
        }
        case Kind::Escape:
            QTest::keyClick(keyTarget(), Qt::Key_Escape);
            return;
        case Kind::FocusAway:
            QApplication::setActiveWindow(&other_);
            return;
        case Kind::FocusBack:
            if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
            QApplication::setActiveWindow(w_);
            return;
        case Kind::PortFails:
            line_.failing = true;
            return;
        case Kind::PortWorks:
            line_.failing = false;
            return;
        case Kind::Reverse:
            if (mouseButtons_ || popupSwallowsClick()) return;
            QTest::mouseClick(s.a == 0 ? w_->cmdRevLR : w_->cmdRevUD, Qt::LeftButton);
            return;
        case Kind::PadDown:
        case Kind::PadUp:
        case Kind::PadDiagonal:
        case Kind::PadButton:
        case Kind::PadUnplug:
            performOnController(s);
            return;
        case Kind::ClientConnect:
        case Kind::ClientMove:
        case Kind::ClientStop:
        case Kind::ClientPoll:
        case Kind::ClientTrack:
        case Kind::ClientVanish:
            performAsClient(s);
            return;
        case Kind::Wait:
        case Kind::Count:
            return;
        }
    }

    void performAsClient(const Step& s) {
        Connection& c = clients_[size_t(s.a)];
        if (s.kind == Kind::ClientConnect) {
            if (c.client || generations_ == 9) return;
            c = {connectLoop(w_->share(), QStringLiteral("client %1").arg(s.a)), ++generations_};
            return;
        }
        if (!c.client) return;
        switch (s.kind) {
        case Kind::ClientMove: {
            // The rate is the connection's number: the check tells whose move is on the line.
            const uint8_t motor = s.b < 2 ? Alt : Az;
            const uint8_t id = s.b % 2 == 0 ? cmd::MsgFixedPositive : cmd::MsgFixedNegative;
            c.client->send(cmd::passThrough(2, motor, id, uint8_t(c.generation), 0, 0));
            return;
        }
        case Kind::ClientStop:
            c.client->send(Stop(s.b == 0 ? Alt : Az));
            return;
        case Kind::ClientPoll:
            c.client->send(s.b == 0 ? "Z" : "e");
            return;
        case Kind::ClientTrack:
            c.client->send(T(uint8_t(s.b)));
            return;
        case Kind::ClientVanish:
            c.client->vanish();
            c = {};
            return;
        default:
            return;
        }
    }

#ifdef SKYJOG_HAVE_SDL2
    void performOnController(const Step& s) {
        static const SDL_GameControllerButton dpad[] = {
            SDL_CONTROLLER_BUTTON_DPAD_UP, SDL_CONTROLLER_BUTTON_DPAD_DOWN,
            SDL_CONTROLLER_BUTTON_DPAD_LEFT, SDL_CONTROLLER_BUTTON_DPAD_RIGHT};
        static const SDL_GameControllerButton buttons[] = {
            SDL_CONTROLLER_BUTTON_A, SDL_CONTROLLER_BUTTON_B, SDL_CONTROLLER_BUTTON_BACK,
            SDL_CONTROLLER_BUTTON_LEFTSHOULDER, SDL_CONTROLLER_BUTTON_RIGHTSHOULDER};
        if (s.kind == Kind::PadUnplug) {
            if (controller_)
                controller_.reset();
            else
                controller_ = std::make_unique<VirtualController>();
        } else if (!controller_) {
            return;
        } else if (s.kind == Kind::PadDown || s.kind == Kind::PadUp) {
            const bool down = s.kind == Kind::PadDown;
            if (s.b == 0) {
                controller_->button(dpad[s.a], down);
            } else {
                // Up and Left are the negative ends of the stick's axes.
                const auto axis = s.a < 2 ? SDL_CONTROLLER_AXIS_LEFTY : SDL_CONTROLLER_AXIS_LEFTX;
                controller_->axis(axis, down ? (s.a % 2 == 0 ? -0.9 : 0.9) : 0.0);
            }
        } else if (s.kind == Kind::PadDiagonal) {
            controller_->axis(SDL_CONTROLLER_AXIS_LEFTY, s.a < 2 ? -0.8 : 0.8);
            controller_->axis(SDL_CONTROLLER_AXIS_LEFTX, s.a % 2 == 0 ? -0.8 : 0.8);
        } else {
            controller_->button(buttons[s.a], true);
            pollController();
            controller_->button(buttons[s.a], false);
        }
        pollController();
    }
    void pollController() {
        if (GamePad* g = w_->gamePad()) g->poll();
    }
#else
    void performOnController(const Step&) {}
#endif

    // The user lets go of every key and button, closes what is open, comes back to the window,
    // the port works again and a spiral still running is stopped.
    void letGo() {
        for (int k : keysDown_)
            pad_.key(keyTarget(), QEvent::KeyRelease, ArrowKeys[k]);
        keysDown_.clear();
        for (int b : {0, 1}) {
            if (mouseButtons_ & mouseButton(b)) perform({Kind::MouseUp, 0, b});
        }
#ifdef SKYJOG_HAVE_SDL2
        for (int a = 0; a < 4; ++a) {
            perform({Kind::PadUp, a, 0});
            perform({Kind::PadUp, a, 1});
        }
#endif
        while (QWidget* popup = QApplication::activePopupWidget())
            popup->close();
        QApplication::setActiveWindow(w_);
        line_.failing = false;
        if (!StopSpiral) QTest::mouseClick(w_->cmdSpiral, Qt::LeftButton);
    }

    QString check() {
        pad_.settle();
        // What clients sent last goes out, and the stops of those that went.
        for (int i = 0; i < 5000 && w_->share().server().waiting() > 0; ++i) {
            QCoreApplication::processEvents();
            pad_.clock.advance(1);
        }
        if (w_->share().server().waiting() > 0) return QStringLiteral("client commands never went out");
        for (int i = 0; i < 50; ++i) {
            QCoreApplication::processEvents();
            pad_.clock.advance(1);
        }
        // What the sequence left is judged on a line that loses nothing more.
        sim::sharedMountSim().options().loseShare = 0;
        if (pad_.clock.overran()) return QStringLiteral("the test clock ran past its limit");
        if (w_->KeyIsDown()) return QStringLiteral("KeyIsDown is still set");
        for (int i = 0; i < 4; ++i) {
            if (button(i)->isHeld())
                return QStringLiteral("arrow button %1 still held with no mouse button down").arg(i);
            if (button(i)->isDown())
                return QStringLiteral("arrow button %1 shown pressed with nothing holding it").arg(i);
        }
        // What reached the mount, replayed: a slew sets its axis moving; a stop, or a tracking
        // mode, ends that. A stop or tracking mode that did not get through excuses the axis it
        // was for, provided the user was told.
        bool moving[2] = {false, false};
        bool excused[2] = {false, false};
        // The connection whose fixed-rate move set the axis moving; 0 for the pad's slew.
        int mover[2] = {0, 0};
        // The commands that reached the mount, in order, and whether the line lost each.
        QVector<bool> lost;
        for (const sim::LogEntry& e : sim::sharedMountSim().log())
            if (e.fromClient) lost << e.note.endsWith(QLatin1String("lost on the line"));
        qsizetype received = 0;
        for (const Attempt& attempt : line_.attempts) {
            // A command the line lost counts as one that did not get through.
            Attempt a = attempt;
            if (a.sent && received < lost.size() && lost[received++]) a.sent = false;
            const QByteArray& c = a.bytes;
            const bool stop = cmd::isMotorStop(c);
            const bool fixed = !stop && c.size() == 8 && c[0] == 'P' && c[1] == 2 &&
                               (c[3] == cmd::MsgFixedPositive || c[3] == cmd::MsgFixedNegative);
            const bool slew = (c.size() == 8 && c[0] == 'P' && c[1] == 3) || fixed;
            const bool tracking = c.size() == 2 && c[0] == 'T';
            const int axis = c.size() == 8 && uint8_t(c[2]) == Alt ? 1 : 0;
            if (a.sent) {
                if (slew) {
                    moving[axis] = true;
                    excused[axis] = false;
                    mover[axis] = fixed ? int(uint8_t(c[4])) : 0;
                } else if (stop) {
                    moving[axis] = false;
                } else if (tracking) {
                    moving[0] = moving[1] = false;
                }
            } else if (stop && moving[axis]) {
                excused[axis] = true;
            }
        }
        const QString boxes = pad_.reports.texts().join(u'\n');
        const bool portTold = boxes.contains(QStringLiteral("; the mount may still be moving"));
        for (int axis : {0, 1}) {
            const uint8_t motor = axis == 1 ? Alt : Az;
            const Arrow arrow = axis == 1 ? Arrow::Up : Arrow::Left;
            if (sim::sharedMountSim().axisMoving(motor) != moving[axis])
                return QStringLiteral("the mount's motor %1 is not where its commands left it")
                    .arg(motor);
            // Told: the port's failure, or the unconfirmed stop of this very axis, still shown
            // on its arrows.
            const bool told =
                portTold ||
                (boxes.contains(StopNotConfirmedText.arg(axisName(axisOf(arrow)))) &&
                 w_->buttonFor(arrow)->showsUnconfirmed());
            const bool clientHolds =
                mover[axis] != 0 &&
                std::any_of(clients_.begin(), clients_.end(),
                            [&](const Connection& c) { return c.client && c.generation == mover[axis]; });
            if (moving[axis] && !(excused[axis] && told) && !clientHolds)
                return QStringLiteral("motor %1 left slewing with nobody holding it").arg(motor);
        }
        // The next press is a press like any other.
        const uint8_t mode = w_->trackingMode();
        sim::sharedMountSim().clearLog();
        pad_.key(w_, QEvent::KeyPress, Qt::Key_Right);
        pad_.key(w_, QEvent::KeyRelease, Qt::Key_Right);
        pad_.settle();
        QVector<QByteArray> expected;
        if (mode == 1) expected << T(0);
        expected << Slew(Az, uint8_t(w_->RightMessage), uint8_t(w_->AzRateHigh),
                         uint8_t(w_->AzRateLow))
                 << Stop(Az) << T(mode);
        if (pad_.takeSent() != expected) return QStringLiteral("the next press did not work as usual");
        return {};
    }

    std::vector<Step> steps_;
    size_t index_ = 0;
    bool lastTurn_ = false;
    bool cleaning_ = false;
    bool done_ = false;
    Pad pad_;
    Interface* w_ = nullptr;
    QWidget other_;
    FlakyLine line_;
    QSet<int> keysDown_;
    Qt::MouseButtons mouseButtons_;
    int heldButton_ = -1;
    struct Connection {
        QPointer<LoopClient> client;
        int generation = 0;
    };
    std::array<Connection, 2> clients_;
    int generations_ = 0;
#ifdef SKYJOG_HAVE_SDL2
    std::unique_ptr<VirtualController> controller_;
#endif
};

int envInt(const char* name, int fallback) {
    bool ok = false;
    const int v = qEnvironmentVariableIntValue(name, &ok);
    return ok ? v : fallback;
}

} // namespace

class TestPadRandom : public QObject {
    Q_OBJECT
private slots:
#ifdef SKYJOG_HAVE_SDL2
    void initTestCase() { QVERIFY2(startControllers(), SDL_GetError()); }
    void cleanupTestCase() { SDL_Quit(); }
#endif
    void noMotorLeftRunning() {
        const QString replay = qEnvironmentVariable("SKYJOG_RANDOM_REPLAY");
        if (!replay.isEmpty()) {
            const QString detect = qEnvironmentVariable("SKYJOG_RANDOM_DETECTABLE", "1");
            const QStringList loss = qEnvironmentVariable("SKYJOG_RANDOM_LOSS", "0:1").split(':');
            Run run(parse(replay), detect != QLatin1String("0"), loss.value(0).toDouble(),
                    loss.value(1).toUInt());
            const QString failure = run.play();
            QVERIFY2(failure.isEmpty(), qPrintable(failure));
            return;
        }
        const int sequences = envInt("SKYJOG_RANDOM_SEQUENCES", 2000);
        const int seed = envInt("SKYJOG_RANDOM_SEED", 1);
        QElapsedTimer took;
        took.start();
        for (int i = 0; i < sequences; ++i) {
            std::mt19937 rng(uint32_t(seed + i));
            const bool detectable = (rng() & 3) != 0;
            const std::vector<Step> steps = randomSteps(rng);
            // Two sequences in three play on a line that loses commands: 10 % of them, or 40 %,
            // where a stop and its restore are now and then lost every time they are sent.
            const double loseShare = std::array{0.0, 0.1, 0.4}[size_t((seed + i) % 3)];
            QString failure;
            {
                Run run(steps, detectable, loseShare, uint32_t(seed + i));
                failure = run.play();
            }
            if (!failure.isEmpty())
                QFAIL(qPrintable(QStringLiteral("sequence %1 (seed %2): %3\n"
                                                "replay: SKYJOG_RANDOM_DETECTABLE=%4 "
                                                "SKYJOG_RANDOM_LOSS=%6:%2 "
                                                "SKYJOG_RANDOM_REPLAY=\"%5\"")
                                     .arg(i)
                                     .arg(seed + i)
                                     .arg(failure)
                                     .arg(detectable ? 1 : 0)
                                     .arg(format(steps))
                                     .arg(loseShare)));
        }
        qInfo("%d sequences in %lld ms", sequences, static_cast<long long>(took.elapsed()));
    }
};

QTEST_MAIN(TestPadRandom)
#include "test_padrandom.moc"
