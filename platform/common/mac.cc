#include "common/mac.h"

const MAC MAC::zero{};
const BSSID BSSID::zero{};
const BSSID BSSID::broadcast{0xff, 0xff, 0xff, 0xff, 0xff, 0xff};

namespace {
int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
const char kHex[] = "0123456789abcdef";
}  // namespace

bool MAC::parse(const std::string& text, MAC& out) {
    if (text.size() != 17) return false;
    uint8_t bytes[6];
    for (size_t i = 0; i < 6; ++i) {
        int hi = hex_value(text[i * 3]);
        int lo = hex_value(text[i * 3 + 1]);
        if (hi < 0 || lo < 0) return false;
        if (i < 5 && text[i * 3 + 2] != ':' && text[i * 3 + 2] != '-') return false;
        bytes[i] = static_cast<uint8_t>(hi << 4 | lo);
    }
    out = MAC(bytes);
    return true;
}

bool MAC::is_zero() const {
    for (uint8_t v : b_)
        if (v != 0) return false;
    return true;
}

bool MAC::is_broadcast() const {
    for (uint8_t v : b_)
        if (v != 0xff) return false;
    return true;
}

std::string MAC::to_string() const {
    std::string s(17, ':');
    for (size_t i = 0; i < 6; ++i) {
        s[i * 3] = kHex[b_[i] >> 4];
        s[i * 3 + 1] = kHex[b_[i] & 0xf];
    }
    return s;
}

std::string MAC::to_rest_string() const {
    std::string s(12, '0');
    for (size_t i = 0; i < 6; ++i) {
        s[i * 2] = kHex[b_[i] >> 4];
        s[i * 2 + 1] = kHex[b_[i] & 0xf];
    }
    return s;
}

std::string to_string(const MAC& mac) { return mac.to_string(); }
std::string to_rest_string(const MAC& mac) { return mac.to_rest_string(); }
