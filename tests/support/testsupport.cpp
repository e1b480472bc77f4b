#include "testsupport.h"
#include "functions.h"

#include <QAbstractEventDispatcher>
#include <QPointer>
#include <QTest>

#include <algorithm>

namespace skyjog::test {

void ManualClock::sleep(uint32_t ms) {
    ++sleeps;
    sleptMs += ms;
    now_ += ms;
    if (now_ - start_ > limitMs) {
        if (!overran_) {
            overran_ = true;
            QTest::qFail(qPrintable(QStringLiteral("the test clock ran %1 ms, past its limit of "
                                                   "%2 ms: a spiral that never stopped?")
                                        .arg(now_ - start_)
                                        .arg(limitMs)),
                         __FILE__, __LINE__);
        }
        StopSpiral = true;
    }
    if (onSleep) onSleep(now_);
    // Run what is due; an action may schedule more or sleep itself.
    while (!pending_.empty() && int32_t(pending_.begin()->first - now_) <= 0) {
        auto fn = std::move(pending_.begin()->second);
        pending_.erase(pending_.begin());
        fn();
    }
}

void ManualClock::callAt(uint32_t due, QObject* context, std::function<void()> fn) {
    auto post = [guard = QPointer<QObject>(context), fn = std::move(fn)] {
        if (guard) QMetaObject::invokeMethod(guard.data(), fn, Qt::QueuedConnection);
    };
    if (int32_t(due - now_) <= 0) post();
    else at(due, std::move(post));
}

void ManualClock::waitForEvents(uint32_t until) {
    ++waits;
    // An event that keeps posting itself would otherwise hold time still for good; on a real
    // machine handling it takes time, so every so many busy waits a millisecond passes.
    constexpr uint32_t BusyWaitsPerMs = 1000;
    QAbstractEventDispatcher* loop = QAbstractEventDispatcher::instance();
    if (loop && loop->processEvents(QEventLoop::AllEvents)) {
        ++waitsWithEvents;
        if (++busyWaits_ % BusyWaitsPerMs != 0) return;
        if (int32_t(until - now_) > 0) sleep(1);
        return;
    }
    busyWaits_ = 0;
    const int32_t ahead = int32_t(until - now_);
    if (ahead <= 0) return;
    int32_t step = ahead;
    for (const auto& p : pending_)
        step = std::min(step, std::max(int32_t(p.first - now_), 0));
    sleep(uint32_t(step));
}

ReportRecorder::ReportRecorder() {
    setReporter([this](const QString& text, const QString& caption) {
        boxes.push_back({text, caption, boxesWait()});
        if (onReport) onReport(boxes.back());
    });
}

ReportRecorder::~ReportRecorder() { setReporter({}); }

QStringList ReportRecorder::texts() const {
    QStringList out;
    for (const Box& b : boxes) out << b.text;
    return out;
}

} // namespace skyjog::test

#include "vberror.h"

namespace skyjog::test {

QByteArray& FakeLine::buffer(uint32_t now) {
    for (auto it = arrivals_.begin(); it != arrivals_.end();) {
        if (int32_t(it->at - now) <= 0) {
            buffer_ += it->bytes;
            it = arrivals_.erase(it);
        } else {
            ++it;
        }
    }
    return buffer_;
}

namespace {
class FakeBackend final : public SerialBackend {
public:
    explicit FakeBackend(FakeLine& line) : line_(line) {}
    void open(const LineSettings&, const QDeadlineTimer&) override {
        if (line_.failOpen) throw VbError(line_.failOpen->first, line_.failOpen->second);
        ++line_.opens;
        line_.open = isOpen_ = true;
    }
    void close() override {
        if (!isOpen_) return;
        ++line_.closes;
        line_.open = isOpen_ = false;
    }
    bool isOpen() const override { return isOpen_; }
    QByteArray read(int maxChars) override {
        ++line_.reads;
        QByteArray& buf = line_.buffer(clock().tickCount());
        const QByteArray out = buf.left(maxChars);
        buf.remove(0, out.size());
        return out;
    }
    void write(const QByteArray& data, const QDeadlineTimer&) override {
        line_.writes << data;
        if (line_.acknowledge) line_.deliver("#", clock().tickCount());
        if (line_.onWrite) line_.onWrite(data, clock().tickCount());
    }

private:
    FakeLine& line_;
    bool isOpen_ = false;
};
} // namespace

BackendFactory FakeLine::factory() {
    return [this](const PortSpec&) { return std::make_unique<FakeBackend>(*this); };
}

} // namespace skyjog::test
