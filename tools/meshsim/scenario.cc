#include "scenario.h"

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>

#include <arpa/inet.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <functional>
#include <set>

#include "map/codec/tlv_types.h"

namespace meshsim {

using rapidjson::Value;

const char* band_name(Band b) {
    switch (b) {
        case Band::b24:
            return "2.4";
        case Band::b5:
            return "5";
        case Band::b6:
            return "6";
    }
    return "?";
}

int Scenario::find_agent(const std::string& name) const {
    for (size_t i = 0; i < agents.size(); ++i) {
        if (agents[i].name == name)
            return static_cast<int>(i);
    }
    return -1;
}

namespace {

// Walks the document keeping the path of the value being read, so that the
// first error names its field.
class Parser {
  public:
    std::string error;

    bool fail(const std::string& path, const std::string& what) {
        if (error.empty())
            error = "scenario: \"" + path + "\": " + what;
        return false;
    }

    static std::string show(const Value& v) {
        if (v.IsString())
            return std::string("\"") + v.GetString() + "\"";
        if (v.IsInt64())
            return std::to_string(v.GetInt64());
        if (v.IsNumber()) {
            char text[32];
            std::snprintf(text, sizeof text, "%g", v.GetDouble());
            return text;
        }
        if (v.IsBool())
            return v.GetBool() ? "true" : "false";
        if (v.IsNull())
            return "null";
        if (v.IsArray())
            return "an array";
        if (v.IsObject())
            return "an object";
        return "a number";
    }

    // Refuses keys outside KNOWN (keys starting with '_' are comments).
    bool keys(const Value& obj, const std::string& path, std::initializer_list<const char*> known) {
        if (!obj.IsObject())
            return fail(path, "expected an object, got " + show(obj));
        for (auto it = obj.MemberBegin(); it != obj.MemberEnd(); ++it) {
            std::string k(it->name.GetString(), it->name.GetStringLength());
            if (!k.empty() && k[0] == '_')
                continue;
            bool ok = false;
            for (const char* n : known)
                ok = ok || k == n;
            if (!ok)
                return fail(path.empty() ? k : path + "." + k, "unknown key");
        }
        return true;
    }

    static std::string sub(const std::string& path, const char* key) {
        return path.empty() ? key : path + "." + key;
    }

    bool mac(const Value& obj, const std::string& path, const char* key, MAC& out, bool required) {
        auto it = obj.FindMember(key);
        if (it == obj.MemberEnd())
            return required ? fail(sub(path, key), "missing") : true;
        return mac_value(it->value, sub(path, key), out);
    }

    bool mac_value(const Value& v, const std::string& path, MAC& out) {
        if (!v.IsString() || !MAC::parse(v.GetString(), out) || out.is_multicast() ||
            out.is_zero()) {
            return fail(
                path, "expected a unicast MAC address like \"02:00:00:00:00:01\", got " + show(v));
        }
        return true;
    }

    bool str(const Value& obj, const std::string& path, const char* key, std::string& out,
             size_t max_len, bool required) {
        auto it = obj.FindMember(key);
        if (it == obj.MemberEnd())
            return required ? fail(sub(path, key), "missing") : true;
        const Value& v = it->value;
        if (!v.IsString() || v.GetStringLength() == 0 || v.GetStringLength() > max_len) {
            return fail(sub(path, key), "expected a text of 1 to " + std::to_string(max_len) +
                                            " bytes, got " + show(v));
        }
        out.assign(v.GetString(), v.GetStringLength());
        return true;
    }

    bool boolean(const Value& obj, const std::string& path, const char* key, bool& out) {
        auto it = obj.FindMember(key);
        if (it == obj.MemberEnd())
            return true;
        if (!it->value.IsBool())
            return fail(sub(path, key), "expected true or false, got " + show(it->value));
        out = it->value.GetBool();
        return true;
    }

    bool integer(const Value& obj, const std::string& path, const char* key, long long lo,
                 long long hi, long long& out, bool required) {
        auto it = obj.FindMember(key);
        if (it == obj.MemberEnd())
            return required ? fail(sub(path, key), "missing") : true;
        const Value& v = it->value;
        if (!v.IsInt64() || v.GetInt64() < lo || v.GetInt64() > hi) {
            return fail(sub(path, key), "expected an integer from " + std::to_string(lo) + " to " +
                                            std::to_string(hi) + ", got " + show(v));
        }
        out = v.GetInt64();
        return true;
    }

    bool array(const Value& obj, const std::string& path, const char* key, size_t max,
               const Value*& out, bool required) {
        out = nullptr;
        auto it = obj.FindMember(key);
        if (it == obj.MemberEnd())
            return required ? fail(sub(path, key), "missing") : true;
        if (!it->value.IsArray() || it->value.Size() > max) {
            return fail(sub(path, key), "expected an array of at most " + std::to_string(max) +
                                            " entries, got " + show(it->value));
        }
        out = &it->value;
        return true;
    }

