// Faults met by the main window: the port vanishing or dropping in the middle of a spiral, a
// mount that is silent, answers garbage, answers short or late while a spiral starts, a settings
// folder that cannot be written when the window closes, and a whole simulated hour of spiral
// with flat memory.
#include "arrowbutton.h"
#include "messagebox.h"
#include "padfixture.h"
#include "simprocess.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <malloc.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SKYJOG_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define SKYJOG_ASAN 1
#endif
#ifdef SKYJOG_ASAN
// From the sanitizer runtime (its header ships with clang, not with every gcc).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

using namespace skyjog;
using namespace skyjog::test;

namespace {

// Bytes the program holds on its heap now.
size_t heapInUse() {
#ifdef SKYJOG_ASAN
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
#endif
}

// Makes a folder unwritable for as long as it lives, in a way that binds root too: the
// immutable flag refuses every new entry, whoever asks. Other users just lose write permission.
class Unwritable {
public:
    explicit Unwritable(const QString& dir) : path_(QFile::encodeName(dir)) {
        if (::geteuid() != 0) {
            ok_ = ::chmod(path_.constData(), 0555) == 0;
            if (!ok_) why_ = QString::fromLocal8Bit(std::strerror(errno));
            return;
        }
        const int fd = ::open(path_.constData(), O_RDONLY | O_DIRECTORY);
        int flags = 0;
        if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags |= FS_IMMUTABLE_FL;
            ok_ = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        if (!ok_) why_ = QString::fromLocal8Bit(std::strerror(errno));
        if (fd >= 0) ::close(fd);
    }
    ~Unwritable() {
        if (!ok_) return;
        if (::geteuid() != 0) {
            ::chmod(path_.constData(), 0755);
            return;
        }
        const int fd = ::open(path_.constData(), O_RDONLY | O_DIRECTORY);
        int flags = 0;
        if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags &= ~FS_IMMUTABLE_FL;
            ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
        }
        if (fd >= 0) ::close(fd);
    }
    bool ok() const { return ok_; }
    QString why() const { return why_; }

private:
    QByteArray path_;
    bool ok_ = false;
    QString why_;
};

// The main window on the real clock, on a port given by its text.
class RealLineWindow {
public:
    Interface& start(const QString& port, int16_t width = 1) {
        Comm1().setBackendFactory({});
        Comm1().setPortOpen(false);
        StopSpiral = true;
        Settings s;
        s.CommPortText = port;
        s.SpiralWidth = width;
        QFile f(settingsPath());
        if (!f.open(QIODevice::WriteOnly) || f.write(settingsfile::format(s)) < 0) return *window;
        f.close();
        window = std::make_unique<Interface>(SettingsLocation(program.path(), user.path()));
        window->setProgramEnd([this] { ++programEnds; });
        window->show();
        QApplication::setActiveWindow(window.get());
        return *window;
    }
    QString settingsPath() const {
        return QDir(program.path()).filePath(SettingsLocation::FileName);
    }

    QTemporaryDir program;
    QTemporaryDir user;
    ReportRecorder reports;
    std::unique_ptr<Interface> window;
    int programEnds = 0;
};

int slewsIn(const QVector<QByteArray>& commands) {
    int n = 0;
    for (const QByteArray& c : commands)
        n += (c.size() == 8 && c[0] == 'P' && c[1] == 3) ? 1 : 0;
    return n;
}

// Runs a spiral with a click on the button; watch runs every 20 ms while it goes on (inside the
// spiral's polls) and may stop it. A spiral still going after boundMs is stopped and reported.
bool runSpiral(Interface& w, const std::function<void()>& watch, int boundMs = 30000) {
    QElapsedTimer running;
    running.start();
    bool overran = false;
    QTimer timer;
    timer.setInterval(20);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        watch();
        if (!StopSpiral && running.hasExpired(boundMs)) {
            overran = true;
            StopSpiral = true;
        }
    });
    timer.start();
    QTest::mouseClick(w.cmdSpiral, Qt::LeftButton);
    timer.stop();
    return !overran;
}

