// Two copies of the program on one port, each sending echo commands as fast as it can, one through
// the simulated mount's link and one through the terminal the link names. Running as root, the
// terminal's exclusive mode keeps neither out: the lock file alone must. Every command either gets
// its own reply or is refused as the port being in use; no reply ever reaches the wrong process.
// (The commands wait 5 s for their replies rather than 0.5 s, so that a busy machine does not
// make one time out and leave its reply to the next command on the line.)
// And a program that dies holding the port leaves its lock file behind: the next one to come
// takes it over at once, while one still being written by a live program keeps it out.
#include "functions.h"
#include "portlock.h"
#include "simprocess.h"
#include "testsupport.h"

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>
#include <csignal>
#include <map>

using namespace skyjog;
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

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Starts a helper and waits (bounded) for its first line.
QByteArray startHelper(QProcess& p, const char* program, const QStringList& args) {
    p.setProgram(QString::fromLocal8Bit(program));
    p.setArguments(args);
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    endWithParent(p);
    p.start();
    if (!p.waitForStarted(5000) || !p.waitForReadyRead(10000)) return {};
    return p.readLine().trimmed();
}

void killAtOnce(QProcess& p) {
    ::kill(pid_t(p.processId()), SIGKILL);
    p.waitForFinished(5000);
}

// This process's own command on the port, as the restarted program's first would be.
struct Command {
    CommandResult result;
    QStringList boxes;
};
Command echoOn(const QString& port) {
    Comm1().setSettings(QStringLiteral("9600,N,8,1"));
    Comm1().setPortText(port);
    ReportRecorder rec;
    Command c{SendCommandResult("Kx", 2, ReplyNotTestedMs), {}};
    c.boxes = rec.texts();
    return c;
}

} // namespace

class TestPortSharing : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { InitSleepTime(); }

    // Killed while it waits for a mount that says nothing: its lock file stays behind, naming a
    // process that is gone, and the program started again at once gets the port.
    void aHolderKilledMidCommandIsTakenOverAtOnce_data() {
        QTest::addColumn<bool>("qt");
        QTest::newRow("this program's link") << false;
        QTest::newRow("a Qt program (QSerialPort)") << true;
    }
    void aHolderKilledMidCommandIsTakenOverAtOnce() {
        QFETCH(bool, qt);
        SimProcess sim;
        QVERIFY2(sim.start(SimProcess::Host::Pty,
                           {QStringLiteral("--fault"), QStringLiteral("silent"),
                            QStringLiteral("--fault-count"), QStringLiteral("1")}),
                 qPrintable(sim.error()));
        const QString link = sim.portText();
        const QString lock = PortLock::lockFilePath(link); // both kinds of holder take this one
        if (lock.isEmpty()) QSKIP("no lock folder this user may write");

        QProcess holder;
        if (qt) {
            QCOMPARE(startHelper(holder, SKYJOG_PORT_HOLDER, {link}), QByteArray("held"));
            holder.write("KA\n");
        } else {
            QCOMPARE(startHelper(holder, SKYJOG_PORT_HAMMER,
                                 {link, QStringLiteral("0"), QStringLiteral("1")}),
                     QByteArray("ready"));
            holder.write("go\n");
        }
        QVERIFY(holder.waitForBytesWritten(5000));
        QVERIFY2(sim.waitForLog([](const QVector<SimLogEntry>& log) { return !log.isEmpty(); }),
                 "the holder's command never reached the mount");
        QCOMPARE(readFile(lock).split('\n').value(0), QByteArray::number(holder.processId()));
        killAtOnce(holder);
        QVERIFY(QFileInfo::exists(lock)); // left behind, a moment old

        const Command first = echoOn(link);
        QVERIFY2(first.boxes.isEmpty(), qPrintable(first.boxes.join(u'\n')));
        QCOMPARE(first.result.reply, QByteArray("x#"));
        QVERIFY(!QFileInfo::exists(lock)); // and this program's own is gone with its command
    }

    // A program caught between making its lock file and finishing it keeps the port while it
    // lives. Killed there, the file it leaves is taken over at once if it got as far as naming
    // itself; one that names nobody is respected as long as QLockFile respects it.
    void aHalfWrittenLockHoldsWhileItsWriterLives_data() {
        QTest::addColumn<QString>("written");
        QTest::addColumn<bool>("namesItsWriter");
        QTest::newRow("nothing yet") << QStringLiteral("0") << false;
        QTest::newRow("the number cut short") << QStringLiteral("1") << false;
        QTest::newRow("the number, the program cut short") << QStringLiteral("+5") << true;
    }
    void aHalfWrittenLockHoldsWhileItsWriterLives() {
        QFETCH(QString, written);
        QFETCH(bool, namesItsWriter);
        SimProcess sim;
        QVERIFY2(sim.start(SimProcess::Host::Pty), qPrintable(sim.error()));
        const QString link = sim.portText();
        const QString lock = PortLock::lockFilePath(QFileInfo(link).canonicalFilePath());
        if (lock.isEmpty()) QSKIP("no lock folder this user may write");
        QFile::remove(lock);
        const auto removeLock = qScopeGuard([&] { QFile::remove(lock); });

        QProcess writer;
        QCOMPARE(startHelper(writer, SKYJOG_PORT_HOLDER, {QStringLiteral("--half"), lock, written}),
                 QByteArray("held"));
        const QByteArray contents = readFile(lock);
        QCOMPARE(contents.contains('\n'), namesItsWriter);

        const Command whileWriting = echoOn(link);
        QCOMPARE(whileWriting.boxes.size(), qsizetype(1));
        QVERIFY2(whileWriting.boxes[0].contains(QStringLiteral("in use by another program")) &&
                     whileWriting.boxes[0].endsWith(QStringLiteral(" - 8005")),
                 qPrintable(whileWriting.boxes[0]));
        QVERIFY(whileWriting.result.reply.isEmpty());
        QCOMPARE(readFile(lock), contents); // untouched
        QVERIFY(sim.commands().isEmpty());  // and not a byte reached the mount

        killAtOnce(writer);
        const Command afterDeath = echoOn(link);
        if (namesItsWriter) {
            QVERIFY2(afterDeath.boxes.isEmpty(), qPrintable(afterDeath.boxes.join(u'\n')));
            QCOMPARE(afterDeath.result.reply, QByteArray("x#"));
        } else {
            QCOMPARE(afterDeath.boxes.size(), qsizetype(1));
            QVERIFY(afterDeath.boxes[0].endsWith(QStringLiteral(" - 8005")));
            QCOMPARE(readFile(lock), contents);
        }
    }

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
