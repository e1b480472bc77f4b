// The Setup Scope dialog through its real widgets: what it reads and shows, what it writes and in
// which order, and where it stops, against a mount whose stored values each test sets.
#include "backend.h"
#include "commands.h"
#include "functions.h"
#include "mountsim.h"
#include "ontop.h"
#include "setupscope.h"
#include "testhelpers.h"
#include "testsupport.h"
#include "updown.h"
#include "vberror.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QWindow>
#include <climits>

using namespace skyjog;
using namespace skyjog::test;

namespace {

// The simulated mount behind the port text "sim", with the stored values a test sets in opt
// before start().
struct SimMount {
    sim::Options opt;

    static sim::MountSim& sim() { return sim::sharedMountSim(); }
    void start() { sim().reset(opt); }
    // Answers the first n commands, then falls silent.
    void silentAfter(int n) {
        opt.fault = sim::Fault::Silent;
        opt.faultSkip = n;
    }
    static QByteArrayList commands() {
        const QVector<QByteArray> c = sim().commands();
        return QByteArrayList(c.begin(), c.end());
    }
    static void clearCommands() { sim().clearLog(); }
    static uint8_t backlash(int motor, bool positive) { return sim().backlash(motor, positive); }
    static uint8_t guideRate(int motor) { return sim().guideRate(motor); }
};

const QByteArrayList LoadCommands = {
    cmd::GetBacklash(cmd::AltMotor, cmd::Direction::Positive),
    cmd::GetBacklash(cmd::AltMotor, cmd::Direction::Negative),
    cmd::GetBacklash(cmd::AzMotor, cmd::Direction::Positive),
    cmd::GetBacklash(cmd::AzMotor, cmd::Direction::Negative),
    cmd::GetGuideRate(cmd::AltMotor),
    cmd::GetGuideRate(cmd::AzMotor),
};

// The six writes for the values altPos, altNeg, azPos, azNeg, altGuide, azGuide, as they travel.
QByteArrayList applyCommands(std::array<uint8_t, 6> v) {
    auto set = [](uint8_t motor, uint8_t id, uint8_t value) {
        return QByteArray("P\x02", 2) + char(motor) + char(id) + char(value) + QByteArray(3, '\0');
    };
    return {set(17, 16, v[0]), set(17, 17, v[1]), set(16, 16, v[2]),
            set(16, 17, v[3]), set(17, 70, v[4]), set(16, 70, v[5])};
}

const char* const Boxes[] = {"txtAzPos",  "txtAzNeg",  "txtAltPos",
                             "txtAltNeg", "txtAzAuto", "txtAltAuto"};

} // namespace

class TestSetupScope : public QObject {
    Q_OBJECT
    ManualClock clk;
    SimMount mount;
    std::vector<Qt::CursorShape> cursorsWhileSending;
    bool started = false;

    SetupScope* dlg() const { return SetupScope::current(); }
    QLineEdit* box(const char* name) const {
        QLineEdit* e = dlg() ? dlg()->findChild<QLineEdit*>(QLatin1String(name)) : nullptr;
        if (!e) qFatal("no box %s", name);
        return e;
    }
    QPushButton* button(const char* name) const {
        return dlg()->findChild<QPushButton*>(QLatin1String(name));
    }
    QStringList texts() const {
        QStringList out;
        for (const char* b : Boxes)
            out << box(b)->text();
        return out;
    }
    void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
    void type(const char* boxName, const QString& text) {
        QLineEdit* e = box(boxName);
        e->setFocus(Qt::TabFocusReason);
        e->selectAll();
        if (text.isEmpty())
            QTest::keyClick(e, Qt::Key_Backspace);
        else
            QTest::keyClicks(e, text);
        QCOMPARE(e->text(), text);
    }
    // After a failed apply: the dialog open with the boxes as they were, nothing counted as
    // applied, Apply ready for another try, the normal pointer back.
    void verifyKeptForAnotherTry(const QStringList& shown) {
        QVERIFY(dlg());
        QVERIFY(dlg()->isVisible());
        QCOMPARE(texts(), shown);
        QVERIFY(SetupScope::ValuesChanged);
        QVERIFY(button("cmdApply")->isEnabled());
        QVERIFY(!QApplication::overrideCursor());
    }
    // Applies again (through OK or Apply) and expects all six written and the apply complete.
    void verifyAppliesAgain(bool viaOk, std::array<uint8_t, 6> values) {
        mount.clearCommands();
        QTest::mouseClick(button(viaOk ? "OKButton" : "cmdApply"), Qt::LeftButton);
        QCOMPARE(mount.commands(), applyCommands(values));
        QVERIFY(!SetupScope::ValuesChanged);
        QCOMPARE(!dlg(), viaOk);
    }
    // Opens on a mount that answers the six reads, then spoils count writes from the 0-based
    // firstWrite on (count -1: every one from there) with the fault.
    void openWithFaultyWrites(sim::Fault fault, int firstWrite, int count) {
        mount.opt.fault = fault;
        mount.opt.faultSkip = 6 + firstWrite;
        mount.opt.faultCount = count;
        open();
        mount.clearCommands();
    }
    // Starts the mount with its stored values on the first opening of a test.
    void open() {
        if (!started) mount.start();
        started = true;
        ShowSetupScope();
        QVERIFY(dlg());
        QVERIFY(QTest::qWaitForWindowExposed(dlg()));
    }

private slots:
    void initTestCase() {
        quietOffscreenWarnings();
        sim::registerInProcessSim();
    }
    void init() {
        clk = ManualClock(20000);
        setClock(&clk);
        SleepTime = 1;
        mount = SimMount();
        Comm1().setBackendFactory({});
        Comm1().setPortText(QStringLiteral("sim"));
        cursorsWhileSending.clear();
        started = false;
        clk.onSleep = [this](uint32_t) {
            const QCursor* c = QApplication::overrideCursor();
            cursorsWhileSending.push_back(c ? c->shape() : Qt::ArrowCursor);
        };
    }
    void cleanup() {
        for (QWidget* w : QApplication::topLevelWidgets())
            w->close();
        flushDeletes();
        QVERIFY(!QApplication::overrideCursor());
        setClock(nullptr);
    }

