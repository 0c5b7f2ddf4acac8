#include "map/wsc/registrar.h"

#include <algorithm>
#include <cstring>

#include "common/clock.h"
#include "map/codec/cmdu_alloc.h"
#include "map/codec/tlv_types.h"
#include "map/codec/tlvs.h"
#include "map/codec/wsc.h"
#include "map/datamodel/opclass_table.h"
#include "map/map_log.h"
#include "map/map_send.h"

namespace {

constexpr long long kLogGateMs = 10000;

enum RadioBand { kBandUnknown = -1, kBand24 = 0, kBand5 = 1, kBand6 = 2 };

const char* band_text(int band) {
    switch (band) {
        case kBand24:
            return "2.4 GHz";
        case kBand5:
            return "5 GHz";
        case kBand6:
            return "6 GHz";
        default:
            return "unknown band";
    }
}

// The band of a radio from the operating classes it reports.
int band_of(const ap_radio_basic_capabilities_tlv& caps) {
    for (const auto& oc : caps.op_classes) {
        if (const map_dm::OpClassDef* d = map_dm::find_op_class(oc.op_class)) {
            switch (d->band) {
                case map_dm::OpBand::G2:
                    return kBand24;
                case map_dm::OpBand::G5:
                    return kBand5;
                case map_dm::OpBand::G6:
                    return kBand6;
            }
        }
    }
    return kBandUnknown;
}

// The WSC RF band bit of a radio band (0 for 6 GHz: WSC names no such band).
uint8_t rf_bit(int band, uint8_t m1_bands) {
    switch (band) {
        case kBand24:
            return WSC_RF_BAND_2_4_GHZ;
        case kBand5:
            return WSC_RF_BAND_5_GHZ;
        case kBand6:
            return 0;
        default:
            // Unknown classes: the M1's own claim, when it names one band.
            return (m1_bands & (m1_bands - 1)) == 0 ? m1_bands : 0;
    }
}

// A credential serves a radio when it is for every band or names the radio's.
bool serves(const map_vap_credential_t& c, uint8_t radio_bit) {
    return c.rf_bands == 0 || (radio_bit != 0 && (c.rf_bands & radio_bit) != 0);
}

}  // namespace

const char* wsc_outcome_name(WscOutcome o) {
    switch (o) {
        case WscOutcome::none:
            return "none";
        case WscOutcome::answered:
            return "answered";
        case WscOutcome::teardown:
            return "teardown";
        case WscOutcome::malformed:
            return "malformed";
        case WscOutcome::replayed:
            return "replayed";
        case WscOutcome::rate_limited:
            return "rate-limited";
        case WscOutcome::unexpected:
            return "unexpected";
        case WscOutcome::not_configured:
            return "not-configured";
        case WscOutcome::send_failed:
            return "send-failed";
    }
    return "?";
}

WscRegistrar::WscRegistrar(Send send, WscRegistrarLimits limits)
    : send_(std::move(send)), limits_(limits) {
    if (limits_.max_agents == 0)
        limits_.max_agents = 1;
    if (limits_.nonces_kept == 0)
        limits_.nonces_kept = 1;
    if (!wsc_random(identity_.uuid_r, sizeof identity_.uuid_r))
        std::memset(identity_.uuid_r, 0x5A, sizeof identity_.uuid_r);
    identity_.uuid_r[6] = static_cast<uint8_t>((identity_.uuid_r[6] & 0x0F) | 0x40);  // v4
    identity_.uuid_r[8] = static_cast<uint8_t>((identity_.uuid_r[8] & 0x3F) | 0x80);
}

bool WscRegistrar::take(Bucket& b, unsigned burst, long long refill_ms, long long now) {
    if (!b.started) {
        b.started = true;
        b.tokens = burst;
        b.at_ms = now;
    } else if (refill_ms > 0 && now > b.at_ms) {
        const long long gained = (now - b.at_ms) / refill_ms;
        if (b.tokens + gained >= burst) {
            b.tokens = burst;
            b.at_ms = now;
        } else {
            b.tokens += static_cast<unsigned>(gained);
            b.at_ms += gained * refill_ms;
        }
    }
    if (b.tokens == 0)
        return false;
    --b.tokens;
    return true;
}

WscRegistrar::Agent& WscRegistrar::agent(const MAC& al_mac, long long now) {
    for (Agent& a : agents_) {
        if (a.al_mac == al_mac) {
            a.last_heard_ms = now;
            return a;
        }
    }
    if (agents_.size() >= limits_.max_agents) {
        auto oldest = std::min_element(
            agents_.begin(), agents_.end(),
            [](const Agent& x, const Agent& y) { return x.last_heard_ms < y.last_heard_ms; });
        agents_.erase(oldest);
    }
    Agent a;
    a.al_mac = al_mac;
    a.last_heard_ms = now;
    agents_.push_back(std::move(a));
    return agents_.back();
}

