#include "untakenkeys.h"

namespace skyjog {

void UntakenKeys::hold(quint64 key) {
    keys_.insert(key, Held{});
}

void UntakenKeys::holdReleasedAt(quint64 key, quint64 releasedAt) {
    keys_.insert(key, Held{.released = true, .releasedAt = releasedAt});
}

void UntakenKeys::released(quint64 key, quint64 timestamp, bool pairs) {
    const auto it = keys_.find(key);
    if (it == keys_.end()) return;
    // Presses only: the one key-up is the real one.
    if (!pairs)
        keys_.erase(it);
    else
        *it = Held{.released = true, .releasedAt = timestamp};
}

bool UntakenKeys::repeats(quint64 key, quint64 timestamp, bool autoRepeat, bool pairs) {
    const auto it = keys_.find(key);
    if (it == keys_.end()) return false;
    // With presses only, a press of a key still down is its repetition. With pairs, a press is
    // new only after a key-up of its own: the X server stamps both halves of a repetition alike,
    // a real release and the next press never.
    const Held h = *it;
    const bool repetition =
        autoRepeat || !pairs || !h.released || (h.releasedAt != 0 && timestamp == h.releasedAt);
    if (!repetition) keys_.erase(it);
    return repetition;
}

void UntakenKeys::merge(const UntakenKeys& other) {
    for (auto it = other.keys_.begin(); it != other.keys_.end(); ++it)
        keys_.insert(it.key(), it.value());
}

} // namespace skyjog
