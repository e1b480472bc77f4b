#include "tcp_backend.h"
#include "vberror.h"

#include <QHostInfo>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace skyjog {

TcpBackend::TcpBackend(QString host, quint16 port, Lookup lookup)
    : host_(std::move(host)), port_(port), lookup_(std::move(lookup)) {
    if (!lookup_)
        lookup_ = [](const QString& name) { return QHostInfo::fromName(name).addresses(); };
}

QString TcpBackend::where() const { return QStringLiteral("%1:%2").arg(host_).arg(port_); }

QList<QHostAddress> TcpBackend::addresses(const QDeadlineTimer& deadline) const {
    if (QHostAddress literal; literal.setAddress(host_)) return {literal};
    // The system's resolver cannot be told when to give up (an unreachable name server keeps it
    // for seconds), and QTcpSocket's own waiting connect waits for it: it runs on a thread of its
    // own, and a lookup still running at the deadline is left to finish there, unheeded.
    struct Shared {
        std::mutex m;
        std::condition_variable done;
        bool finished = false;
        QList<QHostAddress> found;
    };
    auto shared = std::make_shared<Shared>();
    std::thread([shared, lookup = lookup_, host = host_] {
        QList<QHostAddress> found = lookup(host);
        const std::lock_guard lock(shared->m);
        shared->found = std::move(found);
        shared->finished = true;
        shared->done.notify_all();
    }).detach();
    std::unique_lock lock(shared->m);
    const auto finished = [&] { return shared->finished; };
    if (deadline.isForever())
        shared->done.wait(lock, finished);
    else if (!shared->done.wait_for(lock, std::chrono::milliseconds(waitMs(deadline)), finished))
        throw VbError(err::InvalidPort,
                      QStringLiteral("Cannot connect to %1: the host name was not found in time")
                          .arg(where()));
    return shared->found;
}

void TcpBackend::open(const LineSettings&, const QDeadlineTimer& deadline) {
    const QList<QHostAddress> found = addresses(deadline);
    QString why = QStringLiteral("Host not found");
    for (const QHostAddress& address : found) {
        socket_.connectToHost(address, port_);
        if (socket_.waitForConnected(waitMs(deadline))) {
            socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
            open_ = true;
            return;
        }
        why = socket_.error() == QAbstractSocket::SocketTimeoutError
                  ? QStringLiteral("no answer in time")
                  : socket_.errorString();
        socket_.abort();
        if (deadline.hasExpired()) break;
    }
    throw VbError(err::InvalidPort, QStringLiteral("Cannot connect to %1: %2").arg(where(), why));
}

void TcpBackend::close() {
    if (!open_) return;
    open_ = false;
    // Nothing is waited for: the command's bytes left in write(), and a write that failed has
    // nothing worth waiting for.
    socket_.disconnectFromHost();
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

void TcpBackend::write(const QByteArray& data, const QDeadlineTimer& deadline) {
    bool written = socket_.write(data) == data.size();
    while (written && socket_.bytesToWrite() > 0)
        written = socket_.waitForBytesWritten(waitMs(deadline));
    if (!written)
        throw VbError(err::WriteFailed,
                      QStringLiteral("Cannot write to %1: %2")
                          .arg(where(), socket_.error() == QAbstractSocket::SocketTimeoutError
                                            ? QStringLiteral("the bridge does not take the data")
                                            : socket_.errorString()));
}

} // namespace skyjog
