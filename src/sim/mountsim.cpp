#include "mountsim.h"
#include "commands.h"

#include <QDateTime>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>
#include <utility>

namespace skyjog::sim {

namespace {

constexpr double Never = std::numeric_limits<double>::infinity();
// One character is 10 bits on the line (start, 8 data, stop).
constexpr double ByteMs = 10.0 * 1000.0 / 9600.0;
// Rates are in quarter arc-seconds per second; a turn is 360 * 3600 * 4 of them.
constexpr double QasPerTurn = 360.0 * 3600.0 * 4.0;
constexpr double SiderealQas = 60.0;
// The sun and the moon drift east against the stars, so they need slower rates.
constexpr double SolarQas = SiderealQas * 0.997270;
constexpr double LunarQas = SiderealQas * 0.963400;

// The hand control's fixed rates 1-9.
constexpr double FixedRateQas[10] = {0,
                                     2 * SiderealQas,
                                     4 * SiderealQas,
                                     8 * SiderealQas,
                                     16 * SiderealQas,
                                     32 * SiderealQas,
                                     0.5 * 14400,
                                     1.0 * 14400,
                                     2.0 * 14400,
                                     4.0 * 14400};

// PEC: a worm turn of 7200 arc-seconds in 88 bins; recording takes one worm turn at the
// sidereal rate.
constexpr int PecBins = 88;
constexpr double WormArcsec = 7200.0;
constexpr double WormTurnMs = WormArcsec / (SiderealQas / 4.0) * 1000.0;

using cmd::AltMotor;
using cmd::AzMotor;

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray b;
    for (int v : values)
        b += char(uint8_t(v));
    return b;
}

double wrapTurn(double turns) {
    return turns - std::floor(turns);
}

// A fraction of a turn as n hex digits of a 16- or 32-bit value. A hair is added before rounding
// down so that a position that should be exactly on a step does not come out one step short.
QByteArray hexTurn(double turns, bool precise) {
    const double f = wrapTurn(turns);
    if (precise) {
        const uint32_t v = uint32_t(std::floor(f * 16777216.0 + 1e-6)) & 0xFFFFFFu;
        return QByteArray::number(v << 8, 16).toUpper().rightJustified(8, '0');
    }
    const uint32_t v = uint32_t(std::floor(f * 65536.0 + 1e-6)) & 0xFFFFu;
    return QByteArray::number(v, 16).toUpper().rightJustified(4, '0');
}

// Reads "XXXX,XXXX" (or the 8-digit form) into two fractions of a turn.
bool parseHexPair(const QByteArray& text, bool precise, double& a, double& b) {
    const int digits = precise ? 8 : 4;
    if (text.size() != 2 * digits + 1 || text[digits] != ',') return false;
    bool okA = false, okB = false;
    const uint64_t va = text.left(digits).toULongLong(&okA, 16);
    const uint64_t vb = text.mid(digits + 1).toULongLong(&okB, 16);
    if (!okA || !okB) return false;
    const double scale = precise ? 4294967296.0 : 65536.0;
    a = double(va) / scale;
    b = double(vb) / scale;
    return true;
}

QString hexBytes(const QByteArray& bytes) {
    QStringList parts;
    for (char c : bytes)
        parts << QString::number(uint8_t(c));
    return parts.join(u' ');
}

enum class Motion { Tracking, Variable, Fixed };

struct Axis {
    double turns = 0; // position at t0, unbounded (wrapped when reported)
    double t0 = 0;
    Motion motion = Motion::Tracking;
    double rate = 0; // qas/s, for Variable and Fixed
    uint8_t backlash[2] = {0, 0};
    uint8_t guideRate = 128;
    bool pecPlaying = false;
    double pecIndexAt = Never; // when the index is (or was) reached
    double pecRecordDoneAt = Never;
    uint8_t pecTable[PecBins] = {}; // one signed rate correction per bin
};

struct OutByte {
    double at;
    char byte;
};

struct PendingLog {
    double at;
    QByteArray bytes;
    QString note;
};

} // namespace

int commandLength(uint8_t first) {
    switch (first) {
    case 'K':
    case 'T':
        return 2;
    case 'P':
        return 8;
    case 'B':
    case 'R':
    case 'S':
        return 10;
    case 'b':
    case 'r':
    case 's':
        return 18;
    case 'H':
    case 'I':
    case 'W':
        return 9;
    default:
        return 1;
    }
}

std::optional<QByteArray> CommandFraming::take(char byte, double at) {
    partial_ += byte;
    lastAt_ = at;
    if (partial_.size() < commandLength(uint8_t(partial_[0]))) return std::nullopt;
    return drop();
}

