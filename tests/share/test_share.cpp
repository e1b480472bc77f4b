// The share on its own: real sockets and a real pseudo-terminal on this machine, the mount either
// a recording exchange or the in-process simulated mount, time on the test's clock.
#include "commands.h"
#include "commandtable.h"
#include "functions.h"
#include "mountsim.h"
#include "shareserver.h"
#include "testsupport.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#endif

using namespace skyjog;
using namespace skyjog::test;
using share::MotorCommand;
using share::ShareServer;
using Kind = MotorCommand::Kind;

Q_DECLARE_METATYPE(std::set<uint8_t>)

namespace {

constexpr int WaitMs = 5000;

QByteArray P(uint8_t len, uint8_t motor, uint8_t id, uint8_t a1 = 0, uint8_t a2 = 0,
             uint8_t reply = 0) {
    return cmd::passThrough(len, motor, id, a1, a2, reply);
}
const QByteArray MoveAz = P(2, cmd::AzMotor, cmd::MsgFixedPositive, 9);
const QByteArray MoveAlt = cmd::VariableRateSlew(cmd::AltMotor, cmd::MsgSlewNegative, 1, 0);
const QByteArray StopAz = cmd::FixedRateSlew(cmd::AzMotor);
const QByteArray StopAlt = cmd::FixedRateSlew(cmd::AltMotor);

// One command of every letter in the table, with its bytes after the letter counting up.
QByteArray exampleOf(const cmd::CommandInfo& c) {
    if (c.letter == 'P') return P(1, cmd::AzMotor, cmd::MsgGetPosition, 0, 0, 3);
    QByteArray bytes(1, c.letter);
    for (int i = 1; i < c.length; ++i) bytes += char(i);
    return bytes;
}

struct Exchanged {
    QByteArray command;
    int replyLength;
};

} // namespace

class TestShare : public QObject {
    Q_OBJECT

    ManualClock clk;
    std::unique_ptr<ScopedClock> scoped;
    std::unique_ptr<ShareServer> server;
    std::vector<Exchanged> exchanged;
    QStringList log;
    std::vector<std::unique_ptr<QTcpSocket>> sockets;

    // Answers every command with its reply length in bytes: the command's letter, a running
    // number, then '#', so that a reply shows which command it answers.
    void useFakeMount() {
        server = std::make_unique<ShareServer>([this](const QByteArray& c, int16_t n) {
            exchanged.push_back({c, n});
            QByteArray reply = c.left(1) + QByteArray::number(exchanged.size());
            reply = reply.leftJustified(n - 1, '.', true) + '#';
            CommandResult result;
            result.reply = reply.right(n);
            return result;
        });
        start();
    }
    void useSimulatedMount() {
        server = std::make_unique<ShareServer>([](const QByteArray& c, int16_t n) {
            return SendCommandQuietly(c, n, cmd::TimeoutMs);
        });
        start();
    }
    void start() {
        connect(server.get(), &ShareServer::logLine, this, [this](const QString& l) { log << l; });
        QString error;
        QVERIFY2(server->listen(QHostAddress::LocalHost, 0, &error), qPrintable(error));
    }

    QTcpSocket* connectClient() {
        auto s = std::make_unique<QTcpSocket>();
        s->connectToHost(QHostAddress::LocalHost, server->tcpPort());
        if (!s->waitForConnected(WaitMs)) return nullptr;
        sockets.push_back(std::move(s));
        const size_t count = sockets.size();
        // The server has it once it says so.
        if (!QTest::qWaitFor([&] { return server->clients().size() >= count; }, WaitMs))
            return nullptr;
        return sockets.back().get();
    }
    static void send(QTcpSocket* s, const QByteArray& bytes) {
        s->write(bytes);
        s->flush();
    }
    static QByteArray readReply(QTcpSocket* s, int n) {
        (void)QTest::qWaitFor([&] { return s->bytesAvailable() >= n; }, WaitMs);
        return s->read(n);
    }
    QList<QByteArray> exchangedCommands() const {
        QList<QByteArray> out;
        for (const auto& e : exchanged) out << e.command;
        return out;
    }

private slots:
    void initTestCase() {
        qRegisterMetaType<std::set<uint8_t>>();
        sim::registerInProcessSim();
    }
    void init() {
        clk = ManualClock(5000);
        scoped = std::make_unique<ScopedClock>(&clk);
        Comm1().setBackendFactory({});
        Comm1().setPortOpen(false);
        Comm1().setPortText(QStringLiteral("sim"));
        sim::sharedMountSim().reset();
        exchanged.clear();
        log.clear();
    }
    void cleanup() {
        sockets.clear();
        server.reset();
        scoped.reset();
    }