// Whole legs: tracking off, the other axis stopped, the slew.
QVector<QByteArray> legs(int count, QByteArray azRate, QByteArray altRate) {
    QVector<QByteArray> out;
    for (int k = 0; k < count; ++k) {
        const bool az = k % 2 == 0;
        const uint8_t id = (k % 4 == 0 || k % 4 == 3) ? 6 : 7;
        const QByteArray& r = az ? azRate : altRate;
        out << T(0) << Stop(az ? 17 : 16) << Slew(az ? 16 : 17, id, uint8_t(r[0]), uint8_t(r[1]));
    }
    return out;
}
const QVector<QByteArray> StopSequence = {Stop(17), Stop(16), T(1)};

} // namespace

class TestFaultsWindow : public QObject {
    Q_OBJECT

private slots:
    // --- the port vanishes in the middle of a spiral -----------------------------------------

    void spiralEndsWhenThePortVanishes() {
        auto sim = std::make_unique<SimProcess>();
        QVERIFY2(sim->start(SimProcess::Host::Pty, {"--alt", "45.1"}), qPrintable(sim->error()));
        const QString link = sim->portText();
        RealLineWindow pad;
        Interface& w = pad.start(link);
        QVERIFY(pad.window);

        // Two legs in, the mount's process is killed and its terminal goes with it.
        QVector<QByteArray> before;
        const bool bounded = runSpiral(w, [&] {
            if (!before.isEmpty()) return;
            const QVector<QByteArray> got = sim->commands();
            if (slewsIn(got) < 2) return;
            if (sim->unplug()) before = sim->commands();
        });
        QVERIFY(bounded);
        QVERIFY(!before.isEmpty());

        // The spiral has ended as a stopped one does.
        QVERIFY(StopSpiral);
        QVERIFY(w.lblSpiral->isHidden());
        QVERIFY(!Comm1().portOpen());
        // One message per failed command: the next leg's three, then the stop sequence's three.
        QCOMPARE(pad.reports.boxes.size(), size_t(6));
        for (const auto& box : pad.reports.boxes) {
            QVERIFY2(box.text.startsWith(QStringLiteral("Cannot open ") + link) &&
                         box.text.endsWith(QStringLiteral(" - 8002")),
                     qPrintable(box.text));
            QCOMPARE(box.caption, AppTitle);
        }
        // Everything sent before the port went reached the mount, in whole legs.
        QVERIFY(before.size() >= 1 + 2 * 3);
        QCOMPARE(before.first(), cmd::GetAzAlt());
        QCOMPARE((before.size() - 1) % 3, 0);
        QCOMPARE(before.mid(1), legs((before.size() - 1) / 3, "\x03\xe8", "\x01\xf4"));

        // The window closes normally and keeps the user's settings.
        w.txtWidth->setText(QStringLiteral("4"));
        QVERIFY(w.close());
        QCOMPARE(pad.programEnds, 1);
        Settings saved;
        loadSettings(pad.settingsPath(), saved);
        QCOMPARE(saved.CommPortText, link);
        QCOMPARE(saved.SpiralWidth, int16_t(4));
        QCOMPARE(pad.reports.boxes.size(), size_t(6));
    }

