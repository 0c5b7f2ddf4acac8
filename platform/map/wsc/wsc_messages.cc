#include "map/wsc/wsc_messages.h"

#include <openssl/crypto.h>

#include <cstdio>
#include <cstring>

#include "map/codec/wsc.h"

namespace {

constexpr uint8_t kWfaOui[3] = {0x00, 0x37, 0x2A};
constexpr uint8_t kSubVersion2 = 0x00;
constexpr uint8_t kSubMultiApExtension = 0x06;
constexpr uint8_t kVersion2 = 0x20;

// One attribute as it sits in the message (pointer into the parsed bytes).
struct Attr {
    uint16_t type = 0;
    const uint8_t* value = nullptr;
    size_t len = 0;
    size_t offset = 0;  // of its type field
};

bool split(const uint8_t* data, size_t len, std::vector<Attr>& out) {
    out.clear();
    size_t at = 0;
    while (at < len) {
        if (len - at < 4)
            return false;
        const uint16_t type = static_cast<uint16_t>(data[at] << 8 | data[at + 1]);
        const size_t n = static_cast<size_t>(data[at + 2] << 8 | data[at + 3]);
        if (len - at - 4 < n)
            return false;
        out.push_back({type, data + at + 4, n, at});
        at += 4 + n;
    }
    return true;
}

std::string hex16(uint16_t v) {
    char b[8];
    std::snprintf(b, sizeof b, "0x%04X", v);
    return b;
}

// Attribute look-up that remembers why it failed.
class Attrs {
  public:
    explicit Attrs(std::vector<Attr> list) : list_(std::move(list)) {}
    // The one attribute of TYPE; null (and WHY) when absent or repeated.
    const Attr* one(uint16_t type, const char* name, std::string* why) const {
        const Attr* found = nullptr;
        for (const Attr& a : list_) {
            if (a.type != type)
                continue;
            if (found) {
                set(why, std::string(name) + " (" + hex16(type) + ") appears twice");
                return nullptr;
            }
            found = &a;
        }
        if (!found)
            set(why, std::string("no ") + name + " (" + hex16(type) + ")");
        return found;
    }
    // The one attribute of TYPE with exactly LEN bytes.
    const Attr* sized(uint16_t type, const char* name, size_t len, std::string* why) const {
        const Attr* a = one(type, name, why);
        if (a && a->len != len) {
            set(why, std::string(name) + " of " + std::to_string(a->len) + " bytes (" +
                         std::to_string(len) + " expected)");
            return nullptr;
        }
        return a;
    }
    // The one text attribute of TYPE of at most CAP bytes.
    bool text(uint16_t type, const char* name, size_t cap, std::string& out,
              std::string* why) const {
        const Attr* a = one(type, name, why);
        if (!a)
            return false;
        if (a->len > cap) {
            set(why, std::string(name) + " of " + std::to_string(a->len) + " bytes (at most " +
                         std::to_string(cap) + ")");
            return false;
        }
        out.assign(reinterpret_cast<const char*>(a->value), a->len);
        return true;
    }
    const std::vector<Attr>& list() const { return list_; }
    static void set(std::string* why, const std::string& text) {
        if (why)
            *why = text;
    }

