#include "mountsim.h"
#include "commands.h"
#include "commandtable.h"

#include <QDateTime>
#include <QRandomGenerator>
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

// Whether a rule for lost commands picks a command.
bool picks(const Loss& rule, const QByteArray& command) {
    const bool frame = command[0] == 'P' && command.size() == 8;
    if (rule.motor != 0 && (!frame || uint8_t(command[2]) != rule.motor)) return false;
    const uint8_t id = frame ? uint8_t(command[3]) : 0;
    const bool fixed = id == cmd::MsgFixedPositive || id == cmd::MsgFixedNegative;
    const bool stop = fixed && command[4] == 0;
    switch (rule.kind) {
    case LossKind::Stop:
        return stop;
    case LossKind::Fixed:
        return fixed && !stop;
    case LossKind::Variable:
        return id == cmd::MsgSlewPositive || id == cmd::MsgSlewNegative;
    case LossKind::Tracking:
        return command[0] == 'T';
    case LossKind::Letter:
        return command[0] == rule.letter;
    }
    return false;
}

} // namespace

int commandLength(uint8_t first) {
    // A byte no hand control knows is a command of its own: the hand control ignores it and
    // reads the next byte afresh.
    const cmd::CommandInfo* c = cmd::findCommand(first);
    return c ? c->length : 1;
}

