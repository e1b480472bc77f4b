// The spiral against the simulated mount: the bytes and times the mount sees, and where the
// mount actually goes.
#include "backends.h"
#include "functions.h"
#include "mountsim.h"
#include "spiralfixture.h"
#include "testsupport.h"

#include <QTest>
#include <cmath>

using namespace skyjog;
using namespace skyjog::test;

namespace {
// A difference of two angles, wrapped into (-180, 180].
double angleDiff(double a, double b) {
    double d = std::fmod(a - b, 360.0);
    if (d <= -180) d += 360;
    if (d > 180) d -= 360;
    return d;
}
// Degrees an axis covers at a rate (quarter arc-seconds per second) in ms milliseconds.
double degreesAt(double rate, double ms) {
    return rate / 14400.0 * ms / 1000.0;
}

// Passes everything through to the simulated mount and shows each command to the test first.
class ProbeBackend final : public SerialBackend {
public:
    ProbeBackend(std::unique_ptr<SerialBackend> inner, std::function<void(const QByteArray&)> probe)
        : inner_(std::move(inner)), probe_(std::move(probe)) {}
    void open(const LineSettings& line, const QDeadlineTimer& deadline) override {
        inner_->open(line, deadline);
    }
    void close() override { inner_->close(); }
    bool isOpen() const override { return inner_->isOpen(); }
    QByteArray read(int maxChars) override { return inner_->read(maxChars); }
    void write(const QByteArray& data, const QDeadlineTimer& deadline) override {
        probe_(data);
        inner_->write(data, deadline);
    }
    bool openIsRoundTrip() const override { return inner_->openIsRoundTrip(); }

private:
    std::unique_ptr<SerialBackend> inner_;
    std::function<void(const QByteArray&)> probe_;
};
} // namespace

class TestSpiralSim : public QObject {
    Q_OBJECT
    ManualClock clk;
    FakeSpiralHost host;

    sim::MountSim& mount() { return sim::sharedMountSim(); }
    QVector<Sent> received() {
        QVector<Sent> out;
        for (const sim::LogEntry& e : mount().log())
            if (e.fromClient) out.push_back({uint32_t(e.timeMs), e.bytes}); // the 32-bit count
        return out;
    }
    QByteArrayList commandsReceived() {
        const QVector<QByteArray> all = mount().commands();
        return QByteArrayList(all.begin(), all.end());
    }
    int legsStarted() { return countOf(received(), isSlew); }
    void stopAfterLegs(int n) {
        host.onProcessEvents = [this, n] {
            if (!StopSpiral && legsStarted() >= n) ToggleSpiral(host);
        };
    }
    void resetMount(uint16_t azimuth, uint16_t altitude) {
        sim::Options o;
        o.azimuth = azimuth;
        o.altitude = altitude;
        o.revertMs = 0;
        mount().reset(o);
    }

private slots:
    void initTestCase() { sim::registerInProcessSim(); }
    void init() {
        clk = ManualClock(20000);
        setClock(&clk);
        host = FakeSpiralHost();
        Comm1().setBackendFactory({});
        Comm1().setPortText(QStringLiteral("sim"));
        resetMount(0x4000, 0x2012);
        SleepTime = 1;
        StopSpiral = true;
    }
    void cleanup() {
        setClock(nullptr);
        StopSpiral = true;
    }

    void firstSixLegsReachTheMountInOrderAndOnTime() {
        stopAfterLegs(6);
        ToggleSpiral(host);

        // clang-format off
        const QByteArrayList expected = {
            cmd::GetAzAlt(),
            trackCmd(0), stopCmd(17), slewCmd(16, 6, 3, 232),
            trackCmd(0), stopCmd(16), slewCmd(17, 7, 1, 244),
            trackCmd(0), stopCmd(17), slewCmd(16, 7, 3, 232),
            trackCmd(0), stopCmd(16), slewCmd(17, 6, 1, 244),
            trackCmd(0), stopCmd(17), slewCmd(16, 6, 3, 232),
            trackCmd(0), stopCmd(16), slewCmd(17, 7, 1, 244),
            stopCmd(17), stopCmd(16), trackCmd(1),
        };
        // clang-format on
        QCOMPARE(commandsReceived(), expected);

        const QVector<Sent> in = received();
        const int durations[] = {500, 500, 1000, 1000, 1500, 1500};
        for (int k = 0; k < 5; ++k) {
            // The leg starts when its tracking-off has been answered, and ends at the first poll
            // past its duration.
            const uint32_t legStart = in[1 + 3 * k].at + 1;
            QCOMPARE(in[1 + 3 * (k + 1)].at - legStart, uint32_t(durations[k] + 1));
            // Its two motor commands follow at once, one acknowledged poll apart.
            QCOMPARE(in[2 + 3 * k].at, legStart);
            QCOMPARE(in[3 + 3 * k].at, legStart + 1);
        }
        // Left tracking again: only the sky's motion on the azimuth axis, no slew.
        QCOMPARE(mount().trackingMode(), uint8_t(1));
        QCOMPARE(mount().axisRate(16), 60.0);
        QCOMPARE(mount().axisRate(17), 0.0);
    }

