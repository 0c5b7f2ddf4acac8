#include "map/stack_config.h"

// Debian's rapidjson 1.1.0 computes "null + offset" in its internal stack
// before the first allocation, which clang's UBSan reports on every parse.
// Only the functions of these headers are exempt from that one check; the
// standard headers they use are included first so that they stay checked.
#include <cassert>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iosfwd>
#include <iterator>
#include <limits>
#include <new>
#include <string>
#include <type_traits>
#include <utility>
#if defined(__clang__)
#pragma clang attribute push(__attribute__((no_sanitize("pointer-overflow"))), apply_to = function)
#endif
#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#if defined(__clang__)
#pragma clang attribute pop
#endif
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

#include "common/paths.h"
#include "map/map_log.h"
#include "map/transport/segment_transport.h"

namespace {
using rapidjson::Value;

constexpr size_t kMaxInterfaces = 16;
constexpr size_t kMaxInterfaceNameLen = 15;  // IFNAMSIZ - 1
constexpr size_t kMaxPathLen = 4095;

// Collects the first error; every check returns false once one is recorded.
class Checker {
  public:
    bool bad(const std::string& key, const std::string& what) {
        if (error_.empty())
            error_ = "map_stack.json: \"" + key + "\": " + what;
        return false;
    }
    const std::string& error() const { return error_; }

