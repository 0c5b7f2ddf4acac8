// Text forms of the codes the REST documents print. They take the plain
// codes, so they serve the graph's enums and the stack's records alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// IEEE 1905 media type: 0 "fast ethernet" ... 65535 "unknown media"; any other
// code gives "".
const char* media_type_to_string(unsigned media_type);
// 1 "ethernet", 16 "wifi-24", 32 "wifi-5high", 64 "wifi-5low", 128 "wifi-5";
// anything else "".
const char* link_medium_to_string(unsigned link_medium);
// Names of the set band bits (16, 32, 64, 128) in that order, joined by one space.
std::string band_type_to_str(unsigned bits);
// The same into OUT (CAP bytes, NUL-terminated, cut when short; 80 bytes hold every
// combination); returns OUT.
const char* band_type_to_buf(unsigned bits, char* out, size_t cap);
// "MEDIA_... (0x0100)" for the known interface types (lower 16 bits of CODE),
// "Unknown (0x%x)" otherwise.
std::string intf_type_to_str(unsigned code);
// The same without allocating: a constant text for the known types, else the
// "Unknown" text written into OUT (CAP bytes; 32 are enough).
const char* intf_type_to_buf(unsigned code, char* out, size_t cap);
// The 802.11 access category index of an estimated service parameters field:
// 0 "AC_BE", 1 "AC_BK", 2 "AC_VI", 3 "AC_VO"; "" otherwise.
const char* access_category_to_string(unsigned ac);
