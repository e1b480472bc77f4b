#pragma once
// A main window on its own settings folders, the simulated mount behind "sim", a clock the test
// drives and recorded message boxes.
#include "commands.h"
#include "functions.h"
#include "interface.h"
#include "mountsim.h"
#include "preferences.h"
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

inline constexpr uint8_t Alt = cmd::AltMotor;
inline constexpr uint8_t Az = cmd::AzMotor;

// The key tests run in both ways a window system may report a held key: presses only (X11 with
// detectable auto-repeat), or release and press pairs that Qt may or may not flag.
inline void keyRepeatModes() {
    QTest::addColumn<bool>("detectable");
    QTest::newRow("release pairs") << false;
    QTest::newRow("detectable") << true;
}
inline void useKeyRepeatMode(Interface& w) {
    QFETCH(bool, detectable);
    w.setKeyRepeat(detectable ? Interface::KeyRepeat::Detectable
                              : Interface::KeyRepeat::ReleasePairs);
}


inline QByteArray T(uint8_t mode) {
    return cmd::SetTrackingMode(mode);
}
inline QByteArray Slew(uint8_t motor, uint8_t id, uint8_t hi, uint8_t lo) {
    return cmd::VariableRateSlew(motor, id, hi, lo);
}
inline QByteArray Stop(uint8_t motor) {
    return cmd::FixedRateSlew(motor);
}
// The box for an axis ("Up/Down", "Left/Right") whose stop the mount never acknowledged.
inline const QString StopNotConfirmedText =
    QStringLiteral("The mount did not confirm the stop of the %1 axis and may still be moving. "
                   "Press Escape to send the stop again - 8031");

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

    // Tools > Repeatable Taps as a user left it, for the next window started.
    void keepTaps(bool on, int ms) {
        Preferences prefs(user.path());
        prefs.set(Pref::TapsEnabled, on);
        prefs.set(Pref::TapLength, ms);
        QVERIFY(prefs.save());
    }

    // Every command that reached the simulated mount so far, then forgets them.
    QVector<QByteArray> takeSent() {
        QVector<QByteArray> out = sim::sharedMountSim().commands();
        sim::sharedMountSim().clearLog();
        return out;
    }

    // Key events carry increasing time stamps, as real ones do; the two halves of an X11
    // auto-repeat share one.
    void key(QWidget* target, QEvent::Type type, int key, bool autoRepeat = false,
             quint64 timestamp = 0) {
        const QString text = key == Qt::Key_S ? QStringLiteral("s") : QString();
        QKeyEvent e(type, key, Qt::NoModifier, text, autoRepeat);
        e.setTimestamp(timestamp ? timestamp : ++stamp_);
        QApplication::sendEvent(target, &e);
    }
    void press(QWidget* t, int k, bool autoRepeat = false) {
        key(t, QEvent::KeyPress, k, autoRepeat);
    }
    // A real release; its stop goes out once it is clear that no auto-repeat press follows.
    void release(QWidget* t, int k) {
        key(t, QEvent::KeyRelease, k);
        settle();
    }
    // A held key on X11: release and press again with one time stamp, flagged as auto-repeat
    // when Qt recognised the pair, unflagged when it did not.
    void repeat(QWidget* t, int k, bool flagged = true) {
        const quint64 at = ++stamp_;
        key(t, QEvent::KeyRelease, k, flagged, at);
        key(t, QEvent::KeyPress, k, flagged, at);
    }
    // Lets a held-back key release go out (bounded wait for the window's short timer).
    void settle() {
        if (window) QTRY_VERIFY_WITH_TIMEOUT(!window->keyReleasePending(), 5000);
    }

    QTemporaryDir program;
    QTemporaryDir user;
    ManualClock clock;
    ScopedClock scopedClock{&clock};
    ReportRecorder reports;
    std::unique_ptr<Interface> window;
    int programEnds = 0;

private:
    quint64 stamp_ = 5000;
};

} // namespace skyjog::test