    // The real box, on the real clock: raised by a refused close two legs into a spiral and read
    // for a second and a half, it must not hold up the leg under way.
    void boxMidSpiralLeavesTheLegsTheirTime() {
        SimProcess sim;
        QVERIFY2(sim.start(SimProcess::Host::Pty, {"--alt", "45.1"}), qPrintable(sim.error()));
        RealLineWindow pad;
        Interface& w = pad.start(sim.portText());
        QVERIFY(pad.window);
        setReporter(showMessageBox);
        auto openBox = [] {
            for (QWidget* top : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<MessageBox*>(top); box && box->isVisible())
                    return box;
            return static_cast<MessageBox*>(nullptr);
        };

        QElapsedTimer clock;
        clock.start();
        qint64 shownAt = -1;
        qint64 closedAt = -1;
        int slewsWhileUp = 0;
        QString boxText;
        const bool bounded = runSpiral(w, [&] {
            const int slews = slewsIn(sim.commands());
            if (shownAt < 0 && slews >= 2) {
                shownAt = clock.elapsed();
                slewsWhileUp = -slews;
                // The user reads the box for a second and a half. A timer of its own: a box that
                // held the spiral up would hold up this one's next run too.
                QTimer::singleShot(1500, [&] {
                    if (MessageBox* box = openBox()) {
                        boxText = box->text();
                        box->okButton()->click();
                    }
                    closedAt = clock.elapsed();
                    slewsWhileUp += slewsIn(sim.commands());
                });
                w.close();
            } else if (closedAt >= 0 && slews >= 6) {
                StopSpiral = true;
            }
        });
        setReporter({});
        QVERIFY(bounded);
        QCOMPARE(boxText, QStringLiteral("Please stop the spiral!"));
        QVERIFY(closedAt >= 0);
        QVERIFY(!openBox());
        // The spiral went on behind the box.
        QVERIFY2(slewsWhileUp >= 1, qPrintable(QString::number(slewsWhileUp)));

        QVERIFY(sim.waitForLog([](const QVector<SimLogEntry>& log) {
            return log.size() >= 2 && !log.last().command && log[log.size() - 2].bytes == T(1);
        }));
        QVector<SimLogEntry> commands;
        for (const SimLogEntry& e : sim.log())
            if (e.command) commands << e;
        int leg = 0;
        for (int i = 0; i < commands.size(); ++i) {
            if (slewsIn({commands[i].bytes}) == 0) continue;
            int end = i + 1;
            while (end < commands.size() && commands[end].bytes != T(0) &&
                   commands[end].bytes != Stop(17))
                ++end;
            QVERIFY(end < commands.size());
            // Generous for a loaded machine, and still far short of the box's second and a half.
            const uint32_t nominal = 500 * uint32_t(leg / 2 + 1);
            const uint32_t lasted = commands[end].timeMs - commands[i].timeMs;
            QVERIFY2(lasted <= nominal + 400,
                     qPrintable(QStringLiteral("leg %1 lasted %2 ms").arg(leg).arg(lasted)));
            ++leg;
        }
        QVERIFY(leg >= 6);
    }

    // Over a real pseudo-terminal: a stop the line loses goes out again at once, and one lost
    // every time (with its restore) is told once and marks its arrows.
    void aLostStopOverARealLine_data() {
        QTest::addColumn<QStringList>("lose");
        QTest::addColumn<QVector<QByteArray>>("release");
        QTest::newRow("first stop") << QStringList{"--lose", "stop"}
                                    << QVector<QByteArray>{Stop(17), Stop(17), T(1)};
        QTest::newRow("every stop and restore")
            << QStringList{"--lose", "stop:all", "--lose", "tracking:all"}
            << QVector<QByteArray>{Stop(17), Stop(17), Stop(17), T(1), T(1), T(1)};
    }
    void aLostStopOverARealLine() {
        QFETCH(QStringList, lose);
        QFETCH(QVector<QByteArray>, release);
        SimProcess sim;
        QVERIFY2(sim.start(SimProcess::Host::Pty, lose), qPrintable(sim.error()));
        RealLineWindow pad;
        Interface& w = pad.start(sim.portText());
        QVERIFY(pad.window);
        QTest::mousePress(w.cmdUp, Qt::LeftButton);
        QTest::mouseRelease(w.cmdUp, Qt::LeftButton);
        const QVector<QByteArray> expected = QVector<QByteArray>{T(0), Slew(17, 7, 30, 0)} + release;
        QVERIFY(sim.waitForLog([&](const QVector<SimLogEntry>&) {
            return sim.commands().size() >= expected.size();
        }));
        QCOMPARE(sim.commands(), expected);
        const bool never = release.size() > 3;
        QCOMPARE(pad.reports.texts(),
                 never ? QStringList{StopNotConfirmedText.arg("Up/Down")} : QStringList());
        QCOMPARE(w.cmdUp->showsUnconfirmed(), never);
        QCOMPARE(w.cmdDown->showsUnconfirmed(), never);
    }

