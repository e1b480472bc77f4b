// The file of choices beyond the settings line: kept apart from Skyjogger.ini, read back as
// written, and a damaged or missing one gives the fallbacks rather than nonsense.
#include "preferences.h"

#include <QDir>
#include <QFile>
#include <QPoint>
#include <QTemporaryDir>
#include <QtTest>

using namespace skyjog;

class TestPreferences : public QObject {
    Q_OBJECT
private slots:
    void readsBackWhatItSaved() {
        QTemporaryDir user;
        const QString dir = QDir(user.path()).filePath(QStringLiteral("Skyjog"));
        {
            Preferences p(dir);
            QCOMPARE(p.value(QStringLiteral("night"), false).toBool(), false);
            p.setValue(QStringLiteral("night"), true);
            p.setValue(QStringLiteral("deadZone"), 0.25);
            p.setValue(QStringLiteral("position/place"), QPoint(-1200, 40));
            QString why;
            QVERIFY2(p.save(&why), qPrintable(why));
        }
        QVERIFY(QFile::exists(QDir(dir).filePath(Preferences::FileName)));
        QVERIFY(!QFile::exists(QDir(dir).filePath(QStringLiteral("Skyjogger.ini"))));
        const Preferences again(dir);
        QCOMPARE(again.value(QStringLiteral("night"), false).toBool(), true);
        QCOMPARE(again.value(QStringLiteral("deadZone"), 0.5).toDouble(), 0.25);
        QCOMPARE(again.value(QStringLiteral("position/place"), QPoint()).toPoint(), QPoint(-1200, 40));
    }

    void aDamagedValueGivesTheFallback() {
        QTemporaryDir user;
        QFile f(QDir(user.path()).filePath(Preferences::FileName));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[controller]\ndeadZone=plenty\n\x01\x02 not ini at all\n[position]\nplace=@Point(1 2\n");
        f.close();
        const Preferences p(user.path());
        QCOMPARE(p.value(QStringLiteral("controller/deadZone"), 0.2).toDouble(), 0.2);
        QCOMPARE(p.value(QStringLiteral("position/place"), QPoint(7, 7)).toPoint(), QPoint(7, 7));
        QCOMPARE(p.value(QStringLiteral("missing"), 3).toInt(), 3);
    }

    // The table: every choice under a key of its own, with its default while the file lacks it.
    void theTableOfChoices_data() {
        QTest::addColumn<int>("pref");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("fallback");
        QTest::newRow("night") << int(Pref::NightVision) << "view/nightVision" << QVariant(false);
        QTest::newRow("x") << int(Pref::PositionX) << "position/x" << QVariant(0);
        QTest::newRow("y") << int(Pref::PositionY) << "position/y" << QVariant(0);
        QTest::newRow("open") << int(Pref::PositionOpen) << "position/open" << QVariant(false);
        QTest::newRow("use") << int(Pref::ControllerEnabled) << "controller/enabled" << QVariant(true);
        QTest::newRow("dead zone") << int(Pref::ControllerDeadZone) << "controller/deadZone"
                                   << QVariant(50);
        QTest::newRow("mapping") << int(Pref::ControllerMapping) << "controller/mapping"
                                 << QVariant(QString());
    }
    void theTableOfChoices() {
        QFETCH(int, pref);
        QFETCH(QString, key);
        QFETCH(QVariant, fallback);
        QTemporaryDir user;
        Preferences p(user.path());
        QCOMPARE(Preferences::keyOf(Pref(pref)), key);
        QCOMPARE(p.get(Pref(pref)), fallback);
        QVERIFY(!p.contains(Pref(pref)));
        QCOMPARE(Preferences::keyOf(Pref(pref), QStringLiteral("abc")), key + QStringLiteral("/abc"));
    }

    // Setting what the file already holds leaves the file as it is (QSettings would rewrite it
    // without the user's comment); a change writes it.
    void anUnchangedChoiceLeavesTheFileAlone() {
        QTemporaryDir user;
        const QString path = QDir(user.path()).filePath(Preferences::FileName);
        const QByteArray written = "; the user's own note\n[view]\nnightVision=true\n";
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(written);
        }
        Preferences p(user.path());
        p.set(Pref::NightVision, true);
        QVERIFY(p.save());
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), written);
        f.close();
        p.set(Pref::NightVision, false);
        QVERIFY(p.save());
        QCOMPARE(Preferences(user.path()).get(Pref::NightVision).toBool(), false);
        // A choice the file lacks is written even at its default, so that it stays as chosen.
        p.set(Pref::ControllerEnabled, true);
        QVERIFY(p.save());
        QVERIFY(Preferences(user.path()).contains(Pref::ControllerEnabled));
    }

    void aFolderThatCannotBeMadeIsReported() {
        QTemporaryDir user;
        const QString file = QDir(user.path()).filePath(QStringLiteral("a-file"));
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        Preferences p(QDir(file).filePath(QStringLiteral("Skyjog")));
        p.setValue(QStringLiteral("night"), true);
        QString why;
        QVERIFY(!p.save(&why));
        QVERIFY2(why.contains(Preferences::FileName), qPrintable(why));
    }
};

QTEST_GUILESS_MAIN(TestPreferences)
#include "test_preferences.moc"