double CommandFraming::expiresAt(double gapMs) const {
    return partial_.isEmpty() ? Never : lastAt_ + gapMs;
}

QByteArray CommandFraming::drop() {
    return std::exchange(partial_, QByteArray());
}

QString faultName(Fault fault) {
    switch (fault) {
    case Fault::None:
        return QStringLiteral("none");
    case Fault::Silent:
        return QStringLiteral("silent");
    case Fault::ShortReply:
        return QStringLiteral("short");
    case Fault::Garbage:
        return QStringLiteral("garbage");
    case Fault::ExtraBytes:
        return QStringLiteral("extra");
    case Fault::LateReply:
        return QStringLiteral("late");
    case Fault::Disconnect:
        return QStringLiteral("disconnect");
    }
    return {};
}

std::optional<Fault> faultFromName(const QString& name) {
    for (Fault f : {Fault::None, Fault::Silent, Fault::ShortReply, Fault::Garbage,
                    Fault::ExtraBytes, Fault::LateReply, Fault::Disconnect})
        if (name.compare(faultName(f), Qt::CaseInsensitive) == 0) return f;
    return std::nullopt;
}

struct MountSim::Impl {
    Options opt;

    // Model time is milliseconds since the first clock reading, as a double.
    bool started = false;
    int64_t firstMs = 0;
    int64_t lastMs = 0;
    double now = 0;
    // A microsecond clock is read against the model time of its first reading, so that no
    // rounding builds up however long it runs.
    bool usStarted = false;
    int64_t usBase = 0;
    double usBaseNow = 0;

    Axis axes[2];
    uint8_t trackingMode = cmd::TrackingAltAz;
    uint8_t location[8] = {};
    QDateTime hcTime; // the hand control's local time at hcTimeAt
    double hcTimeAt = 0;
    int utcOffsetQuarters = 0;
    bool dst = false;

    std::deque<OutByte> inbound; // command bytes on their way in
    double inLineFreeAt = 0;
    CommandFraming framing;

    std::deque<OutByte> outbound; // reply bytes on their way out, or waiting to be read
    double outLineFreeAt = 0;
    std::deque<PendingLog> pendingLogs; // replies not yet started

    double lastCommandAt = -Never;
    bool disconnected = false;
    int answered = 0;
    int faultsFired = 0;

    // Bounded to the most recent opt.logLimit: a client that polls once a second would otherwise
    // grow them by tens of megabytes a day.
    std::deque<QByteArray> commands;
    std::deque<LogEntry> log;
    int64_t logDropped = 0;
    std::function<void(const LogEntry&)> listener;

    explicit Impl(Options o) { reset(std::move(o)); }

    void reset(Options o) {
        auto keepListener = std::move(listener);
        *this = Impl{};
        listener = std::move(keepListener);
        opt = std::move(o);
        axes[0].turns = opt.azimuth / 65536.0;
        axes[1].turns = opt.altitude / 65536.0;
        for (int a = 0; a < 2; ++a) {
            axes[a].backlash[0] = opt.backlash[a][0];
            axes[a].backlash[1] = opt.backlash[a][1];
            axes[a].guideRate = opt.guideRate[a];
        }
        trackingMode =
            opt.trackingMode <= cmd::TrackingEqSouth ? opt.trackingMode : cmd::TrackingOff;
        std::copy(std::begin(opt.location), std::end(opt.location), location);
        const QDateTime local = QDateTime::currentDateTime();
        hcTime = QDateTime(local.date(), local.time(), Qt::UTC);
        utcOffsetQuarters = local.offsetFromUtc() / 900;
    }
    Impl() = default;
    Impl& operator=(Impl&&) = default;

    // --- time -----------------------------------------------------------------------------

    // Moves model time to the caller's clock reading and runs what has happened by then.
    double sync(int64_t ms) {
        clockTo(ms);
        advance(now);
        return now;
    }

    // Reads the caller's clock; a reading from the past changes nothing.
    void clockTo(int64_t ms) {
        if (!started) {
            started = true;
            firstMs = lastMs = ms;
            now = 0;
        } else if (ms > lastMs) {
            now += double(ms - lastMs);
            lastMs = ms;
        }
    }

    double syncUs(int64_t us) {
        clockToUs(us);
        advance(now);
        return now;
    }

    // The same for a microsecond clock. The log keeps whole milliseconds of that clock.
    void clockToUs(int64_t us) {
        if (!usStarted) {
            usStarted = true;
            if (!started) {
                started = true;
                // Model time 0 is the whole millisecond the first reading falls in.
                const int64_t ms = us >= 0 ? us / 1000 : -((-us + 999) / 1000);
                firstMs = lastMs = ms;
                now = double(us - ms * 1000) / 1000.0;
            }
            usBase = us;
            usBaseNow = now;
            return;
        }
        const double t = usBaseNow + double(us - usBase) / 1000.0;
        if (t > now) now = t;
    }

