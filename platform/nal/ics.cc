#include "nal/ics.h"

#include <rapidjson/document.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

#include "common/clock.h"
#include "map/codec/tlvs.h"
#include "map/datamodel/datamodel.h"
#include "map/datamodel/opclass_table.h"
#include "nal/journal.h"
#include "nal/nal.h"
#include "nal/platform_file.h"

namespace {

using map_dm::OpBand;
using map_dm::OpClassDef;

constexpr int kMaxClassChannels = 64;

struct BandInfo {
    uint16_t mask;
    const char* name;
    OpBand band;
    uint8_t lo, hi;  // channel range of the band
};
const BandInfo kBands[] = {
    {0x10, "2.4g", OpBand::G2, 1, 14},       {0x20, "5g-low", OpBand::G5, 36, 64},
    {0x40, "5g-high", OpBand::G5, 100, 177}, {0x80, "5g", OpBand::G5, 36, 177},
    {0x100, "6g", OpBand::G6, 1, 233},
};

const BandInfo* band_info(uint16_t mask) {
    for (const BandInfo& b : kBands)
        if (b.mask == mask)
            return &b;
    return nullptr;
}

struct Radio {
    MAC id;
    bool reported = false;
    bool changed = false;
    uint8_t op_class = 0, channel = 0, bw = 0, tx_power = 0;
};

struct State {
    std::map<uint16_t, std::array<uint8_t, kIcsProvisionSize>> channel_records, power_records;
    std::map<uint16_t, ics_band_defaults_t> defaults;
    std::map<MAC, std::unique_ptr<Radio>> radios;
    std::map<uint32_t, NalRadioChannel_T> previous;
};

State& state() {
    static State s;
    return s;
}

// Classes listing centre channels: the wide ones, and every wide 6 GHz one.
bool centre_based(const OpClassDef& def) {
    return def.bandwidth_mhz >= 80 || (def.band == OpBand::G6 && def.bandwidth_mhz > 20);
}

bool covers(const OpClassDef& def, uint8_t listed, uint8_t primary) {
    if (!centre_based(def))
        return listed == primary;
    const int half_span = def.bandwidth_mhz / 10;  // in channel numbers
    return std::abs(static_cast<int>(primary) - static_cast<int>(listed)) < half_span;
}

// What the global class table says of each channel number of each band, built once from
// it: the first 20 MHz class listing the channel, and the widths (bit 0 20 MHz .. bit 4
// 320 MHz) at which some class of the band covers it. 1.5 KiB; it spares the checks a
// walk of every class for every channel and width.
constexpr int kWidthsMhz[] = {20, 40, 80, 160, 320};
struct ChannelIndex {
    uint8_t class_20[3][256] = {};
    uint8_t widths[3][256] = {};
};

const ChannelIndex& channel_index() {
    static const ChannelIndex index = [] {
        ChannelIndex x;
        for (int oc = 81; oc < 256; ++oc) {
            const OpClassDef* def = map_dm::find_op_class(static_cast<uint8_t>(oc));
            if (def == nullptr)
                continue;
            int w = 0;
            while (w < 5 && kWidthsMhz[w] != def->bandwidth_mhz)
                ++w;
            const auto band = static_cast<size_t>(def->band);
            uint8_t chans[kMaxClassChannels];
            const int n = map_dm::global_op_class_channels(*def, chans, kMaxClassChannels);
            for (int i = 0; i < n; ++i) {
                if (def->bandwidth_mhz == 20 && x.class_20[band][chans[i]] == 0)
                    x.class_20[band][chans[i]] = def->op_class;
                if (w == 5)
                    continue;
                for (int ch = 0; ch < 256; ++ch)
                    if (covers(*def, chans[i], static_cast<uint8_t>(ch)))
                        x.widths[band][ch] = static_cast<uint8_t>(x.widths[band][ch] | (1U << w));
            }
        }
        return x;
    }();
    return index;
}

// The 20 MHz class of BAND holding CHANNEL (0 when none).
uint8_t class_20(OpBand band, uint8_t channel) {
    return channel_index().class_20[static_cast<size_t>(band)][channel];
}

// The widths at which CHANNEL is a channel of B (bits as above; 0 when it is none).
uint8_t width_mask(const BandInfo& b, uint8_t channel) {
    if (channel < b.lo || channel > b.hi || class_20(b.band, channel) == 0)
        return 0;
    return channel_index().widths[static_cast<size_t>(b.band)][channel];
}

bool valid(const BandInfo& b, uint8_t channel, int mhz) {
    for (int w = 0; w < 5; ++w)
        if (kWidthsMhz[w] == mhz)
            return (width_mask(b, channel) >> w & 1U) != 0;
    return false;
}

uint8_t code_of_mhz(int mhz) {
    switch (mhz) {
        case 20:
            return 1;
        case 40:
            return 2;
        case 80:
            return 3;
        case 160:
            return 4;
        case 320:
            return 5;
        default:
            return 0;
    }
}

uint8_t state_of_name(const char* s) {
    if (std::strcmp(s, "cac-required") == 0)
        return ICS_CHANNEL_CAC_REQUIRED;
    if (std::strcmp(s, "radar") == 0)
        return ICS_CHANNEL_RADAR;
    if (std::strcmp(s, "not-allowed") == 0)
        return ICS_CHANNEL_NOT_ALLOWED;
    return ICS_CHANNEL_AVAILABLE;
}

bool dfs_channel(OpBand band, uint8_t channel) {
    return band == OpBand::G5 && channel >= 52 && channel <= 144;
}

// The channels of band B that LISTED (platform.json, one band's array) names into OUT, at
// most CAP; their count.
int listed_channels(const BandInfo& b, const rapidjson::Value& listed, ics_available_channel_t* out,
                    int cap) {
    int n = 0;
    for (const auto& v : listed.GetArray()) {
        if (n >= cap)
            break;
        ics_available_channel_t c;
        if (v.IsUint()) {
            c.channel = static_cast<uint8_t>(v.GetUint() & 0xFF);
            if (v.GetUint() > 255)
                continue;
        } else if (v.IsObject() && v.HasMember("channel") && v["channel"].IsUint() &&
                   v["channel"].GetUint() <= 255) {
            c.channel = static_cast<uint8_t>(v["channel"].GetUint());
            if (v.HasMember("state") && v["state"].IsString())
                c.state = state_of_name(v["state"].GetString());
            if (v.HasMember("preference") && v["preference"].IsUint())
                c.preference = static_cast<uint8_t>(v["preference"].GetUint() & 0x0F);
            if (v.HasMember("non-occupancy-s") && v["non-occupancy-s"].IsUint())
                c.non_occupancy_s =
                    static_cast<uint16_t>(std::min(v["non-occupancy-s"].GetUint(), 65535U));
        } else {
            continue;
        }
        c.op_class = class_20(b.band, c.channel);
        if (c.op_class == 0)
            continue;  // not a channel of the band
        if (!(v.IsObject() && v.HasMember("preference")))
            c.preference = c.state == ICS_CHANNEL_AVAILABLE ? 15 : 0;
        c.bw_mask = width_mask(b, c.channel);
        out[n++] = c;
    }
    return n;
}

}  // namespace

