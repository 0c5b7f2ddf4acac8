// libFuzzer target: CMDU payloads from a handful of senders (the controller's own device,
// the local agent, extenders) folded into the stack's data model and dispatched to the
// graph minder through the stack's callback table, with the minder's periodic work run
// between them on a moving manual clock. Every log line is formatted and dropped. Each
// input starts from the same clock, an empty data model and minders of its own.
// Input: records of [flags (1 byte: bits 0-2 sender, bit 7 run the periodic work),
// length (2 bytes), payload].
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_context.h"
#include "map/al/stack.h"
#include "map/callbacks.h"
#include "map/codec/codec.h"

namespace {
const MAC kRoot(2, 0, 0, 0, 1, 1);
const MAC kLocal(2, 0, 0, 0, 1, 2);
// The records read of an input (the rest is ignored).
constexpr size_t kMaxRecords = 24;

void run_periodic_work(GraphMinder& gm) {
    ozr_clock::advance(10000);
    gm.on_topo_query();
    gm.on_link_metric_query();
    gm.send_beacon_queries();
    gm.on_unassoc_dynamic_schedule();
    gm.on_backhaul_information_update();
    gm.on_backhaul_information_sync();
    gm.on_topo_change_check();
    gm.on_heart_beat();
    gm.send_ap_metric_query();
    gm.on_gc();
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::default_flags(argc, argv, {fuzz::kShortRareFeatureList});
    fuzz::daemon_logs();
    MapStackConfig c = map_stack_default_config();
    c.al_mac = kRoot;
    c.agent_al_mac = kLocal;
    map_stack_set_config(c);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An empty mesh and minders as built for every input.
    GraphMinder& gm = *fuzz::begin_input().graph_minder;
    map_datamodel_init(kRoot, kLocal);
    size_t at = 0;
    bool periodic = false;
    for (size_t records = 0; at + 3 <= size && records < kMaxRecords; ++records) {
        uint8_t flags = data[at];
        uint8_t who = flags & 7;
        MAC src = who == 0 ? kRoot : who == 1 ? kLocal : MAC(2, 0, 0, 0, 3, who);
        size_t n = (size_t(data[at + 1]) << 8) | data[at + 2];
        at += 3;
        if (n > size - at)
            n = size - at;
        std::vector<uint8_t> payload(data + at, data + at + n);  // exact-size copy for ASan
        at += n;
        CmduPtr c = decode_1905_CMDU(payload.data(), payload.size(), &src);
        if (c)
            map_dispatch_cmdu(c.get());  // as the AL hands it over: the stack's handler
                                         // updates the data model among the minders' ones
        if (flags & 0x80) {
            run_periodic_work(gm);
            periodic = true;
        }
    }
    if (gm.graph().nodes.size() > GraphMinder::kMaxNodes)
        __builtin_trap();
    fuzz::end_input(periodic);
    return 0;
}
