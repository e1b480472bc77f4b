// A serial-over-TCP bridge that does not answer keeps a command no longer than its time-out: the
// name lookup, the connect and the write all end by the command's deadline, and the time-out
// counts from before the connect. Real sockets on the loopback interface, every wait bounded.
#include "functions.h"
#include "tcp_backend.h"
#include "testsupport.h"
#include "vberror.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTest>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace skyjog;
using namespace skyjog::test;

namespace {

// A listening socket on 127.0.0.1 that never accepts anything. Connections still complete
// into its queue (and then nothing reads them) until the queue is full; after that the system
// drops further attempts without a word, as a bridge behind a lost route does.
struct Listener {
    int fd = -1;
    quint16 port = 0;
    std::vector<int> fillers;
    explicit Listener(int backlog) {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), len) != 0 ||
            ::listen(fd, backlog) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return;
        port = ntohs(a.sin_port);
    }
    ~Listener() {
        for (int f : fillers)
            ::close(f);
        if (fd >= 0) ::close(fd);
    }
    QString portText() const { return QStringLiteral("127.0.0.1:%1").arg(port); }
    // Fills the queue: true once a further connect goes unanswered.
    bool fill() {
        for (int i = 0; i < 8; ++i) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, port);
            if (!probe.waitForConnected(300)) return probe.error() == QAbstractSocket::SocketTimeoutError;
            fillers.push_back(::dup(int(probe.socketDescriptor())));
        }
        return false;
    }
};

// A name lookup the test controls: it answers 127.0.0.1 after the given time, or when released.
struct SlowLookup {
    struct State {
        std::mutex m;
        std::condition_variable cv;
        bool released = false;
        std::atomic<int> running{0};
        std::atomic<int> calls{0};
    };
    std::shared_ptr<State> state = std::make_shared<State>();
    int delayMs = 0;

    TcpBackend::Lookup lookup() const {
        return [s = state, delay = delayMs](const QString&) {
            ++s->calls;
            ++s->running;
            std::unique_lock lock(s->m);
            s->cv.wait_for(lock, std::chrono::milliseconds(delay), [&] { return s->released; });
            --s->running;
            return QList<QHostAddress>{QHostAddress::LocalHost};
        };
    }
    // Lets a lookup still running finish, and waits (bounded) until it has.
    ~SlowLookup() {
        {
            const std::lock_guard lock(state->m);
            state->released = true;
        }
        state->cv.notify_all();
        for (int i = 0; i < 500 && state->running > 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
};

// A line whose open takes the test clock's time, as a connect takes real time.
class SlowOpenBackend final : public SerialBackend {
public:
    SlowOpenBackend(uint32_t openMs, bool roundTrip) : openMs_(openMs), roundTrip_(roundTrip) {}
    void open(const LineSettings&, const QDeadlineTimer&) override {
        skyjog::clock().sleep(openMs_);
        open_ = true;
    }
    void close() override { open_ = false; }
    bool isOpen() const override { return open_; }
    QByteArray read(int) override { return {}; }
    void write(const QByteArray&, const QDeadlineTimer&) override {}
    bool openIsRoundTrip() const override { return roundTrip_; }

private:
    uint32_t openMs_;
    bool roundTrip_;
    bool open_ = false;
};

// Sends an echo command with the program's 500 ms time-out; how long it took, on the wall clock,
// to come back with nothing.
qint64 silentEchoMs() {
    QElapsedTimer t;
    t.start();
    const QByteArray reply = SendCommand("Kx", 2, 500);
    const qint64 took = t.elapsed();
    return reply.isEmpty() ? took : -1;
}

} // namespace

class TestTcpBudget : public QObject {
    Q_OBJECT

private slots:
    void init() {
        Comm1().setBackendFactory({});
        Comm1().setSettings(QStringLiteral("9600,N,8,1"));
        InitSleepTime();
        StopSpiral = false;
    }
    void cleanup() { Comm1().setBackendFactory({}); }

    // Where opening is a round trip, the time-out covers it; where it is not (a serial port),
    // the mount has the whole time-out from the write, as before.
    void timeOutCountsFromBeforeARoundTripOpen_data() {
        QTest::addColumn<bool>("roundTrip");
        QTest::addColumn<uint32_t>("expected");
        QTest::newRow("connection") << true << 500u;
        QTest::newRow("serial port") << false << 300u + 500u;
    }
    void timeOutCountsFromBeforeARoundTripOpen() {
        QFETCH(bool, roundTrip);
        QFETCH(uint32_t, expected);
        ManualClock clk(1000);
        ScopedClock scoped(&clk);
        SleepTime = 1;
        Comm1().setBackendFactory(
            [&](const PortSpec&) { return std::make_unique<SlowOpenBackend>(300, roundTrip); });
        ReportRecorder rec;
        QVERIFY(SendCommand("Kx", 2, 500).isEmpty());
        QCOMPARE(clk.now() - 1000u, expected);
        QVERIFY(rec.boxes.empty());
    }