    void motorCommands_data() {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<int>("kind"); // -1: moves nothing
        QTest::addColumn<int>("motor");
        using cmd::AltMotor, cmd::AzMotor;
        QTest::newRow("fixed +9") << MoveAz << int(Kind::Fixed) << int(AzMotor);
        QTest::newRow("fixed - 0") << StopAlt << int(Kind::Stop) << int(AltMotor);
        QTest::newRow("fixed + 0") << P(2, AzMotor, cmd::MsgFixedPositive) << int(Kind::Stop)
                                   << int(AzMotor);
        QTest::newRow("variable") << MoveAlt << int(Kind::Variable) << int(AltMotor);
        QTest::newRow("variable low byte only")
            << cmd::VariableRateSlew(AzMotor, cmd::MsgSlewPositive, 0, 1) << int(Kind::Variable)
            << int(AzMotor);
        QTest::newRow("variable 0")
            << cmd::VariableRateSlew(AzMotor, cmd::MsgSlewPositive, 0, 0) << int(Kind::Stop)
            << int(AzMotor);
        QTest::newRow("goto fast") << P(4, AltMotor, 2, 1, 2, 0) << int(Kind::Goto)
                                   << int(AltMotor);
        QTest::newRow("goto slow") << P(4, AzMotor, 23, 1, 2, 0) << int(Kind::Goto)
                                   << int(AzMotor);
        QTest::newRow("goto ra-dec") << QByteArray("R1234,5678") << int(Kind::Goto) << 0;
        QTest::newRow("goto precise") << QByteArray("b12345678,12345678") << int(Kind::Goto) << 0;
        QTest::newRow("cancel goto") << QByteArray("M") << int(Kind::Stop) << 0;
        QTest::newRow("position") << QByteArray("Z") << -1 << 0;
        QTest::newRow("tracking") << cmd::SetTrackingMode(2) << -1 << 0;
        QTest::newRow("backlash") << cmd::GetBacklash(AzMotor, cmd::Direction::Positive) << -1 << 0;
        QTest::newRow("move to another device") << P(2, 176, cmd::MsgFixedPositive, 9) << -1 << 0;
        QTest::newRow("half a move") << MoveAz.left(7) << -1 << 0;
    }
    void motorCommands() {
        QFETCH(QByteArray, command);
        QFETCH(int, kind);
        QFETCH(int, motor);
        const auto m = share::motorCommand(command);
        QCOMPARE(m.has_value(), kind >= 0);
        QCOMPARE(share::isStop(command), kind == int(Kind::Stop));
        if (!m) return;
        QCOMPARE(int(m->kind), kind);
        QCOMPARE(int(m->motor), motor);
    }

    // Every command of the table, back to back in one stream, however the stream is cut.
    void framesEveryCommandHoweverCut_data() {
        QTest::addColumn<int>("piece");
        for (int piece : {1, 2, 3, 5, 8, 1000}) QTest::newRow(qPrintable(QString::number(piece))) << piece;
    }
    void framesEveryCommandHoweverCut() {
        QFETCH(int, piece);
        useFakeMount();
        QTcpSocket* c = connectClient();
        QVERIFY(c);
        QByteArray stream;
        std::vector<Exchanged> expected;
        int replies = 0;
        for (const cmd::CommandInfo& info : cmd::commandTable()) {
            const QByteArray command = exampleOf(info);
            stream += command;
            const int n = info.replyLength == cmd::ReplyInFrame ? 4 : info.replyLength;
            expected.push_back({command, n});
            replies += n;
        }
        for (int i = 0; i < stream.size(); i += piece) {
            send(c, stream.mid(i, piece));
            QTest::qWait(1);
        }
        const QByteArray got = readReply(c, replies);
        QCOMPARE(got.size(), replies);
        QCOMPARE(exchanged.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            QCOMPARE(exchanged[i].command, expected[i].command);
            QCOMPARE(exchanged[i].replyLength, expected[i].replyLength);
        }
        QVERIFY2(log.isEmpty(), qPrintable(log.join('\n')));
        QCOMPARE(server->clients().front().lastCommand, expected.back().command);
    }

