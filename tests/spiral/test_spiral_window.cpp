// The spiral driven through the real main window on the simulated mount: the button, the S key,
// the Width and Delay boxes and their arrows, lists and arrows used mid-spiral, the close
// request, and a spiral that cannot send its rates.
#include "padfixture.h"
#include "spiralfixture.h"

#include "arrowbutton.h"
#include "updown.h"

#include <QAbstractItemView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

using namespace skyjog;
using namespace skyjog::test;

namespace {

// User input reaches the window through its event queue, and the spiral handles it at its next
// poll. Scheduling it on the clock and queueing it there keeps it out of a command in flight.
void userAt(Pad& pad, uint32_t at, std::function<void()> fn) {
    pad.clock.at(
        at, [fn = std::move(fn)] { QMetaObject::invokeMethod(qApp, fn, Qt::QueuedConnection); });
}

void pick(QComboBox* list, int index) {
    list->showPopup();
    QAbstractItemView* view = list->view();
    const QRect r = view->visualRect(view->model()->index(index, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, r.center());
}

QVector<Sent> received() {
    QVector<Sent> out;
    for (const sim::LogEntry& e : sim::sharedMountSim().log())
        if (e.fromClient) out.push_back({uint32_t(e.timeMs), e.bytes}); // the 32-bit count
    return out;
}

} // namespace

class TestSpiralWindow : public QObject {
    Q_OBJECT

private slots:
    void buttonWithTheBoxesAndTheirArrows() {
        Pad pad;
        Settings s = Pad::simSettings();
        s.CornerDelay = 0.5;
        Interface& w = pad.startOnSim(s);
        QCOMPARE(w.txtDummy->text(), QStringLiteral("5"));
        // A typed delay leaves the counter where it was: one step up from 5 is 10, one second.
        w.txtCornerDelay->setFocus();
        w.txtCornerDelay->selectAll();
        QTest::keyClicks(w.txtCornerDelay, QStringLiteral("3"));
        QCOMPARE(w.txtCornerDelay->text(), QStringLiteral("3"));
        QTest::mouseClick(w.UpDown3->upButton(), Qt::LeftButton);
        QCOMPARE(w.txtCornerDelay->text(), QStringLiteral("1"));
        QCOMPARE(w.txtDummy->text(), QStringLiteral("10"));
        // Width 3 up to 4: altitude legs at 2000, azimuth legs at 1997 at altitude 0.
        QTest::mouseClick(w.UpDown2->upButton(), Qt::LeftButton);
        QCOMPARE(w.txtWidth->text(), QStringLiteral("4"));
        QVERIFY(pad.takeSent().isEmpty());

        const uint32_t t0 = pad.clock.now();
        // Halfway through the third leg, the second click.
        userAt(pad, t0 + 3300, [&] { QTest::mouseClick(w.cmdSpiral, Qt::LeftButton); });
        QTest::mouseClick(w.cmdSpiral, Qt::LeftButton);
        QVERIFY(pad.clock.now() > t0 + 3300);
        QVERIFY(StopSpiral);
        QVERIFY(w.lblSpiral->isHidden());

        const QVector<Sent> in = received();
        // clang-format off
        const QByteArrayList expected = {
            cmd::GetAzAlt(),
            T(0), Stop(17), Slew(16, 6, 7, 205),
            Stop(17), Stop(16), T(1),
            T(0), Stop(16), Slew(17, 7, 7, 208),
            Stop(17), Stop(16), T(1),
            T(0), Stop(17), Slew(16, 7, 7, 205),
            Stop(17), Stop(16), T(1),
        };
        // clang-format on
        QCOMPARE(bytesOf(in), expected);
        // Legs of 500, 500 and (cut short) 1000 ms; pauses of one second with tracking back on.
        QCOMPARE(in[4].at - (in[1].at + 1), 501u);
        QCOMPARE(in[7].at - (in[6].at + 1), 1000u);
        QCOMPARE(in[10].at - (in[7].at + 1), 501u);
        QCOMPARE(in[13].at - (in[12].at + 1), 1000u);
        QVERIFY(pad.reports.boxes.empty());
    }