  private:
    std::vector<Attr> list_;
};

uint16_t be16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

void put(std::vector<uint8_t>& out, uint16_t type, const uint8_t* p, size_t n) {
    out.push_back(static_cast<uint8_t>(type >> 8));
    out.push_back(static_cast<uint8_t>(type));
    out.push_back(static_cast<uint8_t>(n >> 8));
    out.push_back(static_cast<uint8_t>(n));
    out.insert(out.end(), p, p + n);
}
void put(std::vector<uint8_t>& out, uint16_t type, std::initializer_list<uint8_t> bytes) {
    put(out, type, bytes.begin(), bytes.size());
}
void put16(std::vector<uint8_t>& out, uint16_t type, uint16_t v) {
    put(out, type, {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)});
}
void put_text(std::vector<uint8_t>& out, uint16_t type, const std::string& s) {
    put(out, type, reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

bool message_type_is(const Attrs& attrs, uint8_t want, std::string* why) {
    const Attr* type = attrs.sized(WSC_ATTR_MESSAGE_TYPE, "Message Type", 1, why);
    if (!type)
        return false;
    if (type->value[0] != want) {
        char b[64];
        std::snprintf(b, sizeof b, "message type 0x%02X, not M%u", type->value[0],
                      want == WSC_MSG_M1 ? 1u : 2u);
        Attrs::set(why, b);
        return false;
    }
    return attrs.sized(WSC_ATTR_VERSION, "Version", 1, why) != nullptr;
}

bool prelude(const uint8_t* data, size_t len, std::vector<Attr>& list, std::string* why) {
    if (data == nullptr || len == 0) {
        Attrs::set(why, "empty message");
        return false;
    }
    if (len > kWscMaxMessageLen) {
        Attrs::set(why, std::to_string(len) + "-byte message (at most " +
                            std::to_string(kWscMaxMessageLen) + ")");
        return false;
    }
    if (!split(data, len, list)) {
        Attrs::set(why, "attribute list runs past the end");
        return false;
    }
    return true;
}

}  // namespace

// ---- M1 ------------------------------------------------------------------------------

bool wsc_parse_m1(const uint8_t* data, size_t len, WscM1& out, std::string* why) {
    std::vector<Attr> list;
    if (!prelude(data, len, list, why))
        return false;
    Attrs a(std::move(list));
    if (!message_type_is(a, WSC_MSG_M1, why))
        return false;
    WscM1 m;
    const Attr* uuid = a.sized(WSC_ATTR_UUID_E, "UUID-E", 16, why);
    const Attr* mac = uuid ? a.sized(WSC_ATTR_MAC_ADDRESS, "MAC Address", 6, why) : nullptr;
    const Attr* nonce =
        mac ? a.sized(WSC_ATTR_ENROLLEE_NONCE, "Enrollee Nonce", kWscNonceLen, why) : nullptr;
    const Attr* pk =
        nonce ? a.sized(WSC_ATTR_PUBLIC_KEY, "Public Key", kWscPublicKeyLen, why) : nullptr;
    const Attr* auth =
        pk ? a.sized(WSC_ATTR_AUTHENTICATION_TYPE_FLAGS, "Authentication Type Flags", 2, why)
           : nullptr;
    const Attr* encr =
        auth ? a.sized(WSC_ATTR_ENCRYPTION_TYPE_FLAGS, "Encryption Type Flags", 2, why) : nullptr;
    const Attr* bands = encr ? a.sized(WSC_ATTR_RF_BANDS, "RF Bands", 1, why) : nullptr;
    if (!bands || !a.text(WSC_ATTR_MANUFACTURER, "Manufacturer", 64, m.manufacturer, why) ||
        !a.text(WSC_ATTR_MODEL_NAME, "Model Name", 32, m.model_name, why) ||
        !a.text(WSC_ATTR_MODEL_NUMBER, "Model Number", 32, m.model_number, why) ||
        !a.text(WSC_ATTR_SERIAL_NUMBER, "Serial Number", 32, m.serial_number, why) ||
        !a.text(WSC_ATTR_DEVICE_NAME, "Device Name", 32, m.device_name, why))
        return false;
    std::memcpy(m.uuid_e, uuid->value, 16);
    m.mac = MAC(mac->value);
    std::memcpy(m.enrollee_nonce, nonce->value, kWscNonceLen);
    std::memcpy(m.public_key, pk->value, kWscPublicKeyLen);
    m.auth_type_flags = be16(auth->value);
    m.encr_type_flags = be16(encr->value);
    m.rf_bands = bands->value[0];
    if (m.rf_bands == 0) {
        Attrs::set(why, "RF Bands names no band");
        return false;
    }
    m.raw.assign(data, data + len);
    out = std::move(m);
    return true;
}

// ---- Encrypted Settings --------------------------------------------------------------

bool wsc_encode_settings(const WscBssConfig& bss, std::vector<uint8_t>& out) {
    if (bss.ssid.size() > 32 || bss.network_key.size() > 64)
        return false;
    out.clear();
    out.reserve(80 + bss.ssid.size() + bss.network_key.size());  // never reallocated
    put_text(out, WSC_ATTR_SSID, bss.ssid);
    put16(out, WSC_ATTR_AUTHENTICATION_TYPE, bss.auth_type);
    put16(out, WSC_ATTR_ENCRYPTION_TYPE, bss.encr_type);
    put_text(out, WSC_ATTR_NETWORK_KEY, bss.network_key);
    put(out, WSC_ATTR_MAC_ADDRESS, bss.mac.data(), 6);
    put(out, WSC_ATTR_VENDOR_EXTENSION,
        {kWfaOui[0], kWfaOui[1], kWfaOui[2], kSubMultiApExtension, 1, bss.map_ext});
    return true;
}

bool wsc_decode_settings(const uint8_t* data, size_t len, WscBssConfig& out, std::string* why) {
    std::vector<Attr> list;
    if (data == nullptr || !split(data, len, list)) {
        Attrs::set(why, "settings are not a WSC attribute list");
        return false;
    }
    Attrs a(std::move(list));
    WscBssConfig c;
    const Attr* auth = nullptr;
    const Attr* encr = nullptr;
    const Attr* mac = nullptr;
    if (!a.text(WSC_ATTR_SSID, "SSID", 32, c.ssid, why) ||
        !(auth = a.sized(WSC_ATTR_AUTHENTICATION_TYPE, "Authentication Type", 2, why)) ||
        !(encr = a.sized(WSC_ATTR_ENCRYPTION_TYPE, "Encryption Type", 2, why)) ||
        !a.text(WSC_ATTR_NETWORK_KEY, "Network Key", 64, c.network_key, why) ||
        !(mac = a.sized(WSC_ATTR_MAC_ADDRESS, "MAC Address", 6, why)))
        return false;
    c.auth_type = be16(auth->value);
    c.encr_type = be16(encr->value);
    c.mac = MAC(mac->value);
    // The Multi-AP Extension subelement, in a WFA vendor extension.
    bool found = false;
    for (const Attr& v : a.list()) {
        if (v.type != WSC_ATTR_VENDOR_EXTENSION || v.len < 3 ||
            std::memcmp(v.value, kWfaOui, 3) != 0)
            continue;
        size_t at = 3;
        while (at + 2 <= v.len) {
            const uint8_t id = v.value[at], n = v.value[at + 1];
            if (v.len - at - 2 < n)
                break;
            if (id == kSubMultiApExtension && n == 1) {
                if (found) {
                    Attrs::set(why, "Multi-AP Extension subelement appears twice");
                    return false;
                }
                found = true;
                c.map_ext = v.value[at + 2];
            }
            at += 2 + n;
        }
    }
    if (!found) {
        Attrs::set(why, "no Multi-AP Extension subelement");
        return false;
    }
    out = std::move(c);
    return true;
}

// ---- M2 ------------------------------------------------------------------------------

bool wsc_build_m2(const WscM2Inputs& in, std::vector<uint8_t>& out) {
    if (!in.m1 || !in.registrar || !in.registrar_nonce || !in.registrar_public_key || !in.keys ||
        !in.bss || !in.iv)
        return false;
    const WscRegistrarIdentity& r = *in.registrar;
    if (r.manufacturer.size() > 64 || r.model_name.size() > 32 || r.model_number.size() > 32 ||
        r.serial_number.size() > 32 || r.device_name.size() > 32)
        return false;
    std::vector<uint8_t> settings, encrypted;
    bool ok = wsc_encode_settings(*in.bss, settings) &&
              wsc_encrypt_settings(*in.keys, settings, in.iv, encrypted);
    wsc_wipe(settings);
    if (!ok)
        return false;
    std::vector<uint8_t> m;
    m.reserve(600);
    put(m, WSC_ATTR_VERSION, {0x10});
    put(m, WSC_ATTR_MESSAGE_TYPE, {WSC_MSG_M2});
    put(m, WSC_ATTR_ENROLLEE_NONCE, in.m1->enrollee_nonce, kWscNonceLen);
    put(m, WSC_ATTR_REGISTRAR_NONCE, in.registrar_nonce, kWscNonceLen);
    put(m, WSC_ATTR_UUID_R, r.uuid_r, 16);
    put(m, WSC_ATTR_PUBLIC_KEY, in.registrar_public_key, kWscPublicKeyLen);
    put16(m, WSC_ATTR_AUTHENTICATION_TYPE_FLAGS,
          WSC_AUTH_OPEN | WSC_AUTH_WPA2_PERSONAL | WSC_AUTH_SAE);
    put16(m, WSC_ATTR_ENCRYPTION_TYPE_FLAGS, WSC_ENCR_NONE | WSC_ENCR_AES);
    put(m, WSC_ATTR_CONNECTION_TYPE_FLAGS, {0x01});  // ESS
    put16(m, WSC_ATTR_CONFIG_METHODS, 0x0080);       // push button
    put_text(m, WSC_ATTR_MANUFACTURER, r.manufacturer);
    put_text(m, WSC_ATTR_MODEL_NAME, r.model_name);
    put_text(m, WSC_ATTR_MODEL_NUMBER, r.model_number);
    put_text(m, WSC_ATTR_SERIAL_NUMBER, r.serial_number);
    // Network infrastructure / access point.
    put(m, WSC_ATTR_PRIMARY_DEVICE_TYPE, {0x00, 0x06, 0x00, 0x50, 0xF2, 0x04, 0x00, 0x01});
    put_text(m, WSC_ATTR_DEVICE_NAME, r.device_name);
    put(m, WSC_ATTR_RF_BANDS, {in.rf_band});
    put16(m, WSC_ATTR_ASSOCIATION_STATE, 0x0000);
    put16(m, WSC_ATTR_CONFIGURATION_ERROR, 0x0000);
    put16(m, WSC_ATTR_DEVICE_PASSWORD_ID, 0x0004);  // push button
    put(m, WSC_ATTR_OS_VERSION, {0x80, 0x00, 0x00, 0x00});
    put(m, WSC_ATTR_VENDOR_EXTENSION,
        {kWfaOui[0], kWfaOui[1], kWfaOui[2], kSubVersion2, 1, kVersion2});
    put(m, WSC_ATTR_ENCRYPTED_SETTINGS, encrypted.data(), encrypted.size());
    uint8_t auth[kWscAuthenticatorLen];
    if (!wsc_authenticator(*in.keys, in.m1->raw.data(), in.m1->raw.size(), m.data(), m.size(),
                           auth))
        return false;
    put(m, WSC_ATTR_AUTHENTICATOR, auth, sizeof auth);
    out = std::move(m);
    return true;
}

bool wsc_parse_m2(const uint8_t* data, size_t len, WscM2& out, std::string* why) {
    std::vector<Attr> list;
    if (!prelude(data, len, list, why))
        return false;
    Attrs a(std::move(list));
    if (!message_type_is(a, WSC_MSG_M2, why))
        return false;
    const Attr* en = a.sized(WSC_ATTR_ENROLLEE_NONCE, "Enrollee Nonce", kWscNonceLen, why);
    const Attr* rn =
        en ? a.sized(WSC_ATTR_REGISTRAR_NONCE, "Registrar Nonce", kWscNonceLen, why) : nullptr;
    const Attr* pk =
        rn ? a.sized(WSC_ATTR_PUBLIC_KEY, "Public Key", kWscPublicKeyLen, why) : nullptr;
    const Attr* es = pk ? a.one(WSC_ATTR_ENCRYPTED_SETTINGS, "Encrypted Settings", why) : nullptr;
    const Attr* au =
        es ? a.sized(WSC_ATTR_AUTHENTICATOR, "Authenticator", kWscAuthenticatorLen, why) : nullptr;
    if (!au)
        return false;
    if (&a.list().back() != au) {
        Attrs::set(why, "Authenticator is not the last attribute");
        return false;
    }
    WscM2 m;
    m.raw.assign(data, data + len);
    std::memcpy(m.enrollee_nonce, en->value, kWscNonceLen);
    std::memcpy(m.registrar_nonce, rn->value, kWscNonceLen);
    std::memcpy(m.public_key, pk->value, kWscPublicKeyLen);
    m.encrypted_settings.assign(es->value, es->value + es->len);
    std::memcpy(m.authenticator, au->value, kWscAuthenticatorLen);
    m.authenticated_len = au->offset;
    out = std::move(m);
    return true;
}

bool wsc_enrollee_open_m2(const WscDhKey& own, const std::vector<uint8_t>& m1,
                          const uint8_t* m2_data, size_t m2_len, WscBssConfig& out,
                          std::string* why) {
    WscM1 mine;
    std::string inner;
    if (!wsc_parse_m1(m1.data(), m1.size(), mine, &inner)) {
        Attrs::set(why, "own M1 unusable: " + inner);
        return false;
    }
    WscM2 m2;
    if (!wsc_parse_m2(m2_data, m2_len, m2, &inner)) {
        Attrs::set(why, "malformed M2: " + inner);
        return false;
    }
    if (std::memcmp(m2.enrollee_nonce, mine.enrollee_nonce, kWscNonceLen) != 0) {
        Attrs::set(why, "M2 answers another M1 (enrollee nonce differs)");
        return false;
    }
    uint8_t secret[kWscPublicKeyLen];
    if (!own.shared_secret(m2.public_key, secret)) {
        Attrs::set(why, "registrar public key refused");
        return false;
    }
    WscSessionKeys keys;
    bool ok = wsc_derive_keys(secret, mine.enrollee_nonce, mine.mac, m2.registrar_nonce, keys);
    wsc_wipe(secret, sizeof secret);
    if (!ok) {
        Attrs::set(why, "key derivation failed");
        return false;
    }
    uint8_t auth[kWscAuthenticatorLen];
    if (!wsc_authenticator(keys, m1.data(), m1.size(), m2.raw.data(), m2.authenticated_len, auth) ||
        CRYPTO_memcmp(auth, m2.authenticator, kWscAuthenticatorLen) != 0) {
        Attrs::set(why, "Authenticator does not match (keys differ or the M2 was altered)");
        return false;
    }
    std::vector<uint8_t> settings;
    if (!wsc_decrypt_settings(keys, m2.encrypted_settings.data(), m2.encrypted_settings.size(),
                              settings, &inner)) {
        Attrs::set(why, inner);
        return false;
    }
    ok = wsc_decode_settings(settings.data(), settings.size(), out, &inner);
    wsc_wipe(settings);
    if (!ok)
        Attrs::set(why, "settings: " + inner);
    return ok;
}