    int64_t msOf(double t) const { return firstMs + int64_t(std::llround(t)); }

    // --- axes -----------------------------------------------------------------------------

    double trackingRate(int axis) const {
        // Every tracking mode turns the azimuth/RA axis at the sidereal rate and holds the other:
        // a stand-in for the sky's motion that is the same whatever the mount points at.
        return (trackingMode != cmd::TrackingOff && axis == 0) ? SiderealQas : 0.0;
    }

    double rateOf(int axis) const {
        const Axis& x = axes[axis];
        return x.motion == Motion::Tracking ? trackingRate(axis) : x.rate;
    }

    double turnsAt(int axis, double t) const {
        const Axis& x = axes[axis];
        return x.turns + rateOf(axis) * (t - x.t0) / 1000.0 / QasPerTurn;
    }

    void fold(double t) {
        for (int a = 0; a < 2; ++a) {
            axes[a].turns = turnsAt(a, t);
            axes[a].t0 = t;
        }
    }

    // A variable rate set from outside reverts to tracking when nothing has been said for a while.
    double revertAt() const {
        if (trackingMode == cmd::TrackingOff || opt.revertMs == 0) return Never;
        if (axes[0].motion != Motion::Variable && axes[1].motion != Motion::Variable) return Never;
        return lastCommandAt + opt.revertMs;
    }

    bool pecIndexFound(double t) const { return axes[0].pecIndexAt <= t; }

    // --- the event loop -------------------------------------------------------------------

    void addLog(double t, bool fromClient, QByteArray bytes, QString note) {
        LogEntry entry{msOf(t), fromClient, std::move(bytes), std::move(note)};
        if (listener) listener(entry);
        log.push_back(std::move(entry));
        for (; log.size() > size_t(std::max(opt.logLimit, 0)); ++logDropped)
            log.pop_front();
    }

    // Runs everything that happens up to time t, in time order.
    void advance(double t) {
        for (;;) {
            const double tr = pendingLogs.empty() ? Never : pendingLogs.front().at;
            const double ta = inbound.empty() ? Never : inbound.front().at;
            const double td = framing.expiresAt(opt.commandGapMs);
            const double tv = revertAt();
            const double next = std::min({tr, ta, td, tv});
            if (next > t) break;
            if (tr == next) {
                PendingLog p = std::move(pendingLogs.front());
                pendingLogs.pop_front();
                addLog(p.at, false, std::move(p.bytes), std::move(p.note));
            } else if (ta == next) {
                const OutByte b = inbound.front();
                inbound.pop_front();
                takeCommandByte(b);
            } else if (td == next) {
                addLog(td, true, framing.drop(),
                       QStringLiteral("incomplete command, dropped unanswered"));
            } else {
                fold(tv);
                for (Axis& x : axes)
                    if (x.motion == Motion::Variable) x.motion = Motion::Tracking;
            }
        }
    }

    void takeCommandByte(const OutByte& b) {
        if (std::optional<QByteArray> command = framing.take(b.byte, b.at)) execute(*command, b.at);
    }

    void receive(const QByteArray& bytes, double t) {
        if (disconnected) return;
        double at = std::max(t, inLineFreeAt);
        for (char c : bytes) {
            if (opt.pace9600) at += ByteMs;
            inbound.push_back({at, c});
        }
        inLineFreeAt = at;
        advance(now);
    }

    // --- commands -------------------------------------------------------------------------

    void execute(const QByteArray& cmd, double t) {
        // On a microsecond clock a command falls between the log's milliseconds; its motion
        // dates from the logged one, so that the log still accounts exactly for where the axes
        // went (half a millisecond is far below a position step at any rate).
        fold(usStarted ? std::round(t) : t);
        lastCommandAt = t;
        commands.push_back(cmd);
        while (commands.size() > size_t(std::max(opt.logLimit, 0)))
            commands.pop_front();
        std::optional<QByteArray> reply = respond(cmd, t);
        addLog(t, true, cmd, describe(cmd, reply.has_value()));
        if (!reply) return;

        const bool faulty = opt.fault != Fault::None && answered >= opt.faultSkip &&
                            (opt.faultCount < 0 || faultsFired < opt.faultCount);
        ++answered;
        double delay = opt.latencyMs;
        QString note;
        if (faulty) {
            ++faultsFired;
            note = QStringLiteral("fault: ") + faultName(opt.fault);
            switch (opt.fault) {
            case Fault::None:
                break;
            case Fault::Silent:
                addLog(t, false, {}, QStringLiteral("fault: silent, no reply"));
                return;
            case Fault::ShortReply:
                reply->chop(1);
                break;
            case Fault::Garbage:
                for (char& c : *reply)
                    c = char(~uint8_t(c));
                break;
            case Fault::ExtraBytes:
                *reply += opt.extraBytes;
                break;
            case Fault::LateReply:
                delay = opt.lateReplyMs;
                break;
            case Fault::Disconnect:
                addLog(t, false, {}, QStringLiteral("fault: disconnect, the line is dropped"));
                dropLine();
                disconnected = true;
                return;
            }
        }
        send(*reply, t + delay, note);
    }

