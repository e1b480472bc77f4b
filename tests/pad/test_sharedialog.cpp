// Tools > Share Mount..., through its real widgets: sharing turned on and off from it, a program
// connecting and its commands reaching the simulated mount, a taken port shown in the dialog and
// nowhere else, the choice of interfaces kept and restored, and one dialog at a time.
#include "mountshare.h"
#include "ontop.h"
#include "padfixture.h"
#include "sharedialog.h"
#include "testhelpers.h"

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTcpServer>
#include <QTcpSocket>

using namespace skyjog;
using namespace skyjog::test;

namespace {

constexpr int WaitMs = 5000;

// A port nobody listens on now.
uint16_t freePort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress(QHostAddress::LocalHost), 0)) return 0;
    const uint16_t port = probe.serverPort();
    probe.close();
    return port;
}

// The share dialogs of the window that are open now.
QList<ShareDialog*> openDialogs(Interface& w) {
    QList<ShareDialog*> open;
    for (ShareDialog* d : w.findChildren<ShareDialog*>())
        if (d->isVisible()) open << d;
    return open;
}

ShareDialog* openDialog(Interface& w) {
    w.mnuShare->trigger();
    const QList<ShareDialog*> open = openDialogs(w);
    return open.size() == 1 ? open.first() : nullptr;
}

// The user ticks or unticks a box from the keyboard, as a click would.
void toggle(QCheckBox* box) {
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Space);
}

// The user types a port and presses Return.
void typePort(QSpinBox* spin, uint16_t port) {
    spin->setFocus();
    spin->selectAll();
    QTest::keyClicks(spin, QString::number(port));
    QTest::keyClick(spin, Qt::Key_Return);
}

// Skyjog.conf as the next start reads it.
QVariant kept(Pad& pad, Pref p) {
    return Preferences(pad.user.path()).get(p);
}

void keep(Pad& pad, bool enabled, const QHostAddress& address, uint16_t port) {
    Preferences prefs(pad.user.path());
    prefs.set(Pref::ShareEnabled, enabled);
    prefs.set(Pref::ShareAddress, address.toString());
    prefs.set(Pref::SharePort, port);
    QVERIFY(prefs.save());
}

// The window as the program starts it: the share as Skyjog.conf says.
Interface& startSharing(Pad& pad) {
    Interface& w = pad.startOnSim();
    w.share().start();
    return w;
}

QString cell(QTableWidget* t, int row, int column) {
    const QTableWidgetItem* item = t->item(row, column);
    return item ? item->text() : QStringLiteral("<none>");
}