    void sKeyInTheWidthBoxStartsAndStopsWithoutTyping() {
        Pad pad;
        Interface& w = pad.startOnSim();
        w.txtWidth->setFocus();
        const uint32_t t0 = pad.clock.now();
        userAt(pad, t0 + 700, [&] {
            pad.press(w.txtWidth, Qt::Key_S);
            pad.release(w.txtWidth, Qt::Key_S);
        });
        pad.press(w.txtWidth, Qt::Key_S);
        pad.release(w.txtWidth, Qt::Key_S);
        QVERIFY(StopSpiral);
        QCOMPARE(w.txtWidth->text(), QStringLiteral("3"));
        // Width 3 at altitude 0: azimuth 1497, altitude 1500; stopped during the second leg.
        // clang-format off
        QCOMPARE(pad.takeSent(), (QVector<QByteArray>{
            cmd::GetAzAlt(),
            T(0), Stop(17), Slew(16, 6, 5, 217),
            T(0), Stop(16), Slew(17, 7, 5, 220),
            Stop(17), Stop(16), T(1),
        }));
        // clang-format on
    }

    void trackingListPickedMidSpiralIsWhatTrackingReturnsTo() {
        Pad pad;
        Settings s = Pad::simSettings();
        s.CornerDelay = 0.5;
        Interface& w = pad.startOnSim(s);
        const uint32_t t0 = pad.clock.now();
        userAt(pad, t0 + 200, [&] { pick(w.cmbTrackMode, 2); }); // EQ North, during leg 0
        userAt(pad, t0 + 1300, [&] { QTest::mouseClick(w.cmdSpiral, Qt::LeftButton); });
        QTest::mouseClick(w.cmdSpiral, Qt::LeftButton);
        QVERIFY(StopSpiral);
        // clang-format off
        QCOMPARE(pad.takeSent(), (QVector<QByteArray>{
            cmd::GetAzAlt(),
            T(0), Stop(17), Slew(16, 6, 5, 217),
            T(2),                         // the pick, between the spiral's commands
            Stop(17), Stop(16), T(2),     // the corner restores the new mode
            T(0), Stop(16), Slew(17, 7, 5, 220),
            Stop(17), Stop(16), T(2),
        }));
        // clang-format on
        QCOMPARE(sim::sharedMountSim().trackingMode(), uint8_t(2));
    }

    void arrowButtonMidSpiralSendsBetweenTheSpiralsCommands() {
        Pad pad;
        Interface& w = pad.startOnSim();
        const uint32_t t0 = pad.clock.now();
        userAt(pad, t0 + 200, [&] { QTest::mousePress(w.cmdUp, Qt::LeftButton); });
        userAt(pad, t0 + 300, [&] { QTest::mouseRelease(w.cmdUp, Qt::LeftButton); });
        userAt(pad, t0 + 1200, [&] { QTest::mouseClick(w.cmdSpiral, Qt::LeftButton); });
        QTest::mouseClick(w.cmdSpiral, Qt::LeftButton);
        QVERIFY(StopSpiral);
        // clang-format off
        QCOMPARE(pad.takeSent(), (QVector<QByteArray>{
            cmd::GetAzAlt(),
            T(0), Stop(17), Slew(16, 6, 5, 217),
            T(0), Slew(17, 7, 30, 0),     // Up pressed in Alt/Az: tracking off, slew
            Stop(17), T(1),               // released: stop, tracking back on
            T(0), Stop(16), Slew(17, 7, 5, 220),
            T(0), Stop(17), Slew(16, 7, 5, 217),
            Stop(17), Stop(16), T(1),
        }));
        // clang-format on
    }

    // A tap mid-spiral goes as a press and release do, its stop 250 ms after its press, and the
    // legs keep their times.
    void aTapMidSpiralEndsOnTimeAndLeavesTheLegsAlone() {
        Pad pad;
        pad.keepTaps(true, 250);
        Interface& w = pad.startOnSim();
        const uint32_t t0 = pad.clock.now();
        userAt(pad, t0 + 150, [&] { QTest::mousePress(w.cmdUp, Qt::LeftButton); });
        userAt(pad, t0 + 170, [&] { QTest::mouseRelease(w.cmdUp, Qt::LeftButton); });
        userAt(pad, t0 + 1200, [&] { QTest::mouseClick(w.cmdSpiral, Qt::LeftButton); });
        QTest::mouseClick(w.cmdSpiral, Qt::LeftButton);
        QVERIFY(StopSpiral);
        const QVector<Sent> in = received();
        // clang-format off
        QCOMPARE(bytesOf(in), (QByteArrayList{
            cmd::GetAzAlt(),
            T(0), Stop(17), Slew(16, 6, 5, 217),
            T(0), Slew(17, 7, 30, 0),
            Stop(17), T(1),
            T(0), Stop(16), Slew(17, 7, 5, 220),
            T(0), Stop(17), Slew(16, 7, 5, 217),
            Stop(17), Stop(16), T(1),
        }));
        // clang-format on
        QCOMPARE(in[4].at, t0 + 150);
        QCOMPARE(in[6].at, t0 + 400);
        QCOMPARE(in[8].at - (in[1].at + 1), 501u);
        QCOMPARE(in[11].at - (in[8].at + 1), 501u);
        QVERIFY(w.motion().idle());
    }

