#include "wsc_enrollee.h"

#include <cstring>

#include "map/codec/wsc.h"

namespace meshsim {

namespace {

// One bit of the Encrypted Settings flipped, as a faulty path would: the
// message still parses, only the checks can tell.
void corrupt_encrypted_settings(std::vector<uint8_t>& m2) {
    size_t at = 0;
    while (at + 4 <= m2.size()) {
        const uint16_t type = static_cast<uint16_t>(m2[at] << 8 | m2[at + 1]);
        const size_t n = static_cast<size_t>(m2[at + 2] << 8 | m2[at + 3]);
        if (at + 4 + n > m2.size())
            return;
        if (type == WSC_ATTR_ENCRYPTED_SETTINGS && n > 0) {
            m2[at + 4 + n / 2] ^= 0x01;
            return;
        }
        at += 4 + n;
    }
}

}  // namespace

const char* wsc_fault_name(WscFault f) {
    switch (f) {
        case WscFault::none:
            return "none";
        case WscFault::wrong_key:
            return "wrong_key";
        case WscFault::corrupt_m2:
            return "corrupt_m2";
    }
    return "?";
}

bool wsc_fault_from_name(const std::string& name, WscFault& out) {
    for (WscFault f : {WscFault::wrong_key, WscFault::corrupt_m2}) {
        if (name == wsc_fault_name(f)) {
            out = f;
            return true;
        }
    }
    return false;
}

std::vector<uint8_t> WscEnrollee::make_m1(const AgentConf& conf, const RadioConf& r) {
    key_ = WscDhKey::generate();
    std::unique_ptr<WscDhKey> shown;
    if (conf.wsc_fault == WscFault::wrong_key)
        shown = WscDhKey::generate();  // sent; its private half is thrown away
    const WscDhKey* pub = shown ? shown.get() : key_.get();
    uint8_t nonce[kWscNonceLen];
    if (!key_ || !pub || !wsc_random(nonce, sizeof nonce)) {
        key_.reset();
        return {};
    }
    wsc_message m;
    m.message_type = WSC_MSG_M1;
    std::memcpy(m.uuid, conf.al_mac.data(), 6);
    std::memcpy(m.uuid + 6, r.id.data(), 6);
    m.mac_address = conf.al_mac;
    m.manufacturer = conf.manufacturer;
    m.model_name = conf.model;
    m.model_number = conf.model.substr(0, 32);
    m.serial_number = conf.serial;
    m.device_name = conf.name;
    m.rf_bands = r.band == Band::b24 ? WSC_RF_BAND_2_4_GHZ : WSC_RF_BAND_5_GHZ;
    m.other.push_back({WSC_ATTR_ENROLLEE_NONCE, std::vector<uint8_t>(nonce, nonce + kWscNonceLen)});
    m.other.push_back(
        {WSC_ATTR_PUBLIC_KEY,
         std::vector<uint8_t>(pub->public_key(), pub->public_key() + kWscPublicKeyLen)});
    m.other.push_back({WSC_ATTR_AUTHENTICATION_TYPE_FLAGS, {0x00, 0x61}});  // open, WPA2, SAE
    m.other.push_back({WSC_ATTR_ENCRYPTION_TYPE_FLAGS, {0x00, 0x09}});      // none, AES
    m.other.push_back({WSC_ATTR_CONNECTION_TYPE_FLAGS, {0x01}});
    m.other.push_back({WSC_ATTR_CONFIG_METHODS, {0x00, 0x80}});
    m.other.push_back({WSC_ATTR_WPS_STATE, {0x01}});
    m.other.push_back(
        {WSC_ATTR_PRIMARY_DEVICE_TYPE, {0x00, 0x06, 0x00, 0x50, 0xF2, 0x04, 0x00, 0x01}});
    m.other.push_back({WSC_ATTR_ASSOCIATION_STATE, {0x00, 0x00}});
    m.other.push_back({WSC_ATTR_DEVICE_PASSWORD_ID, {0x00, 0x04}});
    m.other.push_back({WSC_ATTR_CONFIGURATION_ERROR, {0x00, 0x00}});
    m.other.push_back({WSC_ATTR_OS_VERSION, {0x80, 0x00, 0x00, 0x01}});
    m.other.push_back({WSC_ATTR_VENDOR_EXTENSION, {0x00, 0x37, 0x2A, 0x00, 0x01, 0x20}});
    m1_.clear();
    if (!wsc_build_message(m, m1_)) {
        key_.reset();
        return {};
    }
    return m1_;
}

WscResult WscEnrollee::open(const std::vector<std::vector<uint8_t>>& m2s, WscFault fault) const {
    WscResult res;
    if (!key_) {
        res.why = "no M1 outstanding for this radio";
        return res;
    }
    if (m2s.empty()) {
        res.why = "no M2 in the message";
        return res;
    }
    for (const auto& m2 : m2s) {
        std::vector<uint8_t> bytes = m2;
        if (fault == WscFault::corrupt_m2)
            corrupt_encrypted_settings(bytes);
        WscBssConfig bss;
        if (!wsc_enrollee_open_m2(*key_, m1_, bytes.data(), bytes.size(), bss, &res.why)) {
            res.bsss.clear();
            return res;
        }
        res.bsss.push_back(bss);
    }
    for (const auto& b : res.bsss) {
        if (b.map_ext & WSC_MAP_TEAR_DOWN) {
            res.kind = WscResult::teardown;
            res.bsss.clear();
            return res;
        }
        if (!(b.map_ext & (WSC_MAP_FRONTHAUL_BSS | WSC_MAP_BACKHAUL_BSS)) || b.ssid.empty()) {
            res.why = "an M2 names neither a fronthaul nor a backhaul BSS";
            res.bsss.clear();
            return res;
        }
    }
    res.kind = WscResult::configured;
    return res;
}

}  // namespace meshsim
