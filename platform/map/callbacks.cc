#include "map/callbacks.h"

#include "map/al/stack.h"
#include "map/cmdu.h"

// Every type a controller receives. Types the controller only sends (queries, policy
// configuration, steering requests) are not here.
gmap_cb_entry gmap_cb_config[] = {
    // IEEE 1905.1
    {0x0000, map_stack_handle_cmdu},  // Topology Discovery
    {0x0001, map_stack_handle_cmdu},  // Topology Notification
    {0x0002, map_stack_handle_cmdu},  // Topology Query
    {0x0003, map_stack_handle_cmdu},  // Topology Response
    {0x0004, map_stack_handle_cmdu},  // Vendor Specific
    {0x0005, map_stack_handle_cmdu},  // Link Metric Query
    {0x0006, map_stack_handle_cmdu},  // Link Metric Response
    {0x0007, map_stack_handle_cmdu},  // AP-Autoconfiguration Search
    {0x0008, map_stack_handle_cmdu},  // AP-Autoconfiguration Response
    {0x0009, map_stack_handle_cmdu},  // AP-Autoconfiguration WSC
    {0x000A, map_stack_handle_cmdu},  // AP-Autoconfiguration Renew
    // Wi-Fi EasyMesh
    {0x8000, map_stack_handle_cmdu},  // 1905 Ack
    {0x8002, map_stack_handle_cmdu},  // AP Capability Report
    {0x8005, map_stack_handle_cmdu},  // Channel Preference Report
    {0x8007, map_stack_handle_cmdu},  // Channel Selection Response
    {0x8008, map_stack_handle_cmdu},  // Operating Channel Report
    {0x800A, map_stack_handle_cmdu},  // Client Capability Report
    {0x800C, map_stack_handle_cmdu},  // AP Metrics Response
    {0x800E, map_stack_handle_cmdu},  // Associated STA Link Metrics Response
    {0x8010, map_stack_handle_cmdu},  // Unassociated STA Link Metrics Response
    {0x8012, map_stack_handle_cmdu},  // Beacon Metrics Response
    {0x8015, map_stack_handle_cmdu},  // Client Steering BTM Report
    {0x8017, map_stack_handle_cmdu},  // Steering Completed
    {0x801A, map_stack_handle_cmdu},  // Backhaul Steering Response
    {0x801C, map_stack_handle_cmdu},  // Channel Scan Report
    {0x8026, map_stack_handle_cmdu},  // Tunneled
    {0x8033, map_stack_handle_cmdu},  // Failed Connection
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
