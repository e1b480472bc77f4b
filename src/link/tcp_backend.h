#pragma once
#include "backend.h"

#include <QHostAddress>
#include <QList>
#include <QTcpSocket>
#include <functional>

namespace skyjog {

// A raw TCP stream to a serial-over-TCP bridge, connected for one command and closed after it.
// Finding the host, connecting and writing all end by the command's deadline: a bridge that is
// switched off or out of reach fails the command within its time-out.
class TcpBackend final : public SerialBackend {
public:
    // Finds the addresses of a host name; may take as long as the system's resolver takes.
    using Lookup = std::function<QList<QHostAddress>(const QString& host)>;

    // Without a lookup, the system's resolver (QHostInfo) is used.
    TcpBackend(QString host, quint16 port, Lookup lookup = {});
    void open(const LineSettings& line, const QDeadlineTimer& deadline) override;
    void close() override;
    bool isOpen() const override;
    QByteArray read(int maxChars) override;
    void write(const QByteArray& data, const QDeadlineTimer& deadline) override;
    bool openIsRoundTrip() const override { return true; }

private:
    QString where() const;
    QList<QHostAddress> addresses(const QDeadlineTimer& deadline) const;
    QString host_;
    quint16 port_;
    Lookup lookup_;
    QTcpSocket socket_;
    bool open_ = false;
};

} // namespace skyjog
