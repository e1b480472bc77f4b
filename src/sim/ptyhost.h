#pragma once
// The model behind a pseudo-terminal, reachable through a stable link at a path of the user's
// choice. The simulator keeps a slave end open itself, so clients can open and close the link as
// often as they like without the master ever seeing a hang-up.
//
// Because the terminal never closes completely, a client that dies while it has the terminal in
// exclusive use (TIOCEXCL) would leave it so until the simulator ends: nobody else (but root)
// could open it. On Linux the simulator watches the terminal's opens and closes (inotify, which
// sees the closes the system makes for a killed process too) and ends exclusive use once no client
// has the terminal open. Counting matters: a client that comes and goes while another holds the
// terminal must not take the holder's exclusive use away.
#include "pseudoterminal.h"
#include "simhost.h"

#include <QSocketNotifier>
#include <QString>
#include <QTimer>
#include <memory>

namespace skyjog::sim {

class PtyHost final : public QObject, public SimLine {
    Q_OBJECT
public:
    PtyHost(SimRunner& runner, QString linkPath, QObject* parent = nullptr);
    ~PtyHost() override;

    // Creates the terminal and the link; false with a reason when it cannot.
    bool start(QString* error);
    QString linkPath() const { return link_; }
    QString devicePath() const { return pty_.slavePath; }

    void send(const QByteArray& bytes) override;
    void hangUp() override;

private:
    bool openPty(QString* error);
    void closePty();
    void readMaster();
    void watchClients();
    void clientsChanged();
    void keepRaw() { skyjog::keepRaw(pty_); }

    SimRunner& runner_;
    QString link_;
    PseudoTerminal pty_;
    std::unique_ptr<QSocketNotifier> notifier_;
    int watch_ = -1; // inotify descriptor for clients' closes of the slave
    std::unique_ptr<QSocketNotifier> watchNotifier_;
    QTimer rawTimer_;
};

} // namespace skyjog::sim
