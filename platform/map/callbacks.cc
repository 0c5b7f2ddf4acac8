#include "map/callbacks.h"

#include "map/cmdu.h"

// Every type a controller receives. Types the controller only sends (queries, policy
// configuration, steering requests) are not here.
gmap_cb_entry gmap_cb_config[] = {
    // IEEE 1905.1
    {0x0000, nullptr},  // Topology Discovery
    {0x0001, nullptr},  // Topology Notification
    {0x0002, nullptr},  // Topology Query
    {0x0003, nullptr},  // Topology Response
    {0x0004, nullptr},  // Vendor Specific
    {0x0005, nullptr},  // Link Metric Query
    {0x0006, nullptr},  // Link Metric Response
    {0x0007, nullptr},  // AP-Autoconfiguration Search
    {0x0008, nullptr},  // AP-Autoconfiguration Response
    {0x0009, nullptr},  // AP-Autoconfiguration WSC
    {0x000A, nullptr},  // AP-Autoconfiguration Renew
    // Wi-Fi EasyMesh
    {0x8000, nullptr},  // 1905 Ack
    {0x8002, nullptr},  // AP Capability Report
    {0x8005, nullptr},  // Channel Preference Report
    {0x8007, nullptr},  // Channel Selection Response
    {0x8008, nullptr},  // Operating Channel Report
    {0x800A, nullptr},  // Client Capability Report
    {0x800C, nullptr},  // AP Metrics Response
    {0x800E, nullptr},  // Associated STA Link Metrics Response
    {0x8010, nullptr},  // Unassociated STA Link Metrics Response
    {0x8012, nullptr},  // Beacon Metrics Response
    {0x8015, nullptr},  // Client Steering BTM Report
    {0x8017, nullptr},  // Steering Completed
    {0x801A, nullptr},  // Backhaul Steering Response
    {0x801C, nullptr},  // Channel Scan Report
    {0x8026, nullptr},  // Tunneled
    {0x8033, nullptr},  // Failed Connection
};

const size_t gmap_cb_config_count = sizeof(gmap_cb_config) / sizeof(gmap_cb_config[0]);

int find_gmap_cb_index(uint16_t type) {
    for (size_t i = 0; i < gmap_cb_config_count; ++i) {
        if (gmap_cb_config[i].message_type == type)
            return static_cast<int>(i);
    }
    return -1;
}

int8_t map_dispatch_cmdu(CMDU* cmdu) {
    if (cmdu == nullptr)
        return -1;
    int i = find_gmap_cb_index(cmdu->message_type);
    if (i < 0)
        return -1;
    gmap_cb_handler h = gmap_cb_config[i].handler;
    return h ? h(cmdu) : 0;
}
