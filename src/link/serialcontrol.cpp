#include "serialcontrol.h"
#include "vberror.h"

#include <QStringList>

namespace skyjog {

namespace {
VbError invalidSettings(const QString& text) {
    return err::invalidPropertyValue(QStringLiteral(": line settings \"%1\"").arg(text));
}
} // namespace

LineSettings parseLineSettings(const QString& text) {
    const QStringList parts = text.split(u',');
    if (parts.size() != 4) throw invalidSettings(text);
    LineSettings s;
    bool ok = false;
    s.baud = parts[0].trimmed().toInt(&ok);
    if (!ok || s.baud <= 0) throw invalidSettings(text);
    const QString parity = parts[1].trimmed().toUpper();
    if (parity.size() != 1 || !QStringLiteral("NEOMS").contains(parity)) throw invalidSettings(text);
    s.parity = parity[0].toLatin1();
    s.dataBits = parts[2].trimmed().toInt(&ok);
    if (!ok || s.dataBits < 5 || s.dataBits > 8) throw invalidSettings(text);
    s.stopBits = parts[3].trimmed().toInt(&ok);
    if (!ok || (s.stopBits != 1 && s.stopBits != 2)) throw invalidSettings(text);
    return s;
}

SerialControl::SerialControl() : factory_(makeDefaultBackend) {
    spec_.device = numberedDevice(0);
}

SerialControl::~SerialControl() = default;

void SerialControl::setPortText(const QString& text) {
    if (portOpen()) throw err::portAlreadyOpen();
    spec_ = parsePortText(text);
}

void SerialControl::setSettings(const QString& text) {
    line_ = parseLineSettings(text);
    settingsText_ = text;
}

void SerialControl::setPortOpen(bool open) {
    if (!open) {
        if (backend_) backend_->close();
        backend_.reset();
        return;
    }
    if (portOpen()) throw err::portAlreadyOpen();
    auto backend = factory_(spec_);
    backend->open(line_, deadline_.value_or(QDeadlineTimer(DefaultWaitMs)));
    backend_ = std::move(backend);
}

bool SerialControl::portOpen() const { return backend_ && backend_->isOpen(); }

QByteArray SerialControl::input() {
    if (!portOpen()) throw err::deviceNotOpen();
    return backend_->read(inputLen_ <= 0 ? 1 << 20 : inputLen_);
}

void SerialControl::output(const QByteArray& data) {
    if (!portOpen()) throw err::deviceNotOpen();
    backend_->write(data, deadline_.value_or(QDeadlineTimer(DefaultWaitMs)));
}

void SerialControl::setBackendFactory(BackendFactory factory) {
    factory_ = factory ? std::move(factory) : BackendFactory(makeDefaultBackend);
}

} // namespace skyjog
