#pragma once
// Tools > Share Mount...: sharing on and off, where it listens, what to give the other program
// (the TCP address, the pseudo-terminal), the programs connected now with each one's last
// command, and the share's log. Modeless and on top, as the program's other dialogs.
#include <QDialog>

class QAction;
class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTableWidget;

namespace skyjog {

class MountShare;

class ShareDialog : public QDialog {
    Q_OBJECT
public:
    // A window of the main window's, so that it is never left behind it when that one is kept on
    // top, and gone with it (the share it shows is the window's).
    ShareDialog(MountShare& share, QWidget* window);
    ~ShareDialog() override;

    // Shows the share as it is, and puts the dialog on top.
    void Form_Load();
    // The controls and labels follow the share; nothing is sent back to it.
    void refresh();

    QCheckBox* chkShare;
    QSpinBox* spnPort;
    QCheckBox* chkAllInterfaces;
    QLabel* lblWarning;
    QLabel* lblAddress;
    QLabel* lblPty;
    QTableWidget* tblClients;
    QPlainTextEdit* txtLog;
    QLabel* lblError;
    QPushButton* cmdClose;

protected:
    // However it is closed, a port typed and not yet taken is taken.
    void done(int result) override;

private:
    void chkShare_Toggled(bool on);
    void spnPort_EditingFinished();
    void chkAllInterfaces_Toggled(bool on);
    void showClients();

    MountShare& share_;
};

// The entry opens the dialog, or brings forward the one already open.
void wireShareDialog(QAction* action, MountShare& share, QWidget* window);

} // namespace skyjog