    void send(const QByteArray& bytes, double at, const QString& note) {
        double start = std::max(at, outLineFreeAt);
        pendingLogs.push_back({start, bytes, note});
        double byteAt = start;
        for (char c : bytes) {
            if (opt.pace9600) byteAt += ByteMs;
            outbound.push_back({byteAt, c});
        }
        outLineFreeAt = byteAt;
    }

    void dropLine() {
        inbound.clear();
        framing.drop();
        outbound.clear();
        pendingLogs.clear();
        inLineFreeAt = outLineFreeAt = 0;
    }

    QByteArray position(bool precise) const {
        return hexTurn(turnsAt(0, now), precise) + ',' + hexTurn(turnsAt(1, now), precise) + '#';
    }

    // Sets both axes at once: GoTo arrives at once, sync simply declares where the mount is.
    void place(const QByteArray& args, bool precise) {
        double a = 0, b = 0;
        if (!parseHexPair(args, precise, a, b)) return;
        axes[0].turns = a;
        axes[1].turns = b;
        for (Axis& x : axes)
            x.motion = Motion::Tracking;
    }

    QByteArray clockReply(bool quarters) const {
        const QDateTime t = hcTime.addMSecs(qint64(now - hcTimeAt));
        const int offset = quarters ? utcOffsetQuarters : utcOffsetQuarters / 4;
        QByteArray r;
        r += char(t.time().hour());
        r += char(t.time().minute());
        r += char(t.time().second());
        r += char(t.date().month());
        r += char(t.date().day());
        r += char(t.date().year() - 2000);
        r += char(uint8_t(int8_t(offset)));
        r += char(dst ? 1 : 0);
        return r + '#';
    }

    void setClock(const QByteArray& cmd, bool quarters) {
        const auto u = [&](int i) { return int(uint8_t(cmd[i])); };
        const QDate date(2000 + u(6), u(4), u(5));
        const QTime time(u(1), u(2), u(3));
        if (date.isValid() && time.isValid()) {
            hcTime = QDateTime(date, time, Qt::UTC);
            hcTimeAt = now;
        }
        const int offset = int8_t(uint8_t(cmd[7]));
        utcOffsetQuarters = quarters ? offset : offset * 4;
        dst = cmd[8] != 0;
    }

    std::optional<QByteArray> respond(const QByteArray& cmd, double t) {
        const uint8_t c = uint8_t(cmd[0]);
        switch (c) {
        case 'K':
            return QByteArray(1, cmd[1]) + '#';
        case 'V':
            return bytes({opt.handControlVersion[0], opt.handControlVersion[1], '#'});
        case 'm':
            return bytes({opt.model, '#'});
        case 'J':
            return bytes({1, '#'});
        case 'L':
            return QByteArray("0#");
        case 'M':
            return QByteArray("#");
        case 'T': {
            const uint8_t mode = uint8_t(cmd[1]);
            if (mode <= skyjog::cmd::TrackingEqSouth) {
                trackingMode = mode;
                for (Axis& x : axes)
                    x.motion = Motion::Tracking;
            }
            return QByteArray("#");
        }
        case 't':
            return bytes({trackingMode, '#'});
        case 'Z':
        case 'E':
            return position(false);
        case 'z':
        case 'e':
            return position(true);
        case 'p':
            // A German mount reports the side of the pier; this one stays on the east side,
            // looking west, as it starts up after an alignment.
            return QByteArray("W#");
        case 'w':
            return QByteArray(reinterpret_cast<const char*>(location), 8) + '#';
        case 'W':
            for (int i = 0; i < 8; ++i)
                location[i] = uint8_t(cmd[1 + i]);
            return QByteArray("#");
        case 'h':
            return clockReply(false);
        case 'i':
            return clockReply(true);
        case 'H':
        case 'I':
            setClock(cmd, c == 'I');
            return QByteArray("#");
        case 'R':
        case 'B':
        case 'S':
            place(cmd.mid(1), false);
            return QByteArray("#");
        case 'r':
        case 'b':
        case 's':
            place(cmd.mid(1), true);
            return QByteArray("#");
        case 'P':
            return passThrough(cmd, t);
        case 'v':
            // The variant (0x11, NexStar) is known to hand controls from version 5.28 on; older
            // ones do not answer it.
            if (opt.handControlVersion[0] * 100 + opt.handControlVersion[1] < 528)
                return std::nullopt;
            return bytes({0x11, '#'});
        default:
            return std::nullopt; // unknown to the hand control: no reply
        }
    }

