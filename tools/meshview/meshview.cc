#include "meshview.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <rapidjson/document.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <vector>

namespace meshview {

namespace {

constexpr size_t kMaxResponse = 8u << 20;

bool split_url(const std::string& url, std::string& host, std::string& port) {
    std::string rest = url;
    if (rest.rfind("http://", 0) == 0)
        rest = rest.substr(7);
    while (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    size_t colon = rest.rfind(':');
    if (colon == std::string::npos) {
        host = rest;
        port = "80";
    } else {
        host = rest.substr(0, colon);
        port = rest.substr(colon + 1);
    }
    return !host.empty() && !port.empty();
}

std::string str(const rapidjson::Value& o, const char* key) {
    if (!o.IsObject())
        return "";
    auto it = o.FindMember(key);
    if (it == o.MemberEnd())
        return "";
    if (it->value.IsString())
        return it->value.GetString();
    if (it->value.IsInt64())
        return std::to_string(it->value.GetInt64());
    if (it->value.IsBool())
        return it->value.GetBool() ? "true" : "false";
    return "";
}

const rapidjson::Value* member(const rapidjson::Value& o, const char* key) {
    if (!o.IsObject())
        return nullptr;
    auto it = o.FindMember(key);
    return it == o.MemberEnd() ? nullptr : &it->value;
}

// "026f7a720100" -> "02:6f:7a:72:01:00"
std::string colons(const std::string& rest_mac) {
    if (rest_mac.size() != 12)
        return rest_mac;
    std::string out;
    for (size_t i = 0; i < 12; i += 2) {
        if (i)
            out += ':';
        out += rest_mac.substr(i, 2);
    }
    return out;
}

}  // namespace

int http_get(const std::string& url, const std::string& path, std::string& body, int timeout_ms) {
    body.clear();
    std::string host, port;
    if (!split_url(url, host, port))
        return 0;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    if (getaddrinfo(host.c_str(), port.c_str(), &hints, &res) != 0 || !res)
        return 0;
    int fd = socket(res->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || connect(fd, res->ai_addr, res->ai_addrlen) != 0) {
        if (fd >= 0)
            close(fd);
        freeaddrinfo(res);
        return 0;
    }
    freeaddrinfo(res);
    const std::string req =
        "GET " + path + " HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\n\r\n";
    if (send(fd, req.data(), req.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(req.size())) {
        close(fd);
        return 0;
    }
    std::string resp;
    char buf[16384];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, timeout_ms) <= 0)
            break;
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        resp.append(buf, static_cast<size_t>(n));
        if (resp.size() > kMaxResponse)
            break;
        // Stop once a Content-Length body is complete (the server may keep the connection).
        size_t hdr_end = resp.find("\r\n\r\n");
        if (hdr_end != std::string::npos) {
            std::string head = resp.substr(0, hdr_end);
            for (auto& c : head)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            size_t cl = head.find("content-length:");
            if (cl != std::string::npos) {
                size_t len = std::strtoul(head.c_str() + cl + 15, nullptr, 10);
                if (resp.size() >= hdr_end + 4 + len)
                    break;
            }
        }
    }
    close(fd);
    int status = 0;
    if (std::sscanf(resp.c_str(), "HTTP/1.%*d %d", &status) != 1)
        return 0;
    size_t hdr_end = resp.find("\r\n\r\n");
    if (hdr_end != std::string::npos)
        body = resp.substr(hdr_end + 4);
    return status;
}