    void unknownCommandClosesOnlyItsClient() {
        useFakeMount();
        QTcpSocket* bad = connectClient();
        QTcpSocket* good = connectClient();
        QVERIFY(bad && good);
        QSignalSpy gone(server.get(), &ShareServer::clientDisconnected);
        send(bad, "Q");
        QTRY_COMPARE_WITH_TIMEOUT(bad->state(), QAbstractSocket::UnconnectedState, WaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(gone.size(), 1, WaitMs);
        QVERIFY2(log.join('\n').contains("unknown command 'Q'"), qPrintable(log.join('\n')));
        send(good, "Z");
        QCOMPARE(readReply(good, 10), QByteArray("Z1.......#"));
        QCOMPARE(server->clients().size(), size_t(1));
    }

    // A byte that comes exactly the gap after the one before still belongs to its command.
    void halfCommandDroppedAfterTheGap_data() {
        QTest::addColumn<int>("gapMs");
        QTest::addColumn<QList<QByteArray>>("commands");
        QTest::addColumn<bool>("logged");
        QTest::newRow("within") << 250 << QList<QByteArray>{"KZ"} << false;
        QTest::newRow("past") << 251 << QList<QByteArray>{"Z"} << true;
        QTest::newRow("long past") << 60000 << QList<QByteArray>{"Z"} << true;
    }
    void halfCommandDroppedAfterTheGap() {
        QFETCH(int, gapMs);
        QFETCH(QList<QByteArray>, commands);
        QFETCH(bool, logged);
        useFakeMount();
        QTcpSocket* c = connectClient();
        QVERIFY(c);
        send(c, "K");
        QTRY_COMPARE_WITH_TIMEOUT(server->halfCommandBytes(), 1, WaitMs);
        clk.advance(uint32_t(gapMs));
        // The quiet client's half command goes by itself, not only when the next byte comes.
        if (logged) QTRY_COMPARE_WITH_TIMEOUT(server->halfCommandBytes(), 0, WaitMs);
        send(c, "Z");
        QTRY_COMPARE_WITH_TIMEOUT(exchangedCommands(), commands, WaitMs);
        QCOMPARE(log.join('\n').contains("dropped"), logged);
        QCOMPARE(c->state(), QAbstractSocket::ConnectedState);
    }

    // On the simulated mount, two clients polling side by side each read their own positions.
    void twoClientsPollingGetTheirOwnReplies() {
        useSimulatedMount();
        QTcpSocket* a = connectClient();
        QTcpSocket* b = connectClient();
        QVERIFY(a && b);
        for (int i = 0; i < 5; ++i) {
            send(a, "Z");
            send(b, "Kx");
            send(b, "Z");
            send(a, "Ka");
            QCOMPARE(readReply(a, 12).right(2), QByteArray("a#"));
            const QByteArray fromB = readReply(b, 12);
            QCOMPARE(fromB.left(2), QByteArray("x#"));
            QVERIFY2(cmd::positionFromReply(fromB.mid(2)), fromB.constData());
        }
        QCOMPARE(a->bytesAvailable() + b->bytesAvailable(), 0);
        QVERIFY2(log.isEmpty(), qPrintable(log.join('\n')));
    }

    // A device that is not there answers a pass-through with one byte more: the client gets
    // the whole of it, "#" included, and the stream stays in step.
    void failedPassThroughReachesItsClientWhole() {
        useSimulatedMount();
        QTcpSocket* c = connectClient();
        QVERIFY(c);
        send(c, P(1, 18, 254, 0, 0, 2) + "Kx");
        const QByteArray reply = readReply(c, 4 + 2);
        QCOMPARE(reply.size(), 6);
        QCOMPARE(reply.mid(3), QByteArray("#x#"));
        QCOMPARE(reply.count('#'), 2);
    }

    void stopJumpsTheQueue_data() {
        QTest::addColumn<QList<QByteArray>>("fromA");
        QTest::addColumn<QList<QByteArray>>("fromB");
        QTest::addColumn<QList<QByteArray>>("order");
        QTest::newRow("another's stop first")
            << QList<QByteArray>{MoveAz, "Z"} << QList<QByteArray>{StopAlt}
            << QList<QByteArray>{StopAlt, MoveAz, "Z"};
        QTest::newRow("behind its own client's move")
            << QList<QByteArray>{"E"} << QList<QByteArray>{MoveAlt, StopAlt}
            << QList<QByteArray>{MoveAlt, StopAlt, "E"};
        QTest::newRow("cancel goto")
            << QList<QByteArray>{"R1234,5678"} << QList<QByteArray>{"M"}
            << QList<QByteArray>{"M", "R1234,5678"};
        QTest::newRow("stops keep their order")
            << QList<QByteArray>{StopAz} << QList<QByteArray>{StopAlt}
            << QList<QByteArray>{StopAz, StopAlt};
        QTest::newRow("no stop, first come")
            << QList<QByteArray>{MoveAz} << QList<QByteArray>{"Z"}
            << QList<QByteArray>{MoveAz, "Z"};
    }
    void stopJumpsTheQueue() {
        QFETCH(QList<QByteArray>, fromA);
        QFETCH(QList<QByteArray>, fromB);
        QFETCH(QList<QByteArray>, order);
        useFakeMount();
        bool padBusy = true;
        int asked = 0;
        server->setMayExchangeNow([&] {
            ++asked;
            return !padBusy;
        });
        QTcpSocket* a = connectClient();
        QTcpSocket* b = connectClient();
        QVERIFY(a && b);
        for (const QByteArray& c : fromA) send(a, c);
        QTRY_COMPARE_WITH_TIMEOUT(server->waiting(), int(fromA.size()), WaitMs);
        for (const QByteArray& c : fromB) send(b, c);
        QTRY_COMPARE_WITH_TIMEOUT(server->waiting(), int(fromA.size() + fromB.size()), WaitMs);
        // While the pad's own command runs, nothing of the clients' goes out, but it is asked
        // again and again.
        QTRY_VERIFY_WITH_TIMEOUT((clk.advance(ShareServer::RetryMs), asked > 2), WaitMs);
        QVERIFY(exchanged.empty());
        padBusy = false;
        QTRY_COMPARE_WITH_TIMEOUT(exchangedCommands(), order, WaitMs);
    }

    void refusedMoveGetsItsAcknowledgement_data() {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("refused");
        // A move is asked about as it arrives and again as its turn comes; a refusal is final.
        QTest::addColumn<int>("asks");
        QTest::newRow("fixed") << MoveAz << QByteArray("#") << true << 1;
        QTest::newRow("variable") << cmd::VariableRateSlew(cmd::AzMotor, 6, 2, 0)
                                  << QByteArray("#") << true << 1;
        QTest::newRow("goto asking for a byte") << P(4, cmd::AzMotor, 2, 1, 2, 1)
                                                << QByteArray("\0#", 2) << true << 1;
        QTest::newRow("goto ra-dec") << QByteArray("B1234,5678") << QByteArray("#") << true << 1;
        QTest::newRow("other axis") << MoveAlt << QByteArray("#") << false << 2;
        QTest::newRow("stop") << StopAz << QByteArray("#") << false << 1;
        QTest::newRow("not a move") << QByteArray("t") << QByteArray("t#") << false << 0;
    }
    void refusedMoveGetsItsAcknowledgement() {
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, reply);
        QFETCH(bool, refused);
        QFETCH(int, asks);
        useFakeMount();
        std::vector<MotorCommand> asked;
        // The pad holds azimuth: moves there, and GoTos, are not the client's.
        server->setPolicy([&](int, const MotorCommand& m) {
            asked.push_back(m);
            return m.kind == Kind::Stop || (m.motor != 0 && m.motor != cmd::AzMotor);
        });
        QTcpSocket* c = connectClient();
        QVERIFY(c);
        send(c, command);
        QByteArray got = readReply(c, int(reply.size()));
        if (!refused) got.replace(QByteArray::number(1), ""); // the fake mount's count
        QCOMPARE(got, reply);
        QCOMPARE(exchanged.size(), size_t(refused ? 0 : 1));
        QCOMPARE(int(asked.size()), asks);
        QCOMPARE(log.join('\n').contains("refused"), refused);
    }

