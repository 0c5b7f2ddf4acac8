#include "steering/backhaul_steering.h"

#include <algorithm>

#include "core/context.h"
#include "core/log.h"
#include "graph/graph.h"
#include "graph/graph_minder.h"
#include "map/map_send.h"
#include "messages/messages.h"

BackhaulSteering::BackhaulSteering(uv_loop_s* loop, Logger* logger)
    : logger_(logger),
      timer_(loop, "backhaul_steering_check", [this] { on_backhaul_steering_check(); }),
      sender_(map_send_backhaul_steering_request) {}

BackhaulSteering::~BackhaulSteering() = default;

void BackhaulSteering::start() {
    timer_.start(kCheckMs, kCheckMs);
}

const Graph* BackhaulSteering::graph() const {
    Context* c = Context::instance();
    return c && c->graph_minder ? &c->graph_minder->graph() : nullptr;
}

int64_t BackhaulSteering::now() const {
    Context* c = Context::instance();
    return c ? c->now() : 0;
}

bool BackhaulSteering::should_do_backhaul_steering() {
    // Every 10 s while held back: at debug level (the reason is in REST and the tree view).
    static const char* kSig = "bool BackhaulSteering::should_do_backhaul_steering()";
    if (!enable_) {
        block_reason_ = "feature disabled";
        OZR_DEBUG(logger_, "{} backhaul_steering function disabled", kSig);
        return false;
    }
    int64_t t = now();
    // 0: never steered, whatever the clock reads.
    if (last_steer_ms_ != 0 && t - last_steer_ms_ < kSteerStableMs) {
        block_reason_ = "less than 100s from last backhaul steering";
        OZR_DEBUG(logger_,
                  "{} last backhaul steering is {}ms ago, which smaller than backhaul steering "
                  "waiting stable time {}ms",
                  kSig, t - last_steer_ms_, kSteerStableMs);
        return false;
    }
    Context* c = Context::instance();
    int64_t created = c && c->graph_minder ? c->graph_minder->last_device_created_ms() : 0;
    if (created != 0 && t - created < kNewDeviceStableMs) {
        block_reason_ = "less than 120s from last new device created";
        OZR_DEBUG(logger_,
                  "{} last device create is {}ms ago, which smaller than waiting new device "
                  "create stable time {}ms",
                  kSig, t - created, kNewDeviceStableMs);
        return false;
    }
    block_reason_.clear();
    return true;
}

void BackhaulSteering::on_backhaul_steering_check() {
    static const char* kSig = "void BackhaulSteering::on_backhaul_steering_check()";
    OZR_DEBUG(logger_, "{} shart backhaul steering check.", kSig);
    if (!should_do_backhaul_steering()) {
        OZR_DEBUG(logger_, "{} should not do backhaul steering now.", kSig);
        return;
    }
    int64_t t1 = now();
    std::vector<BackhaulSteeringMandate> mandates = get_backhaul_steering_mandate();
    int64_t t2 = now();
    for (const BackhaulSteeringMandate& m : mandates)
        if (do_backhaul_steering(m) == 0)
            last_steer_ms_ = now();
    int64_t t3 = now();
    OZR_DEBUG(logger_, "{}: delta t2-t1 = {}, t3-t1 = {}, t1 = {}, t2 = {}, t3 = {}", __func__,
              t2 - t1, t3 - t1, t1, t2, t3);
}

bool BackhaulSteering::is_stable_parent(const Device* dev, const Device* parent,
                                        const Paths& working, int64_t now_ms) const {
    if (!parent || parent == dev)
        return false;
    auto it = working.find(parent->mac);
    if (it == working.end() || it->second.cost >= kUnreachableCost)
        return false;  // the parent itself has no way to the gateway now
    if (now_ms - parent->first_seen_ms < kStableParentMs)
        return false;
    // Never under one of its own descendants: walk the parent's working uplinks.
    const Device* up = it->second.prev;
    for (size_t hops = 0; up && hops < working.size(); ++hops) {
        if (up == dev)
            return false;
        auto u = working.find(up->mac);
        up = u == working.end() ? nullptr : u->second.prev;
    }
    return true;
}

std::vector<BackhaulSteeringMandate> BackhaulSteering::get_backhaul_steering_mandate() {
    const Graph* g = graph();
    if (!g)
        return {};
    return get_backhaul_steering_mandate(*g, now());
}