void closeDialog(ShareDialog* d) {
    QTest::mouseClick(d->cmdClose, Qt::LeftButton);
    QVERIFY(!d->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace

class TestShareDialog : public QObject {
    Q_OBJECT
    QTemporaryDir runtime_;

private slots:
    void initTestCase() {
        quietOffscreenWarnings();
        // The terminal's link goes into a folder of this run's own, not the user's.
        QVERIFY(runtime_.isValid());
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime_.path()));
    }

    void clientThroughTheSharedMount() {
        Pad pad;
        const uint16_t port = freePort();
        QVERIFY(port);
        Interface& w = startSharing(pad);
        ShareDialog* d = openDialog(w);
        QVERIFY(d);
        QCOMPARE(d->windowTitle(), QStringLiteral("Share Mount"));
        QVERIFY(!d->chkShare->isChecked());
        QVERIFY(!d->chkAllInterfaces->isChecked());
        QCOMPARE(d->lblAddress->text(), QStringLiteral("Not sharing the mount now."));
        QVERIFY(d->lblPty->text().startsWith(QStringLiteral("No virtual serial port")));
        QVERIFY(d->lblWarning->isHidden());
        QVERIFY(d->lblError->isHidden());
        QCOMPARE(d->tblClients->rowCount(), 0);
        QCOMPARE(d->tblClients->horizontalHeaderItem(0)->text(), QStringLiteral("Program"));
        QCOMPARE(d->tblClients->horizontalHeaderItem(1)->text(), QStringLiteral("Last command"));

        typePort(d->spnPort, port);
        QCOMPARE(w.share().target().port, port);
        QCOMPARE(kept(pad, Pref::SharePort).toInt(), int(port));
        QVERIFY(!w.share().enabled()); // a port alone turns nothing on
        QVERIFY(d->isVisible());       // Return takes the port; it does not close the dialog

        toggle(d->chkShare);
        QVERIFY(w.share().listening());
        QVERIFY(kept(pad, Pref::ShareEnabled).toBool());
        const QString address = QStringLiteral("127.0.0.1:%1").arg(port);
        QCOMPARE(d->lblAddress->text(), QStringLiteral("Give the other program: ") + address);
        QVERIFY(d->lblWarning->isHidden());
        QVERIFY(!w.share().ptyPath().isEmpty());
        QVERIFY2(d->lblPty->text().endsWith(w.share().ptyPath()), qPrintable(d->lblPty->text()));
        QVERIFY(d->txtLog->toPlainText().contains(QStringLiteral("Sharing the mount at ") + address));
        // The terminal nobody has opened is no program.
        QCOMPARE(d->tblClients->rowCount(), 0);

        QTcpSocket client;
        client.connectToHost(QHostAddress(QHostAddress::LocalHost), port);
        QVERIFY(client.waitForConnected(WaitMs));
        const QString name = QStringLiteral("127.0.0.1:%1").arg(client.localPort());
        QTRY_COMPARE_WITH_TIMEOUT(d->tblClients->rowCount(), 1, WaitMs);
        QCOMPARE(cell(d->tblClients, 0, 0), name);
        QCOMPARE(cell(d->tblClients, 0, 1), QString());
        QVERIFY(d->txtLog->toPlainText().contains(name + QStringLiteral(" connected")));

        pad.takeSent();
        client.write("V");
        QTRY_VERIFY_WITH_TIMEOUT(client.bytesAvailable() >= 3, WaitMs);
        QCOMPARE(client.readAll().right(1), QByteArray("#"));
        QCOMPARE(pad.takeSent(), QVector<QByteArray>{QByteArray("V")});
        QTRY_COMPARE_WITH_TIMEOUT(cell(d->tblClients, 0, 1), QStringLiteral("version"), WaitMs);
        client.write("e");
        QTRY_COMPARE_WITH_TIMEOUT(cell(d->tblClients, 0, 1), QStringLiteral("get ra-dec"), WaitMs);

        // Unticked, the share closes and the program is cut off.
        toggle(d->chkShare);
        QVERIFY(!w.share().enabled());
        QVERIFY(!w.share().listening());
        QVERIFY(!kept(pad, Pref::ShareEnabled).toBool());
        QTRY_COMPARE_WITH_TIMEOUT(client.state(), QAbstractSocket::UnconnectedState, WaitMs);
        QCOMPARE(d->tblClients->rowCount(), 0);
        QCOMPARE(d->lblAddress->text(), QStringLiteral("Not sharing the mount now."));
        QVERIFY(d->lblPty->text().startsWith(QStringLiteral("No virtual serial port")));
        QTcpSocket late;
        late.connectToHost(QHostAddress(QHostAddress::LocalHost), port);
        QVERIFY(!late.waitForConnected(WaitMs));
        QVERIFY(pad.reports.boxes.empty());
    }

    void takenPortIsShownInTheDialogOnly() {
        Pad pad;
        QTcpServer holder;
        QVERIFY(holder.listen(QHostAddress(QHostAddress::LocalHost), 0));
        keep(pad, false, QHostAddress(QHostAddress::LocalHost), holder.serverPort());
        Interface& w = startSharing(pad);
        ShareDialog* d = openDialog(w);
        QVERIFY(d);
        QCOMPARE(d->spnPort->value(), int(holder.serverPort()));

        // Tried twice: still one line.
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (attempt) {
                toggle(d->chkShare);
                QVERIFY(d->lblError->isHidden());
            }
            toggle(d->chkShare);
            QVERIFY(d->chkShare->isChecked()); // on, as chosen; it only cannot listen
            QVERIFY(!w.share().listening());
            QVERIFY(!d->lblError->isHidden());
            const QString port = QString::number(holder.serverPort());
            QVERIFY2(d->lblError->text().contains(port), qPrintable(d->lblError->text()));
            QCOMPARE(d->lblError->text().count(QStringLiteral("Cannot listen")), 1);
            QCOMPARE(d->lblAddress->text(), QStringLiteral("Not sharing the mount now."));
            QVERIFY(pad.reports.boxes.empty());
            QVERIFY(!QApplication::activeModalWidget());
        }

        // Another port works at once, and the report goes.
        const uint16_t other = freePort();
        typePort(d->spnPort, other);
        QVERIFY(w.share().listening());
        QVERIFY(d->lblError->isHidden());
        QCOMPARE(d->lblAddress->text(),
                 QStringLiteral("Give the other program: 127.0.0.1:%1").arg(other));
        QVERIFY(!QApplication::activeModalWidget());
        QVERIFY(pad.reports.boxes.empty());
    }

    void everyInterfaceIsWarnedKeptAndRestored_data() {
        QTest::addColumn<QString>("keptAddress");
        QTest::addColumn<bool>("wasEvery");
        QTest::addColumn<QString>("nowAddress");
        const QString any = QHostAddress(QHostAddress::Any).toString();
        const QString local = QStringLiteral("127.0.0.1");
        QTest::newRow("opened to the network") << local << false << any;
        QTest::newRow("back to this computer") << any << true << local;
    }
    void everyInterfaceIsWarnedKeptAndRestored() {
        QFETCH(QString, keptAddress);
        QFETCH(bool, wasEvery);
        QFETCH(QString, nowAddress);
        const uint16_t port = freePort();
        QVERIFY(port);
        Pad pad;
        keep(pad, true, QHostAddress(keptAddress), port);
        Interface& w = startSharing(pad);
        QVERIFY(w.share().listening());
        ShareDialog* d = openDialog(w);
        QVERIFY(d);
        QCOMPARE(d->chkShare->isChecked(), true);
        QCOMPARE(d->chkAllInterfaces->isChecked(), wasEvery);
        QCOMPARE(d->lblWarning->isHidden(), !wasEvery);

        toggle(d->chkAllInterfaces);
        const bool every = !wasEvery;
        QCOMPARE(w.share().target().address.toString(), nowAddress);
        QCOMPARE(w.share().target().port, port);
        QVERIFY(w.share().listening());
        QCOMPARE(d->lblWarning->isHidden(), !every);
        if (every) {
            QVERIFY(d->lblWarning->text().contains(QStringLiteral("no password")));
            QVERIFY(d->lblWarning->text().contains(QStringLiteral("move the telescope")));
        }
        // Every interface is kept as "*": IPv6 too, which no one address names.
        QCOMPARE(kept(pad, Pref::ShareAddress).toString(), every ? QStringLiteral("*") : nowAddress);
        QCOMPARE(kept(pad, Pref::SharePort).toInt(), int(port));

        // The next start listens there again, and its dialog shows it.
        pad.window.reset();
        Interface& again = startSharing(pad);
        QCOMPARE(again.share().target().address.toString(), nowAddress);
        QTcpSocket client;
        client.connectToHost(QHostAddress(QHostAddress::LocalHost), port);
        QVERIFY(client.waitForConnected(WaitMs));
        QTRY_COMPARE_WITH_TIMEOUT(again.share().connectedClients(), 1, WaitMs);
        // Opening the dialog shows the kept place and changes nothing: the share does not
        // listen anew, and the program stays connected.
        ShareDialog* reopened = openDialog(again);
        QVERIFY(reopened);
        QCOMPARE(again.share().log().count(QStringLiteral("Sharing the mount at %1")
                                               .arg(again.share().addressText())),
                 1);
        QCOMPARE(reopened->tblClients->rowCount(), 1);
        QCOMPARE(client.state(), QAbstractSocket::ConnectedState);
        QCOMPARE(reopened->chkAllInterfaces->isChecked(), every);
        QCOMPARE(reopened->lblWarning->isHidden(), !every);
        QCOMPARE(reopened->spnPort->value(), int(port));
        QVERIFY(reopened->chkShare->isChecked());
        QVERIFY(pad.reports.boxes.empty());
    }

    void opensOnceOnTopAndFollowsTheShare() {
        Pad pad;
        Interface& w = startSharing(pad);
        ShareDialog* d = openDialog(w);
        QVERIFY(d);
        QVERIFY(d->isWindow());
        QCOMPARE(d->parentWidget(), &w);
        QVERIFY(onTopRequested(d));
        QVERIFY(!d->isModal());
        w.mnuShare->trigger();
        QCOMPARE(openDialogs(w), QList<ShareDialog*>{d});

        // Changed elsewhere (the command line's start), the dialog follows without sending
        // anything back: the log has each change once.
        const uint16_t port = freePort();
        w.share().setTarget({QHostAddress(QHostAddress::LocalHost), port});
        w.share().setEnabled(true);
        QCOMPARE(d->spnPort->value(), int(port));
        QVERIFY(d->chkShare->isChecked());
        QCOMPARE(d->txtLog->toPlainText().count(QStringLiteral("Sharing the mount at")), 1);
        QCOMPARE(d->txtLog->toPlainText(), w.share().log().join(u'\n'));

        // Closed, the next opening is a new dialog with the log so far.
        closeDialog(d);
        QVERIFY(openDialogs(w).isEmpty());
        ShareDialog* next = openDialog(w);
        QVERIFY(next);
        QCOMPARE(next->txtLog->toPlainText(), w.share().log().join(u'\n'));
        QVERIFY(next->chkShare->isChecked());
        w.share().setEnabled(false);
        QVERIFY(!next->chkShare->isChecked());
        QVERIFY(next->txtLog->toPlainText().endsWith(QStringLiteral("Not sharing the mount")));
    }
};

QTEST_MAIN(TestShareDialog)
#include "test_sharedialog.moc"