    bool rssi_map(const Value& obj, const std::string& path, const char* key,
                  std::map<BSSID, int>& out) {
        auto it = obj.FindMember(key);
        if (it == obj.MemberEnd())
            return true;
        const std::string p = sub(path, key);
        if (!it->value.IsObject())
            return fail(p, "expected an object of BSSID: dBm, got " + show(it->value));
        if (it->value.MemberCount() > 64)
            return fail(p, "more than 64 BSSs");
        for (auto m = it->value.MemberBegin(); m != it->value.MemberEnd(); ++m) {
            const std::string mp = p + "." + m->name.GetString();
            BSSID b;
            if (!mac_value(m->name, mp, b))
                return false;
            if (!m->value.IsInt() || m->value.GetInt() < -110 || m->value.GetInt() > 0) {
                return fail(mp, "expected a signal from -110 to 0 dBm, got " + show(m->value));
            }
            out[b] = m->value.GetInt();
        }
        return true;
    }

    // A share of frames, 0 to 1 (absent: left as it is).
    bool ratio(const Value& obj, const std::string& path, const char* key, double& out) {
        auto it = obj.FindMember(key);
        if (it == obj.MemberEnd())
            return true;
        const Value& v = it->value;
        const std::string problem = fault_ratio_problem(v.IsNumber() ? v.GetDouble() : -1);
        if (!problem.empty())
            return fail(sub(path, key), problem + ", got " + show(v));
        out = v.GetDouble();
        return true;
    }

    bool millis(const Value& obj, const std::string& path, const char* key, long long& out) {
        auto it = obj.FindMember(key);
        if (it == obj.MemberEnd())
            return true;
        const Value& v = it->value;
        const std::string problem = fault_delay_problem(v.IsInt64() ? v.GetInt64() : -1);
        if (!problem.empty())
            return fail(sub(path, key), problem + ", got " + show(v));
        out = v.GetInt64();
        return true;
    }

    bool fault_keys(const Value& v, const std::string& path, FaultKeys& k) {
        return ratio(v, path, "loss", k.loss) &&
               ratio(v, path, "multicast_loss", k.multicast_loss) &&
               ratio(v, path, "unicast_loss", k.unicast_loss) &&
               ratio(v, path, "duplicate", k.duplicate) && ratio(v, path, "reorder", k.reorder) &&
               millis(v, path, "delay_ms", k.delay_ms) && millis(v, path, "jitter_ms", k.jitter_ms);
    }

    // A "faults" object; SEED non-null where "seed" may be given (the whole mesh's).
    bool faults(const Value& v, const std::string& path, FaultSpec& f, uint64_t* seed,
                bool* seed_set) {
        if (!(seed ? keys(v, path,
                          {"loss", "multicast_loss", "unicast_loss", "duplicate", "reorder",
                           "delay_ms", "jitter_ms", "to_agents", "from_agents", "seed"})
                   : keys(v, path,
                          {"loss", "multicast_loss", "unicast_loss", "duplicate", "reorder",
                           "delay_ms", "jitter_ms", "to_agents", "from_agents"})) ||
            !fault_keys(v, path, f.both)) {
            return false;
        }
        for (auto way : {std::make_pair("to_agents", &f.to_agents),
                         std::make_pair("from_agents", &f.from_agents)}) {
            auto it = v.FindMember(way.first);
            if (it == v.MemberEnd())
                continue;
            const std::string wp = sub(path, way.first);
            if (!keys(it->value, wp,
                      {"loss", "multicast_loss", "unicast_loss", "duplicate", "reorder", "delay_ms",
                       "jitter_ms"}) ||
                !fault_keys(it->value, wp, *way.second)) {
                return false;
            }
        }
        if (seed && v.HasMember("seed")) {
            long long n = 0;
            if (!integer(v, path, "seed", 0, 1LL << 53, n, false))
                return false;
            *seed = static_cast<uint64_t>(n);
            if (seed_set)
                *seed_set = true;
        }
        return true;
    }

    bool optional_faults(const Value& obj, const std::string& path, FaultSpec& f) {
        auto it = obj.FindMember("faults");
        return it == obj.MemberEnd() || faults(it->value, sub(path, "faults"), f, nullptr, nullptr);
    }

    // The behaviour of an agent that is not ours.
    bool foreign(const Value& v, const std::string& path, AgentConf& a) {
        std::string unassoc;
        if (!str(v, path, "unassoc_metrics", unassoc, 16, false))
            return false;
        if (unassoc == "on_channel")
            a.unassoc_metrics = UnassocMetrics::on_channel;
        else if (unassoc == "off_channel")
            a.unassoc_metrics = UnassocMetrics::off_channel;
        else if (unassoc == "none")
            a.unassoc_metrics = UnassocMetrics::none;
        else if (!unassoc.empty() && unassoc != "both")
            return fail(sub(path, "unassoc_metrics"),
                        "expected \"both\", \"on_channel\", \"off_channel\" or \"none\", got \"" +
                            unassoc + "\"");
        std::string order;
        if (!boolean(v, path, "extra_tlvs", a.extra_tlvs) ||
            !str(v, path, "tlv_order", order, 16, false))
            return false;
        if (!order.empty() && order != "reversed" && order != "standard")
            return fail(sub(path, "tlv_order"),
                        "expected \"standard\" or \"reversed\", got \"" + order + "\"");
        a.reversed_tlvs = order == "reversed";
        const Value* never = nullptr;
        if (!array(v, path, "never_answers", 16, never, false))
            return false;
        for (rapidjson::SizeType i = 0; never && i < never->Size(); ++i) {
            const Value& n = (*never)[i];
            uint16_t type = 0;
            if (!n.IsString() || !message_type_from_name(n.GetString(), type))
                return fail(path + ".never_answers[" + std::to_string(i) + "]",
                            "expected a message type such as \"AP_METRICS_QUERY\", got " + show(n));
            a.never_answers.push_back(type);
        }
        return true;
    }

