#pragma once
// One program connected to the share: bytes it writes go to the server, replies go back to it.
#include <QByteArray>
#include <QObject>
#include <QString>
#include <memory>

class QTcpSocket;

namespace skyjog::share {

class ShareServer;

class Client : public QObject {
    Q_OBJECT
public:
    Client(ShareServer& server, int id, QString name)
        : server_(server), id_(id), name_(std::move(name)) {}
    int id() const { return id_; }
    const QString& name() const { return name_; }
    virtual void write(const QByteArray& bytes) = 0;
    // Ends the connection (a command nobody knows has made the stream unreadable). Bytes the
    // program sent before it are discarded with it.
    virtual void hangUp() = 0;

protected:
    void received(const QByteArray& bytes);
    void gone();

private:
    ShareServer& server_;
    int id_;
    QString name_;
};

// A TCP connection; the client takes the socket.
std::unique_ptr<Client> makeTcpClient(ShareServer& server, int id, QTcpSocket* socket);
// A pseudo-terminal behind a link at linkPath; none, with a reason, when it cannot be made. It
// stays for as long as the share does, whoever opens and closes it.
std::unique_ptr<Client> makePtyClient(ShareServer& server, int id, const QString& linkPath,
                                      QString* error);

} // namespace skyjog::share