    // The spiral sleeps between the window's events, and a click wakes it: the stop goes out the
    // moment the click is handled, in a leg or in a corner pause, and not at the leg's end.
    void clickStopsAtOnceInALegAndInAPause_data() {
        QTest::addColumn<double>("delay");
        QTest::addColumn<uint32_t>("clickAfter");
        QTest::newRow("second leg") << 0.0 << 700u;
        QTest::newRow("first pause") << 1.0 << 900u;
    }
    void clickStopsAtOnceInALegAndInAPause() {
        QFETCH(double, delay);
        QFETCH(uint32_t, clickAfter);
        Pad pad;
        Settings s = Pad::simSettings();
        s.CornerDelay = delay;
        Interface& w = pad.startOnSim(s);
        const uint32_t t0 = pad.clock.now();
        userAt(pad, t0 + clickAfter, [&] { QTest::mouseClick(w.cmdSpiral, Qt::LeftButton); });
        QTest::mouseClick(w.cmdSpiral, Qt::LeftButton);
        QVERIFY(StopSpiral);
        const QVector<Sent> in = received();
        QCOMPARE(bytesOf(in.mid(in.size() - 3)), QByteArrayList({Stop(17), Stop(16), T(1)}));
        QCOMPARE(in[in.size() - 3].at, t0 + clickAfter);
        QCOMPARE(countOf(in, isSlew), 2 - int(delay));
    }

    // The stop that ends the spiral, lost on the line: sent again at once; lost every time, the
    // axis is marked and the user told, and Escape sends it once more.
    void theSpiralsLastStopLost_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<QByteArrayList>("last");
        QTest::newRow("once") << 1 << QByteArrayList{Stop(17), Stop(17), Stop(16), T(1)};
        QTest::newRow("every time")
            << -1 << QByteArrayList{Stop(17), Stop(17), Stop(17), Stop(16), T(1)};
    }
    void theSpiralsLastStopLost() {
        QFETCH(int, count);
        QFETCH(QByteArrayList, last);
        Pad pad;
        Interface& w = pad.startOnSim();
        const uint32_t t0 = pad.clock.now();
        userAt(pad, t0 + 700, [&] {
            sim::sharedMountSim().options().lose = {
                {.kind = sim::LossKind::Stop, .motor = 17, .count = count}};
            QTest::mouseClick(w.cmdSpiral, Qt::LeftButton);
        });
        QTest::mouseClick(w.cmdSpiral, Qt::LeftButton);
        QVERIFY(StopSpiral);
        const QVector<Sent> in = received();
        QCOMPARE(bytesOf(in.mid(in.size() - last.size())), last);
        const bool never = count < 0;
        QCOMPARE(pad.reports.texts(),
                 never ? QStringList{StopNotConfirmedText.arg("Up/Down")} : QStringList());
        QCOMPARE(w.cmdUp->showsUnconfirmed(), never);
        QVERIFY(!w.cmdLeft->showsUnconfirmed());
        if (!never) return;
        sim::sharedMountSim().options().lose.clear();
        sim::sharedMountSim().clearLog();
        pad.press(&w, Qt::Key_Escape);
        QCOMPARE(bytesOf(received()), QByteArrayList({Stop(17), T(1)}));
        QVERIFY(!w.cmdUp->showsUnconfirmed());
    }

    void closeIsRefusedWhileTheSpiralGoesOn() {
        Pad pad;
        Interface& w = pad.startOnSim();
        const uint32_t t0 = pad.clock.now();
        bool closed = true;
        userAt(pad, t0 + 300, [&] { closed = w.close(); });
        userAt(pad, t0 + 1800, [&] { QTest::mouseClick(w.cmdSpiral, Qt::LeftButton); });
        QTest::mouseClick(w.cmdSpiral, Qt::LeftButton);
        QVERIFY(!closed);
        QCOMPARE(pad.reports.boxes.size(), size_t(1));
        QCOMPARE(pad.reports.boxes[0].text, QStringLiteral("Please stop the spiral!"));
        QCOMPARE(pad.reports.boxes[0].caption, QStringLiteral("Alert"));
        // The refusal did not disturb the spiral: legs kept starting after it.
        int legsAfterRefusal = 0;
        for (const Sent& s : received())
            legsAfterRefusal += isSlew(s.bytes) && s.at > t0 + 300;
        QCOMPARE(legsAfterRefusal, 2);
        QCOMPARE(pad.programEnds, 0);
        QVERIFY(w.isVisible());

        QVERIFY(w.close());
        QCOMPARE(pad.programEnds, 1);
        QCOMPARE(pad.reports.boxes.size(), size_t(1));
    }

