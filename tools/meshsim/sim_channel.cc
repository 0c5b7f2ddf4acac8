// What an agent does with the controller's channel, transmit power and reporting policy:
// a Channel Selection Request moves each radio it names to the one channel it leaves
// operable and to its transmit power limit, answered per radio and followed by an
// Operating Channel Report; a timeline event moves a radio by itself (radar, the user)
// and reports it unasked; a Policy Config Request's AP metrics reporting interval makes
// the agent send AP Metrics Responses on its own.
#include <algorithm>
#include <set>
#include <string>

#include "common/clock.h"
#include "map/codec/tlv_types.h"
#include "map/codec/tlvs.h"
#include "map/datamodel/opclass_table.h"
#include "sim.h"

namespace meshsim {

namespace {

using map_dm::OpBand;
using map_dm::OpClassDef;

constexpr int kMaxClassChannels = 64;

OpBand op_band(Band b) {
    return b == Band::b24 ? OpBand::G2 : (b == Band::b5 ? OpBand::G5 : OpBand::G6);
}

bool centre_based(const OpClassDef& def) {
    return def.bandwidth_mhz >= 80 || (def.band == OpBand::G6 && def.bandwidth_mhz > 20);
}

// Primary channel of the lowest 20 MHz slice of a block centred on CENTRE.
uint8_t lowest_primary(uint8_t centre, uint16_t mhz) {
    const int low = centre - (mhz / 10 - 2);
    return static_cast<uint8_t>(low < 1 ? 1 : low);
}

template <class T, class F>
void each(const CMDU& c, F f) {
    if (!c.list_of_TLVs)
        return;
    for (size_t i = 0; c.list_of_TLVs[i] && i < 4096; ++i)
        if (*c.list_of_TLVs[i] == tlv_record_type<T>::value)
            f(*tlv_cast<T>(c.list_of_TLVs[i]));
}

int radio_index(const AgentConf& a, const MAC& id) {
    for (size_t r = 0; r < a.radios.size(); ++r)
        if (a.radios[r].id == id)
            return static_cast<int>(r);
    return -1;
}

// The widest (class, channel) the preference leaves operable in BAND: a class entry with
// preference 0 excludes the channels it lists, or the whole class when it lists none.
bool operable(const channel_preference_tlv& p, OpBand band, uint8_t* primary, uint16_t* mhz) {
    int best = 0;
    for (int oc = 81; oc < 256; ++oc) {
        const OpClassDef* def = map_dm::find_op_class(static_cast<uint8_t>(oc));
        if (def == nullptr || def->band != band || def->bandwidth_mhz <= best)
            continue;
        const channel_preference_tlv::op_class* entry = nullptr;
        for (const auto& e : p.op_classes)
            if (e.op_class == oc)
                entry = &e;
        uint8_t chans[kMaxClassChannels];
        const int n = map_dm::global_op_class_channels(*def, chans, kMaxClassChannels);
        for (int i = 0; i < n; ++i) {
            const bool excluded = entry != nullptr && (entry->preference >> 4) == 0 &&
                                  (entry->channels.empty() ||
                                   std::find(entry->channels.begin(), entry->channels.end(),
                                             chans[i]) != entry->channels.end());
            if (excluded)
                continue;
            best = def->bandwidth_mhz;
            *mhz = def->bandwidth_mhz;
            *primary = centre_based(*def) ? lowest_primary(chans[i], def->bandwidth_mhz) : chans[i];
            break;
        }
    }
    return best != 0;
}

}  // namespace

std::vector<ap_radio_basic_capabilities_tlv::op_class> supported_classes(const RadioConf& r) {
    std::vector<ap_radio_basic_capabilities_tlv::op_class> out;
    out.push_back({r.op_class, r.tx_power, 0, {}});
    const OpBand band = op_band(r.band);
    const int widest = band == OpBand::G6                      ? 320
                       : band == OpBand::G5 && (r.vht || r.he) ? 160
                       : r.ht                                  ? 40
                                                               : 20;
    for (int oc = 81; oc < 256; ++oc) {
        const OpClassDef* def = map_dm::find_op_class(static_cast<uint8_t>(oc));
        if (def == nullptr || def->band != band || def->op_class == r.op_class ||
            def->bandwidth_mhz > widest)
            continue;
        out.push_back({def->op_class, r.tx_power, 0, {}});
    }
    return out;
}

bool Sim::tune(size_t i, size_t r, uint8_t primary, uint16_t mhz) {
    RadioConf& radio = scenario_.agents[i].radios[r];
    const OpBand band = op_band(radio.band);
    uint8_t class20 = 0, wide = 0, centre = 0;
    for (int oc = 81; oc < 256 && (class20 == 0 || (mhz > 20 && wide == 0)); ++oc) {
        const OpClassDef* def = map_dm::find_op_class(static_cast<uint8_t>(oc));
        if (def == nullptr || def->band != band)
            continue;
        uint8_t chans[kMaxClassChannels];
        const int n = map_dm::global_op_class_channels(*def, chans, kMaxClassChannels);
        for (int k = 0; k < n; ++k) {
            if (def->bandwidth_mhz == 20 && chans[k] == primary && class20 == 0)
                class20 = def->op_class;
            if (mhz > 20 && def->bandwidth_mhz == mhz && wide == 0) {
                const bool holds = centre_based(*def)
                                       ? std::abs(chans[k] - primary) < def->bandwidth_mhz / 10
                                       : chans[k] == primary;
                if (holds) {
                    wide = def->op_class;
                    centre = chans[k];
                }
            }
        }
    }
    if (class20 == 0 || (mhz > 20 && wide == 0))
        return false;
    radio.op_class = class20;
    radio.channel = primary;
    radio.bandwidth_mhz = mhz;
    radio.wide_class = wide;
    radio.centre = centre;
    return true;
}

void Sim::on_channel_selection(size_t i, const MAC& from, const CMDU& c) {
    const AgentConf& conf = scenario_.agents[i];
    CmduBuilder resp(CMDU_TYPE_CHANNEL_SELECTION_RESPONSE, c.message_id);
    std::set<int> answered;
    each<channel_preference_tlv>(c, [&](const channel_preference_tlv& p) {
        const int r = radio_index(conf, p.radio_id);
        if (r < 0 || !answered.insert(r).second)
            return;
        uint8_t primary = 0;
        uint16_t mhz = 20;
        const RadioConf& radio = conf.radios[static_cast<size_t>(r)];
        const bool ok = operable(p, op_band(radio.band), &primary, &mhz) &&
                        tune(i, static_cast<size_t>(r), primary, mhz);
        log(conf.name + ": radio " + radio.id.to_string() +
            (ok ? " now on channel " + std::to_string(primary) + " at " + std::to_string(mhz) +
                      " MHz"
                : " declines: no operable channel"));
        resp.add(channel_selection_response_tlv{
            TLV_TYPE_CHANNEL_SELECTION_RESPONSE, p.radio_id,
            ok ? CHANNEL_SELECTION_ACCEPT : CHANNEL_SELECTION_DECLINE_VIOLATES_PREFERENCE});
    });
    each<transmit_power_limit_tlv>(c, [&](const transmit_power_limit_tlv& t) {
        const int r = radio_index(conf, t.radio_id);
        if (r < 0)
            return;
        scenario_.agents[i].radios[static_cast<size_t>(r)].tx_power = t.tx_power_limit_eirp;
        log(conf.name + ": radio " + t.radio_id.to_string() + " transmit power limit " +
            std::to_string(t.tx_power_limit_eirp) + " dBm");
        if (answered.insert(r).second)
            resp.add(channel_selection_response_tlv{TLV_TYPE_CHANNEL_SELECTION_RESPONSE, t.radio_id,
                                                    CHANNEL_SELECTION_ACCEPT});
    });
    send(i, from, resp.build());
    send(i, from, operating_channel_report(i, next_mid(i)));
}

void Sim::on_channel_event(const EventConf& e) {
    const AgentConf& conf = scenario_.agents[e.index];
    const RadioConf& radio = conf.radios[e.radio];
    const std::string why = e.reason.empty() ? "" : " (" + e.reason + ")";
    if (!tune(e.index, e.radio, e.primary, e.bandwidth_mhz)) {
        log("timeline: agent " + conf.name + " radio " + radio.id.to_string() +
            " cannot use channel " + std::to_string(e.primary) + " at " +
            std::to_string(e.bandwidth_mhz) + " MHz");
        return;
    }
    log("timeline: agent " + conf.name + " radio " + radio.id.to_string() + " moves to channel " +
        std::to_string(e.primary) + " at " + std::to_string(e.bandwidth_mhz) + " MHz" + why);
    const MAC controller = controller_of(e.index);
    if (!controller.is_zero() && reachable(e.index))
        send(e.index, controller, operating_channel_report(e.index, next_mid(e.index)));
}

void Sim::on_policy_config(size_t i, const MAC& from, const CMDU& c) {
    send_ack(i, from, c.message_id);
    const metric_reporting_policy_tlv* m = nullptr;
    each<metric_reporting_policy_tlv>(c, [&](const metric_reporting_policy_tlv& t) { m = &t; });
    if (m == nullptr)
        return;
    Reporting& r = reporting_[i];
    if (r.interval_s != m->ap_metrics_reporting_interval)
        log(scenario_.agents[i].name + ": AP metrics every " +
            std::to_string(m->ap_metrics_reporting_interval) + " s");
    r.interval_s = m->ap_metrics_reporting_interval;
    r.next_ms = get_current_time_ms() + r.interval_s * 1000LL;
}

void Sim::run_metrics_reporting() {
    const long long now = get_current_time_ms();
    for (size_t i = 0; i < reporting_.size() && i < agents_.size(); ++i) {
        Reporting& r = reporting_[i];
        if (r.interval_s == 0 || now < r.next_ms)
            continue;
        r.next_ms = now + r.interval_s * 1000LL;
        const MAC controller = controller_of(i);
        if (controller.is_zero() || !reachable(i))
            continue;
        if (send(i, controller, ap_metrics_response(i, next_mid(i), CMDU{})))
            ++r.sent;
    }
}

void Sim::on_metrics_timer(uv_timer_t* t) {
    static_cast<Sim*>(t->data)->run_metrics_reporting();
}

}  // namespace meshsim
