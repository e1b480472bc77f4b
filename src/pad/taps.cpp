#include "taps.h"

#include "motion.h"
#include "preferences.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <algorithm>
#include <optional>

namespace skyjog {

namespace {

// The lengths offered, besides one kept that is none of them (set in the file by hand).
constexpr int Offered[] = {50, 100, 150, 250, 400, 600, 1000, 2000};

QString lengthText(int ms) {
    return QStringLiteral("%1 ms").arg(ms);
}

} // namespace

void wireRepeatableTaps(QAction* entry, QWidget* parent, Preferences& prefs, Motion& motion,
                        std::function<void()> save) {
    // A submenu rather than a box: a modal box would stop a spiral's clock, and a pick in the
    // dark is one click.
    auto* menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("mnuTapLengths"));
    auto* group = new QActionGroup(menu);
    const auto add = [&](const QString& text, std::optional<int> ms) {
        QAction* a = menu->addAction(text);
        a->setCheckable(true);
        a->setData(ms ? QVariant(*ms) : QVariant());
        group->addAction(a);
        return a;
    };
    add(QStringLiteral("&Off"), std::nullopt);
    menu->addSeparator();
    const int kept = std::clamp(prefs.get(Pref::TapLength).toInt(), MinTapMs, MaxTapMs);
    for (int ms : Offered)
        add(lengthText(ms), ms);
    if (std::find(std::begin(Offered), std::end(Offered), kept) == std::end(Offered))
        add(lengthText(kept), kept);
    entry->setMenu(menu);

    if (prefs.get(Pref::TapsEnabled).toBool()) motion.setTapLength(kept);
    const auto show = [=, &motion] {
        const std::optional<int> on = motion.tapLength();
        for (QAction* a : group->actions())
            if (a->data().isValid() ? on && a->data().toInt() == *on : !on) a->setChecked(true);
    };
    show();
    QObject::connect(group, &QActionGroup::triggered, menu, [=, &prefs, &motion](QAction* a) {
        const std::optional<int> ms =
            a->data().isValid() ? std::optional<int>(a->data().toInt()) : std::nullopt;
        motion.setTapLength(ms);
        show();
        prefs.set(Pref::TapsEnabled, ms.has_value());
        if (ms) prefs.set(Pref::TapLength, *ms);
        save();
    });
}

} // namespace skyjog
