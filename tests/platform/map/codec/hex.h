// Bytes written as hex digits in tests, and back.
#pragma once

#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

// The bytes of hex digits; spaces between them are skipped ("02 0003 0a0b0c").
inline std::vector<uint8_t> from_hex(const std::string& s) {
    std::vector<uint8_t> v;
    auto nib = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    for (size_t i = 0; i + 1 < s.size();) {
        if (s[i] == ' ') {
            ++i;
            continue;
        }
        v.push_back(static_cast<uint8_t>(nib(s[i]) << 4 | nib(s[i + 1])));
        i += 2;
    }
    return v;
}

// Lower-case hex digits of N bytes at P.
inline std::string to_hex(const uint8_t* p, size_t n) {
    static const char d[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += d[p[i] >> 4];
        s += d[p[i] & 15];
    }
    return s;
}
inline std::string to_hex(const std::vector<uint8_t>& v) {
    return to_hex(v.data(), v.size());
}

// The hex digits of a text such as "b9:00:01:CB", lower-cased.
inline std::string hex_digits(const std::string& s) {
    std::string h;
    for (char c : s) {
        if (std::isxdigit(static_cast<unsigned char>(c)))
            h += static_cast<char>(std::tolower(c));
    }
    return h;
}
