#pragma once

namespace skyjog {

// The four arrows of the pad, by button and by key: Up and Down move the altitude axis, Left and
// Right the azimuth axis.
enum class Arrow { Up, Down, Left, Right };

} // namespace skyjog
