// What a client station can do, as learnt from its association request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "graph/graph_enums.h"

struct StaCapabilityInfo {
    // Supported channels: bit i of supported_channels_2g is channel i+1 (1..16); bit i of
    // supported_channels_5g is the i-th entry of kChannels5g.
    uint16_t supported_channels_2g = 0;
    uint32_t supported_channels_5g = 0;
    uint8_t mimo_txcount = 0;
    uint8_t mimo_rxcount = 0;
    uint8_t max_bw = 0;
    bool capable_bss_transition = false;
    bool capable_radio_measurement = false;
    // Beacon reports in passive / active mode (RM Enabled Capabilities).
    bool beacon_passive = false;
    bool beacon_active = false;
    sta_categories steer_category = sta_categories::INVALID;
    bool sgi_support = false;
    bool ecsa = false;
    std::vector<uint8_t> non_preferred_channels;

    static const uint8_t kChannels5g[32];

    // Sets CHANNEL in the bitmaps; false for a channel neither map can hold.
    bool add_channel(uint8_t channel);
    // Every set 2.4 GHz channel, then every set 5 GHz channel, each followed by a blank.
    std::string channels_string() const;
    // True when CHANNEL is one of the supported channels.
    bool channel_match(uint8_t channel) const;
};

// The beacon measurement modes a (re)association request body BODY/LEN claims in its RM
// Enabled Capabilities element (first byte: bit 4 passive, bit 5 active). REASSOC: the body
// carries the current AP address before its elements. Both false without the element.
struct RmBeaconModes {
    bool passive = false;
    bool active = false;
};
RmBeaconModes rm_beacon_modes(const uint8_t* body, size_t len, bool reassoc);
