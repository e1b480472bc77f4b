// The runner that serves the model to real lines, with each of its timers: the microsecond one
// Linux offers and the event loop's, which is all Windows and macOS have. A paced reply must
// arrive whole, byte by byte in order, never sooner than 9600 baud allows.
#include "mountsim.h"
#include "simhost.h"

#include <QElapsedTimer>
#include <QTest>

using namespace skyjog::sim;

namespace {

// A line that keeps what the runner hands it, with the runner's clock at each hand-over.
class RecordingLine : public SimLine {
public:
    explicit RecordingLine(SimRunner& runner) : runner_(runner) {}
    void send(const QByteArray& bytes) override {
        received += bytes;
        for (qsizetype i = 0; i < bytes.size(); ++i)
            atUs.push_back(runner_.nowUs());
    }
    void hangUp() override { ++hangUps; }

    QByteArray received;
    std::vector<int64_t> atUs; // one entry per byte
    int hangUps = 0;

private:
    SimRunner& runner_;
};

Options still() {
    Options o;
    o.trackingMode = 0; // the axes stand, so a position reply is known in advance
    o.azimuth = 0x1234;
    o.altitude = 0xABCD;
    return o;
}

} // namespace

class TestSimRunner : public QObject {
    Q_OBJECT

private slots:
    void pacedReplyArrivesWholeAndInTime_data() {
        QTest::addColumn<SimRunner::Timer>("timer");
        QTest::newRow("finest") << SimRunner::Timer::Finest;
        QTest::newRow("event loop") << SimRunner::Timer::EventLoop;
    }
    void pacedReplyArrivesWholeAndInTime() {
        QFETCH(SimRunner::Timer, timer);
        Options o = still();
        o.pace9600 = true;
        MountSim sim(o);
        SimRunner runner(sim, nullptr, timer);
        RecordingLine line(runner);
        runner.addLine(&line);

        // The same model unpaced says what the reply is.
        MountSim reference(still());
        reference.receive("Z", 0);
        const QByteArray expected = reference.takeOutput(0);
        QCOMPARE(expected.size(), 10); // "1234,ABCD#"

        const int64_t start = runner.nowUs();
        runner.input("Z");
        QTRY_COMPARE_WITH_TIMEOUT(line.received.size(), expected.size(), 5000);
        QCOMPARE(line.received, expected);
        // One character in, then ten out, each 1041.67 us on the wire: a byte handed over before
        // its last bit could have arrived would be a reply faster than the line.
        for (size_t i = 0; i < line.atUs.size(); ++i)
            QVERIFY2(
                line.atUs[i] - start >= int64_t((i + 2) * 1041.67),
                qPrintable(QStringLiteral("byte %1 after %2 us").arg(i).arg(line.atUs[i] - start)));

        // Nothing more comes, and the runner goes quiet.
        QTest::qWait(50);
        QCOMPARE(line.received, expected);
        runner.removeLine(&line);
    }

    void droppedLineIsHungUpAndServesAgain_data() { pacedReplyArrivesWholeAndInTime_data(); }
    void droppedLineIsHungUpAndServesAgain() {
        QFETCH(SimRunner::Timer, timer);
        Options o = still();
        o.fault = Fault::Disconnect;
        o.faultCount = 1;
        MountSim sim(o);
        SimRunner runner(sim, nullptr, timer);
        RecordingLine line(runner);
        runner.addLine(&line);

        runner.input("Z");
        QTRY_COMPARE_WITH_TIMEOUT(line.hangUps, 1, 5000);
        QVERIFY(!sim.disconnected());
        runner.input("Z");
        QTRY_COMPARE_WITH_TIMEOUT(line.received, QByteArray("1234,ABCD#"), 5000);
        QCOMPARE(line.hangUps, 1);
        runner.removeLine(&line);
    }
};

QTEST_GUILESS_MAIN(TestSimRunner)
#include "test_simrunner.moc"