bool WscRegistrar::seen_nonce(Agent& a, const uint8_t* nonce) {
    for (const auto& n : a.nonces) {
        if (std::memcmp(n.data(), nonce, kWscNonceLen) == 0)
            return true;
    }
    std::vector<uint8_t> v(nonce, nonce + kWscNonceLen);
    if (a.nonces.size() < limits_.nonces_kept) {
        a.nonces.push_back(std::move(v));
    } else {
        a.nonces[a.next_nonce] = std::move(v);
        a.next_nonce = (a.next_nonce + 1) % a.nonces.size();
    }
    return false;
}

void WscRegistrar::refuse(LogGate& gate, int level, const std::string& text) {
    const long long now = get_current_time_ms();
    if (gate.logged && now - gate.last_ms < kLogGateMs) {
        ++gate.suppressed;
        return;
    }
    map_log(MAP_LOG_CONTROLLER, level, "WSC registrar: %s (%llu more such not logged in %lld s)",
            text.c_str(), static_cast<unsigned long long>(gate.suppressed), kLogGateMs / 1000);
    gate.logged = true;
    gate.last_ms = now;
    gate.suppressed = 0;
}

WscOutcome WscRegistrar::on_wsc(const CMDU& cmdu, const map_credential_config_t* creds) {
    const wsc_tlv* wsc = nullptr;
    const ap_radio_basic_capabilities_tlv* caps = nullptr;
    if (cmdu.list_of_TLVs != nullptr) {
        for (size_t i = 0; cmdu.list_of_TLVs[i] != nullptr; ++i) {
            if (auto* t = tlv_cast<wsc_tlv>(cmdu.list_of_TLVs[i]))
                wsc = wsc ? wsc : t;
            if (auto* t = tlv_cast<ap_radio_basic_capabilities_tlv>(cmdu.list_of_TLVs[i]))
                caps = caps ? caps : t;
        }
    }
    if (wsc == nullptr)
        return WscOutcome::none;
    ++stats_.m1_received;
    const std::string from = cmdu.src_al_mac.to_string();
    const long long now = get_current_time_ms();

    // Budget first: nothing below, parsing included, runs for a flood.
    Agent& a = agent(cmdu.src_al_mac, now);
    const bool agent_ok = take(a.bucket, limits_.agent_burst, limits_.agent_refill_ms, now);
    if (!agent_ok || !take(total_, limits_.total_burst, limits_.total_refill_ms, now)) {
        ++stats_.rate_limited;
        refuse(log_rate_, 4,
               "WSC message from " + from + " ignored: " +
                   (agent_ok ? "all agents together" : "this agent") + " sent too many");
        return WscOutcome::rate_limited;
    }

    const std::vector<uint8_t>& frame = wsc->wsc_frame;
    // An M2 (another registrar's, or ours looped back) or any other message.
    std::vector<wsc_attribute> attrs;
    if (frame.size() <= kWscMaxMessageLen &&
        wsc_parse_attributes(frame.data(), frame.size(), attrs)) {
        for (const auto& at : attrs) {
            if (at.type == WSC_ATTR_MESSAGE_TYPE && at.value.size() == 1 &&
                at.value[0] != WSC_MSG_M1) {
                ++stats_.unexpected;
                refuse(log_unexpected_, 4,
                       "WSC message of type " + std::to_string(at.value[0]) + " from " + from +
                           " ignored: a registrar only answers M1");
                return WscOutcome::unexpected;
            }
        }
    }
    WscM1 m1;
    std::string why;
    if (!wsc_parse_m1(frame.data(), frame.size(), m1, &why)) {
        ++stats_.malformed;
        refuse(log_malformed_, 4, "malformed M1 from " + from + ": " + why);
        return WscOutcome::malformed;
    }
    if (caps == nullptr) {
        ++stats_.malformed;
        refuse(log_malformed_, 4,
               "M1 from " + from + " without AP Radio Basic Capabilities: no radio to configure");
        return WscOutcome::malformed;
    }
    if (seen_nonce(a, m1.enrollee_nonce)) {
        ++stats_.replayed;
        refuse(log_replayed_, 4,
               "M1 from " + from + " replayed (enrollee nonce seen before): not answered");
        return WscOutcome::replayed;
    }
    if (creds == nullptr || creds->count == 0) {
        ++stats_.not_configured;
        refuse(log_unconfigured_, 6,
               "no credentials configured: M1 from " + from + " radio " +
                   caps->radio_id.to_string() + " left unanswered until a renew");
        return WscOutcome::not_configured;
    }
    return answer(cmdu, m1, caps->radio_id, caps->max_bss, band_of(*caps), *creds);
}

