// The program's message box: which window it belongs above, on top when a window of the program
// is, room for its caption, device paths never broken across lines, and whether its caller waits.
#include "messagebox.h"
#include "ontop.h"
#include "report.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QPointer>
#include <QTimer>

using namespace skyjog;

namespace {
MessageBox* openBox() {
    for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<MessageBox*>(top); box && box->isVisible()) return box;
    return nullptr;
}
} // namespace

class TestMessageBox : public QObject {
    Q_OBJECT
private slots:
    void cleanup() {
        while (MessageBox* box = openBox())
            box->close();
        setMessageBoxAnchor(nullptr);
    }

    void wrapsAtSpacesOnlyAndKeepsPathsWhole() {
        const QFont font;
        const QFontMetrics fm(font);
        const QString path =
            QStringLiteral("/dev/serial/by-id/usb-Prolific_Technology_Inc._USB-Serial_Controller-if00-port0");
        const QString text = QStringLiteral("Cannot open %1: No such file or directory "
                                            "(serial ports here: /dev/ttyS0, /dev/ttyS1)")
                                 .arg(path);
        const int width = fm.horizontalAdvance(QStringLiteral("Cannot open the port at all"));
        const QStringList lines = wrapAtSpaces(text, fm, width).split(u'\n');
        QVERIFY(lines.size() > 3);
        QVERIFY(lines.contains(path + u':'));
        // Nothing was lost or added but line breaks in place of spaces.
        QCOMPARE(lines.join(u' '), text);
        for (const QString& line : lines)
            QVERIFY2(fm.horizontalAdvance(line) <= width || !line.contains(u' '), qPrintable(line));
        QCOMPARE(wrapAtSpaces(QStringLiteral("a\nb c"), fm, 1000), QStringLiteral("a\nb c"));
    }

    void opensOverTheWindowItBelongsToAndOnTopWithIt() {
        QWidget pad;
        pad.setGeometry(300, 200, 275, 196);
        pad.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pad));
        setMessageBoxAnchor(&pad);
        {
            MessageBox box(QStringLiteral("Overflow - 6"), AppTitle);
            QCOMPARE(box.parentWidget(), &pad);
            QVERIFY(!onTopRequested(&box));
            box.show();
            // Centred on it, to the pixel that halving an odd size leaves.
            const QPoint offset = box.geometry().center() - pad.geometry().center();
            QVERIFY2(offset.manhattanLength() <= 2, qPrintable(QStringLiteral("%1,%2")
                                                                   .arg(offset.x())
                                                                   .arg(offset.y())));
            QCOMPARE(box.windowTitle(), AppTitle);
            QCOMPARE(box.text(), QStringLiteral("Overflow - 6"));
            // Room for the caption and the window manager's buttons, however short the text.
            QVERIFY(box.width() >= 240);
        }
        SetOnTop(&pad, true);
        MessageBox onTop(QStringLiteral("Please stop the spiral!"), QStringLiteral("Alert"));
        QVERIFY(onTopRequested(&onTop));
        QCOMPARE(onTop.windowTitle(), QStringLiteral("Alert"));
        // A window of the program that is active has the box over it rather than the anchor.
        QWidget other;
        other.show();
        QApplication::setActiveWindow(&other);
        MessageBox overOther(QStringLiteral("x - 5"), AppTitle);
        QCOMPARE(overOther.parentWidget(), &other);
        // Another window kept on top could cover the box: it goes on top too.
        QVERIFY(onTopRequested(&overOther));
    }

    void aLongPathGetsALineOfItsOwnAndTheBoxGrowsToIt() {
        const QString path = QStringLiteral("/dev/serial/by-id/") + QString(90, u'x');
        MessageBox box(QStringLiteral("Cannot open %1: gone - 8002").arg(path), AppTitle);
        QVERIFY(box.label()->text().split(u'\n').contains(path + u':'));
        box.show();
        QVERIFY(box.label()->width() >= box.label()->fontMetrics().horizontalAdvance(path + u':'));
    }

    void waitsForTheUserUnlessTheCallerMustGoOn() {
        // Waiting: the call returns once the box is closed.
        bool sawBox = false;
        QTimer::singleShot(50, [&] {
            MessageBox* box = openBox();
            sawBox = box && box->isModal();
            if (box) box->okButton()->click();
        });
        showMessageBox(QStringLiteral("first - 1"), AppTitle);
        QVERIFY(sawBox);
        QVERIFY(!openBox());

        // Not waiting: the box is up and the call has returned.
        {
            const BoxesDoNotWait running;
            QVERIFY(!boxesWait());
            showMessageBox(QStringLiteral("second - 2"), AppTitle);
        }
        QVERIFY(boxesWait());
        MessageBox* box = openBox();
        QVERIFY(box);
        QCOMPARE(box->text(), QStringLiteral("second - 2"));
        QVERIFY(box->isModal());
        QPointer<MessageBox> gone = box;
        box->okButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!gone, 5000); // deleted once closed
    }
};

QTEST_MAIN(TestMessageBox)
#include "test_messagebox.moc"
