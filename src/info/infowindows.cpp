#include "infowindows.h"

#include "fonts.h"
#include "onewindow.h"
#include "ontop.h"
#include "report.h"
#include "twips.h"
#include "vberror.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include <exception>

namespace skyjog {

namespace {

const char* const HelpTitle = "Skyjog  -  SKJG";

const char* const HelpParagraphs[] = {
    "SKJG provides arrow button control from a PC connected to most Celestron GoTo "
    "telescopes.  Models NOT supported are the original NexStar 5/8, the NexStar GT models "
    "and the Ultima 2000 line.  All newer models should work with this program.",
    "CAUTION: Just as with the arrow buttons on the hand control, SKJG can easily move the "
    "scope such that something makes contact with the mount.  Unlike the hand control, when "
    "using SKJG you might not be watching the scope closely and thus you might DAMAGE "
    "something!  Use appropriate caution.",
    "SKJG is especially useful for remote control of your scope and for imaging purposes "
    "when you are already using a PC to capture images.",
    "When you start, be sure to set the correct communications port (serial port number) as "
    "well as the tracking mode your scope will be using (Alt/Az, EQ North, EQ South).  If "
    "you you have a CGE with hand control version 3.01 or AS-GT scope with hand control "
    "version 3.04 or 3.03, you must select Alt/Az if you are in the Northern Hemisphere and "
    "EQ North if you are in the Southern Hemisphere (these versions have a small bug).  "
    "Also, note that if you want to temporarily suspend tracking (for example, if stepping "
    "away from the scope for a couple of hours), there is an option to set tracking off.",
    "In addition to using the arrow buttons shown on the PC screen, the arrow keys on your "
    "PC provide the same function.  Note the option to set different rates for each axis "
    "(don't you wish the hand control did that!).  Also, you can easily change the direction "
    "of each pair of arrows with the 'Reverse' buttons.",
    "The button with the square spiral will cause the scope to spiral out from the current "
    "location - useful if the GoTo didn't place an object in the field of view of the "
    "eyepiece or camera.  Click the button once to begin the spiral - click it again to "
    "stop.  In addition to clicking the spiral button on the screen, you can also press the "
    "'s' key on the PC keyboard.  Adjust to a higher 'Width' for lower magnification, wider "
    "fields of view.  Use the 'Delay' to pause at each corner of the spiral.  The delay is "
    "measured in seconds and can allow a CCD camera to capture a quick image of a faint "
    "object and thus let you know when to stop the spiral.  For visual use, web cams or "
    "other cameras that can see in real-time, the delay should be 0.",
    "For the scope models that offer it, SKJG can turn on and off PEC playback.",
    "On the Tools menu you will find Scope Setup.  Here you can set Anti-Backlash on the "
    "scope (just as if you were using the hand control).  This is especially useful if you "
    "notice that after using the arrow buttons the tracking seems to pause for a few moments "
    "- this is normally caused by backlash in the gears and is compensated for with "
    "Anti-Backlash.  Also, you can set the AutoGuide Rate - useful if you are using a camera "
    "interfaced to the AutoGuide port on the scope.",
};

constexpr Qt::WindowFlags FixedWindow = Qt::Window | Qt::MSWindowsFixedSizeDialogHint |
                                        Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                        Qt::WindowCloseButtonHint;

// What the two windows share: a fixed client area in twips, the classic face, and closing
// unloads them.
void setUpWindow(QWidget* w, const char* name, const char* caption, int width, int height) {
    w->setObjectName(QLatin1String(name));
    w->setWindowTitle(QLatin1String(caption));
    w->setAttribute(Qt::WA_DeleteOnClose);
    w->setFont(classicFont(8.0));
    w->setFixedSize(twipsToPixels(width), twipsToPixels(height));
}

OneWindow<HelpWindow>& helpWindow() {
    static OneWindow<HelpWindow> w;
    return w;
}

OneWindow<AboutWindow>& aboutWindow() {
    static OneWindow<AboutWindow> w;
    return w;
}

} // namespace

QString HelpText() {
    const QString crlf = QStringLiteral("\r\n");
    QString text = QString::fromLatin1(HelpTitle) + crlf + crlf;
    for (const char* p : HelpParagraphs)
        text += QString::fromLatin1(p) + crlf + crlf;
    return text;
}

// --- Help ---

HelpWindow* HelpWindow::current() {
    return helpWindow().current();
}

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, FixedWindow) {
    setUpWindow(this, "Help", "Skyjog Help", 7965, 5340);

    txtHelp = new QPlainTextEdit(this);
    txtHelp->setObjectName(QStringLiteral("txtHelp"));
    txtHelp->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtHelp->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    txtHelp->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    txtHelp->setReadOnly(true);
    txtHelp->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    placeInTwips(txtHelp, 60, 60, 7840, 5240);

    // The window sees keys before its text box does, so Escape closes it from anywhere.
    txtHelp->installEventFilter(this);
    installEventFilter(this);
}

void HelpWindow::Form_Load() {
    try {
        SetOnTop(this, true);
        // The box keeps lines with its own separator; what it shows is the page line for line.
        txtHelp->setPlainText(HelpText().replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    } catch (const VbError& e) {
        reportError(e);
    }
}

bool HelpWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        close();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void ShowHelp() {
    helpWindow().show();
}

// --- About ---

AboutWindow* AboutWindow::current() {
    return aboutWindow().current();
}

AboutWindow::AboutWindow(QWidget* parent) : QWidget(parent, FixedWindow) {
    setUpWindow(this, "About", "About Skyjog", 3855, 3135);

    auto label = [this](const char* name, const QString& text, int top, int height) {
        auto* l = new QLabel(text, this);
        l->setObjectName(QLatin1String(name));
        l->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        l->setWordWrap(true);
        placeInTwips(l, 105, top, 3705, height);
        return l;
    };
    QLabel* title = label("lblTitle", QStringLiteral("Skyjog"), 240, 480);
    QFont big = classicFont(13.5);
    big.setWeight(QFont::Bold);
    big.setItalic(true);
    title->setFont(big);
    label("lblVersion", QStringLiteral("Version 1.0.8"), 720, 255);
    label("lblAuthor1", QStringLiteral("By the Skyjog developers"), 1080, 240);
    label("lblAuthor2", QStringLiteral("With thanks to everyone who tested it"), 1320, 240);
    label("lblAuthor3",
          QStringLiteral("A second hand pad for Celestron GoTo mounts, working through the "
                         "hand control"),
          1560, 495);
    label("lblAuthor4", QStringLiteral("Provided as is, without warranty"), 2070, 255);

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setAutoDefault(true);
    placeInTwips(cmdOK, 2520, 2680, 1260, 345);
    connect(cmdOK, &QPushButton::clicked, this, &QWidget::close);
    cmdOK->setFocus();
}

void AboutWindow::Form_Load() {
    try {
        SetOnTop(this, true);
    } catch (const VbError& e) {
        reportError(e);
    }
}

void AboutWindow::keyPressEvent(QKeyEvent* event) {
    // The OK button leaves Escape to its window.
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void ShowAbout() {
    aboutWindow().show();
}

} // namespace skyjog
