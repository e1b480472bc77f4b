#pragma once
// The pad's side of sharing the mount: whether it is on and where it listens (kept in
// Skyjog.conf, or given on the command line), the share's log, and the rules that keep the hand
// at the pad in charge. Clients are a source of motion like the pad's own: a client's move is
// refused on an axis the pad holds, a press at the pad takes an axis from a client, and a client
// that goes leaves no axis moving.
#include "shareserver.h"

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>

namespace skyjog {

class Motion;
class Preferences;

// Where to listen: "ADDRESS:PORT", "ADDRESS" or ":PORT" (the other part as kept), IPv6 in
// brackets ("[::1]:4030"). None, with a reason, for text that names no usable address or port.
struct ShareTarget {
    QHostAddress address;
    uint16_t port = 0;
};
std::optional<ShareTarget> parseShareTarget(const QString& text, const ShareTarget& kept,
                                            QString* error = nullptr);

class MountShare : public QObject {
    Q_OBJECT
public:
    // The port SkySafari-style WiFi bridges use, so that such programs find the mount unchanged.
    static constexpr uint16_t DefaultPort = 4030;
    // Lines the log keeps for a dialog opened later.
    static constexpr int LogLines = 500;

    struct Hooks {
        // A spiral runs: it holds both axes.
        std::function<bool()> spiralRunning;
        // The line is free: no command of the pad's, no spiral, no box's event loop under way.
        std::function<bool()> mayExchangeNow;
        // A client set the tracking mode (the byte it sent), or PEC playback on or off, and the
        // mount acknowledged it: the pad shows it without sending it again.
        std::function<void(uint8_t mode)> trackingChosen;
        std::function<void(bool on)> pecChosen;
    };

    MountShare(Preferences& prefs, Motion& motion, Hooks hooks, QObject* parent = nullptr);
    ~MountShare() override;

    // Starts as Skyjog.conf says, or as the command line's --share says: its text ("" for the
    // kept place, or "ADDRESS:PORT"), which is not kept unless the user changes something in
    // the dialog. A failure is logged, written on standard error and reported by failed(), never
    // by a box: the pad works on without sharing.
    void start(std::optional<QString> commandLine = std::nullopt);

    bool enabled() const { return enabled_; }
    // On or off, kept in Skyjog.conf; off drops every client, stopping what each still moves.
    void setEnabled(bool on);
    ShareTarget target() const { return target_; }
    // A new place to listen, kept; sharing that is on listens there at once.
    void setTarget(const ShareTarget& t);
    // Listening on every interface: anyone on the network could move the telescope.
    static bool isOpenToNetwork(const QHostAddress& a);

    // Listening now (false while off or after a failure).
    bool listening() const;
    // What the other program is to be given: "127.0.0.1:4030"; empty when not listening.
    QString addressText() const;
    // The pseudo-terminal's stable path, whether or not it is offered now.
    static QString ptyLinkPath();
    // The path offered now; empty when none.
    QString ptyPath() const;
    // The last failure to listen or to offer the terminal; empty once it works.
    QString error() const { return error_; }

    share::ShareServer& server() { return server_; }
    std::vector<share::ShareServer::ClientInfo> clients() const { return server_.clients(); }
    // Programs connected by TCP (the terminal counts once something has been sent through it).
    int connectedClients() const;
    QStringList log() const { return log_; }

    // The window closes, or the program ends: sharing ends for this run (not in Skyjog.conf),
    // and every client's move is stopped.
    void end();

signals:
    // Something the dialog shows changed: on/off, where, the clients, an error.
    void changed();
    void logged(const QString& line);
    void failed(const QString& error);

private:
    void apply();
    void addLog(const QString& line);
    bool allowed(int client, const share::MotorCommand& m) const;
    void exchanged(int client, const QByteArray& command, const CommandResult& result);
    void keep();
    void fail(const QString& why);

    Preferences& prefs_;
    Motion& motion_;
    Hooks hooks_;
    share::ShareServer server_;
    bool enabled_ = false;
    ShareTarget target_{QHostAddress(QHostAddress::LocalHost), DefaultPort};
    QString error_;
    QStringList log_;
};

} // namespace skyjog
