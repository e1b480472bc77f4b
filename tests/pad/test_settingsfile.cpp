// The settings line: exact bytes written, tolerant reading, damage reported field by field, and
// where the file is looked for and saved.
#include "settingsfile.h"
#include "vberror.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/resource.h>
#endif

using namespace skyjog;

namespace {

// Every field away from its default, so a test can tell "read" from "left alone" (the direction
// codes swapped: 6 and 7 are the only ones a file may hold).
Settings sentinel() {
    Settings s;
    s.UpMessage = 6;
    s.DownMessage = 7;
    s.LeftMessage = 6;
    s.RightMessage = 7;
    s.CommPortText = QStringLiteral("sentinel");
    s.FormTop = 15;
    s.FormLeft = 16;
    s.AltRateIndex = 2;
    s.AzRateIndex = 3;
    s.TrackModeIndex = 3;
    s.OnTop = true;
    s.SpiralWidth = 17;
    s.CornerDelay = 18.5;
    return s;
}

void writeFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(data), data.size());
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return "<missing>";
    return f.readAll();
}

} // namespace

class TestSettingsFile : public QObject {
    Q_OBJECT
private slots:
    void defaultLineIsExact() {
        QCOMPARE(settingsfile::format(Settings{}),
                 QByteArray("7,6,7,6,\"1\",100,100,8,8,1,#FALSE#,3,0\r\n"));
    }

    void writtenForms_data() {
        QTest::addColumn<Settings>("settings");
        QTest::addColumn<QByteArray>("line");
        Settings s = sentinel();
        s.CommPortText = QStringLiteral("host, port:1");
        s.FormTop = -2147483647 - 1;
        s.FormLeft = 2147483647;
        s.CornerDelay = 0.5;
        QTest::newRow("every field changed")
            << s
            << QByteArray("6,7,6,7,\"host, port:1\",-2147483648,2147483647,2,3,3,#TRUE#,"
                          "17,.5\r\n");
        Settings d;
        d.CornerDelay = 2;
        QTest::newRow("whole delay")
            << d << QByteArray("7,6,7,6,\"1\",100,100,8,8,1,#FALSE#,3,2\r\n");
        d.CornerDelay = -0.25;
        QTest::newRow("negative delay")
            << d << QByteArray("7,6,7,6,\"1\",100,100,8,8,1,#FALSE#,3,-.25\r\n");
        d.CornerDelay = 0.1 + 0.2;
        QTest::newRow("shortest round trip")
            << d << QByteArray("7,6,7,6,\"1\",100,100,8,8,1,#FALSE#,3,.30000000000000004\r\n");
        d.CornerDelay = 0;
        d.CommPortText = QStringLiteral("/dev/ttyÜSB0");
        QTest::newRow("non-ASCII port text in UTF-8")
            << d << QByteArray("7,6,7,6,\"/dev/tty\xC3\x9CSB0\",100,100,8,8,1,#FALSE#,3,0\r\n");
        d.CommPortText.clear();
        QTest::newRow("empty port text")
            << d << QByteArray("7,6,7,6,\"\",100,100,8,8,1,#FALSE#,3,0\r\n");
    }
    void writtenForms() {
        QFETCH(Settings, settings);
        QFETCH(QByteArray, line);
        QCOMPARE(settingsfile::format(settings), line);
        Settings back = sentinel();
        settingsfile::parse(line, back);
        QVERIFY(back == settings);
    }

    void roundTripsExtremeValues() {
        for (double delay : {0.0, 1e-7, 123456.789, 1e300, -1e-300, 3.0}) {
            Settings s;
            s.CornerDelay = delay;
            s.SpiralWidth = -32768;
            Settings back = sentinel();
            settingsfile::parse(settingsfile::format(s), back);
            QCOMPARE(back.CornerDelay, delay);
            QVERIFY(back == s);
        }
    }

