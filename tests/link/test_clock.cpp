// The system clock's wait for events: it ends with the first event, handles it, never ends before
// its tick, and rests rather than spinning. Every wait here is bounded by its own deadline.
#include "clock.h"

#include <QCoreApplication>
#include <QTest>
#include <QTimer>

#include <thread>

using namespace skyjog;

namespace {
bool due(Clock& clk, uint32_t until) {
    return int32_t(until - clk.tickCount()) <= 0;
}
} // namespace

class TestClock : public QObject {
    Q_OBJECT
    SystemClock clk;

private slots:
    void waitWithoutEventsEndsOnItsTickAndRests() {
        for (uint32_t ahead : {1u, 2u, 3u, 4u, 7u, 40u}) {
            const uint32_t until = clk.tickCount() + ahead;
            int calls = 0;
            while (!due(clk, until) && calls < 1000) {
                clk.waitForEvents(until);
                ++calls;
            }
            // The counter has turned: a leg timed by it never ends short.
            QVERIFY2(due(clk, until), qPrintable(QStringLiteral("%1 ms ahead").arg(ahead)));
            // The event loop up to shortly before, then the last stretch: not a wake-up a
            // millisecond.
            QVERIFY2(calls <= 4,
                     qPrintable(QStringLiteral("%1 ms ahead: %2 calls").arg(ahead).arg(calls)));
        }
    }

    void anEventEndsTheWaitAndIsHandledInIt() {
        const uint32_t until = clk.tickCount() + 10000;
        bool handled = false;
        // A timer of the thread's event loop, as a click's would be.
        QTimer::singleShot(20, [&] { handled = true; });
        while (!handled && !due(clk, until))
            clk.waitForEvents(until);
        QVERIFY(handled);
        QVERIFY(!due(clk, until));

        // An event already waiting is handled at once; one from another thread wakes the wait.
        handled = false;
        QMetaObject::invokeMethod(
            qApp, [&] { handled = true; }, Qt::QueuedConnection);
        clk.waitForEvents(until);
        QVERIFY(handled);
        handled = false;
        std::thread poster([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            QMetaObject::invokeMethod(
                qApp, [&] { handled = true; }, Qt::QueuedConnection);
        });
        while (!handled && !due(clk, until))
            clk.waitForEvents(until);
        poster.join();
        QVERIFY(handled);
        QVERIFY(!due(clk, until));
    }

    void threadWithoutEventLoopSleepsToItsTick() {
        int calls = 0;
        bool reached = false;
        std::thread t([&] {
            const uint32_t until = clk.tickCount() + 30;
            while (!due(clk, until) && calls < 1000) {
                clk.waitForEvents(until);
                ++calls;
            }
            reached = due(clk, until);
        });
        t.join();
        QVERIFY(reached);
        QVERIFY(calls <= 2);
    }
};

QTEST_GUILESS_MAIN(TestClock)
#include "test_clock.moc"
