#include "vberror.h"

namespace skyjog::err {

VbError invalidArgument() {
    return {InvalidArgument, QStringLiteral("Invalid procedure call or argument")};
}
VbError overflow(const QString& detail) {
    return {Overflow, QStringLiteral("Overflow") + detail};
}
VbError typeMismatch(const QString& detail) {
    return {TypeMismatch, QStringLiteral("Type mismatch") + detail};
}
VbError inputPastEnd(const QString& detail) {
    return {BadFileFormat, QStringLiteral("Input past end of file") + detail};
}
VbError invalidPropertyValue(const QString& detail) {
    return {InvalidPropertyValue, QStringLiteral("Invalid property value") + detail};
}
VbError invalidArrayIndex() {
    return {InvalidArrayIndex, QStringLiteral("Invalid property array index")};
}
VbError portAlreadyOpen() {
    return {PortAlreadyOpen, QStringLiteral("Port already open")};
}
VbError deviceNotOpen() {
    return {DeviceNotOpen, QStringLiteral("The device is not open")};
}
VbError stopNotConfirmed(const QString& axis) {
    return {StopNotConfirmed,
            QStringLiteral("The mount did not confirm the stop of the %1 axis and may still be "
                           "moving. Press Escape to send the stop again")
                .arg(axis)};
}
VbError pathFileAccess(const QString& path, const QString& reason) {
    return {PathFileAccess, QStringLiteral("Path/File access error (%1: %2)").arg(path, reason)};
}
VbError pathNotFound(const QString& path) {
    return {PathNotFound, QStringLiteral("Path not found (%1)").arg(path)};
}
VbError deviceIO(const QString& path, const QString& reason) {
    return {DeviceIO, QStringLiteral("Device I/O error (%1: %2)").arg(path, reason)};
}

} // namespace skyjog::err