    void layoutAndObjectNames() {
        SetupScope d;
        QCOMPARE(d.objectName(), QStringLiteral("SetupScope"));
        QCOMPARE(d.windowTitle(), QStringLiteral("Setup Scope"));
        QCOMPARE(d.size(), QSize(402, 213));
        QVERIFY(d.minimumSize() == d.maximumSize());
        // name, left, top, width, height in twips
        const struct {
            const char* name;
            int l, t, w, h;
        } table[] = {
            {"Label1", 120, 120, 2175, 255},      {"Label2", 960, 480, 1695, 255},
            {"Label4", 120, 840, 735, 255},       {"txtAzPos", 960, 840, 375, 315},
            {"UpDown3", 1320, 840, 240, 315},     {"txtAzNeg", 1800, 840, 375, 315},
            {"UpDown4", 2160, 840, 240, 315},     {"Label3", 120, 1320, 735, 255},
            {"txtAltPos", 960, 1320, 375, 315},   {"UpDown1", 1320, 1320, 240, 315},
            {"txtAltNeg", 1800, 1320, 375, 315},  {"UpDown2", 2160, 1320, 240, 315},
            {"Label8", 3360, 120, 2175, 255},     {"Label7", 3720, 480, 1455, 255},
            {"Label5", 3360, 840, 735, 255},      {"txtAzAuto", 4200, 840, 375, 315},
            {"UpDown7", 4560, 840, 240, 315},     {"Label6", 3360, 1320, 735, 255},
            {"txtAltAuto", 4200, 1320, 375, 315}, {"UpDown5", 4560, 1320, 240, 315},
            {"OKButton", 2040, 2760, 1215, 375},  {"CancelButton", 3360, 2760, 1215, 375},
            {"cmdApply", 4680, 2760, 1215, 375},
        };
        for (const auto& c : table) {
            auto* w = d.findChild<QWidget*>(QLatin1String(c.name));
            QVERIFY2(w, c.name);
            QCOMPARE(w->geometry(), QRect(c.l / 15, c.t / 15, c.w / 15, c.h / 15));
        }
        // Each spin control drives the box it stands beside, within 0-99.
        const std::pair<const char*, const char*> spins[] = {
            {"UpDown3", "txtAzPos"},  {"UpDown4", "txtAzNeg"},  {"UpDown1", "txtAltPos"},
            {"UpDown2", "txtAltNeg"}, {"UpDown7", "txtAzAuto"}, {"UpDown5", "txtAltAuto"}};
        for (const auto& [spin, buddy] : spins) {
            auto* u = d.findChild<UpDown*>(QLatin1String(spin));
            QVERIFY(u);
            QCOMPARE(u->buddy()->objectName(), QLatin1String(buddy));
            QCOMPARE(u->minimum(), 0);
            QCOMPARE(u->maximum(), 99);
            QCOMPARE(u->increment(), 1);
        }
        QCOMPARE(d.findChild<QLabel*>("Label2")->text(), QStringLiteral("Positive      Negative"));
        QCOMPARE(d.findChild<QLabel*>("Label7")->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
        for (const char* big : {"Label1", "Label3", "Label4", "Label5", "Label6", "Label8"})
            QCOMPARE(d.findChild<QLabel*>(big)->font().pointSizeF(), 9.75);
        auto* apply = d.findChild<QPushButton*>("cmdApply");
        QCOMPARE(apply->text(), QStringLiteral("&Apply"));
        QVERIFY(!apply->isEnabled());
        QVERIFY(d.findChild<QPushButton*>("OKButton")->isDefault());
        for (const char* b : Boxes)
            QVERIFY(d.findChild<QLineEdit*>(b)->text().isEmpty());
    }

    void readsAndShowsTheMountsValues_data() {
        QTest::addColumn<int>("backlash");
        QTest::addColumn<int>("guide");
        QTest::addColumn<QString>("percent");
        const std::pair<int, const char*> guides[] = {{0, "0"},    {1, "0"},    {2, "1"},
                                                      {32, "12"},  {96, "38"},  {128, "50"},
                                                      {224, "88"}, {255, "100"}};
        for (int backlash : {0, 255})
            for (const auto& [g, p] : guides)
                QTest::addRow("backlash %d, guide %d", backlash, g) << backlash << g << QString(p);
    }
    void readsAndShowsTheMountsValues() {
        QFETCH(int, backlash);
        QFETCH(int, guide);
        QFETCH(QString, percent);
        // Distinct values per box catch a read landing in the wrong box.
        const uint8_t other = uint8_t(backlash == 0 ? 7 : 200);
        mount.opt.backlash[0][0] = uint8_t(backlash); // az +
        mount.opt.backlash[0][1] = other;             // az -
        mount.opt.backlash[1][0] = other + 1;         // alt +
        mount.opt.backlash[1][1] = uint8_t(backlash); // alt -
        mount.opt.guideRate[0] = uint8_t(guide);      // az
        mount.opt.guideRate[1] = 64;                  // alt: 25 percent
        SetupScope::ValuesChanged = true;
        open();

        QCOMPARE(mount.commands(), LoadCommands);
        QCOMPARE(texts(), (QStringList{QString::number(backlash), QString::number(other),
                                       QString::number(other + 1), QString::number(backlash),
                                       percent, QStringLiteral("25")}));
        QVERIFY(!SetupScope::ValuesChanged);
        QVERIFY(!button("cmdApply")->isEnabled());
        QVERIFY(onTopRequested(dlg()));
        QVERIFY(dlg()->isVisible());
        QVERIFY(!dlg()->isModal());
        QVERIFY(!dlg()->parentWidget());
        QVERIFY(!cursorsWhileSending.empty());
        for (Qt::CursorShape s : cursorsWhileSending)
            QCOMPARE(s, Qt::WaitCursor);
        QVERIFY(!QApplication::overrideCursor());
    }

    void opensWithFocusInAzimuthPositiveAndTabsInOrder() {
        mount.opt.backlash[0][0] = 17;
        open();
        QApplication::setActiveWindow(dlg());
        QCOMPARE(QApplication::focusWidget(), box("txtAzPos"));
        QCOMPARE(box("txtAzPos")->selectedText(), QStringLiteral("17"));
        // Apply is only reached once it is enabled.
        const QStringList order = {"txtAzNeg",   "txtAltPos", "txtAltNeg",    "txtAzAuto",
                                   "txtAltAuto", "OKButton",  "CancelButton", "txtAzPos"};
        for (const QString& next : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget()->objectName(), next);
            if (auto* e = qobject_cast<QLineEdit*>(QApplication::focusWidget()))
                QCOMPARE(e->selectedText(), e->text());
        }
        // Focus moved by the mouse or by the program selects the whole text too, so typing
        // replaces it.
        box("txtAltAuto")->setFocus(Qt::OtherFocusReason);
        QCOMPARE(box("txtAltAuto")->selectedText(), QStringLiteral("50"));
        QTest::keyClicks(box("txtAltAuto"), "7");
        QCOMPARE(box("txtAltAuto")->text(), QStringLiteral("7"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("cmdApply"));
    }

    void silentMountReportsCodeFiveAfterTheFirstRead() {
        mount.silentAfter(0);
        SetupScope::ValuesChanged = true; // a failed first read leaves it as it was
        ReportRecorder rec;
        bool cursorRestoredBeforeReport = false;
        rec.onReport = [&](const ReportRecorder::Box&) {
            cursorRestoredBeforeReport = !QApplication::overrideCursor();
        };
        const uint32_t t0 = clk.now();
        open();
        QCOMPARE(mount.commands(), LoadCommands.mid(0, 1));
        QVERIFY(clk.now() - t0 >= 500);
        QCOMPARE(rec.texts(),
                 QStringList{QStringLiteral("Invalid procedure call or argument - 5")});
        QCOMPARE(rec.boxes[0].caption, QStringLiteral("Skyjog"));
        QVERIFY(cursorRestoredBeforeReport);
        QCOMPARE(texts(), QStringList(6, QString()));
        QVERIFY(!button("cmdApply")->isEnabled());
        QVERIFY(SetupScope::ValuesChanged);
        QVERIFY(!onTopRequested(dlg()));
        QVERIFY(dlg()->isVisible());

        // Closing sends nothing either.
        QTest::mouseClick(button("CancelButton"), Qt::LeftButton);
        QCOMPARE(mount.commands().size(), 1);
    }

    void mountFailingAtTheThirdRead() {
        mount.opt.backlash[1][0] = 3;
        mount.opt.backlash[1][1] = 4;
        mount.silentAfter(2);
        SetupScope::ValuesChanged = false;
        ReportRecorder rec;
        open();
        QCOMPARE(mount.commands(), LoadCommands.mid(0, 3));
        QCOMPARE(rec.texts(),
                 QStringList{QStringLiteral("Invalid procedure call or argument - 5")});
        QCOMPARE(texts(), (QStringList{"", "", "3", "4", "", ""}));
        // The boxes filled so far count as changes; the load did not end, so they stand.
        QVERIFY(SetupScope::ValuesChanged);
        QVERIFY(button("cmdApply")->isEnabled());
        QVERIFY(!onTopRequested(dlg()));
    }

    void applyAfterTypingSendsAllSixInOrder() {
        mount.opt.backlash[0][0] = 1;
        mount.opt.backlash[0][1] = 2;
        mount.opt.backlash[1][0] = 3;
        mount.opt.backlash[1][1] = 4;
        mount.opt.guideRate[0] = 128;
        mount.opt.guideRate[1] = 32;
        open();
        mount.clearCommands();
        type("txtAzNeg", "42");
        QVERIFY(SetupScope::ValuesChanged);
        QVERIFY(button("cmdApply")->isEnabled());
        QVERIFY(mount.commands().isEmpty()); // typing sends nothing

        cursorsWhileSending.clear();
        QTest::mouseClick(button("cmdApply"), Qt::LeftButton);
        // txtAltAuto shows 12 (from 32) and was not edited: 32 goes back, not 12 * 2.56 = 31.
        QCOMPARE(mount.commands(), applyCommands({3, 4, 1, 42, 32, 128}));
        QCOMPARE(mount.backlash(16, false), uint8_t(42));
        QVERIFY(!SetupScope::ValuesChanged);
        QVERIFY(!button("cmdApply")->isEnabled());
        for (Qt::CursorShape s : cursorsWhileSending)
            QCOMPARE(s, Qt::WaitCursor);
        QVERIFY(!QApplication::overrideCursor());
        QCOMPARE(box("txtAzNeg")->text(), QStringLiteral("42")); // boxes keep their text

        // OK after a complete apply closes without sending anything.
        mount.clearCommands();
        QTest::mouseClick(button("OKButton"), Qt::LeftButton);
        QVERIFY(mount.commands().isEmpty());
        QVERIFY(!dlg());
    }

    void applyAfterASpinArrow() {
        mount.opt.guideRate[0] = 128; // az 50 percent
        mount.opt.guideRate[1] = 128;
        open();
        mount.clearCommands();
        auto* spin = dlg()->findChild<UpDown*>("UpDown7");
        QTest::mouseClick(spin->upButton(), Qt::LeftButton);
        QCOMPARE(box("txtAzAuto")->text(), QStringLiteral("51"));
        QVERIFY(SetupScope::ValuesChanged);
        QVERIFY(button("cmdApply")->isEnabled());
        QTest::mouseClick(button("cmdApply"), Qt::LeftButton);
        // 51 * 2.56 = 130.56 goes as 131.
        QCOMPARE(mount.commands(), applyCommands({0, 0, 0, 0, 128, 131}));
        QCOMPARE(mount.guideRate(16), uint8_t(131));

        // An arrow on a backlash box steps from the value it shows; Alt+A applies.
        mount.clearCommands();
        type("txtAltNeg", "7");
        QTest::mouseClick(dlg()->findChild<UpDown*>("UpDown2")->downButton(), Qt::LeftButton);
        QCOMPARE(box("txtAltNeg")->text(), QStringLiteral("6"));
        QApplication::setActiveWindow(dlg());
        QVERIFY(QTest::qWaitForWindowActive(dlg()));
        QTest::keyClick(box("txtAltNeg"), Qt::Key_A, Qt::AltModifier);
        // The access key presses the button visibly, so its click comes a moment later.
        QTRY_VERIFY_WITH_TIMEOUT(!button("cmdApply")->isEnabled(), 5000);
        QCOMPARE(mount.commands(), applyCommands({0, 6, 0, 0, 128, 131}));
    }

    void failuresWhileApplying_data() {
        QTest::addColumn<QString>("boxName");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("code"); // 0: no failure
        QTest::addColumn<int>("sentBefore");
        QTest::addColumn<int>("byte"); // when there is no failure
        QTest::newRow("letters in a backlash box") << "txtAzPos"
                                                   << "abc" << 13 << 2 << 0;
        QTest::newRow("empty backlash box") << "txtAltPos"
                                            << "" << 13 << 0 << 0;
        QTest::newRow("300") << "txtAzNeg"
                             << "300" << 5 << 3 << 0;
        QTest::newRow("-1") << "txtAltNeg"
                            << "-1" << 5 << 1 << 0;
        QTest::newRow("40000") << "txtAltNeg"
                               << "40000" << 6 << 1 << 0;
        QTest::newRow("-40000") << "txtAzPos"
                                << "-40000" << 6 << 2 << 0;
        QTest::newRow("2.5 rounds to even") << "txtAzPos"
                                            << "2.5" << 0 << 0 << 2;
        QTest::newRow("3.5 rounds to even") << "txtAzPos"
                                            << "3.5" << 0 << 0 << 4;
        QTest::newRow("255") << "txtAzPos"
                             << "255" << 0 << 0 << 255;
        QTest::newRow("letters in an autoguide box") << "txtAltAuto"
                                                     << "fast" << 13 << 4 << 0;
        QTest::newRow("empty autoguide box") << "txtAzAuto"
                                             << "" << 13 << 5 << 0;
        QTest::newRow("percentage of 100") << "txtAzAuto"
                                           << "100" << 0 << 0 << 255;
        QTest::newRow("99.9 percent") << "txtAzAuto"
                                      << "99.9" << 0 << 0 << 255;
        QTest::newRow("above 100 percent") << "txtAltAuto"
                                           << "100.5" << 5 << 4 << 0;
        QTest::newRow("negative percentage") << "txtAzAuto"
                                             << "-1" << 5 << 5 << 0;
        QTest::newRow("99 percent") << "txtAltAuto"
                                    << "99" << 0 << 0 << 253;
        // Beyond the double range: an overflow in a backlash box, and outside the byte in an
        // autoguide box; too small for a double, 0.
        const QString digits400(400, u'7');
        QTest::newRow("400 digits, backlash") << "txtAzPos" << digits400 << 6 << 2 << 0;
        QTest::newRow("1e400, backlash") << "txtAltNeg" << "1e400" << 6 << 1 << 0;
        QTest::newRow("-1e400, backlash") << "txtAltNeg" << "-1e400" << 6 << 1 << 0;
        QTest::newRow("1e-400, backlash") << "txtAltNeg" << "1e-400" << 0 << 0 << 0;
        QTest::newRow("400 digits, autoguide") << "txtAzAuto" << digits400 << 5 << 5 << 0;
        QTest::newRow("-1e400, autoguide") << "txtAltAuto" << "-1e400" << 5 << 4 << 0;
        QTest::newRow("1e-400, autoguide") << "txtAltAuto" << "1e-400" << 0 << 0 << 0;
    }
    void failuresWhileApplying() {
        QFETCH(QString, boxName);
        QFETCH(QString, text);
        QFETCH(int, code);
        QFETCH(int, sentBefore);
        QFETCH(int, byte);
        mount.opt.backlash[0][0] = 10;
        mount.opt.backlash[0][1] = 11;
        mount.opt.backlash[1][0] = 12;
        mount.opt.backlash[1][1] = 13;
        mount.opt.guideRate[0] = 64;
        mount.opt.guideRate[1] = 192;
        open();
        mount.clearCommands();
        type(qPrintable(boxName), text);

        ReportRecorder rec;
        QTest::mouseClick(button("cmdApply"), Qt::LeftButton);
        std::array<uint8_t, 6> v = {12, 13, 10, 11, 192, 64};
        const QStringList order = {"txtAltPos", "txtAltNeg",  "txtAzPos",
                                   "txtAzNeg",  "txtAltAuto", "txtAzAuto"};
        if (code == 0) {
            v[size_t(order.indexOf(boxName))] = uint8_t(byte);
            QCOMPARE(mount.commands(), applyCommands(v));
            QVERIFY(rec.boxes.empty());
            QVERIFY(!SetupScope::ValuesChanged);
            QVERIFY(!button("cmdApply")->isEnabled());
            return;
        }
        QCOMPARE(mount.commands(), applyCommands(v).mid(0, sentBefore));
        QCOMPARE(rec.boxes.size(), size_t(1));
        QVERIFY(rec.boxes[0].text.endsWith(QStringLiteral(" - ") + QString::number(code)));
        QVERIFY(!QApplication::overrideCursor());
        QVERIFY(SetupScope::ValuesChanged);
        QVERIFY(button("cmdApply")->isEnabled());

        // Correcting the box and applying again sends all six from the first.
        mount.clearCommands();
        type(qPrintable(boxName), QStringLiteral("9"));
        QTest::mouseClick(button("cmdApply"), Qt::LeftButton);
        const int i = int(order.indexOf(boxName));
        v[size_t(i)] = uint8_t(i >= 4 ? 23 : 9); // 9 percent is 23.04
        QCOMPARE(mount.commands(), applyCommands(v));
        QCOMPARE(rec.boxes.size(), size_t(1));
    }

    void fullPercentageReadFromTheMountWritesBack() {
        mount.opt.guideRate[0] = 255;
        mount.opt.guideRate[1] = 255;
        open();
        QCOMPARE(box("txtAzAuto")->text(), QStringLiteral("100"));
        mount.clearCommands();
        type("txtAzPos", "5");
        ReportRecorder rec;
        QTest::mouseClick(button("OKButton"), Qt::LeftButton);
        QVERIFY(rec.boxes.empty());
        QCOMPARE(mount.commands(), applyCommands({0, 0, 5, 0, 255, 255}));
        QVERIFY(!dlg());
    }

    void okAndEnterApplyOnlyAfterAChange() {
        open();
        mount.clearCommands();
        QTest::mouseClick(button("OKButton"), Qt::LeftButton);
        QVERIFY(mount.commands().isEmpty());
        QVERIFY(!dlg());
        flushDeletes();

        open();
        mount.clearCommands();
        type("txtAltPos", "77");
        QTest::keyClick(box("txtAltPos"), Qt::Key_Return);
        QCOMPARE(mount.commands(), applyCommands({77, 0, 0, 0, 128, 128}));
        QVERIFY(!dlg());
        QVERIFY(!SetupScope::ValuesChanged);
    }

    void okStaysOpenWhenTheApplyFails() {
        mount.opt.backlash[0][0] = 21;
        open();
        mount.clearCommands();
        type("txtAzNeg", "x");
        const QStringList shown = texts();
        ReportRecorder rec;
        QTest::mouseClick(button("OKButton"), Qt::LeftButton);
        QCOMPARE(rec.texts(), QStringList{QStringLiteral("Type mismatch - 13")});
        QCOMPARE(mount.commands(), applyCommands({0, 0, 21, 0, 128, 128}).mid(0, 3));
        // The dialog stays with what the user typed, ready for a correction.
        verifyKeptForAnotherTry(shown);

        // Corrected, OK writes all six from the first and closes.
        type("txtAzNeg", "4");
        verifyAppliesAgain(true, {0, 0, 21, 4, 128, 128});
        QCOMPARE(rec.boxes.size(), size_t(1));
    }

    void cancelEscAndCloseSendNothing_data() {
        QTest::addColumn<int>("how");
        QTest::newRow("Cancel") << 0;
        QTest::newRow("Esc") << 1;
        QTest::newRow("close command") << 2;
    }
    void cancelEscAndCloseSendNothing() {
        QFETCH(int, how);
        open();
        mount.clearCommands();
        type("txtAzPos", "12");
        if (how == 0) QTest::mouseClick(button("CancelButton"), Qt::LeftButton);
        if (how == 1) QTest::keyClick(box("txtAzPos"), Qt::Key_Escape);
        if (how == 2) dlg()->windowHandle()->close();
        QVERIFY(!dlg());
        QVERIFY(mount.commands().isEmpty());
        QVERIFY(SetupScope::ValuesChanged);
    }

    void eachOpeningReadsAgainAndAnOpenDialogIsOnlyBroughtForward() {
        mount.opt.backlash[0][0] = 5;
        open();
        QPointer<SetupScope> first = dlg();
        type("txtAzPos", "99");
        QTest::mouseClick(button("CancelButton"), Qt::LeftButton);
        flushDeletes();
        QVERIFY(!first); // closing destroyed the window
        mount.clearCommands();

        mount.opt.backlash[0][0] = 6;
        mount.start();
        open();
        QCOMPARE(mount.commands(), LoadCommands);
        QCOMPARE(box("txtAzPos")->text(), QStringLiteral("6"));
        QVERIFY(!SetupScope::ValuesChanged);

        // Already open: nothing is read and the same window stays, changes and all.
        SetupScope* second = dlg();
        type("txtAzNeg", "8");
        mount.clearCommands();
        ShowSetupScope();
        QCOMPARE(dlg(), second);
        QVERIFY(mount.commands().isEmpty());
        QCOMPARE(box("txtAzNeg")->text(), QStringLiteral("8"));
        int dialogs = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == QLatin1String("SetupScope") && w->isVisible()) ++dialogs;
        QCOMPARE(dialogs, 1);
    }

