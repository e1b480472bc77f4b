// libnexstar, a client nobody here wrote, against skyjog-mount-sim: over the pseudo-terminal and
// over tcp://, and through the pseudo-terminal skyjog's share offers. What the library sends is
// checked in the simulator's log, what it reads back in its results.
#include "simprocess.h"
#include "skyjogprocess.h"
#include "testhelpers.h"

#include <QTest>
#include <nexstar.h>
#include <nexstar_pec.h>

using namespace skyjog::test;

namespace {
// The library wants a writable C string for the device name.
int openTelescope(const QString& where) {
    QByteArray name = where.toLocal8Bit();
    return open_telescope(name.data());
}

const SimLogEntry* findCommand(const QVector<SimLogEntry>& log, const QByteArray& bytes) {
    for (const SimLogEntry& e : log)
        if (e.command && e.bytes == bytes) return &e;
    return nullptr;
}
} // namespace

class TestInteropNexstar : public QObject {
    Q_OBJECT

private slots:
    void storedValuesOverThePseudoTerminal() {
        SimProcess sim;
        QVERIFY2(sim.start(SimProcess::Host::Pty,
                           {"--tracking", "0", "--backlash", "5,6,7,8", "--guide-rate", "64,192"}),
                 qPrintable(sim.error()));
        const int fd = openTelescope(sim.portText());
        QVERIFY(fd >= 0);

        QCOMPARE(tc_get_backlash(fd, TC_AXIS_RA, TC_DIR_POSITIVE), 5);
        QCOMPARE(tc_get_backlash(fd, TC_AXIS_RA, TC_DIR_NEGATIVE), 6);
        QCOMPARE(tc_get_backlash(fd, TC_AXIS_DE, TC_DIR_POSITIVE), 7);
        QCOMPARE(tc_get_backlash(fd, TC_AXIS_DE, TC_DIR_NEGATIVE), 8);
        QCOMPARE(tc_set_backlash(fd, TC_AXIS_DE, TC_DIR_NEGATIVE, 42), RC_OK);
        QCOMPARE(tc_get_backlash(fd, TC_AXIS_DE, TC_DIR_NEGATIVE), 42);
        QCOMPARE(tc_get_backlash(fd, TC_AXIS_DE, TC_DIR_POSITIVE), 7);

        // The library reads a rate byte r as 100 r / 256 percent and writes p percent as
        // 256 p / 100 + 1.
        QCOMPARE(tc_get_autoguide_rate(fd, TC_AXIS_RA), 25);
        QCOMPARE(tc_get_autoguide_rate(fd, TC_AXIS_DE), 75);
        QCOMPARE(tc_set_autoguide_rate(fd, TC_AXIS_DE, 50), RC_OK);
        QCOMPARE(tc_get_autoguide_rate(fd, TC_AXIS_DE), 50);
        QCOMPARE(tc_get_autoguide_rate(fd, TC_AXIS_RA), 25);

        QCOMPARE(tc_set_tracking_mode(fd, TC_TRACK_EQ_SOUTH), RC_OK);
        QCOMPARE(tc_get_tracking_mode(fd), int(TC_TRACK_EQ_SOUTH));
        QCOMPARE(tc_echo(fd, 'q'), int('q'));
        close_telescope(fd);

        const QVector<QByteArray> cmds = sim.commands();
        QVERIFY(cmds.contains(bytes({'P', 2, 17, 17, 42, 0, 0, 0})));
        QVERIFY(cmds.contains(bytes({'P', 2, 17, 70, 129, 0, 0, 0})));
        QVERIFY(cmds.contains(bytes({'T', 3})));
    }

    void variableSlewMovesTheMountByItsTime() {
        SimProcess sim;
        QVERIFY2(sim.start(SimProcess::Host::Pty, {"--tracking", "0"}), qPrintable(sim.error()));
        const int fd = openTelescope(sim.portText());
        QVERIFY(fd >= 0);
        // One degree per second on the azimuth axis, stopped a little later.
        QCOMPARE(tc_slew_variable(fd, TC_AXIS_RA_AZM, TC_DIR_POSITIVE, 3600.0f), RC_OK);
        QTest::qWait(300);
        QCOMPARE(tc_slew_fixed(fd, TC_AXIS_RA_AZM, TC_DIR_POSITIVE, 0), RC_OK);
        double az1 = 0, alt1 = 0, az2 = 0, alt2 = 0;
        QCOMPARE(tc_get_azalt_p(fd, &az1, &alt1), RC_OK);
        QTest::qWait(100);
        QCOMPARE(tc_get_azalt_p(fd, &az2, &alt2), RC_OK);
        close_telescope(fd);

        const QVector<SimLogEntry> log = sim.log();
        const SimLogEntry* start = findCommand(log, bytes({'P', 3, 16, 6, 56, 64, 0, 0}));
        const SimLogEntry* stop = findCommand(log, bytes({'P', 2, 16, 36, 0, 0, 0, 0}));
        QVERIFY(start && stop);
        // The simulator's own clock says how long the axis ran.
        const double expected = (stop->timeMs - start->timeMs) / 1000.0;
        QVERIFY(expected > 0.25);
        QVERIFY2(std::abs(az1 - expected) < 1e-4,
                 qPrintable(QString("az %1, expected %2").arg(az1).arg(expected)));
        QCOMPARE(alt1, 0.0);
        QCOMPARE(az2, az1); // stopped, and tracking is off
    }