// ---- Provisioning ---------------------------------------------------------------------------

int ics_provision(const uint8_t* record, size_t len) {
    JournalLine j = nal_journal(__func__);
    if (record == nullptr || len != kIcsProvisionSize) {
        j.num("len", static_cast<long long>(len)).num("rc", -1);
        return -1;
    }
    const uint16_t mask = static_cast<uint16_t>(record[0] | (record[1] << 8));
    const uint8_t kind = record[2];
    const uint8_t channel = kind == ICS_KIND_CHANNEL ? record[7] : 0;
    const uint8_t bw = kind == ICS_KIND_CHANNEL ? record[5] : 0;
    j.num("mask", mask).num("kind", kind).num("channel", channel).num("bw", bw);
    // The meaningful part of the record: up to byte 31 (the rest is zero).
    j.hex("hex", record, 32);
    const BandInfo* b = band_info(mask);
    int rc = 0;
    if (b == nullptr || (kind != ICS_KIND_CHANNEL && kind != ICS_KIND_TXPOWER)) {
        rc = -1;
    } else if (kind == ICS_KIND_CHANNEL && channel != 0 &&
               (channel < b->lo || channel > b->hi || class_20(b->band, channel) == 0)) {
        rc = -1;
    } else {
        auto& slot =
            (kind == ICS_KIND_CHANNEL ? state().channel_records : state().power_records)[mask];
        std::memcpy(slot.data(), record, kIcsProvisionSize);
    }
    j.num("rc", rc);
    return rc;
}

