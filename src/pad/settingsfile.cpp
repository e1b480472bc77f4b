#include "settingsfile.h"

#include "commands.h"
#include "convert.h"
#include "vberror.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringDecoder>

#if defined(Q_OS_WIN) && QT_VERSION < QT_VERSION_CHECK(6, 6, 0)
Q_CORE_EXPORT extern int qt_ntfs_permission_lookup;
#endif

namespace skyjog {

namespace settingsfile {

namespace {

const char* const FieldNames[FieldCount] = {
    "UpMessage", "DownMessage", "LeftMessage",  "RightMessage", "CommPortText",
    "FormTop",   "FormLeft",    "AltRateIndex", "AzRateIndex",  "TrackModeIndex",
    "OnTop",     "SpiralWidth", "CornerDelay",
};

QString where(int field) {
    return QStringLiteral(" (%1, field %2: %3)")
        .arg(SettingsLocation::FileName)
        .arg(field + 1)
        .arg(QLatin1String(FieldNames[field]));
}

VbError pastEnd(int field) {
    return err::inputPastEnd(where(field));
}
VbError mismatch(int field) {
    return err::typeMismatch(where(field));
}
VbError overflow(int field) {
    return err::overflow(where(field));
}
VbError tooLong(int field) {
    return err::typeMismatch(where(field).chopped(1) +
                             QStringLiteral("; the file is longer than %1 bytes)").arg(MaxBytes));
}
VbError outOfRange(int field) {
    return err::invalidPropertyValue(where(field));
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}
bool isLineEnd(char c) {
    return c == '\r' || c == '\n';
}

// Splits the data into fields the way they were written: a comma or a line end (CR LF, CR or
// LF) ends a field, blanks around a field do not count, a field that opens with a double quote
// runs to the next double quote.
class Reader {
public:
    Reader(const QByteArray& data, bool truncated) : d_(data), truncated_(truncated) {
        if (d_.startsWith("\xEF\xBB\xBF")) pos_ = 3; // a byte-order mark left by an editor
    }

    struct Field {
        QByteArray text;
        bool quoted = false;
        int index = 0;
    };

    Field next() {
        const int field = index_++;
        skipBlanks();
        if (pos_ >= d_.size()) throw pastEnd(field);
        Field f;
        f.index = field;
        if (d_[pos_] == '"') {
            const qsizetype close = d_.indexOf('"', pos_ + 1);
            if (close < 0) throw truncated_ ? tooLong(field) : pastEnd(field);
            f.text = d_.mid(pos_ + 1, close - pos_ - 1);
            f.quoted = true;
            pos_ = close + 1;
            skipBlanks();
            if (pos_ < d_.size() && !isSeparator(d_[pos_])) throw mismatch(field);
        } else {
            const qsizetype start = pos_;
            while (pos_ < d_.size() && !isSeparator(d_[pos_]))
                ++pos_;
            f.text = d_.mid(start, pos_ - start).trimmed();
        }
        // A field that runs into the read limit may go on beyond it.
        if (truncated_ && pos_ >= d_.size()) throw tooLong(field);
        consumeSeparator();
        return f;
    }

private:
    static bool isSeparator(char c) { return c == ',' || isLineEnd(c); }
    void skipBlanks() {
        while (pos_ < d_.size() && isBlank(d_[pos_]))
            ++pos_;
    }
    void consumeSeparator() {
        if (pos_ >= d_.size()) return;
        if (d_[pos_] == '\r' && pos_ + 1 < d_.size() && d_[pos_ + 1] == '\n')
            pos_ += 2;
        else
            ++pos_;
    }

    const QByteArray& d_;
    bool truncated_;
    qsizetype pos_ = 0;
    int index_ = 0;
};

double number(const Reader::Field& f) {
    const int field = f.index;
    static const QRegularExpression re(
        QStringLiteral(R"(^[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?$)"));
    const QString t = QString::fromLatin1(f.text);
    if (f.quoted || !re.match(t).hasMatch()) throw mismatch(field);
    try {
        return conv::textToDouble(t, QLocale::c());
    } catch (const VbError& e) {
        throw e.number == err::Overflow ? overflow(field) : mismatch(field);
    }
}

// A whole-number field: the number rounded as every conversion rounds, its range the type's.
template <typename T, T (*convert)(double)> T wholeField(const Reader::Field& f) {
    const double v = number(f);
    try {
        return convert(v);
    } catch (const VbError&) {
        throw overflow(f.index);
    }
}
int16_t int16Field(const Reader::Field& f) {
    return wholeField<int16_t, conv::toInt16>(f);
}
int32_t int32Field(const Reader::Field& f) {
    return wholeField<int32_t, conv::toInt32>(f);
}

int16_t indexField(const Reader::Field& f, int count) {
    const int16_t v = int16Field(f);
    if (v < 0 || v >= count) throw outOfRange(f.index);
    return v;
}

// An arrow's message id: one of the two that move an axis. Any other would go out as a motor
// message of another kind, or as no byte at all.
int16_t directionField(const Reader::Field& f) {
    const int16_t v = int16Field(f);
    if (v != cmd::MsgSlewPositive && v != cmd::MsgSlewNegative) throw outOfRange(f.index);
    return v;
}

bool boolField(const Reader::Field& f) {
    if (!f.quoted) {
        if (f.text.compare("#TRUE#", Qt::CaseInsensitive) == 0) return true;
        if (f.text.compare("#FALSE#", Qt::CaseInsensitive) == 0) return false;
    }
    throw mismatch(f.index);
}

QString textField(const Reader::Field& f) {
    // The port box never holds a quote or a control character; one here means damage.
    for (char c : f.text)
        if (c == '"' || (uchar(c) < 0x20)) throw mismatch(f.index);
    // Read as it stands: QString::fromUtf8 drops a byte-order mark at the start of the text, so
    // a port text that began with one would change each time the file is written and read.
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom);
    return utf8(f.text);
}

} // namespace

QByteArray format(const Settings& s) {
    QByteArray out;
    const auto num = [&out](qint64 v) { out += QByteArray::number(v) + ','; };
    num(s.UpMessage);
    num(s.DownMessage);
    num(s.LeftMessage);
    num(s.RightMessage);
    out += '"' + s.CommPortText.toUtf8() + "\",";
    num(s.FormTop);
    num(s.FormLeft);
    num(s.AltRateIndex);
    num(s.AzRateIndex);
    num(s.TrackModeIndex);
    out += s.OnTop ? "#TRUE#," : "#FALSE#,";
    num(s.SpiralWidth);
    out += conv::formatShortest(s.CornerDelay).toLatin1();
    out += "\r\n";
    return out;
}

void parse(const QByteArray& data, Settings& s, bool truncated) {
    Reader r(data, truncated);
    s.UpMessage = directionField(r.next());
    s.DownMessage = directionField(r.next());
    s.LeftMessage = directionField(r.next());
    s.RightMessage = directionField(r.next());
    s.CommPortText = textField(r.next());
    s.FormTop = int32Field(r.next());
    s.FormLeft = int32Field(r.next());
    s.AltRateIndex = indexField(r.next(), RateCount);
    s.AzRateIndex = indexField(r.next(), RateCount);
    s.TrackModeIndex = indexField(r.next(), TrackModeCount);
    s.OnTop = boolField(r.next());
    s.SpiralWidth = int16Field(r.next());
    s.CornerDelay = number(r.next());
}

} // namespace settingsfile

