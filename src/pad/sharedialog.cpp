#include "sharedialog.h"

#include "commandtable.h"
#include "mountshare.h"
#include "onewindow.h"
#include "ontop.h"

#include <QAction>
#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>
#include <memory>

namespace skyjog {

namespace {

bool isEveryInterface(const QHostAddress& a) {
    return a == QHostAddress(QHostAddress::Any) || a == QHostAddress(QHostAddress::AnyIPv4) ||
           a == QHostAddress(QHostAddress::AnyIPv6);
}

// Text the user copies into the other program.
void makeCopyable(QLabel* label) {
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
}

} // namespace

ShareDialog::ShareDialog(MountShare& share, QWidget* window) : QDialog(window), share_(share) {
    setObjectName(QStringLiteral("ShareDialog"));
    setWindowTitle(QStringLiteral("Share Mount"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setAttribute(Qt::WA_DeleteOnClose);

    auto named = [](auto* w, const char* name) {
        w->setObjectName(QLatin1String(name));
        return w;
    };
    chkShare = named(new QCheckBox(QStringLiteral("&Share the mount with other programs"), this),
                     "chkShare");
    spnPort = named(new QSpinBox(this), "spnPort");
    spnPort->setRange(1, 65535);
    // The port changes once it is typed in full, not at each digit: each change listens anew
    // and drops the programs connected.
    spnPort->setKeyboardTracking(false);
    chkAllInterfaces = named(
        new QCheckBox(QStringLiteral("Listen on every network &interface"), this),
        "chkAllInterfaces");
    lblWarning = named(
        new QLabel(QStringLiteral("Warning: the protocol has no password. Anyone on the network "
                                  "can connect and move the telescope."),
                   this),
        "lblWarning");
    lblWarning->setWordWrap(true);
    QFont bold = lblWarning->font();
    bold.setBold(true);
    lblWarning->setFont(bold);
    lblAddress = named(new QLabel(this), "lblAddress");
    makeCopyable(lblAddress);
    lblPty = named(new QLabel(this), "lblPty");
    makeCopyable(lblPty);
    lblPty->setWordWrap(true);
    lblError = named(new QLabel(this), "lblError");
    lblError->setTextFormat(Qt::PlainText);
    lblError->setWordWrap(true);
    tblClients = named(new QTableWidget(0, 2, this), "tblClients");
    tblClients->setHorizontalHeaderLabels({QStringLiteral("Program"), QStringLiteral("Last command")});
    tblClients->verticalHeader()->hide();
    tblClients->setSelectionMode(QAbstractItemView::NoSelection);
    tblClients->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblClients->horizontalHeader()->setStretchLastSection(true);
    tblClients->setColumnWidth(0, 170);
    txtLog = named(new QPlainTextEdit(this), "txtLog");
    txtLog->setReadOnly(true);
    txtLog->setMaximumBlockCount(MountShare::LogLines);
    cmdClose = named(new QPushButton(QStringLiteral("&Close"), this), "cmdClose");
    // Return in the port box applies the port; it must not close the dialog as well.
    cmdClose->setAutoDefault(false);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("TCP &port:"), spnPort);
    form->addRow(chkAllInterfaces);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdClose);
    auto* all = new QVBoxLayout(this);
    all->addWidget(chkShare);
    all->addLayout(form);
    all->addWidget(lblWarning);
    all->addWidget(lblAddress);
    all->addWidget(lblPty);
    all->addWidget(lblError);
    all->addWidget(new QLabel(QStringLiteral("Programs connected:"), this));
    all->addWidget(tblClients, 1);
    all->addWidget(new QLabel(QStringLiteral("Log:"), this));
    all->addWidget(txtLog, 2);
    all->addLayout(buttons);
    resize(440, 480);

    // The controls are set from the share with their signals blocked: only the user's changes
    // reach it.
    connect(chkShare, &QCheckBox::toggled, this, &ShareDialog::chkShare_Toggled);
    connect(spnPort, &QSpinBox::editingFinished, this, &ShareDialog::spnPort_EditingFinished);
    connect(chkAllInterfaces, &QCheckBox::toggled, this, &ShareDialog::chkAllInterfaces_Toggled);
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::close);
    connect(&share_, &MountShare::changed, this, &ShareDialog::refresh);
    connect(&share_, &MountShare::logged, txtLog, &QPlainTextEdit::appendPlainText);
}

