#pragma once
// A main window on its own settings folders, the simulated mount behind "sim", a clock the test
// drives and recorded message boxes.
#include "commands.h"
#include "functions.h"
#include "interface.h"
#include "mountsim.h"
#include "settingsfile.h"
#include "testsupport.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace skyjog::test {

inline QByteArray T(uint8_t mode) {
    return cmd::SetTrackingMode(mode);
}
inline QByteArray Slew(uint8_t motor, uint8_t id, uint8_t hi, uint8_t lo) {
    return cmd::VariableRateSlew(motor, id, hi, lo);
}
inline QByteArray Stop(uint8_t motor) {
    return cmd::FixedRateSlew(motor);
}

class Pad {
public:
    Pad() {
        sim::registerInProcessSim();
        sim::sharedMountSim().reset();
        Comm1().setBackendFactory({});
        Comm1().setPortOpen(false);
        StopSpiral = true;
    }
    ~Pad() {
        window.reset();
        Comm1().setBackendFactory({});
    }

    QString settingsPath() const {
        return QDir(program.path()).filePath(SettingsLocation::FileName);
    }
    void writeSettings(const QByteArray& data) {
        QFile f(settingsPath());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(data);
    }
    void writeSettings(const Settings& s) { writeSettings(settingsfile::format(s)); }
    QByteArray readSettings() const {
        QFile f(settingsPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
    }
    // Settings on the simulated mount, otherwise the defaults.
    static Settings simSettings() {
        Settings s;
        s.CommPortText = QStringLiteral("sim");
        return s;
    }

    Interface& start() {
        window = std::make_unique<Interface>(SettingsLocation(program.path(), user.path()));
        window->setProgramEnd([this] { ++programEnds; });
        return *window;
    }
    Interface& startOnSim(Settings s = simSettings()) {
        writeSettings(s);
        Interface& w = start();
        w.show();
        QApplication::setActiveWindow(&w);
        return w;
    }

    // Every command that reached the simulated mount so far, then forgets them.
    QVector<QByteArray> takeSent() {
        QVector<QByteArray> out = sim::sharedMountSim().commands();
        sim::sharedMountSim().clearLog();
        return out;
    }

    static void key(QWidget* target, QEvent::Type type, int key, bool autoRepeat = false,
                    Qt::KeyboardModifiers mods = Qt::NoModifier) {
        const QString text = key == Qt::Key_S ? QStringLiteral("s") : QString();
        QKeyEvent e(type, key, mods, text, autoRepeat);
        QApplication::sendEvent(target, &e);
    }
    static void press(QWidget* t, int k, bool autoRepeat = false) {
        key(t, QEvent::KeyPress, k, autoRepeat);
    }
    static void release(QWidget* t, int k, bool autoRepeat = false) {
        key(t, QEvent::KeyRelease, k, autoRepeat);
    }
    // A held key on X11: release and press again, both flagged as auto-repeat.
    static void repeat(QWidget* t, int k) {
        release(t, k, true);
        press(t, k, true);
    }

    QTemporaryDir program;
    QTemporaryDir user;
    ManualClock clock;
    ScopedClock scopedClock{&clock};
    ReportRecorder reports;
    std::unique_ptr<Interface> window;
    int programEnds = 0;
};

} // namespace skyjog::test
