#pragma once
// Lets other programs (a planetarium, a guider) use the mount through this one: they connect by
// TCP or through a pseudo-terminal and speak the hand control's protocol, and their commands go
// out one at a time, between the pad's own, through one exchange function. Nothing here knows
// the window: whether a client may move an axis, and whether the line is free, are asked.
#include "functions.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

class QTcpServer;

namespace skyjog::share {

// What a client's command does to a motor, for the hook that decides whether it is sent.
struct MotorCommand {
    enum class Kind { Stop, Fixed, Variable, Goto };
    Kind kind = Kind::Stop;
    // AzMotor or AltMotor; 0 for a GoTo to coordinates and a GoTo's cancel, which move both.
    uint8_t motor = 0;
    // The pass-through message; 0 for a command of its own letter.
    uint8_t id = 0;
};
// None for a command that moves nothing.
std::optional<MotorCommand> motorCommand(const QByteArray& command);
// Whether a command ends motion: it goes ahead of the motion commands waiting.
bool isStop(const QByteArray& command);
// The reply a client gets for a command that was not sent: the acknowledgement it waits for.
QByteArray refusedReply(int replyLength);

class Client;

class ShareServer : public QObject {
    Q_OBJECT
public:
    // One exchange with the mount: the pad's own path (port opened per command, its lock, its
    // time-out).
    using Exchange = std::function<CommandResult(const QByteArray& command, int16_t replyLength)>;
    // Whether a client's motor command may go out; false refuses it. Asked as the command
    // arrives and again as its turn comes: a move that arrives while the pad holds its axis, or
    // runs its spiral, is refused even when its turn comes only after.
    using Policy = std::function<bool(int client, const MotorCommand&)>;

    // A half command whose next byte comes later than this is dropped, as the hand control
    // drops it.
    static constexpr uint32_t CommandGapMs = 250;
    // How soon a command that had to wait for the pad's own is tried again.
    static constexpr int RetryMs = 5;

    explicit ShareServer(Exchange exchange, QObject* parent = nullptr);
    ~ShareServer() override;

    // Asked before each exchange, and again shortly after while false. Unset: always free.
    void setMayExchangeNow(std::function<bool()> mayExchangeNow);
    // Unset: every motor command is sent.
    void setPolicy(Policy policy);

    // Starts listening; false with a reason when the address cannot be used. A port that is in
    // use is reported by listenFailed too, but only the first time in a row.
    bool listen(const QHostAddress& address, uint16_t port, QString* error = nullptr);
    uint16_t tcpPort() const;
    // Offers a pseudo-terminal behind a link at linkPath (Linux and macOS).
    bool openPty(const QString& linkPath, QString* error = nullptr);
    QString ptyPath() const;
    // A connection of another kind than TCP and the terminal (an in-process one), made with the
    // number it is given; returns that number.
    int adopt(const std::function<std::unique_ptr<Client>(ShareServer&, int id)>& make);
    // Stops listening, closes the terminal and drops every client (reported as disconnected).
    void close();

    struct ClientInfo {
        int id = 0;
        QString name; // "127.0.0.1:40312", or the terminal's link
        QByteArray lastCommand;
        // The motors whose move it started has not been followed by its own stop.
        std::set<uint8_t> moving;
    };
    std::vector<ClientInfo> clients() const;
    // Commands waiting to go out.
    int waiting() const { return int(queue_.size()); }
    // Bytes of half commands waiting for the rest, all clients together.
    int halfCommandBytes() const;

signals:
    void clientConnected(int client, const QString& name);
    // moving: what ClientInfo::moving held when it went; those motors are to be stopped.
    void clientDisconnected(int client, const QString& name, const std::set<uint8_t>& moving);
    void commandTaken(int client, const QByteArray& command);
    // Refusals, commands nobody knows, half commands dropped, failed exchanges.
    void logLine(const QString& line);
    void listenFailed(const QString& error);
    // A command went out to the mount (not refused) and this came of it.
    void exchanged(int client, const QByteArray& command, const skyjog::CommandResult& result);

private:
    friend class Client;
    struct Pending {
        int client;
        QByteArray command;
        int replyLength;
        // Refused as it arrived (the pad held its axis then): it waits its turn all the same,
        // so that its client's replies keep their order, but it never goes out.
        bool refused = false;
    };
    struct Framer {
        QByteArray partial;
        uint32_t lastAt = 0;
    };

    void addClient(std::unique_ptr<Client> client);
    void removeClient(int id);
    void reportGone(int id);
    void received(int id, const QByteArray& bytes);
    static bool expired(const Framer& f, uint32_t now);
    void dropStalePartials();
    void schedule(int delayMs);
    void runNext();
    void execute(const Pending& p);
    void track(ClientInfo& info, const MotorCommand& m);
    void log(const QString& line);
    QString nameOf(int id) const;

    Exchange exchange_;
    std::function<bool()> mayExchangeNow_;
    Policy policy_;
    std::unique_ptr<QTcpServer> tcp_;
    bool reportedInUse_ = false;
    std::map<int, std::unique_ptr<Client>> clients_;
    std::map<int, ClientInfo> info_;
    std::map<int, Framer> framers_;
    std::deque<Pending> queue_;
    // When the next turn of runNext is due, if one is.
    std::optional<uint32_t> runDue_;
    uint64_t runTurn_ = 0;
    QTimer gapTimer_;
    bool running_ = false;
    int runningClient_ = 0;
    bool goneWhileRunning_ = false;
    int nextId_ = 1;
    int ptyClient_ = 0;
};

} // namespace skyjog::share
