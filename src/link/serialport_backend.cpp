#include "serialport_backend.h"
#include "porttext.h"
#include "vberror.h"

namespace skyjog {

SerialPortBackend::SerialPortBackend(QString device) : device_(std::move(device)) {
    port_.setPortName(device_);
    port_.setBaudRate(9600);
    port_.setParity(QSerialPort::NoParity);
    port_.setDataBits(QSerialPort::Data8);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
}

void SerialPortBackend::open(const LineSettings& line, const QDeadlineTimer&) {
    port_.setBaudRate(line.baud);
    port_.setParity(line.parity == 'E'   ? QSerialPort::EvenParity
                    : line.parity == 'O' ? QSerialPort::OddParity
                    : line.parity == 'M' ? QSerialPort::MarkParity
                    : line.parity == 'S' ? QSerialPort::SpaceParity
                                         : QSerialPort::NoParity);
    port_.setDataBits(QSerialPort::DataBits(line.dataBits));
    port_.setStopBits(line.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
    checkSerialDevice(device_);
    if (!port_.open(QIODevice::ReadWrite)) {
        const auto e = port_.error();
        const int number = (e == QSerialPort::PermissionError || e == QSerialPort::OpenError)
                               ? err::PortInUse
                               : err::InvalidPort;
        const QString reason = e == QSerialPort::PermissionError
                                   ? QStringLiteral("it is in use by another program, or access is denied (%1)")
                                         .arg(port_.errorString())
                                   : port_.errorString();
        port_.clearError();
        throw VbError(number, QStringLiteral("Cannot open %1: %2%3").arg(device_, reason, portsHint()));
    }
}

void SerialPortBackend::close() {
    if (port_.isOpen()) port_.close();
}

bool SerialPortBackend::isOpen() const { return port_.isOpen(); }

QByteArray SerialPortBackend::read(int maxChars) {
    if (maxChars <= 0) return {};
    // No event loop runs during a command: pull in whatever the device has for us now.
    if (port_.bytesAvailable() < maxChars) port_.waitForReadyRead(0);
    // A line that was hung up or pulled out reports a resource error or, for a terminal whose
    // other end went away, a read error; either way nothing more will come.
    if (port_.error() == QSerialPort::ResourceError || port_.error() == QSerialPort::ReadError) {
        const QString why = port_.error() == QSerialPort::ResourceError
                                ? port_.errorString()
                                : QStringLiteral("the device can no longer be read");
        port_.clearError();
        throw VbError(err::ReadFailed, QStringLiteral("Lost %1: %2").arg(device_, why));
    }
    return port_.read(maxChars);
}

void SerialPortBackend::write(const QByteArray& data, const QDeadlineTimer& deadline) {
    // 8 bytes need about 8 ms at 9600 baud.
    bool written = port_.write(data) == data.size();
    while (written && port_.bytesToWrite() > 0)
        written = port_.waitForBytesWritten(waitMs(deadline));
    if (!written) {
        const QString why = port_.errorString();
        port_.clearError();
        throw VbError(err::WriteFailed, QStringLiteral("Cannot write to %1: %2").arg(device_, why));
    }
}

} // namespace skyjog
