#pragma once
// Keys held down that the window never took: held when a menu, a drop-down list or a context menu
// took the keyboard, or pressed inside one. Their repetitions start nothing, inside the popup or
// on the window once it has closed, until the key is really let go and pressed again.
#include <QHash>
#include <QtGlobal>

namespace skyjog {

class UntakenKeys {
public:
    // The key (PadKeys' physical key) is down now, or was let go at releasedAt just before a
    // popup opened: with release and press pairs, that may be the first half of a repetition.
    void hold(quint64 key);
    void holdReleasedAt(quint64 key, quint64 releasedAt);
    // A key-up not flagged as auto-repeat. When a held key may arrive as release and press pairs,
    // it may still be one half of a repetition, told by the press that follows.
    void released(quint64 key, quint64 timestamp, bool pairs);
    // A key press, flagged or not: true when it repeats an untaken key. A new press of the key
    // forgets it.
    bool repeats(quint64 key, quint64 timestamp, bool autoRepeat, bool pairs);

    bool contains(quint64 key) const { return keys_.contains(key); }
    // Added to what is kept here (a popup opening over another).
    void merge(const UntakenKeys& other);
    void clear() { keys_.clear(); }

private:
    struct Held {
        bool released = false;
        quint64 releasedAt = 0;
    };
    QHash<quint64, Held> keys_;
};

} // namespace skyjog
