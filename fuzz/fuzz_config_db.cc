// ozr_config_db.json text of any shape: loaded (invalid parts dropped) or refused, never
// a crash, a recursion on nesting depth or an unbounded allocation. What is loaded writes
// back as a document that loads again clean and equal.
#include <cstddef>
#include <cstdint>
#include <string>

#include "data/ap_config_db.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > ApConfigDb::kMaxFileBytes)
        return 0;  // the start moves a larger file aside unread
    const std::string text(reinterpret_cast<const char*>(data), size);
    ApConfigDb db;
    const ApConfigDb::LoadResult r = db.db_load_text(text);
    if (db.records().size() > ApConfigDb::kMaxRecords)
        __builtin_trap();
    if ((r == ApConfigDb::LoadResult::EMPTY || r == ApConfigDb::LoadResult::UNPARSABLE) &&
        !db.records().empty())
        __builtin_trap();
    for (const auto& kv : db.records()) {
        const ApRecord& rec = kv.second;
        if (rec.sn != kv.first || rec.sn.empty() || rec.sn.size() > 33 ||
            !ApConfigDb::is_status_string(rec.status))
            __builtin_trap();
    }

    ApConfigDb again;
    if (again.db_load_text(db.db_build_text()) != ApConfigDb::LoadResult::CLEAN)
        __builtin_trap();
    if (again.records() != db.records())
        __builtin_trap();
    MetricPolCfg p1, p2;
    db.db_get_map_policy_cfg(p1);
    again.db_get_map_policy_cfg(p2);
    if (p1 != p2)
        __builtin_trap();
    // A negative interval read from a file is kept as its unsigned value, which a later
    // load no longer takes; every value the daemon itself writes is below 2^31.
    CtlrTopoCfg t1, t2;
    db.db_get_controller_topo_cfg(t1);
    again.db_get_controller_topo_cfg(t2);
    const uint32_t a[4] = {t1.al_entity_topology_discovery_interval,
                           t1.map_controller_topology_query_interval,
                           t1.map_controller_link_metric_query_interval,
                           t1.map_controller_dead_agent_detection_interval};
    const uint32_t b[4] = {t2.al_entity_topology_discovery_interval,
                           t2.map_controller_topology_query_interval,
                           t2.map_controller_link_metric_query_interval,
                           t2.map_controller_dead_agent_detection_interval};
    for (int i = 0; i < 4; ++i)
        if (a[i] <= 0x7fffffffu && a[i] != b[i])
            __builtin_trap();
    return 0;
}
