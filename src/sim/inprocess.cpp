// The simulated mount inside the program: the port text "sim".
#include "backends.h"
#include "clock.h"
#include "mountsim.h"
#include "vberror.h"

namespace skyjog::sim {

namespace {

class InProcessBackend final : public SerialBackend {
public:
    explicit InProcessBackend(MountSim& sim) : sim_(sim) {}

    void open(const LineSettings&, const QDeadlineTimer&) override {
        // Opening again after a dropped line is plugging the cable back in.
        if (sim_.disconnected()) sim_.reconnect();
        open_ = true;
    }
    void close() override { open_ = false; }
    bool isOpen() const override { return open_; }

    QByteArray read(int maxChars) override {
        if (sim_.disconnected()) throw lost();
        if (maxChars <= 0) return {};
        return sim_.takeOutput(clock().tickCount64(), maxChars);
    }

    void write(const QByteArray& data, const QDeadlineTimer&) override {
        if (sim_.disconnected()) throw lost();
        sim_.receive(data, clock().tickCount64());
    }

private:
    static VbError lost() {
        return VbError(err::ReadFailed,
                       QStringLiteral("Lost the simulated mount: the line was dropped"));
    }
    MountSim& sim_;
    bool open_ = false;
};

} // namespace

MountSim& sharedMountSim() {
    static MountSim sim;
    return sim;
}

std::unique_ptr<SerialBackend> makeInProcessBackend(MountSim& sim) {
    return std::make_unique<InProcessBackend>(sim);
}

void registerInProcessSim() {
    setSimBackendFactory([] { return makeInProcessBackend(sharedMountSim()); });
}

} // namespace skyjog::sim