bool render_tree(const std::string& graph_json, const std::string& topology_json, std::string& out,
                 const std::string& hkt_json, const std::string& map_cfg_json,
                 const std::string& backhaul_json, const std::string& aps_json) {
    out.clear();
    rapidjson::Document g;
    g.Parse(graph_json.c_str(), graph_json.size());
    if (g.HasParseError() || !g.IsObject()) {
        out = "the graph document is not JSON";
        return false;
    }
    const rapidjson::Value* nodes = member(g, "nodes");
    if (!nodes || !nodes->IsArray()) {
        out = "the graph document has no \"nodes\"";
        return false;
    }
    // Extra identity from /1/topology: name, serial number and onboarding state, and the
    // BSSs each AP operates with their SSIDs (as the agents' M2s configured them).
    std::map<std::string, std::string> ident;
    struct Ssid {
        std::string bssid, ssid;
        bool backhaul = false;
    };
    std::map<std::string, std::vector<Ssid>> ssids;
    rapidjson::Document t;
    t.Parse(topology_json.c_str(), topology_json.size());
    if (!t.HasParseError() && t.IsObject()) {
        const rapidjson::Value* aps = member(t, "aps");
        for (rapidjson::SizeType i = 0; aps && aps->IsArray() && i < aps->Size(); ++i) {
            const rapidjson::Value& ap = (*aps)[i];
            const rapidjson::Value* info = member(ap, "info");
            std::string s;
            if (info)
                s = str(*info, "device-name");
            // An admitted extender: the serial number it was admitted with, its onboarding
            // state and whether it is announced online; otherwise the M1's serial number.
            const rapidjson::Value* ext = member(ap, "extender");
            std::string sn = ext && ext->IsObject() ? str(*ext, "serial-number")
                             : info                 ? str(*info, "serial-number")
                                                    : "";
            if (!sn.empty())
                s += (s.empty() ? "" : " ") + std::string("SN ") + sn;
            if (ext && ext->IsObject())
                s += ", " + str(*ext, "onboarding-state") +
                     (str(*ext, "online") == "true" ? ", online" : "");
            ident[str(ap, "al-mac")] = s;
            const rapidjson::Value* list = member(ap, "ssids");
            for (rapidjson::SizeType k = 0; list && list->IsArray() && k < list->Size(); ++k) {
                const rapidjson::Value& b = (*list)[k];
                ssids[str(ap, "al-mac")].push_back(
                    {str(b, "bssid"), str(b, "ssid"), str(b, "backhaul") == "true"});
            }
        }
    }
    // The vendor agents, by the AL MAC of their Multi-AP agent: version and state.
    rapidjson::Document h;
    h.Parse(hkt_json.c_str(), hkt_json.size());
    if (!h.HasParseError() && h.IsObject()) {
        const rapidjson::Value* nodes_h = member(h, "hktInfo");
        for (rapidjson::SizeType i = 0; nodes_h && nodes_h->IsArray() && i < nodes_h->Size(); ++i) {
            const rapidjson::Value& n = (*nodes_h)[i];
            const std::string agent = str(n, "agent-mac");
            const std::string mac = str(n, "hkt-mac");
            if (agent.empty() || mac.empty() || mac == "000000000000")
                continue;
            std::string& s = ident[agent];
            std::string v = "HKT " + str(n, "sw-version") + " " +
                            (str(n, "online") == "true" ? "online" : "offline");
            s += (s.empty() ? "" : ", ") + v;
        }
    }
    // Each AP's radios: channel, bandwidth and transmit power in use.
    std::map<std::string, std::vector<std::string>> radios;
    rapidjson::Document aps_doc;
    aps_doc.Parse(aps_json.c_str(), aps_json.size());
    if (!aps_doc.HasParseError() && aps_doc.IsObject()) {
        const rapidjson::Value* list = member(aps_doc, "aps");
        for (rapidjson::SizeType i = 0; list && list->IsArray() && i < list->Size(); ++i) {
            const rapidjson::Value& ap = (*list)[i];
            const rapidjson::Value* rs = member(ap, "radios");
            for (rapidjson::SizeType k = 0; rs && rs->IsArray() && k < rs->Size(); ++k) {
                const rapidjson::Value& r = (*rs)[k];
                const std::string khz = str(r, "supported-freq-khz");
                const std::string band = khz == "2400000"   ? "2.4 GHz"
                                         : khz == "5000000" ? "5 GHz"
                                         : khz == "6000000" ? "6 GHz"
                                                            : "?";
                const std::string ch = str(r, "current-op-channel");
                std::string line = "radio " + colons(str(r, "radio-id")) + " " + band + ": ";
                if (ch.empty() || ch == "0") {
                    line += "no channel reported";
                } else {
                    line += "channel " + ch + ", " + str(r, "current-bw") + " MHz";
                    const long mw = std::strtol(str(r, "current-tx-pwr-mw").c_str(), nullptr, 10);
                    if (mw > 0)
                        line += ", " +
                                std::to_string(static_cast<int>(
                                    std::lround(10.0 * std::log10(static_cast<double>(mw))))) +
                                " dBm";
                }
                radios[str(ap, "al-mac")].push_back(line);
            }
        }
    }
    // The SSID credential sync, per vendor agent's Multi-AP agent.
    rapidjson::Document m;
    m.Parse(map_cfg_json.c_str(), map_cfg_json.size());
    const rapidjson::Value* cfg =
        !m.HasParseError() && m.IsObject() ? member(m, "map-cfg") : nullptr;
    const rapidjson::Value* sync = cfg && cfg->IsObject() ? member(*cfg, "ssid-sync") : nullptr;
    const rapidjson::Value* agents = sync && sync->IsObject() ? member(*sync, "agents") : nullptr;
    for (rapidjson::SizeType i = 0; agents && agents->IsArray() && i < agents->Size(); ++i) {
        const rapidjson::Value& a = (*agents)[i];
        std::string agent = str(a, "agent");
        agent.erase(std::remove(agent.begin(), agent.end(), ':'), agent.end());
        const std::string state = str(a, "state");
        if (agent.empty() || (state != "in sync" && state != "differs"))
            continue;
        std::string& s = ident[agent];
        s += (s.empty() ? "" : ", ") +
             std::string(state == "in sync" ? "SSIDs in sync" : "SSIDs differ, renew sent");
    }
    struct Dev {
        std::string mac, name, parent, medium, quality, cost_parent, cost_root, rssi;
        bool connected = false;
        std::map<std::string, std::vector<std::string>> clients;  // BSSID -> client MACs
    };
    std::map<std::string, Dev> devs;
    std::set<std::string> bstas;
    for (rapidjson::SizeType i = 0; i < nodes->Size(); ++i) {
        const rapidjson::Value& n = (*nodes)[i];
        if (str(n, "kind") == "sta" && str(n, "backhaul-sta") == "true")
            bstas.insert(str(n, "mac"));
    }
    for (rapidjson::SizeType i = 0; i < nodes->Size(); ++i) {
        const rapidjson::Value& n = (*nodes)[i];
        if (str(n, "kind") != "device")
            continue;
        Dev d;
        d.mac = str(n, "mac");
        d.name = str(n, "name");
        if (const rapidjson::Value* bh = member(n, "backhaul")) {
            d.connected = str(*bh, "connected") == "true";
            d.parent = d.connected ? str(*bh, "remote-ale") : "";
            d.medium = str(*bh, "medium");
            d.quality = str(*bh, "quality");
            d.cost_parent = str(*bh, "cost-to-parent");
            d.cost_root = str(*bh, "cost-to-root");
            d.rssi = str(*bh, "uplink-rssi");
        }
        const rapidjson::Value* links = member(n, "links");
        for (rapidjson::SizeType k = 0; links && links->IsArray() && k < links->Size(); ++k) {
            const rapidjson::Value& l = (*links)[k];
            if (str(l, "kind") != "ASSOC" || bstas.count(str(l, "to")))
                continue;
            d.clients[str(l, "bssid")].push_back(str(l, "to"));
        }
        devs[d.mac] = d;
    }
    const std::string root = member(g, "root") ? str(g, "root") : "";
    std::map<std::string, std::vector<std::string>> children;
    std::vector<std::string> tops;
    for (const auto& kv : devs) {
        const Dev& d = kv.second;
        if (!d.parent.empty() && devs.count(d.parent) && d.parent != d.mac) {
            children[d.parent].push_back(d.mac);
        } else {
            tops.push_back(d.mac);
        }
    }
    // Root first, then the others without a known parent (disconnected).
    std::stable_sort(tops.begin(), tops.end(), [&](const std::string& a, const std::string& b) {
        return (a == root) > (b == root);
    });
    std::set<std::string> shown;
    std::function<void(const std::string&, const std::string&, bool, bool)> walk =
        [&](const std::string& mac, const std::string& prefix, bool last, bool top) {
            if (!shown.insert(mac).second)
                return;
            const Dev& d = devs[mac];
            std::string line =
                prefix + (top ? "" : (last ? "`-- " : "|-- ")) + d.name + " " + colons(mac);
            auto id = ident.find(mac);
            if (id != ident.end() && !id->second.empty())
                line += " (" + id->second + ")";
            if (mac == root) {
                line += "  [controller]";
            } else if (d.connected) {
                line += "  [backhaul " + d.medium + ", cost " + d.cost_parent + " (to root " +
                        d.cost_root + "), quality " + d.quality;
                if (!d.rssi.empty() && d.rssi != "255")
                    line += ", rssi " + d.rssi + " dBm";
                line += "]";
            } else {
                line += "  [no backhaul]";
            }
            out += line + "\n";
            const std::string inner = prefix + (top ? "" : (last ? "    " : "|   "));
            const auto& kids = children[mac];
            const bool has_kids = !kids.empty();
            std::set<std::string> listed;
            auto bss_line = [&](const std::string& bssid, const std::string& label) {
                std::string cl;
                auto it = d.clients.find(bssid);
                if (it != d.clients.end()) {
                    for (const auto& c : it->second)
                        cl += " " + colons(c);
                }
                out += inner + (has_kids ? "|   " : "    ") + "BSS " + colons(bssid) + label + ":" +
                       cl + "\n";
                listed.insert(bssid);
            };
            auto rl = radios.find(mac);
            if (rl != radios.end()) {
                for (const std::string& r : rl->second)
                    out += inner + (has_kids ? "|   " : "    ") + r + "\n";
            }
            auto s = ssids.find(mac);
            if (s != ssids.end()) {
                for (const Ssid& b : s->second)
                    bss_line(b.bssid, " \"" + b.ssid + "\"" + (b.backhaul ? " (backhaul)" : ""));
            }
            for (const auto& bss : d.clients) {
                if (!listed.count(bss.first))
                    bss_line(bss.first, "");
            }
            for (size_t k = 0; k < kids.size(); ++k)
                walk(kids[k], inner, k + 1 == kids.size(), false);
        };
    for (const auto& m : tops)
        walk(m, "", true, true);
    for (const auto& kv : devs)
        walk(kv.first, "", true, true);  // parent loops
    size_t devices = devs.size(), clients = 0;
    for (const auto& kv : devs) {
        for (const auto& b : kv.second.clients)
            clients += b.second.size();
    }
    out += std::to_string(devices) + " devices, " + std::to_string(clients) + " clients\n";
    // Backhaul steering: the switch, why it waits, and the moves asked for lately (the
    // last five, oldest first).
    rapidjson::Document b;
    b.Parse(backhaul_json.c_str(), backhaul_json.size());
    if (!b.HasParseError() && b.IsObject() && member(b, "enable")) {
        const std::string reason = str(b, "block-reason");
        out += "backhaul steering " + std::string(str(b, "enable") == "true" ? "on" : "off") +
               (reason.empty() ? "" : " (waiting: " + reason + ")") + "\n";
        const rapidjson::Value* reqs = member(b, "requests");
        if (reqs && reqs->IsArray()) {
            rapidjson::SizeType n = reqs->Size(), first = n > 5 ? n - 5 : 0;
            for (rapidjson::SizeType i = first; i < n; ++i) {
                const rapidjson::Value& r = (*reqs)[i];
                auto dev = devs.find(str(r, "al-mac"));
                std::string who = dev != devs.end() ? dev->second.name : colons(str(r, "al-mac"));
                std::string line =
                    "  " + who + " backhaul STA " + colons(str(r, "backhaul-sta-mac")) + " -> " +
                    colons(str(r, "target-bssid")) + " (class " + str(r, "operating-class") +
                    ", channel " + str(r, "channel") + "): " + str(r, "state");
                if (!str(r, "reason").empty())
                    line += " - " + str(r, "reason");
                out += line + "\n";
            }
        }
    }
    return true;
}

