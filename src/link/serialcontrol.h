#pragma once
// The serial control: port, line settings, open/close, read of at most InputLen waiting
// characters, write. Each open builds a fresh backend from the current port text.
#include "backends.h"

#include <optional>

namespace skyjog {

// "9600,N,8,1"; throws VbError 380 (err::InvalidPropertyValue) on anything else.
LineSettings parseLineSettings(const QString& text);

class SerialControl {
public:
    SerialControl();
    ~SerialControl();

    // Throws VbError (and keeps the previous port) when the text names no usable port.
    void setPortText(const QString& text);
    const PortSpec& port() const { return spec_; }
    int16_t commPort() const { return spec_.number; }

    void setSettings(const QString& text); // throws VbError 380
    QString settings() const { return settingsText_; }
    const LineSettings& lineSettings() const { return line_; }

    // Opening throws VbError; closing never throws.
    void setPortOpen(bool open);
    bool portOpen() const;
    // How long opening and writing may take: until the deadline while one is set, otherwise
    // DefaultWaitMs for each open and each write.
    void setDeadline(std::optional<QDeadlineTimer> deadline) { deadline_ = deadline; }
    static constexpr int DefaultWaitMs = 1000;
    // True when the open backend's open was a round trip of its own (see SerialBackend).
    bool openIsRoundTrip() const { return portOpen() && backend_->openIsRoundTrip(); }

    void setInputLen(int n) { inputLen_ = n; }
    int inputLen() const { return inputLen_; }
    QByteArray input();
    void output(const QByteArray& data);

    // Tests (and the program's own sim hook) replace how a backend is made.
    void setBackendFactory(BackendFactory factory);

private:
    PortSpec spec_;
    QString settingsText_;
    LineSettings line_;
    int inputLen_ = 0;
    std::optional<QDeadlineTimer> deadline_;
    BackendFactory factory_;
    std::unique_ptr<SerialBackend> backend_;
};

} // namespace skyjog