    void serialFailureDuringApplyGoesOnButAppliesNothing_data() {
        QTest::addColumn<bool>("viaOk");
        QTest::newRow("Apply") << false;
        QTest::newRow("OK") << true;
    }
    void serialFailureDuringApplyGoesOnButAppliesNothing() {
        QFETCH(bool, viaOk);
        open();
        type("txtAzPos", "1");
        const QStringList shown = texts();
        // A port whose device does not exist fails to open on every command.
        Comm1().setPortText(QStringLiteral("/dev/skyjog-no-such-port"));
        ReportRecorder rec;
        QTest::mouseClick(button(viaOk ? "OKButton" : "cmdApply"), Qt::LeftButton);
        // Each of the six commands tried the port and reported; nothing more is said, since the
        // port's own reports tell it all.
        QCOMPARE(rec.boxes.size(), size_t(6));
        for (const auto& b : rec.boxes)
            QVERIFY2(b.text.contains(QLatin1String("skyjog-no-such-port")), qPrintable(b.text));
        verifyKeptForAnotherTry(shown);

        // With the port back, the same boxes go out in full.
        Comm1().setPortText(QStringLiteral("sim"));
        verifyAppliesAgain(viaOk, {0, 0, 1, 0, 128, 128});
        QCOMPARE(rec.boxes.size(), size_t(6));
    }

