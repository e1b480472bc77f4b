#include "setupscope.h"

#include "commands.h"
#include "convert.h"
#include "fonts.h"
#include "functions.h"
#include "onewindow.h"
#include "ontop.h"
#include "report.h"
#include "twips.h"
#include "updown.h"
#include "vberror.h"

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <algorithm>
#include <cmath>

namespace skyjog {

bool SetupScope::ValuesChanged = false;

namespace setup {

int guideRatePercent(uint8_t byte) {
    return int(std::nearbyint(double(byte) * 100.0 / 256.0));
}

uint8_t backlashByte(const QString& text) {
    const int16_t v = conv::textToInt16(text);
    if (v < 0 || v > 255) throw err::invalidArgument();
    return uint8_t(v);
}

uint8_t guideRateByte(const QString& text) {
    double p = 0;
    try {
        p = conv::textToDouble(text);
    } catch (const VbError& e) {
        // A percentage beyond the double range is far outside what a byte can carry.
        if (e.number == err::Overflow) throw err::invalidArgument();
        throw;
    }
    const double v = std::nearbyint(p * 256.0 / 100.0);
    if (v < 0.0) throw err::invalidArgument();
    if (v > 255.0) {
        // 100 percent is byte 256 on paper; the mount's fastest rate, 255, is what the dialog
        // shows as 100, so a full percentage goes back as that.
        if (p <= 100.0) return 255;
        throw err::invalidArgument();
    }
    return uint8_t(v);
}

} // namespace setup

namespace {

OneWindow<SetupScope>& setupDialog() {
    static OneWindow<SetupScope> dialog;
    return dialog;
}

// The busy pointer for the whole screen while a series of commands runs; gone again on every
// way out, before any failure is reported.
class BusyPointer {
public:
    BusyPointer() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyPointer() { QApplication::restoreOverrideCursor(); }
    BusyPointer(const BusyPointer&) = delete;
    BusyPointer& operator=(const BusyPointer&) = delete;
};

// A box that selects its text whenever it receives the focus, so that typing replaces the value.
class SelectingLineEdit : public QLineEdit {
public:
    using QLineEdit::QLineEdit;

protected:
    void focusInEvent(QFocusEvent* e) override {
        QLineEdit::focusInEvent(e);
        setSelection(0, std::min<int>(100, int(text().size())));
    }
};

// The dialog's two sizes of the classic face, each fitted to the widest caption it carries.
QFont smallFont() {
    return narrowedToFit(classicFont(8.0), QStringLiteral("Percent of Sidereal"), 93);
}
QFont largeFont() {
    return narrowedToFit(classicFont(9.75), QStringLiteral("Azimuth"), 47);
}

} // namespace

SetupScope* SetupScope::current() {
    return setupDialog().current();
}

SetupScope::SetupScope(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("SetupScope"));
    setWindowTitle(QStringLiteral("Setup Scope"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setAttribute(Qt::WA_DeleteOnClose);
    setFont(smallFont());
    setFixedSize(twipsToPixels(6030), twipsToPixels(3195));

    auto label = [this](const char* name, const QString& text, bool large, int l, int t, int w,
                        int h) {
        auto* lbl = new QLabel(text, this);
        lbl->setObjectName(QLatin1String(name));
        if (large) lbl->setFont(largeFont());
        placeInTwips(lbl, l, t, w, h);
        return lbl;
    };
    auto box = [this](const char* name, int l, int t) {
        auto* e = new SelectingLineEdit(this);
        e->setObjectName(QLatin1String(name));
        e->setTextMargins(0, 0, 0, 0);
        placeInTwips(e, l, t, 375, 315);
        connect(e, &QLineEdit::textChanged, this, &SetupScope::box_Change);
        return static_cast<QLineEdit*>(e);
    };
    auto spin = [this](const char* name, QLineEdit* buddy, int l, int t) {
        auto* u = new UpDown(this);
        u->setObjectName(QLatin1String(name));
        u->setBuddy(buddy);
        u->setRange(0, 99);
        u->setIncrement(1);
        placeInTwips(u, l, t, 240, 315);
        return u;
    };

    label("Label1", QStringLiteral("Anti-backlash Settings"), true, 120, 120, 2175, 255);
    label("Label2", QStringLiteral("Positive      Negative"), false, 960, 480, 1695, 255);
    label("Label4", QStringLiteral("Azimuth"), true, 120, 840, 735, 255);
    txtAzPos = box("txtAzPos", 960, 840);
    UpDown3 = spin("UpDown3", txtAzPos, 1320, 840);
    txtAzNeg = box("txtAzNeg", 1800, 840);
    UpDown4 = spin("UpDown4", txtAzNeg, 2160, 840);
    label("Label3", QStringLiteral("Altitude"), true, 120, 1320, 735, 255);
    txtAltPos = box("txtAltPos", 960, 1320);
    UpDown1 = spin("UpDown1", txtAltPos, 1320, 1320);
    txtAltNeg = box("txtAltNeg", 1800, 1320);
    UpDown2 = spin("UpDown2", txtAltNeg, 2160, 1320);
    label("Label8", QStringLiteral("AutoGuide Rate"), true, 3360, 120, 2175, 255);
    label("Label7", QStringLiteral("Percent of Sidereal"), false, 3720, 480, 1455, 255)
        ->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    label("Label5", QStringLiteral("Azimuth"), true, 3360, 840, 735, 255);
    txtAzAuto = box("txtAzAuto", 4200, 840);
    UpDown7 = spin("UpDown7", txtAzAuto, 4560, 840);
    label("Label6", QStringLiteral("Altitude"), true, 3360, 1320, 735, 255);
    txtAltAuto = box("txtAltAuto", 4200, 1320);
    UpDown5 = spin("UpDown5", txtAltAuto, 4560, 1320);

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setDefault(true);
    placeInTwips(OKButton, 2040, 2760, 1215, 375);
    CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    placeInTwips(CancelButton, 3360, 2760, 1215, 375);
    cmdApply = new QPushButton(QStringLiteral("&Apply"), this);
    cmdApply->setObjectName(QStringLiteral("cmdApply"));
    cmdApply->setEnabled(false);
    placeInTwips(cmdApply, 4680, 2760, 1215, 375);

    connect(OKButton, &QPushButton::clicked, this, &SetupScope::OKButton_Click);
    connect(CancelButton, &QPushButton::clicked, this, &SetupScope::CancelButton_Click);
    connect(cmdApply, &QPushButton::clicked, this, &SetupScope::cmdApply_Click);

    QWidget* order[] = {txtAzPos,   txtAzNeg, txtAltPos, txtAltNeg,   txtAzAuto,
                        txtAltAuto, cmdApply, OKButton,  CancelButton};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);

    using cmd::AltMotor, cmd::AzMotor;
    using Dir = cmd::Direction;
    values_ = {{
        {txtAltPos, false, AltMotor, Dir::Positive, "altitude positive anti-backlash", {}},
        {txtAltNeg, false, AltMotor, Dir::Negative, "altitude negative anti-backlash", {}},
        {txtAzPos, false, AzMotor, Dir::Positive, "azimuth positive anti-backlash", {}},
        {txtAzNeg, false, AzMotor, Dir::Negative, "azimuth negative anti-backlash", {}},
        {txtAltAuto, true, AltMotor, Dir::Positive, "altitude autoguide rate", {}},
        {txtAzAuto, true, AzMotor, Dir::Positive, "azimuth autoguide rate", {}},
    }};

    txtAzPos->setFocus();

    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect r = rect();
        r.moveCenter(screen->availableGeometry().center());
        move(r.topLeft());
    }
}

