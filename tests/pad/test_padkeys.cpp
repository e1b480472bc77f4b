// The main window's keyboard on its own: whose keys are the window's, and what reaches it of a key
// that a shortcut would otherwise take. The window tests cover what the window does with its keys;
// these cover receivers they do not drive: a shortcut on an arrow, keys inside an open list, keys
// a list took.
#include "padkeys.h"
#include "untakenkeys.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QVBoxLayout>
#include <QtTest>

using namespace skyjog;

namespace {

const char* const ArrowNames[] = {"Up", "Down", "Left", "Right"};

// A window with a box and a list, and its keys as the window would take them: every arrow press
// holds its axis, and everything that reaches the window is written down.
class KeyedWindow {
public:
    KeyedWindow()
        : keys_(window, {.arrowDown =
                             [this](Arrow a) {
                                 log << QStringLiteral("down %1").arg(ArrowNames[int(a)]);
                                 axisKeys_[axisOf(a)] = a;
                                 return true;
                             },
                         .arrowUp =
                             [this](Arrow a) {
                                 log << QStringLiteral("up %1").arg(ArrowNames[int(a)]);
                                 axisKeys_[axisOf(a)].reset();
                             },
                         .keyHolds = [this](Arrow a) { return axisKeys_[axisOf(a)] == a; },
                         .escape = [this] { log << QStringLiteral("escape"); },
                         .spiralKey = [this] { log << QStringLiteral("spiral"); },
                         .popupOpened = [this] { log << QStringLiteral("popup"); }}) {
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(box);
        layout->addWidget(list);
        list->addItems({QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("three")});
        keys_.setKeyRepeat(PadKeys::KeyRepeat::Detectable); // every key-up acts at once
        qApp->installEventFilter(&keys_);
        window.show();
        QApplication::setActiveWindow(&window);
        box->setFocus();
    }
    ~KeyedWindow() { qApp->removeEventFilter(&keys_); }

    QStringList take() { return std::exchange(log, {}); }

    QWidget window;
    QLineEdit* box = new QLineEdit(&window);
    QComboBox* list = new QComboBox(&window);
    QStringList log;

private:
    std::array<std::optional<Arrow>, 2> axisKeys_;
    PadKeys keys_;
};

void send(QObject* to, QEvent::Type type, int key) {
    QKeyEvent e(type, key, Qt::NoModifier);
    QApplication::sendEvent(to, &e);
}

} // namespace

class TestPadKeys : public QObject {
    Q_OBJECT
private slots:
    // A shortcut on an arrow or on S would take the key before the window sees it.
    void arrowsAndSComeBeforeShortcuts() {
        KeyedWindow w;
        int triggered = 0;
        for (int key : {Qt::Key_Down, Qt::Key_S}) {
            auto* action = new QAction(&w.window);
            action->setShortcut(QKeySequence(key));
            w.window.addAction(action);
            connect(action, &QAction::triggered, [&] { ++triggered; });
        }
        w.list->setFocus();
        QTest::keyClick(w.list, Qt::Key_Down);
        QTest::keyClick(w.list, Qt::Key_S);
        QCOMPARE(w.take(), (QStringList{"down Down", "up Down", "spiral"}));
        QCOMPARE(triggered, 0);
        QCOMPARE(w.list->currentIndex(), 0);
    }

    // An open drop-down list or menu keeps its arrows and S for itself: they move its selection
    // and reach nothing of the window. Only the release of an arrow that holds its axis is the
    // window's wherever it lands.
    void popupsOfTheWindow() {
        KeyedWindow w;
        w.list->showPopup();
        QWidget* popup = QApplication::activePopupWidget();
        QVERIFY(popup);
        QCOMPARE(w.take(), QStringList{"popup"});
        for (int key : {Qt::Key_Down, Qt::Key_S, Qt::Key_Down, Qt::Key_Up}) {
            send(w.list->view(), QEvent::KeyPress, key);
            send(w.list->view(), QEvent::KeyRelease, key);
        }
        QCOMPARE(w.take(), QStringList());
        QCOMPARE(w.list->view()->currentIndex().row(), 1);
        // Sent to the window itself while the list is open, they are still not the window's.
        send(&w.window, QEvent::KeyPress, Qt::Key_Left);
        QCOMPARE(w.take(), QStringList());
        send(&w.window, QEvent::KeyRelease, Qt::Key_Left);
        w.list->hidePopup();
        QCOMPARE(w.take(), QStringList());

        send(w.box, QEvent::KeyPress, Qt::Key_Right);
        QMenu menu(&w.window);
        menu.addAction(QStringLiteral("first"));
        menu.addAction(QStringLiteral("second"));
        menu.popup(w.window.mapToGlobal(QPoint(10, 10)));
        QVERIFY(menu.isVisible());
        send(&menu, QEvent::KeyPress, Qt::Key_Down);
        send(&menu, QEvent::KeyRelease, Qt::Key_Down); // holds nothing: the menu's
        send(&menu, QEvent::KeyRelease, Qt::Key_Right);
        QCOMPARE(w.take(), (QStringList{"down Right", "popup", "up Right"}));
        QCOMPARE(menu.activeAction(), menu.actions().value(0));
    }

