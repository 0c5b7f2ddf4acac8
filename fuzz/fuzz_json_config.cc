// libFuzzer target: JSON configuration requests as the "notifyZkecConfig" signal carries
// them, handed to ozr_handle_json_config with the daemon's context in place (the steering
// minder, which takes what is applied, new for every input). Every log line is formatted
// and dropped.
#include <cstddef>
#include <cstdint>
#include <string>

#include "dbus/json_config.h"
#include "fuzz_context.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::daemon_logs();
    fuzz::context();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kMaxJsonConfigLen)
        return 0;
    SteeringMinder*& steering = fuzz::context().steering_minder;
    fuzz::renew(steering);
    // The bus delivers a NUL-terminated text; an embedded NUL ends it early.
    std::string text(reinterpret_cast<const char*>(data), size);
    ozr_handle_json_config(text.c_str());
    fuzz::release(steering);
    return 0;
}
