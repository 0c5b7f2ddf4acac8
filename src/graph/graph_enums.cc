#include "graph/graph_enums.h"

#include <fmt/format.h>

bool is_wifi_medium(Medium m) {
    uint8_t v = static_cast<uint8_t>(m);
    return v >= 1 && v <= 5;
}

std::string medium_to_string(Medium m) {
    switch (m) {
        case Medium::ETHERNET:
            return "ETHERNET";
        case Medium::WIFI_2G:
            return "WIFI_2G";
        case Medium::WIFI_5G_LOW:
            return "WIFI_5G_LOW";
        case Medium::WIFI_5G_HIGH:
            return "WIFI_5G_HIGH";
        case Medium::WIFI_5G:
            return "WIFI_5G";
        default:
            return "UNKNOWN_MEDIUM";
    }
}

std::string backhaul_quality_to_string(backhaul_quality q) {
    switch (q) {
        case backhaul_quality::NORMAL:
            return "NORMAL";
        case backhaul_quality::GOOD:
            return "GOOD";
        default:
            return "BAD";
    }
}

std::string wifi_system_type_to_string(wifi_system_type t) {
    switch (t) {
        case wifi_system_type::ONLY_2G:
            return "ONLY_2G";
        case wifi_system_type::ONLY_5G:
            return "ONLY_5G";
        case wifi_system_type::DUAL_BAND:
            return "DUAL_BAND";
        case wifi_system_type::TRI_BAND:
            return "TRI_BAND";
        default:
            return "UNKNOWN_BAND";
    }
}

std::string wifi_standard_to_string(unsigned char standard) {
    switch (standard) {
        case 0:
            return "802.11b";
        case 1:
            return "802.11g";
        case 2:
            return "802.11a";
        case 3:
            return "Wi-Fi 4";
        case 4:
            return "Wi-Fi 5";
        case 7:
            return "Wi-Fi 6";
        default:
            return "unknown";
    }
}

std::string sta_category_to_string(sta_categories c) {
    switch (c) {
        case sta_categories::INVALID:
            return "INVALID";
        case sta_categories::CONTROLLED_STEERING_CLASS1:
            return "Controlled-Steering-Class1";
        case sta_categories::CONTROLLED_STEERING_CLASS2:
            return "Controlled-Steering-Class2";
        case sta_categories::ASSISTED_ROAMING:
            return "Assisted-Roaming";
        case sta_categories::FREE_ROAMING:
            return "Free-Roaming";
        case sta_categories::CAT5:
            return "CAT5";
        default:
            return "CAT?";
    }
}

const char* medium_short_word(Medium m) {
    switch (m) {
        case Medium::WIFI_2G:
            return "wifi-2.4";
        case Medium::WIFI_5G_LOW:
            return "wifi-5l";
        case Medium::WIFI_5G_HIGH:
            return "wifi-5h";
        case Medium::WIFI_5G:
            return "wifi-5";
        case Medium::WIFI:
            return "wifi";
        default:
            return "medium?";
    }
}

std::string media_type_to_string(uint16_t media_type) {
    // IEEE 1905.1 media types; 0x0108 is the 802.11ax value EasyMesh added.
    switch (media_type) {
        case 0x0000:
            return "Fast Ethernet";
        case 0x0001:
            return "Gigabit Ethernet";
        case 0x0100:
            return "11b 2.4G";
        case 0x0101:
            return "11g 2.4G";
        case 0x0102:
            return "11a 5G";
        case 0x0103:
            return "11n 2.4G";
        case 0x0104:
            return "11n 5G";
        case 0x0108:
            return "Wi-Fi 6";
        case 0x0106:
            return "11ad 60G";
        case 0x0300:
            return "Moca";
        case 0x0200:
            return "Wavelet";
        default:
            return fmt::format("unknown media ({})", media_type);
    }
}

std::string interface_role_to_string(uint8_t role) {
    switch (role) {
        case 0x4:
            return "Non AP/PCP Sta";
        case 0x8:
            return "Wifi Client";
        case 0x9:
            return "Wifi Group Owner";
        case 0xA:
            return "AD PCP";
        default:
            return fmt::format("unknown role ({}", role);
    }
}
