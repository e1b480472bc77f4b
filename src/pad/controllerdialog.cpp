#include "controllerdialog.h"

#include "gamepad.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cmath>

namespace skyjog {

namespace {

// The choices of where the arrows come from, in the order of ArrowInput.
const char* const ArrowInputs[] = {"D-pad", "Left stick", "D-pad and left stick"};

QString buttonList(const QList<int>& buttons) {
    QStringList names;
    for (int b : buttons)
        names << buttonLabel(b);
    return names.isEmpty() ? QStringLiteral("(none)") : names.join(QStringLiteral(", "));
}

} // namespace

ControllerDialog::ControllerDialog(GamePad& pad, Handlers handlers)
    : pad_(pad), handlers_(std::move(handlers)) {
    setObjectName(QStringLiteral("ControllerDialog"));
    setWindowTitle(QStringLiteral("Game Controller"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setAttribute(Qt::WA_DeleteOnClose);

    auto named = [](auto* w, const char* name) {
        w->setObjectName(QLatin1String(name));
        return w;
    };
    lblController = named(new QLabel(this), "lblController");
    cmbArrows = named(new QComboBox(this), "cmbArrows");
    for (const char* text : ArrowInputs)
        cmbArrows->addItem(QString::fromLatin1(text));
    tblActions = named(new QTableWidget(int(PadActions.size()), 2, this), "tblActions");
    tblActions->setHorizontalHeaderLabels({QStringLiteral("Action"), QStringLiteral("Button")});
    tblActions->verticalHeader()->hide();
    tblActions->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblActions->setSelectionMode(QAbstractItemView::SingleSelection);
    tblActions->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblActions->horizontalHeader()->setStretchLastSection(true);
    for (int row = 0; row < int(PadActions.size()); ++row) {
        tblActions->setItem(row, 0, new QTableWidgetItem(actionName(PadActions[size_t(row)])));
        tblActions->setItem(row, 1, new QTableWidgetItem);
    }
    tblActions->resizeColumnToContents(0);
    tblActions->selectRow(0);
    cmdBind = named(new QPushButton(QStringLiteral("&Bind..."), this), "cmdBind");
    cmdStandard = named(new QPushButton(QStringLiteral("&Standard Mapping"), this), "cmdStandard");
    lblPrompt = named(new QLabel(this), "lblPrompt");
    sldDeadZone = named(new QSlider(Qt::Horizontal, this), "sldDeadZone");
    sldDeadZone->setRange(5, 95);
    sldDeadZone->setPageStep(5);
    lblDeadZone = named(new QLabel(this), "lblDeadZone");
    lblPressed = named(new QLabel(this), "lblPressed");
    cmdClose = named(new QPushButton(QStringLiteral("Close"), this), "cmdClose");

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Controller:"), lblController);
    form->addRow(QStringLiteral("Arrows from:"), cmbArrows);
    auto* deadZone = new QHBoxLayout;
    deadZone->addWidget(sldDeadZone);
    deadZone->addWidget(lblDeadZone);
    form->addRow(QStringLiteral("Stick dead zone:"), deadZone);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(cmdBind);
    buttons->addWidget(cmdStandard);
    buttons->addStretch();
    buttons->addWidget(cmdClose);
    auto* all = new QVBoxLayout(this);
    all->addLayout(form);
    all->addWidget(tblActions);
    all->addWidget(lblPrompt);
    all->addWidget(lblPressed);
    all->addLayout(buttons);
    resize(360, 420);

    connect(cmdBind, &QPushButton::clicked, this, &ControllerDialog::cmdBind_Click);
    connect(tblActions, &QTableWidget::cellDoubleClicked, this, &ControllerDialog::cmdBind_Click);
    connect(cmdStandard, &QPushButton::clicked, this, &ControllerDialog::cmdStandard_Click);
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::close);
    connect(cmbArrows, &QComboBox::activated, this, [this](int i) {
        PadMapping m = pad_.mapping();
        m.arrows = ArrowInput(i);
        changeMapping(m);
    });
    connect(sldDeadZone, &QSlider::valueChanged, this, [this](int percent) {
        pad_.setDeadZone(percent / 100.0);
        showDeadZone();
        if (handlers_.deadZoneChanged) handlers_.deadZoneChanged();
    });
    connect(&pad_, &GamePad::inputChanged, this, &ControllerDialog::showPressed);
    {
        const QSignalBlocker quiet(sldDeadZone);
        sldDeadZone->setValue(int(std::lround(pad_.deadZone() * 100)));
    }
    showDeadZone();
    refresh();
}

ControllerDialog::~ControllerDialog() {
    cancelBinding();
}

void ControllerDialog::refresh() {
    const bool connected = pad_.isConnected();
    lblController->setText(connected         ? pad_.controllerName()
                           : pad_.isEnabled() ? QStringLiteral("none connected")
                                              : QStringLiteral("off (Tools > Game Controller)"));
    const PadMapping& m = pad_.mapping();
    cmbArrows->setCurrentIndex(int(m.arrows));
    for (int row = 0; row < int(PadActions.size()); ++row)
        tblActions->item(row, 1)->setText(buttonList(m.buttonsOf(PadActions[size_t(row)])));
    for (QWidget* w : {static_cast<QWidget*>(cmbArrows), static_cast<QWidget*>(tblActions),
                       static_cast<QWidget*>(cmdBind), static_cast<QWidget*>(cmdStandard)})
        w->setEnabled(connected);
    if (!connected) cancelBinding();
    showPressed();
}

void ControllerDialog::cmdBind_Click() {
    const int row = tblActions->currentRow();
    if (row < 0 || !pad_.isConnected()) return;
    const PadAction action = PadActions[size_t(row)];
    lblPrompt->setText(QStringLiteral("Press a button for %1").arg(actionName(action)));
    pad_.captureButton([this, action](int button) {
        lblPrompt->clear();
        PadMapping m = pad_.mapping();
        m.bind(action, button);
        changeMapping(m);
    });
}

void ControllerDialog::cmdStandard_Click() {
    cancelBinding();
    changeMapping(PadMapping::standard());
}

void ControllerDialog::changeMapping(const PadMapping& m) {
    pad_.setMapping(m);
    refresh();
    if (handlers_.mappingChanged) handlers_.mappingChanged(m);
}

void ControllerDialog::cancelBinding() {
    if (!pad_.isCapturing()) return;
    pad_.cancelCapture();
    lblPrompt->clear();
}

void ControllerDialog::keyPressEvent(QKeyEvent* e) {
    // Escape ends a binding under way, and only that; without one it closes the dialog.
    if (e->key() == Qt::Key_Escape && pad_.isCapturing()) {
        cancelBinding();
        return;
    }
    QDialog::keyPressEvent(e);
}

void ControllerDialog::showDeadZone() {
    lblDeadZone->setText(QStringLiteral("%1 %").arg(sldDeadZone->value()));
}

void ControllerDialog::showPressed() {
    QStringList pressed;
    for (int b = 0; b < PadMapping::ButtonCount; ++b)
        if (pad_.isButtonDown(b)) pressed << buttonLabel(b);
    const char* const stick[] = {"stick up", "stick down", "stick left", "stick right"};
    for (Arrow a : {Arrow::Up, Arrow::Down, Arrow::Left, Arrow::Right})
        if (pad_.stickPresses(a)) pressed << QLatin1String(stick[size_t(a)]);
    lblPressed->setText(QStringLiteral("Pressed: %1")
                            .arg(pressed.isEmpty() ? QStringLiteral("nothing")
                                                   : pressed.join(QStringLiteral(", "))));
}

} // namespace skyjog
