// The Position window against the simulated mount, on the test clock: what it shows while the
// mount moves and after it stops, the readings it holds back while the user or the spiral moves
// the mount, and failures that stay in the window instead of raising boxes.
#include "padfixture.h"
#include "positionwindow.h"
#include "setupscope.h"
#include "testhelpers.h"

#include "arrowbutton.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QTimer>

Q_DECLARE_METATYPE(skyjog::sim::Fault)

using namespace skyjog;
using namespace skyjog::test;
using Sent = QVector<QByteArray>;

namespace {

const QByteArray Z = cmd::GetAzAlt();
// How long a press may wait behind a reading, whatever the mount answers: about 50 ms, and the
// last pass of the reading's loop.
constexpr int64_t PressMayWaitMs = 52;

// "+1°02'03\"" (with "/s" or without) back to degrees; NaN for anything else.
double degreesOf(const QString& text) {
    static const QRegularExpression dms(
        QStringLiteral("^([+-]?)(\\d+)\u00b0(\\d\\d)'(\\d\\d)\"(/s)?$"));
    const auto m = dms.match(text);
    if (!m.hasMatch()) return std::nan("");
    const double v =
        m.captured(2).toInt() + m.captured(3).toInt() / 60.0 + m.captured(4).toInt() / 3600.0;
    return m.captured(1) == QLatin1String("-") ? -v : v;
}

// A pad on the simulated mount with tracking off, its Position window open and its timer
// stopped: the test takes each reading itself, at the times it chooses.
struct PositionPad {
    Pad pad;
    Interface* w = nullptr;
    PositionWindow* p = nullptr;

    // Tracking off unless asked for (1: Alt/Az).
    explicit PositionPad(int16_t trackMode = 0) {
        Settings s = Pad::simSettings();
        s.TrackModeIndex = trackMode;
        s.AzRateIndex = 9; // 1 deg/sec
        sim::Options quiet;
        quiet.trackingMode = uint8_t(trackMode);
        sim().reset(quiet);
        w = &pad.startOnSim(s);
        w->mnuPosition->trigger();
        p = PositionWindow::current();
        p->timer()->stop();
        pad.takeSent();
    }
    ~PositionPad() {
        if (PositionWindow::current()) PositionWindow::current()->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    static sim::MountSim& sim() { return sim::sharedMountSim(); }
    // The hand control's own buttons move the mount: nothing of it passes through the pad.
    void handControl(const QByteArray& command) {
        sim().receive(command, skyjog::clock().tickCount64());
        pad.clock.advance(20);
        sim().takeOutput(skyjog::clock().tickCount64());
        sim().clearLog();
    }
    // One turn of the timer after ms; what it sent.
    Sent pollAfter(uint32_t ms) {
        pad.clock.advance(ms);
        p->poll();
        return pad.takeSent();
    }
};

} // namespace

class TestPosition : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { quietOffscreenWarnings(); }

    void formats_data() {
        QTest::addColumn<double>("degrees");
        QTest::addColumn<bool>("signed_");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << 0.0 << false << "0\u00b000'00\"";
        QTest::newRow("half a degree up") << 12.5 << true << "+12\u00b030'00\"";
        QTest::newRow("below the horizon") << -10.25 << true << "-10\u00b015'00\"";
        QTest::newRow("59.8 seconds carry") << 59.8 / 3600 << false << "0\u00b001'00\"";
        QTest::newRow("a hair below zero is zero") << -0.0001 << true << "+0\u00b000'00\"";
        QTest::newRow("azimuth near a turn") << 359.9945 << false << "359\u00b059'40\"";
    }
    void formats() {
        QFETCH(double, degrees);
        QFETCH(bool, signed_);
        QFETCH(QString, text);
        QCOMPARE(formatDms(degrees, signed_), text);
    }

    void ratesAndStepsGoTheShortWayRound() {
        QCOMPARE(formatRate(1.0 / 120), QStringLiteral("+0\u00b000'30\"/s"));
        QCOMPARE(formatRate(-1.5), QStringLiteral("-1\u00b030'00\"/s"));
        QCOMPARE(angleStep(359.5, 0.5), 1.0);
        QCOMPARE(angleStep(0.5, 359.5), -1.0);
        QCOMPARE(angleStep(10, 190), 180.0);
        QCOMPARE(angleStep(-170, 170), -20.0);
    }

