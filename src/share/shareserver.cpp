#include "shareserver.h"
#include "clock.h"
#include "commands.h"
#include "commandtable.h"
#include "shareclient.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <algorithm>
#include <utility>

namespace skyjog::share {

namespace {
// The motor controllers' GoTo messages, which the pad never sends but a planetarium does.
constexpr uint8_t MsgGotoFast = 2;
constexpr uint8_t MsgGotoSlow = 23;

uint8_t at(const QByteArray& bytes, int i) {
    return uint8_t(bytes[i]);
}
} // namespace

// A byte that comes exactly the gap after the one before still belongs to its command.
bool ShareServer::expired(const Framer& f, uint32_t now) {
    return !f.partial.isEmpty() && elapsedMs(f.lastAt, now) > CommandGapMs;
}

std::optional<MotorCommand> motorCommand(const QByteArray& command) {
    using Kind = MotorCommand::Kind;
    const auto framing = cmd::frameCommand(command);
    if (framing.state != cmd::Framing::State::Complete || framing.length != command.size())
        return std::nullopt;
    switch (command[0]) {
    case 'M':
        return MotorCommand{Kind::Stop};
    case 'R':
    case 'r':
    case 'B':
    case 'b':
        return MotorCommand{Kind::Goto};
    case 'P':
        break;
    default:
        return std::nullopt;
    }
    const uint8_t motor = at(command, 2), id = at(command, 3);
    if (motor != cmd::AzMotor && motor != cmd::AltMotor) return std::nullopt;
    switch (id) {
    case cmd::MsgFixedPositive:
    case cmd::MsgFixedNegative:
        return MotorCommand{at(command, 4) == 0 ? Kind::Stop : Kind::Fixed, motor, id};
    case cmd::MsgSlewPositive:
    case cmd::MsgSlewNegative: {
        const bool stop = at(command, 4) == 0 && (at(command, 1) < 3 || at(command, 5) == 0);
        return MotorCommand{stop ? Kind::Stop : Kind::Variable, motor, id};
    }
    case MsgGotoFast:
    case MsgGotoSlow:
        return MotorCommand{Kind::Goto, motor, id};
    default:
        return std::nullopt;
    }
}

bool isStop(const QByteArray& command) {
    const auto m = motorCommand(command);
    return m && m->kind == MotorCommand::Kind::Stop;
}

QByteArray refusedReply(int replyLength) {
    return QByteArray(std::max(replyLength - 1, 0), '\0') + '#';
}

ShareServer::ShareServer(Exchange exchange, QObject* parent)
    : QObject(parent), exchange_(std::move(exchange)) {
    // Checked a few times per gap, so that a half command is dropped soon after its gap ends
    // even when its client stays quiet.
    gapTimer_.setInterval(int(CommandGapMs / 5));
    connect(&gapTimer_, &QTimer::timeout, this, &ShareServer::dropStalePartials);
}

ShareServer::~ShareServer() {
    // Nobody hears of clients that go with the server, and they go at once: a deferred one
    // could still call back into it.
    blockSignals(true);
    clients_.clear();
}

void ShareServer::setMayExchangeNow(std::function<bool()> mayExchangeNow) {
    mayExchangeNow_ = std::move(mayExchangeNow);
}

void ShareServer::setPolicy(Policy policy) {
    policy_ = std::move(policy);
}

bool ShareServer::listen(const QHostAddress& address, uint16_t port, QString* error) {
    tcp_ = std::make_unique<QTcpServer>();
    if (!tcp_->listen(address, port)) {
        const QString why = QStringLiteral("Cannot listen on %1:%2: %3")
                                .arg(address.toString())
                                .arg(port)
                                .arg(tcp_->errorString());
        const bool inUse = tcp_->serverError() == QAbstractSocket::AddressInUseError;
        if (!inUse || !reportedInUse_) emit listenFailed(why);
        reportedInUse_ = inUse;
        tcp_.reset();
        if (error) *error = why;
        return false;
    }
    reportedInUse_ = false;
    connect(tcp_.get(), &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = tcp_->nextPendingConnection())
            addClient(makeTcpClient(*this, nextId_++, socket));
    });
    return true;
}

