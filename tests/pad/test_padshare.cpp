// Other programs on the mount through the window: a client's commands against the pad's own
// presses, spiral and boxes, on the simulated mount, with the bytes that reach it in order.
#include "arrowbutton.h"
#include "commandline.h"
#include "loopclient.h"
#include "padfixture.h"
#include "report.h"

#include <QDialog>
#include <QRadioButton>
#include <QTcpServer>
#include <QTcpSocket>

using namespace skyjog;
using namespace skyjog::test;
using Sent = QVector<QByteArray>;

namespace {

// A client's moves, unlike any the pad sends.
const QByteArray ClientAz = Slew(Az, cmd::MsgSlewPositive, 0, 100);
const QByteArray ClientAlt = Slew(Alt, cmd::MsgSlewNegative, 0, 100);

uint16_t freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

struct SharePad {
    Pad pad;
    Interface& w = pad.startOnSim();
    QStringList log;

    SharePad() {
        QObject::connect(&w.share(), &MountShare::logged, [this](const QString& l) { log << l; });
        pad.takeSent();
    }
    ~SharePad() { QObject::disconnect(&w.share(), &MountShare::logged, nullptr, nullptr); }
    // Lets ms pass with the window's events served.
    void pump(int ms = 30) {
        for (int i = 0; i < ms; ++i) {
            QCoreApplication::processEvents();
            pad.clock.advance(1);
        }
        QCoreApplication::processEvents();
    }
    QByteArray restore() const { return T(w.trackingMode()); }
    // The pad's slew of an arrow, as the window sends it: tracking off first in Alt/Az.
    Sent press(Arrow a) {
        QTest::mousePress(w.buttonFor(a), Qt::LeftButton);
        Sent s;
        if (w.trackingMode() == cmd::TrackingAltAz) s << T(cmd::TrackingOff);
        return s << w.LastCommand;
    }
    void release(Arrow a) { QTest::mouseRelease(w.buttonFor(a), Qt::LeftButton); }
};

} // namespace

