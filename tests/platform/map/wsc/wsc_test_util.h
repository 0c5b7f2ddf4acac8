// An enrollee's M1, as an agent sends it, and the credentials the registrar answers it
// with, for the WSC tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/mac.h"
#include "map/codec/wsc.h"
#include "map/map_config.h"
#include "map/wsc/wsc_crypto.h"
#include "map/wsc/wsc_messages.h"

// A credential for BANDS (0: every band) of TYPE; WPA2-Personal with AES, open without KEY.
inline map_vap_credential_t cred(const char* ssid, const char* key, uint8_t bands, uint8_t type) {
    map_vap_credential_t c{};
    std::snprintf(c.ssid, sizeof c.ssid, "%s", ssid);
    std::snprintf(c.network_key, sizeof c.network_key, "%s", key);
    c.auth_type = key[0] ? WSC_AUTH_WPA2_PERSONAL : WSC_AUTH_OPEN;
    c.encr_type = key[0] ? WSC_ENCR_AES : WSC_ENCR_NONE;
    c.rf_bands = bands;
    c.bss_type = type;
    return c;
}

// C as "ssid/key/auth/encr/bands/type" (numbers in hex), then " hidden" when it is.
inline std::string cred_text(const map_vap_credential_t& c) {
    char t[48];
    std::snprintf(t, sizeof t, "/%x/%x/%x/%x%s", c.auth_type, c.encr_type, c.rf_bands, c.bss_type,
                  c.hidden ? " hidden" : "");
    return std::string(c.ssid) + "/" + c.network_key + t;
}

// The attributes of an M1 from KEY's public value (kept in order, so that
// tests can alter, drop or repeat any one before building it).
inline std::vector<wsc_attribute> m1_attributes(const WscDhKey& key, const MAC& mac,
                                                uint8_t nonce_byte = 0x5C,
                                                uint8_t rf_bands = WSC_RF_BAND_5_GHZ) {
    auto text = [](const char* s) {
        return std::vector<uint8_t>(s, s + std::char_traits<char>::length(s));
    };
    std::vector<wsc_attribute> a;
    a.push_back({WSC_ATTR_VERSION, {0x10}});
    a.push_back({WSC_ATTR_MESSAGE_TYPE, {WSC_MSG_M1}});
    a.push_back({WSC_ATTR_UUID_E, std::vector<uint8_t>(16, 0x11)});
    a.push_back({WSC_ATTR_MAC_ADDRESS, std::vector<uint8_t>(mac.data(), mac.data() + 6)});
    a.push_back({WSC_ATTR_ENROLLEE_NONCE, std::vector<uint8_t>(kWscNonceLen, nonce_byte)});
    a.push_back({WSC_ATTR_PUBLIC_KEY,
                 std::vector<uint8_t>(key.public_key(), key.public_key() + kWscPublicKeyLen)});
    a.push_back({WSC_ATTR_AUTHENTICATION_TYPE_FLAGS, {0x00, 0x63}});
    a.push_back({WSC_ATTR_ENCRYPTION_TYPE_FLAGS, {0x00, 0x09}});
    a.push_back({WSC_ATTR_CONNECTION_TYPE_FLAGS, {0x01}});
    a.push_back({WSC_ATTR_CONFIG_METHODS, {0x00, 0x80}});
    a.push_back({WSC_ATTR_WPS_STATE, {0x01}});
    a.push_back({WSC_ATTR_MANUFACTURER, text("Vexal")});
    a.push_back({WSC_ATTR_MODEL_NAME, text("Mesh Extender")});
    a.push_back({WSC_ATTR_MODEL_NUMBER, text("MX-200")});
    a.push_back({WSC_ATTR_SERIAL_NUMBER, text("SN0123456789")});
    a.push_back({WSC_ATTR_PRIMARY_DEVICE_TYPE, {0x00, 0x06, 0x00, 0x50, 0xF2, 0x04, 0x00, 0x01}});
    a.push_back({WSC_ATTR_DEVICE_NAME, text("ext-livingroom")});
    a.push_back({WSC_ATTR_RF_BANDS, {rf_bands}});
    a.push_back({WSC_ATTR_ASSOCIATION_STATE, {0x00, 0x00}});
    a.push_back({WSC_ATTR_DEVICE_PASSWORD_ID, {0x00, 0x04}});
    a.push_back({WSC_ATTR_CONFIGURATION_ERROR, {0x00, 0x00}});
    a.push_back({WSC_ATTR_OS_VERSION, {0x80, 0x00, 0x00, 0x01}});
    a.push_back({WSC_ATTR_VENDOR_EXTENSION, {0x00, 0x37, 0x2A, 0x00, 0x01, 0x20}});
    return a;
}

inline std::vector<uint8_t> build(const std::vector<wsc_attribute>& attrs) {
    std::vector<uint8_t> out;
    wsc_build_attributes(attrs, out);
    return out;
}