uint8_t ics_provisioned_channel(uint16_t band_mask) {
    auto it = state().channel_records.find(band_mask);
    return it == state().channel_records.end() ? 0 : it->second[7];
}

uint8_t ics_provision_get_channel(uint16_t band_mask) {
    const uint8_t ch = ics_provisioned_channel(band_mask);
    nal_journal(__func__).num("mask", band_mask).num("channel", ch);
    return ch;
}

// ---- Channels and bandwidths ----------------------------------------------------------------

int ics_bandwidth_mhz(uint8_t code) {
    switch (code) {
        case 1:
            return 20;
        case 2:
            return 40;
        case 3:
            return 80;
        case 4:
            return 160;
        case 5:
            return 320;
        default:
            return -1;
    }
}

int ics_is_valid_radio_channel_bw(uint16_t band_mask, uint8_t channel, uint8_t bw) {
    const BandInfo* b = band_info(band_mask);
    const int mhz = ics_bandwidth_mhz(bw);
    const int ok = b != nullptr && mhz > 0 && valid(*b, channel, mhz) ? 1 : 0;
    nal_journal(__func__)
        .num("mask", band_mask)
        .num("channel", channel)
        .num("bw", bw)
        .num("valid", ok);
    return ok;
}

uint8_t ics_translate_nal_bandwidth_to_map_bandwidth(uint32_t nal_bw) {
    return nal_bw <= 4 ? static_cast<uint8_t>(nal_bw + 1) : 0;
}

int ics_set_default_channel(uint16_t band_mask, uint8_t channel) {
    const bool known = band_info(band_mask) != nullptr;
    if (known)
        state().defaults[band_mask].channel = channel;
    nal_journal(__func__).num("mask", band_mask).num("channel", channel).num("rc", known ? 0 : -1);
    return known ? 0 : -1;
}

int ics_set_default_bandwidth(uint16_t band_mask, uint8_t bw) {
    const bool known = band_info(band_mask) != nullptr;
    if (known)
        state().defaults[band_mask].bw = bw;
    nal_journal(__func__).num("mask", band_mask).num("bw", bw).num("rc", known ? 0 : -1);
    return known ? 0 : -1;
}

int ics_set_default_cfg_time(uint16_t band_mask) {
    const bool known = band_info(band_mask) != nullptr;
    const long long now = get_current_time_ms();
    if (known)
        state().defaults[band_mask].cfg_ms = now;
    nal_journal(__func__).num("mask", band_mask).num("ms", now).num("rc", known ? 0 : -1);
    return known ? 0 : -1;
}

ics_band_defaults_t ics_get_band_defaults(uint16_t band_mask) {
    auto it = state().defaults.find(band_mask);
    return it == state().defaults.end() ? ics_band_defaults_t{} : it->second;
}

namespace {
// The additional band pair of platform.json (0, 0 when none or malformed).
std::pair<uint16_t, uint16_t> additional_band() {
    uint16_t f = 0, t = 0;
    nal_platform_with("ics-additional-band", [&](const rapidjson::Value& doc) {
        if (!doc.IsObject())
            return false;
        auto from = doc.FindMember("from");
        auto to = doc.FindMember("to");
        if (from == doc.MemberEnd() || to == doc.MemberEnd() || !from->value.IsString() ||
            !to->value.IsString())
            return false;
        f = ics_band_mask_of_name(from->value.GetString());
        t = ics_band_mask_of_name(to->value.GetString());
        return true;
    });
    if (f == 0 || t == 0 || f == t)
        return {0, 0};
    return {f, t};
}
}  // namespace

