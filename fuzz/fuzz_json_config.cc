// libFuzzer target: JSON configuration requests as the "notifyZkecConfig" signal carries
// them, handed to ozr_handle_json_config with the daemon's context in place. Every log
// line is formatted and dropped.
#include <uv.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/context.h"
#include "dbus/json_config.h"
#include "log/logger.h"
#include "nal/nal.h"

namespace {
Context* context() {
    static Context* ctx = [] {
        static Config config;
        init_root_logger(7, "ozr", config);
        init_null_logger();
        nal_setLogLevel(7);
        static uv_loop_t loop;
        uv_loop_init(&loop);
        return new Context(&loop);
    }();
    return ctx;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    context();
    if (size > kMaxJsonConfigLen)
        return 0;
    // The bus delivers a NUL-terminated text; an embedded NUL ends it early.
    std::string text(reinterpret_cast<const char*>(data), size);
    ozr_handle_json_config(text.c_str());
    return 0;
}
