#pragma once
// The model behind a TCP listener on the loopback interface, like a serial-over-TCP bridge: every
// connection reaches the same hand control, and what it sends goes to every connection.
#include "simhost.h"

#include <QList>
#include <QTcpServer>
#include <QTcpSocket>

namespace skyjog::sim {

class TcpHost final : public QObject, public SimLine {
    Q_OBJECT
public:
    TcpHost(SimRunner& runner, QObject* parent = nullptr);
    ~TcpHost() override;

    // Listens on 127.0.0.1 (port 0 picks a free one); false with a reason when it cannot.
    bool start(quint16 port, QString* error);
    quint16 port() const { return server_.serverPort(); }

    void send(const QByteArray& bytes) override;
    void hangUp() override;

private:
    void accept();

    SimRunner& runner_;
    QTcpServer server_;
    QList<QTcpSocket*> clients_;
};

} // namespace skyjog::sim