uint16_t ShareServer::tcpPort() const {
    return tcp_ ? tcp_->serverPort() : 0;
}

bool ShareServer::openPty(const QString& linkPath, QString* error) {
    QString why;
    auto client = makePtyClient(*this, nextId_++, linkPath, &why);
    if (!client) {
        log(why);
        if (error) *error = why;
        return false;
    }
    ptyClient_ = client->id();
    addClient(std::move(client));
    return true;
}

QString ShareServer::ptyPath() const {
    return ptyClient_ ? nameOf(ptyClient_) : QString();
}

void ShareServer::close() {
    tcp_.reset();
    ptyClient_ = 0;
    while (!clients_.empty()) removeClient(clients_.begin()->first);
}

std::vector<ShareServer::ClientInfo> ShareServer::clients() const {
    std::vector<ClientInfo> all;
    for (const auto& [id, info] : info_) all.push_back(info);
    return all;
}

int ShareServer::halfCommandBytes() const {
    int n = 0;
    for (const auto& [id, f] : framers_) n += int(f.partial.size());
    return n;
}

void ShareServer::addClient(std::unique_ptr<Client> client) {
    const int id = client->id();
    info_[id] = ClientInfo{id, client->name(), {}, {}};
    clients_[id] = std::move(client);
    emit clientConnected(id, info_[id].name);
}

void ShareServer::removeClient(int id) {
    const auto it = clients_.find(id);
    if (it == clients_.end()) return;
    // It may be in the middle of its own signal; it goes once that has returned.
    it->second.release()->deleteLater();
    clients_.erase(it);
    framers_.erase(id);
    // Its questions go unanswered, but a stop it sent still goes out.
    std::erase_if(queue_, [&](const Pending& p) { return p.client == id && !isStop(p.command); });
    // A move that is on its way counts: it is reported when it has gone out.
    if (running_ && runningClient_ == id)
        goneWhileRunning_ = true;
    else
        reportGone(id);
}

void ShareServer::reportGone(int id) {
    const ClientInfo info = info_[id];
    info_.erase(id);
    emit clientDisconnected(id, info.name, info.moving);
}

QString ShareServer::nameOf(int id) const {
    const auto it = info_.find(id);
    return it == info_.end() ? QStringLiteral("client %1").arg(id) : it->second.name;
}

void ShareServer::log(const QString& line) {
    emit logLine(line);
}

void ShareServer::received(int id, const QByteArray& bytes) {
    // A client removed in the middle of its own signal may still deliver what was on its way.
    if (!clients_.count(id)) return;
    Framer& f = framers_[id];
    const uint32_t now = clock().tickCount();
    if (expired(f, now)) dropStalePartials();
    f.partial += bytes;
    f.lastAt = now;
    for (;;) {
        const cmd::Framing framing = cmd::frameCommand(f.partial);
        if (framing.state == cmd::Framing::State::NeedMore) break;
        if (framing.state == cmd::Framing::State::Unknown) {
            // Nobody can tell where the next command starts: reading on would take the rest of
            // the stream apart in the wrong places.
            log(QStringLiteral("%1: %2 (byte %3); connection closed")
                    .arg(nameOf(id), cmd::describeCommand(f.partial.left(1)))
                    .arg(at(f.partial, 0)));
            framers_.erase(id);
            clients_[id]->hangUp();
            return;
        }
        const QByteArray command = f.partial.left(framing.length);
        f.partial.remove(0, framing.length);
        info_[id].lastCommand = command;
        emit commandTaken(id, command);
        const auto motor = motorCommand(command);
        const bool refused = motor && motor->kind != MotorCommand::Kind::Stop && policy_ &&
                             !policy_(id, *motor);
        queue_.push_back({id, command, framing.replyLength, refused});
        schedule(0);
    }
    if (!f.partial.isEmpty() && !gapTimer_.isActive()) gapTimer_.start();
}

