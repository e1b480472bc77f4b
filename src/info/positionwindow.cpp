#include "positionwindow.h"

#include "clock.h"
#include "commands.h"
#include "fonts.h"
#include "functions.h"
#include "onewindow.h"
#include "ontop.h"
#include "report.h"
#include "vberror.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QLabel>
#include <QTimer>
#include <cmath>

namespace skyjog {

namespace {

OneWindow<PositionWindow>& positionWindow() {
    static OneWindow<PositionWindow> w;
    return w;
}

constexpr Qt::WindowFlags FixedWindow = Qt::Window | Qt::MSWindowsFixedSizeDialogHint |
                                        Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                        Qt::WindowCloseButtonHint;

// The mount counts altitude round the whole circle; below the horizon reads as negative.
double signedAltitude(double degrees) {
    return degrees >= 180 ? degrees - 360 : degrees;
}

} // namespace

void ShowPosition(PositionHost host) {
    positionWindow().show(std::move(host));
}

QString formatDms(double degrees, bool withSign) {
    // Whole seconds first, so that 59.6" carries into the minutes instead of showing as 60".
    const long long total = std::llround(std::fabs(degrees) * 3600);
    const QString sign = degrees < 0 && total > 0 ? QStringLiteral("-")
                         : withSign               ? QStringLiteral("+")
                                                  : QString();
    return QStringLiteral("%1%2\u00b0%3'%4\"")
        .arg(sign)
        .arg(total / 3600)
        .arg((total / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(total % 60, 2, 10, QLatin1Char('0'));
}

QString formatRate(double degreesPerSecond) {
    return formatDms(degreesPerSecond, true) + QStringLiteral("/s");
}

double angleStep(double from, double to) {
    double d = std::fmod(to - from, 360.0);
    if (d > 180) d -= 360;
    if (d <= -180) d += 360;
    return d;
}

PositionWindow* PositionWindow::current() {
    return positionWindow().current();
}

PositionWindow::PositionWindow(PositionHost host, QWidget* parent)
    : QWidget(parent, FixedWindow), host_(std::move(host)), timer_(new QTimer(this)) {
    setObjectName(QStringLiteral("Position"));
    setWindowTitle(QStringLiteral("Position"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFont(classicFont(8.0));

    auto* grid = new QGridLayout(this);
    grid->setSizeConstraint(QLayout::SetFixedSize);
    grid->setHorizontalSpacing(16);
    auto label = [this](const char* name, const QString& text) {
        auto* l = new QLabel(text, this);
        l->setObjectName(QLatin1String(name));
        return l;
    };
    // Wide enough for the longest reading, so the window does not jump as the values change.
    const QFontMetrics fm(font());
    const int valueWidth = fm.horizontalAdvance(QStringLiteral("-359\u00b059'59\"")) + 4;
    const int rateWidth = fm.horizontalAdvance(QStringLiteral("+359\u00b059'59\"/s")) + 4;
    grid->addWidget(label("lblRateHeading", QStringLiteral("Change")), 0, 2);
    grid->addWidget(label("lblAzCaption", QStringLiteral("Azimuth")), 1, 0);
    grid->addWidget(label("lblAltCaption", QStringLiteral("Altitude")), 2, 0);
    lblAz = label("lblAz", Unreadable);
    lblAlt = label("lblAlt", Unreadable);
    lblAzRate = label("lblAzRate", Unreadable);
    lblAltRate = label("lblAltRate", Unreadable);
    for (QLabel* l : {lblAz, lblAlt})
        l->setMinimumWidth(valueWidth);
    for (QLabel* l : {lblAzRate, lblAltRate})
        l->setMinimumWidth(rateWidth);
    for (QLabel* l : {lblAz, lblAlt, lblAzRate, lblAltRate})
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    grid->addWidget(lblAz, 1, 1);
    grid->addWidget(lblAzRate, 1, 2);
    grid->addWidget(lblAlt, 2, 1);
    grid->addWidget(lblAltRate, 2, 2);

    timer_->setObjectName(QStringLiteral("pollTimer"));
    timer_->setInterval(PollMs);
    timer_->setSingleShot(true);
    connect(timer_, &QTimer::timeout, this, &PositionWindow::timerTurn);
}

void PositionWindow::Form_Load() {
    try {
        if (host_.place) host_.place(*this);
        SetOnTop(this, true);
    } catch (const VbError& e) {
        reportError(e);
    }
    timer_->start();
}

void PositionWindow::closeEvent(QCloseEvent* e) {
    timer_->stop();
    if (host_.closedAt) host_.closedAt(pos());
    QWidget::closeEvent(e);
}

void PositionWindow::poll() {
    // A turn that finds the program busy is skipped, not queued: the next comes half a second on.
    if (!host_.idle || !host_.idle()) return;
    const CommandResult r =
        SendCommandQuietly(cmd::GetAzAlt(), cmd::PositionReplyLength, ReadingTimeoutMs);
    showReading(r.reply, r.portFailed);
}

void PositionWindow::timerTurn() {
    poll();
    if (isVisible()) timer_->start(nextPollMs());
}

void PositionWindow::showReading(const QByteArray& reply, bool failed) {
    const std::optional<cmd::AzAlt> position =
        failed ? std::nullopt : cmd::positionFromReply(reply);
    quietMount_ = !position;
    if (!position) {
        showNothing(failed || reply.isEmpty() ? NoReply : Unreadable);
        return;
    }
    const int64_t now = clock().tickCount64();
    const double alt = signedAltitude(position->altitude);
    lblAz->setText(formatDms(position->azimuth, false));
    lblAlt->setText(formatDms(alt, true));
    if (last_ && now > last_->atMs) {
        const double seconds = double(now - last_->atMs) / 1000.0;
        lblAzRate->setText(formatRate(angleStep(last_->azimuth, position->azimuth) / seconds));
        lblAltRate->setText(formatRate(angleStep(last_->altitude, alt) / seconds));
    } else {
        lblAzRate->setText(Unreadable);
        lblAltRate->setText(Unreadable);
    }
    last_ = Reading{position->azimuth, alt, now};
}

void PositionWindow::showNothing(const QString& text) {
    lblAz->setText(text);
    lblAlt->setText(text);
    lblAzRate->setText(Unreadable);
    lblAltRate->setText(Unreadable);
    last_.reset();
}

QString PositionWindow::azimuthText() const {
    return lblAz->text();
}
QString PositionWindow::altitudeText() const {
    return lblAlt->text();
}
QString PositionWindow::azimuthRateText() const {
    return lblAzRate->text();
}
QString PositionWindow::altitudeRateText() const {
    return lblAltRate->text();
}

} // namespace skyjog
