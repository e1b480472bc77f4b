#include "preferences.h"

#include <QDir>
#include <QFileInfo>

namespace skyjog {

Preferences::Preferences(const QString& userDir)
    : settings_(QDir(userDir).filePath(FileName), QSettings::IniFormat) {}

QVariant Preferences::value(const QString& key, const QVariant& fallback) const {
    const QVariant v = settings_.value(key);
    if (!v.isValid()) return fallback;
    // The file holds text: a value is taken only if it reads as the fallback's kind.
    if (fallback.isValid() && !v.canConvert(fallback.metaType())) return fallback;
    if (fallback.isValid()) {
        QVariant converted = v;
        if (!converted.convert(fallback.metaType())) return fallback;
        return converted;
    }
    return v;
}

void Preferences::setValue(const QString& key, const QVariant& value) {
    settings_.setValue(key, value);
}

bool Preferences::save(QString* why) {
    QDir().mkpath(QFileInfo(settings_.fileName()).absolutePath());
    settings_.sync();
    if (settings_.status() == QSettings::NoError) return true;
    if (why)
        *why = settings_.status() == QSettings::AccessError
                   ? QStringLiteral("%1 cannot be written").arg(settings_.fileName())
                   : QStringLiteral("%1 is damaged").arg(settings_.fileName());
    return false;
}

} // namespace skyjog
