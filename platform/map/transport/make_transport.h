// Builds the stack's transport from its fixed parameters.
#pragma once

#include <memory>
#include <string>

#include "map/stack_config.h"
#include "map/transport/transport.h"

// Resolves what the configuration leaves to the system (for the raw transport,
// the MAC of every interface without one, and so the default AL MAC) and
// creates the transport with its capture file, not yet open. CONFIG is updated
// with the resolved addresses. Null, with ERROR set and logged, on failure.
std::unique_ptr<Transport> make_transport(MapStackConfig& config, std::string* error = nullptr);