    void spiralEndsWhenTheLineDropsAndTheStopStillArrives() {
        // The fifth answered command (the second leg's tracking-off) drops the line; opening it
        // again for the next command is plugging it back in. The simulated mount in-process
        // keeps this exact: on a pseudo-terminal the moment the new terminal appears is the
        // simulator's.
        Pad pad;
        Settings s = Pad::simSettings();
        s.SpiralWidth = 1;
        pad.writeSettings(s);
        Interface& w = pad.start();
        w.show();
        sim::Options o;
        o.altitude = 0x2012;
        o.fault = sim::Fault::Disconnect;
        o.faultSkip = 4;
        o.faultCount = 1;
        sim::sharedMountSim().reset(o);
        QTest::mouseClick(w.cmdSpiral, Qt::LeftButton);

        QVERIFY(StopSpiral);
        QVERIFY(w.lblSpiral->isHidden());
        QCOMPARE(pad.reports.boxes.size(), size_t(1));
        QVERIFY2(pad.reports.boxes[0].text.startsWith(QStringLiteral("Lost ")) &&
                     pad.reports.boxes[0].text.endsWith(QStringLiteral(" - 8020")),
                 qPrintable(pad.reports.boxes[0].text));
        QCOMPARE(pad.reports.boxes[0].caption, AppTitle);
        // The rest of that leg and the whole stop sequence reached the mount after the drop, so
        // it is left still, tracking as before.
        QCOMPARE(pad.takeSent(), QVector<QByteArray>{cmd::GetAzAlt()} +
                                     legs(2, "\x03\xe8", "\x01\xf4") + StopSequence);
        QCOMPARE(sim::sharedMountSim().axisRate(17), 0.0);
        QCOMPARE(sim::sharedMountSim().trackingMode(), uint8_t(1));
        QVERIFY(w.close());
        QCOMPARE(pad.programEnds, 1);
    }

    // --- mounts that answer wrongly while a spiral starts ------------------------------------

    void spiralOnAMountThatAnswersBadly_data() {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QByteArray>("azRate");
        // The mount is at 45.1 degrees (2012): a good reading gives azimuth legs at 1000.
        QTest::newRow("silent") << int(sim::Fault::Silent) << QByteArray("\x01\xf3");
        QTest::newRow("garbage") << int(sim::Fault::Garbage) << QByteArray("\x01\xf3");
        QTest::newRow("late") << int(sim::Fault::LateReply) << QByteArray("\x01\xf3");
        // A reply one character short still holds all four altitude digits.
        QTest::newRow("short") << int(sim::Fault::ShortReply) << QByteArray("\x03\xe8");
        QTest::newRow("extra") << int(sim::Fault::ExtraBytes) << QByteArray("\x03\xe8");
    }
    void spiralOnAMountThatAnswersBadly() {
        QFETCH(int, fault);
        QFETCH(QByteArray, azRate);
        Pad pad;
        Settings s = Pad::simSettings();
        s.SpiralWidth = 1;
        pad.writeSettings(s);
        Interface& w = pad.start();
        w.show();
        sim::Options o;
        o.altitude = 0x2012;
        o.fault = sim::Fault(fault);
        // The silent mount stays silent; the others spoil only the position reply.
        o.faultCount = fault == int(sim::Fault::Silent) ? -1 : 1;
        o.lateReplyMs = 700;
        sim::sharedMountSim().reset(o);

        const uint32_t t0 = pad.clock.now();
        pad.clock.at(t0 + 9000, [&] {
            QMetaObject::invokeMethod(
                qApp, [&] { QTest::mouseClick(w.cmdSpiral, Qt::LeftButton); },
                Qt::QueuedConnection);
        });
        QTest::mouseClick(w.cmdSpiral, Qt::LeftButton);
        QVERIFY(StopSpiral);
        QVERIFY(w.lblSpiral->isHidden());
        // Nothing here is a failure of the line. Only a mount that never answers leaves the last
        // stops unconfirmed, each sent three times, and says so once for each axis.
        const bool silent = fault == int(sim::Fault::Silent);
        const QStringList told = {StopNotConfirmedText.arg("Up/Down"),
                                  StopNotConfirmedText.arg("Left/Right")};
        QCOMPARE(pad.reports.texts(), silent ? told : QStringList());
        QCOMPARE(w.cmdUp->showsUnconfirmed() && w.cmdLeft->showsUnconfirmed(), silent);

        const QVector<QByteArray> got = pad.takeSent();
        const QVector<QByteArray> stops =
            silent ? QVector<QByteArray>{Stop(Alt), Stop(Alt), Stop(Alt), Stop(Az), Stop(Az),
                                         Stop(Az), T(1), T(1), T(1)}
                   : StopSequence;
        QVERIFY(got.size() >= 1 + 3 * 3 + stops.size());
        QCOMPARE(got.first(), cmd::GetAzAlt());
        const int legCount = int(got.size() - 1 - stops.size()) / 3;
        QCOMPARE(got.size(), qsizetype(1 + 3 * legCount + stops.size()));
        QCOMPARE(got.mid(1, 3 * legCount), legs(legCount, azRate, "\x01\xf4"));
        QCOMPARE(got.mid(1 + 3 * legCount), stops);
        QVERIFY(w.close());
    }