    bool band(const Value& v, const std::string& path, Band& out) {
        if (v.IsString()) {
            std::string s = v.GetString();
            if (s == "2.4")
                return out = Band::b24, true;
            if (s == "5")
                return out = Band::b5, true;
            if (s == "6")
                return out = Band::b6, true;
        }
        return fail(path, "expected \"2.4\", \"5\" or \"6\", got " + show(v));
    }

    bool radio(const Value& v, const std::string& path, RadioConf& r) {
        if (!keys(v, path,
                  {"id", "band", "op_class", "channel", "tx_power", "streams", "ht", "vht", "he",
                   "bsss"})) {
            return false;
        }
        if (!mac(v, path, "id", r.id, true))
            return false;
        auto b = v.FindMember("band");
        if (b == v.MemberEnd())
            return fail(sub(path, "band"), "missing");
        if (!band(b->value, sub(path, "band"), r.band))
            return false;
        long long oc = 0, ch = 0, tx = 20, st = 2;
        if (!integer(v, path, "op_class", 81, 137, oc, true))
            return false;
        bool oc_ok = (r.band == Band::b24 && oc >= 81 && oc <= 84) ||
                     (r.band == Band::b5 && oc >= 115 && oc <= 130) ||
                     (r.band == Band::b6 && oc >= 131 && oc <= 137);
        if (!oc_ok) {
            return fail(sub(path, "op_class"), "operating class " + std::to_string(oc) +
                                                   " is not of the " + band_name(r.band) +
                                                   " GHz band");
        }
        if (!integer(v, path, "channel", 1, 233, ch, true))
            return false;
        if (!integer(v, path, "tx_power", 0, 30, tx, false))
            return false;
        if (!integer(v, path, "streams", 1, 4, st, false))
            return false;
        r.op_class = static_cast<uint8_t>(oc);
        r.channel = static_cast<uint8_t>(ch);
        r.tx_power = static_cast<uint8_t>(tx);
        r.streams = static_cast<uint8_t>(st);
        r.vht = r.band != Band::b24;
        r.he = false;
        if (!boolean(v, path, "ht", r.ht) || !boolean(v, path, "vht", r.vht) ||
            !boolean(v, path, "he", r.he)) {
            return false;
        }
        const Value* bsss = nullptr;
        if (!array(v, path, "bsss", kMaxBssPerRadio, bsss, true))
            return false;
        for (rapidjson::SizeType i = 0; i < bsss->Size(); ++i) {
            const std::string bp = path + ".bsss[" + std::to_string(i) + "]";
            const Value& bv = (*bsss)[i];
            if (!keys(bv, bp, {"bssid", "ssid", "backhaul", "fronthaul"}))
                return false;
            BssConf bss;
            if (!mac(bv, bp, "bssid", bss.bssid, true))
                return false;
            if (!str(bv, bp, "ssid", bss.ssid, 32, true))
                return false;
            if (!boolean(bv, bp, "backhaul", bss.backhaul))
                return false;
            bss.fronthaul = !bss.backhaul;
            if (!boolean(bv, bp, "fronthaul", bss.fronthaul))
                return false;
            if (!bss.backhaul && !bss.fronthaul)
                return fail(bp, "a BSS must be fronthaul, backhaul or both");
            r.bsss.push_back(bss);
        }
        return true;
    }

