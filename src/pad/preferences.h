#pragma once
// What the user chooses beyond the thirteen fields of Skyjogger.ini (a game controller, the
// night look, where the position window stands). Earlier files, and other copies of the program,
// read that line as it is: these choices live in a file of their own, in the user's
// configuration folder, whatever folder the line itself is kept in.
#include <QSettings>
#include <QString>
#include <QVariant>

namespace skyjog {

// Every choice the file keeps; its key and its default are in one table (preferences.cpp).
enum class Pref {
    NightVision,
    PositionX,
    PositionY,
    PositionOpen,
    ControllerEnabled,
    ControllerDeadZone, // percent of full deflection
    ControllerMapping,  // one per controller, under its GUID
    TapsEnabled,
    TapLength, // ms
    ShareEnabled,
    ShareAddress, // where other programs connect: 127.0.0.1 unless the user opened it wider
    SharePort,
};

class Preferences {
public:
    static inline const QString FileName = QStringLiteral("Skyjog.conf");

    explicit Preferences(const QString& userDir);

    QString path() const { return settings_.fileName(); }
    // A value the file does not hold, or holds in a form that is not one, is the fallback.
    QVariant value(const QString& key, const QVariant& fallback = {}) const;
    void setValue(const QString& key, const QVariant& value);
    // Writes what changed; false (and why) when the file cannot be written.
    bool save(QString* why = nullptr);

    // A choice of the table, or its default; a choice kept per thing (a controller's mapping)
    // names that thing in sub.
    QVariant get(Pref p, const QString& sub = {}) const;
    bool contains(Pref p, const QString& sub = {}) const;
    // Sets a choice, and leaves the file as it is when it already holds that value, so that an
    // unchanged file is never written. Does not save.
    void set(Pref p, const QVariant& value, const QString& sub = {});
    static QString keyOf(Pref p, const QString& sub = {});
    static QVariant defaultOf(Pref p);

private:
    QSettings settings_;
};

} // namespace skyjog
