#pragma once
// The model behind a pseudo-terminal, reachable through a stable link at a path of the user's
// choice. The simulator keeps a slave end open itself, so clients can open and close the link as
// often as they like without the master ever seeing a hang-up.
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
    QString devicePath() const { return slavePath_; }

    void send(const QByteArray& bytes) override;
    void hangUp() override;

private:
    bool openPty(QString* error);
    void closePty();
    void readMaster();
    // Clears every terminal setting that would change bytes on their way through the slave.
    void keepRaw();

    SimRunner& runner_;
    QString link_;
    QString slavePath_;
    int master_ = -1;
    int slave_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer rawTimer_;
};

} // namespace skyjog::sim
