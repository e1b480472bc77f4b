#pragma once
#include "commands.h"

#include <cstddef>
#include <cstdint>

namespace skyjog {

// The four arrows of the pad, by button and by key: Up and Down move the altitude axis, Left and
// Right the azimuth axis.
enum class Arrow { Up, Down, Left, Right };

inline constexpr Arrow AllArrows[] = {Arrow::Up, Arrow::Down, Arrow::Left, Arrow::Right};

inline uint8_t motorOf(Arrow a) {
    return (a == Arrow::Up || a == Arrow::Down) ? cmd::AltMotor : cmd::AzMotor;
}

// 0: altitude, 1: azimuth.
inline std::size_t axisOf(Arrow a) {
    return motorOf(a) == cmd::AltMotor ? 0 : 1;
}

// The arrow that stands for an axis where either of its two would do (a stop is the same for both).
inline Arrow arrowOfAxis(std::size_t axis) {
    return axis == 0 ? Arrow::Up : Arrow::Left;
}

} // namespace skyjog
