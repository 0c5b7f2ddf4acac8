// Wi-Fi Simple Configuration attribute lists, as carried in the WSC TLV of
// AP-autoconfiguration WSC messages (M1 from the agent, M2 from the controller).
// Attributes are type (16-bit), length (16-bit), value, big-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/mac.h"

constexpr uint16_t WSC_ATTR_ASSOCIATION_STATE = 0x1002;
constexpr uint16_t WSC_ATTR_AUTHENTICATION_TYPE = 0x1003;
constexpr uint16_t WSC_ATTR_AUTHENTICATION_TYPE_FLAGS = 0x1004;
constexpr uint16_t WSC_ATTR_AUTHENTICATOR = 0x1005;
constexpr uint16_t WSC_ATTR_CONFIG_METHODS = 0x1008;
constexpr uint16_t WSC_ATTR_CONFIGURATION_ERROR = 0x1009;
constexpr uint16_t WSC_ATTR_CONNECTION_TYPE_FLAGS = 0x100D;
constexpr uint16_t WSC_ATTR_ENCRYPTION_TYPE = 0x100F;
constexpr uint16_t WSC_ATTR_ENCRYPTION_TYPE_FLAGS = 0x1010;
constexpr uint16_t WSC_ATTR_DEVICE_NAME = 0x1011;
constexpr uint16_t WSC_ATTR_DEVICE_PASSWORD_ID = 0x1012;
constexpr uint16_t WSC_ATTR_ENCRYPTED_SETTINGS = 0x1018;
constexpr uint16_t WSC_ATTR_ENROLLEE_NONCE = 0x101A;
constexpr uint16_t WSC_ATTR_KEY_WRAP_AUTHENTICATOR = 0x101E;
constexpr uint16_t WSC_ATTR_MAC_ADDRESS = 0x1020;
constexpr uint16_t WSC_ATTR_MANUFACTURER = 0x1021;
constexpr uint16_t WSC_ATTR_MESSAGE_TYPE = 0x1022;
constexpr uint16_t WSC_ATTR_MODEL_NAME = 0x1023;
constexpr uint16_t WSC_ATTR_MODEL_NUMBER = 0x1024;
constexpr uint16_t WSC_ATTR_NETWORK_KEY = 0x1027;
constexpr uint16_t WSC_ATTR_OS_VERSION = 0x102D;
constexpr uint16_t WSC_ATTR_PUBLIC_KEY = 0x1032;
constexpr uint16_t WSC_ATTR_REGISTRAR_NONCE = 0x1039;
constexpr uint16_t WSC_ATTR_RF_BANDS = 0x103C;
constexpr uint16_t WSC_ATTR_SERIAL_NUMBER = 0x1042;
constexpr uint16_t WSC_ATTR_WPS_STATE = 0x1044;
constexpr uint16_t WSC_ATTR_SSID = 0x1045;
constexpr uint16_t WSC_ATTR_UUID_E = 0x1047;
constexpr uint16_t WSC_ATTR_UUID_R = 0x1048;
constexpr uint16_t WSC_ATTR_VENDOR_EXTENSION = 0x1049;
constexpr uint16_t WSC_ATTR_VERSION = 0x104A;
constexpr uint16_t WSC_ATTR_PRIMARY_DEVICE_TYPE = 0x1054;

constexpr uint8_t WSC_MSG_M1 = 0x04;
constexpr uint8_t WSC_MSG_M2 = 0x05;

constexpr uint8_t WSC_RF_BAND_2_4_GHZ = 0x01;
constexpr uint8_t WSC_RF_BAND_5_GHZ = 0x02;
constexpr uint8_t WSC_RF_BAND_60_GHZ = 0x04;

struct wsc_attribute {
    uint16_t type = 0;
    std::vector<uint8_t> value;
};

// Splits FRAME into attributes. False when an attribute runs past the end.
bool wsc_parse_attributes(const uint8_t* frame, size_t len, std::vector<wsc_attribute>& out);
// Appends the attributes to OUT. False when a value exceeds 65535 bytes.
bool wsc_build_attributes(const std::vector<wsc_attribute>& attrs, std::vector<uint8_t>& out);

// The fields of an M1 or M2 the stack reads or sets; all others stay in `other`.
struct wsc_message {
    uint8_t version = 0x10;
    uint8_t message_type = WSC_MSG_M1;
    uint8_t uuid[16] = {};             // UUID-E in M1, UUID-R in M2
    MAC mac_address;                   // M1 only
    std::string manufacturer;          // at most 64 bytes
    std::string model_name;            // at most 32 bytes
    std::string model_number;          // at most 32 bytes
    std::string serial_number;         // at most 32 bytes
    std::string device_name;           // at most 32 bytes
    uint8_t rf_bands = 0;              // WSC_RF_BAND_* bits
    std::vector<wsc_attribute> other;  // every other attribute, in frame order
};

// Parses an M1 or M2. False when the list is malformed, the message type is
// neither M1 nor M2, a field named above is missing from an M1 (Message Type,
// UUID-E, MAC Address, Manufacturer, Model Name, Model Number, Serial Number,
// Device Name, RF Bands) or has a wrong length, or a text is over its cap.
bool wsc_parse_message(const uint8_t* frame, size_t len, wsc_message& out);

// Builds the attribute list: Version, Message Type, UUID-E/UUID-R, MAC Address
// (M1), Manufacturer, Model Name, Model Number, Serial Number, Device Name,
// RF Bands, then `other` in order. False when a text is over its cap.
bool wsc_build_message(const wsc_message& msg, std::vector<uint8_t>& out);
