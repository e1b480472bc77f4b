#pragma once
// The hand-control commands the program sends, one pure builder each, with the reader of each
// reply beside its command. Commands are raw bytes: no character-set conversion and no
// terminator, so zero bytes and bytes 128-255 go out as built.
#include <QByteArray>
#include <cstdint>
#include <optional>

namespace skyjog::cmd {

inline constexpr uint8_t AzMotor = 16;  // Left/Right arrows; RA in the EQ modes
inline constexpr uint8_t AltMotor = 17; // Up/Down arrows; Dec in the EQ modes

// The motor controllers' messages: the id byte of a pass-through frame.
inline constexpr uint8_t MsgSlewPositive = 6; // variable rate: rate high, rate low
inline constexpr uint8_t MsgSlewNegative = 7;
inline constexpr uint8_t MsgFixedPositive = 36; // fixed rate 1-9; 0 stops the motor
inline constexpr uint8_t MsgFixedNegative = 37;
inline constexpr uint8_t MsgSeekPecIndex = 25;
inline constexpr uint8_t MsgPecPlayback = 13; // 1 on, 0 off
inline constexpr uint8_t MsgBacklashPositive = 16;
inline constexpr uint8_t MsgBacklashNegative = 17;
inline constexpr uint8_t MsgGetBacklashPositive = 64;
inline constexpr uint8_t MsgGetBacklashNegative = 65;
inline constexpr uint8_t MsgSetGuideRate = 70;
inline constexpr uint8_t MsgGetGuideRate = 71;
// Messages the program never sends, which other clients send to the simulated mount.
inline constexpr uint8_t MsgGetPosition = 1;
inline constexpr uint8_t MsgPecRecordStart = 12;
inline constexpr uint8_t MsgPecBin = 14;
inline constexpr uint8_t MsgGotoDone = 19;
inline constexpr uint8_t MsgPecRecordDone = 21;
inline constexpr uint8_t MsgPecRecordStop = 22;
inline constexpr uint8_t MsgAtPecIndex = 24;
inline constexpr uint8_t MsgPecRead = 48;
inline constexpr uint8_t MsgPecWrite = 49;
inline constexpr uint8_t MsgVersion = 254;

// The tracking modes, as SetTrackingMode sends them.
inline constexpr uint8_t TrackingOff = 0;
inline constexpr uint8_t TrackingAltAz = 1;
inline constexpr uint8_t TrackingEqNorth = 2;
inline constexpr uint8_t TrackingEqSouth = 3;

inline constexpr int16_t TimeoutMs = 500;
inline constexpr int16_t AckLength = 1;
inline constexpr int16_t ValueReplyLength = 2;
inline constexpr int16_t PositionReplyLength = 10;

enum class Direction { Positive, Negative };

// A command that reads nothing is answered by "#" alone.
bool isAcknowledged(const QByteArray& reply);

QByteArray SetTrackingMode(uint8_t mode);

// Answered by "AAAA,BBBB#": the azimuth in characters 1-4 and the altitude in characters 6-9,
// each a 16-bit fraction of a turn in hexadecimal.
QByteArray GetAzAlt();
// One two-digit hexadecimal field of that reply, starting at the 0-based index: digits are read
// until a missing or non-hexadecimal character; no digit at all reads as 0.
int hexPair(const QByteArray& reply, int index);
// The altitude in degrees, [0, 360). A short or garbled reply gives what its digits give.
double altitudeFromReply(const QByteArray& reply);
// Both angles in degrees, [0, 360), from a reply that is exactly "AAAA,BBBB#" with hexadecimal
// digits; none for anything else, where a reading is to be shown rather than guessed at.
struct AzAlt {
    double azimuth = 0;
    double altitude = 0;
};
std::optional<AzAlt> positionFromReply(const QByteArray& reply);

QByteArray VariableRateSlew(uint8_t motor, uint8_t messageId, uint8_t rateHigh, uint8_t rateLow);
// The only fixed-rate command the program sends: message 37 with rate 0 stops the motor.
QByteArray FixedRateSlew(uint8_t motor);
// Whether a command is a motor stop (the fixed-rate command above).
bool isMotorStop(const QByteArray& command);
// Ends a GoTo under way (another program's, through the share): both axes stop.
QByteArray CancelGoto();
QByteArray PecSeekIndex();
QByteArray PecPlayback(bool on);
QByteArray SetBacklash(uint8_t motor, Direction dir, uint8_t value);
QByteArray SetGuideRate(uint8_t motor, uint8_t value);

// Answered by the value's byte, then "#".
QByteArray GetBacklash(uint8_t motor, Direction dir);
QByteArray GetGuideRate(uint8_t motor);
// The value from that reply; none when the mount did not answer.
std::optional<uint8_t> valueFromReply(const QByteArray& reply);

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