    // A box raised while a spiral runs (the close refused, a Width the box cannot read) stays up
    // while the legs go on. A user may take ten seconds to read it; no leg may last longer for
    // that, since the leg's motor runs until the next leg's commands.
    void boxesMidSpiralLeaveTheLegsTheirTime() {
        Pad pad;
        Interface& w = pad.startOnSim();
        pad.reports.onReport = [&](const ReportRecorder::Box& b) {
            if (b.waited) pad.clock.advance(10000);
        };
        const uint32_t t0 = pad.clock.now();
        userAt(pad, t0 + 300, [&] { w.close(); });
        userAt(pad, t0 + 1200, [&] { w.txtWidth->setText(QStringLiteral("x")); });
        userAt(pad, t0 + 3800, [&] { QTest::mouseClick(w.cmdSpiral, Qt::LeftButton); });
        QTest::mouseClick(w.cmdSpiral, Qt::LeftButton);
        QVERIFY(StopSpiral);
        QCOMPARE(pad.reports.texts(),
                 QStringList({"Please stop the spiral!", "Type mismatch - 13"}));
        for (const auto& box : pad.reports.boxes)
            QVERIFY(!box.waited);

        // Each leg runs from its slew to the next leg's tracking-off, or to the stop sequence.
        const QVector<Sent> in = received();
        int leg = 0;
        for (int i = 0; i < in.size(); ++i) {
            if (!isSlew(in[i].bytes)) continue;
            int end = i + 1;
            while (end < in.size() && in[end].bytes != T(0) && in[end].bytes != Stop(17))
                ++end;
            QVERIFY(end < in.size());
            const uint32_t nominal = 500 * uint32_t(leg / 2 + 1);
            QVERIFY2(in[end].at - in[i].at <= nominal + 10,
                     qPrintable(QStringLiteral("leg %1 lasted %2 ms")
                                    .arg(leg)
                                    .arg(in[end].at - in[i].at)));
            ++leg;
        }
        // Legs of 500, 500, 1000, 1000 ms, and the fifth under way at the stop.
        QCOMPARE(leg, 5);
        QVERIFY(w.isVisible());
    }

    void spiralThatCannotSendItsRatesLeavesTheWindowFreeToClose_data() {
        QTest::addColumn<QString>("width");
        QTest::addColumn<QStringList>("messages"); // the box's change, then the spiral's
        QTest::newRow("70") << "70" << QStringList{"Overflow - 6"};
        QTest::newRow("-1") << "-1" << QStringList{"Invalid procedure call or argument - 5"};
        // Far beyond the double range is still a number too large, never a width of 0.
        QTest::newRow("400 nines")
            << QString(400, u'9') << QStringList{"Overflow - 6", "Overflow - 6"};
        QTest::newRow("1e400") << "1e400" << QStringList{"Overflow - 6", "Overflow - 6"};
    }
    void spiralThatCannotSendItsRatesLeavesTheWindowFreeToClose() {
        QFETCH(QString, width);
        QFETCH(QStringList, messages);
        Pad pad;
        Interface& w = pad.startOnSim();
        w.txtWidth->setText(width);
        QTest::mouseClick(w.cmdSpiral, Qt::LeftButton);
        QCOMPARE(pad.reports.texts(), messages);
        QCOMPARE(pad.reports.boxes[0].caption, AppTitle);
        QCOMPARE(pad.takeSent(), (QVector<QByteArray>{Stop(17), Stop(16), T(1)}));
        QVERIFY(StopSpiral);
        QVERIFY(w.lblSpiral->isHidden());

        // The next click starts a spiral, and after it the window closes at once.
        w.txtWidth->setText(QStringLiteral("1"));
        userAt(pad, pad.clock.now() + 100, [&] { QTest::mouseClick(w.cmdSpiral, Qt::LeftButton); });
        QTest::mouseClick(w.cmdSpiral, Qt::LeftButton);
        QCOMPARE(pad.takeSent().first(), cmd::GetAzAlt());
        QVERIFY(w.close());
        QCOMPARE(pad.reports.boxes.size(), size_t(messages.size()));
    }
};

QTEST_MAIN(TestSpiralWindow)
#include "test_spiral_window.moc"
