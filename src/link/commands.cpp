#include "commands.h"

namespace skyjog::cmd {

namespace {
QByteArray bytes(std::initializer_list<uint8_t> list) {
    QByteArray out;
    out.reserve(int(list.size()));
    for (uint8_t b : list)
        out.append(char(b));
    return out;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}
} // namespace

QByteArray passThrough(uint8_t length, uint8_t motor, uint8_t id, uint8_t a1, uint8_t a2,
                       uint8_t replyBytes) {
    return bytes({'P', length, motor, id, a1, a2, 0, replyBytes});
}

bool isAcknowledged(const QByteArray& reply) {
    return reply.startsWith('#');
}

QByteArray SetTrackingMode(uint8_t mode) {
    return bytes({'T', mode});
}

QByteArray GetAzAlt() {
    return bytes({'Z'});
}

int hexPair(const QByteArray& reply, int index) {
    int value = 0;
    for (int i = index; i < index + 2 && i < reply.size(); ++i) {
        const int d = hexDigit(reply[i]);
        if (d < 0) break;
        value = value * 16 + d;
    }
    return value;
}

namespace {
// Four hexadecimal digits from the index on: a 16-bit fraction of a turn, in degrees.
double degreesAt(const QByteArray& reply, int index) {
    return double(hexPair(reply, index) * 256 + hexPair(reply, index + 2)) * 360.0 / 65536.0;
}
} // namespace

double altitudeFromReply(const QByteArray& reply) {
    return degreesAt(reply, 5);
}

std::optional<AzAlt> positionFromReply(const QByteArray& reply) {
    if (reply.size() != PositionReplyLength || reply[4] != ',' || reply[9] != '#')
        return std::nullopt;
    for (int i : {0, 1, 2, 3, 5, 6, 7, 8})
        if (hexDigit(reply[i]) < 0) return std::nullopt;
    return AzAlt{degreesAt(reply, 0), degreesAt(reply, 5)};
}

QByteArray VariableRateSlew(uint8_t motor, uint8_t messageId, uint8_t rateHigh, uint8_t rateLow) {
    return passThrough(3, motor, messageId, rateHigh, rateLow, 0);
}

QByteArray FixedRateSlew(uint8_t motor) {
    return passThrough(2, motor, MsgFixedNegative, 0, 0, 0);
}
bool isMotorStop(const QByteArray& command) {
    return command.size() == 8 && command == FixedRateSlew(uint8_t(command[2]));
}

QByteArray CancelGoto() {
    return QByteArrayLiteral("M");
}

QByteArray PecSeekIndex() {
    return passThrough(1, AzMotor, MsgSeekPecIndex, 0, 0, 0);
}
QByteArray PecPlayback(bool on) {
    return passThrough(2, AzMotor, MsgPecPlayback, on ? 1 : 0, 0, 0);
}

QByteArray SetBacklash(uint8_t motor, Direction dir, uint8_t value) {
    return passThrough(2, motor,
                       dir == Direction::Positive ? MsgBacklashPositive : MsgBacklashNegative,
                       value, 0, 0);
}

QByteArray SetGuideRate(uint8_t motor, uint8_t value) {
    return passThrough(2, motor, MsgSetGuideRate, value, 0, 0);
}

QByteArray GetBacklash(uint8_t motor, Direction dir) {
    return passThrough(1, motor,
                       dir == Direction::Positive ? MsgGetBacklashPositive : MsgGetBacklashNegative,
                       0, 0, 1);
}

QByteArray GetGuideRate(uint8_t motor) {
    return passThrough(1, motor, MsgGetGuideRate, 0, 0, 1);
}

std::optional<uint8_t> valueFromReply(const QByteArray& reply) {
    // The byte after the value is only the hand control's "#".
    if (reply.isEmpty()) return std::nullopt;
    return uint8_t(reply.at(0));
}

RateBytes splitRate(uint16_t value) {
    return {uint8_t(value / 256), uint8_t(value % 256)};
}

} // namespace skyjog::cmd