    bool agent(const Value& v, const std::string& path, AgentConf& a) {
        if (!keys(v, path,
                  {"name", "al_mac", "serial", "manufacturer", "model", "profile", "ethernet",
                   "radios", "backhaul", "bsta_rssi", "wsc_fault", "hkt", "backhaul_steer_reject",
                   "faults", "unassoc_metrics", "extra_tlvs", "tlv_order", "never_answers"})) {
            return false;
        }
        if (!str(v, path, "name", a.name, 32, true))
            return false;
        if (a.name == "controller")
            return fail(sub(path, "name"), "\"controller\" is reserved");
        if (!mac(v, path, "al_mac", a.al_mac, true))
            return false;
        if (!str(v, path, "serial", a.serial, 32, true))
            return false;
        a.manufacturer = "Meshsim";
        a.model = "Extender";
        if (!str(v, path, "manufacturer", a.manufacturer, 64, false))
            return false;
        if (!str(v, path, "model", a.model, 32, false))
            return false;
        long long profile = 2;
        if (!integer(v, path, "profile", 1, 3, profile, false))
            return false;
        a.profile = static_cast<int>(profile);
        const Value* eth = nullptr;
        if (!array(v, path, "ethernet", kMaxEthernet, eth, false))
            return false;
        if (eth) {
            for (rapidjson::SizeType i = 0; i < eth->Size(); ++i) {
                const std::string ep = path + ".ethernet[" + std::to_string(i) + "]";
                EthConf e;
                if (!keys((*eth)[i], ep, {"name", "mac"}))
                    return false;
                if (!str((*eth)[i], ep, "name", e.name, 15, true))
                    return false;
                if (!mac((*eth)[i], ep, "mac", e.mac, true))
                    return false;
                a.ethernet.push_back(e);
            }
        }
        const Value* radios = nullptr;
        if (!array(v, path, "radios", kMaxRadios, radios, true))
            return false;
        for (rapidjson::SizeType i = 0; i < radios->Size(); ++i) {
            RadioConf r;
            if (!radio((*radios)[i], path + ".radios[" + std::to_string(i) + "]", r))
                return false;
            a.radios.push_back(r);
        }
        if (!rssi_map(v, path, "bsta_rssi", a.bsta_rssi))
            return false;
        auto hk = v.FindMember("hkt");
        if (hk != v.MemberEnd() && !hkt(hk->value, sub(path, "hkt"), a))
            return false;
        std::string fault;
        if (!str(v, path, "wsc_fault", fault, 16, false))
            return false;
        if (!fault.empty() && !wsc_fault_from_name(fault, a.wsc_fault))
            return fail(sub(path, "wsc_fault"),
                        "expected \"wrong_key\" or \"corrupt_m2\", got \"" + fault + "\"");
        long long reject = 0;
        if (!integer(v, path, "backhaul_steer_reject", 0, 6, reject, false))
            return false;
        if (reject != 0 && reject < 4)
            return fail(sub(path, "backhaul_steer_reject"),
                        "expected 4, 5 or 6, got " + std::to_string(reject));
        a.backhaul_steer_reject = static_cast<int>(reject);
        if (!optional_faults(v, path, a.faults) || !foreign(v, path, a))
            return false;
        auto bh = v.FindMember("backhaul");
        if (bh == v.MemberEnd())
            return fail(sub(path, "backhaul"), "missing");
        const std::string bp = sub(path, "backhaul");
        const Value& b = bh->value;
        if (!keys(b, bp,
                  {"type", "parent", "interface", "parent_interface", "bsta", "bssid", "rssi",
                   "faults"}) ||
            !optional_faults(b, bp, a.backhaul.faults)) {
            return false;
        }
        std::string type;
        if (!str(b, bp, "type", type, 16, true))
            return false;
        if (!str(b, bp, "parent", a.backhaul.parent, 32, true))
            return false;
        if (type == "ethernet") {
            a.backhaul.kind = BackhaulKind::ethernet;
            if (!str(b, bp, "interface", a.backhaul.interface, 15, true))
                return false;
            if (a.backhaul.parent != "controller" &&
                !str(b, bp, "parent_interface", a.backhaul.parent_interface, 15, true)) {
                return false;
            }
        } else if (type == "wifi") {
            a.backhaul.kind = BackhaulKind::wifi;
            if (!mac(b, bp, "bsta", a.backhaul.bsta, true))
                return false;
            if (!mac(b, bp, "bssid", a.backhaul.bssid, true))
                return false;
            long long rssi = -60;
            if (!integer(b, bp, "rssi", -110, 0, rssi, false))
                return false;
            if (!a.bsta_rssi.count(a.backhaul.bssid))
                a.bsta_rssi[a.backhaul.bssid] = static_cast<int>(rssi);
        } else {
            return fail(sub(bp, "type"), "expected \"ethernet\" or \"wifi\", got \"" + type + "\"");
        }
        return true;
    }

    // The vendor agent block: every key optional ({} takes the defaults).
    bool hkt(const Value& v, const std::string& path, AgentConf& a) {
        if (!keys(v, path,
                  {"mac", "hkt_version", "capabilities_version", "config_number", "model",
                   "hostname", "sw_version", "vendor", "product_class", "ipv4", "heartbeat_s",
                   "minders_present", "config_response"})) {
            return false;
        }
        HktConf& h = a.hkt;
        h.enabled = true;
        h.mac = a.al_mac;
        h.mac[5] = static_cast<uint8_t>(h.mac[5] ^ 0xe0);
        h.model = a.model;
        h.hostname = a.name;
        long long n = 0;
        auto u32 = [&](const char* key, uint32_t& out) {
            n = out;
            if (!integer(v, path, key, 0, 0xFFFFFFFFLL, n, false))
                return false;
            out = static_cast<uint32_t>(n);
            return true;
        };
        if (!mac(v, path, "mac", h.mac, false) || !u32("hkt_version", h.hkt_version) ||
            !u32("capabilities_version", h.capabilities_version) ||
            !u32("config_number", h.config_number) || !u32("minders_present", h.minders_present) ||
            !str(v, path, "model", h.model, 64, false) ||
            !str(v, path, "hostname", h.hostname, 64, false) ||
            !str(v, path, "sw_version", h.sw_version, 64, false) ||
            !str(v, path, "vendor", h.vendor, 64, false) ||
            !str(v, path, "product_class", h.product_class, 64, false) ||
            !str(v, path, "ipv4", h.ipv4, 15, false)) {
            return false;
        }
        in_addr ip{};
        if (!h.ipv4.empty() && inet_pton(AF_INET, h.ipv4.c_str(), &ip) != 1)
            return fail(sub(path, "ipv4"), "expected an IPv4 address, got \"" + h.ipv4 + "\"");
        n = h.heartbeat_s;
        if (!integer(v, path, "heartbeat_s", 1, 3600, n, false))
            return false;
        h.heartbeat_s = static_cast<unsigned>(n);
        auto cr = v.FindMember("config_response");
        if (cr == v.MemberEnd())
            return true;
        const std::string cp = sub(path, "config_response");
        if (!keys(cr->value, cp, {"code", "data"}))
            return false;
        n = 0;
        if (!integer(cr->value, cp, "code", INT32_MIN, INT32_MAX, n, false))
            return false;
        h.config_code = static_cast<int32_t>(n);
        auto d = cr->value.FindMember("data");
        if (d == cr->value.MemberEnd())
            return true;
        const Value& dv = d->value;
        std::string hex = dv.IsString() ? dv.GetString() : "";
        bool ok = dv.IsString() && hex.size() % 2 == 0 && hex.size() <= 2 * 1024;
        for (size_t i = 0; ok && i < hex.size(); i += 2) {
            auto nib = [](char c) {
                return c >= '0' && c <= '9'   ? c - '0'
                       : c >= 'a' && c <= 'f' ? c - 'a' + 10
                       : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                              : -1;
            };
            int hi = nib(hex[i]), lo = nib(hex[i + 1]);
            ok = hi >= 0 && lo >= 0;
            if (ok)
                h.config_data.push_back(static_cast<uint8_t>(hi << 4 | lo));
        }
        if (!ok)
            return fail(sub(cp, "data"),
                        "expected hex digits (at most 1024 bytes), got " + show(dv));
        return true;
    }

