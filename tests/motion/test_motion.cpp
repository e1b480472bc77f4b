// The motion core on its own: sequences of presses and releases from every source, with stops the
// line loses, against what the core asks the pad to send and what it says is held.
#include "motion.h"
#include "testsupport.h"
#include "vberror.h"

#include <QtTest>
#include <deque>
#include <map>

using namespace skyjog;
using namespace skyjog::test;

namespace {

const char* const Names[] = {"Up", "Down", "Left", "Right"};

Arrow arrowNamed(const QString& n) {
    for (Arrow a : AllArrows)
        if (n == QLatin1String(Names[int(a)])) return a;
    qFatal("no arrow %s", qPrintable(n));
}

Source sourceNamed(QChar c) {
    return c == 'B' ? Source::Button : c == 'K' ? Source::Key : Source::Controller;
}

// A pad behind the core that writes down what it is asked to send. Stops go as the script says:
// "nak" and "port" before a step make the next stop go unacknowledged or fail on the port.
class Bench {
public:
    ManualClock clock;
    ScopedClock scopedClock{&clock};
    Motion motion{{.startSlew =
                       [this](Arrow a) {
                           if (failNextStart) {
                               failNextStart = false;
                               throw err::invalidArrayIndex();
                           }
                           log << QStringLiteral("start %1").arg(Names[int(a)]) + at();
                           // A release that the box of a failing start lets through.
                           if (auto it = inside.find(a); it != inside.end()) {
                               const QString step = it->second;
                               inside.erase(it);
                               run(step);
                           }
                       },
                   .stopSlew =
                       [this](Arrow a) {
                           log << QStringLiteral("stop %1").arg(Names[int(a)]) + at();
                           if (outcomes.empty()) return Confirmation::Confirmed;
                           const Confirmation c = outcomes.front();
                           outcomes.pop_front();
                           return c;
                       },
                   .stopped = [](Arrow, Source) {},
                   .changed = [] {},
                   .keyboardLost = [] {},
                   .controllerLetGo =
                       [this] {
                           for (Arrow a : AllArrows)
                               if (motion.holds(a, Source::Controller))
                                   motion.release(a, Source::Controller);
                       },
                   .mayRetryNow = [this] { return !busy; },
                   .cancelGoto =
                       [this] {
                           log << "cancel" + at();
                           return Confirmation::Confirmed;
                       }}};
    QStringList log;
    std::deque<Confirmation> outcomes;
    bool failNextStart = false;
    // A command of the pad's, a spiral or a box is under way: nothing may go out by itself.
    bool busy = false;
    std::map<Arrow, QString> inside;
    ReportRecorder reports;

    // Once the clock has moved: when, from the start.
    QString at() const {
        const uint32_t t = clock.now() - 1000;
        return t ? QStringLiteral(" @%1").arg(t) : QString();
    }
    // Lets ms pass, the event loop served as the window's is.
    void wait(uint32_t ms) {
        const uint32_t until = clock.now() + ms;
        do {
            clock.waitForEvents(until);
        } while (int32_t(until - clock.now()) > 0);
        QCoreApplication::processEvents();
    }

