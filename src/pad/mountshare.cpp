#include "mountshare.h"

#include "arrow.h"
#include "commands.h"
#include "motion.h"
#include "preferences.h"

#include <QNetworkInterface>
#include <QStandardPaths>
#include <QDir>
#include <cstdio>

namespace skyjog {

namespace {

// The axis a motor moves, as the pad counts them.
std::size_t axisOfMotor(uint8_t motor) {
    return motorOf(arrowOfAxis(0)) == motor ? 0 : 1;
}

std::vector<std::size_t> axesOf(const share::MotorCommand& m) {
    if (m.motor == 0) return {0, 1};
    return {axisOfMotor(m.motor)};
}

QString withPort(const QHostAddress& a, uint16_t port) {
    const QString host = a.protocol() == QAbstractSocket::IPv6Protocol
                             ? QStringLiteral("[%1]").arg(a.toString())
                             : a.toString();
    return QStringLiteral("%1:%2").arg(host).arg(port);
}

bool isAnyAddress(const QHostAddress& a) {
    return a == QHostAddress(QHostAddress::Any) || a == QHostAddress(QHostAddress::AnyIPv4) ||
           a == QHostAddress(QHostAddress::AnyIPv6);
}

} // namespace

std::optional<ShareTarget> parseShareTarget(const QString& text, const ShareTarget& kept,
                                            QString* error) {
    const auto fail = [&](const QString& why) -> std::optional<ShareTarget> {
        if (error) *error = why;
        return std::nullopt;
    };
    ShareTarget t = kept;
    QString host = text.trimmed();
    QString port;
    if (host.startsWith(u'[')) {
        const int close = host.indexOf(u']');
        if (close < 0) return fail(QStringLiteral("\"%1\" has no closing bracket").arg(text));
        const QString rest = host.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(u':'))
            return fail(QStringLiteral("\"%1\" is not ADDRESS:PORT").arg(text));
        port = rest.mid(1);
        host = host.mid(1, close - 1);
        if (rest == QLatin1String(":")) return fail(QStringLiteral("\"%1\" has no port").arg(text));
    } else if (host.count(u':') == 1) {
        const int colon = host.indexOf(u':');
        port = host.mid(colon + 1);
        host = host.left(colon);
        if (port.isEmpty()) return fail(QStringLiteral("\"%1\" has no port").arg(text));
    }
    if (!host.isEmpty()) {
        if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
            t.address = QHostAddress(QHostAddress::LocalHost);
        else if (host == QLatin1String("*"))
            t.address = QHostAddress(QHostAddress::Any);
        else if (QHostAddress a; a.setAddress(host))
            t.address = a;
        else
            return fail(QStringLiteral("\"%1\" is not an IP address").arg(host));
    }
    if (!port.isEmpty()) {
        bool ok = false;
        const uint value = port.toUInt(&ok);
        if (!ok || value == 0 || value > 65535)
            return fail(QStringLiteral("\"%1\" is not a port (1-65535)").arg(port));
        t.port = uint16_t(value);
    }
    return t;
}

MountShare::MountShare(Preferences& prefs, Motion& motion, Hooks hooks, QObject* parent)
    : QObject(parent), prefs_(prefs), motion_(motion), hooks_(std::move(hooks)),
      // The pad's own path, quietly: a failed exchange is the client's to handle (and is in
      // the log), and a box for each of a planetarium's polls would bury the pad.
      server_([](const QByteArray& command, int16_t replyLength) {
          return SendCommandQuietly(command, replyLength, cmd::TimeoutMs);
      }) {
    server_.setMayExchangeNow([this] { return !hooks_.mayExchangeNow || hooks_.mayExchangeNow(); });
    server_.setPolicy([this](int client, const share::MotorCommand& m) { return allowed(client, m); });
    connect(&server_, &share::ShareServer::logLine, this, &MountShare::addLog);
    connect(&server_, &share::ShareServer::clientConnected, this,
            [this](int, const QString& name) {
                addLog(QStringLiteral("%1 connected").arg(name));
                emit changed();
            });
    connect(&server_, &share::ShareServer::clientDisconnected, this,
            [this](int client, const QString& name, const std::set<uint8_t>&) {
                const bool moving = motion_.remoteMoving(0) == client ||
                                    motion_.remoteMoving(1) == client;
                addLog(moving ? QStringLiteral("%1 went while moving the mount; stopping it")
                                    .arg(name)
                              : QStringLiteral("%1 went").arg(name));
                motion_.remoteGone(client);
                emit changed();
            });
    connect(&server_, &share::ShareServer::commandTaken, this, [this] { emit changed(); });
    connect(&server_, &share::ShareServer::exchanged, this, &MountShare::exchanged);
}

MountShare::~MountShare() = default;

void MountShare::start(std::optional<QString> commandLine) {
    enabled_ = prefs_.get(Pref::ShareEnabled).toBool();
    const uint port = prefs_.get(Pref::SharePort).toUInt();
    target_ = {QHostAddress(QHostAddress::LocalHost),
               port >= 1 && port <= 65535 ? uint16_t(port) : DefaultPort};
    // A kept address that does not read (edited by hand) falls back to this computer only.
    if (const auto kept = parseShareTarget(prefs_.get(Pref::ShareAddress).toString(), target_);
        kept && !prefs_.get(Pref::ShareAddress).toString().trimmed().isEmpty())
        target_.address = kept->address;
    if (commandLine) {
        QString why;
        const auto t = parseShareTarget(*commandLine, target_, &why);
        if (!t) {
            enabled_ = false;
            fail(QStringLiteral("Cannot share the mount at %1: %2").arg(*commandLine, why));
            emit changed();
            return;
        }
        enabled_ = true;
        target_ = *t;
    }
    apply();
}