    bool client(const Value& v, const std::string& path, ClientConf& c) {
        if (!keys(v, path,
                  {"mac", "name", "bands", "ht", "vht", "he", "btm", "rrm", "steerable", "streams",
                   "bssid", "rssi", "steering"})) {
            return false;
        }
        if (!mac(v, path, "mac", c.mac, true))
            return false;
        if (!str(v, path, "name", c.name, 32, false))
            return false;
        const Value* bands = nullptr;
        if (!array(v, path, "bands", 3, bands, false))
            return false;
        if (bands) {
            c.band24 = c.band5 = c.band6 = false;
            for (rapidjson::SizeType i = 0; i < bands->Size(); ++i) {
                Band b = Band::b24;  // set by band() whenever it succeeds
                if (!band((*bands)[i], path + ".bands[" + std::to_string(i) + "]", b))
                    return false;
                (b == Band::b24 ? c.band24 : b == Band::b5 ? c.band5 : c.band6) = true;
            }
            if (bands->Size() == 0)
                return fail(sub(path, "bands"), "at least one band");
        }
        if (!boolean(v, path, "ht", c.ht) || !boolean(v, path, "vht", c.vht) ||
            !boolean(v, path, "he", c.he) || !boolean(v, path, "btm", c.btm) ||
            !boolean(v, path, "rrm", c.rrm) || !boolean(v, path, "steerable", c.steerable)) {
            return false;
        }
        long long streams = 1;
        if (!integer(v, path, "streams", 1, 4, streams, false))
            return false;
        c.streams = static_cast<uint8_t>(streams);
        auto b = v.FindMember("bssid");
        if (b != v.MemberEnd() && !b->value.IsNull() &&
            !mac_value(b->value, sub(path, "bssid"), c.bssid)) {
            return false;
        }
        auto st = v.FindMember("steering");
        if (st != v.MemberEnd()) {
            const std::string sp = sub(path, "steering");
            const Value& sv = st->value;
            if (!sv.IsObject())
                return fail(sp, "expected an object");
            if (!keys(sv, sp,
                      {"btm_status", "move_after_s", "never_move", "roam_back_after_s",
                       "rejoin_after_s"}))
                return false;
            long long status = c.btm_status, move = 0, back = 0, rejoin = 5;
            if (!integer(sv, sp, "btm_status", 0, 8, status, false) ||
                !integer(sv, sp, "move_after_s", 0, 3600, move, false) ||
                !integer(sv, sp, "roam_back_after_s", 0, 3600, back, false) ||
                !integer(sv, sp, "rejoin_after_s", 1, 3600, rejoin, false) ||
                !boolean(sv, sp, "never_move", c.never_move))
                return false;
            c.btm_status = static_cast<int>(status);
            c.move_after_s = static_cast<unsigned>(move);
            c.roam_back_after_s = static_cast<unsigned>(back);
            c.rejoin_after_s = static_cast<unsigned>(rejoin);
        }
        return rssi_map(v, path, "rssi", c.rssi);
    }