    QByteArray passThrough(const QByteArray& command, double t) {
        const auto u = [&](int i) { return uint8_t(command[i]); };
        const uint8_t len = u(1), dest = u(2), id = u(3), d1 = u(4), d2 = u(5), d3 = u(6);
        const int n = u(7);
        const QByteArray failed = QByteArray(n + 1, '\0') + '#';
        if (dest != AzMotor && dest != AltMotor) return failed; // no such device
        Axis& x = axes[dest - AzMotor];

        QByteArray data;
        switch (id) {
        case cmd::MsgSlewPositive:
        case cmd::MsgSlewNegative: {
            const double sign = id == cmd::MsgSlewPositive ? 1.0 : -1.0;
            double rate = 0;
            if (len >= 4) {
                // 24-bit form in 1/1024 arc-second per second.
                rate = double((d1 << 16) | (d2 << 8) | d3) / 1024.0 * 4.0;
            } else {
                const uint16_t v = uint16_t((d1 << 8) | d2);
                rate = v == 0xFFFF   ? SiderealQas
                       : v == 0xFFFE ? SolarQas
                       : v == 0xFFFD ? LunarQas
                                     : double(v);
            }
            x.motion = Motion::Variable;
            x.rate = sign * rate;
            break;
        }
        case cmd::MsgFixedPositive:
        case cmd::MsgFixedNegative:
            if (d1 == 0) {
                // A stop ends whatever move the axis makes, fixed or variable; the axis goes back
                // to the tracking rate (none when tracking is off).
                x.motion = Motion::Tracking;
            } else {
                x.motion = Motion::Fixed;
                x.rate =
                    (id == cmd::MsgFixedPositive ? 1.0 : -1.0) * FixedRateQas[std::min<int>(d1, 9)];
            }
            break;
        case cmd::MsgBacklashPositive:
        case cmd::MsgBacklashNegative:
            x.backlash[id - cmd::MsgBacklashPositive] = d1;
            break;
        case cmd::MsgGetBacklashPositive:
        case cmd::MsgGetBacklashNegative:
            data += char(x.backlash[id - cmd::MsgGetBacklashPositive]);
            break;
        case cmd::MsgSetGuideRate:
            x.guideRate = d1;
            break;
        case cmd::MsgGetGuideRate:
            data += char(x.guideRate);
            break;
        case cmd::MsgVersion:
            data += char(opt.motorVersion[0]);
            data += char(opt.motorVersion[1]);
            break;
        case cmd::MsgSeekPecIndex: // seek the PEC index; once found it stays found
            if (x.pecIndexAt == Never) x.pecIndexAt = t + opt.pecSeekMs;
            break;
        case cmd::MsgAtPecIndex:
            data += char(x.pecIndexAt <= t ? 0xFF : 0x00);
            break;
        case cmd::MsgPecPlayback:
            x.pecPlaying = d1 != 0;
            break;
        case cmd::MsgPecBin: { // the PEC bin the worm is in now
            const double arcsec = wrapTurn(turnsAt(dest - AzMotor, t)) * QasPerTurn / 4.0;
            data += char(int(std::fmod(arcsec, WormArcsec) / WormArcsec * PecBins) % PecBins);
            break;
        }
        case cmd::MsgPecRecordStart: // PEC recording: start, stop, done?
            x.pecRecordDoneAt = t + WormTurnMs;
            break;
        case cmd::MsgPecRecordStop:
            x.pecRecordDoneAt = Never;
            break;
        case cmd::MsgPecRecordDone:
            data += char(x.pecRecordDoneAt <= t ? 1 : 0);
            break;
        case cmd::MsgPecRead: // PEC memory: 0x3F holds the number of bins, 0x40 + i bin i's value
            if (d1 == 0x3F)
                data += char(PecBins);
            else if (d1 >= 0x40 && d1 < 0x40 + PecBins)
                data += char(x.pecTable[d1 - 0x40]);
            else
                return failed;
            break;
        case cmd::MsgPecWrite:
            if (d1 < 0x40 || d1 >= 0x40 + PecBins) return failed;
            x.pecTable[d1 - 0x40] = d2;
            break;
        case cmd::MsgGetPosition: { // the motor's position, 24 bits
            const uint32_t p =
                uint32_t(std::floor(wrapTurn(turnsAt(dest - AzMotor, t)) * 16777216.0 + 1e-6)) &
                0xFFFFFFu;
            data += char(p >> 16);
            data += char(p >> 8);
            data += char(p);
            break;
        }
        case cmd::MsgGotoDone: // a GoTo arrives at once, so it is always done
            data += char(0xFF);
            break;
        default:
            return failed; // unknown message
        }
        // The reply carries exactly as many data bytes as the command asked for.
        data = data.leftJustified(n, '\0', true);
        return data + '#';
    }

