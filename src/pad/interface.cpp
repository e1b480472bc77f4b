#include "interface.h"

#include "arrowbutton.h"
#include "commands.h"
#include "convert.h"
#include "fonts.h"
#include "functions.h"
#include "infowindows.h"
#include "laststops.h"
#include "nightlook.h"
#include "ontop.h"
#include "placement.h"
#include "porttext.h"
#include "positionwindow.h"
#include "preferences.h"
#include "report.h"
#include "setupscope.h"
#include "twips.h"
#include "updown.h"
#include "vberror.h"

#ifdef SKYJOG_HAVE_SDL2
#include "gamepad.h"
#endif

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cmath>

namespace skyjog {

namespace {

// The rate lists' entries: text and rate value in quarter arc-seconds per second.
struct RateEntry {
    const char* text;
    int value;
};
const std::array<RateEntry, 14> Rates = {{
    {".5x", 30},
    {"1x", 60},
    {"2x", 120},
    {"4x", 240},
    {"8x", 480},
    {"16x", 960},
    {"32x", 1920},
    {"64x", 3840},
    {"128x", 7680},
    {"1 deg/sec", 14400},
    {"1.5 deg/sec", 21600},
    {"2 deg/sec", 28800},
    {"2.5 deg/sec", 36000},
    {"3 deg/sec", 43200},
}};

const std::array<const char*, 4> TrackModes = {"Off", "Alt/Az", "EQ North", "EQ South"};

const QString PortLineSettings = QStringLiteral("9600,N,8,1");

const QString NightVisionKey = QStringLiteral("view/nightVision");
const QString PositionXKey = QStringLiteral("position/x");
const QString PositionYKey = QStringLiteral("position/y");
const QString PositionOpenKey = QStringLiteral("position/open");

void send(const QByteArray& command) {
    SendCommand(command, cmd::AckLength, cmd::TimeoutMs);
}

// A value that goes into a command as one byte; anything else is refused as an invalid argument
// rather than cut down to a byte the user never chose.
uint8_t commandByte(int v) {
    if (v < 0 || v > 255) throw err::invalidArgument();
    return uint8_t(v);
}

// Runs one event handler: a failure inside it ends it with the standard message.
template <typename F> void handler(F&& f) {
    try {
        f();
    } catch (const VbError& e) {
        reportError(e);
    }
}

// Turns a pair of arrows round: the first slews positive unless it already did, the second the
// other way.
void reverseArrows(int16_t& first, int16_t& second) {
    const bool wasPositive = first == cmd::MsgSlewPositive;
    first = wasPositive ? cmd::MsgSlewNegative : cmd::MsgSlewPositive;
    second = wasPositive ? cmd::MsgSlewPositive : cmd::MsgSlewNegative;
}

uint8_t motorOf(Arrow a) {
    return (a == Arrow::Up || a == Arrow::Down) ? cmd::AltMotor : cmd::AzMotor;
}

size_t axisOf(Arrow a) {
    return motorOf(a) == cmd::AltMotor ? 0 : 1;
}

const QString ControllerEnabledKey = QStringLiteral("controller/enabled");
const QString ControllerDeadZoneKey = QStringLiteral("controller/deadZone");

} // namespace

Interface::Interface(SettingsLocation location, QWidget* parent)
    : QMainWindow(parent), location_(std::move(location)),
      programEnd_([] { QCoreApplication::exit(0); }), prefs_(location_.userDir()),
      keys_(*this, {.arrowDown = [this](Arrow a) { return Form_KeyDown(a); },
                    .arrowUp = [this](Arrow a) { Form_KeyUp(a); },
                    .spiralKey = [this] { cmdSpiral_Click(); },
                    .popupOpened = [this] { popupOpened(); }}) {
    setObjectName(QStringLiteral("Interface"));
    setWindowTitle(QStringLiteral("Skyjog"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    // Small enough for captions 13 pixels high (the option buttons), narrow enough for "Always on
    // top" beside its box in 87 pixels.
    setFont(condensedFont(11));
    buildControls(*this);
    connectHandlers();
    layout()->activate(); // fixed to its size before it is first shown
    // The port box takes names as well as numbers ("sim", "/dev/ttyS0", host names).
    keys_.setLetterBox(txtCommPort);
    qApp->installEventFilter(&keys_);
    txtCommPort->installEventFilter(this);
    setPositionHost({.idle = [this] { return idleForReadings(); },
                     .place =
                         [this](QWidget& window) {
                             if (!prefs_.value(PositionXKey).isValid()) return;
                             window.move(prefs_.value(PositionXKey, 0).toInt(),
                                         prefs_.value(PositionYKey, 0).toInt());
                             // As the pad itself: back from a screen that is gone.
                             bringOntoAScreen(window);
                         },
                     .closedAt =
                         [this](const QPoint& place) {
                             if (unloading_) return;
                             remember(PositionXKey, place.x());
                             remember(PositionYKey, place.y());
                             remember(PositionOpenKey, false);
                             savePreferences();
                         }});
    Form_Load();
    setupGamePad();
    setLastStops([this] { stopWhatStillMoves(); });
}

Interface::~Interface() {
    setLastStops({});
    qApp->removeEventFilter(&keys_);
    setPositionHost({});
    // The controller's holds end with the window, while its handlers can still send the stops.
    endGamePad();
    // A window that goes without being closed ends its holds too, while it still can. The
    // buttons are hidden as the window's children are torn down, after this object's own
    // members are gone: nothing they report then may reach its handlers.
    releaseLostHolds();
    for (ArrowButton* b : arrowButtons())
        b->disconnect(this);
}

void Interface::connectHandlers() {
    // A list raises its selection event on a user's pick (activated), never on Qt's own
    // selection of the first entry; an option button on every click, also on the one already
    // selected.
    connect(cmbAltRate, &QComboBox::activated, this, [this] { cmbAltRate_Click(); });
    connect(cmbAzRate, &QComboBox::activated, this, [this] { cmbAzRate_Click(); });
    connect(cmbTrackMode, &QComboBox::activated, this, [this] { cmbTrackMode_Click(); });
    connect(optOn, &QRadioButton::clicked, this, [this] { optOn_Click(); });
    connect(optOff, &QRadioButton::clicked, this, [this] { optOff_Click(); });
    connect(chkOnTop, &QCheckBox::stateChanged, this, [this] { chkOnTop_Click(); });
    connect(txtCommPort, &QLineEdit::textChanged, this, [this] { txtCommPort_Change(); });
    connect(txtWidth, &QLineEdit::textChanged, this, [this] { txtWidth_Change(); });
    connect(txtCornerDelay, &QLineEdit::textChanged, this, [this] { txtCornerDelay_Change(); });
    connect(UpDown3, &UpDown::changed, this, [this] { UpDown3_Change(); });
    connect(cmdRevLR, &QPushButton::clicked, this, [this] { cmdRevLR_Click(); });
    connect(cmdRevUD, &QPushButton::clicked, this, [this] { cmdRevUD_Click(); });
    connect(cmdSpiral, &QPushButton::clicked, this, [this] { cmdSpiral_Click(); });
    for (Arrow a : {Arrow::Up, Arrow::Down, Arrow::Left, Arrow::Right}) {
        connect(buttonFor(a), &ArrowButton::mouseDown, this, [this, a] { cmdArrow_MouseDown(a); });
        connect(buttonFor(a), &ArrowButton::mouseUp, this, [this, a] { cmdArrow_MouseUp(a); });
    }
    connect(mnuExit, &QAction::triggered, this, [this] { mnuExit_Click(); });
    connect(mnuSetup, &QAction::triggered, this, [this] { mnuSetup_Click(); });
    connect(mnuInstructions, &QAction::triggered, this, [this] { mnuInstructions_Click(); });
    connect(mnuAbout, &QAction::triggered, this, [this] { mnuAbout_Click(); });
    connect(mnuNightVision, &QAction::triggered, this, [this] { mnuNightVision_Click(); });
    connect(mnuPosition, &QAction::triggered, this, [this] { mnuPosition_Click(); });
    // The look can be changed from whichever of the program's windows the user is in.
    mnuNightVision->setShortcutContext(Qt::ApplicationShortcut);
}

// ---- start-up and shutdown ------------------------------------------------------------------

void Interface::Form_Load() {
    // 1. Whether the settings file exists is asked in step 4.
    // 2.
    InitSleepTime();
    // 3.
    SkipTrackModeClick = true;
    SkipPecOffClick = true;

    // 4. The window's settings hold the defaults until the file is read into them. A damaged
    // file is reported, and start-up goes on with what was read before the damage and the
    // defaults for the rest: the window must open usable and closable either way.
    const QString path = location_.readPath();
    if (!path.isEmpty()) {
        try {
            loadSettings(path, *this);
        } catch (const VbError& e) {
            reportError(e);
        }
    }

    try {
        // 5. The frame's top-left corner, the same corner that unload saves. A place no screen
        // shows any more (a monitor unplugged) is brought onto the nearest one; the stored
        // twips are kept all the same until the user moves the window, so it goes back there
        // once that screen is back.
        move(twipsToPixels(FormLeft), twipsToPixels(FormTop));
        bringOntoAScreen(*this);
        loadedPos_ = pos();
        loadedLeft_ = FormLeft;
        loadedTop_ = FormTop;
        // 6.
        KeyIsDown = false;
        // 7. A change of state runs chkOnTop_Click.
        chkOnTop->setChecked(OnTop);
        // 8.
        fillRateList(cmbAltRate, AltRateIndex, &Interface::cmbAltRate_Click);
        fillRateList(cmbAzRate, AzRateIndex, &Interface::cmbAzRate_Click);
        ratesFromSelection(cmbAltRate, AltRateHigh, AltRateLow);
        ratesFromSelection(cmbAzRate, AzRateHigh, AzRateLow);
        // 9. The selection event this raises consumes SkipTrackModeClick.
        for (const char* text : TrackModes)
            cmbTrackMode->addItem(QString::fromLatin1(text));
        selectListIndex(cmbTrackMode, TrackModeIndex, &Interface::cmbTrackMode_Click);
        for (int i = 0; i < int(TrackModes.size()); ++i)
            cmbTrackMode->setItemData(i, i);
        // 10. Runs txtCommPort_Change.
        txtCommPort->setText(CommPortText);
        // 11.
        txtWidth->setText(QString::number(SpiralWidth));
        // 12. The click this raises consumes SkipPecOffClick.
        optOff->setChecked(true);
        optOff_Click();
        // 13.
        txtCornerDelay->setText(conv::formatShortestLocale(CornerDelay));
        txtDummy->setText(conv::formatShortestLocale(CornerDelay * 10));
        UpDown3->setValue(int(std::lround(std::clamp(CornerDelay * 10, -1e6, 1e6))));
        // 14.
        StopSpiral = true;
        // 15.
        Comm1().setPortText(txtCommPort->text());
        // 16.
        Comm1().setSettings(PortLineSettings);
    } catch (const VbError& e) {
        reportError(e);
    }
    const bool night = prefs_.value(NightVisionKey, false).toBool();
    mnuNightVision->setChecked(night);
    setNightLook(night);
}

void Interface::closeEvent(QCloseEvent* e) {
    if (unloading_) {
        e->accept();
        return;
    }
    // A key released just now still stops its axis.
    keys_.commitPendingRelease();
    // Form_QueryUnload
    if (!StopSpiral) {
        report(QStringLiteral("Please stop the spiral!"), QStringLiteral("Alert"));
        e->ignore();
        return;
    }
    e->accept();
    unloading_ = true;
    // Once the window is gone, nothing held in it can be let go: the close ends every hold as
    // losing the focus does, so that no axis slews on with nobody at the pad. The controller's
    // holds end too, and it is read no more.
    releaseLostHolds();
    endGamePad();
    Form_Unload();
}

void Interface::Form_Unload() {
    try {
        // 1. Unmoved, the window keeps the twips it was loaded with, whatever pixel they
        // rounded to.
        if (pos() == loadedPos_) {
            FormLeft = loadedLeft_;
            FormTop = loadedTop_;
        } else {
            FormLeft = pos().x() * TwipsPerPixel;
            FormTop = pos().y() * TwipsPerPixel;
        }
        // 2.
        AltRateIndex = int16_t(cmbAltRate->currentIndex());
        AzRateIndex = int16_t(cmbAzRate->currentIndex());
        TrackModeIndex = int16_t(cmbTrackMode->currentIndex());
        // 3.
        CommPortText = txtCommPort->text();
        // 4.
        OnTop = chkOnTop->checkState() != Qt::Unchecked;
        // 5. and 6. As the boxes' own changes do: a box that does not convert is reported and
        // keeps its last good value, and that value is saved with all the rest.
        txtWidth_Change();
        txtCornerDelay_Change();
        // The position window's place and whether it was open, for the next start.
        if (PositionWindow* p = PositionWindow::current()) {
            remember(PositionXKey, p->pos().x());
            remember(PositionYKey, p->pos().y());
            remember(PositionOpenKey, true);
        }
        savePreferences();
        // 7.
        saveSettings(location_.writePath(), *this);
        // 8.
        programEnd_();
    } catch (const VbError& e) {
        reportError(e);
    }
}

void Interface::mnuExit_Click() {
    close();
}

void Interface::txtCommPort_Change() {
    handler([this] {
        CommPortText = txtCommPort->text();
        Comm1().setPortText(CommPortText);
    });
    if (txtCommPort->hasFocus()) showPortTarget();
}

void Interface::showPortTarget() {
    txtCommPort->setToolTip(portDescription(txtCommPort->text()));
}

bool Interface::eventFilter(QObject* watched, QEvent* event) {
    if (watched == txtCommPort) {
        if (event->type() == QEvent::FocusIn) showPortTarget();
        if (event->type() == QEvent::FocusOut) txtCommPort->setToolTip(QString());
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---- window options and menus ---------------------------------------------------------------

void Interface::chkOnTop_Click() {
    handler([this] { SetOnTop(this, chkOnTop->checkState() != Qt::Unchecked); });
}

void Interface::Form_Resize() {
    if (!chkOnTop) return; // resized while its controls are still being built
    handler([this] { SetOnTop(this, chkOnTop->checkState() != Qt::Unchecked); });
}

void Interface::resizeEvent(QResizeEvent* e) {
    QMainWindow::resizeEvent(e);
    Form_Resize();
}

void Interface::changeEvent(QEvent* e) {
    QMainWindow::changeEvent(e);
    if (e->type() == QEvent::WindowStateChange) Form_Resize();
    if (e->type() == QEvent::ActivationChange && !isActiveWindow()) releaseLostHolds();
}

void Interface::mnuSetup_Click() {
    handler([] { ShowSetupScope(); });
}
void Interface::mnuInstructions_Click() {
    handler([] { ShowHelp(); });
}
void Interface::mnuAbout_Click() {
    handler([] { ShowAbout(); });
}

void Interface::mnuNightVision_Click() {
    const bool night = mnuNightVision->isChecked();
    setNightLook(night);
    remember(NightVisionKey, night);
    savePreferences();
}

void Interface::mnuPosition_Click() {
    handler([] { ShowPosition(); });
}

void Interface::restoreViewWindows() {
    if (prefs_.value(PositionOpenKey, false).toBool()) ShowPosition();
}

void Interface::remember(const QString& key, const QVariant& value) {
    if (!prefs_.value(key).isValid() || prefs_.value(key, value) != value)
        prefs_.setValue(key, value);
}

void Interface::savePreferences() {
    // A choice that cannot be kept is no reason to hold anything up: the pad works the same.
    QString why;
    if (!prefs_.save(&why)) qWarning("%s", qPrintable(why));
}

// ---- slew rates and directions --------------------------------------------------------------

void Interface::selectListIndex(QComboBox* list, int index, void (Interface::*handler)()) {
    {
        const QSignalBlocker quiet(list);
        list->setCurrentIndex(index);
    }
    (this->*handler)();
}

void Interface::fillRateList(QComboBox* list, int16_t index, void (Interface::*handler)()) {
    for (const RateEntry& r : Rates)
        list->addItem(QString::fromLatin1(r.text));
    selectListIndex(list, index, handler);
    for (int i = 0; i < int(Rates.size()); ++i)
        list->setItemData(i, Rates[size_t(i)].value);
}

void Interface::ratesFromSelection(QComboBox* list, int16_t& high, int16_t& low) {
    const int i = list->currentIndex();
    if (i < 0) throw err::invalidArrayIndex();
    const int v = list->itemData(i).toInt();
    high = int16_t(v / 256);
    low = int16_t(v % 256);
}

void Interface::cmbAltRate_Click() {
    handler([this] { ratesFromSelection(cmbAltRate, AltRateHigh, AltRateLow); });
}

void Interface::cmbAzRate_Click() {
    handler([this] { ratesFromSelection(cmbAzRate, AzRateHigh, AzRateLow); });
}

void Interface::cmdRevLR_Click() {
    handler([this] {
        reverseArrows(LeftMessage, RightMessage);
        windowOperation();
    });
}

void Interface::cmdRevUD_Click() {
    handler([this] {
        reverseArrows(UpMessage, DownMessage);
        windowOperation();
    });
}

void Interface::windowOperation() {
    repaint();
}

// ---- tracking and PEC -----------------------------------------------------------------------

uint8_t Interface::trackingMode() const {
    const int i = cmbTrackMode->currentIndex();
    if (i < 0) throw err::invalidArrayIndex();
    return commandByte(cmbTrackMode->itemData(i).toInt());
}

void Interface::cmbTrackMode_Click() {
    handler([this] {
        if (SkipTrackModeClick) {
            SkipTrackModeClick = false;
            return;
        }
        send(cmd::SetTrackingMode(trackingMode()));
    });
}

void Interface::optOn_Click() {
    handler([] {
        send(cmd::PecSeekIndex());
        send(cmd::PecPlayback(true));
    });
}

void Interface::optOff_Click() {
    handler([this] {
        if (SkipPecOffClick) {
            SkipPecOffClick = false;
            return;
        }
        send(cmd::PecPlayback(false));
    });
}

// ---- arrows ---------------------------------------------------------------------------------

void Interface::startSlew(Arrow a) {
    if (trackingMode() == cmd::TrackingAltAz) send(cmd::SetTrackingMode(cmd::TrackingOff));
    const int16_t messages[] = {UpMessage, DownMessage, LeftMessage, RightMessage};
    const bool alt = motorOf(a) == cmd::AltMotor;
    driving_[axisOf(a)] = a;
    LastCommand = cmd::VariableRateSlew(motorOf(a), commandByte(messages[size_t(a)]),
                                        commandByte(alt ? AltRateHigh : AzRateHigh),
                                        commandByte(alt ? AltRateLow : AzRateLow));
    send(LastCommand);
}

void Interface::stopSlew(Arrow a) {
    driving_[axisOf(a)].reset();
    LastCommand = cmd::FixedRateSlew(motorOf(a));
    send(LastCommand);
    send(cmd::SetTrackingMode(trackingMode()));
}

void Interface::cmdArrow_MouseDown(Arrow a) {
    keys_.commitPendingRelease();
    hold(a, Source::Button);
    duringPress([&] { handler([&] { startSlew(a); }); });
}

void Interface::cmdArrow_MouseUp(Arrow a) {
    keys_.commitPendingRelease();
    arrowUp(a, Source::Button);
}

bool Interface::Form_KeyDown(Arrow a) {
    if (KeyIsDown) return true;
    KeyIsDown = true;
    // A key slew that takes over an axis from another arrow's key ends what that one showed.
    if (const std::optional<Arrow> before = keys_.holdAxis(a)) {
        buttonFor(*before)->setKeyHeld(false);
        holders_[size_t(*before)] &= uint8_t(~bit(Source::Key));
    }
    hold(a, Source::Key);
    bool ok = true;
    duringPress([&] {
        try {
            startSlew(a);
            buttonFor(a)->setKeyHeld(true);
        } catch (const VbError& err) {
            reportError(err);
            ok = false;
        }
    });
    return ok;
}

void Interface::Form_KeyUp(Arrow a) {
    arrowUp(a, Source::Key);
}

void Interface::duringPress(const std::function<void()>& start) {
    ++pressDepth_;
    start();
    --pressDepth_;
    if (pressDepth_ > 0) return;
    for (auto [arrow, source] : std::exchange(deferredReleases_, {}))
        arrowUp(arrow, source);
}

void Interface::arrowUp(Arrow a, Source source) {
    if (pressDepth_ > 0) {
        deferredReleases_.emplace_back(a, source);
        return;
    }
    holders_[size_t(a)] &= uint8_t(~bit(source));
    if (source == Source::Key) {
        KeyIsDown = false;
        if (const std::optional<Arrow> holder = keys_.freeAxis(a)) {
            buttonFor(*holder)->setKeyHeld(false);
            holders_[size_t(*holder)] &= uint8_t(~bit(Source::Key));
        }
    }
    if (source == Source::Controller) buttonFor(a)->setControllerHeld(false);
    if (allStopping_ || keepsMoving(a)) return;
    handler([&] {
        stopSlew(a);
        if (source == Source::Button) windowOperation();
    });
}

void Interface::hold(Arrow a, Source s) {
    holders_[size_t(a)] |= bit(s);
}

bool Interface::keepsMoving(Arrow a) const {
    const std::optional<Arrow> moving = driving_[axisOf(a)];
    return moving && holders_[size_t(*moving)] != 0;
}

void Interface::popupOpened() {
    // It takes the keyboard and the mouse: its opening ends every hold as losing the focus does.
    if (anyArrowHeld()) releaseLostHolds();
}

void Interface::releaseLostHolds() {
    keys_.loseKeyboard();
    // A key press whose slew could not start leaves KeyIsDown set until an arrow key-up, which
    // may now never come here: without this, every arrow key would be ignored from now on.
    KeyIsDown = false;
    for (ArrowButton* b : arrowButtons())
        b->loseMouse();
}

bool Interface::idleForReadings() const {
    // A failure's box runs its own event loop inside the handler that failed: it is busy too.
    // The controller's holds count too: they outlast the focus, so anyArrowHeld leaves them out.
    const bool controllerHolds =
        std::any_of(holders_.begin(), holders_.end(), [](uint8_t h) { return h != 0; });
    return !unloading_ && pressDepth_ == 0 && !anyArrowHeld() && !controllerHolds && StopSpiral &&
           !SpiralRunning() &&
           !CommandUnderway() && !SetupScope::current() && !QApplication::activeModalWidget();
}

bool Interface::anyArrowHeld() const {
    const auto buttons = arrowButtons();
    return KeyIsDown || keys_.holdsAnything() ||
           std::any_of(buttons.begin(), buttons.end(), [](ArrowButton* b) { return b->isHeld(); });
}

// ---- game controller ------------------------------------------------------------------------

void Interface::setupGamePad() {
#ifdef SKYJOG_HAVE_SDL2
    gamePad_ = new GamePad(
        {.arrowDown = [this](Arrow a) { controllerArrowDown(a); },
         .arrowUp = [this](Arrow a) { arrowUp(a, Source::Controller); },
         // The spiral runs inside the handler that starts it, serving events as it goes; run
         // from the controller's read it would keep the controller from being read again (a
         // timer is not re-entered), so it starts from an event of its own.
         .spiral = [this] { QMetaObject::invokeMethod(this, [this] { cmdSpiral_Click(); },
                                                      Qt::QueuedConnection); },
         .allStop = [this] { allStop(); },
         .rateStep = [this](int delta) { stepRates(delta); },
         .changed = [this] { showControllerState(); }},
        this);
    mnuController = mnuTools->addAction(QString());
    mnuController->setObjectName(QStringLiteral("mnuController"));
    mnuController->setCheckable(true);
    connect(mnuController, &QAction::triggered, this, [this](bool on) { useController(on); });
    const int deadZone = prefs_.value(ControllerDeadZoneKey, DefaultDeadZonePercent).toInt();
    gamePad_->setDeadZone(deadZone / 100.0);
    gamePad_->setEnabled(prefs_.value(ControllerEnabledKey, true).toBool());
    showControllerState();
#endif
}

void Interface::endGamePad() {
#ifdef SKYJOG_HAVE_SDL2
    delete std::exchange(gamePad_, nullptr);
#endif
}

void Interface::useController(bool on) {
#ifdef SKYJOG_HAVE_SDL2
    if (!gamePad_) return;
    gamePad_->setEnabled(on);
    remember(ControllerEnabledKey, on);
    remember(ControllerDeadZoneKey, int(std::lround(gamePad_->deadZone() * 100)));
    savePreferences();
#else
    Q_UNUSED(on);
#endif
}

void Interface::showControllerState() {
#ifdef SKYJOG_HAVE_SDL2
    if (!gamePad_ || !mnuController) return;
    QString text;
    if (gamePad_->isEnabled() && !gamePad_->isAvailable())
        text = QStringLiteral("Game &Controller (not available: %1)").arg(gamePad_->lastError());
    else if (gamePad_->isConnected())
        text = QStringLiteral("Game &Controller: %1").arg(gamePad_->controllerName());
    else if (gamePad_->isEnabled())
        text = QStringLiteral("Game &Controller (none connected)");
    else
        text = QStringLiteral("Game &Controller (off)");
    mnuController->setText(text);
    mnuController->setChecked(gamePad_->isEnabled());
#endif
}

void Interface::controllerArrowDown(Arrow a) {
    hold(a, Source::Controller);
    buttonFor(a)->setControllerHeld(true);
    duringPress([&] { handler([&] { startSlew(a); }); });
}

void Interface::allStop() {
    StopSpiral = true;
    // Every hold ends here; their releases only let go, and both axes get one stop each.
    allStopping_ = true;
    releaseLostHolds();
#ifdef SKYJOG_HAVE_SDL2
    if (gamePad_) gamePad_->releaseAll();
#endif
    allStopping_ = false;
    handler([this] { stopSlew(Arrow::Up); });
    handler([this] { stopSlew(Arrow::Left); });
}

void Interface::stepRates(int delta) {
    for (auto [list, handler] : {std::pair{cmbAltRate, &Interface::cmbAltRate_Click},
                                 std::pair{cmbAzRate, &Interface::cmbAzRate_Click}}) {
        // Past either end of its list a step does nothing.
        const int i = list->currentIndex() + delta;
        if (i >= 0 && i < list->count()) selectListIndex(list, i, handler);
    }
}

// ---- spiral ---------------------------------------------------------------------------------

void Interface::cmdSpiral_Click() {
    handler([this] { ToggleSpiral(*this); });
}

void Interface::txtWidth_Change() {
    handler([this] { SpiralWidth = conv::textToInt16(txtWidth->text()); });
}

void Interface::txtCornerDelay_Change() {
    handler([this] { CornerDelay = conv::textToDouble(txtCornerDelay->text()); });
}

void Interface::UpDown3_Change() {
    handler([this] {
        const double counter = conv::textToDouble(txtDummy->text());
        txtCornerDelay->setText(
            QLocale::c().toString(counter / 10, 'g', QLocale::FloatingPointShortest));
    });
}

QString Interface::widthText() const {
    return txtWidth->text();
}
QString Interface::delayText() const {
    return txtCornerDelay->text();
}
void Interface::setSpiralLabelVisible(bool visible) {
    lblSpiral->setVisible(visible);
}
void Interface::processEvents() {
    QCoreApplication::processEvents();
}

// ---- the process ending ---------------------------------------------------------------------

void Interface::endOnRequest() {
    StopSpiral = true;
    if (SpiralRunning()) {
        // The spiral runs in a handler further down this stack and sends its stop sequence as it
        // returns; the window closes after that, from the event loop it returns to.
        QTimer::singleShot(0, this, [this] { endOnRequest(); });
        return;
    }
    close();
}

void Interface::stopWhatStillMoves() {
    // The process is ending, from inside any handler: only the state is read (the tracking
    // list's selection, which is memory), nothing is painted or shown.
    const bool spiral = SpiralRunning();
    StopSpiral = true;
    bool stopped = false;
    for (Arrow a : {Arrow::Up, Arrow::Left}) {
        // An arrow still held whose axis another arrow's release has stopped is not moving.
        const size_t axis = axisOf(a);
        if (!spiral && !driving_[axis]) continue;
        driving_[axis].reset();
        handler([&] { send(cmd::FixedRateSlew(motorOf(a))); });
        stopped = true;
    }
    if (stopped) handler([this] { send(cmd::SetTrackingMode(trackingMode())); });
}

} // namespace skyjog
