#pragma once
// What each of a controller's buttons does, and whether the arrows come from the D-pad's
// buttons, the left stick or both. Kept per controller as one line of text.
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <optional>

namespace skyjog {

enum class PadAction : uint8_t {
    None,
    Up,
    Down,
    Left,
    Right,
    Spiral,
    AllStop,
    RateDown,
    RateUp,
    Fastest, // the last entry of both rate lists while the button is down
};
// Every action a button can be given, in the order the user sees them.
inline constexpr std::array<PadAction, 9> PadActions = {
    PadAction::Up,      PadAction::Down,     PadAction::Left,   PadAction::Right,  PadAction::Spiral,
    PadAction::AllStop, PadAction::RateDown, PadAction::RateUp, PadAction::Fastest};
QString actionName(PadAction a);

// Where the four arrows come from.
enum class ArrowInput : uint8_t { Buttons, Stick, Both };

struct PadMapping {
    // SDL's game-controller buttons (A to the touchpad).
    static constexpr int ButtonCount = 21;

    std::array<PadAction, ButtonCount> buttons{};
    ArrowInput arrows = ArrowInput::Both;

    // The D-pad and the stick for the arrows, A the spiral, B and Back all-stop, the shoulders
    // the rates; nothing for the fastest rate.
    static PadMapping standard();

    PadAction action(int button) const;
    // Gives the action to this button alone: the buttons it had before, and whatever this
    // button did before, are let go. One action per button.
    void bind(PadAction a, int button);
    // The buttons that do a, in button order.
    QList<int> buttonsOf(PadAction a) const;

    // As kept in the preferences, "arrows:both,dpup:up,a:spiral,...": SDL's button names.
    QString toText() const;
    // Empty or damaged text gives nullopt: the caller falls back to the standard mapping.
    static std::optional<PadMapping> fromText(const QString& text);

    bool operator==(const PadMapping&) const = default;
};

// A button as the user reads it ("A", "D-pad up", "Left shoulder"), and as SDL names it
// ("a", "dpup", "leftshoulder"); -1 for a name that is none.
QString buttonLabel(int button);
QString buttonKey(int button);
int buttonFromKey(const QString& key);

} // namespace skyjog
