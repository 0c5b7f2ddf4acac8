// Received bytes -> CMDU -> every message decoder; the same bytes also go
// through the association request body parser, as a 2.4 and as a 5 GHz radio.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "map/codec/codec.h"
#include "map/ieee80211/assoc.h"
#include "messages/decoders.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Every log line is formatted (a bad format would throw) and then dropped.
    fuzz::daemon_logs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    map_sta_assoc_caps caps;
    static const uint8_t ssid[] = {'m', 'e', 's', 'h'};
    map_80211_parse_assoc_body(&caps, data, size, 0, ssid, sizeof ssid);
    map_80211_parse_assoc_body(&caps, data, size, 1, nullptr, 0);

    CmduPtr cmdu = decode_1905_CMDU(data, size);
    if (!cmdu)
        return 0;
    CMDU* c = cmdu.get();
    parse_discovery(c);
    parse_topology(c);
    parse_topology_notification(c);
    parse_ap_capability(c);
    parse_ap_metric_response(c);
    parse_assoc_sta_link_metric_response(c);
    parse_link_metric_response(c);
    parse_unassoc_sta_link_metric_response(c);
    parse_beacon_metrics_response(c);
    parse_channel_preference_report_message(c);
    parse_ap_ch_scan_report(c);
    parse_operating_channel(c);
    if (auto r = parse_btm_steering_report(c))
        r->status_string();
    if (auto r = parse_backhaul_steering_response(c))
        if (r->error_code)
            r->error_code->reason_string();
    parse_failed_connection_message(c);
    parse_tunneled_message(c);
    return 0;
}
