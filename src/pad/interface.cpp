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
#include "porttooltip.h"
#include "viewwindows.h"
#include "report.h"
#include "setupscope.h"
#include "sharedialog.h"
#include "taps.h"
#include "updown.h"
#include "vberror.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QRadioButton>
#include <algorithm>
#include <cmath>
#include <tuple>

namespace skyjog {

namespace {

const QString PortLineSettings = QStringLiteral("9600,N,8,1");

void send(const QByteArray& command) {
    SendCommand(command, cmd::AckLength, cmd::TimeoutMs);
}

// A value that goes into a command as one byte; anything else is refused as an invalid argument
// rather than cut down to a byte the user never chose.
uint8_t commandByte(int v) {
    if (v < 0 || v > 255) throw err::invalidArgument();
    return uint8_t(v);
}

// Not inside a spiral, a command or a box's event loop: a command may go out by itself.
bool lineIsFree() {
    return !SpiralRunning() && !CommandUnderway() && !QApplication::activeModalWidget();
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


} // namespace

Interface::Interface(SettingsLocation location, QWidget* parent)
    : QMainWindow(parent), location_(std::move(location)),
      programEnd_([] { QCoreApplication::exit(0); }), prefs_(location_.userDir()),
      motion_({.startSlew = [this](Arrow a) { startSlew(a); },
               .stopSlew = [this](Arrow a) { return stopSlew(a); },
               .stopped = [this](Arrow, Source s) { if (s == Source::Button) windowOperation(); },
               .changed = [this] { showArrows(); },
               .keyboardLost = [this] { keys_.loseKeyboard(); },
               .controllerLetGo = [this] { if (controller_) controller_->releaseAll(); },
               // Not inside a spiral, a command or a box's event loop.
               .mayRetryNow = [] { return lineIsFree(); },
               .cancelGoto = [] { return SendConfirmed(cmd::CancelGoto()); }}),
      keys_(*this, {.arrowDown = [this](Arrow a) { return Form_KeyDown(a); },
                    .arrowUp = [this](Arrow a) { Form_KeyUp(a); },
                    .keyHolds = [this](Arrow a) { return motion_.holds(a, Source::Key); },
                    .escape = [this] { motion_.resendUnconfirmed(); },
                    .spiralKey = [this] { cmdSpiral_Click(); },
                    .popupOpened = [this] { popupOpened(); }}),
      share_(prefs_, motion_,
             {.spiralRunning = [] { return SpiralRunning(); },
              .mayExchangeNow = [this] { return !unloading_ && lineIsFree(); },
              .trackingChosen = [this](uint8_t mode) { showTrackingMode(mode); },
              .pecChosen = [this](bool on) { (on ? optOn : optOff)->setChecked(true); }}) {
    setObjectName(QStringLiteral("Interface"));
    setWindowTitle(QStringLiteral("Skyjog"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    // Small enough for captions 13 pixels high (the option buttons), narrow enough for "Always on
    // top" beside its box in 87 pixels.
    setFont(condensedFont(11));
    buildControls(*this);
    for (Arrow a : AllArrows)
        buttonFor(a)->setHeldByMouse([this, a] { return motion_.holds(a, Source::Button); });
    connectHandlers();
    layout()->activate(); // fixed to its size before it is first shown
    // The port box takes names as well as numbers ("sim", "/dev/ttyS0", host names).
    keys_.setLetterBox(txtCommPort);
    qApp->installEventFilter(&keys_);
    new PortTooltip(txtCommPort);
    Form_Load();
    controller_ = makeController(
        {.arrowDown = [this](Arrow a) { motion_.press(a, Source::Controller); },
         .arrowUp = [this](Arrow a) { motion_.release(a, Source::Controller); },
         .holds = [this](Arrow a) { return motion_.holds(a, Source::Controller); },
         .spiral = [this] { cmdSpiral_Click(); },
         .allStop = [this] { allStop(); },
         .rateLists = [this] { return ControllerHooks::RateLists{cmbAltRate->currentIndex(),
                                                                 cmbAzRate->currentIndex(),
                                                                 cmbAltRate->count()}; },
         .pickRates = [this](int alt, int az) { pickRates(alt, az); },
         .savePreferences = [this] { views_.save(); }},
        prefs_, mnuController, mnuControllerDialog);
    wireRepeatableTaps(mnuTaps, this, prefs_, motion_, [this] { views_.save(); });
    wireShareDialog(mnuShare, share_, this);
    setLastStops([this] { stopWhatStillMoves(); });
}

Interface::~Interface() {
    setLastStops({});
    // Clients' moves are stopped while the core can still send the stops.
    share_.end();
    qApp->removeEventFilter(&keys_);
    // The controller's holds end with the window, while its handlers can still send the stops.
    controller_.reset();
    motion_.endTaps();
    // A window that goes without being closed ends its holds too, while it still can. The
    // buttons are hidden as the window's children are torn down, after this object's own
    // members are gone: nothing they report then may reach its handlers.
    releaseLostHolds();
    for (ArrowButton* b : arrowButtons()) {
        b->disconnect(this);
        b->setHeldByMouse({});
    }
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
        // 5. The frame's top-left corner, the same corner that unload saves.
        place_.load(*this, FormLeft, FormTop);
        // 6. No key slew is under way: the motion core starts so.
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
    mnuNightVision->setChecked(views_.keptNightLook());
    setNightLook(mnuNightVision->isChecked());
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
    // Closing ends sharing: a program using the mount through this one is cut off, so the user
    // is asked, once, before that happens.
    if (const int n = share_.enabled() ? share_.connectedClients() : 0; n > 0) {
        const QString who = n == 1 ? QStringLiteral("Another program is")
                                   : QStringLiteral("%1 other programs are").arg(n);
        if (!ask(QStringLiteral("%1 using the mount through Skyjog. Closing Skyjog ends sharing "
                                "and stops what they move. Close anyway?")
                     .arg(who))) {
            e->ignore();
            return;
        }
    }
    e->accept();
    unloading_ = true;
    share_.end();
    // Once the window is gone, nothing held in it can be let go: the close ends every hold as
    // losing the focus does, so that no axis slews on with nobody at the pad. The controller's
    // holds end too, and it is read no more.
    releaseLostHolds();
    controller_.reset();
    motion_.endTaps();
    Form_Unload();
}

void Interface::Form_Unload() {
    try {
        // 1. Unmoved, the window keeps the twips it was loaded with.
        place_.unload(*this, FormLeft, FormTop);
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
        views_.keepAtUnload();
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
    views_.setNightLook(mnuNightVision->isChecked());
}

void Interface::mnuPosition_Click() {
    handler([this] { views_.showPosition(); });
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
    const cmd::RateBytes bytes = cmd::splitRate(uint16_t(v));
    high = bytes.high;
    low = bytes.low;
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

void Interface::showTrackingMode(uint8_t mode) {
    const int i = cmbTrackMode->findData(int(mode));
    if (i < 0) return;
    // The mount has it already; the list's selection event would send it again.
    const QSignalBlocker quiet(cmbTrackMode);
    cmbTrackMode->setCurrentIndex(i);
}

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
    LastCommand = cmd::VariableRateSlew(motorOf(a), commandByte(messages[size_t(a)]),
                                        commandByte(alt ? AltRateHigh : AzRateHigh),
                                        commandByte(alt ? AltRateLow : AzRateLow));
    send(LastCommand);
}

Confirmation Interface::stopSlew(Arrow a) {
    LastCommand = cmd::FixedRateSlew(motorOf(a));
    const Confirmation stop = SendConfirmed(LastCommand);
    return worse(stop, SendConfirmed(cmd::SetTrackingMode(trackingMode())));
}

void Interface::cmdArrow_MouseDown(Arrow a) {
    keys_.commitPendingRelease();
    motion_.press(a, Source::Button);
}

void Interface::cmdArrow_MouseUp(Arrow a) {
    keys_.commitPendingRelease();
    motion_.release(a, Source::Button);
}

bool Interface::Form_KeyDown(Arrow a) {
    return motion_.keyDown(a) != Motion::KeyPress::Failed;
}

void Interface::Form_KeyUp(Arrow a) {
    motion_.release(a, Source::Key);
}

void Interface::popupOpened() {
    // It takes the keyboard and the mouse: its opening ends every hold as losing the focus does.
    if (motion_.heldByKeyOrMouse() || keys_.releasePending()) releaseLostHolds();
}

void Interface::releaseLostHolds() {
    motion_.releaseLost();
}

void Interface::showArrows() {
    for (Arrow a : AllArrows)
        buttonFor(a)->showState(motion_.shows(a), motion_.unconfirmed(axisOf(a)));
}

bool Interface::idleForReadings() const {
    // A failure's box runs its own event loop inside the handler that failed: it is busy too.
    return !unloading_ && motion_.idle() && !keys_.releasePending() && StopSpiral &&
           !SpiralRunning() && !CommandUnderway() && !SetupScope::current() &&
           !QApplication::activeModalWidget();
}

// ---- game controller ------------------------------------------------------------------------

void Interface::allStop() {
    StopSpiral = true;
    motion_.allStop();
}

void Interface::pickRates(int alt, int az) {
    for (auto [list, index, handler] :
         {std::tuple{cmbAltRate, alt, &Interface::cmbAltRate_Click},
          std::tuple{cmbAzRate, az, &Interface::cmbAzRate_Click}}) {
        if (index != list->currentIndex() && index >= 0 && index < list->count())
            selectListIndex(list, index, handler);
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
void Interface::spiralStopped(Confirmation altitude, Confirmation azimuth) {
    motion_.noteStop(0, altitude);
    motion_.noteStop(1, azimuth);
}

// ---- the process ending ---------------------------------------------------------------------

void Interface::stopWhatStillMoves() {
    // Only the state is read (the tracking list's selection, which is memory): nothing is painted
    // or shown, as there may be no display left.
    const bool spiral = SpiralRunning();
    StopSpiral = true;
    motion_.stopOnTheWayOut(
        spiral, [](size_t axis) { return cmd::FixedRateSlew(motorOf(arrowOfAxis(axis))); },
        [this] { return cmd::SetTrackingMode(trackingMode()); });
}

} // namespace skyjog
