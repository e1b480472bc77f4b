#pragma once
// The settings file: one line of 13 comma-separated fields, read at start-up and written at
// shutdown. Writing is byte-exact; reading is tolerant of what a person might do to the line by
// hand (spaces, line breaks between fields, "0.5" for ".5") but reports anything it cannot take.
#include "commands.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>

namespace skyjog {

struct Settings {
    int16_t UpMessage = cmd::MsgSlewNegative;
    int16_t DownMessage = cmd::MsgSlewPositive;
    int16_t LeftMessage = cmd::MsgSlewNegative;
    int16_t RightMessage = cmd::MsgSlewPositive;
    QString CommPortText = QStringLiteral("1");
    int32_t FormTop = 100; // twips
    int32_t FormLeft = 100;
    int16_t AltRateIndex = 8;
    int16_t AzRateIndex = 8;
    int16_t TrackModeIndex = 1;
    bool OnTop = false;
    int16_t SpiralWidth = 3;
    double CornerDelay = 0;

    bool operator==(const Settings&) const = default;
};

namespace settingsfile {

inline constexpr int FieldCount = 13;
// Entries in the two rate lists and the tracking list; a stored position outside them is damage.
inline constexpr int RateCount = 14;
inline constexpr int TrackModeCount = 4;
// A settings line is well under 1 KiB; anything this long is not one.
inline constexpr qint64 MaxBytes = 64 * 1024;

// The line with its CR LF, exactly as it goes into the file.
QByteArray format(const Settings& s);

// Reads the fields in order into s. At the first field that is missing or does not convert it
// throws VbError; the fields before it have been read, that field and the rest are untouched.
// truncated: data is the first MaxBytes of a longer file, so a field that runs into its end is
// cut off rather than complete.
void parse(const QByteArray& data, Settings& s, bool truncated = false);

} // namespace settingsfile

// Where the settings file lives. The program's own folder comes first; where that cannot be
// written (an installed program) the user's configuration folder takes its place.
class SettingsLocation {
public:
    static inline const QString FileName = QStringLiteral("Skyjogger.ini");

    SettingsLocation(QString programDir, QString userDir);
    // The executable's folder and the user's configuration folder for this program.
    static SettingsLocation standard();
    // The executable's folder as a place for the settings, or empty where it is no such place:
    // inside a macOS application bundle, or the folder an installation put the program in.
    static QString settingsProgramDir(const QString& programDir, const QStringList& installDirs);

    const QString& programDir() const { return programDir_; }
    const QString& userDir() const { return userDir_; }
    // The folder saving goes to: the program's folder if it can be written, else the user's.
    QString writeDir() const;
    QString writePath() const;
    // The file to read: the one where saving goes if it is there, otherwise the one in the other
    // folder; empty when there is none. Preferring the save folder keeps a read-only copy beside
    // an installed program from hiding the user's own saved settings.
    QString readPath() const;

private:
    QString programDir_;
    QString userDir_;
};

// Reads the file at path into s (see settingsfile::parse); throws VbError when the file cannot
// be read or is damaged, with the fields read before the damage already in s.
void loadSettings(const QString& path, Settings& s);

// Writes the file through a temporary file that replaces the old one only when complete, so a
// failed save leaves the previous settings as they were. Creates the folder if needed.
// Throws VbError on failure.
void saveSettings(const QString& path, const Settings& s);

} // namespace skyjog