    // A few words on a command for the log.
    QString describe(const QByteArray& command, bool answered) const {
        const uint8_t c = uint8_t(command[0]);
        QString s;
        switch (c) {
        case 'K':
            s = QStringLiteral("echo");
            break;
        case 'V':
            s = QStringLiteral("version");
            break;
        case 'v':
            s = QStringLiteral("variant");
            break;
        case 'm':
            s = QStringLiteral("model");
            break;
        case 'J':
            s = QStringLiteral("alignment complete?");
            break;
        case 'L':
            s = QStringLiteral("goto in progress?");
            break;
        case 'M':
            s = QStringLiteral("cancel goto");
            break;
        case 'T':
            s = QStringLiteral("set tracking mode %1").arg(uint8_t(command[1]));
            break;
        case 't':
            s = QStringLiteral("get tracking mode");
            break;
        case 'Z':
        case 'z':
            s = QStringLiteral("get azm-alt");
            break;
        case 'E':
        case 'e':
            s = QStringLiteral("get ra-dec");
            break;
        case 'P': {
            const int dest = uint8_t(command[2]), id = uint8_t(command[3]);
            const QString motor = dest == AzMotor    ? QStringLiteral("azm")
                                  : dest == AltMotor ? QStringLiteral("alt")
                                                     : QStringLiteral("device %1").arg(dest);
            const int v16 = (uint8_t(command[4]) << 8) | uint8_t(command[5]);
            switch (id) {
            case cmd::MsgSlewPositive:
            case cmd::MsgSlewNegative:
                s = QStringLiteral("%1 variable rate %2%3")
                        .arg(motor, id == cmd::MsgSlewPositive ? "+" : "-")
                        .arg(v16);
                break;
            case cmd::MsgFixedPositive:
            case cmd::MsgFixedNegative:
                s = uint8_t(command[4]) == 0
                        ? QStringLiteral("%1 stop").arg(motor)
                        : QStringLiteral("%1 fixed rate %2%3")
                              .arg(motor, id == cmd::MsgFixedPositive ? "+" : "-")
                              .arg(uint8_t(command[4]));
                break;
            case cmd::MsgBacklashPositive:
            case cmd::MsgBacklashNegative:
                s = QStringLiteral("%1 set backlash %2 %3")
                        .arg(motor, id == cmd::MsgBacklashPositive ? "+" : "-")
                        .arg(uint8_t(command[4]));
                break;
            case cmd::MsgGetBacklashPositive:
            case cmd::MsgGetBacklashNegative:
                s = QStringLiteral("%1 get backlash %2")
                        .arg(motor, id == cmd::MsgGetBacklashPositive ? "+" : "-");
                break;
            case cmd::MsgSetGuideRate:
                s = QStringLiteral("%1 set guide rate %2").arg(motor).arg(uint8_t(command[4]));
                break;
            case cmd::MsgGetGuideRate:
                s = QStringLiteral("%1 get guide rate").arg(motor);
                break;
            case cmd::MsgVersion:
                s = QStringLiteral("%1 version").arg(motor);
                break;
            case cmd::MsgSeekPecIndex:
                s = QStringLiteral("%1 seek PEC index").arg(motor);
                break;
            case cmd::MsgAtPecIndex:
                s = QStringLiteral("%1 at PEC index?").arg(motor);
                break;
            case cmd::MsgPecPlayback:
                s = QStringLiteral("%1 PEC playback %2").arg(motor, command[4] ? "on" : "off");
                break;
            case cmd::MsgPecBin:
                s = QStringLiteral("%1 PEC bin?").arg(motor);
                break;
            case cmd::MsgPecRecordStart:
            case cmd::MsgPecRecordStop:
                s = QStringLiteral("%1 PEC record %2")
                        .arg(motor, id == cmd::MsgPecRecordStart ? "start" : "stop");
                break;
            case cmd::MsgPecRecordDone:
                s = QStringLiteral("%1 PEC record done?").arg(motor);
                break;
            case cmd::MsgPecRead:
            case cmd::MsgPecWrite:
                s = QStringLiteral("%1 PEC %2 %3")
                        .arg(motor, id == cmd::MsgPecRead ? "read" : "write")
                        .arg(uint8_t(command[4]));
                break;
            default:
                s = QStringLiteral("%1 message %2").arg(motor).arg(id);
            }
            break;
        }
        case 'p':
            s = QStringLiteral("pier side");
            break;
        case 'w':
        case 'W':
            s = c == 'w' ? QStringLiteral("get location") : QStringLiteral("set location");
            break;
        case 'h':
        case 'i':
        case 'H':
        case 'I':
            s = (c == 'h' || c == 'i') ? QStringLiteral("get time") : QStringLiteral("set time");
            break;
        case 'R':
        case 'r':
        case 'B':
        case 'b':
            s = QStringLiteral("goto");
            break;
        case 'S':
        case 's':
            s = QStringLiteral("sync");
            break;
        default:
            s = (c > 32 && c < 127) ? QStringLiteral("unknown command '%1'").arg(QChar(c))
                                    : QStringLiteral("unknown command");
        }
        if (!answered) s += QStringLiteral(", not answered");
        return s;
    }
};

