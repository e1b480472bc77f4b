#pragma once
// Tools > Game Controller...: which button does what, bound by pressing it, the stick's dead
// zone, the controller connected and what it shows pressed now. Modeless and on top, as the
// program's other dialogs.
#include "padmapping.h"

#include <QDialog>
#include <functional>

class QComboBox;
class QLabel;
class QPushButton;
class QSlider;
class QTableWidget;

namespace skyjog {

class GamePad;

class ControllerDialog : public QDialog {
    Q_OBJECT
public:
    struct Handlers {
        std::function<void(const PadMapping&)> mappingChanged; // the user changed the mapping
        std::function<void()> deadZoneChanged;                 // the pad has the new one already
    };
    ControllerDialog(GamePad& pad, Handlers handlers);
    ~ControllerDialog() override;

    // Shows the controller connected and its mapping again.
    void refresh();
    // The next button pressed does the action of the selected row.
    void cmdBind_Click();
    void cmdStandard_Click();

    QLabel* lblController;
    QComboBox* cmbArrows;
    QTableWidget* tblActions;
    QPushButton* cmdBind;
    QPushButton* cmdStandard;
    QLabel* lblPrompt;
    QSlider* sldDeadZone;
    QLabel* lblDeadZone;
    QLabel* lblPressed;
    QPushButton* cmdClose;

protected:
    void keyPressEvent(QKeyEvent* e) override;

private:
    void showPressed();
    void showDeadZone();
    void changeMapping(const PadMapping& m);
    void cancelBinding();

    GamePad& pad_;
    Handlers handlers_;
};

} // namespace skyjog
