#pragma once
// The Setup Scope dialog: the mount's four anti-backlash values and two autoguide rates, read
// from the mount each time the dialog opens and written back on Apply (or OK after a change).
#include "commands.h"

#include <QDialog>
#include <array>
#include <cstdint>
#include <optional>

class QLineEdit;
class QPushButton;

namespace skyjog {

class UpDown;

// Opens the dialog (modeless, without an owner), or brings the open one forward without
// reading anything again.
void ShowSetupScope();

class SetupScope : public QDialog {
    Q_OBJECT
public:
    // True once a box has changed since the last load or apply that ran to its end. It belongs to
    // the dialog for the whole run of the program, not to one window: closing keeps it.
    static bool ValuesChanged;

    // The open dialog, or nullptr.
    static SetupScope* current();

    explicit SetupScope(QWidget* parent = nullptr);
    ~SetupScope() override;

    // Reads the six values into the boxes (run once, before the dialog is first shown).
    void Form_Load();
    // Writes the six values from the boxes, in the mount's order.
    void cmdApply_Click();
    // Applies when a box has changed, then closes; a failed apply keeps the dialog open.
    void OKButton_Click();
    void CancelButton_Click();

protected:
    void keyPressEvent(QKeyEvent* e) override;

private:
    void box_Change();
    // The apply itself: true when all six values were written and acknowledged. Every failure
    // has been reported when it returns false.
    bool applyValues();

    // One of the six values, in the order the mount is read and written.
    struct Value {
        QLineEdit* box;
        bool guideRate;
        uint8_t motor;
        cmd::Direction dir;
        const char* name; // for reports
        // The text the last load put into the box and the byte it came from. Several autoguide
        // bytes show as the same percent, so while the box still shows this text the byte goes
        // back as it was read, not as the text converts.
        struct Read {
            QString text;
            uint8_t byte;
        };
        std::optional<Read> read;
    };
    std::array<Value, 6> values_;

    QLineEdit* txtAzPos;
    QLineEdit* txtAzNeg;
    QLineEdit* txtAltPos;
    QLineEdit* txtAltNeg;
    QLineEdit* txtAzAuto;
    QLineEdit* txtAltAuto;
    UpDown* UpDown3;
    UpDown* UpDown4;
    UpDown* UpDown1;
    UpDown* UpDown2;
    UpDown* UpDown7;
    UpDown* UpDown5;
    QPushButton* OKButton;
    QPushButton* CancelButton;
    QPushButton* cmdApply;
};

namespace setup {
// An autoguide-rate byte (b/256 of the sidereal rate) as the whole percent the dialog shows,
// rounded half to even: 32 gives 12, 96 gives 38, 255 gives 100.
int guideRatePercent(uint8_t byte);
// A backlash box's text as the byte it sends. Throws VbError 13 (not a number), 6 (beyond 16
// bits) or 5 (outside 0-255).
uint8_t backlashByte(const QString& text);
// An autoguide box's percentage as the byte it sends, p * 256 / 100 rounded half to even. A
// percentage up to 100 gives at most 255, so every value the dialog shows can be written back.
// Throws VbError 13 (not a number) or 5 (above 100 or below -0.5 / 2.56, however far).
uint8_t guideRateByte(const QString& text);
} // namespace setup

} // namespace skyjog