    // A write counts only when the mount answers it with "#". Every write is still sent, in
    // order; then one report names the ones that went unanswered, and nothing counts as applied.
    void writesTheMountDoesNotAcknowledge_data() {
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("firstWrite"); // 0-based: the first write the fault spoils
        QTest::addColumn<int>("count");      // how many writes it spoils (-1: all from there)
        QTest::addColumn<bool>("viaOk");
        QTest::addColumn<QString>("named");
        const QString all = QStringLiteral(
            "values (altitude positive anti-backlash, altitude negative anti-backlash, "
            "azimuth positive anti-backlash, azimuth negative anti-backlash, "
            "altitude autoguide rate, azimuth autoguide rate)");
        QTest::newRow("silent mount") << int(sim::Fault::Silent) << 0 << -1 << false << all;
        QTest::newRow("silent mount, OK") << int(sim::Fault::Silent) << 0 << -1 << true << all;
        QTest::newRow("garbage for an acknowledgement")
            << int(sim::Fault::Garbage) << 0 << -1 << false << all;
        QTest::newRow("short replies") << int(sim::Fault::ShortReply) << 0 << -1 << false << all;
        QTest::newRow("one write unanswered")
            << int(sim::Fault::Silent) << 3 << 1 << false
            << QStringLiteral("value (azimuth negative anti-backlash)");
        // The hand control answers in order: the answer after a late one is late as well.
        QTest::newRow("one late acknowledgement, OK")
            << int(sim::Fault::LateReply) << 4 << 1 << true
            << QStringLiteral("values (altitude autoguide rate, azimuth autoguide rate)");
        QTest::newRow("two garbled")
            << int(sim::Fault::Garbage) << 0 << 2 << false
            << QStringLiteral(
                   "values (altitude positive anti-backlash, altitude negative anti-backlash)");
    }
    void writesTheMountDoesNotAcknowledge() {
        QFETCH(int, fault);
        QFETCH(int, firstWrite);
        QFETCH(int, count);
        QFETCH(bool, viaOk);
        QFETCH(QString, named);
        mount.opt.guideRate[1] = 1; // shows as 0
        openWithFaultyWrites(sim::Fault(fault), firstWrite, count);
        type("txtAltPos", "9");
        const QStringList shown = texts();
        ReportRecorder rec;
        bool cursorRestoredBeforeReport = false;
        rec.onReport = [&](const ReportRecorder::Box&) {
            cursorRestoredBeforeReport = !QApplication::overrideCursor();
        };
        QTest::mouseClick(button(viaOk ? "OKButton" : "cmdApply"), Qt::LeftButton);

        QCOMPARE(mount.commands(), applyCommands({9, 0, 0, 0, 1, 128}));
        QCOMPARE(rec.texts(),
                 QStringList{QStringLiteral("The mount did not acknowledge the new ") + named +
                             QStringLiteral(" - 8030")});
        QCOMPARE(rec.boxes[0].caption, QStringLiteral("Skyjog"));
        QVERIFY(cursorRestoredBeforeReport);
        verifyKeptForAnotherTry(shown);

        // Once the mount answers again, applying again writes all six and closes on OK.
        mount.opt.fault = sim::Fault::None;
        mount.start();
        verifyAppliesAgain(viaOk, {9, 0, 0, 0, 1, 128});
        QCOMPARE(rec.boxes.size(), size_t(1));
    }

