// HKT vendor payloads (the bytes after the Vendor Specific TLV's OUI) through
// parse_hkt_message_from_packet: whatever parses forges back to the same bytes; then the
// same payload, wrapped in a Vendor Specific message, through the vendor agent minder's
// intake and handlers (registry bounded, no stack: every send fails cleanly). An input may
// hold several messages; the minder is new for every input.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fuzz_support.h"
#include "hkt/hkt_mgmt_minder.h"
#include "map/codec/cmdu_alloc.h"
#include "map/codec/tlv_types.h"
#include "map/hkt/hkt_message.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::daemon_logs();
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
    // No loop (no timers) and no context: a new minder for every input, with its own
    // handlers, as init adds them.
    auto owner = std::make_unique<HktMgmtMinder>(nullptr);
    HktMgmtMinder* minder = owner.get();
    {
        minder->add_tlv_handler(HKT_TLV_DISCOVERY_RESPONSE,
                                [minder](CMDU* c, void* t) { minder->on_hkt_disc_resp(c, t); });
        minder->add_tlv_handler(HKT_TLV_HEARTBEAT,
                                [minder](CMDU* c, void* t) { minder->on_hkt_heartbeat(c, t); });
        minder->add_tlv_handler(HKT_TLV_IP_CHANGE_NOTIFICATION, [minder](CMDU* c, void* t) {
            minder->on_hkt_ip_change_notification(c, t);
        });
        minder->add_tlv_handler(HKT_TLV_EX_NOTIFICATION, [minder](CMDU* c, void* t) {
            minder->on_hkt_ex_notification(c, t);
        });
        minder->add_tlv_handler(HKT_TLV_IP_INFO_QUERY,
                                [minder](CMDU* c, void* t) { minder->on_hkt_ip_info_query(c, t); });
        minder->add_tlv_handler(HKT_TLV_VSN_QUERY,
                                [minder](CMDU* c, void* t) { minder->on_hkt_vsn_query(c, t); });
    }
    // The input, one message as a rule, is cut into the messages its length fields frame
    // (the last one takes what is left): several senders in one input fill and merge
    // the registry.
    size_t at = 0;
    while (at < size) {
        const size_t n =
            size - at < 3 ? size - at
                          : std::min(size - at, 3 + ((size_t(data[at + 1]) << 8) | data[at + 2]));
        const uint8_t* msg = data + at;
        at += n;
        vendor_specific_tlv v;
        std::memcpy(v.vendor_oui, hkt_get_vendor_oui(), 3);
        v.payload.assign(msg, msg + n);
        CmduPtr c = CmduBuilder(CMDU_TYPE_VENDOR_SPECIFIC, 1).add(std::move(v)).build();
        if (c) {
            // The sender varies with the message.
            c->src_al_mac = MAC(0x02, 0, 0, 0, n > 5 ? msg[5] : 0, n > 6 ? msg[6] & 3 : 0);
            minder->on_vend_spec(c.get());
        }
    }
    if (minder->hkt_nodes().size() > HktMgmtMinder::kMaxHktNodes)
        std::abort();
    owner.reset();
    fuzz::forget_cmdu_handlers();  // the ones its constructor registered
    return 0;
}
