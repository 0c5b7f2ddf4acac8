// Channel Selection Requests built from the management software's channel
// and transmit power events, and their re-sending to an agent that came back.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "common/clock.h"
#include "map/codec/cmdu_alloc.h"
#include "map/codec/tlv_types.h"
#include "map/datamodel/datamodel.h"
#include "map/datamodel/opclass_table.h"
#include "map/map_config.h"
#include "map/map_log.h"
#include "map/map_send.h"

namespace {

using map_dm::OpBand;
using map_dm::OpClassDef;

constexpr uint8_t kNonOperable = 0x00;  // preference 0 in bits 7-4, no reason
constexpr int kMaxClassChannels = 64;

std::vector<channel_selection_request_event_t>& remembered() {
    static std::vector<channel_selection_request_event_t> events;
    return events;
}

void remember(const channel_selection_request_event_t& ev) {
    auto& events = remembered();
    events.erase(std::remove_if(events.begin(), events.end(),
                                [&](const channel_selection_request_event_t& e) {
                                    return MAC(e.radio_id) == MAC(ev.radio_id);
                                }),
                 events.end());
    if (events.size() >= kMaxRememberedChannelEvents) {
        events.erase(events.begin());
    }
    events.push_back(ev);
}

int bandwidth_mhz(uint8_t code) {
    switch (code) {
        case 0:
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

OpBand band_of(const map_radio_info_t& radio, uint8_t channel) {
    if (radio.band_mask & MAP_BAND_MASK_6G) {
        return OpBand::G6;
    }
    if (radio.band_mask & MAP_BAND_MASK_2G) {
        return OpBand::G2;
    }
    if (radio.band_mask != 0) {
        return OpBand::G5;
    }
    return channel <= 14 ? OpBand::G2 : OpBand::G5;
}

// Classes listing centre channels: the wide ones, and every wide 6 GHz one.
bool centre_based(const OpClassDef& def) {
    return def.bandwidth_mhz >= 80 || (def.band == OpBand::G6 && def.bandwidth_mhz > 20);
}

bool covers(const OpClassDef& def, uint8_t listed, uint8_t primary) {
    if (!centre_based(def)) {
        return listed == primary;
    }
    const int half_span = def.bandwidth_mhz / 10;  // in channel numbers
    return std::abs(static_cast<int>(primary) - static_cast<int>(listed)) < half_span;
}

// The Channel Preference TLV leaving only PRIMARY at MHZ operable in BAND.
bool build_preference(const MAC& radio_id, OpBand band, int mhz, uint8_t primary,
                      channel_preference_tlv* out) {
    out->radio_id = radio_id;
    bool found = false;
    for (int oc = 1; oc < 256; ++oc) {
        const OpClassDef* def = map_dm::find_op_class(static_cast<uint8_t>(oc));
        if (def == nullptr || def->band != band) {
            continue;
        }
        uint8_t chans[kMaxClassChannels];
        const int n = map_dm::global_op_class_channels(*def, chans, kMaxClassChannels);
        channel_preference_tlv::op_class entry;
        entry.op_class = def->op_class;
        entry.preference = kNonOperable;
        bool target_here = false;
        if (!found && def->bandwidth_mhz == mhz) {
            for (int i = 0; i < n; ++i) {
                if (covers(*def, chans[i], primary)) {
                    target_here = true;
                } else {
                    entry.channels.push_back(chans[i]);
                }
            }
        }
        if (target_here) {
            found = true;
            if (entry.channels.empty()) {
                continue;  // the class holds only the target: nothing to exclude
            }
        } else {
            entry.channels.clear();  // no channel listed: the whole class
        }
        entry.num_channels = static_cast<uint8_t>(entry.channels.size());
        out->op_classes.push_back(std::move(entry));
    }
    out->num_op_classes = static_cast<uint8_t>(out->op_classes.size());
    return found;
}

int send_event(const channel_selection_request_event_t& ev) {
    const MAC radio_id(ev.radio_id);
    const map_radio_info_t* radio = get_radio(radio_id);
    if (radio == nullptr || radio->ale == nullptr) {
        map_log(MAP_LOG_CONTROLLER, 3, "%s: unknown radio %s", __func__,
                radio_id.to_string().c_str());
        return -1;
    }
    if (ev.channel == 0 && ev.tx_power == 0) {
        return -1;
    }
    CmduBuilder b(CMDU_TYPE_CHANNEL_SELECTION_REQUEST, 0);
    if (ev.channel != 0) {
        const int mhz = bandwidth_mhz(ev.bandwidth);
        channel_preference_tlv pref;
        if (mhz < 0 ||
            !build_preference(radio_id, band_of(*radio, ev.channel), mhz, ev.channel, &pref)) {
            map_log(MAP_LOG_CONTROLLER, 3, "%s: channel %u at bandwidth code %u not usable",
                    __func__, ev.channel, ev.bandwidth);
            return -1;
        }
        b.add(pref);
    }
    if (ev.tx_power != 0) {
        transmit_power_limit_tlv power;
        power.radio_id = radio_id;
        power.tx_power_limit_eirp = ev.tx_power;
        b.add(power);
    }
    CmduPtr cmdu = b.build();
    if (!cmdu) {
        return MAP_SEND_ENCODE;
    }
    const MAC agent = radio->ale->al_mac;
    const int rc = lib1905_send(nullptr, nullptr, agent, cmdu.get(), nullptr);
    if (rc == 0) {
        if (map_ale_info_t* ale = get_ale(agent)) {
            ale->first_chan_sel_req_done = 1;
            ale->last_chan_sel_req_ms = get_current_time_ms();
        }
    }
    return rc;
}

}  // namespace

int set_channel_selection_request_event(const channel_selection_request_event_t* event) {
    if (event == nullptr) {
        return -1;
    }
    const int rc = send_event(*event);
    if (rc == 0) {
        remember(*event);
    }
    return rc;
}

int rework_chn_sel(const MAC& al_mac) {
    if (get_ale(al_mac) == nullptr) {
        return -1;
    }
    int sent = 0;
    for (const auto& ev : remembered()) {
        const map_radio_info_t* radio = get_radio(MAC(ev.radio_id));
        if (radio != nullptr && radio->ale != nullptr && radio->ale->al_mac == al_mac &&
            send_event(ev) == 0) {
            ++sent;
        }
    }
    return sent > 0 ? 0 : -1;
}

size_t remembered_channel_events() {
    return remembered().size();
}

void map_channel_events_clear() {
    remembered().clear();
}
