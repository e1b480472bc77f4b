#include "shareclient.h"
#include "shareserver.h"

#include <QSocketNotifier>
#include <QTcpSocket>
#include <QTimer>
#ifdef Q_OS_UNIX
#include "pseudoterminal.h"
#endif
#include <utility>

namespace skyjog::share {

void Client::received(const QByteArray& bytes) {
    server_.received(id_, bytes);
}

void Client::gone() {
    server_.removeClient(id_);
}

namespace {

class TcpClient final : public Client {
public:
    TcpClient(ShareServer& server, int id, QTcpSocket* socket)
        : Client(server, id,
                 QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort())),
          socket_(socket) {
        socket_->setParent(this);
        // Replies are a few bytes each, and a client waits for every one.
        socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(socket_, &QTcpSocket::readyRead, this, [this] { received(socket_->readAll()); });
        connect(socket_, &QTcpSocket::disconnected, this, [this] { gone(); });
    }
    void write(const QByteArray& bytes) override { socket_->write(bytes); }
    void hangUp() override {
        socket_->readAll();
        socket_->disconnectFromHost();
    }

private:
    QTcpSocket* socket_;
};

#ifdef Q_OS_UNIX
class PtyClient final : public Client {
public:
    PtyClient(ShareServer& server, int id, QString linkPath)
        : Client(server, id, linkPath), link_(std::move(linkPath)) {
        // Nothing tells the master when a client changes the terminal's settings.
        rawTimer_.setInterval(50);
        connect(&rawTimer_, &QTimer::timeout, this, [this] { keepRaw(pty_); });
    }
    ~PtyClient() override { closePseudoTerminal(pty_, link_); }

    bool open(QString* error) {
        if (!openPseudoTerminal(pty_, link_, error)) return false;
        notifier_ = std::make_unique<QSocketNotifier>(pty_.master, QSocketNotifier::Read);
        connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
            keepRaw(pty_);
            const QByteArray data = readMaster(pty_);
            if (!data.isEmpty()) received(data);
        });
        rawTimer_.start();
        return true;
    }
    void write(const QByteArray& bytes) override {
        keepRaw(pty_);
        writeMaster(pty_, bytes);
    }
    // A fresh terminal takes the old one's place behind the link before the old one closes, so
    // that the program sees the hang-up and finds the link working when it opens it again.
    void hangUp() override {
        PseudoTerminal old = std::exchange(pty_, PseudoTerminal{});
        notifier_.reset();
        QString error;
        if (!open(&error)) qWarning("%s", qPrintable(error));
        closePseudoTerminal(old);
    }

private:
    QString link_;
    PseudoTerminal pty_;
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer rawTimer_;
};
#endif

} // namespace

std::unique_ptr<Client> makeTcpClient(ShareServer& server, int id, QTcpSocket* socket) {
    return std::make_unique<TcpClient>(server, id, socket);
}

std::unique_ptr<Client> makePtyClient(ShareServer& server, int id, const QString& linkPath,
                                      QString* error) {
#ifdef Q_OS_UNIX
    auto client = std::make_unique<PtyClient>(server, id, linkPath);
    if (!client->open(error)) return nullptr;
    return client;
#else
    (void)server, (void)id, (void)linkPath;
    *error = QStringLiteral("This system offers no pseudo-terminals");
    return nullptr;
#endif
}

} // namespace skyjog::share
