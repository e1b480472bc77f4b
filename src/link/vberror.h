#pragma once
// A run-time failure as the user sees it: a description and a number, reported as
// "description - number". Handlers catch it at their top and report it.
#include <QString>
#include <exception>

namespace skyjog {

struct VbError : std::exception {
    VbError(int num, QString desc) : number(num), description(std::move(desc)) {}
    int number;
    QString description;
    QString text() const { return description + QStringLiteral(" - ") + QString::number(number); }
    const char* what() const noexcept override { return "skyjog::VbError"; }
};

// Every number the program raises, with the words its description starts with. The numbers from
// 8000 on are the serial line's; their descriptions name the line and why it failed.
namespace err {
inline constexpr int InvalidArgument = 5; // "Invalid procedure call or argument"
inline constexpr int Overflow = 6;        // "Overflow"
inline constexpr int TypeMismatch = 13;   // "Type mismatch"
inline constexpr int DeviceIO = 57;       // "Device I/O error"
inline constexpr int BadFileFormat = 62;  // "Input past end of file"
inline constexpr int PathFileAccess = 75; // "Path/File access error"
inline constexpr int PathNotFound = 76;   // "Path not found"
inline constexpr int InvalidPropertyValue = 380; // "Invalid property value"
inline constexpr int InvalidArrayIndex = 381;    // "Invalid property array index"
// "Port already open": the program's own port opened a second time, or its port changed while
// open. Not another program's doing, which is PortInUse.
inline constexpr int PortAlreadyOpen = 8000;
inline constexpr int InvalidPort = 8002;     // port number refused, or the device cannot be opened
inline constexpr int PortInUse = 8005;       // "Cannot open ...": held by another program
inline constexpr int NotSerialDevice = 8010; // "Cannot open ...": not a terminal device
inline constexpr int DeviceNotOpen = 8012;   // "The device is not open"
inline constexpr int WriteFailed = 8015;     // "Cannot write to ..."
inline constexpr int ReadFailed = 8020;      // "Lost ...": the line went away
inline constexpr int NotAcknowledged = 8030; // a write the mount did not answer with "#"
// A stop (or the tracking restore after it) that the mount never acknowledged, however often it
// was sent: the axis may still be moving.
inline constexpr int StopNotConfirmed = 8031;

// The failures with fixed words; where given, the detail follows the words as it stands
// (" (Skyjogger.ini, field 3: ...)", ": line settings ...").
VbError invalidArgument();
VbError overflow(const QString& detail = {});
VbError typeMismatch(const QString& detail = {});
VbError inputPastEnd(const QString& detail = {});
VbError invalidPropertyValue(const QString& detail = {});
VbError invalidArrayIndex();
VbError portAlreadyOpen();
VbError deviceNotOpen();
// axis: the arrows that move it, as the pad labels them ("Up/Down", "Left/Right").
VbError stopNotConfirmed(const QString& axis);
// The file failures name the path, and the system's reason where there is one:
// "Path/File access error (path: reason)", "Path not found (path)",
// "Device I/O error (path: reason)".
VbError pathFileAccess(const QString& path, const QString& reason);
VbError pathNotFound(const QString& path);
VbError deviceIO(const QString& path, const QString& reason);
} // namespace err

} // namespace skyjog
