#pragma once
// What the program is told when it starts: sharing the mount from the first moment (a PC at
// the telescope that starts Skyjog at login, already serving the planetarium), or a reminder
// of how to say so.
#include <QString>
#include <QStringList>
#include <optional>

namespace skyjog {

struct CommandLine {
    bool help = false;
    // --share: "" for where Skyjog.conf says, or the ADDRESS:PORT given.
    std::optional<QString> share;
    // Something not understood; the program says so and how to start it, and ends.
    QString error;
};

// The arguments after the program's name, once Qt has taken its own (-platform, -style...).
CommandLine parseCommandLine(const QStringList& args);
QString usageText();

} // namespace skyjog
