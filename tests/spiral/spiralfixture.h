#pragma once
// A window stand-in for the spiral, and helpers to read what went out on the line.
#include "commands.h"
#include "spiral.h"
#include "vberror.h"

#include <QByteArray>
#include <QVector>
#include <functional>
#include <optional>
#include <utility>

namespace skyjog::test {

class FakeSpiralHost : public SpiralHost {
public:
    QString width = QStringLiteral("1");
    QString delay = QStringLiteral("0");
    uint8_t mode = 1;
    // When set, reading the tracking mode fails as with no selected entry.
    bool noSelection = false;
    bool labelVisible = false;
    QVector<bool> labelChanges;
    int processEventsCalls = 0;
    // Runs inside processEvents, as a queued click or key would.
    std::function<void()> onProcessEvents;

    QString widthText() const override { return width; }
    QString delayText() const override { return delay; }
    uint8_t trackingMode() const override {
        if (noSelection) throw err::invalidArgument();
        return mode;
    }
    void setSpiralLabelVisible(bool visible) override {
        labelVisible = visible;
        labelChanges << visible;
    }
    void processEvents() override {
        ++processEventsCalls;
        if (onProcessEvents) onProcessEvents();
    }
    // How the last stops went, once the spiral has ended.
    std::optional<std::pair<Confirmation, Confirmation>> stopped;
    void spiralStopped(Confirmation altitude, Confirmation azimuth) override {
        stopped = std::pair{altitude, azimuth};
    }
};

// One command as it reached the mount, with the clock time of its arrival.
struct Sent {
    uint32_t at = 0;
    QByteArray bytes;
};

inline QByteArray stopCmd(uint8_t motor) {
    return cmd::FixedRateSlew(motor);
}
inline QByteArray trackCmd(uint8_t mode) {
    return cmd::SetTrackingMode(mode);
}
inline QByteArray slewCmd(uint8_t motor, uint8_t id, uint8_t hi, uint8_t lo) {
    return cmd::VariableRateSlew(motor, id, hi, lo);
}

inline bool isSlew(const QByteArray& c) {
    return c.size() == 8 && c[0] == 'P' && c[1] == 3;
}
inline bool isTrackingOff(const QByteArray& c) {
    return c == trackCmd(0);
}

inline QByteArrayList bytesOf(const QVector<Sent>& sent) {
    QByteArrayList out;
    for (const Sent& s : sent)
        out << s.bytes;
    return out;
}

inline int countOf(const QVector<Sent>& sent, const std::function<bool(const QByteArray&)>& p) {
    int n = 0;
    for (const Sent& s : sent)
        n += p(s.bytes) ? 1 : 0;
    return n;
}

} // namespace skyjog::test