    void tolerantReading_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("spaces and tabs around fields")
            << QByteArray(" 7 ,\t6, 7 ,6 , \"1\" ,100,100,8,8,1, #FALSE# ,3, 0 \r\n");
        QTest::newRow("one field per line, CR LF") << QByteArray(
            "7\r\n6\r\n7\r\n6\r\n\"1\"\r\n100\r\n100\r\n8\r\n8\r\n1\r\n#FALSE#\r\n3\r\n0\r\n");
        QTest::newRow("LF line ends") << QByteArray("7,6,7,6,\"1\",100,100\n8,8,1,#FALSE#,3,0\n");
        QTest::newRow("CR line ends") << QByteArray("7,6,7,6,\"1\",100,100\r8,8,1,#FALSE#,3,0\r");
        QTest::newRow("no final line end") << QByteArray("7,6,7,6,\"1\",100,100,8,8,1,#FALSE#,3,0");
        QTest::newRow("leading zero and plus signs")
            << QByteArray("+7,6,7,6,\"1\",100.0,1e2,8,8,1,#FALSE#,3,0.0\r\n");
        QTest::newRow("Boolean in other case")
            << QByteArray("7,6,7,6,\"1\",100,100,8,8,1,#false#,3,0\r\n");
        QTest::newRow("byte-order mark")
            << QByteArray("\xEF\xBB\xBF"
                          "7,6,7,6,\"1\",100,100,8,8,1,#FALSE#,3,0\r\n");
        QTest::newRow("unquoted port text")
            << QByteArray("7,6,7,6,1,100,100,8,8,1,#FALSE#,3,0\r\n");
        QTest::newRow("more after the 13th field")
            << QByteArray("7,6,7,6,\"1\",100,100,8,8,1,#FALSE#,3,0,99\r\nsecond line\r\n");
    }
    void tolerantReading() {
        QFETCH(QByteArray, data);
        Settings s = sentinel();
        settingsfile::parse(data, s);
        QVERIFY(s == Settings{});
    }

    void delayWithAndWithoutLeadingZero() {
        for (const QByteArray& d : {QByteArray(".5"), QByteArray("0.5"), QByteArray("5e-1")}) {
            Settings s;
            settingsfile::parse("7,6,7,6,\"1\",100,100,8,8,1,#TRUE#,3," + d + "\r\n", s);
            QCOMPARE(s.CornerDelay, 0.5);
            QVERIFY(s.OnTop);
        }
    }

    void tooSmallForADoubleReadsAsZero() {
        Settings s = sentinel();
        settingsfile::parse("7,6,7,6,\"1\",100,100,8,8,1,#FALSE#,1e-400,-1e-400", s);
        QCOMPARE(s.SpiralWidth, int16_t(0));
        QCOMPARE(s.CornerDelay, 0.0);
        QVERIFY(!std::signbit(s.CornerDelay)); // saved again as "0", not "-0"
        QCOMPARE(settingsfile::format(s), QByteArray("7,6,7,6,\"1\",100,100,8,8,1,#FALSE#,0,0\r\n"));
    }

    void integersRoundHalfToEven() {
        Settings s;
        settingsfile::parse("6.5,6.5000001,7,6,\"1\",100.5,101.5,8,8,1,#FALSE#,2.5,0", s);
        QCOMPARE(s.UpMessage, int16_t(6));
        QCOMPARE(s.DownMessage, int16_t(7));
        QCOMPARE(s.FormTop, 100);
        QCOMPARE(s.FormLeft, 102);
        QCOMPARE(s.SpiralWidth, int16_t(2));
    }

    // Each damaged line stops at its first bad field: the fields before it are read, that one
    // and all after it keep what they held.
    void damagedLines_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("errorNumber");
        QTest::addColumn<int>("fieldsRead");
        QTest::newRow("empty file") << QByteArray() << 62 << 0;
        QTest::newRow("blank line") << QByteArray("\r\n") << 13 << 0;
        QTest::newRow("ends after field 7") << QByteArray("7,6,7,6,\"1\",100,100\r\n") << 62 << 7;
        QTest::newRow("ends after field 12")
            << QByteArray("7,6,7,6,\"1\",100,100,8,8,1,#FALSE#,3,") << 62 << 12;
        QTest::newRow("empty field")
            << QByteArray("7,,7,6,\"1\",100,100,8,8,1,#FALSE#,3,0") << 13 << 1;
        QTest::newRow("text in a number")
            << QByteArray("7,6,7,6,\"1\",top,100,8,8,1,#FALSE#,3,0") << 13 << 5;
        QTest::newRow("number with trailing junk")
            << QByteArray("7,6,7,6,\"1\",100,100px,8,8,1,#FALSE#,3,0") << 13 << 6;
        QTest::newRow("decimal comma")
            << QByteArray("7,6,7,6,\"1\",100,100,8,8,1,#FALSE#,3,0,5") << 0 << 13;
        QTest::newRow("quoted number")
            << QByteArray("\"7\",6,7,6,\"1\",100,100,8,8,1,#FALSE#,3,0") << 13 << 0;
        QTest::newRow("16-bit overflow")
            << QByteArray("32768,6,7,6,\"1\",100,100,8,8,1,#FALSE#,3,0") << 6 << 0;
        QTest::newRow("32-bit overflow")
            << QByteArray("7,6,7,6,\"1\",2147483648,100,8,8,1,#FALSE#,3,0") << 6 << 5;
        QTest::newRow("huge exponent")
            << QByteArray("7,6,7,6,\"1\",100,100,8,8,1,#FALSE#,3,1e999") << 6 << 12;
        QTest::newRow("rate position past the list")
            << QByteArray("7,6,7,6,\"1\",100,100,14,8,1,#FALSE#,3,0") << 380 << 7;
        QTest::newRow("negative rate position")
            << QByteArray("7,6,7,6,\"1\",100,100,8,-1,1,#FALSE#,3,0") << 380 << 8;
        QTest::newRow("tracking position past the list")
            << QByteArray("7,6,7,6,\"1\",100,100,8,8,4,#FALSE#,3,0") << 380 << 9;
        QTest::newRow("Boolean as word")
            << QByteArray("7,6,7,6,\"1\",100,100,8,8,1,True,3,0") << 13 << 10;
        QTest::newRow("Boolean as number")
            << QByteArray("7,6,7,6,\"1\",100,100,8,8,1,-1,3,0") << 13 << 10;
        QTest::newRow("unclosed quote")
            << QByteArray("7,6,7,6,\"1,100,100,8,8,1,#FALSE#,3,0") << 62 << 4;
        QTest::newRow("junk after the quote")
            << QByteArray("7,6,7,6,\"1\"x,100,100,8,8,1,#FALSE#,3,0") << 13 << 4;
        QTest::newRow("line end inside quotes")
            << QByteArray("7,6,7,6,\"1\r\n\",100,100,8,8,1,#FALSE#,3,0") << 13 << 4;
        QTest::newRow("quote inside unquoted text")
            << QByteArray("7,6,7,6,a\"b,100,100,8,8,1,#FALSE#,3,0") << 13 << 4;
        QTest::newRow("binary garbage") << QByteArray("\x00\x01\xFF\xFE garbage", 12) << 13 << 0;
        // A direction code is a motor message id: only the two that move an axis are taken.
        QTest::newRow("direction code 2")
            << QByteArray("2,6,7,6,\"1\",100,100,8,8,1,#FALSE#,3,0") << 380 << 0;
        QTest::newRow("direction code 0")
            << QByteArray("7,0,7,6,\"1\",100,100,8,8,1,#FALSE#,3,0") << 380 << 1;
        QTest::newRow("direction code 300")
            << QByteArray("7,6,300,6,\"1\",100,100,8,8,1,#FALSE#,3,0") << 380 << 2;
        QTest::newRow("direction code -6")
            << QByteArray("7,6,7,-6,\"1\",100,100,8,8,1,#FALSE#,3,0") << 380 << 3;
        QTest::newRow("direction code 7.6 rounds to 8")
            << QByteArray("7,6,7,7.6,\"1\",100,100,8,8,1,#FALSE#,3,0") << 380 << 3;
        QTest::newRow("400 nines")
            << QByteArray("7,6,7,6,\"1\",100,100,8,8,1,#FALSE#," + QByteArray(400, '9') + ",0")
            << 6 << 11;
        QTest::newRow("not a number: nan")
            << QByteArray("7,6,7,6,\"1\",100,100,8,8,1,#FALSE#,3,nan") << 13 << 12;
    }
    void damagedLines() {
        QFETCH(QByteArray, data);
        QFETCH(int, errorNumber);
        QFETCH(int, fieldsRead);
        Settings s = sentinel();
        int number = 0;
        QString text;
        try {
            settingsfile::parse(data, s);
        } catch (const VbError& e) {
            number = e.number;
            text = e.text();
        }
        QCOMPARE(number, errorNumber);
        if (errorNumber != 0) {
            QVERIFY2(text.contains(QStringLiteral("field %1").arg(fieldsRead + 1)),
                     qPrintable(text));
            QVERIFY(text.endsWith(QStringLiteral(" - %1").arg(errorNumber)));
        }
        // Compare field by field against "read" (default values in the data) or "left alone".
        const Settings d;
        const Settings k = sentinel();
        auto pick = [&](int field, auto readValue, auto keptValue) {
            return field < fieldsRead ? readValue : keptValue;
        };
        QCOMPARE(s.UpMessage, pick(0, d.UpMessage, k.UpMessage));
        QCOMPARE(s.CommPortText, pick(4, d.CommPortText, k.CommPortText));
        QCOMPARE(s.FormTop, pick(5, d.FormTop, k.FormTop));
        QCOMPARE(s.FormLeft, pick(6, d.FormLeft, k.FormLeft));
        QCOMPARE(s.AltRateIndex, pick(7, d.AltRateIndex, k.AltRateIndex));
        QCOMPARE(s.TrackModeIndex, pick(9, d.TrackModeIndex, k.TrackModeIndex));
        QCOMPARE(s.OnTop, pick(10, d.OnTop, k.OnTop));
        QCOMPARE(s.SpiralWidth, pick(11, d.SpiralWidth, k.SpiralWidth));
        QCOMPARE(s.CornerDelay, pick(12, d.CornerDelay, k.CornerDelay));
    }

    void enormousFileIsBoundedAndReported() {
        QTemporaryDir dir;
        const QString path = dir.filePath(SettingsLocation::FileName);
        // A port text that never closes within the read limit.
        writeFile(path, "7,6,7,6,\"" + QByteArray(4 * 1024 * 1024, 'x') +
                            "\",100,100,8,8,1,#FALSE#,3,0\r\n");
        Settings s = sentinel();
        try {
            loadSettings(path, s);
            QFAIL("no error");
        } catch (const VbError& e) {
            QCOMPARE(e.number, 13);
        }
        QCOMPARE(s.RightMessage, int16_t(6));
        QCOMPARE(s.CommPortText, sentinel().CommPortText);

        // A good line followed by a mountain of junk still reads: the fields end well inside.
        writeFile(path, settingsfile::format(Settings{}) + QByteArray(1024 * 1024, 'j'));
        s = sentinel();
        loadSettings(path, s);
        QVERIFY(s == Settings{});
    }

    void locationPrefersTheProgramFolder() {
        QTemporaryDir program, user;
        const SettingsLocation loc(program.path(), user.path());
        QCOMPARE(loc.writeDir(), program.path());
        QCOMPARE(loc.readPath(), QString());
        writeFile(QDir(user.path()).filePath(SettingsLocation::FileName), "user");
        QCOMPARE(loc.readPath(), QDir(user.path()).filePath(SettingsLocation::FileName));
        writeFile(QDir(program.path()).filePath(SettingsLocation::FileName), "program");
        QCOMPARE(loc.readPath(), QDir(program.path()).filePath(SettingsLocation::FileName));
    }

    void locationFallsBackWhereTheProgramFolderCannotBeWritten() {
        QTemporaryDir tmp;
        // A "folder" that is a file cannot take a settings file (as root, permissions would not
        // stop a write; this can be relied on).
        const QString notADir = tmp.filePath(QStringLiteral("program"));
        writeFile(notADir, "");
        const QString user = tmp.filePath(QStringLiteral("user/config/skyjog"));
        const SettingsLocation loc(notADir, user);
        QCOMPARE(loc.writeDir(), user);
        QCOMPARE(loc.readPath(), QString());
        saveSettings(loc.writePath(), sentinel()); // creates the missing folders
        QCOMPARE(loc.readPath(), QDir(user).filePath(SettingsLocation::FileName));
        Settings back;
        loadSettings(loc.readPath(), back);
        QVERIFY(back == sentinel());
    }

    // The folder an installation put the program in is no place for settings, whoever runs it
    // (root can write /usr/bin), however the path names it.
    void anInstalledProgramKeepsNoSettingsBesideIt() {
        QTemporaryDir root;
        const QString bin = QDir(root.path()).filePath(QStringLiteral("usr/bin"));
        QVERIFY(QDir().mkpath(bin));
        const QString alias = QDir(root.path()).filePath(QStringLiteral("bin"));
        QVERIFY(QFile::link(bin, alias));
        const QStringList installed{QStringLiteral("/nonexistent/bin"), bin};
        QCOMPARE(SettingsLocation::settingsProgramDir(bin, installed), QString());
        QCOMPARE(SettingsLocation::settingsProgramDir(alias, installed), QString());
        QCOMPARE(SettingsLocation::settingsProgramDir(root.path(), installed), root.path());
        QCOMPARE(SettingsLocation::settingsProgramDir(bin, {}), bin);
        const SettingsLocation loc(SettingsLocation::settingsProgramDir(bin, installed), root.path());
        QCOMPARE(loc.writeDir(), root.path());
    }

    void saveReplacesTheWholeFile() {
        QTemporaryDir dir;
        const QString path = dir.filePath(SettingsLocation::FileName);
        writeFile(path, QByteArray(500, 'o')); // longer than the new line
        saveSettings(path, Settings{});
        QCOMPARE(readFile(path), settingsfile::format(Settings{}));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{SettingsLocation::FileName});
    }

    void failingSaveLeavesThePreviousFile() {
        QTemporaryDir dir;
        const QString path = dir.filePath(SettingsLocation::FileName);
        const QByteArray previous = settingsfile::format(sentinel());
        writeFile(path, previous);

#ifdef Q_OS_LINUX
        // The disk "fills up" half-way through the line.
        struct rlimit old {};
        getrlimit(RLIMIT_FSIZE, &old);
        auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit tiny = old;
        tiny.rlim_cur = 10;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &tiny), 0);
        int number = 0;
        try {
            saveSettings(path, Settings{});
        } catch (const VbError& e) {
            number = e.number;
        }
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
        QCOMPARE(number, 57);
        QCOMPARE(readFile(path), previous);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{SettingsLocation::FileName});
#endif
        // A path whose folder is a file cannot be created at all.
        int mkpathError = 0;
        try {
            saveSettings(path + QStringLiteral("/") + SettingsLocation::FileName, Settings{});
        } catch (const VbError& e) {
            mkpathError = e.number;
        }
        QCOMPARE(mkpathError, 76);
        QCOMPARE(readFile(path), previous);
    }
};

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "test_settingsfile.moc"
