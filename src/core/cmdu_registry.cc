#include "core/cmdu_registry.h"

#include <unordered_map>

#include "core/log.h"
#include "core/state_version.h"
#include "map/callbacks.h"

namespace {
using Registry = std::unordered_map<uint16_t, Callbacks>;

// Built on first use (registrations happen in the minder constructors, so no static
// initialisation order matters) and destroyed at exit.
Registry& registry() {
    static Registry r(10);
    return r;
}
}  // namespace

void add_cmdu_handler(unsigned short message_type, CmduHandler before, CmduHandler after) {
    // A type registered before keeps its entry and the entry its index.
    auto known = registry().find(message_type);
    int index = known != registry().end() ? known->second.index : find_gmap_cb_index(message_type);
    if (index < 0) {
        OZR_ERROR(root_logger, "{} - no stack callback entry for message type 0x{:04x}", __func__,
                  message_type);
        return;
    }
    Callbacks& cb = registry()[message_type];
    gmap_cb_entry& entry = gmap_cb_config[index];
    // Hook once, also a type whose stack entry had no handler.
    if (!cb.hooked) {
        cb.stack_handler = entry.handler;
        entry.handler = cmdu_dispatch;
        cb.hooked = true;
        cb.index = index;
    }
    if (before)
        cb.before.push_back(std::move(before));
    if (after)
        cb.after.push_back(std::move(after));
}

// The entries stay, emptied (their lists keep their capacity): a process that builds its
// minders anew registers the same types again.
void clear_cmdu_handlers() {
    for (auto& kv : registry()) {
        Callbacks& cb = kv.second;
        if (cb.hooked && gmap_cb_config[cb.index].handler == cmdu_dispatch)
            gmap_cb_config[cb.index].handler = cb.stack_handler;
        cb.before.clear();
        cb.after.clear();
        cb.stack_handler = nullptr;
        cb.hooked = false;
    }
}

int8_t cmdu_dispatch(CMDU* cmdu) {
    if (cmdu == nullptr)
        return 0;
    note_state_change();  // the stack's handler and ours may change what they keep
    auto it = registry().find(cmdu->message_type);
    if (it == registry().end() || !it->second.hooked)
        return 0;
    const Callbacks& cb = it->second;
    for (const auto& h : cb.before)
        h(cmdu);
    if (cb.stack_handler) {
        int8_t r = cb.stack_handler(cmdu);
        if (r != 0)
            return r;
    }
    for (const auto& h : cb.after)
        h(cmdu);
    return 0;
}

const Callbacks* find_cmdu_callbacks(unsigned short message_type) {
    auto it = registry().find(message_type);
    return it == registry().end() || !it->second.hooked ? nullptr : &it->second;
}