    void aDroppedLineIsReportedByThePortAlone() {
        openWithFaultyWrites(sim::Fault::Disconnect, 1, 1);
        type("txtAltNeg", "5");
        const QStringList shown = texts();
        ReportRecorder rec;
        QTest::mouseClick(button("OKButton"), Qt::LeftButton);
        // The dropped line fails the second write in the port; the next command plugs it in
        // again and the series goes on.
        QCOMPARE(mount.commands(), applyCommands({0, 5, 0, 0, 128, 128}));
        QCOMPARE(rec.boxes.size(), size_t(1));
        QVERIFY2(rec.boxes[0].text.startsWith(QLatin1String("Lost the simulated mount")),
                 qPrintable(rec.boxes[0].text));
        verifyKeptForAnotherTry(shown);
    }

    void portFailuresAndUnansweredWritesTogether() {
        openWithFaultyWrites(sim::Fault::Silent, 2, 1);
        type("txtAzPos", "3");
        const QStringList shown = texts();
        // After the third write the port goes away (an adapter pulled out).
        int opens = 0;
        Comm1().setBackendFactory([&opens](const PortSpec& spec) {
            if (++opens > 3)
                throw VbError(err::InvalidPort, QStringLiteral("Cannot open the unplugged port"));
            return makeDefaultBackend(spec);
        });
        ReportRecorder rec;
        QTest::mouseClick(button("cmdApply"), Qt::LeftButton);
        QCOMPARE(mount.commands(), applyCommands({0, 0, 3, 0, 128, 128}).mid(0, 3));
        // Three reports from the port, then one for the write it did not see fail.
        QCOMPARE(rec.texts().mid(0, 3),
                 QStringList(3, QStringLiteral("Cannot open the unplugged port - 8002")));
        QCOMPARE(rec.boxes.size(), size_t(4));
        QCOMPARE(rec.boxes[3].text,
                 QStringLiteral("The mount did not acknowledge the new value (azimuth positive "
                                "anti-backlash) - 8030"));
        verifyKeptForAnotherTry(shown);
    }

