#pragma once
// A pseudo-terminal that stands in for a serial line, reached through a stable link. The master
// end belongs to whoever plays the far side of the line; the slave end is kept open as well, so
// that clients may open and close the link as often as they like without the master ever seeing
// a hang-up (and without a read on the master failing while nobody has the terminal open).
#include <QString>

namespace skyjog {

struct PseudoTerminal {
    int master = -1; // non-blocking
    int slave = -1;
    QString slavePath;
};

// Creates a terminal in raw mode at 9600 baud and points the link at it in one step, so that a
// client never finds the link missing. An existing file that is not a link is never replaced.
// False with a reason (the terminal closed again) when it cannot.
bool openPseudoTerminal(PseudoTerminal& pty, const QString& linkPath, QString* error);
// Closes both ends; removes the link only when it still names this terminal, never someone
// else's file. An empty linkPath leaves the link alone.
void closePseudoTerminal(PseudoTerminal& pty, const QString& linkPath = {});
// Clears every terminal setting that would change bytes on their way through the slave. A client
// may leave the terminal cooked (a serial library restores the settings it found when it closes),
// and nothing tells the master. Speeds and the client's read time-outs stay as the client set
// them.
void keepRaw(const PseudoTerminal& pty);
// Everything waiting on the master.
QByteArray readMaster(const PseudoTerminal& pty);
// Writes to the master; bytes the terminal cannot take are lost, as on a wire.
void writeMaster(const PseudoTerminal& pty, const QByteArray& bytes);

} // namespace skyjog
