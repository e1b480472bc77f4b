#include "preferences.h"

#include <QDir>
#include <QFileInfo>
#include <array>

namespace skyjog {

namespace {

struct PrefEntry {
    Pref pref;
    const char* key;
    QVariant fallback;
};
// In the order of Pref.
const std::array<PrefEntry, 12> Table = {{
    {Pref::NightVision, "view/nightVision", false},
    {Pref::PositionX, "position/x", 0},
    {Pref::PositionY, "position/y", 0},
    {Pref::PositionOpen, "position/open", false},
    {Pref::ControllerEnabled, "controller/enabled", true},
    {Pref::ControllerDeadZone, "controller/deadZone", 50},
    // Empty: the mapping every controller starts with.
    {Pref::ControllerMapping, "controller/mapping", QString()},
    {Pref::TapsEnabled, "taps/enabled", false},
    {Pref::TapLength, "taps/lengthMs", 250},
    {Pref::ShareEnabled, "share/enabled", false},
    {Pref::ShareAddress, "share/address", QStringLiteral("127.0.0.1")},
    {Pref::SharePort, "share/port", 4030},
}};

const PrefEntry& entry(Pref p) {
    return Table[size_t(p)];
}

} // namespace

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

QString Preferences::keyOf(Pref p, const QString& sub) {
    const QString key = QLatin1String(entry(p).key);
    return sub.isEmpty() ? key : key + QLatin1Char('/') + sub;
}

QVariant Preferences::defaultOf(Pref p) {
    return entry(p).fallback;
}

QVariant Preferences::get(Pref p, const QString& sub) const {
    return value(keyOf(p, sub), entry(p).fallback);
}

bool Preferences::contains(Pref p, const QString& sub) const {
    return settings_.contains(keyOf(p, sub));
}

void Preferences::set(Pref p, const QVariant& v, const QString& sub) {
    const QString key = keyOf(p, sub);
    if (settings_.contains(key) && value(key, v) == v) return;
    settings_.setValue(key, v);
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
