#include "tcp_backend.h"
#include "vberror.h"

namespace skyjog {

TcpBackend::TcpBackend(QString host, quint16 port) : host_(std::move(host)), port_(port) {}

QString TcpBackend::where() const { return QStringLiteral("%1:%2").arg(host_).arg(port_); }

void TcpBackend::open(const LineSettings&) {
    socket_.connectToHost(host_, port_);
    if (!socket_.waitForConnected(ConnectTimeoutMs)) {
        const QString why = socket_.errorString();
        socket_.abort();
        throw VbError(err::InvalidPort, QStringLiteral("Cannot connect to %1: %2").arg(where(), why));
    }
    socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    open_ = true;
}

void TcpBackend::close() {
    if (!open_) return;
    open_ = false;
    socket_.disconnectFromHost();
    if (socket_.state() != QAbstractSocket::UnconnectedState) socket_.waitForDisconnected(100);
    socket_.abort();
}

bool TcpBackend::isOpen() const { return open_; }

QByteArray TcpBackend::read(int maxChars) {
    if (maxChars <= 0) return {};
    if (socket_.bytesAvailable() < maxChars) socket_.waitForReadyRead(0);
    if (socket_.bytesAvailable() == 0 && socket_.state() != QAbstractSocket::ConnectedState)
        throw VbError(err::ReadFailed, QStringLiteral("Lost the connection to %1").arg(where()));
    return socket_.read(maxChars);
}

void TcpBackend::write(const QByteArray& data) {
    if (socket_.write(data) != data.size() || !socket_.waitForBytesWritten(WriteTimeoutMs))
        throw VbError(err::WriteFailed,
                      QStringLiteral("Cannot write to %1: %2").arg(where(), socket_.errorString()));
}

} // namespace skyjog
