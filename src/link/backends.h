#pragma once
// Which backend a port text reaches.
#include "backend.h"
#include "porttext.h"

#include <functional>
#include <memory>

namespace skyjog {

// Builds the backend for a port spec; the default knows the serial, device and TCP kinds and the
// simulator once one is registered.
using BackendFactory = std::function<std::unique_ptr<SerialBackend>(const PortSpec&)>;
std::unique_ptr<SerialBackend> makeDefaultBackend(const PortSpec& spec);

// The in-process simulated mount registers itself here (the link does not depend on it).
void setSimBackendFactory(std::function<std::unique_ptr<SerialBackend>()> factory);

} // namespace skyjog