  private:
    std::string error_;
};

bool no_duplicate_keys(const Value& object, const std::string& prefix, Checker& c) {
    std::set<std::string> seen;
    for (auto it = object.MemberBegin(); it != object.MemberEnd(); ++it) {
        std::string name(it->name.GetString(), it->name.GetStringLength());
        if (!seen.insert(name).second)
            return c.bad(prefix + name, "given twice");
    }
    return true;
}

bool get_string(const Value& v, const std::string& key, size_t max_len, std::string& out,
                Checker& c) {
    if (!v.IsString())
        return c.bad(key, "expected a string");
    if (v.GetStringLength() == 0)
        return c.bad(key, "must not be empty");
    if (v.GetStringLength() > max_len) {
        return c.bad(key, "longer than " + std::to_string(max_len) + " characters");
    }
    out.assign(v.GetString(), v.GetStringLength());
    if (out.find('\0') != std::string::npos)
        return c.bad(key, "contains a NUL character");
    return true;
}

bool get_mac(const Value& v, const std::string& key, bool allow_zero, MAC& out, Checker& c) {
    const std::string expected = "expected a unicast MAC address like \"02:00:00:00:00:01\"";
    if (!v.IsString())
        return c.bad(key, expected);
    std::string text(v.GetString(), v.GetStringLength());
    MAC mac;
    if (!MAC::parse(text, mac) || mac.is_multicast() || (mac.is_zero() && !allow_zero)) {
        return c.bad(key, expected + ", got \"" + text + "\"");
    }
    out = mac;
    return true;
}

bool get_uint(const Value& v, const std::string& key, uint64_t min, uint64_t max, uint64_t& out,
              Checker& c) {
    std::string range =
        "expected an integer from " + std::to_string(min) + " to " + std::to_string(max);
    if (!v.IsUint64())
        return c.bad(key, range);
    uint64_t value = v.GetUint64();
    if (value < min || value > max)
        return c.bad(key, range + ", got " + std::to_string(value));
    out = value;
    return true;
}

bool get_segment(const Value& v, const std::string& key, std::string& out, Checker& c) {
    std::string text;
    if (!get_string(v, key, 32, text, c))
        return false;
    uint32_t group;
    uint16_t port;
    if (!parse_segment_address(text, &group, &port)) {
        return c.bad(key,
                     "expected \"GROUP:PORT\" with an IPv4 multicast group and a port "
                     "1-65535, got \"" +
                         text + "\"");
    }
    out = text;
    return true;
}

// Linux accepts any interface name of 1-15 bytes except "." and ".." and
// names holding '/', ':' or white space.
bool valid_interface_name(const std::string& name) {
    if (name == "." || name == "..")
        return false;
    for (char ch : name) {
        if (ch == '/' || ch == ':' || ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r' ||
            static_cast<unsigned char>(ch) < 0x20) {
            return false;
        }
    }
    return true;
}

bool parse_interfaces(const Value& list, MapTransportKind kind, MapStackConfig& out, Checker& c) {
    const std::string key = "interfaces";
    if (!list.IsArray())
        return c.bad(key, "expected an array of interface objects");
    if (list.Empty())
        return c.bad(key, "needs at least one interface");
    if (list.Size() > kMaxInterfaces) {
        return c.bad(key, "at most " + std::to_string(kMaxInterfaces) + " interfaces");
    }
    std::vector<MapStackInterface> interfaces;
    for (rapidjson::SizeType i = 0; i < list.Size(); ++i) {
        const std::string prefix = key + "[" + std::to_string(i) + "]";
        const Value& item = list[i];
        if (!item.IsObject())
            return c.bad(prefix, "expected an object with \"name\" and \"mac\"");
        if (!no_duplicate_keys(item, prefix + ".", c))
            return false;
        MapStackInterface itf;
        bool has_name = false, has_mac = false;
        for (auto it = item.MemberBegin(); it != item.MemberEnd(); ++it) {
            std::string name(it->name.GetString(), it->name.GetStringLength());
            const std::string k = prefix + "." + name;
            if (name == "name") {
                if (!get_string(it->value, k, kMaxInterfaceNameLen, itf.name, c))
                    return false;
                if (!valid_interface_name(itf.name))
                    return c.bad(k, "not a valid interface name");
                has_name = true;
            } else if (name == "mac") {
                if (!get_mac(it->value, k, false, itf.mac, c))
                    return false;
                has_mac = true;
            } else if (name == "segment") {
                if (kind != MapTransportKind::segment) {
                    return c.bad(k, "only for the segment transport");
                }
                if (!get_segment(it->value, k, itf.segment, c))
                    return false;
            } else if (name.empty() || name[0] != '_') {
                return c.bad(k, "unknown key");
            }
        }
        if (!has_name)
            return c.bad(prefix + ".name", "missing");
        if (!has_mac && kind == MapTransportKind::segment) {
            return c.bad(prefix + ".mac", "missing (required for the segment transport)");
        }
        for (const MapStackInterface& other : interfaces) {
            if (other.name == itf.name)
                return c.bad(prefix + ".name", "used twice");
            if (has_mac && other.mac == itf.mac)
                return c.bad(prefix + ".mac", "used twice");
        }
        interfaces.push_back(itf);
    }
    out.interfaces = interfaces;
    return true;
}

bool get_bool(const Value& v, const std::string& key, bool& out, Checker& c) {
    if (!v.IsBool())
        return c.bad(key, "expected true or false");
    out = v.GetBool();
    return true;
}

struct Security {
    const char* name;
    uint16_t auth, encr;
};
constexpr Security kSecurities[] = {{"open", 0x0001, 0x0001},
                                    {"wpa2-personal", 0x0020, 0x0008},
                                    {"wpa3-personal", 0x0040, 0x0008},
                                    {"wpa2-wpa3-personal", 0x0060, 0x0008}};

// One VAP credential. The key's value is never put into an error text.
bool parse_credential(const Value& item, const std::string& prefix, map_vap_credential_t& out,
                      Checker& c) {
    if (!item.IsObject())
        return c.bad(prefix, "expected an object with \"ssid\" and \"key\"");
    if (!no_duplicate_keys(item, prefix + ".", c))
        return false;
    map_vap_credential_t cred{};
    std::string ssid, key, security;
    bool fronthaul = true, backhaul = false, hidden = false, has_ssid = false;
    for (auto it = item.MemberBegin(); it != item.MemberEnd(); ++it) {
        std::string name(it->name.GetString(), it->name.GetStringLength());
        const std::string k = prefix + "." + name;
        const Value& v = it->value;
        if (name == "ssid") {
            if (!get_string(v, k, kCredentialSsidMax, ssid, c))
                return false;
            has_ssid = true;
        } else if (name == "key") {
            if (!v.IsString())
                return c.bad(k, "expected a string");
            if (std::memchr(v.GetString(), '\0', v.GetStringLength()) != nullptr)
                return c.bad(k, "contains a NUL character");
            const size_t n = v.GetStringLength();
            if (n != 0 && (n < 8 || n > kCredentialKeyMax)) {
                return c.bad(k, "expected 8 to " + std::to_string(kCredentialKeyMax) +
                                    " characters (or none for an open network), got " +
                                    std::to_string(n));
            }
            key.assign(v.GetString(), n);
        } else if (name == "security") {
            if (!get_string(v, k, 32, security, c))
                return false;
            bool known = false;
            for (const Security& s : kSecurities)
                known = known || security == s.name;
            if (!known) {
                return c.bad(k,
                             "expected \"open\", \"wpa2-personal\", \"wpa3-personal\" or "
                             "\"wpa2-wpa3-personal\", got \"" +
                                 security + "\"");
            }
        } else if (name == "bands") {
            if (!v.IsArray())
                return c.bad(k, "expected an array of \"2.4\", \"5\" and \"60\"");
            for (rapidjson::SizeType i = 0; i < v.Size(); ++i) {
                const std::string bk = k + "[" + std::to_string(i) + "]";
                std::string band;
                if (!get_string(v[i], bk, 8, band, c))
                    return false;
                if (band == "2.4")
                    cred.rf_bands |= 0x01;
                else if (band == "5")
                    cred.rf_bands |= 0x02;
                else if (band == "60")
                    cred.rf_bands |= 0x04;
                else
                    return c.bad(bk, "expected \"2.4\", \"5\" or \"60\", got \"" + band + "\"");
            }
        } else if (name == "fronthaul") {
            if (!get_bool(v, k, fronthaul, c))
                return false;
        } else if (name == "backhaul") {
            if (!get_bool(v, k, backhaul, c))
                return false;
        } else if (name == "hidden") {
            if (!get_bool(v, k, hidden, c))
                return false;
        } else if (name.empty() || name[0] != '_') {
            return c.bad(k, "unknown key");
        }
    }
    if (!has_ssid)
        return c.bad(prefix + ".ssid", "missing");
    if (!fronthaul && !backhaul)
        return c.bad(prefix, "neither fronthaul nor backhaul");
    if (security.empty())
        security = key.empty() ? "open" : "wpa2-personal";
    if ((security == "open") != key.empty()) {
        return c.bad(prefix + ".key", security == "open" ? "an open network has no key"
                                                         : "missing for \"" + security + "\"");
    }
    for (const Security& s : kSecurities) {
        if (security == s.name) {
            cred.auth_type = s.auth;
            cred.encr_type = s.encr;
        }
    }
    std::memcpy(cred.ssid, ssid.data(), ssid.size());
    std::memcpy(cred.network_key, key.data(), key.size());
    std::fill(key.begin(), key.end(), '\0');
    cred.bss_type = static_cast<uint8_t>((fronthaul ? MAP_CRED_FRONTHAUL : 0) |
                                         (backhaul ? MAP_CRED_BACKHAUL : 0));
    cred.hidden = hidden ? 1 : 0;
    out = cred;
    return true;
}

bool parse_credentials(const Value& list, MapStackConfig& out, Checker& c) {
    const std::string key = "credentials";
    if (!list.IsArray())
        return c.bad(key, "expected an array of credential objects");
    if (list.Size() > kMaxCredentials)
        return c.bad(key, "at most " + std::to_string(kMaxCredentials) + " credentials");
    std::vector<map_vap_credential_t> creds;
    for (rapidjson::SizeType i = 0; i < list.Size(); ++i) {
        map_vap_credential_t cred{};
        if (!parse_credential(list[i], key + "[" + std::to_string(i) + "]", cred, c))
            return false;
        creds.push_back(cred);
    }
    out.credentials = creds;
    return true;
}

bool parse_document(const Value& doc, MapStackConfig& out, Checker& c) {
    if (!doc.IsObject())
        return c.bad("(top level)", "expected a JSON object");
    if (!no_duplicate_keys(doc, "", c))
        return false;
    // The transport decides what the other keys may say, so it comes first.
    auto t = doc.FindMember("transport");
    if (t != doc.MemberEnd()) {
        std::string kind;
        if (!get_string(t->value, "transport", 16, kind, c))
            return false;
        if (kind == "raw") {
            out.transport = MapTransportKind::raw;
        } else if (kind == "segment") {
            out.transport = MapTransportKind::segment;
        } else {
            return c.bad("transport", "expected \"raw\" or \"segment\", got \"" + kind + "\"");
        }
    }
    bool has_interfaces = false;
    for (auto it = doc.MemberBegin(); it != doc.MemberEnd(); ++it) {
        std::string key(it->name.GetString(), it->name.GetStringLength());
        const Value& v = it->value;
        uint64_t number = 0;
        if (key == "transport") {
            continue;
        } else if (key == "segment") {
            if (!get_segment(v, key, out.segment, c))
                return false;
        } else if (key == "interfaces") {
            if (!parse_interfaces(v, out.transport, out, c))
                return false;
            has_interfaces = true;
        } else if (key == "al_mac") {
            if (!get_mac(v, key, false, out.al_mac, c))
                return false;
        } else if (key == "agent_al_mac") {
            if (!get_mac(v, key, true, out.agent_al_mac, c))
                return false;
        } else if (key == "profile") {
            if (!get_uint(v, key, 1, 3, number, c))
                return false;
            out.profile = static_cast<int>(number);
        } else if (key == "pcap") {
            if (!get_string(v, key, kMaxPathLen, out.pcap, c))
                return false;
        } else if (key == "pcap_max_bytes") {
            if (!get_uint(v, key, 1024, 1ull << 30, number, c))
                return false;
            out.pcap_max_bytes = number;
        } else if (key == "discovery_interval_s") {
            if (!get_uint(v, key, 1, 3600, number, c))
                return false;
            out.discovery_interval_s = static_cast<unsigned>(number);
        } else if (key == "credentials") {
            if (!parse_credentials(v, out, c))
                return false;
        } else if (key == "rx_max_frames_per_s") {
            if (!get_uint(v, key, 1, 1000000, number, c))
                return false;
            out.rx_max_frames_per_s = static_cast<unsigned>(number);
        } else if (key.empty() || key[0] != '_') {
            return c.bad(key, "unknown key");
        }
    }
    if (!has_interfaces && out.transport == MapTransportKind::raw) {
        return c.bad("interfaces", "missing (required for the raw transport)");
    }
    for (MapStackInterface& itf : out.interfaces) {
        if (out.transport == MapTransportKind::segment && itf.segment.empty()) {
            itf.segment = out.segment;
        }
    }
    if (out.al_mac.is_zero())
        out.al_mac = out.interfaces[0].mac;  // zero for raw without mac
    return true;
}
}  // namespace

