// map_stack.json text of any shape: parsed or refused with a key-naming
// error, never a crash or an unbounded allocation.
#include <cstddef>
#include <cstdint>
#include <string>

#include "map/stack_config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kMapStackConfigMaxBytes)
        return 0;  // the loader reads no more than this
    std::string text(reinterpret_cast<const char*>(data), size);
    MapStackConfig config;
    std::string error;
    if (map_stack_config_parse(text, config, &error) == 0) {
        if (config.interfaces.empty() || config.interfaces.size() > 16)
            __builtin_trap();
    } else if (error.empty()) {
        __builtin_trap();
    }
    return 0;
}
