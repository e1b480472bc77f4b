#include "tcphost.h"

namespace skyjog::sim {

TcpHost::TcpHost(SimRunner& runner, QObject* parent) : QObject(parent), runner_(runner) {
    connect(&server_, &QTcpServer::newConnection, this, &TcpHost::accept);
}

TcpHost::~TcpHost() {
    runner_.removeLine(this);
    for (QTcpSocket* s : clients_)
        s->abort();
}

bool TcpHost::start(quint16 port, QString* error) {
    if (!server_.listen(QHostAddress::LocalHost, port)) {
        *error = QStringLiteral("Cannot listen on 127.0.0.1:%1: %2")
                     .arg(port)
                     .arg(server_.errorString());
        return false;
    }
    runner_.addLine(this);
    return true;
}

void TcpHost::accept() {
    while (QTcpSocket* s = server_.nextPendingConnection()) {
        s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        clients_ << s;
        connect(s, &QTcpSocket::readyRead, this, [this, s] { runner_.input(s->readAll()); });
        connect(s, &QTcpSocket::disconnected, this, [this, s] {
            clients_.removeAll(s);
            s->deleteLater();
        });
    }
}

void TcpHost::send(const QByteArray& bytes) {
    for (QTcpSocket* s : clients_)
        if (s->state() == QAbstractSocket::ConnectedState) {
            s->write(bytes);
            s->flush(); // on the wire now, not when the event loop next comes round
        }
}

void TcpHost::hangUp() {
    const QList<QTcpSocket*> all = clients_;
    clients_.clear();
    for (QTcpSocket* s : all) {
        s->disconnect(this);
        s->abort();
        s->deleteLater();
    }
}

} // namespace skyjog::sim