    // Steps: "B+Up" a button press, "K-Left" a key release, "C+Down" the controller's; "lost"
    // the keyboard and mouse gone; "all" all-stop; "esc" Escape; "nak"/"port" the next stop's
    // fate; "fail" the next start throws; "B+Up{B-Up}" a release inside the press's start;
    // "tap=250" taps of 250 ms, "tap-" none; "w20" 20 ms pass; "endtaps" the window closes.
    // Clients sharing the mount: "R1+Up" client 1's move of Up's axis went out, "R1*Up" its
    // GoTo, "R-Up" a client's stop of that axis, "R1gone" client 1 went; "busy"/"free" the line.
    void run(const QString& script) {
        for (const QString& step : script.split(' ', Qt::SkipEmptyParts)) {
            if (step == "lost") motion.releaseLost();
            else if (step == "all") motion.allStop();
            else if (step == "esc") motion.resendUnconfirmed();
            else if (step == "nak") outcomes.push_back(Confirmation::NotAcknowledged);
            else if (step == "port") outcomes.push_back(Confirmation::PortFailed);
            else if (step == "fail") failNextStart = true;
            else if (step == "endtaps") motion.endTaps();
            else if (step == "busy") busy = true;
            else if (step == "free") busy = false;
            else if (step.startsWith('R') && step.endsWith("gone")) motion.remoteGone(step.mid(1).chopped(4).toInt());
            else if (step.startsWith("R-")) motion.remoteStopped(axisOf(arrowNamed(step.mid(2))));
            else if (step.startsWith('R')) motion.remoteMoved(axisOf(arrowNamed(step.mid(3))), step.mid(1, 1).toInt(), step[2] == '*');
            else if (step.startsWith("tap=")) motion.setTapLength(step.mid(4).toInt());
            else if (step.startsWith("tap-")) motion.setTapLength(std::nullopt);
            else if (step.startsWith("w")) wait(step.mid(1).toUInt());
            else {
                QString s = step;
                const qsizetype brace = s.indexOf('{');
                const Arrow a = arrowNamed(s.mid(2, brace < 0 ? -1 : brace - 2));
                if (brace >= 0) inside[a] = s.mid(brace + 1).chopped(1).replace(',', ' ');
                const Source src = sourceNamed(s[0]);
                if (s[1] == '-') motion.release(a, src);
                else if (src == Source::Key) motion.keyDown(a);
                else motion.press(a, src);
            }
        }
    }

    // "Up:BK Left:C" for the holds left, then "!alt" / "!az" for each unconfirmed axis.
    QString state() const {
        QStringList parts;
        for (Arrow a : AllArrows) {
            QString by;
            for (auto [c, s] : {std::pair{'B', Source::Button}, std::pair{'K', Source::Key},
                                std::pair{'C', Source::Controller}})
                if (motion.holds(a, s)) by += QLatin1Char(c);
            if (!by.isEmpty()) parts << QStringLiteral("%1:%2").arg(Names[int(a)], by);
        }
        for (std::size_t axis : {0, 1})
            if (const int client = motion.remoteMoving(axis))
                parts << QStringLiteral("R%1:%2%3").arg(client).arg(axis ? "az" : "alt",
                                                                  motion.remoteGoto(axis) ? "*" : "");
        if (motion.unconfirmed(0)) parts << QStringLiteral("!alt");
        if (motion.unconfirmed(1)) parts << QStringLiteral("!az");
        return parts.join(' ');
    }
};

const QString AltBox = QStringLiteral(
    "box The mount did not confirm the stop of the Up/Down axis and may still be moving. Press "
    "Escape to send the stop again - 8031");

} // namespace

