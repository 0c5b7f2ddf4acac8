// The agents' side of onboarding: one M1 per radio (each with the radio's own
// enrollee key pair), the controller's M2s opened and checked, and the BSSs
// they describe brought up in place of the radio's previous ones.
//
// A configured BSS takes the BSSID of a scenario BSS of the same kind
// (backhaul or fronthaul) when the radio has one left, so that clients and
// backhaul STAs of the scenario find it again; any further BSS gets a new
// BSSID derived from the radio's. A BSS the M2s no longer describe goes, and
// its clients leave.
#include <algorithm>
#include <array>
#include <set>

#include "common/clock.h"
#include "map/codec/tlv_types.h"
#include "map/codec/wsc.h"
#include "sim.h"

namespace meshsim {

const char* radio_wsc_state_name(RadioWscState::Kind k) {
    switch (k) {
        case RadioWscState::unconfigured:
            return "unconfigured";
        case RadioWscState::configured:
            return "configured";
        case RadioWscState::torn_down:
            return "torn down";
        case RadioWscState::failed:
            return "failed";
    }
    return "?";
}

namespace {

const char* security_name(uint16_t auth) {
    if (auth & WSC_AUTH_SAE)
        return auth & WSC_AUTH_WPA2_PERSONAL ? "WPA2/WPA3" : "WPA3";
    if (auth & WSC_AUTH_WPA2_PERSONAL)
        return "WPA2";
    return "open";
}

}  // namespace

void Sim::init_wsc() {
    wsc_.clear();
    for (const AgentConf& a : scenario_.agents) {
        std::vector<RadioWsc> radios(a.radios.size());
        for (size_t r = 0; r < a.radios.size(); ++r)
            radios[r].factory = a.radios[r].bsss;
        wsc_.push_back(std::move(radios));
    }
}

void Sim::send_wsc_m1(size_t i, const MAC& dst, bool all) {
    const AgentConf& conf = scenario_.agents[i];
    const long long now = get_current_time_ms();
    for (size_t r = 0; r < conf.radios.size(); ++r) {
        const RadioConf& radio = conf.radios[r];
        RadioWsc& state = wsc_[i][r];
        if (!all && !(state.awaiting_m2 && state.m2_due_ms <= now))
            continue;
        // A fresh exchange waits m2_wait_ms for its M2, each repetition twice as long as
        // the one before (at most eight times).
        state.m2_wait_ms =
            all ? options_.m2_wait_ms
                : std::min<long long>(state.m2_wait_ms * 2, options_.m2_wait_ms * 8LL);
        state.awaiting_m2 = true;
        state.m2_due_ms = now + state.m2_wait_ms;
        wsc_tlv w;
        w.wsc_frame = wsc_[i][r].enrollee.make_m1(conf, radio);
        if (w.wsc_frame.empty()) {
            log(conf.name + ": radio " + radio.id.to_string() + ": no M1 (no key pair)");
            continue;
        }
        ap_radio_basic_capabilities_tlv caps;
        caps.radio_id = radio.id;
        caps.max_bss = kMaxBssPerRadio;
        caps.op_classes = supported_classes(radio);
        CmduBuilder b(CMDU_TYPE_AP_AUTOCONFIGURATION_WSC, next_mid(i));
        b.add(caps);
        if (conf.profile >= 2)
            b.add(profile2_ap_capability_tlv{});
        b.add(std::move(w));
        send(i, dst, b.build());
    }
}

void Sim::on_wsc(size_t i, const MAC& from, const CMDU& c) {
    const AgentConf& conf = scenario_.agents[i];
    const ap_radio_identifier_tlv* radio = nullptr;
    std::vector<std::vector<uint8_t>> m2s;
    if (c.list_of_TLVs) {
        for (size_t k = 0; c.list_of_TLVs[k] && k < 4096; ++k) {
            if (auto* t = tlv_cast<ap_radio_identifier_tlv>(c.list_of_TLVs[k]))
                radio = radio ? radio : t;
            if (auto* t = tlv_cast<wsc_tlv>(c.list_of_TLVs[k]))
                m2s.push_back(t->wsc_frame);
        }
    }
    if (!radio) {
        log(conf.name + ": AP-Autoconfiguration WSC from " + from.to_string() +
            " without a radio identifier ignored");
        return;
    }
    for (size_t r = 0; r < conf.radios.size(); ++r) {
        if (conf.radios[r].id == radio->radio_id) {
            apply_wsc(i, r, wsc_[i][r].enrollee.open(m2s, conf.wsc_fault));
            return;
        }
    }
    log(conf.name + ": M2 for unknown radio " + radio->radio_id.to_string() + " ignored");
}

BSSID Sim::spare_bssid(size_t i, size_t r, size_t k) const {
    std::set<MAC> used;
    for (size_t a = 0; a < scenario_.agents.size(); ++a) {
        const AgentConf& ag = scenario_.agents[a];
        used.insert(ag.al_mac);
        used.insert(ag.backhaul.bsta);
        for (const auto& e : ag.ethernet)
            used.insert(e.mac);
        for (size_t q = 0; q < ag.radios.size(); ++q) {
            used.insert(ag.radios[q].id);
            for (const auto& b : ag.radios[q].bsss)
                used.insert(b.bssid);
            for (const auto& b : wsc_[a][q].factory)
                used.insert(b.bssid);
        }
    }
    for (const auto& cl : scenario_.clients)
        used.insert(cl.mac);
    const MAC& id = scenario_.agents[i].radios[r].id;
    for (unsigned n = 0; n < 256; ++n) {
        std::array<uint8_t, 6> m;
        std::copy(id.data(), id.data() + 6, m.begin());
        m[4] = static_cast<uint8_t>(m[4] ^ 0x80);
        m[5] = static_cast<uint8_t>(m[5] + k + n);
        MAC cand(m.data());
        if (!used.count(cand) && !cand.is_multicast())
            return BSSID(cand);
    }
    return BSSID();
}

void Sim::reindex_bss() {
    bss_index_.clear();
    for (size_t a = 0; a < scenario_.agents.size(); ++a) {
        const auto& radios = scenario_.agents[a].radios;
        for (size_t r = 0; r < radios.size(); ++r) {
            for (size_t b = 0; b < radios[r].bsss.size(); ++b)
                bss_index_[radios[r].bsss[b].bssid] = BssRef{a, r, b};
        }
    }
}

void Sim::apply_wsc(size_t i, size_t r, const WscResult& res) {
    AgentConf& conf = scenario_.agents[i];
    RadioConf& radio = conf.radios[r];
    RadioWsc& w = wsc_[i][r];
    ++w.state.exchanges;
    w.awaiting_m2 = false;
    const std::string who =
        conf.name + ": radio " + radio.id.to_string() + " (" + band_name(radio.band) + " GHz)";
    if (res.kind == WscResult::failed) {
        w.state.kind = RadioWscState::failed;
        w.state.why = res.why;
        log(who + ": M2 rejected: " + res.why + "; BSSs left as they were");
        return;
    }

    std::vector<BssConf> next;
    std::vector<bool> taken(w.factory.size(), false);
    std::string described;
    for (size_t k = 0; k < res.bsss.size(); ++k) {
        const WscBssConfig& m = res.bsss[k];
        BssConf b;
        b.ssid = m.ssid;
        b.key = m.network_key;
        b.auth_type = m.auth_type;
        b.encr_type = m.encr_type;
        b.backhaul = (m.map_ext & WSC_MAP_BACKHAUL_BSS) != 0;
        b.fronthaul = (m.map_ext & WSC_MAP_FRONTHAUL_BSS) != 0;
        // A slot of the same kind first, then any slot, then a new BSSID.
        size_t slot = w.factory.size();
        for (int pass = 0; pass < 2 && slot == w.factory.size(); ++pass) {
            for (size_t f = 0; f < w.factory.size(); ++f) {
                if (!taken[f] && (pass == 1 || w.factory[f].backhaul == b.backhaul)) {
                    slot = f;
                    break;
                }
            }
        }
        if (slot < w.factory.size()) {
            taken[slot] = true;
            b.bssid = w.factory[slot].bssid;
        } else {
            b.bssid = spare_bssid(i, r, k);
        }
        if (b.bssid.is_zero() || next.size() >= kMaxBssPerRadio) {
            log(who + ": no room for BSS \"" + b.ssid + "\"");
            continue;
        }
        described += std::string(described.empty() ? "" : ", ") + "\"" + b.ssid + "\" " +
                     (b.fronthaul && b.backhaul ? "fronthaul+backhaul"
                                                : (b.backhaul ? "backhaul" : "fronthaul")) +
                     " " + b.bssid.to_string() + " (" + security_name(b.auth_type) +
                     (b.key.empty() ? "" : ", key of " + std::to_string(b.key.size()) + " bytes") +
                     ")";
        next.push_back(std::move(b));
    }

    // Clients of a BSS that goes, or that is no longer a fronthaul, leave it.
    auto kept = [&](const BSSID& bssid, bool fronthaul_needed) {
        for (const auto& b : next) {
            if (b.bssid == bssid)
                return !fronthaul_needed || b.fronthaul;
        }
        return false;
    };
    std::vector<size_t> leaving;
    for (size_t c = 0; c < clients_.size(); ++c) {
        const BssRef* ref = clients_[c].bssid.is_zero() ? nullptr : find_bss(clients_[c].bssid);
        if (ref && ref->agent == i && ref->radio == r && !kept(clients_[c].bssid, true))
            leaving.push_back(c);
    }
    for (size_t c : leaving)
        move_client(c, BSSID());
    for (size_t a = 0; a < agents_.size(); ++a) {
        const BackhaulConf& bh = agent_backhaul(a);
        const BssRef* ref = bh.kind == BackhaulKind::wifi ? find_bss(bh.bssid) : nullptr;
        if (ref && ref->agent == i && ref->radio == r) {
            bool still = false;
            for (const auto& b : next)
                still = still || (b.bssid == bh.bssid && b.backhaul);
            if (!still)
                log(who + ": backhaul BSS " + bh.bssid.to_string() + " of " +
                    scenario_.agents[a].name +
                    " is gone; its backhaul STA stays (the simulator does not re-home it)");
        }
    }

    radio.bsss = std::move(next);
    reindex_bss();
    if (res.kind == WscResult::teardown) {
        w.state.kind = RadioWscState::torn_down;
        w.state.why.clear();
        log(who + ": torn down by M2 (no BSS configured for this band)");
    } else {
        w.state.kind = RadioWscState::configured;
        w.state.why.clear();
        log(who + ": configured by M2: " + described);
    }
    // The controller learns the new BSSs from its next Topology Query, and the channels
    // they run on at once.
    notify_association(i, MAC(), BSSID(), true);
    report_channels(i);
}

void Sim::forget_credentials(size_t i) {
    AgentConf& conf = scenario_.agents[i];
    std::set<BSSID> kept;
    for (size_t r = 0; r < conf.radios.size(); ++r)
        for (const auto& b : wsc_[i][r].factory)
            kept.insert(b.bssid);
    std::vector<size_t> leaving;
    for (size_t c = 0; c < clients_.size(); ++c) {
        const BssRef* ref = clients_[c].bssid.is_zero() ? nullptr : find_bss(clients_[c].bssid);
        if (ref && ref->agent == i && !kept.count(clients_[c].bssid))
            leaving.push_back(c);
    }
    for (size_t c : leaving)
        move_client(c, BSSID());
    for (size_t r = 0; r < conf.radios.size(); ++r) {
        conf.radios[r].bsss = wsc_[i][r].factory;
        wsc_[i][r].state.kind = RadioWscState::unconfigured;
        wsc_[i][r].state.why.clear();
    }
    reindex_bss();
    log(conf.name + ": forgot its M2 credentials; runs the scenario's BSSs again");
    notify_association(i, MAC(), BSSID(), true);
}

}  // namespace meshsim
