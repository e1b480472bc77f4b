#pragma once
#include "backend.h"

#include <QSerialPort>

namespace skyjog {

// A serial device through QSerialPort. Only terminal devices are opened: anything else (a
// regular file, a directory) is refused before a byte could be written to it.
class SerialPortBackend final : public SerialBackend {
public:
    explicit SerialPortBackend(QString device);
    void open(const LineSettings& line, const QDeadlineTimer& deadline) override;
    void close() override;
    bool isOpen() const override;
    QByteArray read(int maxChars) override;
    void write(const QByteArray& data, const QDeadlineTimer& deadline) override;

private:
    QString device_;
    QSerialPort port_;
};

} // namespace skyjog
