// The stack's own HKT sender: the vendor variant of the unassociated STA link metrics query.
#include "map/al/stack.h"
#include "map/codec/cmdu_alloc.h"
#include "map/codec/tlv_types.h"
#include "map/datamodel/datamodel.h"
#include "map/hkt/hkt_message.h"
#include "map/map_log.h"
#include "map/map_send.h"

int map_send_hkt_unassoc_sta_metrics_query(const MAC& al_mac, const MAC& hkt_mac,
                                           uint8_t metrics_type,
                                           const unassociated_sta_link_metrics_query_tlv& query) {
    const map_ale_info_t* ale = get_ale(al_mac);
    if (ale == nullptr) {
        map_log(MAP_LOG_CONTROLLER, 3, "%s: unknown agent (agent %s)", __func__,
                al_mac.to_string().c_str());
        return MAP_SEND_UNKNOWN_AGENT;
    }
    if (hkt_mac.is_zero() || hkt_mac.is_multicast()) {
        map_log(MAP_LOG_CONTROLLER, 3, "%s: no HKT MAC (agent %s)", __func__,
                al_mac.to_string().c_str());
        return MAP_SEND_BAD_ARGUMENT;
    }
    hkt_unassoc_sta_metrics_query_tlv q;
    q.metrics_type = metrics_type;
    q.query = query;
    hktMessage m = hkt_message_of(q);
    vendor_specific_tlv v;
    if (!forge_hkt_vendor_tlv(&m, v)) {
        map_log(MAP_LOG_CONTROLLER, 3, "%s: message could not be built (agent %s)", __func__,
                al_mac.to_string().c_str());
        return MAP_SEND_ENCODE;
    }
    CmduPtr c = CmduBuilder(CMDU_TYPE_VENDOR_SPECIFIC, 0).add(std::move(v)).build();
    if (!c)
        return MAP_SEND_ENCODE;
    // The vendor agent sits on the agent's device: the interface the agent was heard on.
    const char* ifname = ale->iface_name[0] != '\0' ? ale->iface_name : nullptr;
    return lib1905_send(nullptr, nullptr, hkt_mac, c.get(), ifname);
}