std::vector<BackhaulSteeringMandate> BackhaulSteering::get_backhaul_steering_mandate(
    const Graph& graph, int64_t now_ms) {
    std::vector<BackhaulSteeringMandate> out;
    const Graph* g = &graph;
    Paths working = find_shortest_working_paths_for_devices(*logger_, *g);
    Paths candidate = find_shortest_paths_for_devices(*logger_, *g, now_ms, kMaxMeasurementAgeMs);
    OZR_DEBUG(logger_, "{} working_paths_str={}", __func__, to_string(working));
    OZR_DEBUG(logger_, "{} candidate_paths_str={}", __func__, to_string(candidate));

    std::vector<const Device*> devices;
    for (const auto& kv : g->nodes)
        if (kv.second->kind() == Node::DEVICE && kv.second != g->root)
            devices.push_back(static_cast<const Device*>(kv.second));
    std::sort(devices.begin(), devices.end(),
              [](const Device* a, const Device* b) { return a->mac < b->mac; });

    for (const Device* dev : devices) {
        auto w = working.find(dev->mac);
        if (w == working.end() || !w->second.prev || w->second.cost >= kUnreachableCost) {
            OZR_DEBUG(logger_, "{}: Device {} has no working path, skip", __func__, dev->label());
            continue;
        }
        auto c = candidate.find(dev->mac);
        if (c == candidate.end() || !c->second.prev || !c->second.link ||
            c->second.cost >= kUnreachableCost) {
            OZR_DEBUG(logger_, "{}: Device {} has no candidate path", __func__, dev->label());
            continue;
        }
        const Device* parent = c->second.prev;
        if (!is_stable_parent(dev, parent, working, now_ms)) {
            OZR_DEBUG(logger_, "{}: Device {} 's candidate parent {} is not stable", __func__,
                      dev->label(), parent->label());
            continue;
        }
        float cand = static_cast<float>(c->second.cost) * 1.2f;
        if (!(cand <= static_cast<float>(w->second.cost)) || parent == w->second.prev)
            continue;
        const Link* hop = c->second.link;
        if (hop->kind() == Link::WIRED) {
            OZR_DEBUG(logger_, "{}: Device {} candidate path is wired, candidate parent is {}",
                      __func__, dev->label(), parent->label());
            continue;
        }
        const Sta* bsta = g->find_sta(hop->to);
        if (!bsta || !bsta->is_backhaul_sta || bsta->owner_device != dev->mac) {
            OZR_DEBUG(logger_, "{}: Device {} candidate hop ends at {}, not its backhaul STA",
                      __func__, dev->label(), hop->to.to_string());
            continue;
        }
        BSSID measured;
        uint8_t op_class = 0, channel = 0;
        if (hop->kind() == Link::UNASSOCIATED) {
            const auto* u = static_cast<const UnassociatedLink*>(hop);
            measured = u->bssid;
            op_class = u->op_class;
            channel = u->channel;
        } else {
            measured = static_cast<const WirelessLink*>(hop)->bssid;
        }
        if (optional<MAC> radio = parent->find_radio_id(measured))
            find_dest_channel_by_radio_id(parent, *radio, op_class, channel);
        // The backhaul's present BSS and SSID.
        const Device* serving = w->second.prev;
        BSSID from;
        std::string ssid;
        if (const WirelessLink* now_link = serving->find_wireless_link(bsta->mac)) {
            from = now_link->bssid;
            if (optional<std::string> s = serving->find_ssid(from))
                ssid = *s;
        }
        BSSID target;
        if (!find_backhaul_steer_target_bssid(dev, parent, bsta, measured, target, ssid) ||
            target.is_zero())
            continue;
        BackhaulSteeringMandate m;
        m.dest_dev = dev->mac;
        m.entry.node_mac = bsta->mac;
        m.entry.target_bssid = target;
        m.entry.op_class = op_class;
        m.entry.channel = channel;
        m.entry.node_name = bsta->name.empty() ? bsta->mac.to_string() : bsta->label();
        m.entry.from_bssid = from.to_string();
        m.entry.dest_name = parent->label();
        OZR_INFO(logger_, "{}: Device {} moves from {} (${}) to {} (${})", __func__, dev->label(),
                 serving->label(), w->second.cost, parent->label(), c->second.cost);
        out.push_back(m);
    }
    return out;
}

bool BackhaulSteering::find_backhaul_steer_target_bssid(const Device* /*dev*/, const Device* parent,
                                                        const Sta* /*bsta*/, const MAC& measured,
                                                        BSSID& out, const std::string& ssid) const {
    out = BSSID();
    if (!parent)
        return false;
    const BSSID m(measured);
    if (const BSSInfo* b = parent->find_bss_info(m))
        if (ssid.empty() || b->ssid == ssid) {
            out = m;
            return true;
        }
    optional<MAC> radio = parent->find_radio_id(m);
    if (!radio || ssid.empty())
        return false;
    for (const RadioInfo& r : parent->operational_bss) {
        if (r.radio_id != *radio)
            continue;
        for (const BSSInfo& b : r.bsss)
            if (b.ssid == ssid) {
                out = b.bssid;
                return true;
            }
    }
    return false;
}

bool BackhaulSteering::find_dest_channel_by_radio_id(const Device* parent, const MAC& radio_id,
                                                     uint8_t& op_class, uint8_t& channel) const {
    if (!parent)
        return false;
    const OperatingChannelReportTLV* r = parent->find_operating_channel(radio_id);
    if (!r || r->op_classes.empty())
        return false;
    op_class = r->op_classes.front().op_class;
    channel = r->op_classes.front().channel;
    return true;
}

