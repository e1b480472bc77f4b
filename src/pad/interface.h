#pragma once
// The main window: the hand pad itself. It restores the user's settings when it loads, holds the
// slew state that the arrows send, sets tracking and PEC, starts and stops the spiral search, and
// saves the settings when it closes.
#include "settingsfile.h"
#include "spiral.h"

#include <QByteArray>
#include <QMainWindow>
#include <QSet>
#include <array>
#include <functional>
#include <optional>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QTimer;

namespace skyjog {

class ArrowButton;
class UpDown;

// The thirteen values of the settings file are the window's own variables, its Settings part:
// load reads them in one piece and unload writes them in one piece; between the two, the controls
// are the truth for the list positions, the window's place and the on-top option.
class Interface : public QMainWindow, public SpiralHost, public Settings {
    Q_OBJECT
public:
    enum class Arrow { Up, Down, Left, Right };

    // The window loads (restores its settings and fills its controls) as it is constructed; it
    // is not shown.
    explicit Interface(SettingsLocation location = SettingsLocation::standard(),
                       QWidget* parent = nullptr);
    ~Interface() override;

    // What ends the program once the settings are saved; by default every event loop ends, and
    // with them every other window.
    void setProgramEnd(std::function<void()> fn) { programEnd_ = std::move(fn); }

    // How the window system reports a held key.
    enum class KeyRepeat {
        // Presses only, and its one key-up is the real release (X11 with XKB's detectable
        // auto-repeat): a key-up acts at once, a press of a key already down is a repetition.
        Detectable,
        // Possibly as release and press pairs that are not always flagged as auto-repeat: an
        // arrow key's release waits KeyReleaseGraceMs for the press that would unmask the pair.
        ReleasePairs,
    };
    // The window asks for Detectable as it is constructed and falls back to ReleasePairs.
    KeyRepeat keyRepeat() const { return keyRepeat_; }
    void setKeyRepeat(KeyRepeat mode);

    // How long an arrow key's release waits for the press that would make it an auto-repeat.
    static constexpr int KeyReleaseGraceMs = 20;
    bool keyReleasePending() const { return pendingKeyRelease_.has_value(); }
    const SettingsLocation& settingsLocation() const { return location_; }

    // SpiralHost
    QString widthText() const override;
    QString delayText() const override;
    uint8_t trackingMode() const override;
    void setSpiralLabelVisible(bool visible) override;
    void processEvents() override;

    // Slew state: what the next arrow press sends, with the direction codes UpMessage to
    // RightMessage of the settings.
    int16_t AzRateHigh = 0;
    int16_t AzRateLow = 0;
    int16_t AltRateHigh = 0;
    int16_t AltRateLow = 0;
    QByteArray LastCommand;

    bool KeyIsDown = false;
    bool SkipTrackModeClick = false;
    bool SkipPecOffClick = false;

    // The rate lists' entries: text and rate value in quarter arc-seconds per second.
    struct RateEntry {
        const char* text;
        int value;
    };
    static const std::array<RateEntry, 14> Rates;
    static const std::array<const char*, 4> TrackModes;

protected:
    void closeEvent(QCloseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void changeEvent(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void buildControls();
    void buildMenus();

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
    bool Form_KeyDown(QKeyEvent* e, bool autoRepeat); // true: the key is consumed
    bool Form_KeyUp(QKeyEvent* e);
    void mnuExit_Click();
    void mnuSetup_Click();
    void mnuInstructions_Click();
    void mnuAbout_Click();

    // The program selects a list position: the list's selection event follows, as it does for
    // a user's pick.
    void selectListIndex(QComboBox* list, int index, void (Interface::*handler)());
    void fillRateList(QComboBox* list, int16_t index, void (Interface::*handler)());
    void ratesFromSelection(QComboBox* list, int16_t& high, int16_t& low);

    // Starting and stopping one arrow's slew (tracking off / on around it as the mode needs).
    void startSlew(Arrow a);
    void stopSlew(Arrow a);
    enum class Source { Button, Key };
    void arrowUp(Arrow a, Source source);
    // The keyboard focus left the window, or the window was deactivated: every slew whose
    // release can no longer arrive here is stopped as that release would stop it.
    void releaseLostHolds();
    bool anyArrowHeld() const;
    ArrowButton* buttonFor(Arrow a) const;
    bool isRepeatOfPendingRelease(const QKeyEvent* press) const;
    void commitPendingKeyRelease();
    void windowOperation();
    bool isOwnKeyTarget(QWidget* w) const;

    SettingsLocation location_;
    std::function<void()> programEnd_;
    bool unloading_ = false;
    // Where load put the window, to save the stored twips again when it has not moved (so a
    // position never drifts through the conversion to pixels and back).
    QPoint loadedPos_;
    int32_t loadedTop_ = 0;
    int32_t loadedLeft_ = 0;

    // The arrow whose key started the running keyboard slew of each axis (altitude, azimuth).
    std::array<std::optional<Arrow>, 2> keySlew_;
    // Press handlers under way; a release that arrives inside one (through a message box's
    // event loop) waits for it to finish, so that a stop never goes out before its start.
    int pressDepth_ = 0;
    std::vector<std::pair<Arrow, Source>> deferredReleases_;

    // An arrow key's release, held back until it is clear that no auto-repeat press follows.
    struct PendingKeyRelease {
        Arrow arrow;
        quint64 timestamp;
    };
    std::optional<PendingKeyRelease> pendingKeyRelease_;
    QTimer* keyReleaseTimer_ = nullptr;
    quint64 sReleaseTime_ = 0;

    KeyRepeat keyRepeat_ = KeyRepeat::ReleasePairs;
    // The arrow and S keys down at the moment, by physical key, as far as this program has seen
    // them: with detectable auto-repeat, a press of one of them is a repetition.
    QSet<quint64> keysDown_;

public:
    // Controls, by their names.
    QWidget* client = nullptr;
    QLabel* Label1 = nullptr;
    QComboBox* cmbAltRate = nullptr;
    ArrowButton* cmdUp = nullptr;
    ArrowButton* cmdDown = nullptr;
    ArrowButton* cmdLeft = nullptr;
    ArrowButton* cmdRight = nullptr;
    QPushButton* cmdRevLR = nullptr;
    QPushButton* cmdRevUD = nullptr;
    QLabel* Label2 = nullptr;
    QComboBox* cmbAzRate = nullptr;
    QLabel* Label5 = nullptr;
    QComboBox* cmbTrackMode = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* txtCommPort = nullptr;
    UpDown* UpDown1 = nullptr;
    QFrame* Frame1 = nullptr;
    QLabel* Label6 = nullptr;
    QRadioButton* optOn = nullptr;
    QRadioButton* optOff = nullptr;
    QCheckBox* chkOnTop = nullptr;
    QPushButton* cmdSpiral = nullptr;
    QLabel* lblSpiral = nullptr;
    QLabel* Label4 = nullptr;
    QLineEdit* txtWidth = nullptr;
    UpDown* UpDown2 = nullptr;
    QLabel* Label7 = nullptr;
    QLineEdit* txtCornerDelay = nullptr;
    UpDown* UpDown3 = nullptr;
    QLineEdit* txtDummy = nullptr;
    QMenu* mnuFile = nullptr;
    QAction* mnuExit = nullptr;
    QMenu* mnuTools = nullptr;
    QAction* mnuSetup = nullptr;
    QMenu* mnuHelp = nullptr;
    QAction* mnuInstructions = nullptr;
    QAction* mnuSeparator1 = nullptr;
    QAction* mnuAbout = nullptr;
};

} // namespace skyjog