MountSim::MountSim(Options options) : d(std::make_unique<Impl>(std::move(options))) {}
MountSim::~MountSim() = default;

Options& MountSim::options() {
    return d->opt;
}
void MountSim::reset(Options options) {
    d->reset(std::move(options));
}

void MountSim::receive(const QByteArray& bytes, int64_t nowMs) {
    // The bytes join the line before time moves on, so that a byte arriving just as an
    // incomplete command would expire still completes it.
    d->clockTo(nowMs);
    d->receive(bytes, d->now);
}

QByteArray MountSim::takeOutput(int64_t nowMs, int maxBytes) {
    return takeDue(d->sync(nowMs), maxBytes);
}

QByteArray MountSim::takeDue(double t, int maxBytes) {
    QByteArray out;
    while (!d->outbound.empty() && out.size() < maxBytes && d->outbound.front().at <= t) {
        out += d->outbound.front().byte;
        d->outbound.pop_front();
    }
    return out;
}

bool MountSim::disconnected() const {
    return d->disconnected;
}

void MountSim::reconnect() {
    d->dropLine();
    d->disconnected = false;
}

void MountSim::receiveUs(const QByteArray& bytes, int64_t nowUs) {
    d->clockToUs(nowUs);
    d->receive(bytes, d->now);
}

QByteArray MountSim::takeOutputUs(int64_t nowUs, int maxBytes) {
    return takeDue(d->syncUs(nowUs), maxBytes);
}

int64_t MountSim::usUntilNextEvent(int64_t nowUs) {
    const double t = d->syncUs(nowUs);
    const double next = nextEventAt();
    if (next == Never) return -1;
    return int64_t(std::max(0.0, std::ceil((next - t) * 1000.0 - 1e-6)));
}

double MountSim::nextEventAt() const {
    double next = Never;
    if (!d->outbound.empty()) next = std::min(next, d->outbound.front().at);
    if (!d->pendingLogs.empty()) next = std::min(next, d->pendingLogs.front().at);
    if (!d->inbound.empty()) next = std::min(next, d->inbound.front().at);
    next = std::min(next, d->framing.expiresAt(d->opt.commandGapMs));
    return next;
}

int MountSim::msUntilNextEvent(int64_t nowMs) {
    const double t = d->sync(nowMs);
    const double next = nextEventAt();
    if (next == Never) return -1;
    return int(std::max(0.0, std::ceil(next - t)));
}

void MountSim::setLogListener(std::function<void(const LogEntry&)> listener) {
    d->listener = std::move(listener);
}

QVector<QByteArray> MountSim::commands() const {
    return QVector<QByteArray>(d->commands.begin(), d->commands.end());
}

QVector<LogEntry> MountSim::log() const {
    return QVector<LogEntry>(d->log.begin(), d->log.end());
}

int64_t MountSim::droppedLogEntries() const {
    return d->logDropped;
}

void MountSim::clearLog() {
    d->log.clear();
    d->commands.clear();
    d->logDropped = 0;
}

QString MountSim::formatLogEntry(const LogEntry& e) {
    QString line = QStringLiteral("%1 %2 %3")
                       .arg(e.timeMs, 10)
                       .arg(e.fromClient ? QStringLiteral("cmd  ") : QStringLiteral("reply"))
                       .arg(e.bytes.isEmpty() ? QStringLiteral("-") : hexBytes(e.bytes));
    if (!e.note.isEmpty()) line += QStringLiteral("  (") + e.note + u')';
    return line;
}

QString MountSim::logText() const {
    QString text;
    if (d->logDropped > 0)
        text += QStringLiteral("(%1 earlier entries dropped; the last %2 follow)\n")
                    .arg(d->logDropped)
                    .arg(d->log.size());
    for (const LogEntry& e : d->log)
        text += formatLogEntry(e) + u'\n';
    return text;
}