    // --- a settings folder that cannot be written --------------------------------------------

    void saveToUnwritableFoldersFailsAndKeepsThePreviousFile() {
        Pad pad;
        Settings s = Pad::simSettings();
        s.SpiralWidth = 7;
        pad.writeSettings(s);
        const QByteArray previous = pad.readSettings();
        Interface& w = pad.start();
        w.show();
        w.txtWidth->setText(QStringLiteral("9"));
        {
            // Neither the program's folder nor the user's can take a file.
            Unwritable programDir(pad.program.path());
            Unwritable userDir(pad.user.path());
            if (!programDir.ok() || !userDir.ok())
                QSKIP(qPrintable(QStringLiteral("cannot make a folder unwritable here: ") +
                                 programDir.why() + userDir.why()));
            QVERIFY(w.close());
        }
        // The standard message, naming the file it could not write; the window has closed but
        // the program has not ended by itself.
        QCOMPARE(pad.reports.boxes.size(), size_t(1));
        const QString text = pad.reports.boxes[0].text;
        QVERIFY2(text.contains(QDir(pad.user.path()).filePath(SettingsLocation::FileName)) &&
                     text.endsWith(QStringLiteral(" - 75")),
                 qPrintable(text));
        QCOMPARE(pad.reports.boxes[0].caption, AppTitle);
        QVERIFY(!w.isVisible());
        QCOMPARE(pad.programEnds, 0);
        // The previous file is as it was, and no half-written file is left anywhere.
        QCOMPARE(pad.readSettings(), previous);
        QCOMPARE(QDir(pad.program.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList({SettingsLocation::FileName}));
        QCOMPARE(QDir(pad.user.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    void unwritableProgramFolderSavesToTheUsersFolder() {
        Pad pad;
        Settings s = Pad::simSettings();
        pad.writeSettings(s);
        const QByteArray previous = pad.readSettings();
        pad.start().show();
        pad.window->txtWidth->setText(QStringLiteral("9"));
        // The program's folder stays unwritable, as an installed program's does.
        Unwritable programDir(pad.program.path());
        if (!programDir.ok())
            QSKIP(qPrintable(QStringLiteral("cannot make a folder unwritable here: ") +
                             programDir.why()));
        QVERIFY(pad.window->close());
        QCOMPARE(pad.reports.texts(), QStringList());
        QCOMPARE(pad.programEnds, 1);
        QCOMPARE(pad.readSettings(), previous);
        // Nothing is lost: the next start finds the change in the user's folder.
        Settings restored;
        loadSettings(QDir(pad.user.path()).filePath(SettingsLocation::FileName), restored);
        QCOMPARE(restored.SpiralWidth, int16_t(9));
        pad.start();
        QCOMPARE(pad.window->txtWidth->text(), QStringLiteral("9"));
        QCOMPARE(pad.reports.texts(), QStringList());
    }

    void saveCutShortByAFileSizeLimitKeepsThePreviousFile() {
        Pad pad;
        pad.writeSettings(Pad::simSettings());
        const QByteArray previous = pad.readSettings();
        Interface& w = pad.start();
        w.show();
        w.txtWidth->setText(QStringLiteral("9"));
        // A full disk, as far as this process can tell: no file may grow past 16 bytes.
        rlimit old{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &old) == 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = old;
        small.rlim_cur = 16;
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
        const bool closed = w.close();
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
        QVERIFY(closed);

        QCOMPARE(pad.reports.boxes.size(), size_t(1));
        QVERIFY2(pad.reports.boxes[0].text.endsWith(QStringLiteral(" - 57")),
                 qPrintable(pad.reports.boxes[0].text));
        QCOMPARE(pad.programEnds, 0);
        QCOMPARE(pad.readSettings(), previous);
        QCOMPARE(QDir(pad.program.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList({SettingsLocation::FileName}));
    }

    // --- an hour of spiral --------------------------------------------------------------------

    void anHourOfSpiralKeepsMemoryFlat() {
        Pad pad;
        Settings s = Pad::simSettings();
        s.SpiralWidth = 2;
        s.CornerDelay = 0.5;
        pad.writeSettings(s);
        Interface& w = pad.start();
        w.show();

        constexpr uint32_t Minute = 60 * 1000;
        pad.clock.limitMs = 70 * Minute;
        const uint32_t t0 = pad.clock.now();
        size_t atStart = 0;
        size_t atEnd = 0;
        int slews = 0;
        uint32_t lastClear = t0;
        pad.clock.onSleep = [&](uint32_t now) {
            // The simulator's log is the test's, not the program's: it is counted and emptied
            // as the spiral goes.
            if (now - lastClear >= 10000) {
                lastClear = now;
                slews += slewsIn(sim::sharedMountSim().commands());
                sim::sharedMountSim().clearLog();
            }
        };
        // Five minutes in, every cache has been filled; from then on nothing may grow.
        pad.clock.at(t0 + 5 * Minute, [&] { atStart = heapInUse(); });
        pad.clock.at(t0 + 60 * Minute, [&] {
            atEnd = heapInUse();
            QMetaObject::invokeMethod(
                qApp, [&] { QTest::mouseClick(w.cmdSpiral, Qt::LeftButton); },
                Qt::QueuedConnection);
        });
        QTest::mouseClick(w.cmdSpiral, Qt::LeftButton);
        pad.clock.onSleep = nullptr;
        slews += slewsIn(sim::sharedMountSim().commands());

        QVERIFY(StopSpiral);
        QVERIFY(w.lblSpiral->isHidden());
        QCOMPARE(pad.reports.texts(), QStringList());
        QVERIFY(pad.clock.now() - t0 >= 60 * Minute);
        // Legs of 0.5 s more every second leg, each after a half-second pause: about 165 legs
        // fill an hour.
        QVERIFY2(slews > 150 && slews < 180, qPrintable(QString::number(slews)));
        QVERIFY(atStart > 0 && atEnd > 0);
        const qint64 growth = qint64(atEnd) - qint64(atStart);
        qInfo("heap in use after 5 min %zu bytes, after 60 min %zu bytes (%+lld)", atStart, atEnd,
              static_cast<long long>(growth));
        // A leak of even a few bytes per command or per poll would pass this many times over.
        QVERIFY2(growth < 64 * 1024, qPrintable(QString::number(growth)));
        QVERIFY(w.close());
    }
};

QTEST_MAIN(TestFaultsWindow)
#include "test_faults_window.moc"