    // What a client's own commands leave moving when it goes, for the pad to stop.
    void disconnectReportsWhatItLeftMoving_data() {
        QTest::addColumn<QList<QByteArray>>("commands");
        QTest::addColumn<std::set<uint8_t>>("moving");
        const uint8_t az = cmd::AzMotor, alt = cmd::AltMotor;
        QTest::newRow("one move") << QList<QByteArray>{MoveAz} << std::set<uint8_t>{az};
        QTest::newRow("stopped") << QList<QByteArray>{MoveAz, StopAz} << std::set<uint8_t>{};
        QTest::newRow("other axis stopped")
            << QList<QByteArray>{MoveAz, MoveAlt, StopAz} << std::set<uint8_t>{alt};
        QTest::newRow("variable rate 0 stops")
            << QList<QByteArray>{MoveAlt, cmd::VariableRateSlew(alt, 6, 0, 0)}
            << std::set<uint8_t>{};
        QTest::newRow("goto") << QList<QByteArray>{QByteArray("R1234,5678")}
                              << std::set<uint8_t>{az, alt};
        QTest::newRow("goto cancelled")
            << QList<QByteArray>{QByteArray("R1234,5678"), QByteArray("M")} << std::set<uint8_t>{};
        QTest::newRow("polling only") << QList<QByteArray>{QByteArray("Z")} << std::set<uint8_t>{};
    }
    void disconnectReportsWhatItLeftMoving() {
        QFETCH(QList<QByteArray>, commands);
        QFETCH(std::set<uint8_t>, moving);
        useSimulatedMount();
        QSignalSpy gone(server.get(), &ShareServer::clientDisconnected);
        QTcpSocket* c = connectClient();
        QVERIFY(c);
        for (const QByteArray& command : commands) send(c, command);
        QTRY_COMPARE_WITH_TIMEOUT(int(sim::sharedMountSim().commands().size()),
                                  int(commands.size()), WaitMs);
        QCOMPARE(server->clients().front().moving, moving);
        c->abort();
        QTRY_COMPARE_WITH_TIMEOUT(gone.size(), 1, WaitMs);
        QCOMPARE(gone[0][2].value<std::set<uint8_t>>(), moving);
        QVERIFY(server->clients().empty());
    }

