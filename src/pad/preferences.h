#pragma once
// What the user chooses beyond the thirteen fields of Skyjogger.ini (a game controller, the
// night look, where the position window stands). Earlier files, and other copies of the program,
// read that line as it is: these choices live in a file of their own, in the user's
// configuration folder, whatever folder the line itself is kept in.
#include <QSettings>
#include <QString>
#include <QVariant>

namespace skyjog {

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

private:
    QSettings settings_;
};

} // namespace skyjog