const char* map_transport_kind_name(MapTransportKind kind) {
    return kind == MapTransportKind::raw ? "raw" : "segment";
}

MapStackConfig map_stack_default_config() {
    MapStackConfig config;
    config.segment = kDefaultSegment;
    MapStackInterface itf;
    itf.name = kDefaultInterfaceName;
    MAC::parse(kDefaultInterfaceMac, itf.mac);
    itf.segment = kDefaultSegment;
    config.interfaces.push_back(itf);
    config.al_mac = itf.mac;
    return config;
}

int map_stack_config_parse(const std::string& text, MapStackConfig& out, std::string* error) {
    rapidjson::Document doc;
    doc.Parse(text.c_str(), text.size());
    if (doc.HasParseError()) {
        if (error) {
            *error = std::string("map_stack.json: not valid JSON at offset ") +
                     std::to_string(doc.GetErrorOffset()) + ": " +
                     rapidjson::GetParseError_En(doc.GetParseError());
        }
        return -1;
    }
    // Keys the file leaves out keep their defaults, except what derives from
    // other keys: the default interface follows "segment", the AL MAC the
    // first interface.
    MapStackConfig config = map_stack_default_config();
    config.from_file = true;
    config.interfaces[0].segment.clear();
    config.al_mac = MAC::zero;
    Checker c;
    if (!parse_document(doc, config, c)) {
        if (error)
            *error = c.error();
        return -1;
    }
    out = config;
    return 0;
}

int map_stack_config_load(MapStackConfig& out, std::string* error) {
    const std::string path = ozr_path(kMapStackConfigPath);
    struct stat st;
    // No file: nothing at the path, or a component of it is not a folder.
    if (::stat(path.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR)) {
        out = map_stack_default_config();
        map_log(MAP_LOG_LIBRARY, 5,
                "%s not found: using the defaults (segment transport on %s, interface %s %s)",
                path.c_str(), kDefaultSegment, kDefaultInterfaceName, kDefaultInterfaceMac);
        return 0;
    }
    std::string text, why;
    if (!ozr_read_file(path, text, kMapStackConfigMaxBytes)) {
        why = "map_stack.json: cannot read " + path + " (missing permission, not a file, or over " +
              std::to_string(kMapStackConfigMaxBytes) + " bytes)";
    } else if (map_stack_config_parse(text, out, &why) == 0) {
        std::fill(text.begin(), text.end(), '\0');  // it may hold network keys
        return 0;
    }
    std::fill(text.begin(), text.end(), '\0');
    map_log(MAP_LOG_LIBRARY, 3, "%s", why.c_str());
    if (error)
        *error = why;
    return -1;
}