class TestMotion : public QObject {
    Q_OBJECT
private slots:
    void sequences_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("sent");
        QTest::addColumn<QString>("held");
        // clang-format off
        const auto row = [](const char* name, const char* script, const char* sent, const char* held) {
            QTest::newRow(name) << QString(script) << QString(sent) << QString(held);
        };
        row("button press and release", "B+Up B-Up", "start Up, stop Up", "");
        // The last holder lets the axis go: every source's hold counts, in either order.
        row("controller outlasts the button", "B+Up C+Up B-Up", "start Up, start Up", "Up:C");
        row("button outlasts the controller", "C+Up B+Up C-Up B-Up", "start Up, start Up, stop Up", "");
        row("button outlasts the key", "K+Up B+Up K-Up", "start Up, start Up", "Up:B");
        row("key outlasts the controller", "C+Left K+Left C-Left K-Left", "start Left, start Left, stop Left", "");
        // Only the arrow that moves the axis keeps it moving.
        row("other arrow took the axis", "B+Up B+Down B-Up B-Down", "start Up, start Down, stop Down", "");
        row("released arrow no longer drives", "B+Up C+Down C-Down", "start Up, start Down, stop Down", "Up:B");
        // One keyboard slew at a time; a key-up stops its own axis, whichever key is held.
        row("second key ignored", "K+Left K+Up K-Up K-Left", "start Left, stop Up, stop Left", "");
        row("key-up of the other axis frees the keys", "K+Left K+Up K-Left K+Up K-Up",
            "start Left, stop Left, start Up, stop Up", "");
        row("key-up of the partner stops the axis", "K+Up K-Down", "start Up, stop Down", "");
        // A key that takes an axis over leaves no hold behind for the key it took it from.
        row("key takes the axis over", "K+Up K-Left K+Down lost", "start Up, stop Left, start Down, stop Down", "");
        // Lost keyboard and mouse: keys and buttons end, the controller stays.
        row("lost ends keys and buttons", "K+Up B+Left C+Right lost", "start Up, start Left, start Right, stop Up", "Right:C");
        row("lost stops a button hold", "B+Left lost", "start Left, stop Left", "");
        row("all-stop ends everything", "K+Up B+Left C+Right all", "start Up, start Left, start Right, stop Up, stop Left", "");
        // A release inside its press's start waits for it.
        row("release inside the start", "B+Up{B-Up}", "start Up, stop Up", "");
        row("two releases inside the start", "B+Up{B-Up,B-Up}", "start Up, stop Up", "");
        row("a failed key start still holds", "fail K+Up K-Up", "box Invalid property array index - 381, stop Up", "");
        // Stops the mount does not confirm.
        row("lost stop told once", "B+Up nak B-Up", QString("start Up, stop Up, " + AltBox).toLatin1(), "!alt");
        row("lost stop sent again with Escape", "B+Up nak B-Up esc", QString("start Up, stop Up, " + AltBox + ", stop Up").toLatin1(), "");
        row("unconfirmed until one is confirmed", "B+Up nak B-Up nak esc B+Down B-Down",
            QString("start Up, stop Up, " + AltBox + ", stop Up, start Down, stop Down").toLatin1(), "");
        row("all-stop sends it again", "B+Left nak B-Left all",
            "start Left, stop Left, box The mount did not confirm the stop of the Left/Right axis and may still be moving. Press Escape to send the stop again - 8031, stop Up, stop Left", "");
        row("a failed port is its own box", "B+Up port B-Up", "start Up, stop Up", "!alt");
        row("Escape leaves a held axis alone", "B+Up nak B-Up B+Down esc", QString("start Up, stop Up, " + AltBox + ", start Down").toLatin1(), "Down:B !alt");
        row("Escape with nothing unconfirmed", "esc", "", "");
        // Repeatable taps: a short press ends at its length from the press, a long one at its
        // release; from every source.
        row("short tap held to its length", "tap=250 B+Up w20 B-Up w300", "start Up, stop Up @250", "");
        row("key tap", "tap=250 K+Left w100 K-Left w300", "start Left, stop Left @250", "");
        row("controller tap", "tap=250 C+Down C-Down w300", "start Down, stop Down @250", "");
        row("long press is a hold", "tap=250 B+Up w600 B-Up", "start Up, stop Up @600", "");
        row("tap still held until its end", "tap=250 B+Up B-Up w249", "start Up", "Up:B");
        row("taps off", "tap=250 tap- B+Up B-Up", "start Up, stop Up", "");
        row("another source outlasts the tap", "tap=250 B+Up C+Up B-Up w300 C-Up", "start Up, start Up, stop Up @300", "");
        row("tap outlasts another source", "tap=250 C+Up w100 B+Up w10 C-Up B-Up w300", "start Up, start Up @100, stop Up @350", "");
        row("second tap starts afresh", "tap=250 B+Up B-Up w100 B+Up B-Up w300", "start Up, start Up @100, stop Up @350", "");
        row("partner takes the axis during a tap", "tap=250 B+Up B-Up w100 B+Down w300 B-Down",
            "start Up, start Down @100, stop Down @400", "");
        row("key tap frees the keyboard", "tap=250 K+Up K-Up w10 K+Left K-Left w300",
            "start Up, start Left @10, stop Up @250, stop Left @260", "");
        row("key takes its own axis over", "tap=250 K+Up K-Up w10 K+Down K-Down w300", "start Up, start Down @10, stop Down @260", "");
        // The keyboard's loss, closing and all-stop end a tap at once; the controller's outlasts
        // the keyboard.
        row("lost ends a tap", "tap=250 B+Up K+Left K-Left B-Up w100 lost w300",
            "start Up, start Left, stop Left @100, stop Up @100", "");
        row("controller tap outlasts lost", "tap=250 C+Up C-Up w100 lost w300", "start Up, stop Up @250", "");
        row("closing ends the controller's", "tap=250 C+Up C-Up w100 endtaps w300", "start Up, stop Up @100", "");
        row("all-stop ends taps", "tap=250 C+Up C-Up B+Left B-Left w100 all w300",
            "start Up, start Left, stop Up @100, stop Left @100", "");
        row("a tap's lost stop", "tap=250 B+Up B-Up nak w300", QString("start Up, stop Up @250, " + AltBox).toLatin1(), "!alt");
        // Clients sharing the mount: one that goes leaves nothing of its own moving; the pad's
        // hand takes an axis from a client, and all-stop stops clients too.
        row("client goes: its axis stopped", "R1+Up R2+Left R1gone", "stop Up", "R2:az");
        row("client goes mid-goto: cancelled first", "R1*Up R1*Left R1gone", "cancel, stop Up, stop Left", "");
        row("client stopped it itself", "R1+Up R-Up R1gone", "", "");
        row("another's stop ends it", "R1+Left R2+Left R-Left R1gone", "", "");
        row("the last mover has the axis", "R1+Up R2+Up R1gone", "", "R2:alt");
        row("pad press takes the axis", "R1+Up B+Down R1gone B-Down", "start Down, stop Down", "");
        row("stop waits for a free line", "busy R1+Up R1gone w20 free w10", "stop Up @25", "");
        row("press while the stop waits", "busy R1+Up R1gone B+Up free w10 B-Up", "start Up, stop Up @10", "");
        row("client's lost stop", "R1+Up nak R1gone", QString("stop Up, " + AltBox).toLatin1(), "!alt");
        row("all-stop ends clients' moves", "R1*Left R2+Up all", "cancel, stop Up, stop Left", "");
        row("pad on the other axis leaves the client's", "R1+Left B+Up B-Up R1gone", "start Up, stop Up, stop Left", "");
        // clang-format on
    }
    void sequences() {
        QFETCH(QString, script);
        QFETCH(QString, sent);
        QFETCH(QString, held);
        Bench b;
        b.reports.onReport = [&](const ReportRecorder::Box& box) { b.log << "box " + box.text; };
        b.run(script);
        QCOMPARE(b.log.join(", "), sent);
        QCOMPARE(b.state(), held);
        // Clients hold nothing of the pad's.
        QCOMPARE(b.motion.idle(), held.isEmpty() || held.startsWith('!') ||
                                        (held.startsWith('R') && held[1].isDigit()));
    }

    // What a client may not move: an axis held by any of the pad's sources, a tap included.
    void padHoldsItsAxes_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("held");
        QTest::newRow("nothing") << "" << "";
        QTest::newRow("button") << "B+Up" << "alt";
        QTest::newRow("key") << "K+Left" << "az";
        QTest::newRow("controller and button") << "C+Right B+Down" << "alt az";
        QTest::newRow("released") << "B+Up B-Up" << "";
        QTest::newRow("tap under way") << "tap=250 B+Up B-Up w100" << "alt";
        QTest::newRow("tap ended") << "tap=250 B+Up B-Up w300" << "";
        QTest::newRow("a client's move is not the pad's") << "R1+Up" << "";
        QTest::newRow("keyboard lost") << "K+Up lost" << "";
    }
    void padHoldsItsAxes() {
        QFETCH(QString, script);
        QFETCH(QString, held);
        Bench b;
        b.run(script);
        QStringList axes;
        if (b.motion.padHolds(0)) axes << "alt";
        if (b.motion.padHolds(1)) axes << "az";
        QCOMPARE(axes.join(' '), held);
    }

    // What a button and a key show: a key whose slew failed shows nothing, and a key-down under
    // way keeps the keyboard busy until an arrow key comes up or the keyboard is lost.
    void whatTheArrowsShow() {
        Bench b;
        b.run("fail K+Up");
        QVERIFY(!b.motion.shows(Arrow::Up));
        QVERIFY(b.motion.keyIsDown());
        QVERIFY(b.motion.heldByKeyOrMouse());
        b.run("lost");
        QVERIFY(!b.motion.keyIsDown());
        b.run("K+Up C+Left");
        QVERIFY(b.motion.shows(Arrow::Up) && b.motion.shows(Arrow::Left));
        QVERIFY(b.motion.heldByKeyOrMouse());
        b.run("K-Up");
        QVERIFY(!b.motion.shows(Arrow::Up) && !b.motion.heldByKeyOrMouse());
        QVERIFY(!b.motion.idle());
    }
};

QTEST_GUILESS_MAIN(TestMotion)
#include "test_motion.moc"
