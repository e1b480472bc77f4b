#pragma once
#include "backend.h"

#include <QTcpSocket>

namespace skyjog {

// A raw TCP stream to a serial-over-TCP bridge, connected for one command and closed after it.
class TcpBackend final : public SerialBackend {
public:
    TcpBackend(QString host, quint16 port);
    void open(const LineSettings& line) override;
    void close() override;
    bool isOpen() const override;
    QByteArray read(int maxChars) override;
    void write(const QByteArray& data) override;

    static constexpr int ConnectTimeoutMs = 2000;
    static constexpr int WriteTimeoutMs = 1000;

private:
    QString where() const;
    QString host_;
    quint16 port_;
    QTcpSocket socket_;
    bool open_ = false;
};

} // namespace skyjog