    bool event(const Value& v, const std::string& path, const Scenario& s, EventConf& e) {
        if (!keys(v, path,
                  {"at_s", "client", "agent", "roam", "rssi", "join", "leave", "silent", "backhaul",
                   "hkt_silent", "forget_credentials", "bsta_rssi", "channel"})) {
            return false;
        }
        long long at = 0;
        if (!integer(v, path, "at_s", 0, 86400 * 7, at, true))
            return false;
        e.at_ms = at * 1000;
        auto cl = v.FindMember("client");
        auto ag = v.FindMember("agent");
        if ((cl == v.MemberEnd()) == (ag == v.MemberEnd())) {
            return fail(path, "an event names exactly one \"client\" or \"agent\"");
        }
        if (cl != v.MemberEnd()) {
            MAC m;
            if (!mac_value(cl->value, sub(path, "client"), m))
                return false;
            auto it = std::find_if(s.clients.begin(), s.clients.end(),
                                   [&](const ClientConf& c) { return c.mac == m; });
            if (it == s.clients.end())
                return fail(sub(path, "client"), "no such client " + m.to_string());
            e.index = static_cast<size_t>(it - s.clients.begin());
            if (v.HasMember("roam")) {
                e.kind = EventConf::roam;
                return mac(v, path, "roam", e.bssid, true);
            }
            if (v.HasMember("join")) {
                e.kind = EventConf::join;
                return mac(v, path, "join", e.bssid, true);
            }
            if (v.HasMember("leave")) {
                e.kind = EventConf::leave;
                return true;
            }
            if (v.HasMember("rssi")) {
                e.kind = EventConf::rssi;
                return rssi_map(v, path, "rssi", e.levels);
            }
            return fail(path, "a client event needs \"roam\", \"join\", \"leave\" or \"rssi\"");
        }
        if (!ag->value.IsString() || s.find_agent(ag->value.GetString()) < 0) {
            return fail(sub(path, "agent"), "no such agent " + show(ag->value));
        }
        e.index = static_cast<size_t>(s.find_agent(ag->value.GetString()));
        bool flag = false;
        if (v.HasMember("silent")) {
            if (!boolean(v, path, "silent", flag))
                return false;
            e.kind = flag ? EventConf::silent : EventConf::speak;
            return true;
        }
        if (v.HasMember("backhaul")) {
            std::string state;
            if (!str(v, path, "backhaul", state, 8, true))
                return false;
            if (state != "down" && state != "up") {
                return fail(sub(path, "backhaul"),
                            "expected \"down\" or \"up\", got \"" + state + "\"");
            }
            e.kind = state == "down" ? EventConf::backhaul_down : EventConf::backhaul_up;
            return true;
        }
        if (v.HasMember("hkt_silent")) {
            if (!boolean(v, path, "hkt_silent", flag))
                return false;
            if (!s.agents[e.index].hkt.enabled)
                return fail(sub(path, "agent"),
                            "agent " + show(ag->value) + " has no \"hkt\" block");
            e.kind = flag ? EventConf::hkt_silent : EventConf::hkt_speak;
            return true;
        }
        if (v.HasMember("forget_credentials")) {
            if (!boolean(v, path, "forget_credentials", flag))
                return false;
            if (!flag)
                return fail(sub(path, "forget_credentials"), "only true is meaningful");
            e.kind = EventConf::forget_credentials;
            return true;
        }
        if (v.HasMember("bsta_rssi")) {
            if (s.agents[e.index].backhaul.kind != BackhaulKind::wifi)
                return fail(sub(path, "agent"),
                            "agent " + show(ag->value) + " has no Wi-Fi backhaul");
            e.kind = EventConf::bsta_rssi;
            return rssi_map(v, path, "bsta_rssi", e.levels);
        }
        auto ch = v.FindMember("channel");
        if (ch != v.MemberEnd())
            return channel_event(ch->value, sub(path, "channel"), s.agents[e.index], e);
        return fail(path,
                    "an agent event needs \"silent\", \"backhaul\", \"hkt_silent\", "
                    "\"forget_credentials\", \"bsta_rssi\" or \"channel\"");
    }

    // {"radio": ID, "channel": N, "bandwidth": MHZ, "reason": TEXT}: the radio moves.
    bool channel_event(const Value& v, const std::string& path, const AgentConf& a, EventConf& e) {
        if (!keys(v, path, {"radio", "channel", "bandwidth", "reason"}))
            return false;
        MAC id;
        if (!mac(v, path, "radio", id, true))
            return false;
        auto it = std::find_if(a.radios.begin(), a.radios.end(),
                               [&](const RadioConf& r) { return r.id == id; });
        if (it == a.radios.end())
            return fail(sub(path, "radio"), "agent " + a.name + " has no radio " + id.to_string());
        long long ch = 0, bw = 20;
        if (!integer(v, path, "channel", 1, 233, ch, true) ||
            !integer(v, path, "bandwidth", 20, 320, bw, false))
            return false;
        if (bw != 20 && bw != 40 && bw != 80 && bw != 160 && bw != 320)
            return fail(sub(path, "bandwidth"), "expected 20, 40, 80, 160 or 320");
        if (!str(v, path, "reason", e.reason, 32, false))
            return false;
        e.kind = EventConf::channel;
        e.radio = static_cast<size_t>(it - a.radios.begin());
        e.primary = static_cast<uint8_t>(ch);
        e.bandwidth_mhz = static_cast<uint16_t>(bw);
        return true;
    }

