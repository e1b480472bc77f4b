#include "backends.h"
#include "serialport_backend.h"
#ifdef Q_OS_UNIX
#include "posix_serial_backend.h"
#endif
#include "tcp_backend.h"
#include "vberror.h"

namespace skyjog {

namespace {
std::function<std::unique_ptr<SerialBackend>()>& simFactory() {
    static std::function<std::unique_ptr<SerialBackend>()> f;
    return f;
}
} // namespace

void setSimBackendFactory(std::function<std::unique_ptr<SerialBackend>()> factory) {
    simFactory() = std::move(factory);
}

namespace {
std::unique_ptr<SerialBackend> serialBackend(const QString& device) {
#ifdef Q_OS_UNIX
    return std::make_unique<PosixSerialBackend>(device);
#else
    return std::make_unique<SerialPortBackend>(device);
#endif
}
} // namespace

std::unique_ptr<SerialBackend> makeDefaultBackend(const PortSpec& spec) {
    switch (spec.kind) {
    case PortSpec::Kind::Sim:
        if (!simFactory())
            throw VbError(err::InvalidPort, QStringLiteral("The simulated mount is not available in this program"));
        return simFactory()();
    case PortSpec::Kind::Tcp:
        return std::make_unique<TcpBackend>(spec.host, spec.tcpPort);
    case PortSpec::Kind::Numbered:
        if (spec.number < 1)
            throw VbError(
                err::InvalidPort,
                QStringLiteral("Invalid port number %1%2").arg(spec.number).arg(portsHint()));
        return serialBackend(spec.device);
    case PortSpec::Kind::Device:
        return serialBackend(spec.device);
    }
    return nullptr;
}

} // namespace skyjog