class TestPadShare : public QObject {
    Q_OBJECT
    QTemporaryDir runtime;

private slots:
    void initTestCase() { qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit()); }

    // The hand at the pad wins, whichever comes first.
    void clientThenPad() {
        SharePad t;
        auto c = connectLoop(t.w.share(), "planetarium");
        c->send(ClientAlt);
        t.pump();
        QCOMPARE(t.pad.takeSent(), Sent{ClientAlt});
        // The press takes the axis: its slew goes out as ever, and the client's going leaves
        // it to the pad, whose release stops it.
        const Sent slew = t.press(Arrow::Up);
        QCOMPARE(t.pad.takeSent(), slew);
        c->vanish();
        t.pump();
        QCOMPARE(t.pad.takeSent(), Sent{});
        t.release(Arrow::Up);
        QCOMPARE(t.pad.takeSent(), (Sent{Stop(Alt), t.restore()}));
    }
    void padThenClient() {
        SharePad t;
        auto c = connectLoop(t.w.share(), "guider");
        const Sent slew = t.press(Arrow::Up);
        t.pad.takeSent();
        // Refused on the pad's axis, with the acknowledgement the client waits for; the other
        // axis is the client's.
        c->send(ClientAlt + ClientAz);
        t.pump();
        QCOMPARE(t.pad.takeSent(), Sent{ClientAz});
        QCOMPARE(c->replies, QByteArray("##"));
        QVERIFY(t.log.join('\n').contains("refused"));
        t.release(Arrow::Up);
        QCOMPARE(t.pad.takeSent(), (Sent{Stop(Alt), t.restore()}));
        c->vanish();
        t.pump();
        QCOMPARE(t.pad.takeSent(), (Sent{Stop(Az), t.restore()}));
    }

    // A client that goes leaves nothing of its own moving.
    void clientGoesMidMove_data() {
        QTest::addColumn<QByteArray>("commands");
        QTest::addColumn<Sent>("afterwards"); // "restore" stands for the tracking mode
        const QByteArray r = "restore";
        QTest::newRow("slew") << ClientAz << Sent{Stop(Az), r};
        QTest::newRow("both axes") << ClientAz + ClientAlt << Sent{Stop(Alt), r, Stop(Az), r};
        QTest::newRow("stopped itself") << ClientAz + Stop(Az) << Sent{};
        QTest::newRow("goto") << QByteArray("B4000,2000") << Sent{"M", Stop(Alt), r, Stop(Az), r};
        QTest::newRow("goto cancelled") << QByteArray("B4000,2000M") << Sent{};
        QTest::newRow("only polled") << QByteArray("Ze") << Sent{};
    }
    void clientGoesMidMove() {
        QFETCH(QByteArray, commands);
        QFETCH(Sent, afterwards);
        SharePad t;
        auto c = connectLoop(t.w.share(), "planetarium");
        c->send(commands);
        t.pump();
        t.pad.takeSent();
        c->vanish();
        t.pump();
        for (QByteArray& b : afterwards)
            if (b == "restore") b = t.restore();
        QCOMPARE(t.pad.takeSent(), afterwards);
        QVERIFY(t.pad.reports.boxes.empty());
    }

    // The spiral has the line and both axes: a client's question waits for its end, and a move
    // sent while it ran is refused even when its turn comes after.
    void clientDuringTheSpiral() {
        SharePad t;
        auto c = connectLoop(t.w.share(), "planetarium");
        const uint32_t t0 = t.pad.clock.now();
        // The spiral asks for the position itself as it starts.
        qsizetype before = -1;
        qsizetype at600 = -2;
        t.pad.clock.at(t0 + 300, [&] {
            before = sim::sharedMountSim().commands().count("Z");
            c->send("Z" + ClientAz);
        });
        t.pad.clock.at(t0 + 600, [&] { at600 = sim::sharedMountSim().commands().count("Z"); });
        t.pad.clock.at(t0 + 900, [&] { StopSpiral = true; });
        QTest::mouseClick(t.w.cmdSpiral, Qt::LeftButton);
        QCOMPARE(at600, before);
        t.pump();
        const Sent sent = t.pad.takeSent();
        QVERIFY(sent.size() > 4);
        QCOMPARE(sent.mid(sent.size() - 4), (Sent{Stop(Alt), Stop(Az), t.restore(), "Z"}));
        QCOMPARE(c->replies.size(), 10 + 1);
        QVERIFY(c->replies.endsWith("##"));
        QVERIFY(t.log.join('\n').contains("refused"));
    }

    // A box's event loop runs inside the handler that failed: nothing of a client's goes out
    // until the user has closed it.
    void clientDuringAFailureBox() {
        SharePad t;
        sim::sharedMountSim().options().lose = {*sim::lossFromText("stop@alt:3")};
        auto c = connectLoop(t.w.share(), "guider");
        int inBox = -1;
        t.pad.reports.onReport = [&](const ReportRecorder::Box&) {
            QDialog box(&t.w);
            box.setModal(true);
            box.show();
            c->send("V");
            t.pump(100);
            inBox = int(sim::sharedMountSim().commands().count("V"));
        };
        t.press(Arrow::Up);
        t.release(Arrow::Up);
        QCOMPARE(t.pad.reports.boxes.size(), size_t(1));
        QCOMPARE(inBox, 0);
        t.pump();
        QCOMPARE(t.pad.takeSent().last(), QByteArray("V"));
        QCOMPARE(c->replies.size(), 3);
    }

    // Two clients asking for the position over and over never put a byte inside the pad's
    // commands, nor get each other's replies.
    void twoClientsPollWhileThePadSlews() {
        SharePad t;
        auto a = connectLoop(t.w.share(), "planetarium");
        auto b = connectLoop(t.w.share(), "guider");
        Sent padSent;
        for (int i = 0; i < 5; ++i) {
            a->send("Z");
            b->send("e");
            if (i == 1) padSent += t.press(Arrow::Left);
            if (i == 3) {
                t.release(Arrow::Left);
                padSent << Stop(Az) << t.restore();
            }
            t.pump(10);
        }
        t.pump();
        Sent pad;
        int polls = 0;
        for (const QByteArray& s : t.pad.takeSent()) {
            if (s == "Z" || s == "e")
                ++polls;
            else
                pad << s;
        }
        QCOMPARE(pad, padSent);
        QCOMPARE(polls, 10);
        QCOMPARE(a->replies.size(), 5 * 10);
        QCOMPARE(b->replies.size(), 5 * 18);
        QCOMPARE(a->replies.count('#'), 5);
        QCOMPARE(b->replies.count('#'), 5);
    }

    // The mount has the client's tracking mode and PEC: the pad shows them without sending
    // them again, and its next release restores the client's mode, not its own.
    void clientsTrackingAndPecShown() {
        SharePad t;
        auto c = connectLoop(t.w.share(), "planetarium");
        c->send(T(cmd::TrackingEqNorth) + cmd::PecPlayback(true));
        t.pump();
        QCOMPARE(t.pad.takeSent(), (Sent{T(cmd::TrackingEqNorth), cmd::PecPlayback(true)}));
        QCOMPARE(t.w.cmbTrackMode->currentData().toInt(), int(cmd::TrackingEqNorth));
        QVERIFY(t.w.optOn->isChecked());
        t.press(Arrow::Left);
        t.release(Arrow::Left);
        const Sent sent = t.pad.takeSent();
        QCOMPARE(sent.last(), T(cmd::TrackingEqNorth));
        QCOMPARE(sent.count(T(cmd::TrackingEqNorth)), 1);
    }

    // Closing while a program uses the mount through Skyjog asks once; Yes ends sharing and
    // stops what the program moved.
    void closingAsksOnce_data() {
        QTest::addColumn<bool>("yes");
        QTest::newRow("no") << false;
        QTest::newRow("yes") << true;
    }
    void closingAsksOnce() {
        QFETCH(bool, yes);
        SharePad t;
        int asked = 0;
        setAsker([&](const QString& text, const QString&) {
            ++asked;
            return text.startsWith("Another program is") && yes;
        });
        const auto unset = qScopeGuard([] { setAsker({}); });
        t.w.share().start(QStringLiteral("127.0.0.1:%1").arg(freePort()));
        QVERIFY(t.w.share().listening());
        auto c = connectLoop(t.w.share(), "planetarium");
        c->send(ClientAz);
        t.pump();
        t.pad.takeSent();
        QCOMPARE(t.w.close(), yes);
        QCOMPARE(asked, 1);
        t.pump();
        QCOMPARE(t.w.share().listening(), !yes);
        QCOMPARE(t.pad.takeSent(), yes ? (Sent{Stop(Az), t.restore()}) : Sent{});
    }

    // Sharing from the command line: a place that cannot be used is said on standard error
    // and in the log, never in a box, and the pad works on.
    void commandLinePlaces_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("listens");
        QTest::newRow("kept place") << QString() << true;
        QTest::newRow("port only") << QStringLiteral(":%1") << true;
        QTest::newRow("address and port") << QStringLiteral("127.0.0.1:%1") << true;
        QTest::newRow("not an address") << QStringLiteral("telescope.local:%1") << false;
        QTest::newRow("not a port") << QStringLiteral("127.0.0.1:99999") << false;
        QTest::newRow("taken") << QStringLiteral("taken") << false;
    }
    void commandLinePlaces() {
        QFETCH(QString, text);
        QFETCH(bool, listens);
        const uint16_t port = freePort();
        QTcpServer holder;
        if (text == "taken") {
            QVERIFY(holder.listen(QHostAddress::LocalHost, 0));
            text = QStringLiteral("127.0.0.1:%1").arg(holder.serverPort());
        }
        SharePad t;
        if (text.isEmpty()) {
            ShareTarget kept{QHostAddress(QHostAddress::LocalHost), port};
            t.w.share().setTarget(kept); // as the dialog keeps it
        }
        t.w.share().start(text.contains("%1") ? text.arg(port) : text);
        QCOMPARE(t.w.share().listening(), listens);
        QCOMPARE(t.w.share().error().isEmpty(), listens);
        if (listens) {
            QCOMPARE(t.w.share().addressText(), QStringLiteral("127.0.0.1:%1").arg(port));
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, port);
            QVERIFY(s.waitForConnected(5000));
            s.write("V");
            QTRY_COMPARE_WITH_TIMEOUT((t.pump(1), s.bytesAvailable()), qint64(3), 5000);
        }
        QVERIFY(t.pad.reports.boxes.empty());
        t.pad.takeSent();
        const Sent slew = t.press(Arrow::Down);
        t.release(Arrow::Down);
        QCOMPARE(t.pad.takeSent().mid(0, slew.size()), slew);
    }
    // Where to listen, as --share and the dialog spell it; the other part as kept.
    void shareTargets_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("target"); // "address port", or "error: ..."
        QTest::newRow("both") << "192.168.1.5:4031" << "192.168.1.5 4031";
        QTest::newRow("address only") << "192.168.1.5" << "192.168.1.5 4030";
        QTest::newRow("port only") << ":4031" << "127.0.0.1 4031";
        QTest::newRow("empty: as kept") << "" << "127.0.0.1 4030";
        QTest::newRow("localhost") << "LocalHost:10" << "127.0.0.1 10";
        QTest::newRow("every interface") << "0.0.0.0:4030" << "0.0.0.0 4030";
        QTest::newRow("star") << "*:4030" << "any 4030";
        QTest::newRow("ipv6") << "[::1]:4032" << "::1 4032";
        QTest::newRow("bare ipv6") << "::1" << "::1 4030";
        QTest::newRow("ipv6 no bracket") << "[::1" << "error: \"[::1\" has no closing bracket";
        QTest::newRow("ipv6 no port") << "[::1]:" << "error: \"[::1]:\" has no port";
        QTest::newRow("no port") << "127.0.0.1:" << "error: \"127.0.0.1:\" has no port";
        QTest::newRow("port 0") << ":0" << "error: \"0\" is not a port (1-65535)";
        QTest::newRow("port too big") << ":65536" << "error: \"65536\" is not a port (1-65535)";
        QTest::newRow("port not a number") << ":http" << "error: \"http\" is not a port (1-65535)";
        QTest::newRow("host name") << "scope.local:4030" << "error: \"scope.local\" is not an IP address";
    }
    void shareTargets() {
        QFETCH(QString, text);
        QFETCH(QString, target);
        QString error;
        const ShareTarget kept{QHostAddress(QHostAddress::LocalHost), MountShare::DefaultPort};
        const auto t = parseShareTarget(text, kept, &error);
        const auto name = [](const QHostAddress& a) {
            return a == QHostAddress(QHostAddress::Any) ? QStringLiteral("any") : a.toString();
        };
        const QString got = t ? QStringLiteral("%1 %2").arg(name(t->address)).arg(t->port)
                              : "error: " + error;
        QCOMPARE(got, target);
    }

    void commandLines_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("parsed"); // help, share (or "-" for none), error
        QTest::newRow("nothing") << QStringList{} << "0 - ";
        QTest::newRow("share") << QStringList{"--share"} << "0  ";
        QTest::newRow("share at") << QStringList{"--share=:4031"} << "0 :4031 ";
        QTest::newRow("help") << QStringList{"--help"} << "1 - ";
        QTest::newRow("short help") << QStringList{"-h", "--share"} << "1  ";
        QTest::newRow("share= names nothing") << QStringList{"--share="}
                                              << "0  --share= needs ADDRESS:PORT";
        QTest::newRow("unknown") << QStringList{"--shared"} << "0 - unknown option \"--shared\"";
    }
    void commandLines() {
        QFETCH(QStringList, args);
        QFETCH(QString, parsed);
        const CommandLine c = parseCommandLine(args);
        QCOMPARE(QStringLiteral("%1 %2 %3").arg(c.help).arg(c.share.value_or("-"), c.error), parsed);
        QVERIFY(usageText().contains("--share=ADDRESS:PORT"));
    }
};

QTEST_MAIN(TestPadShare)
#include "test_padshare.moc"