    void bridgeThatNeverAnswersTheConnectFailsWithinTheTimeOut() {
#ifndef Q_OS_LINUX
        QSKIP("relies on Linux dropping connects to a full listen queue");
#endif
        Listener bridge(0);
        QVERIFY(bridge.port != 0);
        if (!bridge.fill()) QSKIP("this system answers connects to a full listen queue");
        Comm1().setPortText(bridge.portText());
        ReportRecorder rec;
        const qint64 took = silentEchoMs();
        qInfo("connect to a bridge that never answers: %lld ms", took);
        QCOMPARE(rec.boxes.size(), size_t(1));
        QVERIFY2(rec.boxes[0].text.startsWith(QStringLiteral("Cannot connect to ") +
                                              bridge.portText()) &&
                     rec.boxes[0].text.endsWith(QStringLiteral(" - 8002")),
                 qPrintable(rec.boxes[0].text));
        QVERIFY(StopSpiral);
        QVERIFY(!Comm1().portOpen());
        // Half a second, not the seconds a connect may take before the system gives up.
        QVERIFY2(took >= 450 && took < 1500, qPrintable(QString::number(took)));
    }

    void slowNameLookupCountsAgainstTheTimeOut() {
        Listener bridge(8); // connects, then never says a word
        QVERIFY(bridge.port != 0);
        // Half the time-out goes to the lookup. The other half is left for the connect to the
        // loopback bridge, which a loaded machine may be slow to schedule (with 100 ms left it
        // once failed to connect in time at a load average of 6).
        SlowLookup lookup;
        lookup.delayMs = 250;
        Comm1().setBackendFactory([&](const PortSpec& spec) {
            return std::make_unique<TcpBackend>(spec.host, spec.tcpPort, lookup.lookup());
        });
        Comm1().setPortText(QStringLiteral("bridge.example:%1").arg(bridge.port));
        ReportRecorder rec;
        const qint64 took = silentEchoMs();
        qInfo("250 ms lookup, then a bridge that never answers: %lld ms", took);
        QCOMPARE(lookup.state->calls.load(), 1);
        QVERIFY2(rec.boxes.empty(), qPrintable(rec.texts().join(u'\n'))); // a silent mount
        QVERIFY(!StopSpiral);
        // The whole command, lookup included, in about the time-out: a lookup not counted would
        // make it at least 750 ms.
        QVERIFY2(took >= 450 && took < 720, qPrintable(QString::number(took)));
    }

    void nameLookupThatHangsFailsWithinTheTimeOut() {
        SlowLookup lookup;
        lookup.delayMs = 5000;
        Comm1().setBackendFactory([&](const PortSpec& spec) {
            return std::make_unique<TcpBackend>(spec.host, spec.tcpPort, lookup.lookup());
        });
        Comm1().setPortText(QStringLiteral("bridge.example:4030"));
        ReportRecorder rec;
        const qint64 took = silentEchoMs();
        QCOMPARE(rec.boxes.size(), size_t(1));
        QVERIFY2(rec.boxes[0].text.contains(QStringLiteral("bridge.example:4030")) &&
                     rec.boxes[0].text.endsWith(QStringLiteral(" - 8002")),
                 qPrintable(rec.boxes[0].text));
        QVERIFY(StopSpiral);
        QVERIFY2(took >= 450 && took < 1500, qPrintable(QString::number(took)));
    }

    void writeTheBridgeNeverTakesFailsByTheDeadline() {
        Listener bridge(8); // connects, then never reads
        QVERIFY(bridge.port != 0);
        TcpBackend line(QStringLiteral("127.0.0.1"), bridge.port);
        line.open(LineSettings{}, QDeadlineTimer(2000));
        // More than the system's buffers on both ends hold.
        const QByteArray flood(32 << 20, 'P');
        QElapsedTimer t;
        t.start();
        try {
            line.write(flood, QDeadlineTimer(300));
            QFAIL("the write was taken by a peer that never reads");
        } catch (const VbError& e) {
            QCOMPARE(e.number, err::WriteFailed);
            QVERIFY2(e.description.contains(QStringLiteral("does not take the data")),
                     qPrintable(e.description));
        }
        const qint64 took = t.elapsed();
        line.close();
        QVERIFY(!line.isOpen());
        QVERIFY2(took >= 250 && took < 1500, qPrintable(QString::number(took)));
    }
};

QTEST_GUILESS_MAIN(TestTcpBudget)
#include "test_tcp_budget.moc"