    // The mount takes its time to answer, and the client goes meanwhile: the move it started is
    // reported with it, though it went out after the client had gone.
    void goneDuringItsOwnMove() {
        QTcpSocket* c = nullptr;
        server = std::make_unique<ShareServer>([&](const QByteArray& command, int16_t) {
            exchanged.push_back({command, 1});
            c->abort();
            // The exchange handles events while it waits, as the pad's own path does.
            QTest::qWait(50);
            CommandResult r;
            r.reply = "#";
            return r;
        });
        start();
        QSignalSpy gone(server.get(), &ShareServer::clientDisconnected);
        c = connectClient();
        QVERIFY(c);
        send(c, MoveAz + QByteArray("Z"));
        QTRY_COMPARE_WITH_TIMEOUT(gone.size(), 1, WaitMs);
        QCOMPARE(gone[0][2].value<std::set<uint8_t>>(), std::set<uint8_t>{cmd::AzMotor});
        // What it asked after the move is not sent for nobody.
        QTest::qWait(20);
        QCOMPARE(exchangedCommands(), QList<QByteArray>{MoveAz});
    }

    // A port someone else has is reported once, not on every try.
    void addressInUseReportedOnce() {
        QTcpServer other;
        QVERIFY(other.listen(QHostAddress::LocalHost, 0));
        ShareServer s({});
        QSignalSpy failed(&s, &ShareServer::listenFailed);
        QString error;
        QVERIFY(!s.listen(QHostAddress::LocalHost, other.serverPort(), &error));
        QVERIFY(!s.listen(QHostAddress::LocalHost, other.serverPort()));
        QCOMPARE(failed.size(), 1);
        QVERIFY(error.contains(QString::number(other.serverPort())));
        QVERIFY(s.listen(QHostAddress::LocalHost, 0));
        QCOMPARE(s.tcpPort() != 0, true);
    }

#ifdef Q_OS_UNIX
    // A program that only speaks serial, on the terminal's link: raw bytes both ways (a cooked
    // terminal would turn the echoed carriage return into a line feed), and the terminal is still
    // there when the program has closed it and opens it again.
    void pseudoTerminalRoundTrip() {
        useSimulatedMount();
        QTemporaryDir dir;
        const QString link = dir.filePath("skyjog-share");
        QString error;
        QVERIFY2(server->openPty(link, &error), qPrintable(error));
        QCOMPARE(server->ptyPath(), link);
        for (int round = 0; round < 2; ++round) {
            const int fd = ::open(QFile::encodeName(link).constData(), O_RDWR | O_NOCTTY);
            QVERIFY(fd >= 0);
            QCOMPARE(::write(fd, "K\rZ", 3), ssize_t(3));
            QByteArray got;
            (void)QTest::qWaitFor(
                [&] {
                    pollfd p{fd, POLLIN, 0};
                    char buf[64];
                    if (::poll(&p, 1, 0) == 1) {
                        const ssize_t n = ::read(fd, buf, sizeof buf);
                        if (n > 0) got.append(buf, int(n));
                    }
                    return got.size() >= 12;
                },
                WaitMs);
            ::close(fd);
            QCOMPARE(got.left(2), QByteArray("\r#"));
            QVERIFY2(cmd::positionFromReply(got.mid(2)), got.constData());
        }
        server.reset();
        QVERIFY(!QFileInfo(link).isSymLink()); // the link goes with the share
    }
#endif
};

QTEST_GUILESS_MAIN(TestShare)
#include "test_share.moc"