    // Cross-checks: unique MACs and names, parents and BSSs exist, no loops.
    bool check(const Scenario& s) {
        std::set<MAC> macs{s.controller_al_mac, s.controller_interface};
        auto unique = [&](const MAC& m, const std::string& path) {
            if (!macs.insert(m).second)
                return fail(path, "MAC " + m.to_string() + " used twice");
            return true;
        };
        std::map<BSSID, std::pair<size_t, const BssConf*>> bss_owner;
        std::set<std::string> names;
        for (size_t i = 0; i < s.agents.size(); ++i) {
            const AgentConf& a = s.agents[i];
            const std::string p = "agents[" + std::to_string(i) + "]";
            if (!names.insert(a.name).second)
                return fail(p + ".name", "name \"" + a.name + "\" used twice");
            if (!unique(a.al_mac, p + ".al_mac"))
                return false;
            for (size_t e = 0; e < a.ethernet.size(); ++e) {
                if (!unique(a.ethernet[e].mac, p + ".ethernet[" + std::to_string(e) + "].mac"))
                    return false;
            }
            for (size_t r = 0; r < a.radios.size(); ++r) {
                const std::string rp = p + ".radios[" + std::to_string(r) + "]";
                if (!unique(a.radios[r].id, rp + ".id"))
                    return false;
                for (size_t b = 0; b < a.radios[r].bsss.size(); ++b) {
                    const BssConf& bss = a.radios[r].bsss[b];
                    if (!unique(bss.bssid, rp + ".bsss[" + std::to_string(b) + "].bssid"))
                        return false;
                    bss_owner[bss.bssid] = {i, &bss};
                }
            }
            if (a.backhaul.kind == BackhaulKind::wifi &&
                !unique(a.backhaul.bsta, p + ".backhaul.bsta")) {
                return false;
            }
            if (a.hkt.enabled && !unique(a.hkt.mac, p + ".hkt.mac"))
                return false;
        }
        for (size_t i = 0; i < s.agents.size(); ++i) {
            const AgentConf& a = s.agents[i];
            const std::string p = "agents[" + std::to_string(i) + "].backhaul";
            auto has_port = [](const AgentConf& x, const std::string& n) {
                for (const auto& e : x.ethernet) {
                    if (e.name == n)
                        return true;
                }
                return false;
            };
            if (a.backhaul.parent == "controller") {
                if (a.backhaul.kind != BackhaulKind::ethernet) {
                    return fail(p + ".type", "the controller is reached over \"ethernet\"");
                }
            } else {
                int parent = s.find_agent(a.backhaul.parent);
                if (parent < 0)
                    return fail(p + ".parent", "no agent named \"" + a.backhaul.parent + "\"");
                if (static_cast<size_t>(parent) == i)
                    return fail(p + ".parent", "an agent cannot be its own parent");
                if (a.backhaul.kind == BackhaulKind::ethernet &&
                    !has_port(s.agents[parent], a.backhaul.parent_interface)) {
                    return fail(p + ".parent_interface",
                                "the parent has no port \"" + a.backhaul.parent_interface + "\"");
                }
                if (a.backhaul.kind == BackhaulKind::wifi) {
                    auto it = bss_owner.find(a.backhaul.bssid);
                    if (it == bss_owner.end() || it->second.first != static_cast<size_t>(parent) ||
                        !it->second.second->backhaul) {
                        return fail(p + ".bssid",
                                    "not a backhaul BSS of \"" + a.backhaul.parent + "\"");
                    }
                }
            }
            if (a.backhaul.kind == BackhaulKind::ethernet && !has_port(a, a.backhaul.interface)) {
                return fail(p + ".interface",
                            "the agent has no port \"" + a.backhaul.interface + "\"");
            }
            for (const auto& kv : a.bsta_rssi) {
                auto it = bss_owner.find(kv.first);
                if (it == bss_owner.end() || !it->second.second->backhaul) {
                    return fail(
                        "agents[" + std::to_string(i) + "].bsta_rssi." + kv.first.to_string(),
                        "not a backhaul BSS");
                }
            }
            // Every chain of parents must end at the controller.
            size_t cur = i, steps = 0;
            while (s.agents[cur].backhaul.parent != "controller") {
                cur = static_cast<size_t>(s.find_agent(s.agents[cur].backhaul.parent));
                if (++steps > s.agents.size())
                    return fail(p + ".parent", "the backhaul chain loops");
            }
        }
        for (size_t i = 0; i < s.clients.size(); ++i) {
            const ClientConf& c = s.clients[i];
            const std::string p = "clients[" + std::to_string(i) + "]";
            if (!unique(c.mac, p + ".mac"))
                return false;
            if (!c.bssid.is_zero()) {
                auto it = bss_owner.find(c.bssid);
                if (it == bss_owner.end() || !it->second.second->fronthaul) {
                    return fail(p + ".bssid", "no fronthaul BSS " + c.bssid.to_string());
                }
            }
            for (const auto& kv : c.rssi) {
                if (!bss_owner.count(kv.first))
                    return fail(p + ".rssi." + kv.first.to_string(), "no such BSS");
            }
        }
        for (size_t i = 0; i < s.timeline.size(); ++i) {
            const EventConf& e = s.timeline[i];
            const std::string p = "timeline[" + std::to_string(i) + "]";
            if (e.kind == EventConf::roam || e.kind == EventConf::join) {
                auto it = bss_owner.find(e.bssid);
                if (it == bss_owner.end() || !it->second.second->fronthaul) {
                    return fail(p + (e.kind == EventConf::roam ? ".roam" : ".join"),
                                "no fronthaul BSS " + e.bssid.to_string());
                }
            }
            for (const auto& kv : e.levels) {
                if (!bss_owner.count(kv.first))
                    return fail(p + ".rssi." + kv.first.to_string(), "no such BSS");
            }
        }
        return true;
    }

