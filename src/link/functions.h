#pragma once
// The shared routines and the state they share across windows.
#include "serialcontrol.h"

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace skyjog {

// The pause between two reads of the serial input, in milliseconds.
extern int16_t SleepTime;
// True: no spiral search runs, or the running one is to stop.
extern bool StopSpiral;

// The program's one serial control.
SerialControl& Comm1();

// Sets SleepTime from the system clock's increment: increment / 10000 + 1, rounded half to even.
void InitSleepTime();
// The same rule as a pure function of the increment (100-ns units).
int16_t sleepTimeForIncrement(uint32_t increment100ns);

// Opens the port, drains stale input, writes the command, collects up to replyLength characters
// one per pass until timeoutMs has passed, closes the port. On a failure: reports it, sets
// StopSpiral, closes the port and returns an empty reply.
QByteArray SendCommand(const QByteArray& command, int16_t replyLength, int16_t timeoutMs);

// SendCommand for a caller that must tell a failed port (already reported) from a mount that
// did not answer: both leave the reply empty.
struct CommandResult {
    QByteArray reply;
    bool portFailed = false;
    // What went wrong with the port, in the words a box would have shown.
    QString failure;
};
CommandResult SendCommandResult(const QByteArray& command, int16_t replyLength, int16_t timeoutMs);

// The same exchange for a reading taken again and again by itself (the position window): a
// failure is handed back instead of shown, so that a mount gone quiet does not bury the user in
// boxes, one every half second. It still sets StopSpiral and closes the port. Each pass takes
// every character that has come, up to the rest of the reply, so that a short time-out is the
// mount's to answer in on any system clock.
CommandResult SendCommandQuietly(const QByteArray& command, int16_t replyLength, int16_t timeoutMs);

// How a command that ends or restores motion went: acknowledged; never acknowledged, however
// often it was sent; or not sent because the port failed (reported as SendCommand reports it).
enum class Confirmation { Confirmed, NotAcknowledged, PortFailed };
// The worse of two: a failed port over a missing acknowledgement over a confirmed one.
Confirmation worse(Confirmation a, Confirmation b);
// Sends a command that ends or restores motion and checks its "#": a line can lose the bytes of
// a stop, and a lost stop leaves the motor running. A missing or wrong acknowledgement sends the
// same command again at once, up to ConfirmAttempts times in all, so that a mount that never
// answers costs at most that many time-outs (1.5 s). Each resend is logged on standard error. A
// port that fails is not tried again here: its failure has been reported, and the line is gone.
inline constexpr int ConfirmAttempts = 3;
Confirmation SendConfirmed(const QByteArray& command);

// Whether a command is under way: from its start until it has returned, including a failure's
// box, whose event loop can run other handlers in the middle of it.
bool CommandUnderway();

} // namespace skyjog
