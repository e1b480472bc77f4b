#include "padmapping.h"

#include <algorithm>

namespace skyjog {

namespace {

// SDL's game-controller buttons in SDL's order, by SDL's own names (those stay the same from one
// SDL to the next, so they are what the file keeps) and by what the user reads.
struct ButtonName {
    const char* key;
    const char* label;
};
const std::array<ButtonName, PadMapping::ButtonCount> Buttons = {{
    {"a", "A"},
    {"b", "B"},
    {"x", "X"},
    {"y", "Y"},
    {"back", "Back"},
    {"guide", "Guide"},
    {"start", "Start"},
    {"leftstick", "Left stick press"},
    {"rightstick", "Right stick press"},
    {"leftshoulder", "Left shoulder"},
    {"rightshoulder", "Right shoulder"},
    {"dpup", "D-pad up"},
    {"dpdown", "D-pad down"},
    {"dpleft", "D-pad left"},
    {"dpright", "D-pad right"},
    {"misc1", "Misc"},
    {"paddle1", "Paddle 1"},
    {"paddle2", "Paddle 2"},
    {"paddle3", "Paddle 3"},
    {"paddle4", "Paddle 4"},
    {"touchpad", "Touchpad"},
}};
enum : int { A = 0, B = 1, Back = 4, LeftShoulder = 9, RightShoulder = 10, DPadUp = 11 };

struct ActionName {
    PadAction action;
    const char* key;
    const char* label;
};
const std::array<ActionName, 9> Actions = {{
    {PadAction::Up, "up", "Up"},
    {PadAction::Down, "down", "Down"},
    {PadAction::Left, "left", "Left"},
    {PadAction::Right, "right", "Right"},
    {PadAction::Spiral, "spiral", "Spiral"},
    {PadAction::AllStop, "allstop", "All-stop"},
    {PadAction::RateDown, "ratedown", "Rate down"},
    {PadAction::RateUp, "rateup", "Rate up"},
    {PadAction::Fastest, "fastest", "Fastest rate while held"},
}};
const std::array<const char*, 3> ArrowInputs = {"buttons", "stick", "both"};

const ActionName* findAction(PadAction a) {
    const auto it = std::find_if(Actions.begin(), Actions.end(),
                                 [a](const ActionName& n) { return n.action == a; });
    return it == Actions.end() ? nullptr : &*it;
}

} // namespace

QString actionName(PadAction a) {
    const ActionName* n = findAction(a);
    return n ? QString::fromLatin1(n->label) : QString();
}

QString buttonLabel(int button) {
    if (button < 0 || button >= PadMapping::ButtonCount) return QString();
    return QString::fromLatin1(Buttons[size_t(button)].label);
}

QString buttonKey(int button) {
    if (button < 0 || button >= PadMapping::ButtonCount) return QString();
    return QString::fromLatin1(Buttons[size_t(button)].key);
}

int buttonFromKey(const QString& key) {
    for (int i = 0; i < PadMapping::ButtonCount; ++i)
        if (key == QLatin1String(Buttons[size_t(i)].key)) return i;
    return -1;
}

PadMapping PadMapping::standard() {
    PadMapping m;
    for (int i = 0; i < 4; ++i)
        m.buttons[size_t(DPadUp + i)] = PadActions[size_t(i)];
    m.buttons[A] = PadAction::Spiral;
    m.buttons[B] = PadAction::AllStop;
    m.buttons[Back] = PadAction::AllStop;
    m.buttons[LeftShoulder] = PadAction::RateDown;
    m.buttons[RightShoulder] = PadAction::RateUp;
    return m;
}

PadAction PadMapping::action(int button) const {
    return button >= 0 && button < ButtonCount ? buttons[size_t(button)] : PadAction::None;
}

void PadMapping::bind(PadAction a, int button) {
    if (button < 0 || button >= ButtonCount) return;
    for (PadAction& b : buttons)
        if (b == a) b = PadAction::None;
    buttons[size_t(button)] = a;
}

QList<int> PadMapping::buttonsOf(PadAction a) const {
    QList<int> found;
    for (int i = 0; i < ButtonCount; ++i)
        if (buttons[size_t(i)] == a) found << i;
    return found;
}

QString PadMapping::toText() const {
    QStringList parts{QStringLiteral("arrows:%1").arg(QLatin1String(ArrowInputs[size_t(arrows)]))};
    for (int i = 0; i < ButtonCount; ++i)
        if (const ActionName* n = findAction(buttons[size_t(i)]))
            parts << buttonKey(i) + QLatin1Char(':') + QLatin1String(n->key);
    return parts.join(QLatin1Char(','));
}

std::optional<PadMapping> PadMapping::fromText(const QString& text) {
    if (text.isEmpty()) return std::nullopt;
    PadMapping m;
    bool arrowsSeen = false;
    for (const QString& part : text.split(QLatin1Char(','))) {
        const QStringList kv = part.split(QLatin1Char(':'));
        if (kv.size() != 2) return std::nullopt;
        if (kv[0] == QLatin1String("arrows")) {
            const auto it = std::find_if(ArrowInputs.begin(), ArrowInputs.end(),
                                         [&](const char* s) { return kv[1] == QLatin1String(s); });
            if (it == ArrowInputs.end() || arrowsSeen) return std::nullopt;
            m.arrows = ArrowInput(it - ArrowInputs.begin());
            arrowsSeen = true;
            continue;
        }
        const int button = buttonFromKey(kv[0]);
        const auto action = std::find_if(Actions.begin(), Actions.end(), [&](const ActionName& n) {
            return kv[1] == QLatin1String(n.key);
        });
        // A button named twice would have two actions.
        if (button < 0 || action == Actions.end() || m.buttons[size_t(button)] != PadAction::None)
            return std::nullopt;
        m.buttons[size_t(button)] = action->action;
    }
    if (!arrowsSeen) return std::nullopt;
    return m;
}

} // namespace skyjog
