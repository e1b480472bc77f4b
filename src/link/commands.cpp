#include "commands.h"

namespace skyjog::cmd {

namespace {
QByteArray bytes(std::initializer_list<uint8_t> list) {
    QByteArray out;
    out.reserve(int(list.size()));
    for (uint8_t b : list) out.append(char(b));
    return out;
}
} // namespace

QByteArray passThrough(uint8_t length, uint8_t motor, uint8_t id, uint8_t a1, uint8_t a2,
                       uint8_t replyBytes) {
    return bytes({'P', length, motor, id, a1, a2, 0, replyBytes});
}

QByteArray SetTrackingMode(uint8_t mode) { return bytes({'T', mode}); }
QByteArray GetAzAlt() { return bytes({'Z'}); }

QByteArray VariableRateSlew(uint8_t motor, uint8_t messageId, uint8_t rateHigh, uint8_t rateLow) {
    return passThrough(3, motor, messageId, rateHigh, rateLow, 0);
}

QByteArray FixedRateSlew(uint8_t motor) { return passThrough(2, motor, MsgFixedNegative, 0, 0, 0); }
bool isMotorStop(const QByteArray& command) {
    return command.size() == 8 && command == FixedRateSlew(uint8_t(command[2]));
}

QByteArray PecSeekIndex() { return passThrough(1, AzMotor, 25, 0, 0, 0); }
QByteArray PecPlayback(bool on) { return passThrough(2, AzMotor, 13, on ? 1 : 0, 0, 0); }

QByteArray SetBacklash(uint8_t motor, Direction dir, uint8_t value) {
    return passThrough(2, motor, dir == Direction::Positive ? MsgBacklashPositive : MsgBacklashNegative,
                       value, 0, 0);
}

QByteArray GetBacklash(uint8_t motor, Direction dir) {
    return passThrough(1, motor,
                       dir == Direction::Positive ? MsgGetBacklashPositive : MsgGetBacklashNegative, 0,
                       0, 1);
}

QByteArray SetGuideRate(uint8_t motor, uint8_t value) { return passThrough(2, motor, 70, value, 0, 0); }
QByteArray GetGuideRate(uint8_t motor) { return passThrough(1, motor, 71, 0, 0, 1); }

RateBytes splitRate(uint16_t value) { return {uint8_t(value / 256), uint8_t(value % 256)}; }

} // namespace skyjog::cmd
