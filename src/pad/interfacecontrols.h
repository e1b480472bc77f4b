#pragma once
// What the main window is made of: its controls and its menu bar, by their names, built and laid
// out; what they do is the window's (Interface).
#include "arrow.h"

#include <array>
#include <cstddef>

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMainWindow;
class QMenu;
class QPushButton;
class QRadioButton;
class QWidget;

namespace skyjog {

// The rate lists' entries: text and rate value in quarter arc-seconds per second.
struct RateEntry {
    const char* text;
    int value;
};
inline constexpr std::array<RateEntry, 14> Rates = {{
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

// The tracking list's entries, in the order of their item data (the mode byte).
inline constexpr std::array<const char*, 4> TrackModes = {"Off", "Alt/Az", "EQ North", "EQ South"};

class ArrowButton;
class UpDown;

struct InterfaceControls {
    // Builds every control into the window's client area at its place, and the menu bar; connects
    // nothing.
    void buildControls(QMainWindow& window);

    // The arrow buttons, in the order of Arrow.
    std::array<ArrowButton*, 4> arrowButtons() const { return {cmdUp, cmdDown, cmdLeft, cmdRight}; }
    ArrowButton* buttonFor(Arrow a) const { return arrowButtons()[std::size_t(a)]; }

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
    QAction* mnuController = nullptr;       // turns the game controller's use on and off
    QAction* mnuControllerDialog = nullptr; // (both gone in a build without one)
    QAction* mnuTaps = nullptr;
    QAction* mnuShare = nullptr;
    QMenu* mnuView = nullptr;
    QAction* mnuNightVision = nullptr;
    QAction* mnuPosition = nullptr;
    QMenu* mnuHelp = nullptr;
    QAction* mnuInstructions = nullptr;
    QAction* mnuSeparator1 = nullptr;
    QAction* mnuAbout = nullptr;
};

} // namespace skyjog