std::string render_steering(const std::string& steering_json) {
    rapidjson::Document d;
    d.Parse(steering_json.c_str(), steering_json.size());
    if (d.HasParseError() || !d.IsObject())
        return "";
    const rapidjson::Value* pol = member(d, "policys");
    const rapidjson::Value* totals = member(d, "totals");
    const rapidjson::Value* clients = member(d, "clients");
    if (!pol || !totals || !clients || !clients->IsArray())
        return "";
    auto on = [&](const char* key) { return str(*pol, key) == "true" ? "on" : "off"; };
    std::string out = "steering: " + std::string(on("global")) + ", band " + on("bsteering") +
                      " (2.4->5 above " + str(*pol, "24to5-dbm") + " dBm, 5->2.4 at or below " +
                      str(*pol, "5to24-dbm") + " dBm), mesh " + on("msteering") + " (ratio " +
                      str(*pol, "ratio") + "%)\n";
    out += "  requests " + str(*totals, "steer-requests") + ", BTM accepted " +
           str(*totals, "btm-accept") + ", refused " + str(*totals, "btm-reject") + "\n";
    for (const auto& c : clients->GetArray()) {
        const std::string steers = str(c, "steers");
        const bool window = str(c, "window-open") == "true";
        const bool hold = str(c, "ping-pong-hold") == "true";
        const std::string backoff = str(c, "backoff-counter");
        if ((steers.empty() || steers == "0") && !window && !hold && backoff == "0")
            continue;
        std::string line = "  " + str(c, "mac");
        const std::string bssid = str(c, "bssid");
        line += bssid.empty()
                    ? " (not associated)"
                    : " on " + bssid + " " + str(c, "medium") + " " + str(c, "rssi") + " dBm";
        line += ", " + str(c, "category");
        if (window)
            line += ", deciding (" + str(c, "window-samples") + " samples)";
        if (steers != "0") {
            line += ", steered " + steers + "x to " + str(c, "last-steer-bssid") + " " +
                    std::to_string(std::atoll(str(c, "last-steer-age-ms").c_str()) / 1000) +
                    " s ago";
            line += str(c, "steered") == "true" ? " (moved)" : " (not moved)";
        }
        const std::string btm = str(c, "btm-last-status");
        if (!btm.empty() && btm != "-1")
            line += ", BTM status " + btm;
        if (backoff != "0")
            line += ", back-off " + backoff;
        if (hold)
            line += ", ping-pong hold";
        out += line + "\n";
    }
    return out;
}

}  // namespace meshview
