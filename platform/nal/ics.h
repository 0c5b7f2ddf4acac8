// The gateway's channel selection service (stand-in), the platform's previous-channel
// store and the mobile-app-only product mode.
//
// The service keeps what the controller provisions for each band (the last channel
// record and the last transmit power record per stack band mask), the default channel,
// bandwidth and time of configuration per band, and one handle per radio of the mesh
// that follows the radio's Operating Channel Reports. It checks channels against the
// global operating class table. Everything it is told is journaled (nal/journal.h), one
// line per call, with "mask", "kind", "channel", "bw" and the record's "hex" as they
// apply.
//
// platform.json keys it reads (each optional):
//   "ics-additional-band": {"from": BAND, "to": BAND}
//       a channel set on band FROM is also set on band TO (BAND is one of "2.4g", "5g",
//       "5g-low", "5g-high", "6g");
//   "ics-available-channels": {BAND: [CHANNEL | {"channel": N, "state": "available" |
//       "cac-required" | "radar" | "not-allowed", "preference": 0..15,
//       "non-occupancy-s": N}, ...], ...}
//       the available channels of every radio of that band (otherwise they come from
//       the radio's reported operating classes);
//   "mesh-for-mobile-app-only": true | false.
//
// Event-loop thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/mac.h"
#include "map/map_config.h"

struct map_radio_info_t;
struct operating_channel_report_tlv;

// ---- Provisioning ---------------------------------------------------------------------------
// The record ics_provision takes: kIcsProvisionSize bytes, zero but for
//   0-1 stack band mask (little-endian), 2 kind (ICS_KIND_*),
//   kind 2: 3 transmit power (dBm);
//   kind 1: 4 = 1, 5 bandwidth code, 6 = 2, 7 channel, 8 second channel, 31 reserved byte.
constexpr size_t kIcsProvisionSize = 1734;
enum : uint8_t { ICS_KIND_CHANNEL = 1, ICS_KIND_TXPOWER = 2 };

// Stores the record (replacing the last one of its band mask and kind). 0; -1 for null, a
// size other than kIcsProvisionSize, an unknown band mask or kind, or a channel record whose
// non-zero channel is not a channel of that band.
// Journal: "mask", "kind", "channel", "bw", "hex".
int ics_provision(const uint8_t* record, size_t len);
// The channel of the last channel record of BAND_MASK (0: none, or channel 0 provisioned).
uint8_t ics_provision_get_channel(uint16_t band_mask);
// The same, without a journal line (for debug views).
uint8_t ics_provisioned_channel(uint16_t band_mask);

// ---- Channels and bandwidths ----------------------------------------------------------------
// Stack bandwidth codes: 1 20, 2 40, 3 80, 4 160, 5 320 MHz. MHz of CODE, -1 for others.
int ics_bandwidth_mhz(uint8_t code);
// 1 when CHANNEL is a 20 MHz channel of BAND_MASK that some operating class of that band at
// the bandwidth BW covers; 0 otherwise (unknown mask, channel, or bandwidth).
int ics_is_valid_radio_channel_bw(uint16_t band_mask, uint8_t channel, uint8_t bw);
// Platform bandwidth (0..4: 20..320 MHz) to the stack's code (1..5); 0 for others.
uint8_t ics_translate_nal_bandwidth_to_map_bandwidth(uint32_t nal_bw);

// Default channel, bandwidth and time of configuration of a band. 0; -1 for an unknown
// mask. Journal: "mask" and "channel" / "bw" / "ms".
int ics_set_default_channel(uint16_t band_mask, uint8_t channel);
int ics_set_default_bandwidth(uint16_t band_mask, uint8_t bw);
int ics_set_default_cfg_time(uint16_t band_mask);
struct ics_band_defaults_t {
    uint8_t channel = 0;
    uint8_t bw = 0;
    long long cfg_ms = 0;  // 0: never configured
};
// The defaults of BAND_MASK (all zero when unknown or never set).
ics_band_defaults_t ics_get_band_defaults(uint16_t band_mask);

