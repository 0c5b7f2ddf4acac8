// HKT vendor payloads (the bytes after the Vendor Specific TLV's OUI) through
// parse_hkt_message_from_packet: whatever parses forges back to the same bytes; then the
// same payload, wrapped in a Vendor Specific message, through the vendor agent minder's
// intake and handlers (registry bounded, no stack: every send fails cleanly).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "hkt/hkt_mgmt_minder.h"
#include "log/logger.h"
#include "map/codec/cmdu_alloc.h"
#include "map/codec/tlv_types.h"
#include "map/hkt/hkt_message.h"
#include "nal/nal.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static Config config;
    init_root_logger(7, "ozr", config);
    init_null_logger();
    nal_setLogLevel(7);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    hktMessage* m = parse_hkt_message_from_packet(data, size);
    if (m) {
        std::vector<uint8_t> again;
        if (!forge_hkt_message_from_structure(m, again) || again.size() != size ||
            std::memcmp(again.data(), data, size) != 0)
            std::abort();  // a parsed message must forge back to its own bytes
        free_hkt_message_structure(m);
    }
    // No loop (no timers) and no context: the minder's own handlers, as init adds them.
    static HktMgmtMinder* minder = new HktMgmtMinder(nullptr);
    static bool registered = false;
    if (!registered) {
        registered = true;
        minder->add_tlv_handler(HKT_TLV_DISCOVERY_RESPONSE,
                                [](CMDU* c, void* t) { minder->on_hkt_disc_resp(c, t); });
        minder->add_tlv_handler(HKT_TLV_HEARTBEAT,
                                [](CMDU* c, void* t) { minder->on_hkt_heartbeat(c, t); });
        minder->add_tlv_handler(HKT_TLV_IP_CHANGE_NOTIFICATION, [](CMDU* c, void* t) {
            minder->on_hkt_ip_change_notification(c, t);
        });
        minder->add_tlv_handler(HKT_TLV_EX_NOTIFICATION,
                                [](CMDU* c, void* t) { minder->on_hkt_ex_notification(c, t); });
        minder->add_tlv_handler(HKT_TLV_IP_INFO_QUERY,
                                [](CMDU* c, void* t) { minder->on_hkt_ip_info_query(c, t); });
        minder->add_tlv_handler(HKT_TLV_VSN_QUERY,
                                [](CMDU* c, void* t) { minder->on_hkt_vsn_query(c, t); });
    }
    vendor_specific_tlv v;
    std::memcpy(v.vendor_oui, hkt_get_vendor_oui(), 3);
    v.payload.assign(data, data + size);
    CmduPtr c = CmduBuilder(CMDU_TYPE_VENDOR_SPECIFIC, 1).add(std::move(v)).build();
    if (c) {
        // The sender varies with the input, so that the registry fills and merges.
        c->src_al_mac = MAC(0x02, 0, 0, 0, size > 5 ? data[5] : 0, size > 6 ? data[6] & 3 : 0);
        minder->on_vend_spec(c.get());
    }
    if (minder->hkt_nodes().size() > HktMgmtMinder::kMaxHktNodes)
        std::abort();
    return 0;
}
