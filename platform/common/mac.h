// 6-byte IEEE 802 address value types shared by the platform and the daemon.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

class MAC {
public:
    static const MAC zero;

    MAC() = default;
    explicit MAC(const uint8_t* bytes) { std::memcpy(b_, bytes, sizeof b_); }
    MAC(uint8_t a, uint8_t b, uint8_t c, uint8_t d, uint8_t e, uint8_t f) : b_{a, b, c, d, e, f} {}

    // Parses "aa:bb:cc:dd:ee:ff" (also '-' separated, either case). False on any other text.
    static bool parse(const std::string& text, MAC& out);

    const uint8_t* data() const { return b_; }
    uint8_t* data() { return b_; }
    static constexpr size_t size() { return 6; }
    uint8_t operator[](size_t i) const { return b_[i]; }
    uint8_t& operator[](size_t i) { return b_[i]; }

    bool is_zero() const;
    bool is_broadcast() const;
    bool is_multicast() const { return (b_[0] & 1) != 0; }

    // "aa:bb:cc:dd:ee:ff", lower-case.
    std::string to_string() const;
    // Compact REST form: twelve lower-case hex digits, no separators ("aabbccddeeff").
    std::string to_rest_string() const;

    friend bool operator==(const MAC& a, const MAC& b) { return std::memcmp(a.b_, b.b_, 6) == 0; }
    friend bool operator!=(const MAC& a, const MAC& b) { return !(a == b); }
    friend bool operator<(const MAC& a, const MAC& b) { return std::memcmp(a.b_, b.b_, 6) < 0; }

private:
    uint8_t b_[6] = {0, 0, 0, 0, 0, 0};
};

// A BSS identifier: the same bytes as a MAC, with a broadcast constant of its own.
class BSSID : public MAC {
public:
    static const BSSID zero;
    static const BSSID broadcast;

    BSSID() = default;
    explicit BSSID(const uint8_t* bytes) : MAC(bytes) {}
    explicit BSSID(const MAC& mac) : MAC(mac) {}
    BSSID(uint8_t a, uint8_t b, uint8_t c, uint8_t d, uint8_t e, uint8_t f)
        : MAC(a, b, c, d, e, f) {}

    static bool parse(const std::string& text, BSSID& out) { return MAC::parse(text, out); }
};

std::string to_string(const MAC& mac);
std::string to_rest_string(const MAC& mac);

namespace std {
template <>
struct hash<MAC> {
    size_t operator()(const MAC& m) const noexcept {
        uint64_t v = 0;
        for (size_t i = 0; i < 6; ++i) v = (v << 8) | m[i];
        return std::hash<uint64_t>()(v);
    }
};
template <>
struct hash<BSSID> {
    size_t operator()(const BSSID& m) const noexcept { return hash<MAC>()(m); }
};
}  // namespace std
