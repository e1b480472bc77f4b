#include "interfacecontrols.h"

#include "arrowbutton.h"
#include "icons.h"
#include "twips.h"
#include "updown.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <algorithm>
#include <type_traits>
#include <variant>

namespace skyjog {

namespace {

// The controls, in the order they are made (the order the Tab key visits them too): the member
// that holds each (its type is the control's kind), its name, its caption, and its place in twips
// (left, top, width, height) inside the client area, or for the three PEC controls inside Frame1.
// Labels are left-aligned unless centred.
template <typename W> using Member = W* InterfaceControls::*;
using ControlMember = std::variant<Member<QLabel>, Member<QComboBox>, Member<ArrowButton>,
                                   Member<QPushButton>, Member<QLineEdit>, Member<UpDown>,
                                   Member<QFrame>, Member<QRadioButton>, Member<QCheckBox>>;
enum ControlFlag { Centred = 1, InFrame1 = 2 };
struct Control {
    ControlMember member;
    const char* name;
    const char* caption;
    int left, top, width, height;
    int flags = 0;
};
using C = InterfaceControls;
const Control Controls[] = {
    {&C::Label1, "Label1", "Alt-NS Rate", 2040, 0, 975, 255, Centred},
    {&C::cmbAltRate, "cmbAltRate", nullptr, 2040, 240, 1215, 315},
    {&C::cmdUp, "cmdUp", nullptr, 2040, 600, 375, 615},
    {&C::cmdDown, "cmdDown", nullptr, 2040, 1320, 375, 615},
    {&C::cmdLeft, "cmdLeft", nullptr, 1320, 1080, 615, 375},
    {&C::cmdRight, "cmdRight", nullptr, 2520, 1080, 615, 375},
    {&C::cmdRevLR, "cmdRevLR", "Reverse", 3240, 1080, 855, 375},
    {&C::cmdRevUD, "cmdRevUD", "Reverse", 1800, 2040, 855, 375},
    {&C::Label2, "Label2", "Az-EW Rate", 40, 880, 975, 255, Centred},
    {&C::cmbAzRate, "cmbAzRate", nullptr, 40, 1120, 1215, 315},
    {&C::Label5, "Label5", "Tracking Mode", 45, 1800, 1095, 255},
    {&C::cmbTrackMode, "cmbTrackMode", nullptr, 40, 2040, 1095, 315},
    {&C::Label3, "Label3", "Comm Port:", 3240, 1800, 855, 255},
    {&C::txtCommPort, "txtCommPort", nullptr, 3240, 2040, 615, 315},
    {&C::UpDown1, "UpDown1", nullptr, 3840, 2040, 240, 315},
    {&C::Frame1, "Frame1", nullptr, 80, 2520, 2000, 375},
    {&C::Label6, "Label6", "PEC:", 120, 130, 495, 195, InFrame1},
    {&C::optOn, "optOn", "On", 600, 130, 555, 195, InFrame1},
    {&C::optOff, "optOff", "Off", 1320, 130, 580, 195, InFrame1},
    {&C::chkOnTop, "chkOnTop", "Always on top", 2760, 2640, 1300, 255},
    {&C::cmdSpiral, "cmdSpiral", nullptr, 70, 240, 480, 480},
    {&C::lblSpiral, "lblSpiral", "spiral in progress", 120, 0, 1215, 195},
    {&C::Label4, "Label4", "Width", 630, 200, 615, 255, Centred},
    {&C::txtWidth, "txtWidth", nullptr, 630, 400, 375, 315},
    {&C::UpDown2, "UpDown2", nullptr, 1000, 400, 240, 315},
    {&C::Label7, "Label7", "Delay", 1270, 200, 615, 255, Centred},
    {&C::txtCornerDelay, "txtCornerDelay", nullptr, 1270, 400, 390, 315},
    {&C::txtDummy, "txtDummy", nullptr, 1440, 720, 375, 285},
    {&C::UpDown3, "UpDown3", nullptr, 1670, 400, 240, 315},
};

// The spin buttons: the box each writes its position into, its range and its step.
struct Spin {
    UpDown* C::*spin;
    QLineEdit* C::*box;
    int minimum, maximum, step;
};
const Spin Spins[] = {
    {&C::UpDown1, &C::txtCommPort, 0, 1000, 1},
    {&C::UpDown2, &C::txtWidth, 0, 10, 1},
    {&C::UpDown3, &C::txtDummy, 0, 100, 5},
};

// The menu bar, menu by menu: a menu's own row names no entry; a caption "-" is a separator line.
struct MenuItem {
    QMenu* C::*menu;
    QAction* C::*entry;
    const char* name;
    const char* caption;
    int shortcut = 0;
    bool checkable = false;
};
const MenuItem MenuBar[] = {
    {&C::mnuFile, nullptr, "mnuFile", "&File"},
    {&C::mnuFile, &C::mnuExit, "mnuExit", "E&xit"},
    {&C::mnuTools, nullptr, "mnuTools", "&Tools"},
    {&C::mnuTools, &C::mnuSetup, "mnuSetup", "&Setup Scope"},
    {&C::mnuTools, &C::mnuController, "mnuController", "Game &Controller", 0, true},
    {&C::mnuTools, &C::mnuControllerDialog, "mnuControllerDialog", "&Game Controller..."},
    {&C::mnuTools, &C::mnuTaps, "mnuTaps", "Repeatable &Taps"},
    {&C::mnuTools, &C::mnuShare, "mnuShare", "Share &Mount..."},
    {&C::mnuView, nullptr, "mnuView", "&View"},
    {&C::mnuView, &C::mnuNightVision, "mnuNightVision", "&Night Vision",
     (Qt::CTRL | Qt::Key_N).toCombined(), true},
    {&C::mnuView, &C::mnuPosition, "mnuPosition", "&Position"},
    {&C::mnuHelp, nullptr, "mnuHelp", "&Help"},
    {&C::mnuHelp, &C::mnuInstructions, "mnuInstructions", "&Quick Instructions", Qt::Key_F1},
    {&C::mnuHelp, &C::mnuSeparator1, "mnuSeparator1", "-"},
    {&C::mnuHelp, &C::mnuAbout, "mnuAbout", "&About Skyjog"},
};

} // namespace

void InterfaceControls::buildControls(QMainWindow& window) {
    client = new QWidget(&window);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(twipsToPixels(4125), twipsToPixels(2940));
    window.setCentralWidget(client);
    window.layout()->setSizeConstraint(QLayout::SetFixedSize);

    for (const Control& c : Controls) {
        QWidget* parent = c.flags & InFrame1 ? static_cast<QWidget*>(Frame1) : client;
        QWidget* made = std::visit(
            [&](auto member) -> QWidget* {
                using W = std::remove_pointer_t<std::remove_reference_t<decltype(this->*member)>>;
                auto* w = new W(parent);
                this->*member = w;
                if constexpr (std::is_same_v<W, QLabel>) {
                    w->setText(QString::fromLatin1(c.caption));
                    w->setAlignment((c.flags & Centred ? Qt::AlignHCenter : Qt::AlignLeft) |
                                    Qt::AlignTop);
                } else if constexpr (std::is_base_of_v<QAbstractButton, W>) {
                    if (c.caption) w->setText(QString::fromLatin1(c.caption));
                }
                return w;
            },
            c.member);
        made->setObjectName(QLatin1String(c.name));
        placeInTwips(made, c.left, c.top, c.width, c.height);
    }

    // The port text is stored between double quotes without escaping: a quote (or a line
    // break) in it would cut the settings line short at the next start.
    txtCommPort->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[^\"\\x00-\\x1f\\x7f]*")), txtCommPort));
    txtCommPort->setMaxLength(255);
    for (const Spin& s : Spins) {
        UpDown* spin = this->*s.spin;
        spin->setBuddy(this->*s.box);
        spin->setRange(s.minimum, s.maximum);
        spin->setIncrement(s.step);
    }
    Frame1->setFrameStyle(QFrame::Box | QFrame::Sunken);
    const Qt::ArrowType pictures[] = {Qt::UpArrow, Qt::DownArrow, Qt::LeftArrow, Qt::RightArrow};
    for (Arrow a : {Arrow::Up, Arrow::Down, Arrow::Left, Arrow::Right}) {
        ArrowButton* b = buttonFor(a);
        b->setIcon(arrowIcon(pictures[size_t(a)]));
        const int side = std::min(b->width(), b->height()) - 4;
        b->setIconSize(QSize(side, side));
    }
    cmdSpiral->setIcon(spiralIcon());
    cmdSpiral->setIconSize(QSize(cmdSpiral->width() - 6, cmdSpiral->height() - 6));
    QPalette red = lblSpiral->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    lblSpiral->setPalette(red);
    lblSpiral->hide();
    txtDummy->hide();

    for (const MenuItem& m : MenuBar) {
        const QString caption = QString::fromLatin1(m.caption);
        if (!m.entry) {
            this->*m.menu = window.menuBar()->addMenu(caption);
            (this->*m.menu)->setObjectName(QLatin1String(m.name));
            continue;
        }
        QMenu* menu = this->*m.menu;
        QAction* entry =
            caption == QLatin1String("-") ? menu->addSeparator() : menu->addAction(caption);
        this->*m.entry = entry;
        entry->setObjectName(QLatin1String(m.name));
        if (m.shortcut) entry->setShortcut(QKeySequence(m.shortcut));
        entry->setCheckable(m.checkable);
    }
}

} // namespace skyjog
