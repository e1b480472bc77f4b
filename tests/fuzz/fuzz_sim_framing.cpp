// The simulated mount's command framing on arbitrary byte streams, fed in arbitrary pieces at
// arbitrary times, with every fault and pacing option. The model must never crash or hang,
// never hand out more than asked, keep its log in time order, and (where no fault drops the
// line) split the stream into exactly the commands its framing gives for the bytes as sent.
#include "mountsim.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace skyjog;
using namespace skyjog::sim;

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "sim_framing: %s\n", what);
    std::abort();
}

// The model's framing on its own, fed the same bytes at the times they were sent: with no pacing
// and no dropped line, the model must cut the stream into exactly these commands, each byte
// taken when it arrives and every incomplete command dropped when it expires.
struct Reference {
    double gapMs = 0;
    CommandFraming framing;
    QVector<QByteArray> commands;

    void take(char c, double at) {
        if (framing.expiresAt(gapMs) < at) framing.drop();
        if (std::optional<QByteArray> command = framing.take(c, at)) commands.push_back(*command);
    }
};

class Input {
public:
    Input(const uint8_t* d, size_t n) : d_(d), n_(n) {}
    bool more() const { return i_ < n_; }
    uint8_t byte() { return i_ < n_ ? d_[i_++] : 0; }
    QByteArray bytes(size_t count) {
        count = std::min(count, n_ - i_);
        QByteArray b(reinterpret_cast<const char*>(d_ + i_), qsizetype(count));
        i_ += count;
        return b;
    }

private:
    const uint8_t* d_;
    size_t n_;
    size_t i_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 8192) return 0;
    Input in(data, size);

    const uint8_t config = in.byte();
    const uint8_t config2 = in.byte();
    Options o;
    static const Fault faults[] = {Fault::None,       Fault::Silent,     Fault::ShortReply,
                                   Fault::Garbage,    Fault::ExtraBytes, Fault::LateReply,
                                   Fault::Disconnect, Fault::None};
    o.fault = faults[config & 7];
    o.pace9600 = config & 8;
    o.latencyMs = uint32_t((config >> 4) & 3) * 40;
    o.lateReplyMs = 600;
    o.faultSkip = config2 & 3;
    o.faultCount = int((config2 >> 2) & 3) - 1;
    o.trackingMode = uint8_t((config2 >> 4) & 3);
    o.pecSeekMs = 300;
    o.revertMs = (config >> 6) & 1 ? 0 : 2000;
    // Some runs start where a 32-bit millisecond counter would wrap: the model's 64-bit time
    // must not care.
    int64_t now = (config >> 7) ? 0xFFFFF000 : 1000;

    MountSim sim(o);
    const bool checkFraming = !o.pace9600 && o.fault != Fault::Disconnect;
    Reference ref;
    ref.gapMs = o.commandGapMs;
    uint64_t modelNow = 0; // the reference's time, from the start

    const auto advanceBy = [&](uint32_t dt) {
        now += dt;
        modelNow += dt;
    };

    while (in.more()) {
        const uint8_t op = in.byte();
        const uint32_t arg = op >> 2;
        switch (op & 3) {
        case 0: { // bytes from the client
            const QByteArray chunk = in.bytes(arg);
            const bool wasDown = sim.disconnected();
            sim.receive(chunk, now);
            if (checkFraming && !wasDown)
                for (char c : chunk)
                    ref.take(c, double(modelNow));
            break;
        }
        case 1: // a short wait, either side of the gap
            advanceBy(arg * 8);
            break;
        case 2: { // a long wait (up to about 70 minutes)
            const uint32_t hi = in.byte(), lo = in.byte();
            advanceBy(((hi << 8) | lo) * 64u);
            break;
        }
        case 3: { // the client reads; the last value plugs a dropped line back in
            if (arg == 63 && sim.disconnected()) {
                sim.reconnect();
                break;
            }
            const int max = int(arg);
            const QByteArray out = sim.takeOutput(now, max);
            if (out.size() > max) fail("takeOutput gave more than asked");
            break;
        }
        }
        const int next = sim.msUntilNextEvent(now);
        if (next < -1) fail("msUntilNextEvent below -1");
    }
    // Let everything in flight finish.
    for (int i = 0; i < 64; ++i) {
        const int next = sim.msUntilNextEvent(now);
        if (next < 0) break;
        advanceBy(uint32_t(next) + 1);
        (void)sim.takeOutput(now);
    }

    const QVector<LogEntry>& log = sim.log();
    for (qsizetype i = 1; i < log.size(); ++i)
        if (log[i].timeMs < log[i - 1].timeMs) fail("log out of time order");

    if (checkFraming) {
        // A command still incomplete at the end is not yet a command on either side.
        if (sim.commands() != ref.commands) fail("framing differs from the rules");
    }
    (void)sim.logText();
    return 0;
}