    // A key held from before a list opened, or pressed inside it, repeats nothing: not in the
    // list, not on the window after the list has closed. Its release and next press are as ever.
    void keysThePopupTook() {
        KeyedWindow w;
        send(w.box, QEvent::KeyPress, Qt::Key_Up);
        send(w.box, QEvent::KeyPress, Qt::Key_S);
        QCOMPARE(w.take(), (QStringList{"down Up", "spiral"}));
        w.list->showPopup();
        QCOMPARE(w.take(), QStringList{"popup"});
        send(w.list->view(), QEvent::KeyPress, Qt::Key_Down); // pressed inside: the list's
        QCOMPARE(w.list->view()->currentIndex().row(), 1);
        for (int key : {Qt::Key_Up, Qt::Key_S, Qt::Key_Up})
            send(w.list->view(), QEvent::KeyPress, key);      // repetitions of what was held before
        send(w.list->view(), QEvent::KeyPress, Qt::Key_Down); // the list's own repetition
        QCOMPARE(w.list->view()->currentIndex().row(), 2);
        w.list->hidePopup();
        QCOMPARE(w.take(), QStringList());
        for (int key : {Qt::Key_Up, Qt::Key_Down, Qt::Key_S, Qt::Key_Up})
            send(w.box, QEvent::KeyPress, key);
        QCOMPARE(w.take(), QStringList());
        send(w.box, QEvent::KeyRelease, Qt::Key_Down);
        send(w.box, QEvent::KeyRelease, Qt::Key_S);
        send(w.box, QEvent::KeyPress, Qt::Key_Down);
        send(w.box, QEvent::KeyPress, Qt::Key_S);
        QCOMPARE(w.take(), (QStringList{"up Down", "down Down", "spiral"}));
    }

    // What an untaken key's presses are, step by step: h held, H<t> let go at t just before the
    // popup, r<t> a key-up at t, p<t> a press at t (0: unstamped), P a press flagged as
    // auto-repeat. Each press says R (a repetition) or N (new, and the key is forgotten).
    void untakenKeyPresses_data() {
        QTest::addColumn<bool>("pairs");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("presses");
        QTest::newRow("detectable: held") << false << "h p1 p2"
                                          << "RR";
        QTest::newRow("detectable: let go") << false << "h p1 r2 p3 p4"
                                            << "RNN";
        QTest::newRow("detectable: never held") << false << "p1"
                                                << "N";
        QTest::newRow("pairs: no key-up yet") << true << "h p1 p2"
                                              << "RR";
        QTest::newRow("pairs: flagged") << true << "h r3 P P"
                                        << "RR";
        QTest::newRow("pairs: unflagged pair") << true << "h r3 p3 r4 p4"
                                               << "RR";
        QTest::newRow("pairs: let go") << true << "h r3 p3 r4 p9 p10"
                                       << "RNN";
        QTest::newRow("pairs: pending at the opening") << true << "H5 p5 r6 p7"
                                                       << "RN";
        QTest::newRow("pairs: let go just before") << true << "H5 p8"
                                                   << "N";
        QTest::newRow("pairs: unstamped") << true << "h r0 p0"
                                          << "N";
    }
    void untakenKeyPresses() {
        QFETCH(bool, pairs);
        QFETCH(QString, steps);
        QFETCH(QString, presses);
        constexpr quint64 key = 42;
        UntakenKeys keys;
        QString said;
        for (const QString& step : steps.split(u' ')) {
            const quint64 t = step.mid(1).toULongLong();
            switch (step[0].toLatin1()) {
            case 'h':
                keys.hold(key);
                break;
            case 'H':
                keys.holdReleasedAt(key, t);
                break;
            case 'r':
                keys.released(key, t, pairs);
                break;
            default:
                said += keys.repeats(key, t, step[0] == u'P', pairs) ? u'R' : u'N';
            }
        }
        QCOMPARE(said, presses);
    }
};

QTEST_MAIN(TestPadKeys)
#include "test_padkeys.moc"