int BackhaulSteering::do_backhaul_steering(const BackhaulSteeringMandate& mandate) {
    static const char* kSig =
        "int BackhaulSteering::do_backhaul_steering(const BackhaulSteeringMandate&)";
    if (mandate.dest_dev.is_zero() || mandate.entry.node_mac.is_zero()) {
        OZR_ERROR(logger_,
                  "{} mandate.dest_dev is MAC::zero or mandate.entry.node_mac is MAC::zero.", kSig);
        return -1;
    }
    const Graph* g = graph();
    if (!g || !g->find_device(mandate.dest_dev)) {
        OZR_ERROR(logger_, "{} Cannot find device for mac {}.", kSig, mandate.dest_dev.to_string());
        return -1;
    }
    const Sta* bsta = g->find_sta(mandate.entry.node_mac);
    if (!bsta || !bsta->is_backhaul_sta) {
        OZR_ERROR(logger_, "{} {} is not a backhaul sta.", kSig,
                  mandate.entry.node_mac.to_string());
        return -1;
    }
    OZR_NOTICE(
        logger_, "{}:   backhaul client {} from bssid: {} to AP {} bssid {} channel {} op class {}",
        __func__, mandate.entry.node_name, mandate.entry.from_bssid, mandate.entry.dest_name,
        mandate.entry.target_bssid.to_string(), mandate.entry.channel, mandate.entry.op_class);
    int r = send(mandate.dest_dev, mandate.entry.node_mac, mandate.entry.target_bssid,
                 mandate.entry.op_class, mandate.entry.channel, false);
    if (r != 0) {
        OZR_ERROR(logger_, "{} map_send_steering_request returned {}", kSig, r);
        return r;
    }
    return 0;
}

int BackhaulSteering::send_backhaul_steering(const BhSteerEntry& entry) {
    uint8_t op_class = 0, channel = 0;
    if (const Graph* g = graph()) {
        for (const auto& kv : g->nodes) {
            if (kv.second->kind() != Node::DEVICE)
                continue;
            const Device* d = static_cast<const Device*>(kv.second);
            optional<MAC> radio = d->find_radio_id(entry.target_bssid);
            if (radio) {
                find_dest_channel_by_radio_id(d, *radio, op_class, channel);
                break;
            }
        }
    }
    OZR_INFO(logger_, "Steering AP {} backhaul sta {} to bssid {} op class {} channel {}",
             entry.al_mac.to_string(), entry.bsta_mac.to_string(), entry.target_bssid.to_string(),
             op_class, channel);
    int r = send(entry.al_mac, entry.bsta_mac, entry.target_bssid, op_class, channel, true);
    OZR_INFO(logger_, "map_send_backhaul_steering_request returned {}", r);
    return r;
}

int BackhaulSteering::send(const MAC& al_mac, const MAC& bsta, const BSSID& target,
                           uint8_t op_class, uint8_t channel, bool external) {
    backhaul_steering_request_tlv req;
    req.backhaul_sta_mac = bsta;
    req.target_bssid = target;
    req.op_class = op_class;
    req.channel = channel;
    int r = sender_ ? sender_(al_mac, req) : -1;
    BackhaulSteerRecord rec;
    rec.sent_ms = now();
    rec.al_mac = al_mac;
    rec.bsta_mac = bsta;
    rec.target_bssid = target;
    rec.op_class = op_class;
    rec.channel = channel;
    rec.external = external;
    rec.state = r == 0 ? "requested" : "send-failed";
    records_.push_back(rec);
    while (records_.size() > kMaxRecords)
        records_.pop_front();
    return r;
}

void BackhaulSteering::on_backhaul_steering_response(const BackhaulSteeringResponseMesg& r) {
    // The latest request still waiting for this backhaul STA.
    auto it = std::find_if(records_.rbegin(), records_.rend(), [&](const BackhaulSteerRecord& x) {
        return x.bsta_mac == r.backhaul_sta && x.state == "requested";
    });
    if (it == records_.rend()) {
        OZR_WARN(logger_,
                 "BackhaulSteering::{}() response for bsta {} target {} result {} without a "
                 "request, ignored",
                 __func__, r.backhaul_sta.to_string(), r.target_bssid.to_string(),
                 static_cast<unsigned>(r.result_code));
        return;
    }
    it->result_code = r.result_code;
    it->answered_ms = now();
    if (r.error_code)
        it->reason = r.error_code->reason_string();
    if (r.result_code == 0) {
        it->state = "succeeded";
        OZR_NOTICE(logger_, "BackhaulSteering::{}() bsta {} moved to {}", __func__,
                   r.backhaul_sta.to_string(), r.target_bssid.to_string());
    } else {
        it->state = "failed";
        OZR_WARN(logger_, "BackhaulSteering::{}() bsta {} did not move to {}: result {} {}",
                 __func__, r.backhaul_sta.to_string(), it->target_bssid.to_string(),
                 static_cast<unsigned>(r.result_code), it->reason);
    }
}