    void mountTracesASquareSpiralGrowingOutward() {
        // Width 10 at altitude 0: azimuth legs at 4991, altitude legs at 5000.
        resetMount(0x4000, 0x0000);
        host.width = QStringLiteral("10");
        host.mode = 0;
        // A corner is where the mount stands as a leg's slew goes out: the previous axis has
        // just been stopped and the next has not started. The mount's state only moves
        // forward, so it is read on the way, as each slew is written.
        struct Point {
            double az, alt;
        };
        QVector<Point> corners;
        Comm1().setBackendFactory([&](const PortSpec&) {
            return std::make_unique<ProbeBackend>(
                sim::makeInProcessBackend(mount()), [&](const QByteArray& c) {
                    if (!isSlew(c)) return;
                    const uint32_t now = clk.now();
                    corners.push_back({mount().azimuthDegrees(now), mount().altitudeDegrees(now)});
                });
        });
        // Ten whole legs; the stop comes just after the eleventh has started.
        const int legs = 10;
        stopAfterLegs(legs + 1);
        ToggleSpiral(host);
        const Point end{mount().azimuthDegrees(clk.now()), mount().altitudeDegrees(clk.now())};
        QCOMPARE(corners.size(), legs + 1);
        // Tracking moved the azimuth a hair until the first leg switched it off.
        QVERIFY(std::abs(corners[0].az - 90.0) < 1e-4);
        QCOMPARE(corners[0].alt, 0.0);

        // In units of the first leg's length, the corners of a square spiral turning from east
        // to south: (1,0) (1,-1) (-1,-1) (-1,1) (2,1) (2,-2) (-2,-2) (-2,2) (3,2) (3,-3).
        const double azUnit = degreesAt(4991, 500);
        const double altUnit = degreesAt(5000, 500);
        int x = 0, y = 0;
        for (int k = 0; k < legs; ++k) {
            const int n = k / 2 + 1;
            // clang-format off
            switch (k % 4) {
            case 0: x += n; break;
            case 1: y -= n; break;
            case 2: x -= n; break;
            case 3: y += n; break;
            }
            // clang-format on
            const Point& p = corners[k + 1];
            const double ux = angleDiff(p.az, corners[0].az) / azUnit;
            const double uy = (p.alt - corners[0].alt) / altUnit;
            // Each leg runs its duration plus a few polls and commands: a little beyond, never
            // short of, the nominal corner.
            QVERIFY2(std::abs(ux - x) < 0.1 && std::abs(uy - y) < 0.1,
                     qPrintable(QStringLiteral("corner %1 at (%2, %3), expected (%4, %5)")
                                    .arg(k + 1)
                                    .arg(ux)
                                    .arg(uy)
                                    .arg(x)
                                    .arg(y)));
            // The axis a leg does not move stays exactly where it was.
            const Point& q = corners[k];
            QCOMPARE(k % 2 == 0 ? p.alt : p.az, k % 2 == 0 ? q.alt : q.az);
            const double moved = k % 2 == 0 ? std::abs(angleDiff(p.az, q.az)) / azUnit
                                            : std::abs(p.alt - q.alt) / altUnit;
            QVERIFY2(moved > n - 1e-9 && moved < n + 0.02,
                     qPrintable(QStringLiteral("leg %1 moved %2").arg(k).arg(moved, 0, 'g', 10)));
        }
        // The stop came at once: the last leg hardly began.
        QVERIFY(std::abs(angleDiff(end.az, corners[legs].az)) < 0.01 * azUnit);
        QCOMPARE(end.alt, corners[legs].alt);
        QCOMPARE(mount().axisRate(16), 0.0);
        QCOMPARE(mount().axisRate(17), 0.0);
    }

    void cornerPausesHoldTheMountStillWithTrackingBackOn() {
        host.delay = QStringLiteral("2");
        host.mode = 2;
        int pausePolls = 0;
        host.onProcessEvents = [&] {
            const QVector<Sent> in = received();
            if (!in.isEmpty() && in.last().bytes == trackCmd(2)) {
                ++pausePolls;
                // Both stops went out before tracking was restored.
                QCOMPARE(in[in.size() - 3].bytes, stopCmd(17));
                QCOMPARE(in[in.size() - 2].bytes, stopCmd(16));
                QCOMPARE(mount().trackingMode(), uint8_t(2));
            }
            if (!StopSpiral && legsStarted() >= 3) ToggleSpiral(host);
        };
        ToggleSpiral(host);
        QCOMPARE(legsStarted(), 3);
        // Two pauses of two seconds from the tracking restore's answer to the next tracking-off,
        // each with the window's events handled as it begins and the spiral at rest after that.
        QCOMPARE(pausePolls, 2);
        const QVector<Sent> in = received();
        QCOMPARE(in[6].bytes, trackCmd(2));
        QCOMPARE(in[7].at - (in[6].at + 1), 2000u);
        QCOMPARE(in[12].bytes, trackCmd(2));
        QCOMPARE(in[13].at - (in[12].at + 1), 2000u);
    }

    void lineDroppedByTheMountEndsTheSpiral() {
        // The mount hangs up on the second leg's tracking-off; the next open finds it back.
        sim::Options o = mount().options();
        o.fault = sim::Fault::Disconnect;
        o.faultSkip = 4;
        o.faultCount = 1;
        mount().reset(o);
        ReportRecorder rec;
        ToggleSpiral(host);

        QCOMPARE(rec.boxes.size(), size_t(1));
        // clang-format off
        const QByteArrayList expected = {
            cmd::GetAzAlt(),
            trackCmd(0), stopCmd(17), slewCmd(16, 6, 3, 232),
            trackCmd(0), stopCmd(16), slewCmd(17, 7, 1, 244),
            stopCmd(17), stopCmd(16), trackCmd(1),
        };
        // clang-format on
        QCOMPARE(commandsReceived(), expected);
        QVERIFY(StopSpiral);
        QVERIFY(!host.labelVisible);
    }
};

QTEST_GUILESS_MAIN(TestSpiralSim)
#include "test_spiral_sim.moc"
