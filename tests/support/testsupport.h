#pragma once
// Shared test seams: a clock the test drives, a reporter that records message boxes.
#include "clock.h"
#include "report.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <map>
#include <vector>

namespace skyjog::test {

// Time moves only when the code under test sleeps (or the test advances it). Actions can be
// scheduled at a time; they run inside the sleep that reaches it, as a user's click would be
// handled inside a poll.
class ManualClock final : public Clock {
public:
    explicit ManualClock(uint32_t start = 1000) : now_(start), start_(start) {}
    uint32_t tickCount() override { return now_; }
    void sleep(uint32_t ms) override;
    // Events already waiting in the thread's event loop are handled first, taking no time, as a
    // real wait would; when there are none, the clock goes straight to `until`, or to the next
    // scheduled action if that comes first (the action is the event that ends the wait).
    void waitForEvents(uint32_t until) override;
    uint32_t clockIncrement100ns() override { return increment_; }
    // Due in a later sleep (or waitForEvents, which goes no further than it), and then queued to
    // the event loop rather than run inside whatever slept: a command in flight, say.
    void callAt(uint32_t due, QObject* context, std::function<void()> fn) override;

    void setIncrement(uint32_t v) { increment_ = v; }
    void advance(uint32_t ms) { sleep(ms); }
    uint32_t now() const { return now_; }
    // Runs fn once when the time reaches at (in a later sleep, or the current one).
    void at(uint32_t at, std::function<void()> fn) { pending_.emplace(at, std::move(fn)); }
    // Each sleep first calls this (for example, to let a test act on every poll).
    std::function<void(uint32_t now)> onSleep;
    uint64_t sleeps = 0;
    uint64_t sleptMs = 0;
    // Calls of waitForEvents, and how many of them found events waiting.
    uint64_t waits = 0;
    uint64_t waitsWithEvents = 0;
    // How far past its start a test may run this clock. Time here costs nothing, so a spiral
    // whose stop went missing (a wrong byte, a lost click) would run on until CTest's time-out;
    // past the limit the test fails at once and StopSpiral is set, which ends any spiral.
    uint32_t limitMs = 15 * 60 * 1000;
    bool overran() const { return overran_; }

private:
    uint32_t now_;
    uint32_t start_;
    bool overran_ = false;
    uint32_t increment_ = 0;
    uint32_t busyWaits_ = 0;
    std::multimap<uint32_t, std::function<void()>> pending_;
};

// Installs itself as the clock for its lifetime.
class ScopedClock {
public:
    explicit ScopedClock(Clock* c) { setClock(c); }
    ~ScopedClock() { setClock(nullptr); }
};

// Records every message box instead of showing it, for its lifetime.
class ReportRecorder {
public:
    ReportRecorder();
    ~ReportRecorder();
    struct Box {
        QString text;
        QString caption;
        // Whether the box held up the code that raised it until it was closed.
        bool waited = true;
    };
    std::vector<Box> boxes;
    QStringList texts() const;
    // Called for each box after recording it (a test may act while the "box" is up).
    std::function<void(const Box&)> onReport;
};

} // namespace skyjog::test

#include "backends.h"
#include <QByteArray>
#include <QVector>

namespace skyjog::test {

// A line the test scripts: it records what is written and delivers bytes at given clock times.
// It survives the backends made on it, like a real line survives opens and closes.
class FakeLine {
public:
    QVector<QByteArray> writes;
    int opens = 0;
    int closes = 0;
    int reads = 0;
    bool open = false;
    // When set, opening fails with this error.
    std::optional<std::pair<int, QString>> failOpen;
    // Called after every write with the bytes and the time (schedule the reply from here).
    std::function<void(const QByteArray&, uint32_t)> onWrite;
    // Answers every write at once with "#", as a mount acknowledges what it is sent (ahead of
    // onWrite's replies).
    bool acknowledge = false;

    void deliver(const QByteArray& bytes, uint32_t at) { arrivals_.push_back({at, bytes}); }
    // Bytes that have arrived by now and not been read.
    QByteArray& buffer(uint32_t now);
    // A factory for SerialControl::setBackendFactory.
    BackendFactory factory();

private:
    struct Arrival {
        uint32_t at;
        QByteArray bytes;
    };
    std::vector<Arrival> arrivals_;
    QByteArray buffer_;
};

} // namespace skyjog::test