bool ics_is_allow_sync_the_channel_and_bandwidth_to_additional_band(uint16_t band_mask,
                                                                    uint8_t channel, uint8_t bw) {
    const auto pair = additional_band();
    const bool allow = pair.first != 0 && pair.first == band_mask && channel != 0;
    nal_journal(__func__)
        .num("mask", band_mask)
        .num("channel", channel)
        .num("bw", bw)
        .num("allow", allow ? 1 : 0);
    return allow;
}

uint16_t ics_get_mix_mesh_5g_channel_additional_dst_band() {
    return additional_band().second;
}

uint16_t ics_band_mask_of_name(const std::string& name) {
    for (const BandInfo& b : kBands)
        if (name == b.name)
            return b.mask;
    return 0;
}

const char* ics_band_name(uint16_t band_mask) {
    const BandInfo* b = band_info(band_mask);
    return b ? b->name : "";
}

// ---- Available channels -----------------------------------------------------------------------

int ics_get_available_channel(const MAC& radio_id, ics_available_channel_t* out, int cap) {
    const map_radio_info_t* radio = get_radio(radio_id);
    if (radio == nullptr || out == nullptr || cap <= 0) {
        nal_journal(__func__).str("radio", radio_id.to_string()).num("count", -1);
        return -1;
    }
    const BandInfo* b = band_info(radio->band_mask);
    int n = 0;
    // The channels platform.json lists for the band, else those the radio reported.
    const bool listed =
        b != nullptr &&
        nal_platform_with("ics-available-channels", [&](const rapidjson::Value& doc) {
            if (!doc.IsObject())
                return false;
            auto it = doc.FindMember(b->name);
            if (it == doc.MemberEnd() || !it->value.IsArray())
                return false;
            n = listed_channels(*b, it->value, out, cap);
            return true;
        });
    if (!listed && b != nullptr) {
        // From the radio's reported 20 MHz operating classes.
        for (uint8_t i = 0; i < radio->num_op_classes && i < MAP_MAX_OP_CLASSES_PER_RADIO; ++i) {
            const map_op_class_info_t& oc = radio->op_classes[i];
            const OpClassDef* def = map_dm::find_op_class(oc.op_class);
            if (def == nullptr || def->bandwidth_mhz != 20)
                continue;
            for (uint8_t k = 0; k < oc.num_channels && k < MAP_MAX_CHANNELS_PER_OP_CLASS && n < cap;
                 ++k) {
                ics_available_channel_t c;
                c.channel = oc.channels[k];
                c.op_class = oc.op_class;
                c.max_eirp =
                    static_cast<int8_t>(oc.max_tx_power_eirp > 127 ? 127 : oc.max_tx_power_eirp);
                c.state = dfs_channel(def->band, c.channel) ? ICS_CHANNEL_CAC_REQUIRED
                                                            : ICS_CHANNEL_AVAILABLE;
                c.preference = c.state == ICS_CHANNEL_AVAILABLE ? 15 : 7;
                c.bw_mask = width_mask(*b, c.channel);
                out[n++] = c;
            }
            for (uint8_t k = 0;
                 k < oc.num_non_operable && k < MAP_MAX_CHANNELS_PER_OP_CLASS && n < cap; ++k) {
                ics_available_channel_t c;
                c.channel = oc.non_operable_channels[k];
                c.op_class = oc.op_class;
                c.state = ICS_CHANNEL_NOT_ALLOWED;
                out[n++] = c;
            }
        }
    }
    nal_journal(__func__)
        .str("radio", radio_id.to_string())
        .num("mask", radio->band_mask)
        .num("count", n);
    return n;
}

// ---- Radios -------------------------------------------------------------------------------------