double MountSim::azimuthDegrees(int64_t nowMs) const {
    const double t = d->sync(nowMs);
    return wrapTurn(d->turnsAt(0, t)) * 360.0;
}

double MountSim::altitudeDegrees(int64_t nowMs) const {
    const double t = d->sync(nowMs);
    return (wrapTurn(d->turnsAt(1, t) + 0.5) - 0.5) * 360.0;
}

uint8_t MountSim::trackingMode() const {
    return d->trackingMode;
}

uint8_t MountSim::backlash(int motor, bool positive) const {
    return d->axes[motor == AltMotor ? 1 : 0].backlash[positive ? 0 : 1];
}

uint8_t MountSim::guideRate(int motor) const {
    return d->axes[motor == AltMotor ? 1 : 0].guideRate;
}

bool MountSim::pecPlaying() const {
    return d->axes[0].pecPlaying;
}

bool MountSim::pecIndexFound(int64_t nowMs) const {
    const double t = d->sync(nowMs);
    return d->pecIndexFound(t);
}

double MountSim::axisRate(int motor) const {
    return d->rateOf(motor == AltMotor ? 1 : 0);
}

bool MountSim::axisMoving(int motor) const {
    return d->axes[motor == AltMotor ? 1 : 0].motion != Motion::Tracking;
}

QString modelDescription() {
    return QStringLiteral(
        "The simulated mount is a hand control with two motor controllers: 16, the azimuth (RA)\n"
        "axis, and 17, the altitude (Dec) axis.\n"
        "\n"
        "Framing: the first byte of a command fixes its length (K T 2; P 8; B R S 10; b r s 18;\n"
        "H I W 9; all others 1). A command whose next byte is more than the gap time (250 ms)\n"
        "late is dropped unanswered. Unknown commands get no reply; v (variant) gets 17 # only\n"
        "from a hand-control version of 5.28 on (the default version, 4.41, does not answer).\n"
        "\n"
        "Replies: K x -> x#; V -> 4 41 #; m -> 20 # (AVX); J -> 1 #; L -> 0#; M -> #; T n -> #;\n"
        "t -> mode #; Z/E -> AAAA,BBBB#; z/e -> AAAAAA00,BBBBBB00# (E and e report the same axis\n"
        "angles as Z and z); p -> W#; w -> 8 site bytes #; h/i -> 8 clock bytes #; H I W -> #;\n"
        "GoTo (R r B b) and sync (S s) place both axes at once and answer #.\n"
        "Pass-through P len dest id d1 d2 d3 n to 16 or 17: ids 6/7 variable rate (+/-, quarter\n"
        "arc-seconds per second; FFFF FFFE FFFD sidereal, solar, lunar; the 3-byte form is in\n"
        "1/1024 arc-seconds per second); 36/37 fixed rate 1-9 (2x 4x 8x 16x 32x sidereal, 0.5 1\n"
        "2 4 degrees per second), 0 stops; 16/17 set and 64/65 get anti-backlash; 70 set and 71\n"
        "get the autoguide rate; 25 seek PEC index, 24 at index (00 until the seek is done\n"
        "after 2 s, then FF); 13 PEC playback on/off; 14 PEC bin (88 bins over a 7200\n"
        "arc-second worm turn); 12/22 start/stop PEC recording, 21 recording done (after one\n"
        "worm turn, 8 minutes); 48/49 read/write PEC memory; 254 version 7.11; 1 position;\n"
        "19 GoTo done. A reply has exactly n data bytes, then #; another device, or an unknown\n"
        "id, gets n+1 zero bytes, then #.\n"
        "\n"
        "Motion: each axis runs at one rate at a time. A variable-rate or fixed-rate command\n"
        "replaces what the axis did before. A fixed-rate stop (36 or 37 with rate 0) ends the\n"
        "axis's move, fixed or variable, and the axis goes back to its tracking rate. A tracking\n"
        "mode change (T) puts both axes back to the new mode's tracking rates, ending any move;\n"
        "T 0 (off) stops both. Tracking (modes 1-3) turns the azimuth/RA axis at the sidereal\n"
        "rate (15 arc-seconds per second, positive) and holds the other axis. With tracking on,\n"
        "a variable rate falls back to the tracking rate after 20 s without any command.\n"
        "Positive moves increase the reported angle; angles wrap (an altitude of -90 degrees\n"
        "is C000).\n"
        "\n"
        "Starting values: position 0000,0000, tracking mode 1 (Alt/Az), anti-backlash 0 on\n"
        "both axes and directions, autoguide rates 128 (50 % of sidereal).\n");
}

} // namespace skyjog::sim
