#pragma once
// The port box's tooltip names what its text reaches ("/dev/ttyUSB0", "localhost:4030 over
// TCP", "built-in simulated mount"), while the box has the keyboard and as its text changes.
#include <QObject>

class QLineEdit;

namespace skyjog {

class PortTooltip : public QObject {
public:
    explicit PortTooltip(QLineEdit* box);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void show();
    QLineEdit* box_;
};

} // namespace skyjog
