// IEEE 802.11 helpers of the Multi-AP stack: the (re)association request
// body parser that turns a client's frame into its capabilities, and the
// global operating class table (802.11 Annex E) lookup.
#pragma once

#include <cstddef>
#include <cstdint>

// Bands, as get_frequency_type reports them.
enum {
    MAP_BAND_2G = 0,
    MAP_BAND_5G = 1,
    MAP_BAND_6G = 2,
};

// 5 GHz sub-band of an operating class ("frequency type").
enum {
    MAP_FREQ_NONE = 0,       // not a 5 GHz class
    MAP_FREQ_5G_LOW = 32,    // channels 36-64
    MAP_FREQ_5G_HIGH = 64,   // channels 100-177
    MAP_FREQ_5G_BOTH = 128,  // 80/160/80+80 MHz classes whose channels lie in both halves
};

// Band and 5 GHz sub-band of global operating class OP_CLASS. Returns 0 and
// fills both outputs for a class of the 2.4, 5 or 6 GHz band; returns -1 and
// leaves them untouched for any other class (60 GHz, 3.65 GHz, 4.9 GHz,
// reserved values).
int get_frequency_type(uint8_t op_class, uint8_t* band, uint16_t* freq_type);

// Bits of map_sta_assoc_caps.supported_bands.
enum {
    MAP_STA_BAND_2G = 1 << 0,
    MAP_STA_BAND_5G = 1 << 1,
    MAP_STA_BAND_6G = 1 << 2,
};

enum { MAP_ASSOC_MAX_CHANNELS = 64, MAP_ASSOC_MAX_OP_CLASSES = 32, MAP_ASSOC_MAX_NON_PREF = 32 };

// One channel the client reports as non-preferred (MBO Non-preferred
// Channel Report attribute).
struct map_non_pref_channel {
    uint8_t op_class;
    uint8_t channel;
    uint8_t preference;
    uint8_t reason;
};

// What a client's (re)association request tells about it.
struct map_sta_assoc_caps {
    uint16_t capability_info;  // fixed field, as sent
    uint16_t listen_interval;  // fixed field
    uint8_t is_reassoc;        // the body carried the Current AP Address field

    uint8_t supported_bands;  // MAP_STA_BAND_* bits
    // Supported Channels element, expanded: for each (first, count) pair the
    // channels first, first + s, ... (s = 4 on a 5 GHz radio, 1 otherwise),
    // in order, each channel once.
    uint8_t supported_channel_count;
    uint8_t supported_channels[MAP_ASSOC_MAX_CHANNELS];
    // Supported Operating Classes element: current class first, then the others.
    uint8_t op_class_count;
    uint8_t op_classes[MAP_ASSOC_MAX_OP_CLASSES];

    uint8_t ht_support;
    uint8_t vht_support;
    uint8_t he_support;
    uint8_t max_tx_spatial_streams;  // 1..8
    uint8_t max_rx_spatial_streams;  // 1..8
    uint8_t max_bandwidth;           // MHz: 20, 40, 80 or 160 (80+80 counts as 160)
    uint8_t sgi_support;             // short guard interval at any supported width
    uint8_t btm_support;             // Extended Capabilities bit 19 (BSS Transition)
    uint8_t rrm_support;             // RM Enabled Capabilities element present
    uint8_t ecsa_support;            // Extended Capabilities bit 2 (Extended Channel Switching)
    uint8_t mbo_support;             // an MBO element was present

    uint8_t non_pref_count;
    map_non_pref_channel non_pref[MAP_ASSOC_MAX_NON_PREF];
};

// Parses the body of a (re)association request frame (from the Capability
// Information field on, without the 802.11 header) in one bounds-checked pass.
// IS_5G_RADIO tells whether the serving radio is a 5 GHz one (step of the
// Supported Channels expansion, band of the serving radio); SSID/SSID_LEN is
// the serving BSS's SSID, used to tell an association body (4 fixed bytes)
// from a reassociation body (10 fixed bytes). Elements are read until the end
// of the body; an element whose length runs past the end ends the parse, keeping
// what was read before it. Returns 0 when the fixed fields and at least one
// element were read, -1 otherwise (CAPS is then zeroed).
int map_80211_parse_assoc_body(map_sta_assoc_caps* caps, const uint8_t* body, size_t body_len,
                               int is_5g_radio, const uint8_t* ssid, size_t ssid_len);
