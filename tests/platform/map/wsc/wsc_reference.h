// Runs the independent Python reference (wsc_reference.py, written from the
// WSC key derivation rules with Python integers, hashlib/hmac and the
// `cryptography` package) so that the tests compare the C++ with values it
// did not compute itself.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace wsc_ref {

// A flat JSON object of strings and integers.
struct Object {
    std::map<std::string, std::string> strings;
    std::map<std::string, long long> numbers;
    std::vector<long long> attributes;  // "attributes" array of open-m2
    bool ok = true;                     // "ok" when present
};

// Runs `python3 wsc_reference.py MODE` with REQUEST (string values quoted,
// numbers as given). False with WHY when python3 or its `cryptography`
// package is missing (the caller skips) or the script failed.
bool run(const std::string& mode, const std::map<std::string, std::string>& strings,
         const std::map<std::string, long long>& numbers, Object& out, std::string* why);

}  // namespace wsc_ref
