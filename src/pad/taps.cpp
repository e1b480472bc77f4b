#include "taps.h"

#include "motion.h"
#include "preferences.h"

#include <QAction>
#include <QInputDialog>
#include <algorithm>
#include <optional>

namespace skyjog {

namespace {

int keptLength(const Preferences& prefs) {
    return std::clamp(prefs.get(Pref::TapLength).toInt(), MinTapMs, MaxTapMs);
}

void show(QAction* entry, const Motion& motion) {
    const std::optional<int> ms = motion.tapLength();
    entry->setChecked(ms.has_value());
    entry->setText(ms ? QStringLiteral("Repeatable &Taps (%1 ms)").arg(*ms)
                      : QStringLiteral("Repeatable &Taps"));
}

} // namespace

void wireRepeatableTaps(QAction* entry, QWidget* parent, Preferences& prefs, Motion& motion,
                        std::function<void()> save) {
    if (prefs.get(Pref::TapsEnabled).toBool()) motion.setTapLength(keptLength(prefs));
    show(entry, motion);
    QObject::connect(entry, &QAction::triggered, parent, [=, &prefs, &motion](bool on) {
        std::optional<int> ms;
        if (on) {
            bool ok = false;
            const int chosen = QInputDialog::getInt(
                parent, QStringLiteral("Repeatable Taps"),
                QStringLiteral("A press shorter than this moves the mount for this long (ms):"),
                keptLength(prefs), MinTapMs, MaxTapMs, 10, &ok);
            if (ok) ms = chosen;
        }
        motion.setTapLength(ms);
        show(entry, motion);
        prefs.set(Pref::TapsEnabled, ms.has_value());
        if (ms) prefs.set(Pref::TapLength, *ms);
        save();
    });
}

} // namespace skyjog
