#include "configuration/radio_bands.h"

#include <cstring>

#include "core/context.h"
#include "core/log.h"

namespace {

struct BandRow {
    int band;
    uint8_t radio_index;
    uint16_t band_mask;
    uint32_t nal_band;
};
const BandRow kBandTable[] = {
    {FREQ_BAND_2G, 0, 0x10, NAL_BAND_2G},         {FREQ_BAND_5G, 1, 0x80, NAL_BAND_5G},
    {FREQ_BAND_5G_LOW, 1, 0x40, NAL_BAND_5G_LOW}, {FREQ_BAND_5G_HIGH, 1, 0x20, NAL_BAND_5G_HIGH},
    {FREQ_BAND_6G, 2, 0x100, NAL_BAND_6G},
};

const BandRow* row_of_band(int band) {
    for (const BandRow& r : kBandTable)
        if (r.band == band)
            return &r;
    return nullptr;
}

// Without a logger of its own a conversion logs on the configuration minder's.
const Logger* pick(const Logger* log) {
    if (log)
        return log;
    Context* c = Context::instance();
    return c && c->config_minder ? c->config_minder->logger() : nullptr;
}

}  // namespace

int transfer_ozr_freq_band(int band, uint8_t* radio_index, uint16_t* band_mask, const Logger* log) {
    if (radio_index == nullptr || band_mask == nullptr) {
        OZR_ERROR(pick(log), "{}:{} - input parameter point is NULL.\n", __func__, __LINE__);
        return -1;
    }
    const BandRow* r = row_of_band(band);
    if (r == nullptr) {
        OZR_ERROR(pick(log), "{}:{} - ozr_freq_band {} is invalid.", __func__, __LINE__, band);
        return -1;
    }
    *radio_index = r->radio_index;
    *band_mask = r->band_mask;
    return 0;
}

int transfer_map_freq_band(uint16_t band_mask, uint8_t* radio_index, frequent_band_type* band,
                           const Logger* log) {
    for (const BandRow& r : kBandTable) {
        if (r.band_mask != band_mask)
            continue;
        if (radio_index)
            *radio_index = r.radio_index;
        if (band)
            *band = static_cast<frequent_band_type>(r.band);
        return 0;
    }
    OZR_ERROR(pick(log), "{}:{} - map_freq_band {} is invalid.\n", __func__, __LINE__, band_mask);
    return -1;
}

uint32_t nal_band_of(int band) {
    const BandRow* r = row_of_band(band);
    return r ? r->nal_band : 0;
}

int get_band_width(int bandwidth_type, int* mhz, const Logger* log) {
    if (mhz == nullptr) {
        OZR_ERROR(pick(log), "{}:{} - input bw point is NULL.\n", __func__, __LINE__);
        return -1;
    }
    static const int kMhz[] = {20, 40, 80, 160};
    if (bandwidth_type < 1 || bandwidth_type > 4) {
        OZR_ERROR(pick(log), "{}:{} - input invalid bandwidth: {}\n", __func__, __LINE__,
                  bandwidth_type);
        return -1;
    }
    *mhz = kMhz[bandwidth_type - 1];
    return 0;
}

uint8_t translate_kpl_bw_to_map_bw(uint8_t bw, const Logger* log) {
    if (bw >= 1 && bw <= 5)
        return bw;
    OZR_ERROR(pick(log), "{}:{} - input invalid bandwidth: {}", __func__, __LINE__, bw);
    return 0;
}

int kpl_bw_to_nal_bw(uint8_t bw) {
    return bw >= 1 && bw <= 5 ? bw - 1 : -1;
}

int transfer_channel_selection_channel_result(int result,
                                              channel_selection_set_response_result* out,
                                              const Logger* log) {
    if (out == nullptr || result < 0 || result > 3) {
        OZR_ERROR(pick(log), "{}:{} - input invalid result: {}.", __func__, __LINE__, result);
        return -1;
    }
    *out = static_cast<channel_selection_set_response_result>(result);
    return 0;
}

bool to_nal_radio_channel(const ozr_channel_configuration_t& cfg, NalRadioChannel_T* out) {
    const uint32_t band = nal_band_of(cfg.band);
    const int bw = kpl_bw_to_nal_bw(cfg.bandwidth);
    if (out == nullptr || band == 0 || bw < 0)
        return false;
    out->band = band;
    out->bw = static_cast<uint32_t>(bw);
    out->channel = cfg.channel;
    return true;
}

channel_selection_request_event_t channel_event_of(const ozr_channel_configuration_t& cfg) {
    channel_selection_request_event_t ev{};
    ev.channel = cfg.channel;
    ev.bandwidth = cfg.bandwidth;
    ev.extra_first = cfg.extra_first;
    ev.second_channel = cfg.second_channel;
    ev.extra_int_low = static_cast<uint8_t>(cfg.extra_int & 0xFF);
    ev.extra_last = cfg.extra_last;
    return ev;
}

void fill_channel_provision(const ozr_channel_configuration_t& cfg, uint16_t band_mask,
                            uint8_t* out) {
    std::memset(out, 0, kIcsProvisionSize);
    out[0] = static_cast<uint8_t>(band_mask & 0xFF);
    out[1] = static_cast<uint8_t>(band_mask >> 8);
    out[2] = ICS_KIND_CHANNEL;
    out[4] = 1;
    out[5] = cfg.bandwidth;
    out[6] = 2;
    out[7] = cfg.channel;
    out[8] = cfg.second_channel;
    out[31] = cfg.extra_first != 0 ? cfg.extra_first : 0xF0;
}

void fill_txpower_provision(uint8_t tx_power, uint16_t band_mask, uint8_t* out) {
    std::memset(out, 0, kIcsProvisionSize);
    out[0] = static_cast<uint8_t>(band_mask & 0xFF);
    out[1] = static_cast<uint8_t>(band_mask >> 8);
    out[2] = ICS_KIND_TXPOWER;
    out[3] = tx_power;
}
