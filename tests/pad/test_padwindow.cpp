// The main window as it loads and closes: controls and their starting state, the settings file
// through the window, damaged files, the port box, close refused during a spiral.
#include "arrowbutton.h"
#include "infowindows.h"
#include "ontop.h"
#include "padfixture.h"
#include "signalend.h"
#include "placement.h"
#include "setupscope.h"
#include "twips.h"
#include "updown.h"

#include <QCheckBox>
#include <QClipboard>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QScreen>
#include <QStyleOptionButton>
#include <QToolButton>

using namespace skyjog;
using namespace skyjog::test;

Q_DECLARE_METATYPE(skyjog::Settings)

class TestPadWindow : public QObject {
    Q_OBJECT

    // The parts of the window a user sees, checked against the stored settings they came from.
    static void verifyShows(const Interface& w, const Settings& s) {
        QCOMPARE(w.pos(), QPoint(twipsToPixels(s.FormLeft), twipsToPixels(s.FormTop)));
        QCOMPARE(w.cmbAltRate->currentIndex(), int(s.AltRateIndex));
        QCOMPARE(w.cmbAzRate->currentIndex(), int(s.AzRateIndex));
        QCOMPARE(w.cmbTrackMode->currentIndex(), int(s.TrackModeIndex));
        QCOMPARE(w.txtCommPort->text(), s.CommPortText);
        QCOMPARE(w.chkOnTop->isChecked(), s.OnTop);
        QCOMPARE(w.txtWidth->text(), QString::number(s.SpiralWidth));
        QCOMPARE(w.UpMessage, s.UpMessage);
        QCOMPARE(w.DownMessage, s.DownMessage);
        QCOMPARE(w.LeftMessage, s.LeftMessage);
        QCOMPARE(w.RightMessage, s.RightMessage);
    }

