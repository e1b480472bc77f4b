// The night look, pixel by pixel: every window of the program rendered offscreen has no green or
// blue to speak of at night, and the day look comes back exactly as it was.
#include "infowindows.h"
#include "messagebox.h"
#include "nightlook.h"
#include "padfixture.h"
#include "positionwindow.h"
#include "setupscope.h"
#include "testhelpers.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QStyleFactory>
#include <QToolTip>

using namespace skyjog;
using namespace skyjog::test;

namespace {

// Above this, a channel other than red shows as a colour of its own on a dark screen.
constexpr int Bound = 40;

// The first pixel whose green or blue channel is above the bound, and how many there are.
QString colouredPixels(const QImage& image) {
    const QImage img = image.convertToFormat(QImage::Format_ARGB32);
    int count = 0;
    QString first;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QRgb c = img.pixel(x, y);
            if (qGreen(c) > Bound || qBlue(c) > Bound) {
                if (count++ == 0)
                    first = QStringLiteral("(%1, %2) is %3, %4, %5")
                                .arg(x)
                                .arg(y)
                                .arg(qRed(c))
                                .arg(qGreen(c))
                                .arg(qBlue(c));
            }
        }
    return count ? QStringLiteral("%1 pixels; the first at %2").arg(count).arg(first) : QString();
}

// Every window the program shows, open at once, each rendered as the user would see it.
struct AllWindows {
    Pad pad;
    Interface* main = nullptr;
    std::unique_ptr<MessageBox> box;

    AllWindows() {
        main = &pad.startOnSim();
        ShowHelp();
        ShowAbout();
        main->showPosition();
        PositionWindow::current()->timer()->stop();
        PositionWindow::current()->poll(); // a reading, before Setup Scope holds the readings up
        ShowSetupScope();
        box = std::make_unique<MessageBox>(QStringLiteral("Cannot open /dev/ttyUSB0 - 8002"),
                                           QStringLiteral("Skyjog"));
        box->show();
        QApplication::setActiveWindow(main);
        // A focus frame, and a port box with its cursor (which blinks: held still here).
        main->cmdRevLR->setFocus(Qt::TabFocusReason);
    }
    ~AllWindows() {
        for (QWidget* w : {static_cast<QWidget*>(HelpWindow::current()),
                           static_cast<QWidget*>(AboutWindow::current()),
                           static_cast<QWidget*>(SetupScope::current()),
                           static_cast<QWidget*>(PositionWindow::current())})
            if (w) w->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        setNightLook(false);
    }

    QImage menuImage(QMenu* menu) {
        menu->popup(main->mapToGlobal(QPoint(0, 0)));
        if (!menu->actions().isEmpty()) menu->setActiveAction(menu->actions().first());
        const QImage img = menu->grab().toImage();
        menu->hide();
        return img;
    }

    // Each window by name, as rendered now.
    std::vector<std::pair<QString, QImage>> render() {
        QApplication::processEvents();
        std::vector<std::pair<QString, QImage>> out;
        auto add = [&](const char* name, QWidget* w) {
            QVERIFY2(w, name);
            out.emplace_back(QLatin1String(name), w->grab().toImage());
        };
        add("main window", main);
        add("Help", HelpWindow::current());
        add("About", AboutWindow::current());
        // Where the focus was last in each window is no part of the look.
        for (QLineEdit* box : SetupScope::current()->findChildren<QLineEdit*>())
            box->deselect();
        add("Setup Scope", SetupScope::current());
        add("Position", PositionWindow::current());
        add("message box", box.get());
        for (QMenu* m : {main->mnuFile, main->mnuTools, main->mnuView, main->mnuHelp})
            out.emplace_back(m->objectName(), menuImage(m));
        // A drop-down list, open, with its selected entry.
        main->cmbAltRate->showPopup();
        add("rate list", main->cmbAltRate->view()->window());
        main->cmbAltRate->hidePopup();
        // The port box with the focus, and its selection.
        QApplication::setActiveWindow(main);
        main->txtCommPort->setFocus(Qt::TabFocusReason);
        [&] { QVERIFY(main->txtCommPort->hasFocus()); }();
        main->txtCommPort->selectAll();
        out.emplace_back(QStringLiteral("port box focused"), main->grab().toImage());
        // And the tooltip that names its device.
        QToolTip::showText(main->txtCommPort->mapToGlobal(QPoint(2, 2)),
                           main->txtCommPort->toolTip(), main->txtCommPort);
        QWidget* tip = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top->inherits("QTipLabel") && top->isVisible()) tip = top;
        add("tooltip", tip);
        QToolTip::hideText();
        main->cmdRevLR->setFocus(Qt::TabFocusReason);
        // The help page with the keyboard in it, caret and all.
        QApplication::setActiveWindow(HelpWindow::current());
        HelpWindow::current()->findChild<QPlainTextEdit*>()->setFocus(Qt::TabFocusReason);
        add("Help focused", HelpWindow::current());
        QApplication::setActiveWindow(main);
        return out;
    }
};

} // namespace

class TestNightLook : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        quietOffscreenWarnings();
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        QApplication::setCursorFlashTime(0);
    }

    void nightHasNoGreenOrBlueAndDayComesBackUnchanged() {
        AllWindows all;
        const auto dayBefore = all.render();
        // Without the night look, the check sees the day's white and blue: it is a real check.
        QVERIFY(!colouredPixels(dayBefore.front().second).isEmpty());

        all.main->mnuNightVision->trigger();
        QVERIFY(nightLook());
        const auto night = all.render();
        QCOMPARE(night.size(), dayBefore.size());
        for (const auto& [name, image] : night) {
            QVERIFY2(!image.isNull(), qPrintable(name));
            const QString bad = colouredPixels(image);
            QVERIFY2(bad.isEmpty(), qPrintable(name + QStringLiteral(": ") + bad));
        }

        all.main->mnuNightVision->trigger();
        QVERIFY(!nightLook());
        const auto dayAfter = all.render();
        for (size_t i = 0; i < dayBefore.size(); ++i) {
            QCOMPARE(dayAfter[i].first, dayBefore[i].first);
            QVERIFY2(dayAfter[i].second == dayBefore[i].second, qPrintable(dayBefore[i].first));
        }
    }

    // Ctrl+N switches from any window, and the choice is in the separate file, not the line.
    void theChoiceIsRememberedBesideTheSettingsLine() {
        QByteArray line;
        QString prefsPath;
        {
            Pad pad;
            Interface& w = pad.startOnSim();
            QVERIFY(!w.mnuNightVision->isChecked());
            QTest::keyClick(&w, Qt::Key_N, Qt::ControlModifier);
            QVERIFY(w.mnuNightVision->isChecked());
            QVERIFY(nightLook());
            prefsPath = w.preferences().path();
            QVERIFY(w.close());
            line = pad.readSettings();
            QCOMPARE(QSettings(prefsPath, QSettings::IniFormat).value("view/nightVision").toBool(),
                     true);
            // The same settings line as without the look: thirteen fields.
            QCOMPARE(line.count(','), 12);

            // A second start comes up in the night look.
            setNightLook(false);
            pad.window.reset();
            Interface& again = pad.start();
            again.show();
            QApplication::setActiveWindow(&again);
            QVERIFY(again.mnuNightVision->isChecked());
            QVERIFY(nightLook());
            QTest::keyClick(&again, Qt::Key_N, Qt::ControlModifier);
            QVERIFY(!nightLook());
        }
    }
};

QTEST_MAIN(TestNightLook)
#include "test_nightlook.moc"
