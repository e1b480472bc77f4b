#include "functions.h"
#include "clock.h"
#include "commands.h"
#include "convert.h"
#include "report.h"
#include "vberror.h"

#include <QScopeGuard>
#include <algorithm>

namespace skyjog {

namespace {
constexpr int MaxDrainReads = 100;
int underway = 0;

CommandResult exchange(const QByteArray& command, int16_t replyLength, int16_t timeoutMs,
                       bool background);
} // namespace

int16_t SleepTime = 0;
bool StopSpiral = false;

SerialControl& Comm1() {
    static SerialControl comm;
    return comm;
}

int16_t sleepTimeForIncrement(uint32_t increment100ns) {
    return conv::toInt16(double(increment100ns) / 10000.0 + 1.0);
}

void InitSleepTime() {
    try {
        SleepTime = sleepTimeForIncrement(clock().clockIncrement100ns());
    } catch (const VbError& e) {
        reportError(e);
    }
}

QByteArray SendCommand(const QByteArray& command, int16_t replyLength, int16_t timeoutMs) {
    return SendCommandResult(command, replyLength, timeoutMs).reply;
}

CommandResult SendCommandResult(const QByteArray& command, int16_t replyLength, int16_t timeoutMs) {
    return exchange(command, replyLength, timeoutMs, false);
}

CommandResult SendCommandQuietly(const QByteArray& command, int16_t replyLength,
                                 int16_t timeoutMs) {
    return exchange(command, replyLength, timeoutMs, true);
}

Confirmation worse(Confirmation a, Confirmation b) {
    return std::max(a, b);
}

namespace {
// Bytes in decimal, as the mount's documents and the simulator's log write them.
QByteArray decimal(const QByteArray& bytes) {
    QByteArrayList parts;
    for (char c : bytes)
        parts << QByteArray::number(uint8_t(c));
    return parts.join(' ');
}
// After a wrong answer, what is still arriving (a reply that came late for an earlier command)
// would spoil the next try as well: the line is read until it has been quiet for a while, or the
// time-out has passed. Nothing is written.
void settleLine() {
    constexpr uint32_t QuietMs = 20; // ten character times at 9600 baud
    ++underway;
    const auto done = qScopeGuard([] { --underway; });
    SerialControl& comm = Comm1();
    Clock& clk = clock();
    comm.setDeadline(QDeadlineTimer(cmd::TimeoutMs));
    const auto noDeadline = qScopeGuard([&comm] { comm.setDeadline(std::nullopt); });
    try {
        comm.setPortOpen(true);
        comm.setInputLen(1000);
        const uint32_t start = clk.tickCount();
        uint32_t heard = start;
        PaceState pace;
        for (;;) {
            const uint32_t now = clk.tickCount();
            if (!comm.input().isEmpty()) heard = now;
            if (elapsedMs(heard, now) >= QuietMs || elapsedMs(start, now) >= uint32_t(cmd::TimeoutMs))
                break;
            clk.pace(pace, uint32_t(std::max<int16_t>(SleepTime, 0)));
        }
        comm.setPortOpen(false);
    } catch (const VbError&) {
        // The command sent next meets the same port and reports it.
        if (comm.portOpen()) comm.setPortOpen(false);
    }
}

} // namespace

Confirmation SendConfirmed(const QByteArray& command) {
    for (int attempt = 1;; ++attempt) {
        const CommandResult r = SendCommandResult(command, cmd::AckLength, cmd::TimeoutMs);
        if (r.portFailed) return Confirmation::PortFailed;
        if (cmd::isAcknowledged(r.reply)) return Confirmation::Confirmed;
        if (attempt >= ConfirmAttempts) {
            qWarning("Skyjog: [%s] was not acknowledged after %d attempts",
                     decimal(command).constData(), attempt);
            return Confirmation::NotAcknowledged;
        }
        qWarning("Skyjog: [%s] was answered with [%s] instead of \"#\"; sending it again (%d of %d)",
                 decimal(command).constData(), decimal(r.reply).constData(), attempt + 1,
                 ConfirmAttempts);
        if (!r.reply.isEmpty()) settleLine();
    }
}

bool CommandUnderway() {
    return underway > 0;
}

namespace {

CommandResult exchange(const QByteArray& command, int16_t replyLength, int16_t timeoutMs,
                       bool background) {
    ++underway;
    const auto done = qScopeGuard([] { --underway; });
    QByteArray reply;
    SerialControl& comm = Comm1();
    Clock& clk = clock();
    // Reaching the line and handing it the command may take no longer than the reply may: a
    // bridge that does not answer, or a line that does not take the bytes, fails the command
    // within its time-out instead of holding the window for seconds.
    comm.setDeadline(QDeadlineTimer(std::max<int>(timeoutMs, 0)));
    const auto noDeadline = qScopeGuard([&comm] { comm.setDeadline(std::nullopt); });
    try {
        const uint32_t begun = clk.tickCount();
        comm.setPortOpen(true);
        comm.setInputLen(1000);
        // One read takes at most 1000 characters. Where more have piled up (a mount that kept
        // talking, noise on the line), what one read leaves would become this command's reply,
        // so the drain goes on while reads come back full. A terminal's input queue holds a few
        // thousand characters, far under the bound.
        for (int reads = 0; reads < MaxDrainReads && comm.input().size() >= 1000; ++reads) {
        }
        comm.setInputLen(1);
        comm.output(command);
        // Where the line is there to be opened (a serial port), the time-out is the mount's to
        // answer in and counts from the write. Where a connection is made for the command, that
        // is part of the round trip, and the time-out counts from before it.
        const uint32_t start = comm.openIsRoundTrip() ? begun : clk.tickCount();
        // A pass-through that its device cannot answer (no such device, an unknown message)
        // replies with one byte more than asked, then "#". Another program asking through the
        // share waits for that "#": cut off before it, it would wait out its own time-out.
        bool longerFailure = background && command.size() == 8 && command[0] == 'P';
        PaceState pace;
        for (;;) {
            const uint32_t now = clk.tickCount();
            if (reply.size() >= replyLength && longerFailure && !reply.endsWith('#')) {
                longerFailure = false;
                ++replyLength;
            }
            if (reply.size() >= replyLength || int64_t(elapsedMs(start, now)) >= int64_t(timeoutMs))
                break;
            // A background reading takes what has come, up to the rest of its reply: its short
            // time-out could not hold a reply read one character per pass where a pass is a
            // coarse system clock's period (17 ms on Windows makes a position 170 ms).
            if (background) comm.setInputLen(replyLength - int16_t(reply.size()));
            reply += comm.input();
            clk.pace(pace, uint32_t(std::max<int16_t>(SleepTime, 0)));
        }
        comm.setPortOpen(false);
        return {reply, false, {}};
    } catch (const VbError& e) {
        // The port is closed before the message box, not after: the box runs its own event loop,
        // and nothing that runs inside it may find the port still held.
        if (comm.portOpen()) comm.setPortOpen(false);
        StopSpiral = true;
        VbError shown = e;
        // A stop that did not get through leaves the axis as it was, perhaps slewing.
        if (cmd::isMotorStop(command))
            shown.description += QStringLiteral("; the mount may still be moving");
        if (!background) reportError(shown);
        return {{}, true, shown.text()};
    }
}

} // namespace

} // namespace skyjog
