#pragma once
// The hand-control commands the program sends, one pure builder each. Commands are raw bytes:
// no character-set conversion and no terminator, so zero bytes and bytes 128-255 go out as built.
#include <QByteArray>
#include <cstdint>

namespace skyjog::cmd {

inline constexpr uint8_t AzMotor = 16;  // Left/Right arrows; RA in the EQ modes
inline constexpr uint8_t AltMotor = 17; // Up/Down arrows; Dec in the EQ modes

inline constexpr uint8_t MsgSlewPositive = 6;
inline constexpr uint8_t MsgSlewNegative = 7;
inline constexpr uint8_t MsgFixedNegative = 37;
inline constexpr uint8_t MsgBacklashPositive = 16;
inline constexpr uint8_t MsgBacklashNegative = 17;
inline constexpr uint8_t MsgGetBacklashPositive = 64;
inline constexpr uint8_t MsgGetBacklashNegative = 65;

inline constexpr int16_t TimeoutMs = 500;
inline constexpr int16_t AckLength = 1;
inline constexpr int16_t ValueReplyLength = 2;
inline constexpr int16_t PositionReplyLength = 10;

enum class Direction { Positive, Negative };

QByteArray SetTrackingMode(uint8_t mode);
QByteArray GetAzAlt();
QByteArray VariableRateSlew(uint8_t motor, uint8_t messageId, uint8_t rateHigh, uint8_t rateLow);
// The only fixed-rate command the program sends: message 37 with rate 0 stops the motor.
QByteArray FixedRateSlew(uint8_t motor);
QByteArray PecSeekIndex();
QByteArray PecPlayback(bool on);
QByteArray SetBacklash(uint8_t motor, Direction dir, uint8_t value);
QByteArray GetBacklash(uint8_t motor, Direction dir);
QByteArray SetGuideRate(uint8_t motor, uint8_t value);
QByteArray GetGuideRate(uint8_t motor);

// Whether a command is a motor stop (the fixed-rate command above).
bool isMotorStop(const QByteArray& command);

// The 8-byte motor pass-through frame: 'P', length, motor, id, a1, a2, 0, reply bytes.
QByteArray passThrough(uint8_t length, uint8_t motor, uint8_t id, uint8_t a1, uint8_t a2,
                       uint8_t replyBytes);

// A 16-bit rate value as it travels: high byte, low byte.
struct RateBytes {
    uint8_t high = 0;
    uint8_t low = 0;
};
RateBytes splitRate(uint16_t value);

} // namespace skyjog::cmd