// Whether a channel set on BAND_MASK is also set on the additional band (platform.json
// "ics-additional-band" names BAND_MASK as its "from"). Journal: "mask", "channel", "bw",
// "allow".
bool ics_is_allow_sync_the_channel_and_bandwidth_to_additional_band(uint16_t band_mask,
                                                                    uint8_t channel, uint8_t bw);
// The additional band's stack band mask ("to"), 0 when none is configured.
uint16_t ics_get_mix_mesh_5g_channel_additional_dst_band();

// The stack band mask of a band name ("2.4g", "5g", "5g-low", "5g-high", "6g"), 0 for others;
// and the name of a mask ("" for others).
uint16_t ics_band_mask_of_name(const std::string& name);
const char* ics_band_name(uint16_t band_mask);

// ---- Available channels -----------------------------------------------------------------------
enum : uint8_t {
    ICS_CHANNEL_AVAILABLE = 0,
    ICS_CHANNEL_CAC_REQUIRED = 1,
    ICS_CHANNEL_RADAR = 2,
    ICS_CHANNEL_NOT_ALLOWED = 3,
};
struct ics_available_channel_t {
    uint8_t channel = 0;
    uint8_t op_class = 0;  // its 20 MHz class
    uint8_t state = ICS_CHANNEL_AVAILABLE;
    uint8_t bw_mask = 0;  // bit 0 20, 1 40, 2 80, 3 160, 4 320 MHz
    uint8_t preference = 0;
    int8_t max_eirp = 0;
    uint16_t non_occupancy_s = 0;
};
// The available channels of the radio RADIO_ID (data model) into OUT, at most CAP. Their
// count, or -1 when the radio is unknown or OUT is null. Journal: "radio", "mask", "count".
int ics_get_available_channel(const MAC& radio_id, ics_available_channel_t* out, int cap);

// ---- Radios and their Operating Channel Reports ------------------------------------------------
// The service's handle of RADIO (also stored in its chan_sel_handle); the same handle for the
// same radio id. Null for null or when the service follows kIcsMaxRadios radios already
// (radios that left the data model are forgotten first).
constexpr size_t kIcsMaxRadios = 256;
void* ics_attach_radio(map_radio_info_t* radio);
// Takes the radio's report: operating class, channel and transmit power now in use. 0; -1
// for null arguments or a report for another radio. Journal: "radio", "op_class",
// "channel", "tx_power".
int ics_operating_channel_report(void* handle, const operating_channel_report_tlv* tlv);
// True when the last report moved the radio to another channel or bandwidth than the report
// before it (the first report is not a change).
bool ics_is_current_channel_change(void* handle);
// The channel and bandwidth code in use into EVENT (other bytes zero; radio id left as is).
// 0; -1 for null or before the first report.
int ics_get_current_channel(void* handle, channel_selection_request_event_t* event);
// Forgets everything (tests).
void ics_reset();

// ---- The platform's previous channel --------------------------------------------------------
// Platform band bits and bandwidths (0..4: 20, 40, 80, 160, 320 MHz).
enum : uint32_t {
    NAL_BAND_2G = 0x01,
    NAL_BAND_5G_LOW = 0x02,
    NAL_BAND_5G_HIGH = 0x04,
    NAL_BAND_5G = 0x08,
    NAL_BAND_6G = 0x10,
};
#pragma pack(push, 1)
struct NalRadioChannel_T {
    uint32_t band;  // NAL_BAND_*
    uint32_t bw;    // 0..4
    uint32_t channel;
};
#pragma pack(pop)
static_assert(sizeof(NalRadioChannel_T) == 12, "three packed words");
// Stores the channel the platform restores after a restart. 0; -1 for null.
// Journal: "band", "bw", "channel".
int nal_setPreviousChannel(const NalRadioChannel_T* channel);
// The last one stored for BAND (zero record when none).
NalRadioChannel_T nal_getPreviousChannel(uint32_t band);

// ---- Product mode ----------------------------------------------------------------------------
// platform.json "mesh-for-mobile-app-only" is true.
bool isMeshForMobileAppOnly();
