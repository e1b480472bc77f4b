#include "porttext.h"
#include "convert.h"
#include "vberror.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#endif

namespace skyjog {

QString PortSpec::display() const {
    switch (kind) {
    case Kind::Numbered:
    case Kind::Device:
        return device;
    case Kind::Tcp:
        return QStringLiteral("%1:%2").arg(host).arg(tcpPort);
    case Kind::Sim:
        return QStringLiteral("the simulated mount");
    }
    return {};
}

QString portDescription(const QString& text) {
    try {
        const PortSpec spec = parsePortText(text);
        switch (spec.kind) {
        case PortSpec::Kind::Sim:
            return QStringLiteral("built-in simulated mount");
        case PortSpec::Kind::Tcp:
            return spec.display() + QStringLiteral(" over TCP");
        case PortSpec::Kind::Numbered:
        case PortSpec::Kind::Device:
            break;
        }
        return spec.device.isEmpty() ? QStringLiteral("no serial port") : spec.device;
    } catch (const VbError& e) {
        return e.text();
    }
}

PortSpec parsePortText(const QString& text) {
    PortSpec spec;
    const QString t = text.trimmed();

    if (t.compare(QStringLiteral("sim"), Qt::CaseInsensitive) == 0) {
        spec.kind = PortSpec::Kind::Sim;
        return spec;
    }

    static const QRegularExpression tcpRe(
        QStringLiteral(R"(^(?:tcp://)?(\[[0-9A-Fa-f:.]+\]|[A-Za-z0-9][A-Za-z0-9.\-]*):(\d{1,5})$)"));
    if (const auto m = tcpRe.match(t); m.hasMatch()) {
        const uint port = m.captured(2).toUInt();
        if (port == 0 || port > 65535) throw VbError(err::InvalidPort, QStringLiteral("Invalid port number: %1").arg(t));
        spec.kind = PortSpec::Kind::Tcp;
        spec.host = m.captured(1);
        if (spec.host.startsWith(u'[')) spec.host = spec.host.mid(1, spec.host.size() - 2);
        spec.tcpPort = quint16(port);
        return spec;
    }

    if (t.startsWith(u'/') || t.startsWith(QStringLiteral("\\\\.\\"))) {
        spec.kind = PortSpec::Kind::Device;
        spec.device = t;
        return spec;
    }

    static const QRegularExpression comRe(QStringLiteral(R"(^[Cc][Oo][Mm]\s*(\d+)$)"));
    double number = 0;
    if (const auto m = comRe.match(t); m.hasMatch()) number = m.captured(1).toDouble();
    else number = conv::leadingNumber(text);

    spec.kind = PortSpec::Kind::Numbered;
    spec.number = conv::toInt16(number);
    if (spec.number < 0)
        throw VbError(err::InvalidPort, QStringLiteral("Invalid port number: %1").arg(spec.number));
    spec.device = numberedDevice(spec.number);
    return spec;
}

QString numberedDevice(int number) {
#if defined(Q_OS_WIN)
    return QStringLiteral("\\\\.\\COM%1").arg(number);
#elif defined(Q_OS_MACOS)
    QStringList names = QDir(QStringLiteral("/dev"))
                            .entryList({QStringLiteral("cu.usbserial*"), QStringLiteral("cu.usbmodem*")},
                                       QDir::System, QDir::Name);
    if (number >= 1 && number <= names.size()) return QStringLiteral("/dev/") + names[number - 1];
    return QStringLiteral("/dev/cu.usbserial (USB serial device #%1)").arg(number);
#else
    if (number < 1) return QStringLiteral("port %1").arg(number);
    return QStringLiteral("/dev/ttyUSB%1").arg(number - 1);
#endif
}

QString listSerialPorts() {
    QStringList names;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) names << info.systemLocation();
    std::sort(names.begin(), names.end());
    return names.isEmpty() ? QStringLiteral("none") : names.join(QStringLiteral(", "));
}

QString portsHint() {
    return QStringLiteral(" (serial ports here: %1)").arg(listSerialPorts());
}

void checkSerialDevice(const QString& device) {
#ifdef Q_OS_UNIX
    struct stat st {};
    if (::stat(QFile::encodeName(device).constData(), &st) != 0) {
        const int e = errno;
        throw VbError(e == ENOENT ? err::InvalidPort : err::PortInUse,
                      QStringLiteral("Cannot open %1: %2%3")
                          .arg(device, QString::fromLocal8Bit(std::strerror(e)), portsHint()));
    }
    if (!S_ISCHR(st.st_mode))
        throw VbError(
            err::NotSerialDevice,
            QStringLiteral("Cannot open %1: it is not a serial device%2").arg(device, portsHint()));
#else
    Q_UNUSED(device);
#endif
}

} // namespace skyjog