SettingsLocation::SettingsLocation(QString programDir, QString userDir)
    : programDir_(std::move(programDir)), userDir_(std::move(userDir)) {}

QString SettingsLocation::settingsProgramDir(const QString& programDir,
                                             const QStringList& installDirs) {
    if (programDir.isEmpty()) return {};
#ifdef Q_OS_MACOS
    // The executable's folder in an application bundle is part of the bundle, whose signature a
    // file written there would break: a bundle is an installed program wherever it lies.
    if (programDir.endsWith(QLatin1String(".app/Contents/MacOS"))) return {};
#endif
    // The folder an installation puts the program in belongs to the system. Root may write it,
    // and a user who starts Skyjog with sudo to reach a serial port would leave the settings
    // there, apart from the ones kept when running as themselves.
    const QString here = QFileInfo(programDir).canonicalFilePath();
    for (const QString& dir : installDirs)
        if (!here.isEmpty() && here == QFileInfo(dir).canonicalFilePath()) return {};
    return programDir;
}

SettingsLocation SettingsLocation::standard() {
    QStringList installDirs;
#if defined(SKYJOG_INSTALL_BINDIR) && defined(SKYJOG_PACKAGE_BINDIR)
    installDirs << QStringLiteral(SKYJOG_INSTALL_BINDIR) << QStringLiteral(SKYJOG_PACKAGE_BINDIR);
#endif
    return SettingsLocation(
        settingsProgramDir(QCoreApplication::applicationDirPath(), installDirs),
        QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation));
}

namespace {
bool isWritableDir(const QFileInfo& dir) {
#ifdef Q_OS_WIN
    // Qt answers from the read-only attribute alone unless it is told to read the folder's
    // permissions, and a folder under Program Files has no such attribute although a user may
    // not write there.
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
    const QNtfsPermissionCheckGuard readPermissions;
    return dir.isDir() && dir.isWritable();
#else
    ++qt_ntfs_permission_lookup;
    const bool writable = dir.isDir() && dir.isWritable();
    --qt_ntfs_permission_lookup;
    return writable;
#endif
#else
    return dir.isDir() && dir.isWritable();
#endif
}
} // namespace

QString SettingsLocation::writeDir() const {
    if (!programDir_.isEmpty() && isWritableDir(QFileInfo(programDir_))) return programDir_;
    return userDir_;
}

QString SettingsLocation::writePath() const {
    return QDir(writeDir()).filePath(FileName);
}

QString SettingsLocation::readPath() const {
    const QString first = writeDir();
    const QString second = first == programDir_ ? userDir_ : programDir_;
    for (const QString& dir : {first, second}) {
        if (dir.isEmpty()) continue;
        const QString path = QDir(dir).filePath(FileName);
        if (QFileInfo(path).isFile()) return path;
    }
    return {};
}

void loadSettings(const QString& path, Settings& s) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) throw err::pathFileAccess(path, f.errorString());
    const QByteArray data = f.read(settingsfile::MaxBytes);
    const bool truncated = !f.atEnd();
    settingsfile::parse(data, s, truncated);
}

void saveSettings(const QString& path, const Settings& s) {
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath())) throw err::pathNotFound(info.absolutePath());
    QSaveFile f(path);
    const QByteArray line = settingsfile::format(s);
    // Unbuffered, so that write() reports a short write (a full disk, a file-size limit) instead of
    // a later flush passing it over and commit() installing a cut-off line.
    if (!f.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw err::pathFileAccess(path, f.errorString());
    if (f.write(line) != line.size() || !f.commit()) throw err::deviceIO(path, f.errorString());
}

} // namespace skyjog
