// The WSC messages of Multi-AP onboarding over 1905: the agent's M1 as the
// registrar reads it, the controller's M2 carrying one BSS's settings in its
// Encrypted Settings, and the enrollee's side of an M2 (authenticator, key
// wrap, decryption). Strict parsers that say what is wrong; no secret ever
// goes into a reason text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/mac.h"
#include "map/wsc/wsc_crypto.h"

// Bits of the Multi-AP Extension subelement (WFA vendor extension).
constexpr uint8_t WSC_MAP_BACKHAUL_STA = 0x80;
constexpr uint8_t WSC_MAP_BACKHAUL_BSS = 0x40;
constexpr uint8_t WSC_MAP_FRONTHAUL_BSS = 0x20;
constexpr uint8_t WSC_MAP_TEAR_DOWN = 0x10;

// Authentication and encryption types (one bit each).
constexpr uint16_t WSC_AUTH_OPEN = 0x0001;
constexpr uint16_t WSC_AUTH_WPA2_PERSONAL = 0x0020;
constexpr uint16_t WSC_AUTH_SAE = 0x0040;
constexpr uint16_t WSC_ENCR_NONE = 0x0001;
constexpr uint16_t WSC_ENCR_AES = 0x0008;

// An M1 or M2 longer than this is refused unread (a real one is about 500 bytes).
constexpr size_t kWscMaxMessageLen = 2048;

// What the registrar needs of an M1.
struct WscM1 {
    std::vector<uint8_t> raw;  // the whole message, for the Authenticator
    uint8_t uuid_e[16] = {};
    MAC mac;
    uint8_t enrollee_nonce[kWscNonceLen] = {};
    uint8_t public_key[kWscPublicKeyLen] = {};
    uint16_t auth_type_flags = 0;
    uint16_t encr_type_flags = 0;
    uint8_t rf_bands = 0;
    std::string manufacturer, model_name, model_number, serial_number, device_name;
};

// Parses an M1. False, with WHY naming the first problem, for anything but a
// well-formed M1 over kWscMaxMessageLen bytes or with a missing, repeated or
// wrongly sized attribute among Version, Message Type, UUID-E, MAC Address,
// Enrollee Nonce, Public Key (192 bytes), Authentication and Encryption Type
// Flags, Manufacturer, Model Name, Model Number, Serial Number, Device Name
// and RF Bands.
bool wsc_parse_m1(const uint8_t* data, size_t len, WscM1& out, std::string* why);

// The settings of one BSS as an M2 carries them. The key is wiped with it.
struct WscBssConfig {
    std::string ssid;  // at most 32 bytes
    uint16_t auth_type = WSC_AUTH_OPEN;
    uint16_t encr_type = WSC_ENCR_NONE;
    std::string network_key;  // at most 64 bytes
    MAC mac;                  // the enrollee's MAC address
    uint8_t map_ext = 0;      // WSC_MAP_* bits
    WscBssConfig() = default;
    WscBssConfig(const WscBssConfig& o) = default;
    WscBssConfig& operator=(const WscBssConfig& o) = default;
    ~WscBssConfig() { wsc_wipe(network_key); }
};

// The plaintext of Encrypted Settings: SSID, Authentication Type, Encryption
// Type, Network Key, MAC Address, the WFA vendor extension with the Multi-AP
// Extension subelement. False for an SSID or key too long. The caller wipes OUT.
bool wsc_encode_settings(const WscBssConfig& bss, std::vector<uint8_t>& out);
// The inverse; false with WHY for a missing, repeated or wrongly sized one.
bool wsc_decode_settings(const uint8_t* data, size_t len, WscBssConfig& out, std::string* why);

// Who the registrar says it is in its M2s.
struct WscRegistrarIdentity {
    uint8_t uuid_r[16] = {};
    std::string manufacturer = "ozr";
    std::string model_name = "ozr controller";
    std::string model_number = "1";
    std::string serial_number;
    std::string device_name = "ozr";
};

// Everything one M2 is made of.
struct WscM2Inputs {
    const WscM1* m1 = nullptr;
    const WscRegistrarIdentity* registrar = nullptr;
    const uint8_t* registrar_nonce = nullptr;       // kWscNonceLen bytes
    const uint8_t* registrar_public_key = nullptr;  // kWscPublicKeyLen bytes
    const WscSessionKeys* keys = nullptr;
    const WscBssConfig* bss = nullptr;
    const uint8_t* iv = nullptr;  // kWscIvLen bytes
    uint8_t rf_band = 0;          // the WSC RF band bit of the radio
};

// Builds one M2: Version, Message Type, Enrollee Nonce, Registrar Nonce,
// UUID-R, Public Key, Authentication and Encryption Type Flags, Connection
// Type Flags, Config Methods, Manufacturer, Model Name, Model Number, Serial
// Number, Primary Device Type, Device Name, RF Bands, Association State,
// Configuration Error, Device Password ID, OS Version, the WFA vendor
// extension (Version2), Encrypted Settings, Authenticator over M1 | M2.
bool wsc_build_m2(const WscM2Inputs& in, std::vector<uint8_t>& out);

// What the enrollee reads of an M2.
struct WscM2 {
    std::vector<uint8_t> raw;
    uint8_t enrollee_nonce[kWscNonceLen] = {};
    uint8_t registrar_nonce[kWscNonceLen] = {};
    uint8_t public_key[kWscPublicKeyLen] = {};
    std::vector<uint8_t> encrypted_settings;
    uint8_t authenticator[kWscAuthenticatorLen] = {};
    size_t authenticated_len = 0;  // bytes of RAW before the Authenticator attribute
};
// Parses an M2 (its Authenticator must be the last attribute). False with WHY.
bool wsc_parse_m2(const uint8_t* data, size_t len, WscM2& out, std::string* why);

// The enrollee's side of one M2, in the order an enrollee must check it: the
// M2 answers this M1 (same enrollee nonce), the registrar's public key gives a
// shared secret, the Authenticator over M1 | M2 matches, the Encrypted
// Settings decrypt and their Key Wrap Authenticator matches, the settings are
// complete. OWN is the enrollee's key pair, M1 the message it sent. False with
// WHY (no secret in it) at the first failure.
bool wsc_enrollee_open_m2(const WscDhKey& own, const std::vector<uint8_t>& m1, const uint8_t* m2,
                          size_t m2_len, WscBssConfig& out, std::string* why);