    void pecOverThePseudoTerminal() {
        SimProcess sim;
        QVERIFY2(sim.start(SimProcess::Host::Pty, {"--pec-seek-ms", "300"}),
                 qPrintable(sim.error()));
        const int fd = openTelescope(sim.portText());
        QVERIFY(fd >= 0);
        QCOMPARE(pec_index_found(fd), 0);
        QCOMPARE(pec_seek_index(fd), RC_OK);
        QDeadlineTimer deadline(10000);
        while (pec_index_found(fd) != 1) {
            QVERIFY2(!deadline.hasExpired(), "the index was never found");
            QTest::qWait(50);
        }
        QCOMPARE(pec_playback(fd, PEC_START), RC_OK);
        QCOMPARE(pec_get_data_len(fd), 88);
        QCOMPARE(_pec_set_data(fd, 5, 7), RC_OK);
        QCOMPARE(_pec_get_data(fd, 5), 7);
        QCOMPARE(_pec_get_data(fd, 6), 0);
        QCOMPARE(pec_playback(fd, PEC_STOP), RC_OK);
        close_telescope(fd);
        const QVector<QByteArray> cmds = sim.commands();
        QVERIFY(cmds.contains(bytes({'P', 2, 16, 13, 1, 0, 0, 0})));
        QVERIFY(cmds.contains(bytes({'P', 2, 16, 13, 0, 0, 0, 0})));
    }

    void overTcp() {
        SimProcess sim;
        QVERIFY2(sim.start(SimProcess::Host::Tcp, {"--tracking", "0", "--backlash", "1,2,3,4"}),
                 qPrintable(sim.error()));
        const int fd = openTelescope(QStringLiteral("tcp://") + sim.portText());
        QVERIFY(fd >= 0);
        QCOMPARE(tc_get_backlash(fd, TC_AXIS_RA, TC_DIR_NEGATIVE), 2);
        QCOMPARE(tc_set_backlash(fd, TC_AXIS_RA, TC_DIR_NEGATIVE, 99), RC_OK);
        QCOMPARE(tc_get_backlash(fd, TC_AXIS_RA, TC_DIR_NEGATIVE), 99);
        QCOMPARE(tc_set_autoguide_rate(fd, TC_AXIS_RA, 99), RC_OK);
        QCOMPARE(tc_get_autoguide_rate(fd, TC_AXIS_RA), 99);
        // Down at one degree per second, then stopped.
        QCOMPARE(tc_slew_variable(fd, TC_AXIS_DE_ALT, TC_DIR_NEGATIVE, 3600.0f), RC_OK);
        QTest::qWait(200);
        QCOMPARE(tc_slew_fixed(fd, TC_AXIS_DE_ALT, TC_DIR_NEGATIVE, 0), RC_OK);
        double az = 0, alt = 0;
        QCOMPARE(tc_get_azalt_p(fd, &az, &alt), RC_OK);
        close_telescope(fd);
        const QVector<SimLogEntry> log = sim.log();
        const SimLogEntry* start = findCommand(log, bytes({'P', 3, 17, 7, 56, 64, 0, 0}));
        const SimLogEntry* stop = findCommand(log, bytes({'P', 2, 17, 37, 0, 0, 0, 0}));
        QVERIFY(start && stop);
        QVERIFY(std::abs(alt + (stop->timeMs - start->timeMs) / 1000.0) < 1e-4);
        QCOMPARE(az, 0.0);
    }

    // Skyjog owns the mount's port; the library opens the serial port skyjog offers in its place
    // and connects, reads the position, moves an axis and aborts, each byte passed on as sent.
    void throughSkyjogsPseudoTerminal() {
        SimProcess sim;
        QVERIFY2(sim.start(SimProcess::Host::Pty, {"--tracking", "0", "--az", "90", "--alt", "30"}),
                 qPrintable(sim.error()));
        SkyjogProcess skyjog;
        QVERIFY2(skyjog.start(sim.portText()), qPrintable(skyjog.error()));
        const int fd = openTelescope(skyjog.ptyPath());
        QVERIFY(fd >= 0);
        QVERIFY(enforce_protocol_version(fd, VER_AUTO) >= 0);
        QCOMPARE(tc_check_align(fd), 1);
        double az = 0, alt = 0;
        QCOMPARE(tc_get_azalt_p(fd, &az, &alt), RC_OK);
        QVERIFY2(std::abs(az - 90) < 0.01 && std::abs(alt - 30) < 0.01,
                 qPrintable(QString("az %1, alt %2").arg(az).arg(alt)));
        QCOMPARE(tc_slew_fixed(fd, TC_AXIS_RA_AZM, TC_DIR_POSITIVE, 7), RC_OK);
        QTest::qWait(300);
        QCOMPARE(tc_slew_fixed(fd, TC_AXIS_RA_AZM, TC_DIR_POSITIVE, 0), RC_OK);
        QCOMPARE(tc_goto_cancel(fd), RC_OK);
        double az2 = 0, alt2 = 0;
        QCOMPARE(tc_get_azalt_p(fd, &az2, &alt2), RC_OK);
        close_telescope(fd);
        QVERIFY2(az2 > az + 0.1, qPrintable(QString("az %1 after the move").arg(az2)));
        QCOMPARE(alt2, alt);
        QCOMPARE(sim.commands(),
                 QVector<QByteArray>({"V", "V", "J", "z", bytes({'P', 2, 16, 36, 7, 0, 0, 0}),
                                      bytes({'P', 2, 16, 36, 0, 0, 0, 0}), "M", "z"}));
        QVERIFY(skyjog.running());
    }
};

QTEST_GUILESS_MAIN(TestInteropNexstar)
#include "test_interop_nexstar.moc"