void* ics_attach_radio(map_radio_info_t* radio) {
    if (radio == nullptr)
        return nullptr;
    auto& radios = state().radios;
    auto it = radios.find(radio->radio_id);
    if (it == radios.end()) {
        if (radios.size() >= kIcsMaxRadios) {
            for (auto r = radios.begin(); r != radios.end();) {
                if (get_radio(r->first) == nullptr)
                    r = radios.erase(r);
                else
                    ++r;
            }
            if (radios.size() >= kIcsMaxRadios)
                return nullptr;
        }
        auto r = std::make_unique<Radio>();
        r->id = radio->radio_id;
        it = radios.emplace(radio->radio_id, std::move(r)).first;
    }
    radio->chan_sel_handle = it->second.get();
    return radio->chan_sel_handle;
}

int ics_operating_channel_report(void* handle, const operating_channel_report_tlv* tlv) {
    auto* r = static_cast<Radio*>(handle);
    if (r == nullptr || tlv == nullptr || tlv->radio_id != r->id)
        return -1;
    // The widest class reported gives the bandwidth; its channel (or the 20 MHz one) the
    // primary channel.
    // The widest class reported gives the bandwidth; a 20 or 40 MHz class (which list
    // primary channels) the primary channel, else the centre channel of a wide one.
    uint8_t op_class = 0, primary = 0, centre = 0;
    int widest = 0;
    for (const auto& oc : tlv->op_classes) {
        const OpClassDef* def = map_dm::find_op_class(oc.op_class);
        const int mhz = def ? def->bandwidth_mhz : 20;
        if (def == nullptr || !centre_based(*def)) {
            if (primary == 0 || mhz == 20)
                primary = oc.channel;
        } else if (centre == 0) {
            centre = oc.channel;
        }
        if (mhz > widest) {
            widest = mhz;
            op_class = oc.op_class;
        }
    }
    const uint8_t channel = primary != 0 ? primary : centre;
    const uint8_t bw = code_of_mhz(widest);
    r->changed = r->reported && (channel != r->channel || bw != r->bw);
    r->reported = true;
    r->op_class = op_class;
    r->channel = channel;
    r->bw = bw;
    r->tx_power = tlv->current_tx_power_eirp;
    nal_journal(__func__)
        .str("radio", r->id.to_string())
        .num("op_class", op_class)
        .num("channel", channel)
        .num("bw", bw)
        .num("tx_power", r->tx_power)
        .num("changed", r->changed ? 1 : 0);
    return 0;
}

bool ics_is_current_channel_change(void* handle) {
    const auto* r = static_cast<const Radio*>(handle);
    return r != nullptr && r->changed;
}

int ics_get_current_channel(void* handle, channel_selection_request_event_t* event) {
    const auto* r = static_cast<const Radio*>(handle);
    if (r == nullptr || event == nullptr || !r->reported)
        return -1;
    uint8_t id[6];
    std::memcpy(id, event->radio_id, sizeof id);
    std::memset(event, 0, sizeof *event);
    std::memcpy(event->radio_id, id, sizeof id);
    event->channel = r->channel;
    event->bandwidth = r->bw;
    return 0;
}

void ics_reset() {
    state() = State{};
}

// ---- Previous channel, product mode
// --------------------------------------------------------------

int nal_setPreviousChannel(const NalRadioChannel_T* channel) {
    if (channel == nullptr)
        return -1;
    const NalRadioChannel_T c = *channel;
    state().previous[c.band] = c;
    nal_journal(__func__).num("band", c.band).num("bw", c.bw).num("channel", c.channel);
    return 0;
}

NalRadioChannel_T nal_getPreviousChannel(uint32_t band) {
    auto it = state().previous.find(band);
    return it == state().previous.end() ? NalRadioChannel_T{} : it->second;
}

bool isMeshForMobileAppOnly() {
    return nal_platform_with("mesh-for-mobile-app-only",
                             [](const rapidjson::Value& v) { return v.IsBool() && v.GetBool(); });
}