SetupScope::~SetupScope() = default;

void SetupScope::box_Change() {
    ValuesChanged = true;
    cmdApply->setEnabled(true);
}

void SetupScope::Form_Load() {
    for (Value& v : values_)
        v.read.reset();
    try {
        BusyPointer busy;
        for (Value& v : values_) {
            const QByteArray command = v.guideRate ? cmd::GetGuideRate(v.motor)
                                                   : cmd::GetBacklash(v.motor, v.dir);
            const std::optional<uint8_t> value =
                cmd::valueFromReply(SendCommand(command, cmd::ValueReplyLength, cmd::TimeoutMs));
            // A silent mount leaves no value to show.
            if (!value) throw err::invalidArgument();
            const uint8_t b = *value;
            v.box->setText(QString::number(v.guideRate ? setup::guideRatePercent(b) : int(b)));
            v.read = Value::Read{v.box->text(), b};
        }
        ValuesChanged = false;
        cmdApply->setEnabled(false);
        SetOnTop(this, true);
    } catch (const VbError& e) {
        reportError(e);
    }
}

bool SetupScope::applyValues() {
    QStringList unacknowledged;
    bool portFailed = false;
    std::optional<VbError> badBox;
    {
        BusyPointer busy;
        try {
            for (const Value& v : values_) {
                // Each box is read just before its own command, so a bad box stops the series
                // there.
                const QString text = v.box->text();
                const uint8_t byte =
                    v.read && v.read->text == text ? v.read->byte
                    : v.guideRate                  ? setup::guideRateByte(text)
                                                   : setup::backlashByte(text);
                const QByteArray command = v.guideRate ? cmd::SetGuideRate(v.motor, byte)
                                                       : cmd::SetBacklash(v.motor, v.dir, byte);
                const CommandResult r = SendCommandResult(command, cmd::AckLength, cmd::TimeoutMs);
                // A failed port has been reported by the command itself, and the series goes on.
                if (r.portFailed) portFailed = true;
                else if (!cmd::isAcknowledged(r.reply))
                    unacknowledged << QLatin1String(v.name);
            }
        } catch (const VbError& e) {
            badBox = e;
        }
    }
    // The pointer is back before any report.
    if (badBox) reportError(*badBox);
    if (!unacknowledged.isEmpty())
        reportError(VbError(err::NotAcknowledged,
                            QStringLiteral("The mount did not acknowledge the new %1 (%2)")
                                .arg(unacknowledged.size() == 1 ? QStringLiteral("value")
                                                                : QStringLiteral("values"),
                                     unacknowledged.join(QStringLiteral(", ")))));
    if (badBox || portFailed || !unacknowledged.isEmpty()) return false;
    ValuesChanged = false;
    cmdApply->setEnabled(false);
    return true;
}

void SetupScope::cmdApply_Click() {
    applyValues();
}

void SetupScope::OKButton_Click() {
    try {
        // After a failed apply the dialog stays, with the boxes as they are, for another try.
        if (ValuesChanged && !applyValues()) return;
        accept();
    } catch (const VbError& e) {
        reportError(e);
    }
}

void SetupScope::CancelButton_Click() {
    try {
        reject();
    } catch (const VbError& e) {
        reportError(e);
    }
}

void SetupScope::keyPressEvent(QKeyEvent* e) {
    // Esc is the Cancel button's key, so it runs that button's handler.
    if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier) {
        CancelButton_Click();
        return;
    }
    QDialog::keyPressEvent(e);
}

void ShowSetupScope() {
    setupDialog().show();
}

} // namespace skyjog
