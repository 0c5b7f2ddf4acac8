#include "graph/ssid_sync.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <tuple>

#include <fmt/format.h>

#include "map/codec/wsc.h"
#include "map/wsc/wsc_messages.h"

namespace {

// The WSC RF band bit of a radio's band mask; 0 for 6 GHz (WSC names no such band) and for
// a band not known yet.
uint8_t rf_bit(uint16_t band_mask) {
    if (band_mask & MAP_BAND_MASK_2G)
        return WSC_RF_BAND_2_4_GHZ;
    if (band_mask & (MAP_BAND_MASK_5G | MAP_BAND_MASK_5G_LOW | MAP_BAND_MASK_5G_HIGH))
        return WSC_RF_BAND_5_GHZ;
    return 0;
}

bool serves(const map_vap_credential_t& c, uint8_t radio_bit) {
    return c.rf_bands == 0 || (radio_bit != 0 && (c.rf_bands & radio_bit) != 0);
}

// The credential as the registrar puts it into an M2.
SsidCredential as_sent(const map_vap_credential_t& c) {
    SsidCredential s;
    s.ssid.assign(c.ssid, strnlen(c.ssid, sizeof c.ssid));
    const bool open = c.network_key[0] == '\0';
    s.auth_type = open ? WSC_AUTH_OPEN : (c.auth_type ? c.auth_type : WSC_AUTH_WPA2_PERSONAL);
    s.encr_type = open ? WSC_ENCR_NONE : (c.encr_type ? c.encr_type : WSC_ENCR_AES);
    s.bss_type = c.bss_type & (MAP_CRED_FRONTHAUL | MAP_CRED_BACKHAUL);
    return s;
}

}  // namespace

bool SsidCredential::operator<(const SsidCredential& o) const {
    return std::tie(ssid, auth_type, encr_type, bss_type) <
           std::tie(o.ssid, o.auth_type, o.encr_type, o.bss_type);
}

bool SsidCredential::operator==(const SsidCredential& o) const {
    return ssid == o.ssid && auth_type == o.auth_type && encr_type == o.encr_type &&
           bss_type == o.bss_type;
}

std::string SsidCredential::describe() const {
    const char* role = (bss_type & 3) == 3 ? "fronthaul+backhaul"
                       : (bss_type & 2)    ? "backhaul"
                       : (bss_type & 1)    ? "fronthaul"
                                           : "no role";
    // SSIDs come from the network: anything outside printable ASCII is shown as \xNN, so the
    // log line and the JSON that carry the text stay readable and valid.
    std::string shown;
    for (unsigned char c : ssid) {
        if (c < 0x20 || c >= 0x7f || c == '"' || c == '\\')
            shown += fmt::format("\\x{:02x}", c);
        else
            shown += static_cast<char>(c);
    }
    return fmt::format("\"{}\" {} (auth 0x{:04x} encr 0x{:04x})", shown, role, auth_type,
                       encr_type);
}

std::string SsidSyncResult::describe() const {
    std::string out;
    auto list = [&](const char* what, const std::vector<SsidCredential>& v) {
        if (v.empty())
            return;
        out += out.empty() ? "" : "; ";
        out += what;
        for (size_t i = 0; i < v.size(); ++i)
            out += (i ? ", " : " ") + v[i].describe();
    };
    list("missing", missing);
    list("unexpected", unexpected);
    return out.empty() ? "in sync" : out;
}

std::vector<SsidCredential> expected_ssid_credentials(const map_ale_info_t& ale,
                                                      const map_credential_config_t& table,
                                                      size_t* known_radios) {
    std::vector<SsidCredential> out;
    size_t known = 0;
    const uint8_t count = std::min<uint8_t>(table.count, kMaxCredentials);
    for (uint8_t r = 0; r < ale.num_radios && r < MAP_MAX_RADIOS_PER_AGENT; ++r) {
        const map_radio_info_t* radio = ale.radios[r];
        if (!radio || radio->band_mask == 0)
            continue;
        ++known;
        const uint8_t bit = rf_bit(radio->band_mask);
        size_t taken = 0;
        for (uint8_t i = 0; i < count; ++i) {
            if (!serves(table.creds[i], bit))
                continue;
            if (radio->max_bss != 0 && taken >= radio->max_bss)
                break;
            out.push_back(as_sent(table.creds[i]));
            ++taken;
        }
    }
    if (known_radios)
        *known_radios = known;
    return out;
}

SsidSyncResult compare_ssid_credentials(const map_ale_info_t& ale,
                                        const std::vector<HKTVapInfo>& reported,
                                        const map_credential_config_t& table) {
    SsidSyncResult res;
    size_t known = 0;
    std::vector<SsidCredential> want = expected_ssid_credentials(ale, table, &known);
    if (known == 0)
        return res;
    std::vector<SsidCredential> have;
    have.reserve(reported.size());
    for (const HKTVapInfo& v : reported) {
        SsidCredential s;
        s.ssid = v.ssid;
        s.auth_type = v.authentication_mode;
        s.encr_type = v.encryption_mode;
        s.bss_type = v.bss_type & 3;
        have.push_back(std::move(s));
    }
    std::sort(want.begin(), want.end());
    std::sort(have.begin(), have.end());
    std::set_difference(want.begin(), want.end(), have.begin(), have.end(),
                        std::back_inserter(res.missing));
    std::set_difference(have.begin(), have.end(), want.begin(), want.end(),
                        std::back_inserter(res.unexpected));
    res.verdict = res.missing.empty() && res.unexpected.empty() ? SsidSyncVerdict::in_sync
                                                                : SsidSyncVerdict::differ;
    return res;
}
