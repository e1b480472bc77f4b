#pragma once
// A program on the share without a socket: its bytes reach the server at once, in the test's
// order, and its replies are kept for the test to read.
#include "mountshare.h"
#include "shareclient.h"

#include <QPointer>

namespace skyjog::test {

class LoopClient final : public share::Client {
public:
    using Client::Client;
    void write(const QByteArray& bytes) override { replies += bytes; }
    void hangUp() override {
        hungUp = true;
        QMetaObject::invokeMethod(this, [this] { gone(); }, Qt::QueuedConnection);
    }
    void send(const QByteArray& bytes) { received(bytes); }
    // The connection breaks: the program crashed, or its cable came out.
    void vanish() { gone(); }

    QByteArray replies;
    bool hungUp = false;
};

// The server owns its clients and deletes one soon after it goes.
inline QPointer<LoopClient> connectLoop(MountShare& share, const QString& name) {
    LoopClient* made = nullptr;
    share.server().adopt([&](share::ShareServer& server, int id) {
        auto c = std::make_unique<LoopClient>(server, id, name);
        made = c.get();
        return c;
    });
    return made;
}

} // namespace skyjog::test