    void aBadBoxAfterAnUnansweredWrite() {
        openWithFaultyWrites(sim::Fault::Silent, 0, 1);
        type("txtAzPos", "many");
        const QStringList shown = texts();
        ReportRecorder rec;
        QTest::mouseClick(button("OKButton"), Qt::LeftButton);
        // Both are told: the box that stopped the series, and the write before it that the
        // mount let pass without an answer.
        QCOMPARE(mount.commands(), applyCommands({0, 0, 0, 0, 128, 128}).mid(0, 2));
        QCOMPARE(rec.texts(),
                 (QStringList{QStringLiteral("Type mismatch - 13"),
                              QStringLiteral("The mount did not acknowledge the new value "
                                             "(altitude positive anti-backlash) - 8030")}));
        verifyKeptForAnotherTry(shown);
    }

    // Many autoguide bytes do not come back through their percentage (1 shows as 0, and 0 goes
    // back as 0). A box the user did not edit writes back the byte that was read.
    void uneditedBoxesWriteBackTheByteRead() {
        mount.opt.guideRate[1] = 1; // alt: shows 0
        mount.opt.guideRate[0] = 2; // az: shows 1, which goes back as 3
        mount.opt.backlash[1][0] = 40;
        open();
        QCOMPARE(box("txtAltAuto")->text(), QStringLiteral("0"));
        QCOMPARE(box("txtAzAuto")->text(), QStringLiteral("1"));
        mount.clearCommands();
        type("txtAzNeg", "8");
        QTest::mouseClick(button("cmdApply"), Qt::LeftButton);
        QCOMPARE(mount.commands(), applyCommands({40, 0, 0, 8, 1, 2}));
        QCOMPARE(mount.guideRate(17), uint8_t(1));
        QCOMPARE(mount.guideRate(16), uint8_t(2));

        // Typed over with the same text, the box still shows what was read.
        mount.clearCommands();
        type("txtAltAuto", "0");
        QTest::mouseClick(button("cmdApply"), Qt::LeftButton);
        QCOMPARE(mount.commands(), applyCommands({40, 0, 0, 8, 1, 2}));

        // An edited box writes its own number; a spin arrow edits too.
        mount.clearCommands();
        type("txtAltAuto", "5");
        QTest::mouseClick(dlg()->findChild<UpDown*>("UpDown7")->upButton(), Qt::LeftButton);
        QCOMPARE(box("txtAzAuto")->text(), QStringLiteral("2"));
        QTest::mouseClick(button("cmdApply"), Qt::LeftButton);
        // 5 * 2.56 = 12.8 and 2 * 2.56 = 5.12.
        QCOMPARE(mount.commands(), applyCommands({40, 0, 0, 8, 13, 5}));

        // A later opening reads afresh, and its bytes are the ones written back.
        QTest::mouseClick(button("CancelButton"), Qt::LeftButton);
        flushDeletes();
        open();
        mount.clearCommands();
        type("txtAltNeg", "1");
        QTest::mouseClick(button("OKButton"), Qt::LeftButton);
        QCOMPARE(mount.commands(), applyCommands({40, 1, 0, 8, 13, 5}));
    }

    void aPartialLoadWritesBackTheBytesItRead() {
        mount.opt.guideRate[1] = 1; // read fifth: shows 0
        mount.silentAfter(5);       // the sixth read goes unanswered
        ReportRecorder rec;
        open();
        QCOMPARE(rec.texts(),
                 QStringList{QStringLiteral("Invalid procedure call or argument - 5")});
        QCOMPARE(texts(), (QStringList{"0", "0", "0", "0", "", "0"}));
        mount.opt.fault = sim::Fault::None;
        mount.opt.guideRate[1] = 1;
        mount.start();
        type("txtAzAuto", "50");
        QTest::mouseClick(button("cmdApply"), Qt::LeftButton);
        QCOMPARE(mount.commands(), applyCommands({0, 0, 0, 0, 1, 128}));
        QCOMPARE(rec.boxes.size(), size_t(1));
        QVERIFY(!SetupScope::ValuesChanged);
    }
};

QTEST_MAIN(TestSetupScope)
#include "test_setupscope.moc"
