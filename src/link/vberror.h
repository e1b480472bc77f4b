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

// The numbers the program raises itself.
namespace err {
inline constexpr int InvalidArgument = 5; // "Invalid procedure call or argument"
inline constexpr int Overflow = 6;
inline constexpr int TypeMismatch = 13;
inline constexpr int BadFileFormat = 62; // "Input past end of file"
inline constexpr int PathNotFound = 76;
inline constexpr int InvalidPort = 8002;     // port number refused, or the device cannot be opened
inline constexpr int PortInUse = 8005;       // the port is held by another program
inline constexpr int NotSerialDevice = 8010; // a path that is not a terminal device
inline constexpr int WriteFailed = 8015;
inline constexpr int ReadFailed = 8020;
inline constexpr int NotAcknowledged = 8030; // a write the mount did not answer with "#"

VbError invalidArgument();
VbError overflow();
VbError typeMismatch();
} // namespace err

} // namespace skyjog