void MountShare::setEnabled(bool on) {
    if (on == enabled_) return;
    enabled_ = on;
    keep();
    apply();
}

void MountShare::setTarget(const ShareTarget& t) {
    if (t.address == target_.address && t.port == target_.port) return;
    target_ = t;
    keep();
    if (enabled_) apply();
}

bool MountShare::isOpenToNetwork(const QHostAddress& a) {
    return !a.isLoopback();
}

void MountShare::keep() {
    prefs_.set(Pref::ShareEnabled, enabled_);
    // Every interface, IPv4 and IPv6 alike, has no address of its own to write.
    prefs_.set(Pref::ShareAddress, target_.address == QHostAddress(QHostAddress::Any)
                                       ? QStringLiteral("*")
                                       : target_.address.toString());
    prefs_.set(Pref::SharePort, target_.port);
    prefs_.save();
}

void MountShare::apply() {
    server_.close();
    error_.clear();
    if (enabled_) {
        QString why;
        if (server_.listen(target_.address, target_.port, &why))
            addLog(QStringLiteral("Sharing the mount at %1").arg(addressText()));
        else
            fail(why);
#ifndef Q_OS_WIN
        if (server_.openPty(ptyLinkPath(), &why))
            addLog(QStringLiteral("Serial programs may open %1").arg(server_.ptyPath()));
        else
            fail(why);
#endif
    } else {
        addLog(QStringLiteral("Not sharing the mount"));
    }
    emit changed();
}

void MountShare::fail(const QString& why) {
    error_ = error_.isEmpty() ? why : error_ + u'\n' + why;
    std::fprintf(stderr, "Skyjog: %s\n", qPrintable(why));
    addLog(why);
    emit failed(why);
}

bool MountShare::listening() const {
    return server_.tcpPort() != 0;
}

QString MountShare::addressText() const {
    if (!listening()) return {};
    const uint16_t port = server_.tcpPort();
    if (!isAnyAddress(target_.address)) return withPort(target_.address, port);
    // Every interface: the address others on the network reach this computer by.
    for (const QHostAddress& a : QNetworkInterface::allAddresses())
        if (!a.isLoopback() && a.protocol() == QAbstractSocket::IPv4Protocol)
            return withPort(a, port);
    return withPort(QHostAddress(QHostAddress::LocalHost), port);
}

QString MountShare::ptyLinkPath() {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty()) dir = QDir::tempPath();
    return QDir(dir).filePath(QStringLiteral("skyjog-mount"));
}

QString MountShare::ptyPath() const {
    return server_.ptyPath();
}

int MountShare::connectedClients() const {
    int n = 0;
    const QString pty = server_.ptyPath();
    for (const auto& c : server_.clients())
        if (pty.isEmpty() || c.name != pty || !c.lastCommand.isEmpty()) ++n;
    return n;
}

void MountShare::end() {
    if (!listening() && server_.clients().empty()) return;
    server_.close();
    addLog(QStringLiteral("Sharing ended"));
    emit changed();
}

void MountShare::addLog(const QString& line) {
    log_ << line;
    if (log_.size() > LogLines) log_.removeFirst();
    emit logged(line);
}

bool MountShare::allowed(int, const share::MotorCommand& m) const {
    // Stops always go out: they are what a client sends to end what it started.
    if (m.kind == share::MotorCommand::Kind::Stop) return true;
    if (hooks_.spiralRunning && hooks_.spiralRunning()) return false;
    for (std::size_t axis : axesOf(m))
        if (motion_.padHolds(axis)) return false;
    return true;
}

void MountShare::exchanged(int client, const QByteArray& command, const CommandResult& result) {
    if (result.portFailed) return;
    const bool acknowledged = result.reply.endsWith('#');
    if (const auto m = share::motorCommand(command)) {
        const bool gotoMove = m->kind == share::MotorCommand::Kind::Goto;
        for (std::size_t axis : axesOf(*m)) {
            if (m->kind != share::MotorCommand::Kind::Stop) {
                // A move whose acknowledgement was lost may still have reached the motor.
                motion_.remoteMoved(axis, client, gotoMove);
            } else if (acknowledged && (m->motor != 0 || motion_.remoteGoto(axis))) {
                // A cancel ends a GoTo, not another client's slew.
                motion_.remoteStopped(axis);
            }
        }
        return;
    }
    if (!acknowledged) return;
    if (command.size() == 2 && command[0] == 'T') {
        if (hooks_.trackingChosen) hooks_.trackingChosen(uint8_t(command[1]));
    } else if (command == cmd::PecPlayback(true) || command == cmd::PecPlayback(false)) {
        if (hooks_.pecChosen) hooks_.pecChosen(command == cmd::PecPlayback(true));
    }
}

} // namespace skyjog