    void onlyAWholeReplyIsRead() {
        const std::optional<cmd::AzAlt> up = cmd::positionFromReply("4000,C000#");
        QVERIFY(up);
        QCOMPARE(up->azimuth, 90.0);
        QCOMPARE(up->altitude, 270.0);
        QCOMPARE(cmd::positionFromReply("ffff,0001#")->azimuth, 65535 * 360.0 / 65536);
        for (const char* bad : {"", "#", "4000,C000", "4000,C000#x", "4000;C000#", "40G0,C000#",
                                "4000,C00 #", "4000,C000,"})
            QVERIFY2(!cmd::positionFromReply(bad), bad);
    }

    void readingsFollowASlewAndStopWithIt() {
        PositionPad t;
        QCOMPARE(t.p->windowTitle(), QStringLiteral("Position"));
        QCOMPARE(t.pollAfter(0), Sent{Z});
        QCOMPARE(t.p->azimuthText(), QStringLiteral("0\u00b000'00\""));
        QCOMPARE(t.p->altitudeText(), QStringLiteral("+0\u00b000'00\""));
        QCOMPARE(t.p->azimuthRateText(), PositionWindow::Unreadable); // one reading: no rate yet

        // The hand control slews in azimuth at one degree a second, and later stops.
        t.handControl(cmd::VariableRateSlew(Az, cmd::MsgSlewPositive, 56, 64));
        double lastAz = 0;
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(t.pollAfter(500), Sent{Z});
            const double az = degreesOf(t.p->azimuthText());
            QVERIFY2(az > lastAz + 0.45 && az < lastAz + 0.56, qPrintable(t.p->azimuthText()));
            lastAz = az;
            QVERIFY2(std::abs(degreesOf(t.p->azimuthRateText()) - 1.0) < 0.03,
                     qPrintable(t.p->azimuthRateText()));
            QCOMPARE(t.p->altitudeRateText(), QStringLiteral("+0\u00b000'00\"/s"));
        }
        t.handControl(cmd::FixedRateSlew(Az));
        t.pollAfter(500);
        const QString stoppedAt = t.p->azimuthText();
        QCOMPARE(t.pollAfter(500), Sent{Z});
        QCOMPARE(t.p->azimuthText(), stoppedAt);
        QCOMPARE(t.p->azimuthRateText(), QStringLiteral("+0\u00b000'00\"/s"));