    // The window after start-up is usable: lists filled, the pick of a tracking mode goes out,
    // no spiral believed running, and it closes and saves.
    static void verifyUsableAndClosable(Pad& pad) {
        Interface& w = *pad.window;
        QCOMPARE(w.cmbAltRate->count(), 14);
        QCOMPARE(w.cmbAzRate->count(), 14);
        QCOMPARE(w.cmbTrackMode->count(), 4);
        QVERIFY(StopSpiral);
        QVERIFY(!w.SkipTrackModeClick);
        QVERIFY(!w.SkipPecOffClick);
        QCOMPARE(Comm1().settings(), QStringLiteral("9600,N,8,1"));
        w.show();
        QVERIFY(w.close());
        QCOMPARE(pad.programEnds, 1);
    }

private slots:
    void firstStartWithoutSettingsFile() {
        Pad pad;
        FakeLine line;
        Comm1().setBackendFactory(line.factory());
        Interface& w = pad.start();

        QCOMPARE(w.objectName(), QStringLiteral("Interface"));
        QCOMPARE(w.windowTitle(), QStringLiteral("Skyjog"));
        QCOMPARE(w.client->size(), QSize(275, 196));
        QCOMPARE(w.minimumSize(), w.maximumSize());
        QVERIFY(w.windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(!(w.windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(w.pos(), QPoint(7, 7)); // 100 twips

        QStringList rates;
        for (int i = 0; i < w.cmbAltRate->count(); ++i)
            rates << w.cmbAltRate->itemText(i);
        QCOMPARE(rates, (QStringList{".5x", "1x", "2x", "4x", "8x", "16x", "32x", "64x", "128x",
                                     "1 deg/sec", "1.5 deg/sec", "2 deg/sec", "2.5 deg/sec",
                                     "3 deg/sec"}));
        const int values[] = {30,   60,   120,   240,   480,   960,   1920,
                              3840, 7680, 14400, 21600, 28800, 36000, 43200};
        for (int i = 0; i < 14; ++i) {
            QCOMPARE(w.cmbAltRate->itemData(i).toInt(), values[i]);
            QCOMPARE(w.cmbAzRate->itemText(i), rates[i]);
            QCOMPARE(w.cmbAzRate->itemData(i).toInt(), values[i]);
        }
        QCOMPARE(w.cmbAltRate->currentText(), QStringLiteral("128x"));
        QCOMPARE(w.cmbAzRate->currentText(), QStringLiteral("128x"));
        QCOMPARE(w.cmbTrackMode->currentText(), QStringLiteral("Alt/Az"));
        for (int i = 0; i < 4; ++i)
            QCOMPARE(w.cmbTrackMode->itemData(i).toInt(), i);
        QCOMPARE(w.trackingMode(), uint8_t(1));
        QCOMPARE(w.txtCommPort->text(), QStringLiteral("1"));
        QCOMPARE(w.txtWidth->text(), QStringLiteral("3"));
        QCOMPARE(w.txtCornerDelay->text(), QStringLiteral("0"));
        QCOMPARE(w.txtDummy->text(), QStringLiteral("0"));
        QVERIFY(w.txtDummy->isHidden());
        QVERIFY(w.optOff->isChecked());
        QVERIFY(!w.optOn->isChecked());
        QVERIFY(!w.chkOnTop->isChecked());
        QVERIFY(w.lblSpiral->isHidden());
        QCOMPARE(w.lblSpiral->text(), QStringLiteral("spiral in progress"));
        QCOMPARE(w.lblSpiral->palette().color(QPalette::WindowText), QColor(Qt::red));

        QCOMPARE(w.AltRateHigh, int16_t(30));
        QCOMPARE(w.AltRateLow, int16_t(0));
        QCOMPARE(w.AzRateHigh, int16_t(30));
        QCOMPARE(w.AzRateLow, int16_t(0));
        QCOMPARE((QList<int16_t>{w.UpMessage, w.DownMessage, w.LeftMessage, w.RightMessage}),
                 (QList<int16_t>{7, 6, 7, 6}));
        QVERIFY(w.LastCommand.isEmpty());
        QVERIFY(!w.KeyIsDown());
        QVERIFY(!w.SkipTrackModeClick);
        QVERIFY(!w.SkipPecOffClick);
        QCOMPARE(w.SpiralWidth, int16_t(3));
        QCOMPARE(w.CornerDelay, 0.0);
        QVERIFY(StopSpiral);
        QCOMPARE(Comm1().commPort(), int16_t(1));
        QCOMPARE(Comm1().settings(), QStringLiteral("9600,N,8,1"));

        w.show();
        QVERIFY(pad.reports.boxes.empty());
        QCOMPARE(line.opens, 0);
        QVERIFY(line.writes.isEmpty());
        QVERIFY(!Comm1().portOpen());
    }

    void controlsSitWhereTheTwipsSay_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("twips");
        QTest::addColumn<QString>("caption");
        const struct {
            const char* name;
            int l, t, w, h;
            const char* caption;
        } table[] = {
            {"Label1", 2040, 0, 975, 255, "Alt-NS Rate"},
            {"cmbAltRate", 2040, 240, 1215, 315, nullptr},
            {"cmdUp", 2040, 600, 375, 615, ""},
            {"cmdDown", 2040, 1320, 375, 615, ""},
            {"cmdLeft", 1320, 1080, 615, 375, ""},
            {"cmdRight", 2520, 1080, 615, 375, ""},
            {"cmdRevLR", 3240, 1080, 855, 375, "Reverse"},
            {"cmdRevUD", 1800, 2040, 855, 375, "Reverse"},
            {"Label2", 40, 880, 975, 255, "Az-EW Rate"},
            {"cmbAzRate", 40, 1120, 1215, 315, nullptr},
            {"Label5", 45, 1800, 1095, 255, "Tracking Mode"},
            {"cmbTrackMode", 40, 2040, 1095, 315, nullptr},
            {"Label3", 3240, 1800, 855, 255, "Comm Port:"},
            {"txtCommPort", 3240, 2040, 615, 315, nullptr},
            {"UpDown1", 3840, 2040, 240, 315, nullptr},
            {"Frame1", 80, 2520, 2000, 375, nullptr},
            {"Label6", 120, 130, 495, 195, "PEC:"},
            {"optOn", 600, 130, 555, 195, "On"},
            {"optOff", 1320, 130, 580, 195, "Off"},
            {"chkOnTop", 2760, 2640, 1300, 255, "Always on top"},
            {"cmdSpiral", 70, 240, 480, 480, ""},
            {"lblSpiral", 120, 0, 1215, 195, "spiral in progress"},
            {"Label4", 630, 200, 615, 255, "Width"},
            {"txtWidth", 630, 400, 375, 315, nullptr},
            {"UpDown2", 1000, 400, 240, 315, nullptr},
            {"Label7", 1270, 200, 615, 255, "Delay"},
            {"txtCornerDelay", 1270, 400, 390, 315, nullptr},
            {"UpDown3", 1670, 400, 240, 315, nullptr},
            {"txtDummy", 1440, 720, 375, 285, nullptr},
        };
        for (const auto& r : table)
            QTest::newRow(r.name) << QString::fromLatin1(r.name) << QRect(r.l, r.t, r.w, r.h)
                                  << (r.caption ? QString::fromLatin1(r.caption) : QString(u'-'));
    }
    void controlsSitWhereTheTwipsSay() {
        QFETCH(QString, name);
        QFETCH(QRect, twips);
        QFETCH(QString, caption);
        Pad pad;
        Interface& w = pad.start();
        auto* c = w.findChild<QWidget*>(name);
        QVERIFY(c);
        QCOMPARE(c->geometry(), QRect(twipsToPixels(twips.x()), twipsToPixels(twips.y()),
                                      twipsToPixels(twips.width()), twipsToPixels(twips.height())));
        if (auto* l = qobject_cast<QLabel*>(c)) QCOMPARE(l->text(), caption);
        if (auto* b = qobject_cast<QAbstractButton*>(c)) {
            QCOMPARE(b->text(), caption);
            if (caption.isEmpty()) QVERIFY(!b->icon().isNull());
        }
        QVERIFY(c->isEnabled());
    }

    // What a user can read must fit where it is shown, in the window's own font.
    void noCaptionOrListTextIsClipped() {
        Pad pad;
        Interface& w = pad.start();
        w.show();
        for (QLabel* l : w.findChildren<QLabel*>()) {
            const QFontMetrics fm(l->font());
            QVERIFY2(fm.horizontalAdvance(l->text()) <= l->width() && fm.height() <= l->height(),
                     qPrintable(l->objectName()));
        }
        for (QAbstractButton* b : w.findChildren<QAbstractButton*>()) {
            if (b->text().isEmpty() || qobject_cast<QToolButton*>(b)) continue;
            // The room the style leaves for the text beside the button's indicator or frame.
            QStyleOptionButton opt;
            opt.initFrom(b);
            opt.text = b->text();
            QStyle::SubElement contents = QStyle::SE_PushButtonContents;
            if (qobject_cast<QRadioButton*>(b)) contents = QStyle::SE_RadioButtonContents;
            if (qobject_cast<QCheckBox*>(b)) contents = QStyle::SE_CheckBoxContents;
            const int room = b->style()->subElementRect(contents, &opt, b).width();
            const int needed = b->fontMetrics().horizontalAdvance(b->text());
            QVERIFY2(needed <= room, qPrintable(b->objectName() +
                                                QStringLiteral(" %1 > %2").arg(needed).arg(room)));
            QVERIFY2(b->fontMetrics().height() <= b->height(), qPrintable(b->objectName()));
        }
        for (QComboBox* c : w.findChildren<QComboBox*>()) {
            c->setSizeAdjustPolicy(QComboBox::AdjustToContents);
            QVERIFY2(c->sizeHint().width() <= c->width() + 2, qPrintable(c->objectName()));
            QVERIFY2(c->fontMetrics().height() <= c->height(), qPrintable(c->objectName()));
        }
        QVERIFY(w.menuBar()->sizeHint().width() <= w.width());
    }

    void menus() {
        Pad pad;
        Interface& w = pad.start();
        QCOMPARE(w.menuBar()->actions(),
                 (QList<QAction*>{w.mnuFile->menuAction(), w.mnuTools->menuAction(),
                                  w.mnuView->menuAction(), w.mnuHelp->menuAction()}));
        QCOMPARE(w.mnuFile->title(), QStringLiteral("&File"));
        QCOMPARE(w.mnuTools->title(), QStringLiteral("&Tools"));
        QCOMPARE(w.mnuView->title(), QStringLiteral("&View"));
        QCOMPARE(w.mnuHelp->title(), QStringLiteral("&Help"));
        QCOMPARE(w.mnuView->actions(), (QList<QAction*>{w.mnuNightVision, w.mnuPosition}));
        QCOMPARE(w.mnuNightVision->text(), QStringLiteral("&Night Vision"));
        QVERIFY(w.mnuNightVision->isCheckable());
        QCOMPARE(w.mnuNightVision->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_N));
        QCOMPARE(w.mnuPosition->text(), QStringLiteral("&Position"));
        QCOMPARE(w.mnuFile->actions(), QList<QAction*>{w.mnuExit});
        QCOMPARE(w.mnuExit->text(), QStringLiteral("E&xit"));
#ifdef SKYJOG_HAVE_SDL2
        QCOMPARE(w.mnuTools->actions(),
                 (QList<QAction*>{w.mnuSetup, w.mnuController, w.mnuControllerDialog, w.mnuTaps,
                                  w.mnuShare}));
        QCOMPARE(w.mnuControllerDialog->text(), QStringLiteral("&Game Controller..."));
#else
        QCOMPARE(w.mnuTools->actions(), (QList<QAction*>{w.mnuSetup, w.mnuTaps, w.mnuShare}));
        QVERIFY(!w.mnuController && !w.mnuControllerDialog && !w.gamePad());
#endif
        QCOMPARE(w.mnuSetup->text(), QStringLiteral("&Setup Scope"));
        QCOMPARE(w.mnuTaps->text(), QStringLiteral("Repeatable &Taps"));
        QVERIFY(w.mnuTaps->menu());
        QCOMPARE(w.mnuShare->text(), QStringLiteral("Share &Mount..."));
        QCOMPARE(w.mnuHelp->actions(),
                 (QList<QAction*>{w.mnuInstructions, w.mnuSeparator1, w.mnuAbout}));
        QCOMPARE(w.mnuInstructions->text(), QStringLiteral("&Quick Instructions"));
        QCOMPARE(w.mnuInstructions->shortcut(), QKeySequence(Qt::Key_F1));
        QVERIFY(w.mnuSeparator1->isSeparator());
        QCOMPARE(w.mnuAbout->text(), QStringLiteral("&About Skyjog"));
        for (const char* name : {"mnuFile", "mnuExit", "mnuTools", "mnuSetup", "mnuTaps", "mnuShare",
                                 "mnuView", "mnuNightVision", "mnuPosition", "mnuHelp",
                                 "mnuInstructions", "mnuSeparator1", "mnuAbout"})
            QVERIFY2(w.findChild<QObject*>(QLatin1String(name)), name);
        // The menu bar sits above the client area, which keeps its size.
        w.show();
        QVERIFY(w.client->y() >= w.menuBar()->height());
        QCOMPARE(w.height(), w.menuBar()->height() + 196);

        // F1 opens the Help window; Exit asks the window to close.
        QApplication::setActiveWindow(&w);
        w.txtWidth->setFocus();
        QTest::keyClick(&w, Qt::Key_F1);
        QVERIFY(HelpWindow::current());
        HelpWindow::current()->close();
        w.mnuAbout->trigger();
        QVERIFY(AboutWindow::current());
        AboutWindow::current()->close();
        w.mnuExit->trigger();
        QVERIFY(!w.isVisible());
        QCOMPARE(pad.programEnds, 1);
    }

    void alwaysOnTopFollowsTheBoxAndSurvivesMinimizing() {
        Pad pad;
        Interface& w = pad.start();
        w.show();
        QVERIFY(!onTopRequested(&w));
        QTest::mouseClick(w.chkOnTop, Qt::LeftButton);
        QVERIFY(onTopRequested(&w));
        w.setProperty(OnTopProperty, false); // forget it, to see the restore apply it again
        w.showMinimized();
        w.showNormal();
        QVERIFY(onTopRequested(&w));
        QTest::mouseClick(w.chkOnTop, Qt::LeftButton);
        QVERIFY(!onTopRequested(&w));
        QVERIFY(pad.reports.boxes.empty());
    }

    void setupScopeOpensOnTheMountOnce() {
        Pad pad;
        Interface& w = pad.startOnSim();
        w.mnuSetup->trigger();
        QVERIFY(SetupScope::current());
        QCOMPARE(pad.takeSent().size(), 6); // four backlash values, two guide rates
        w.mnuSetup->trigger();
        QVERIFY(pad.takeSent().isEmpty()); // already open: brought forward, not read again
        SetupScope::current()->close();
        QVERIFY(pad.reports.boxes.empty());
    }

    void defaultsRoundTripToTheExactLine() {
        Pad pad;
        Interface& w = pad.start();
        w.show();
        QVERIFY(w.close());
        QCOMPARE(pad.readSettings(), QByteArray("7,6,7,6,\"1\",100,100,8,8,1,#FALSE#,3,0\r\n"));
        QCOMPARE(pad.programEnds, 1);
        QVERIFY(pad.reports.boxes.empty());
    }

    void storedValuesComeBackUnchanged_data() {
        QTest::addColumn<Settings>("settings");
        QTest::newRow("defaults") << Settings{};
        Settings s;
        s.UpMessage = 6;
        s.DownMessage = 7;
        s.LeftMessage = 7;
        s.RightMessage = 7;
        s.CommPortText = QStringLiteral("localhost:4030");
        s.FormTop = 1234; // not a whole number of pixels
        s.FormLeft = -301;
        s.AltRateIndex = 0;
        s.AzRateIndex = 13;
        s.TrackModeIndex = 3;
        s.OnTop = true;
        s.SpiralWidth = 10;
        s.CornerDelay = 0.5;
        QTest::newRow("every field changed") << s;
    }
    void storedValuesComeBackUnchanged() {
        QFETCH(Settings, settings);
        Pad pad;
        pad.writeSettings(settings);
        const QByteArray before = pad.readSettings();
        for (int run = 0; run < 2; ++run) {
            Interface& w = pad.start();
            verifyShows(w, settings);
            QCOMPARE(onTopRequested(&w), settings.OnTop); // on top before it is first shown
            w.show();
            QVERIFY(w.close());
            QCOMPARE(pad.readSettings(), before);
        }
        QVERIFY(pad.reports.boxes.empty());
    }

    void changesMadeInTheWindowAreSaved() {
        Pad pad;
        Interface& w = pad.startOnSim();
        w.cmdRevLR->click();
        w.cmdRevUD->click();
        w.cmdRevUD->click();
        w.txtCommPort->clear();
        QTest::keyClicks(w.txtCommPort, QStringLiteral("/dev/ttyS3"));
        w.chkOnTop->click();
        w.txtWidth->setText(QStringLiteral("4"));
        w.txtCornerDelay->setText(QStringLiteral("2.5"));
        w.cmbAltRate->setCurrentIndex(2);
        w.cmbAzRate->setCurrentIndex(12);
        w.cmbTrackMode->setCurrentIndex(0);
        w.move(40, 50);
        QCOMPARE(w.pos(), QPoint(40, 50));
        QVERIFY(w.close());
        QCOMPARE(pad.readSettings(),
                 QByteArray("7,6,6,7,\"/dev/ttyS3\",750,600,2,12,0,#TRUE#,4,2.5\r\n"));

        // The next start puts the window back where it was, to the pixel.
        Interface& again = pad.start();
        again.show();
        QCOMPARE(again.pos(), QPoint(40, 50));
        QVERIFY(again.close());
        QCOMPARE(pad.readSettings(),
                 QByteArray("7,6,6,7,\"/dev/ttyS3\",750,600,2,12,0,#TRUE#,4,2.5\r\n"));
    }

    void regionalFormatWithDecimalComma() {
        const QLocale before;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        auto restore = qScopeGuard([&] { QLocale::setDefault(before); });
        Pad pad;
        Settings s;
        s.CornerDelay = 1.5;
        pad.writeSettings(s);
        Interface& w = pad.start();
        QCOMPARE(w.txtCornerDelay->text(), QStringLiteral("1,5"));
        QCOMPARE(w.txtDummy->text(), QStringLiteral("15"));
        QCOMPARE(w.CornerDelay, 1.5);
        w.txtCornerDelay->setText(QStringLiteral("0,25"));
        QCOMPARE(w.CornerDelay, 0.25);
        w.show();
        QVERIFY(w.close());
        QCOMPARE(pad.readSettings(), QByteArray("7,6,7,6,\"1\",100,100,8,8,1,#FALSE#,3,.25\r\n"));
        QVERIFY(pad.reports.boxes.empty());
    }

    // Each damaged file: one standard failure message, the fields before the damage used, the
    // defaults for the rest, and a window that works and closes.
    void damagedSettingsFile_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("savedLeft");
        QTest::newRow("ends after field 7")
            << QByteArray("7,6,7,6,\"sim\",300,450\r\n") << "Input past end of file" << 450;
        QTest::newRow("too few fields")
            << QByteArray("7,6,7,6\r\n") << "Input past end of file" << 100;
        QTest::newRow("wrong type") << QByteArray("7,6,7,6,\"sim\",300,left,8,8,1,#FALSE#,3,0\r\n")
                                    << "Type mismatch" << 100;
        QTest::newRow("position past the list")
            << QByteArray("7,6,7,6,\"sim\",300,450,99,8,1,#FALSE#,3,0\r\n")
            << "Invalid property value" << 450;
        QTest::newRow("direction code 2")
            << QByteArray("2,6,7,6,\"sim\",300,450,8,8,1,#FALSE#,3,0\r\n")
            << "Invalid property value" << 100;
        QTest::newRow("direction code 300")
            << QByteArray("7,6,7,300,\"sim\",300,450,8,8,1,#FALSE#,3,0\r\n")
            << "Invalid property value" << 100;
        QTest::newRow("garbage") << QByteArray("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16)
                                 << "Type mismatch" << 100;
        QTest::newRow("enormous line") << QByteArray(200 * 1024, '7') << "Type mismatch" << 100;
    }
    void damagedSettingsFile() {
        QFETCH(QByteArray, data);
        QFETCH(QString, message);
        QFETCH(int, savedLeft);
        Pad pad;
        pad.writeSettings(data);
        Interface& w = pad.start();
        QCOMPARE(pad.reports.boxes.size(), size_t(1));
        QVERIFY2(pad.reports.boxes[0].text.startsWith(message),
                 qPrintable(pad.reports.boxes[0].text));
        QCOMPARE(pad.reports.boxes[0].caption, QStringLiteral("Skyjog"));
        QCOMPARE(w.cmbAltRate->currentText(), QStringLiteral("128x"));
        QCOMPARE(w.txtWidth->text(), QStringLiteral("3"));

        // The first pick of a tracking mode goes out: the skip flag was used up at start-up.
        w.txtCommPort->setText(QStringLiteral("sim"));
        w.cmbTrackMode->setCurrentIndex(2);
        emit w.cmbTrackMode->activated(2);
        QCOMPARE(pad.takeSent(), QVector<QByteArray>{T(2)});

        verifyUsableAndClosable(pad);
        QCOMPARE(pad.reports.boxes.size(), size_t(1));
        const QByteArray saved = pad.readSettings();
        QVERIFY2(saved.startsWith("7,6,7,6,\"sim\","), saved.constData());
        QVERIFY2(saved.contains(QByteArray(",%1,8,8,2,#FALSE#,3,0\r\n")
                                    .replace("%1", QByteArray::number(savedLeft))),
                 saved.constData());
    }

    // A direction code that is no slew's message id never reaches the mount: the arrows keep
    // their defaults.
    void damagedDirectionCodesAreNotSent() {
        Pad pad;
        pad.writeSettings(QByteArray("2,300,7,6,\"sim\",300,450,8,8,1,#FALSE#,3,0\r\n"));
        Interface& w = pad.start();
        QCOMPARE(pad.reports.texts(),
                 QStringList{QStringLiteral(
                     "Invalid property value (Skyjogger.ini, field 1: UpMessage) - 380")});
        w.txtCommPort->setText(QStringLiteral("sim"));
        w.show();
        for (ArrowButton* b : {w.cmdUp, w.cmdDown}) {
            QTest::mousePress(b, Qt::LeftButton);
            QTest::mouseRelease(b, Qt::LeftButton);
        }
        const uint8_t alt = cmd::AltMotor;
        QCOMPARE(pad.takeSent(), (QVector<QByteArray>{T(0), Slew(alt, 7, 30, 0), Stop(alt), T(1),
                                                      T(0), Slew(alt, 6, 30, 0), Stop(alt),
                                                      T(1)}));
        QCOMPARE(pad.reports.boxes.size(), size_t(1));
    }

    // A Width or Delay box that does not convert at exit is reported, as its change was, and
    // the settings are saved all the same with the last values the boxes did convert to.
    void unusableWidthOrDelayAtExitSavesTheRest_data() {
        QTest::addColumn<QString>("width");
        QTest::addColumn<QString>("delay");
        QTest::addColumn<QStringList>("reports");
        QTest::addColumn<QByteArray>("tail"); // width and delay as saved
        const QString mismatch = QStringLiteral("Type mismatch - 13");
        QTest::newRow("width not a number")
            << "wide" << "1" << QStringList{mismatch, mismatch} << QByteArray("5,1\r\n");
        QTest::newRow("width beyond 16 bits")
            << "40000" << "1" << QStringList{"Overflow - 6", "Overflow - 6"}
            << QByteArray("5,1\r\n");
        QTest::newRow("delay emptied")
            << "4" << "" << QStringList{mismatch, mismatch} << QByteArray("4,2.5\r\n");
        QTest::newRow("both")
            << "" << "1e400" << QStringList{mismatch, "Overflow - 6", mismatch, "Overflow - 6"}
            << QByteArray("5,2.5\r\n");
    }
    void unusableWidthOrDelayAtExitSavesTheRest() {
        QFETCH(QString, width);
        QFETCH(QString, delay);
        QFETCH(QStringList, reports);
        QFETCH(QByteArray, tail);
        Pad pad;
        Settings s;
        s.SpiralWidth = 5;
        s.CornerDelay = 2.5;
        pad.writeSettings(s);
        Interface& w = pad.start();
        w.show();
        w.cmbAzRate->setCurrentIndex(3);
        w.txtWidth->setText(width);
        w.txtCornerDelay->setText(delay);
        QCOMPARE(w.SpiralWidth, int16_t(width == QLatin1String("4") ? 4 : 5));
        QVERIFY(w.close());
        QCOMPARE(pad.reports.texts(), reports);
        QCOMPARE(pad.readSettings(), "7,6,7,6,\"1\",100,100,8,3,1,#FALSE#," + tail);
        QCOMPARE(pad.programEnds, 1); // the program ends as after any save
    }

    void placeOnScreens_data() {
        QTest::addColumn<QRect>("frame");
        QTest::addColumn<QList<QRect>>("areas");
        QTest::addColumn<QPoint>("placed");
        const QRect main(0, 0, 1920, 1040);       // a task bar below
        const QRect right(1920, 0, 1280, 1024);   // a second monitor beside it
        const QRect above(200, -1200, 1600, 1200); // or above it
        const QSize pad(275, 230);
        QTest::newRow("on the main screen")
            << QRect(QPoint(100, 100), pad) << QList<QRect>{main} << QPoint(100, 100);
        QTest::newRow("partly off the left edge")
            << QRect(QPoint(-20, 82), pad) << QList<QRect>{main} << QPoint(-20, 82);
        QTest::newRow("one pixel still showing")
            << QRect(QPoint(1919, 1039), pad) << QList<QRect>{main} << QPoint(1919, 1039);
        QTest::newRow("on the second monitor")
            << QRect(QPoint(2500, 300), pad) << QList<QRect>{main, right} << QPoint(2500, 300);
        QTest::newRow("second monitor gone")
            << QRect(QPoint(2500, 300), pad) << QList<QRect>{main} << QPoint(1645, 300);
        QTest::newRow("just past the edge")
            << QRect(QPoint(1920, 0), pad) << QList<QRect>{main} << QPoint(1645, 0);
        QTest::newRow("far below and left")
            << QRect(QPoint(-5000, 5000), pad) << QList<QRect>{main, right} << QPoint(0, 810);
        QTest::newRow("beyond the second monitor")
            << QRect(QPoint(4000, 100), pad) << QList<QRect>{main, right} << QPoint(2925, 100);
        QTest::newRow("nearest is the one above")
            << QRect(QPoint(300, -3000), pad) << QList<QRect>{main, above} << QPoint(300, -1200);
        QTest::newRow("larger than the screen")
            << QRect(QPoint(500, 500), pad) << QList<QRect>{QRect(10, 20, 200, 100)}
            << QPoint(10, 20);
        QTest::newRow("no screens") << QRect(QPoint(9000, 9000), pad) << QList<QRect>{}
                                    << QPoint(9000, 9000);
    }
    void placeOnScreens() {
        QFETCH(QRect, frame);
        QFETCH(QList<QRect>, areas);
        QFETCH(QPoint, placed);
        QCOMPARE(skyjog::placeOnScreens(frame, areas), placed);
    }

    // A saved place that no screen shows any more: the window opens on the screen, whole, and
    // the saved place is kept until the user moves the window.
    void positionOffEveryScreenIsBroughtBack_data() {
        QTest::addColumn<int>("left"); // twips
        QTest::addColumn<int>("top");
        QTest::addColumn<QString>("edges"); // the screen edges the window ends up against
        QTest::newRow("far right, above") << 45000 << -15000 << "right top";
        QTest::newRow("far left, below") << -60000 << 30000 << "left bottom";
        QTest::newRow("off the bottom edge") << 1500 << 12600 << "bottom";
    }
    void positionOffEveryScreenIsBroughtBack() {
        QFETCH(int, left);
        QFETCH(int, top);
        QFETCH(QString, edges);
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        Pad pad;
        Settings s;
        s.FormLeft = left;
        s.FormTop = top;
        pad.writeSettings(s);
        const QByteArray saved = pad.readSettings();
        for (int run = 0; run < 2; ++run) {
            Interface& w = pad.start();
            w.show();
            // Whole, frame and all, against the edges nearest the saved place.
            const QRect f = w.frameGeometry();
            QVERIFY2(area.contains(f), qPrintable(QStringLiteral("%1,%2").arg(f.x()).arg(f.y())));
            QCOMPARE(f.left() == area.left(), edges.contains(QLatin1String("left")));
            QCOMPARE(f.right() == area.right(), edges.contains(QLatin1String("right")));
            QCOMPARE(f.top() == area.top(), edges.contains(QLatin1String("top")));
            QCOMPARE(f.bottom() == area.bottom(), edges.contains(QLatin1String("bottom")));
            if (!edges.contains(QLatin1String("left")) && !edges.contains(QLatin1String("right")))
                QCOMPARE(w.geometry().left(), twipsToPixels(left));
            // Closed where it was put, it keeps the saved place for the screen that may return.
            QVERIFY(w.close());
            QCOMPARE(pad.readSettings(), saved);
        }
        // Moved by the user, it is saved where it now is.
        Interface& w = pad.start();
        w.show();
        w.move(30, 40);
        QVERIFY(w.close());
        QCOMPARE(pad.readSettings(), QByteArray("7,6,7,6,\"1\",600,450,8,8,1,#FALSE#,3,0\r\n"));
        QVERIFY(pad.reports.boxes.empty());
    }

    void unwritableFoldersReportTheSave() {
        Pad pad;
        QTemporaryDir tmp;
        const QString file = tmp.filePath(QStringLiteral("file"));
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        auto w =
            std::make_unique<Interface>(SettingsLocation(file, file + QStringLiteral("/user")));
        int ends = 0;
        w->setProgramEnd([&] { ++ends; });
        w->show();
        QVERIFY(w->close());
        QCOMPARE(pad.reports.boxes.size(), size_t(1));
        QVERIFY(pad.reports.boxes[0].text.endsWith(QStringLiteral(" - 76")));
        QCOMPARE(ends, 0);
    }

    void settingsGoToTheUserFolderWhenTheProgramFolderIsReadOnly() {
        Pad pad;
        QTemporaryDir tmp;
        const QString notADir = tmp.filePath(QStringLiteral("program"));
        QFile f(notADir);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        const QString user = tmp.filePath(QStringLiteral("config"));
        for (int run = 0; run < 2; ++run) {
            auto w = std::make_unique<Interface>(SettingsLocation(notADir, user));
            w->setProgramEnd([] {});
            QCOMPARE(w->txtWidth->text(), run == 0 ? QStringLiteral("3") : QStringLiteral("7"));
            w->txtWidth->setText(QStringLiteral("7"));
            w->show();
            QVERIFY(w->close());
        }
        QFile saved(QDir(user).filePath(SettingsLocation::FileName));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), QByteArray("7,6,7,6,\"1\",100,100,8,8,1,#FALSE#,7,0\r\n"));
        QVERIFY(pad.reports.boxes.empty());
    }

    void closeRefusedWhileASpiralRuns() {
        Pad pad;
        Interface& w = pad.start();
        w.show();
        StopSpiral = false;
        QVERIFY(!w.close());
        QVERIFY(w.isVisible());
        QCOMPARE(pad.reports.boxes.size(), size_t(1));
        QCOMPARE(pad.reports.boxes[0].text, QStringLiteral("Please stop the spiral!"));
        QCOMPARE(pad.reports.boxes[0].caption, QStringLiteral("Alert"));
        w.mnuExit->trigger();
        QVERIFY(w.isVisible());
        QCOMPARE(pad.reports.boxes.size(), size_t(2));
        QCOMPARE(pad.readSettings(), QByteArray("<none>"));
        QCOMPARE(pad.programEnds, 0);

        StopSpiral = true;
        QVERIFY(w.close());
        QCOMPARE(pad.programEnds, 1);
        QCOMPARE(pad.reports.boxes.size(), size_t(2));
    }

    // Asked to end by the system mid-spiral, the window does not refuse: the spiral sends its
    // stop sequence, then the window closes and saves as a close does.
    void anEndRequestStopsASpiralThenCloses() {
        Pad pad;
        Interface& w = pad.startOnSim();
        const uint32_t t0 = pad.clock.now();
        bool closedInsideTheSpiral = false;
        pad.clock.at(t0 + 1200, [&] {
            endOnRequest(w);
            closedInsideTheSpiral = !w.isVisible();
        });
        pad.clock.at(t0 + 5000, [&] { StopSpiral = true; }); // bounds a failing run
        pad.press(&w, Qt::Key_S);
        QVERIFY(pad.clock.now() < t0 + 5000);
        QVERIFY(!closedInsideTheSpiral);
        const QVector<QByteArray> sent = pad.takeSent();
        QVERIFY(sent.size() >= 7);
        QCOMPARE(sent.mid(sent.size() - 4),
                 (QVector<QByteArray>{Slew(Az, 7, 5, 217), Stop(Alt), Stop(Az), T(1)}));
        QTRY_COMPARE_WITH_TIMEOUT(pad.programEnds, 1, 5000);
        QVERIFY(!w.isVisible());
        QVERIFY(pad.reports.boxes.empty());
        QVERIFY(pad.readSettings() != QByteArray("<none>"));
        QVERIFY(pad.takeSent().isEmpty());
    }

    void portBox() {
        Pad pad;
        Interface& w = pad.start();
        w.show();
        QCOMPARE(w.UpDown1->buddy(), w.txtCommPort);
        QCOMPARE(w.UpDown1->minimum(), 0);
        QCOMPARE(w.UpDown1->maximum(), 1000);
        QCOMPARE(w.UpDown1->increment(), 1);
        w.UpDown1->stepUp();
        QCOMPARE(w.txtCommPort->text(), QStringLiteral("2"));
        QCOMPARE(Comm1().commPort(), int16_t(2));
        QCOMPARE(w.CommPortText, QStringLiteral("2"));

        w.txtCommPort->setText(QStringLiteral("sim"));
        QCOMPARE(Comm1().port().kind, PortSpec::Kind::Sim);
        w.txtCommPort->setText(QStringLiteral("tcp://localhost:4030"));
        QCOMPARE(Comm1().port().kind, PortSpec::Kind::Tcp);
        QCOMPARE(Comm1().port().tcpPort, quint16(4030));
        w.txtCommPort->setText(QStringLiteral("/dev/ttyACM0"));
        QCOMPARE(Comm1().port().kind, PortSpec::Kind::Device);
        w.txtCommPort->clear();
        QCOMPARE(Comm1().port().kind, PortSpec::Kind::Numbered);
        QCOMPARE(Comm1().commPort(), int16_t(0));
        QVERIFY(pad.reports.boxes.empty());

        // A number the serial layer refuses: reported at each change; the text is kept, the
        // port is not.
        w.txtCommPort->setText(QStringLiteral("3"));
        w.txtCommPort->setText(QStringLiteral("99999"));
        QCOMPARE(pad.reports.texts(), QStringList{"Overflow - 6"});
        QCOMPARE(w.CommPortText, QStringLiteral("99999"));
        QCOMPARE(Comm1().commPort(), int16_t(3));
        w.txtCommPort->setText(QStringLiteral("-2"));
        QCOMPARE(pad.reports.boxes.size(), size_t(2));
        QVERIFY(pad.reports.boxes[1].text.endsWith(QStringLiteral(" - 8002")));
        QCOMPARE(Comm1().commPort(), int16_t(3));
        // Digits past the double range are a number too large as well, never port 0.
        w.txtCommPort->setText(QString(400, u'9'));
        QCOMPARE(pad.reports.boxes.size(), size_t(3));
        QCOMPARE(pad.reports.boxes[2].text, QStringLiteral("Overflow - 6"));
        QCOMPARE(Comm1().commPort(), int16_t(3));
        w.txtCommPort->setText(QStringLiteral("1e-400"));
        QCOMPARE(pad.reports.boxes.size(), size_t(3));
        QCOMPARE(Comm1().commPort(), int16_t(0));
    }

    void aDoubleQuoteCannotBeTypedIntoThePortBox() {
        Pad pad;
        Interface& w = pad.start();
        w.show();
        w.txtCommPort->clear();
        QTest::keyClicks(w.txtCommPort, QStringLiteral("a\"b,c"));
        QCOMPARE(w.txtCommPort->text(), QStringLiteral("ab,c"));
        w.txtCommPort->selectAll();
        QApplication::clipboard()->setText(QStringLiteral("x\"y"));
        w.txtCommPort->paste();
        QVERIFY(!w.txtCommPort->text().contains(u'"'));
        QVERIFY(w.close());
        Settings back;
        settingsfile::parse(pad.readSettings(), back);
        QCOMPARE(back.CommPortText, w.txtCommPort->text());
    }
};

QTEST_MAIN(TestPadWindow)
#include "test_padwindow.moc"
