// The three band encodings that meet in channel configuration (the controller's
// frequent_band_type, the stack's radio index and band mask, the platform's band bit),
// bandwidth codes, and the records built from a channel request.
#pragma once

#include <cstddef>
#include <cstdint>

#include "configuration/configuration_minder.h"
#include "map/map_config.h"
#include "nal/ics.h"

class Logger;

// frequent_band_type -> stack radio index and band mask. -1 ("... is invalid.") for a band
// outside 0..4, -1 for a null output.
int transfer_ozr_freq_band(int band, uint8_t* radio_index, uint16_t* band_mask,
                           const Logger* log = nullptr);
// Stack band mask -> radio index and frequent_band_type. -1 for another mask.
int transfer_map_freq_band(uint16_t band_mask, uint8_t* radio_index, frequent_band_type* band,
                           const Logger* log = nullptr);
// frequent_band_type -> the platform's band bit (NAL_BAND_*), 0 for others.
uint32_t nal_band_of(int band);

// bandwidth_type 1..4 -> 20, 40, 80, 160 MHz. -1 for others or a null output.
int get_band_width(int bandwidth_type, int* mhz, const Logger* log = nullptr);
// The controller's bandwidth code 1..5 passes unchanged; others become 0 (logged).
uint8_t translate_kpl_bw_to_map_bw(uint8_t bw, const Logger* log = nullptr);
// The controller's bandwidth code 1..5 -> the platform's 0..4; -1 for others.
int kpl_bw_to_nal_bw(uint8_t bw);
// Result codes 0..3 are copied; others refused (-1).
int transfer_channel_selection_channel_result(int result,
                                              channel_selection_set_response_result* out,
                                              const Logger* log = nullptr);

// The request as the platform's previous channel. False for a band or bandwidth it cannot
// express.
bool to_nal_radio_channel(const ozr_channel_configuration_t& cfg, NalRadioChannel_T* out);

// The channel selection event of a channel request (radio id left zero).
channel_selection_request_event_t channel_event_of(const ozr_channel_configuration_t& cfg);
// The provisioning record of a channel request (kind 1) for BAND_MASK, into OUT
// (kIcsProvisionSize bytes).
void fill_channel_provision(const ozr_channel_configuration_t& cfg, uint16_t band_mask,
                            uint8_t* out);
// The provisioning record of a transmit power request (kind 2).
void fill_txpower_provision(uint8_t tx_power, uint16_t band_mask, uint8_t* out);