    bool top(const Value& doc, Scenario& s) {
        if (!keys(doc, "",
                  {"controller", "discovery_interval_s", "faults", "agents", "clients",
                   "timeline"})) {
            return false;
        }
        auto fa = doc.FindMember("faults");
        if (fa != doc.MemberEnd() && !faults(fa->value, "faults", s.faults, &s.seed, nullptr))
            return false;
        s.controller_al_mac = MAC(0x02, 0x6f, 0x7a, 0x72, 0x00, 0x01);
        s.controller_interface = s.controller_al_mac;
        auto ctl = doc.FindMember("controller");
        if (ctl != doc.MemberEnd()) {
            if (!keys(ctl->value, "controller", {"al_mac", "interface_mac"}))
                return false;
            if (!mac(ctl->value, "controller", "al_mac", s.controller_al_mac, false))
                return false;
            s.controller_interface = s.controller_al_mac;
            if (!mac(ctl->value, "controller", "interface_mac", s.controller_interface, false))
                return false;
        }
        long long disc = 60;
        if (!integer(doc, "", "discovery_interval_s", 1, 3600, disc, false))
            return false;
        s.discovery_interval_s = static_cast<unsigned>(disc);
        const Value* agents = nullptr;
        if (!array(doc, "", "agents", kMaxAgents, agents, true))
            return false;
        if (agents->Size() == 0)
            return fail("agents", "at least one agent");
        for (rapidjson::SizeType i = 0; i < agents->Size(); ++i) {
            AgentConf a;
            if (!agent((*agents)[i], "agents[" + std::to_string(i) + "]", a))
                return false;
            s.agents.push_back(std::move(a));
        }
        const Value* clients = nullptr;
        if (!array(doc, "", "clients", kMaxClients, clients, false))
            return false;
        for (rapidjson::SizeType i = 0; clients && i < clients->Size(); ++i) {
            ClientConf c;
            if (!client((*clients)[i], "clients[" + std::to_string(i) + "]", c))
                return false;
            s.clients.push_back(std::move(c));
        }
        const Value* timeline = nullptr;
        if (!array(doc, "", "timeline", kMaxEvents, timeline, false))
            return false;
        for (rapidjson::SizeType i = 0; timeline && i < timeline->Size(); ++i) {
            EventConf e;
            if (!event((*timeline)[i], "timeline[" + std::to_string(i) + "]", s, e))
                return false;
            s.timeline.push_back(std::move(e));
        }
        if (!check(s))
            return false;
        std::stable_sort(s.timeline.begin(), s.timeline.end(),
                         [](const EventConf& a, const EventConf& b) { return a.at_ms < b.at_ms; });
        return true;
    }
};

}  // namespace

int scenario_parse(const std::string& text, Scenario& out, std::string* error) {
    rapidjson::Document doc;
    doc.Parse(text.c_str(), text.size());
    if (doc.HasParseError()) {
        if (error) {
            *error = "scenario: not valid JSON at offset " + std::to_string(doc.GetErrorOffset()) +
                     ": " + rapidjson::GetParseError_En(doc.GetParseError());
        }
        return -1;
    }
    Parser p;
    Scenario s;
    if (!p.top(doc, s)) {
        if (error)
            *error = p.error;
        return -1;
    }
    out = std::move(s);
    return 0;
}

int faults_parse(const std::string& text, FaultSpec& out, uint64_t* seed, bool* seed_set,
                 std::string* error) {
    rapidjson::Document doc;
    doc.Parse(text.c_str(), text.size());
    if (doc.HasParseError()) {
        if (error)
            *error = "faults: not valid JSON at offset " + std::to_string(doc.GetErrorOffset()) +
                     ": " + rapidjson::GetParseError_En(doc.GetParseError());
        return -1;
    }
    Parser p;
    FaultSpec f;
    uint64_t s = seed ? *seed : 1;
    bool set = false;
    if (!p.faults(doc, "faults", f, &s, &set)) {
        if (error)  // named as on the command line, not in a scenario
            *error = p.error.compare(0, 10, "scenario: ") == 0 ? p.error.substr(10) : p.error;
        return -1;
    }
    out = f;
    if (seed && set)
        *seed = s;
    if (seed_set)
        *seed_set = set;
    return 0;
}

std::string message_type_name(uint16_t type) {
    const std::string n = convert_1905_CMDU_type_to_string(type);
    return n.compare(0, 10, "CMDU_TYPE_") == 0 ? n.substr(10) : n;
}

bool message_type_from_name(const std::string& name, uint16_t& out) {
    if (name.empty() || name == "UNKNOWN")
        return false;
    for (uint32_t t = 0; t <= 0xffff; ++t) {
        if (message_type_name(static_cast<uint16_t>(t)) == name) {
            out = static_cast<uint16_t>(t);
            return true;
        }
    }
    return false;
}

int scenario_load(const std::string& path, Scenario& out, std::string* error) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        if (error)
            *error = "scenario: cannot open " + path;
        return -1;
    }
    std::string text;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        text.append(buf, n);
        if (text.size() > kMaxScenarioBytes) {
            std::fclose(f);
            if (error)
                *error = "scenario: " + path + " is larger than 4 MiB";
            return -1;
        }
    }
    std::fclose(f);
    return scenario_parse(text, out, error);
}

}  // namespace meshsim