        // Down through the horizon: the altitude goes negative, its rate too.
        t.handControl(cmd::VariableRateSlew(Alt, cmd::MsgSlewNegative, 56, 64));
        t.pollAfter(500);
        QVERIFY2(degreesOf(t.p->altitudeText()) < -0.4, qPrintable(t.p->altitudeText()));
        QVERIFY2(std::abs(degreesOf(t.p->altitudeRateText()) + 1.0) < 0.03,
                 qPrintable(t.p->altitudeRateText()));
    }

    void theTimerRunsOnlyWhileTheWindowIsOpen() {
        PositionPad t;
        t.w->mnuPosition->trigger(); // brought forward, not opened twice
        QCOMPARE(PositionWindow::current(), t.p);
        t.p->timer()->start();
        QCOMPARE(t.p->timer()->interval(), 500);
        QVERIFY(t.p->timer()->isSingleShot()); // restarted at the end of each turn
        // The real timer's turn reads the position and sets itself for the next.
        QTRY_VERIFY_WITH_TIMEOUT(!PositionPad::sim().commands().isEmpty(), 5000);
        QCOMPARE(t.pad.takeSent().front(), Z);
        QVERIFY(t.p->timer()->isActive());
        QPointer<QTimer> timer = t.p->timer();
        t.p->close();
        QVERIFY(!timer || !timer->isActive());
    }

    // The pad's own slews: a reading goes out only once every arrow is up again.
    void noReadingWhileAnArrowIsHeld() {
        PositionPad t;
        QTest::mousePress(t.w->cmdRight, Qt::LeftButton);
        QCOMPARE(t.pad.takeSent(), (Sent{Slew(Az, 6, 56, 64)}));
        QVERIFY(t.pollAfter(500).isEmpty());
        QVERIFY(t.pollAfter(500).isEmpty());
        QTest::mouseRelease(t.w->cmdRight, Qt::LeftButton);
        QCOMPARE(t.pad.takeSent(), (Sent{Stop(Az), T(0)}));
        QCOMPARE(t.pollAfter(500), Sent{Z});

        t.pad.press(t.w, Qt::Key_Up);
        QCOMPARE(t.pad.takeSent(), (Sent{Slew(Alt, 7, 30, 0)}));
        QVERIFY(t.pollAfter(500).isEmpty());
        t.pad.repeat(t.w, Qt::Key_Up);
        QVERIFY(t.pollAfter(500).isEmpty());
        t.pad.release(t.w, Qt::Key_Up);
        QCOMPARE(t.pad.takeSent(), (Sent{Stop(Alt), T(0)}));
        QCOMPARE(t.pollAfter(500), Sent{Z});
    }

    void noReadingDuringASpiralOrWhileSetupScopeIsOpen() {
        PositionPad t;
        ManualClock& clk = t.pad.clock;
        int polls = 0;
        // Turns of the timer inside the spiral's legs, then the second press that stops it.
        for (uint32_t ms : {300u, 700u, 1200u, 1900u})
            clk.at(clk.now() + ms, [&] {
                QVERIFY(!t.w->idleForReadings());
                t.p->poll();
                ++polls;
            });
        clk.at(clk.now() + 2500, [&] { t.w->cmdSpiral->click(); });
        t.w->cmdSpiral->click();
        QCOMPARE(polls, 4);
        const Sent spiral = t.pad.takeSent();
        QVERIFY(spiral.size() > 10);
        QCOMPARE(spiral.front(), Z); // the spiral's own reading, and no other
        QCOMPARE(spiral.count(Z), 1);
        QCOMPARE(spiral.mid(spiral.size() - 3), (Sent{Stop(Alt), Stop(Az), T(0)}));
        QCOMPARE(t.pollAfter(500), Sent{Z});

        ShowSetupScope();
        QVERIFY(SetupScope::current());
        t.pad.takeSent();
        QVERIFY(t.pollAfter(500).isEmpty());
        SetupScope::current()->close();
        QCOMPARE(t.pollAfter(500), Sent{Z});
    }

    // A failing command's box runs an event loop in the middle of its handler: the timer's turn
    // that comes then waits for the handler to end.
    void noReadingInsideAnotherCommandsBox() {
        PositionPad t;
        t.pollAfter(0);
        const QString before = t.p->azimuthText();
        bool idleInBox = true;
        t.pad.reports.onReport = [&](const ReportRecorder::Box&) {
            idleInBox = t.w->idleForReadings();
            t.p->poll();
        };
        t.w->txtCommPort->setText(QStringLiteral("/dev/skyjog-no-such-port"));
        t.w->optOn->click();
        QVERIFY(!t.pad.reports.boxes.empty());
        QVERIFY(!idleInBox);
        QCOMPARE(t.p->azimuthText(), before); // the turn in the box read nothing
    }

    void garbageAndSilenceShowInTheWindowWithoutABox() {
        PositionPad t;
        sim::Options& o = PositionPad::sim().options();
        const QString dash = PositionWindow::Unreadable;
        const QString none = PositionWindow::NoReply;
        const std::tuple<sim::Fault, QString, QString> cases[] = {
            {sim::Fault::Garbage, dash, dash},
            {sim::Fault::ShortReply, dash, dash},
            // The reply is whole; what follows it is left on the line.
            {sim::Fault::ExtraBytes, QStringLiteral("0\u00b000'00\""),
             QStringLiteral("+0\u00b000'00\"")},
            {sim::Fault::Silent, none, none},
        };
        for (const auto& [fault, az, alt] : cases) {
            o.fault = fault;
            for (int turn = 0; turn < 3; ++turn) {
                QCOMPARE(t.pollAfter(500), Sent{Z});
                QCOMPARE(t.p->azimuthText(), az);
                QCOMPARE(t.p->altitudeText(), alt);
                // A mount that says nothing, or nothing right, is asked less often.
                QCOMPARE(t.p->nextPollMs(), fault == sim::Fault::ExtraBytes ? 500 : 2000);
            }
        }
        QVERIFY(t.pad.reports.boxes.empty());

        // A port that cannot be opened: the same, and the rest of the pad is untouched by it.
        o.fault = sim::Fault::None;
        t.w->txtCommPort->setText(QStringLiteral("/dev/skyjog-no-such-port"));
        t.pollAfter(500);
        QCOMPARE(t.p->azimuthText(), PositionWindow::NoReply);
        QVERIFY(t.pad.reports.boxes.empty());
        QVERIFY(StopSpiral);

        // Back on the mount: numbers again, and a rate only from the second good reading.
        t.w->txtCommPort->setText(QStringLiteral("sim"));
        t.pollAfter(500);
        QCOMPARE(t.p->azimuthText(), QStringLiteral("0\u00b000'00\""));
        QCOMPARE(t.p->azimuthRateText(), PositionWindow::Unreadable);
        QCOMPARE(t.p->nextPollMs(), 500);
        t.pollAfter(500);
        QCOMPARE(t.p->azimuthRateText(), QStringLiteral("+0\u00b000'00\"/s"));
    }

    // A press that comes the moment a reading begins waits for the reading to end, whatever
    // the mount makes of it; a mount that answers as a hand control does is still read, and
    // one that answers wrong is asked less often. On a line at 9600 baud, in Alt/Az: a tap goes
    // out whole and in order behind the reading.
    void aPressWaitsLittleBehindAReading_data() {
        QTest::addColumn<sim::Fault>("fault");
        QTest::addColumn<uint32_t>("latencyMs");
        QTest::addColumn<QString>("shows");
        QTest::addColumn<int>("nextMs");
        QTest::addColumn<uint32_t>("clockIncrement"); // 100-ns units; 0: the default
        const QString ok = QStringLiteral("0\u00b000'00\"");
        QTest::newRow("a hand control, 25 ms") << sim::Fault::None << 13u << ok << 500 << 0u;
        QTest::newRow("a slow hand control, 40 ms") << sim::Fault::None << 28u << ok << 500 << 0u;
        // A system clock that ticks every 15.6 ms (Windows) makes each pass of the reading 17 ms.
        QTest::newRow("a hand control, a coarse clock")
            << sim::Fault::None << 13u << ok << 500 << 156250u;
        QTest::newRow("short reply")
            << sim::Fault::ShortReply << 13u << PositionWindow::Unreadable << 2000 << 0u;
        QTest::newRow("garbage") << sim::Fault::Garbage << 13u << PositionWindow::Unreadable << 2000
                                 << 0u;
        QTest::newRow("late reply")
            << sim::Fault::LateReply << 13u << PositionWindow::NoReply << 2000 << 0u;
        QTest::newRow("silent") << sim::Fault::Silent << 13u << PositionWindow::NoReply << 2000
                                << 0u;
    }
    void aPressWaitsLittleBehindAReading() {
        QFETCH(sim::Fault, fault);
        QFETCH(uint32_t, latencyMs);
        QFETCH(QString, shows);
        QFETCH(int, nextMs);
        QFETCH(uint32_t, clockIncrement);
        PositionPad t(1);
        const auto sleepTime = qScopeGuard([before = SleepTime] { SleepTime = before; });
        if (clockIncrement) {
            t.pad.clock.setIncrement(clockIncrement);
            InitSleepTime();
            QCOMPARE(SleepTime, int16_t(17));
        }
        sim::Options& o = PositionPad::sim().options();
        o.pace9600 = true;
        o.latencyMs = latencyMs;
        o.fault = fault;
        o.faultCount = 1; // the reading's reply; the press's own are answered
        // Late for the reading, not for the press's first command: a reply the mount has not
        // sent holds its line, and everything after it waits.
        o.lateReplyMs = 200;
        ManualClock& clk = t.pad.clock;
        const uint32_t pressed = clk.now();
        t.p->poll();
        QVERIFY2(clk.now() - pressed <= uint32_t(PressMayWaitMs),
                 qPrintable(QStringLiteral("the reading took %1 ms").arg(clk.now() - pressed)));
        QCOMPARE(t.p->azimuthText(), shows);
        QCOMPARE(t.p->nextPollMs(), nextMs);

        t.pad.press(t.w, Qt::Key_Up);
        t.pad.release(t.w, Qt::Key_Up);
        // The press's first command, tracking off (2 characters), is what the reading held up;
        // what follows it waits for the mount's own answers.
        const QVector<sim::LogEntry> log = PositionPad::sim().log();
        const auto first = std::find_if(log.begin(), log.end(), [](const sim::LogEntry& e) {
            return e.fromClient && e.bytes == T(0);
        });
        QVERIFY(first != log.end());
        QVERIFY2(first->timeMs - pressed <= PressMayWaitMs + 3,
                 qPrintable(QStringLiteral("the press reached the line %1 ms after it came")
                                .arg(first->timeMs - pressed)));
        // Whatever is still on its way to the mount arrives.
        clk.advance(1000);
        PositionPad::sim().takeOutput(skyjog::clock().tickCount64());
        Sent sent = t.pad.takeSent();
        // The late reply lands in the release's exchanges, which the stop's confirmation notices:
        // the stop and its restore go out again until they are answered as their own.
        if (fault == sim::Fault::LateReply)
            sent.erase(std::unique(sent.begin(), sent.end()), sent.end());
        QCOMPARE(sent, (Sent{Z, T(0), Slew(Alt, 7, 30, 0), Stop(Alt), T(1)}));
        QCOMPARE(t.pad.reports.texts(), QStringList());
        QVERIFY(!t.w->cmdUp->showsUnconfirmed());
    }

    void placeAndOpennessAreRemembered() {
        QString prefsPath;
        {
            PositionPad t;
            prefsPath = t.w->preferences().path();
            t.p->move(150, 90);
            t.p->close();
            QSettings stored(prefsPath, QSettings::IniFormat);
            QCOMPARE(stored.value("position/x").toInt(), 150);
            QCOMPARE(stored.value("position/y").toInt(), 90);
            QCOMPARE(stored.value("position/open").toBool(), false);

            t.w->showPosition();
            QCOMPARE(PositionWindow::current()->pos(), QPoint(150, 90));
            PositionWindow::current()->move(160, 100);
            // The program ends with the window open: it opens there at the next start.
            QVERIFY(t.w->close());
            QCOMPARE(QSettings(prefsPath, QSettings::IniFormat).value("position/open").toBool(),
                     true);
            PositionWindow::current()->close();
            t.pad.window.reset();
            Interface& again = t.pad.start();
            QVERIFY(!PositionWindow::current()); // loading the pad opens nothing
            again.restoreViewWindows();
            QVERIFY(PositionWindow::current());
            QCOMPARE(PositionWindow::current()->pos(), QPoint(160, 100));

            // Kept on a monitor that is gone: it opens on one that is there.
            PositionWindow::current()->move(90000, 90000);
            PositionWindow::current()->close();
            QCOMPARE(QSettings(prefsPath, QSettings::IniFormat).value("position/x").toInt(), 90000);
            again.showPosition();
            const QRect shown = PositionWindow::current()->frameGeometry();
            QVERIFY2(PositionWindow::current()->screen()->availableGeometry().intersects(shown),
                     qPrintable(QStringLiteral("%1, %2").arg(shown.x()).arg(shown.y())));
        }
        // Nothing of it went into the settings line.
        QVERIFY(!prefsPath.endsWith(SettingsLocation::FileName));
    }

    void thePortBoxNamesItsDeviceWhileItHasTheFocus() {
        Pad pad;
        Interface& w = pad.startOnSim();
        QVERIFY(w.txtCommPort->toolTip().isEmpty());
        w.txtCommPort->setFocus();
        QVERIFY(w.txtCommPort->hasFocus());
        QCOMPARE(w.txtCommPort->toolTip(), QStringLiteral("built-in simulated mount"));
        w.txtCommPort->setText(QStringLiteral("localhost:4030"));
        QCOMPARE(w.txtCommPort->toolTip(), QStringLiteral("localhost:4030 over TCP"));
#ifdef Q_OS_LINUX
        w.txtCommPort->setText(QStringLiteral("1"));
        QCOMPARE(w.txtCommPort->toolTip(), QStringLiteral("/dev/ttyUSB0"));
        w.txtCommPort->setText(QStringLiteral("/dev/ttyS3"));
        QCOMPARE(w.txtCommPort->toolTip(), QStringLiteral("/dev/ttyS3"));
#endif
        w.txtWidth->setFocus();
        QVERIFY(w.txtCommPort->toolTip().isEmpty());
        w.txtCommPort->setText(QStringLiteral("sim"));
        QVERIFY(w.txtCommPort->toolTip().isEmpty());
        QVERIFY(pad.takeSent().isEmpty()); // naming the port sends nothing
    }
};

QTEST_MAIN(TestPosition)
#include "test_position.moc"