std::optional<QByteArray> CommandFraming::take(char byte, double at) {
    partial_ += byte;
    lastAt_ = at;
    // An unknown first byte is complete on its own.
    if (cmd::frameCommand(partial_).state == cmd::Framing::State::NeedMore) return std::nullopt;
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

std::optional<Loss> lossFromText(const QString& text) {
    const QStringList parts = text.split(u':');
    if (parts.size() > 3) return std::nullopt;
    Loss loss;
    QString kind = parts[0];
    if (const qsizetype at = kind.indexOf(u'@'); at >= 0) {
        const QString motor = kind.mid(at + 1).toLower();
        loss.motor = (motor == u"azm" || motor == u"16")   ? AzMotor
                     : (motor == u"alt" || motor == u"17") ? AltMotor
                                                           : 0;
        if (loss.motor == 0) return std::nullopt;
        kind.truncate(at);
    }
    static const std::pair<const char*, LossKind> kinds[] = {{"stop", LossKind::Stop},
                                                             {"fixed", LossKind::Fixed},
                                                             {"variable", LossKind::Variable},
                                                             {"tracking", LossKind::Tracking}};
    const auto named = std::find_if(std::begin(kinds), std::end(kinds), [&](const auto& k) {
        return kind.compare(QLatin1String(k.first), Qt::CaseInsensitive) == 0;
    });
    if (named != std::end(kinds)) {
        loss.kind = named->second;
    } else if (kind.size() == 1 && kind[0].unicode() < 256) {
        loss.kind = LossKind::Letter;
        loss.letter = char(kind[0].unicode());
    } else {
        return std::nullopt;
    }
    bool ok = true;
    if (parts.size() > 1) {
        loss.count = parts[1].compare(u"all", Qt::CaseInsensitive) == 0 ? -1 : parts[1].toInt(&ok);
        if (!ok || loss.count == 0 || loss.count < -1) return std::nullopt;
    }
    if (parts.size() > 2) {
        loss.skip = parts[2].toInt(&ok);
        if (!ok || loss.skip < 0) return std::nullopt;
    }
    return loss;
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
    QVector<int> lossSeen; // by rule, the commands it has picked
    QRandomGenerator lossChance;

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
        lossChance.seed(opt.loseSeed);
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
        commands.push_back(cmd);
        while (commands.size() > size_t(std::max(opt.logLimit, 0)))
            commands.pop_front();
        if (lost(cmd)) {
            // It never reached the hand control's logic, so it does not count as a command
            // heard either.
            addLog(t, true, cmd, cmd::describeCommand(cmd) + QStringLiteral(", lost on the line"));
            return;
        }
        // On a microsecond clock a command falls between the log's milliseconds; its motion
        // dates from the logged one, so that the log still accounts exactly for where the axes
        // went (half a millisecond is far below a position step at any rate).
        fold(usStarted ? std::round(t) : t);
        lastCommandAt = t;
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

    // Chance is drawn for every command and every rule that picks a command counts it, so that
    // each rule and the random sequence lose what they say however they overlap.
    bool lost(const QByteArray& cmd) {
        bool lose = opt.loseShare > 0 && lossChance.generateDouble() < opt.loseShare;
        if (lossSeen.size() < opt.lose.size()) lossSeen.resize(opt.lose.size());
        for (qsizetype i = 0; i < opt.lose.size(); ++i) {
            const Loss& rule = opt.lose[i];
            if (!picks(rule, cmd)) continue;
            const int seen = lossSeen[i]++;
            if (seen >= rule.skip && (rule.count < 0 || seen - rule.skip < rule.count)) lose = true;
        }
        return lose;
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
    QByteArray place(const QByteArray& cmd, bool precise) {
        double a = 0, b = 0;
        if (parseHexPair(cmd.mid(1), precise, a, b)) {
            axes[0].turns = a;
            axes[1].turns = b;
            for (Axis& x : axes)
                x.motion = Motion::Tracking;
        }
        return "#";
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

    QByteArray setClock(const QByteArray& cmd, bool quarters) {
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
        return "#";
    }

    // What the hand control does with each command it knows: the whole reply, or nothing when
    // it stays silent.
    struct LetterHandler {
        char letter;
        QByteArray (*reply)(Impl& s, const QByteArray& cmd, double t);
    };

    static const LetterHandler* letterHandler(uint8_t letter) {
        static const LetterHandler handlers[] = {
            {'K', [](auto&, auto& c, double) { return QByteArray(1, c[1]) + '#'; }},
            {'V',
             [](auto& s, auto&, double) {
                 return bytes({s.opt.handControlVersion[0], s.opt.handControlVersion[1], '#'});
             }},
            {'m',
             [](auto& s, auto&, double) {
                 return bytes({s.opt.model, '#'});
             }},
            {'J',
             [](auto&, auto&, double) {
                 return bytes({1, '#'});
             }},
            {'L', [](auto&, auto&, double) { return QByteArray("0#"); }},
            {'M', [](auto&, auto&, double) { return QByteArray("#"); }},
            {'T', [](auto& s, auto& c, double) { return s.setTracking(uint8_t(c[1])); }},
            {'t',
             [](auto& s, auto&, double) {
                 return bytes({s.trackingMode, '#'});
             }},
            {'Z', [](auto& s, auto&, double) { return s.position(false); }},
            {'E', [](auto& s, auto&, double) { return s.position(false); }},
            {'z', [](auto& s, auto&, double) { return s.position(true); }},
            {'e', [](auto& s, auto&, double) { return s.position(true); }},
            // A German mount reports the side of the pier; this one stays on the east side,
            // looking west, as it starts up after an alignment.
            {'p', [](auto&, auto&, double) { return QByteArray("W#"); }},
            {'w',
             [](auto& s, auto&, double) {
                 return QByteArray(reinterpret_cast<const char*>(s.location), 8) + '#';
             }},
            {'W', [](auto& s, auto& c, double) { return s.setLocation(c); }},
            {'h', [](auto& s, auto&, double) { return s.clockReply(false); }},
            {'i', [](auto& s, auto&, double) { return s.clockReply(true); }},
            {'H', [](auto& s, auto& c, double) { return s.setClock(c, false); }},
            {'I', [](auto& s, auto& c, double) { return s.setClock(c, true); }},
            {'R', [](auto& s, auto& c, double) { return s.place(c, false); }},
            {'B', [](auto& s, auto& c, double) { return s.place(c, false); }},
            {'S', [](auto& s, auto& c, double) { return s.place(c, false); }},
            {'r', [](auto& s, auto& c, double) { return s.place(c, true); }},
            {'b', [](auto& s, auto& c, double) { return s.place(c, true); }},
            {'s', [](auto& s, auto& c, double) { return s.place(c, true); }},
            {'P', [](auto& s, auto& c, double t) { return s.passThrough(c, t); }},
            {'v', [](auto& s, auto&, double) { return s.variant(); }},
        };
        const auto it = std::find_if(std::begin(handlers), std::end(handlers),
                                     [&](const LetterHandler& h) { return h.letter == letter; });
        return it == std::end(handlers) ? nullptr : it;
    }

    // No reply for a command unknown to the hand control.
    std::optional<QByteArray> respond(const QByteArray& cmd, double t) {
        const LetterHandler* h = letterHandler(uint8_t(cmd[0]));
        if (!h) return std::nullopt;
        QByteArray reply = h->reply(*this, cmd, t);
        if (reply.isEmpty()) return std::nullopt;
        return reply;
    }

    QByteArray setTracking(uint8_t mode) {
        if (mode <= skyjog::cmd::TrackingEqSouth) {
            trackingMode = mode;
            for (Axis& x : axes)
                x.motion = Motion::Tracking;
        }
        return "#";
    }

    QByteArray setLocation(const QByteArray& cmd) {
        for (int i = 0; i < 8; ++i)
            location[i] = uint8_t(cmd[1 + i]);
        return "#";
    }

    // The variant (0x11, NexStar) is known to hand controls from version 5.28 on; older ones do
    // not answer it.
    QByteArray variant() const {
        if (opt.handControlVersion[0] * 100 + opt.handControlVersion[1] < 528) return {};
        return bytes({0x11, '#'});
    }

    // A pass-through frame 'P' len dest id d1 d2 d3 n, for one motor.
    struct Frame {
        uint8_t len, id, d1, d2, d3;
        int axis; // 0 azimuth, 1 altitude
        double t;
    };
    // The reply's data bytes; none when the message fails (an unknown id, or memory that is not
    // there).
    using Data = std::optional<QByteArray>;
    struct MessageHandler {
        uint8_t id;
        Data (*run)(Impl& s, Axis& x, const Frame& f);
    };

    static const MessageHandler* messageHandler(uint8_t id) {
        static const MessageHandler handlers[] = {
            {cmd::MsgSlewPositive, &Impl::variableRate},
            {cmd::MsgSlewNegative, &Impl::variableRate},
            {cmd::MsgFixedPositive, &Impl::fixedRate},
            {cmd::MsgFixedNegative, &Impl::fixedRate},
            {cmd::MsgBacklashPositive, &Impl::setBacklash},
            {cmd::MsgBacklashNegative, &Impl::setBacklash},
            {cmd::MsgGetBacklashPositive, &Impl::getBacklash},
            {cmd::MsgGetBacklashNegative, &Impl::getBacklash},
            {cmd::MsgSetGuideRate,
             [](Impl&, Axis& x, const Frame& f) -> Data {
                 x.guideRate = f.d1;
                 return QByteArray();
             }},
            {cmd::MsgGetGuideRate,
             [](Impl&, Axis& x, const Frame&) -> Data { return QByteArray(1, char(x.guideRate)); }},
            {cmd::MsgVersion,
             [](Impl& s, Axis&, const Frame&) -> Data {
                 return bytes({s.opt.motorVersion[0], s.opt.motorVersion[1]});
             }},
            // Seek the PEC index; once found it stays found.
            {cmd::MsgSeekPecIndex,
             [](Impl& s, Axis& x, const Frame& f) -> Data {
                 if (x.pecIndexAt == Never) x.pecIndexAt = f.t + s.opt.pecSeekMs;
                 return QByteArray();
             }},
            {cmd::MsgAtPecIndex,
             [](Impl&, Axis& x, const Frame& f) -> Data {
                 return QByteArray(1, char(x.pecIndexAt <= f.t ? 0xFF : 0x00));
             }},
            {cmd::MsgPecPlayback,
             [](Impl&, Axis& x, const Frame& f) -> Data {
                 x.pecPlaying = f.d1 != 0;
                 return QByteArray();
             }},
            {cmd::MsgPecBin, &Impl::pecBin},
            {cmd::MsgPecRecordStart,
             [](Impl&, Axis& x, const Frame& f) -> Data {
                 x.pecRecordDoneAt = f.t + WormTurnMs;
                 return QByteArray();
             }},
            {cmd::MsgPecRecordStop,
             [](Impl&, Axis& x, const Frame&) -> Data {
                 x.pecRecordDoneAt = Never;
                 return QByteArray();
             }},
            {cmd::MsgPecRecordDone,
             [](Impl&, Axis& x, const Frame& f) -> Data {
                 return QByteArray(1, char(x.pecRecordDoneAt <= f.t ? 1 : 0));
             }},
            {cmd::MsgPecRead, &Impl::pecRead},
            {cmd::MsgPecWrite, &Impl::pecWrite},
            {cmd::MsgGetPosition, &Impl::motorPosition},
            // A GoTo arrives at once, so it is always done.
            {cmd::MsgGotoDone, [](Impl&, Axis&, const Frame&) -> Data { return bytes({0xFF}); }},
        };
        const auto it = std::find_if(std::begin(handlers), std::end(handlers),
                                     [&](const MessageHandler& h) { return h.id == id; });
        return it == std::end(handlers) ? nullptr : it;
    }

    QByteArray passThrough(const QByteArray& command, double t) {
        const auto u = [&](int i) { return uint8_t(command[i]); };
        const uint8_t dest = u(2);
        const int n = u(7);
        const QByteArray failed = QByteArray(n + 1, '\0') + '#';
        if (dest != AzMotor && dest != AltMotor) return failed; // no such device
        const MessageHandler* h = messageHandler(u(3));
        if (!h) return failed;
        const Frame f{u(1), u(3), u(4), u(5), u(6), dest - AzMotor, t};
        const Data data = h->run(*this, axes[f.axis], f);
        if (!data) return failed;
        // The reply carries exactly as many data bytes as the command asked for.
        return data->leftJustified(n, '\0', true) + '#';
    }

    static Data variableRate(Impl&, Axis& x, const Frame& f) {
        const double sign = f.id == cmd::MsgSlewPositive ? 1.0 : -1.0;
        double rate = 0;
        if (f.len >= 4) {
            // 24-bit form in 1/1024 arc-second per second.
            rate = double((f.d1 << 16) | (f.d2 << 8) | f.d3) / 1024.0 * 4.0;
        } else {
            const uint16_t v = uint16_t((f.d1 << 8) | f.d2);
            rate = v == 0xFFFF   ? SiderealQas
                   : v == 0xFFFE ? SolarQas
                   : v == 0xFFFD ? LunarQas
                                 : double(v);
        }
        x.motion = Motion::Variable;
        x.rate = sign * rate;
        return QByteArray();
    }

    static Data fixedRate(Impl&, Axis& x, const Frame& f) {
        if (f.d1 == 0) {
            // A stop ends whatever move the axis makes, fixed or variable; the axis goes back to
            // the tracking rate (none when tracking is off).
            x.motion = Motion::Tracking;
        } else {
            x.motion = Motion::Fixed;
            x.rate =
                (f.id == cmd::MsgFixedPositive ? 1.0 : -1.0) * FixedRateQas[std::min<int>(f.d1, 9)];
        }
        return QByteArray();
    }

    // Each pair of ids has the positive direction first, as Axis::backlash does.
    static Data setBacklash(Impl&, Axis& x, const Frame& f) {
        x.backlash[f.id - cmd::MsgBacklashPositive] = f.d1;
        return QByteArray();
    }

    static Data getBacklash(Impl&, Axis& x, const Frame& f) {
        return QByteArray(1, char(x.backlash[f.id - cmd::MsgGetBacklashPositive]));
    }

    // The PEC bin the worm is in now.
    static Data pecBin(Impl& s, Axis&, const Frame& f) {
        const double arcsec = wrapTurn(s.turnsAt(f.axis, f.t)) * QasPerTurn / 4.0;
        return QByteArray(
            1, char(int(std::fmod(arcsec, WormArcsec) / WormArcsec * PecBins) % PecBins));
    }

    // PEC memory: 0x3F holds the number of bins, 0x40 + i bin i's value.
    static Data pecRead(Impl&, Axis& x, const Frame& f) {
        if (f.d1 == 0x3F) return QByteArray(1, char(PecBins));
        if (f.d1 >= 0x40 && f.d1 < 0x40 + PecBins)
            return QByteArray(1, char(x.pecTable[f.d1 - 0x40]));
        return std::nullopt;
    }

    static Data pecWrite(Impl&, Axis& x, const Frame& f) {
        if (f.d1 < 0x40 || f.d1 >= 0x40 + PecBins) return std::nullopt;
        x.pecTable[f.d1 - 0x40] = f.d2;
        return QByteArray();
    }

    // The motor's position, 24 bits.
    static Data motorPosition(Impl& s, Axis&, const Frame& f) {
        const uint32_t p =
            uint32_t(std::floor(wrapTurn(s.turnsAt(f.axis, f.t)) * 16777216.0 + 1e-6)) & 0xFFFFFFu;
        return bytes({int(p >> 16), int((p >> 8) & 0xFF), int(p & 0xFF)});
    }

    // A few words on a command for the log.
    static QString describe(const QByteArray& command, bool answered) {
        QString s = cmd::describeCommand(command);
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
