// Renders the README's pictures of the pad, day and night: the main window with the Position
// window beside it, on the simulated mount while the hand control slews it.
//   QT_QPA_PLATFORM=offscreen build/skyjog_screenshots docs
#include "clock.h"
#include "commands.h"
#include "interface.h"
#include "messagebox.h"
#include "mountsim.h"
#include "nightlook.h"
#include "positionwindow.h"
#include "report.h"
#include "settingsfile.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <cstdio>

using namespace skyjog;

namespace {

// The two windows side by side, with a small margin in the look's middle shade between them.
QImage sideBySide(QWidget& left, QWidget& right) {
    const QImage a = left.grab().toImage();
    const QImage b = right.grab().toImage();
    constexpr int Margin = 8;
    QImage out(a.width() + b.width() + 3 * Margin, std::max(a.height(), b.height()) + 2 * Margin,
               QImage::Format_RGB32);
    out.fill(QApplication::palette().color(QPalette::Mid));
    QPainter p(&out);
    p.drawImage(Margin, Margin, a);
    p.drawImage(a.width() + 2 * Margin, Margin, b);
    return out;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    const QString outDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    sim::registerInProcessSim();
    sim::Options mount;
    mount.azimuth = 0x4A3C;
    mount.altitude = 0x1D20;
    mount.trackingMode = 0;
    sim::sharedMountSim().reset(mount);
    setReporter(showMessageBox);

    QTemporaryDir program, user;
    Settings s;
    s.CommPortText = QStringLiteral("sim");
    saveSettings(QDir(program.path()).filePath(SettingsLocation::FileName), s);
    Interface window(SettingsLocation(program.path(), user.path()));
    window.show();
    window.showPosition();
    PositionWindow* position = PositionWindow::current();
    position->timer()->stop();

    // The hand control slews in azimuth at one degree a second: two readings give the rate.
    sim::sharedMountSim().receive(cmd::VariableRateSlew(cmd::AzMotor, cmd::MsgSlewPositive, 56, 64),
                                  skyjog::clock().tickCount64());
    position->poll();
    QThread::msleep(500);
    position->poll();

    for (const bool night : {false, true}) {
        setNightLook(night);
        QApplication::processEvents();
        const QString path =
            QDir(outDir).filePath(night ? QStringLiteral("skyjog-night.png") : QStringLiteral("skyjog-day.png"));
        if (!sideBySide(window, *position).save(path)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        std::printf("%s\n", qPrintable(path));
    }
    setNightLook(false);
    position->close();
    window.setProgramEnd([] {});
    return 0;
}
