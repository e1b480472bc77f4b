#pragma once
// The main window: the hand pad itself. It restores the user's settings when it loads, holds the
// slew state that the arrows send, sets tracking and PEC, starts and stops the spiral search, and
// saves the settings when it closes.
#include "controller.h"
#include "interfacecontrols.h"
#include "motion.h"
#include "mountshare.h"
#include "padkeys.h"
#include "placement.h"
#include "preferences.h"
#include "settingsfile.h"
#include "spiral.h"
#include "viewwindows.h"

#include <QByteArray>
#include <QMainWindow>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QAction;
class QComboBox;

namespace skyjog {

// The window's parts: its controls, by their names (InterfaceControls), and the thirteen values of
// the settings file as its own variables (Settings). Load reads those in one piece and unload
// writes them in one piece; between the two, the controls are the truth for the list positions,
// the window's place and the on-top option.
class Interface : public QMainWindow, public InterfaceControls, public SpiralHost, public Settings {
    Q_OBJECT
public:
    // The window loads (restores its settings and fills its controls) as it is constructed; it
    // is not shown.
    explicit Interface(SettingsLocation location = SettingsLocation::standard(),
                       QWidget* parent = nullptr);
    ~Interface() override;

    // What ends the program once the settings are saved; by default every event loop ends, and
    // with them every other window.
    void setProgramEnd(std::function<void()> fn) { programEnd_ = std::move(fn); }
    const SettingsLocation& settingsLocation() const { return location_; }

    // How the window system reports a held key (PadKeys).
    using KeyRepeat = PadKeys::KeyRepeat;
    KeyRepeat keyRepeat() const { return keys_.keyRepeat(); }
    void setKeyRepeat(KeyRepeat mode) { keys_.setKeyRepeat(mode); }
    bool keyReleasePending() const { return keys_.releasePending(); }

    // The choices kept beside the settings line (the night look, the position window's place).
    Preferences& preferences() { return prefs_; }
    // Opens again what was open when the program last ended (the position window); the window
    // itself is shown by then.
    void restoreViewWindows() { views_.restore(); }
    // View > Position.
    void showPosition() { views_.showPosition(); }
    // Whether nothing talks to the mount or moves it by hand now, so that a reading of the
    // position may go out without delaying anything the user does.
    bool idleForReadings() const;
    // Who moves each axis.
    Motion& motion() { return motion_; }
    const Motion& motion() const { return motion_; }
    // An arrow key's slew is under way.
    bool KeyIsDown() const { return motion_.keyIsDown(); }
    // Other programs on the mount through this one (off until started).
    MountShare& share() { return share_; }
    // The game controller, when this build has controller support (otherwise null).
    GamePad* gamePad() const { return controller_ ? controller_->gamePad() : nullptr; }

    // SpiralHost
    QString widthText() const override;
    QString delayText() const override;
    uint8_t trackingMode() const override;
    void setSpiralLabelVisible(bool visible) override;
    void processEvents() override;
    void spiralStopped(Confirmation altitude, Confirmation azimuth) override;

    // Slew state: what the next arrow press sends, with the direction codes UpMessage to
    // RightMessage of the settings.
    int16_t AzRateHigh = 0;
    int16_t AzRateLow = 0;
    int16_t AltRateHigh = 0;
    int16_t AltRateLow = 0;
    QByteArray LastCommand;

    bool SkipTrackModeClick = false;
    bool SkipPecOffClick = false;

protected:
    void closeEvent(QCloseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    // The specified events of the controls, and only those, reach the handlers.
    void connectHandlers();

    void Form_Load();
    void Form_Unload();
    void Form_Resize();
    void txtCommPort_Change();
    void txtWidth_Change();
    void txtCornerDelay_Change();
    void UpDown3_Change();
    void chkOnTop_Click();
    void cmbAltRate_Click();
    void cmbAzRate_Click();
    void cmbTrackMode_Click();
    void optOn_Click();
    void optOff_Click();
    void cmdRevLR_Click();
    void cmdRevUD_Click();
    void cmdSpiral_Click();
    void cmdArrow_MouseDown(Arrow a);
    void cmdArrow_MouseUp(Arrow a);
    bool Form_KeyDown(Arrow a); // true: the key is consumed
    void Form_KeyUp(Arrow a);
    void mnuExit_Click();
    void mnuSetup_Click();
    void mnuInstructions_Click();
    void mnuAbout_Click();
    void mnuNightVision_Click();
    void mnuPosition_Click();

    // The program selects a list position: the list's selection event follows, as it does for
    // a user's pick.
    void selectListIndex(QComboBox* list, int index, void (Interface::*handler)());
    void fillRateList(QComboBox* list, int16_t index, void (Interface::*handler)());
    void ratesFromSelection(QComboBox* list, int16_t& high, int16_t& low);

    // Starting and stopping one arrow's slew (tracking off / on around it as the mode needs).
    void startSlew(Arrow a);
    Confirmation stopSlew(Arrow a);
    // A menu, a drop-down list or a context menu opened.
    void popupOpened();
    // The keyboard focus left the window, a popup took the keyboard and the mouse, or the window
    // closes: every slew whose release can no longer arrive here is stopped as that release
    // would stop it.
    void releaseLostHolds();
    // The arrows show what the motion core says.
    void showArrows();
    void windowOperation();

    // The game controller's own actions.
    void allStop();
    void pickRates(int alt, int az);
    std::unique_ptr<Controller> controller_;

    // The stops for whatever still moves as the process ends without the window closing (the
    // display gone, the session ending); nothing in it reaches the display.
    void stopWhatStillMoves();

    SettingsLocation location_;
    std::function<void()> programEnd_;
    Preferences prefs_;
    ViewWindows views_{prefs_, [this] { return idleForReadings(); }, [this] { return unloading_; }};
    bool unloading_ = false;
    TwipsPlace place_;

    Motion motion_;
    // Key preview: the arrow keys and S, from whichever control has the focus.
    PadKeys keys_;
    MountShare share_;
    // A client set the tracking mode or PEC: the pad shows it, sending nothing.
    void showTrackingMode(uint8_t mode);
};

} // namespace skyjog