ShareDialog::~ShareDialog() {
    // The port box loses the focus as it is torn down, after this dialog's own part is gone.
    spnPort->disconnect(this);
}

void ShareDialog::Form_Load() {
    txtLog->setPlainText(share_.log().join(u'\n'));
    {
        const QSignalBlocker quiet(spnPort);
        spnPort->setValue(share_.target().port);
    }
    refresh();
    SetOnTop(this, true);
}

void ShareDialog::done(int result) {
    spnPort->interpretText();
    if (spnPort->value() != share_.target().port) spnPort_EditingFinished();
    QDialog::done(result);
}

void ShareDialog::refresh() {
    const ShareTarget target = share_.target();
    {
        const QSignalBlocker quiet(chkShare);
        chkShare->setChecked(share_.enabled());
    }
    {
        const QSignalBlocker quiet(chkAllInterfaces);
        chkAllInterfaces->setChecked(isEveryInterface(target.address));
    }
    // A program connecting while the user types a port leaves the typing alone.
    if (!spnPort->hasFocus()) {
        const QSignalBlocker quiet(spnPort);
        spnPort->setValue(target.port);
    }
    lblWarning->setVisible(share_.listening() && MountShare::isOpenToNetwork(target.address));
    lblAddress->setText(share_.listening()
                            ? QStringLiteral("Give the other program: %1").arg(share_.addressText())
                            : QStringLiteral("Not sharing the mount now."));
#ifdef Q_OS_WIN
    lblPty->setText(QStringLiteral("No virtual serial port on Windows: give the program the "
                                   "address above."));
#else
    const QString pty = share_.ptyPath();
    lblPty->setText(pty.isEmpty()
                        ? QStringLiteral("No virtual serial port offered now.")
                        : QStringLiteral("Programs that speak only serial: open %1").arg(pty));
#endif
    const QString error = share_.error();
    lblError->setText(error);
    lblError->setVisible(!error.isEmpty());
    showClients();
}

void ShareDialog::showClients() {
    // The terminal is always there while offered; it is a program only once one talks through it.
    const QString pty = share_.ptyPath();
    std::vector<share::ShareServer::ClientInfo> shown;
    for (auto& c : share_.clients())
        if (pty.isEmpty() || c.name != pty || !c.lastCommand.isEmpty()) shown.push_back(c);
    tblClients->setRowCount(int(shown.size()));
    for (int row = 0; row < int(shown.size()); ++row) {
        const auto& c = shown[size_t(row)];
        const QString last = c.lastCommand.isEmpty() ? QString() : cmd::describeCommand(c.lastCommand);
        for (int column = 0; column < 2; ++column) {
            QTableWidgetItem* item = tblClients->item(row, column);
            if (!item) tblClients->setItem(row, column, item = new QTableWidgetItem);
            item->setText(column == 0 ? c.name : last);
        }
    }
}

void ShareDialog::chkShare_Toggled(bool on) {
    share_.setEnabled(on);
}

void ShareDialog::spnPort_EditingFinished() {
    ShareTarget t = share_.target();
    t.port = uint16_t(spnPort->value());
    share_.setTarget(t);
}

void ShareDialog::chkAllInterfaces_Toggled(bool on) {
    ShareTarget t = share_.target();
    t.address = QHostAddress(on ? QHostAddress::Any : QHostAddress::LocalHost);
    share_.setTarget(t);
}

void wireShareDialog(QAction* action, MountShare& share, QWidget* window) {
    auto dialog = std::make_shared<OneWindow<ShareDialog>>();
    QObject::connect(action, &QAction::triggered, window,
                     [dialog, &share, window] { dialog->show(share, window); });
}

} // namespace skyjog
