// Two copies of the program on one port, each sending echo commands as fast as it can, one through
// the simulated mount's link and one through the terminal the link names. Running as root, the
// terminal's exclusive mode keeps neither out: the lock file alone must. Every command either gets
// its own reply or is refused as the port being in use; no reply ever reaches the wrong process.
// (The commands wait 5 s for their replies rather than 0.5 s, so that a busy machine does not
// make one time out and leave its reply to the next command on the line.)
#include "simprocess.h"

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <map>

using namespace skyjog::test;

namespace {

constexpr int Commands = 1500;

struct Counts {
    std::map<QString, qint64> n;
    qint64 operator[](const char* key) const {
        const auto it = n.find(QString::fromLatin1(key));
        return it == n.end() ? -1 : it->second;
    }
};

Counts parse(const QByteArray& line) {
    Counts c;
    static const QRegularExpression re(QStringLiteral(R"((\w+)=(\d+))"));
    for (auto it = re.globalMatch(QString::fromUtf8(line)); it.hasNext();) {
        const auto m = it.next();
        c.n[m.captured(1)] = m.captured(2).toLongLong();
    }
    return c;
}

} // namespace

class TestPortSharing : public QObject {
    Q_OBJECT

private slots:
    void twoProgramsOnOnePortNeverGetEachOthersReplies() {
        SimProcess sim;
        QVERIFY2(sim.start(SimProcess::Host::Pty), qPrintable(sim.error()));
        const QString link = sim.portText();
        const QString device = QFileInfo(link).canonicalFilePath();
        QVERIFY(device.startsWith(QStringLiteral("/dev/")));

        QProcess hammers[2];
        const QString names[2] = {link, device};
        for (int tag = 0; tag < 2; ++tag) {
            QProcess& p = hammers[tag];
            p.setProgram(QStringLiteral(SKYJOG_PORT_HAMMER));
            p.setArguments({names[tag], QString::number(tag), QString::number(Commands)});
            p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            endWithParent(p);
            p.start();
            QVERIFY(p.waitForStarted(5000));
        }
        for (QProcess& p : hammers) {
            QVERIFY(p.waitForReadyRead(10000));
            QCOMPARE(p.readLine().trimmed(), QByteArray("ready"));
        }
        for (QProcess& p : hammers)
            p.write("go\n");
        for (QProcess& p : hammers)
            QVERIFY(p.waitForBytesWritten(5000));

        Counts counts[2];
        for (int tag = 0; tag < 2; ++tag) {
            QProcess& p = hammers[tag];
            QVERIFY2(p.waitForFinished(90000), "a hammer did not finish in 90 s");
            QCOMPARE(p.exitCode(), 0);
            const QByteArray out = p.readAllStandardOutput().trimmed();
            QVERIFY2(out.startsWith("done "), out.constData());
            counts[tag] = parse(out);
            qInfo("%s via %s: %s", tag ? "second" : "first", qPrintable(names[tag]),
                  out.constData());
        }

        for (const Counts& c : counts) {
            QCOMPARE(c["commands"], qint64(Commands));
            QCOMPARE(c["foreign"], 0);
            QCOMPARE(c["wrong"], 0);
            QCOMPARE(c["failed"], 0); // every failure was the port being in use
            // A reply that came after its command timed out can only be taken by this process's
            // next command: one per time-out at most.
            QVERIFY(c["late"] <= c["timeouts"]);
            QCOMPARE(c["own"] + c["refused"] + c["timeouts"] + c["late"], qint64(Commands));
            QVERIFY(c["own"] > 0);
        }
        // They really ran side by side and got in each other's way.
        QVERIFY(counts[0]["first"] < counts[1]["last"] && counts[1]["first"] < counts[0]["last"]);
        QVERIFY(counts[0]["refused"] + counts[1]["refused"] > 0);
    }
};

QTEST_GUILESS_MAIN(TestPortSharing)
#include "test_port_sharing.moc"