void ShareServer::dropStalePartials() {
    const uint32_t now = clock().tickCount();
    bool waiting = false;
    for (auto& [id, f] : framers_) {
        if (f.partial.isEmpty()) continue;
        if (expired(f, now)) {
            log(QStringLiteral("%1: %2 of %3 dropped, the rest never came")
                    .arg(nameOf(id))
                    .arg(f.partial.size() == 1 ? QStringLiteral("1 byte")
                                               : QStringLiteral("%1 bytes").arg(f.partial.size()))
                    .arg(cmd::describeCommand(f.partial.left(1))));
            f.partial.clear();
        } else {
            waiting = true;
        }
    }
    if (!waiting) gapTimer_.stop();
}

void ShareServer::schedule(int delayMs) {
    // On the program's clock, so that a test's clock decides when a waiting command is tried
    // again, as it decides the pad's own waits.
    const uint32_t due = clock().tickCount() + uint32_t(delayMs);
    if (runDue_ && int32_t(due - *runDue_) >= 0) return;
    runDue_ = due;
    const uint64_t turn = ++runTurn_;
    clock().callAt(due, this, [this, turn] {
        if (turn != runTurn_) return; // a sooner turn replaced it
        runDue_.reset();
        runNext();
    });
}

int ShareServer::adopt(const std::function<std::unique_ptr<Client>(ShareServer&, int id)>& make) {
    const int id = nextId_++;
    addClient(make(*this, id));
    return id;
}

void ShareServer::runNext() {
    // An exchange handles events while it waits for the mount; one that would start inside it
    // waits for it to end.
    if (running_ || queue_.empty()) return;
    if (mayExchangeNow_ && !mayExchangeNow_()) {
        schedule(RetryMs);
        return;
    }
    // A stop goes first, behind only what its own client sent before it: that client reads its
    // replies in the order of its commands, and a move it sent earlier must not come after.
    auto next = queue_.begin();
    const auto stop = std::find_if(queue_.begin(), queue_.end(),
                                   [](const Pending& p) { return isStop(p.command); });
    if (stop != queue_.end())
        next = std::find_if(queue_.begin(), queue_.end(),
                            [&](const Pending& p) { return p.client == stop->client; });
    const Pending p = *next;
    queue_.erase(next);
    running_ = true;
    runningClient_ = p.client;
    execute(p);
    running_ = false;
    if (std::exchange(goneWhileRunning_, false)) reportGone(p.client);
    // One exchange per pass of the event loop, so that the pad's own commands come in between.
    if (!queue_.empty()) schedule(0);
}

void ShareServer::execute(const Pending& p) {
    const QString what = cmd::describeCommand(p.command);
    const auto motor = motorCommand(p.command);
    QByteArray reply;
    if (motor && (p.refused || (policy_ && !policy_(p.client, *motor)))) {
        log(QStringLiteral("%1: %2 refused, the pad has the axis").arg(nameOf(p.client), what));
        reply = refusedReply(p.replyLength);
    } else {
        const CommandResult result = exchange_(p.command, int16_t(p.replyLength));
        if (result.portFailed)
            log(QStringLiteral("%1: %2 not sent: %3").arg(nameOf(p.client), what, result.failure));
        else if (result.reply.size() < p.replyLength)
            log(QStringLiteral("%1: %2: the mount answered %3 of %4 bytes")
                    .arg(nameOf(p.client), what)
                    .arg(result.reply.size())
                    .arg(p.replyLength));
        // A move whose acknowledgement was lost may still have reached the motor.
        if (!result.portFailed && motor) {
            if (const auto it = info_.find(p.client); it != info_.end()) track(it->second, *motor);
        }
        reply = result.reply;
        emit exchanged(p.client, p.command, result);
    }
    // It may have gone while the mount answered.
    if (const auto it = clients_.find(p.client); it != clients_.end() && !reply.isEmpty())
        it->second->write(reply);
}

void ShareServer::track(ClientInfo& info, const MotorCommand& m) {
    if (m.motor == 0) {
        // A GoTo moves both axes; cancelling it stops both.
        if (m.kind == MotorCommand::Kind::Stop)
            info.moving.clear();
        else
            info.moving = {cmd::AzMotor, cmd::AltMotor};
        return;
    }
    if (m.kind == MotorCommand::Kind::Stop)
        info.moving.erase(m.motor);
    else
        info.moving.insert(m.motor);
}

} // namespace skyjog::share