WscOutcome WscRegistrar::answer(const CMDU& cmdu, const WscM1& m1, const MAC& radio_id,
                                uint8_t max_bss, int band, const map_credential_config_t& creds) {
    const std::string from = cmdu.src_al_mac.to_string();
    auto failed = [&](const std::string& text) {
        ++stats_.send_failed;
        refuse(log_failed_, 3, "M1 from " + from + " radio " + radio_id.to_string() + ": " + text);
        return WscOutcome::send_failed;
    };
    const uint8_t bit = rf_bit(band, m1.rf_bands);
    std::vector<const map_vap_credential_t*> chosen;
    for (uint8_t i = 0; i < creds.count && i < kMaxCredentials; ++i) {
        if (serves(creds.creds[i], bit))
            chosen.push_back(&creds.creds[i]);
    }
    if (max_bss != 0 && chosen.size() > max_bss) {
        map_log(MAP_LOG_CONTROLLER, 4,
                "WSC registrar: radio %s of %s runs at most %u BSSs; %zu credential(s) left out",
                radio_id.to_string().c_str(), from.c_str(), max_bss, chosen.size() - max_bss);
        chosen.resize(max_bss);
    }

    std::unique_ptr<WscDhKey> key = WscDhKey::generate();
    if (!key)
        return failed("no Diffie-Hellman key pair");
    uint8_t secret[kWscPublicKeyLen];
    if (!key->shared_secret(m1.public_key, secret)) {
        ++stats_.malformed;
        refuse(log_malformed_, 4,
               "M1 from " + from + ": public key refused (not an element of the group)");
        return WscOutcome::malformed;
    }
    uint8_t nonce[kWscNonceLen];
    WscSessionKeys keys;
    const bool derived = wsc_random(nonce, sizeof nonce) &&
                         wsc_derive_keys(secret, m1.enrollee_nonce, m1.mac, nonce, keys);
    wsc_wipe(secret, sizeof secret);
    if (!derived)
        return failed("key derivation failed");

    std::vector<WscBssConfig> bsss;
    if (chosen.empty()) {
        WscBssConfig t;
        t.mac = m1.mac;
        t.map_ext = WSC_MAP_TEAR_DOWN;
        bsss.push_back(t);
    }
    for (const map_vap_credential_t* c : chosen) {
        WscBssConfig b;
        b.ssid = c->ssid;
        b.network_key = c->network_key;
        const bool open = b.network_key.empty();
        b.auth_type = open ? WSC_AUTH_OPEN : (c->auth_type ? c->auth_type : WSC_AUTH_WPA2_PERSONAL);
        b.encr_type = open ? WSC_ENCR_NONE : (c->encr_type ? c->encr_type : WSC_ENCR_AES);
        b.mac = m1.mac;
        if (c->bss_type & MAP_CRED_FRONTHAUL)
            b.map_ext |= WSC_MAP_FRONTHAUL_BSS;
        if (c->bss_type & MAP_CRED_BACKHAUL)
            b.map_ext |= WSC_MAP_BACKHAUL_BSS;
        bsss.push_back(std::move(b));
    }

    CmduBuilder builder(CMDU_TYPE_AP_AUTOCONFIGURATION_WSC, 0);
    builder.add(ap_radio_identifier_tlv{TLV_TYPE_AP_RADIO_IDENTIFIER, radio_id});
    std::string described;
    for (const WscBssConfig& b : bsss) {
        uint8_t iv[kWscIvLen];
        WscM2Inputs in;
        in.m1 = &m1;
        in.registrar = &identity_;
        in.registrar_nonce = nonce;
        in.registrar_public_key = key->public_key();
        in.keys = &keys;
        in.bss = &b;
        in.iv = iv;
        in.rf_band = bit != 0 ? bit : m1.rf_bands;
        wsc_tlv t;
        if (!wsc_random(iv, sizeof iv) || !wsc_build_m2(in, t.wsc_frame))
            return failed("M2 could not be built");
        builder.add(std::move(t));
        if (!(b.map_ext & WSC_MAP_TEAR_DOWN)) {
            described += std::string(described.empty() ? "" : ", ") + "\"" + b.ssid + "\" " +
                         ((b.map_ext & WSC_MAP_FRONTHAUL_BSS) && (b.map_ext & WSC_MAP_BACKHAUL_BSS)
                              ? "fronthaul+backhaul"
                              : (b.map_ext & WSC_MAP_BACKHAUL_BSS ? "backhaul" : "fronthaul"));
        }
    }
    CmduPtr out = builder.build();
    if (!out)
        return failed("AP-Autoconfiguration WSC message could not be built");
    const char* ifname = cmdu.interface_name[0] != '\0' ? cmdu.interface_name : nullptr;
    const int rc = send_ ? send_(cmdu.src_al_mac, *out, ifname) : MAP_SEND_NOT_READY;
    if (rc != MAP_SEND_OK)
        return failed("sending the M2s failed (" + std::to_string(rc) + ")");
    ++stats_.answered;
    stats_.m2_sent += bsss.size();
    if (chosen.empty()) {
        ++stats_.teardowns;
        map_log(MAP_LOG_CONTROLLER, 5,
                "WSC registrar: M2 to %s radio %s (%s): tear down, no credential for this band",
                from.c_str(), radio_id.to_string().c_str(), band_text(band));
        return WscOutcome::teardown;
    }
    map_log(MAP_LOG_CONTROLLER, 5, "WSC registrar: %zu M2(s) to %s radio %s (%s): %s", bsss.size(),
            from.c_str(), radio_id.to_string().c_str(), band_text(band), described.c_str());
    return WscOutcome::answered;
}
