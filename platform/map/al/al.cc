#include "map/al/al.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/clock.h"
#include "map/codec/tlv_types.h"
#include "map/map_init.h"
#include "map/map_log.h"
#include "map/map_send.h"

namespace {

constexpr long long kTickMs = 1000;

template <class T>
const T* find_tlv(const CMDU& cmdu) {
    if (cmdu.list_of_TLVs == nullptr)
        return nullptr;
    for (size_t i = 0; cmdu.list_of_TLVs[i] != nullptr; ++i) {
        if (const T* t = tlv_cast<T>(cmdu.list_of_TLVs[i]))
            return t;
    }
    return nullptr;
}

// Last record of type T: a TLV that may appear once and came twice counts as its last
// occurrence, as the daemon's decoders take it.
template <class T>
const T* find_last_tlv(const CMDU& cmdu) {
    const T* found = nullptr;
    if (cmdu.list_of_TLVs == nullptr)
        return nullptr;
    for (size_t i = 0; cmdu.list_of_TLVs[i] != nullptr; ++i) {
        if (const T* t = tlv_cast<T>(cmdu.list_of_TLVs[i]))
            found = t;
    }
    return found;
}

// Keeps the codec's warnings about rejected CMDUs out of the log while alive
// (the AL logs those itself, rate-limited).
class QuietCodec {
  public:
    explicit QuietCodec(bool on = true)
        : on_(on), saved_(get_map_module_log_level(MAP_LOG_IEEE1905)) {
        if (on_ && saved_ > 3)
            set_map_ieee1905_module_log_level(3);
    }
    ~QuietCodec() {
        if (on_)
            set_map_ieee1905_module_log_level(saved_);
    }
    QuietCodec(const QuietCodec&) = delete;
    QuietCodec& operator=(const QuietCodec&) = delete;

  private:
    bool on_;
    int saved_;
};

bool is_group(const MAC& mac) {
    return mac == k1905MulticastMac || mac == kBroadcastMac;
}

}  // namespace

bool is_relayed_multicast_type(uint16_t message_type) {
    switch (message_type) {
        case CMDU_TYPE_TOPOLOGY_NOTIFICATION:
        case CMDU_TYPE_AP_AUTOCONFIGURATION_SEARCH:
        case CMDU_TYPE_AP_AUTOCONFIGURATION_RENEW:
        case CMDU_TYPE_PUSH_BUTTON_EVENT_NOTIFICATION:
        case CMDU_TYPE_PUSH_BUTTON_JOIN_NOTIFICATION:
            return true;
        default:
            return false;
    }
}

MapAl::MapAl(std::unique_ptr<Transport> transport, MapAlOptions options)
    : transport_(std::move(transport)),
      options_(std::move(options)),
      reassembler_(options_.reassembly),
      requests_(options_.requests) {
    if (options_.al_mac == MAC() && transport_)
        options_.al_mac = transport_->al_mac();
    if (options_.discovery_interval_s == 0)
        options_.discovery_interval_s = 60;
    if (options_.dedup_entries == 0)
        options_.dedup_entries = 1;
    seen_.resize(options_.dedup_entries);
    // Start somewhere else each run and for each AL, so that a restarted
    // device is not taken for a duplicate of its former self.
    const uint8_t* m = options_.al_mac.data();
    mid_ = static_cast<uint16_t>(get_current_time_ms() ^ (static_cast<long long>(getpid()) << 4) ^
                                 (m[4] << 8 | m[5]) ^ reinterpret_cast<uintptr_t>(this));
}

MapAl::~MapAl() {
    stop();
}

int MapAl::start(uv_loop_t* loop, Deliver deliver, std::string* error) {
    if (running_)
        return 0;
    if (!transport_) {
        if (error)
            *error = "1905 AL: no transport";
        return kTransportErrConfig;
    }
    if (options_.al_mac == MAC())
        options_.al_mac = transport_->al_mac();
    loop_ = loop;
    deliver_ = std::move(deliver);
    int rc = transport_->open(
        loop,
        [this](size_t itf, const uint8_t* frame, size_t len) { receive_frame(itf, frame, len); },
        error);
    if (rc != 0)
        return rc;
    if (options_.al_mac == MAC())
        options_.al_mac = transport_->al_mac();
    timer_ = new uv_timer_t;
    local_timer_ = new uv_timer_t;
    resend_timer_ = new uv_timer_t;
    for (uv_timer_t* t : {timer_, local_timer_, resend_timer_}) {
        uv_timer_init(loop, t);
        t->data = this;
        map_register_stack_handle(reinterpret_cast<uv_handle_t*>(t), on_closed);
    }
    requests_logged_ms_ = get_current_time_ms();
    running_ = true;
    last_discovery_ms_ = -1;
    uv_timer_start(timer_, on_timer, 0, kTickMs);
    map_log(MAP_LOG_IEEE1905, 6, "1905 AL %s up on %zu interface(s) (%s transport)",
            options_.al_mac.to_string().c_str(), transport_->interfaces().size(),
            transport_->kind());
    return 0;
}

void MapAl::stop() {
    if (!running_)
        return;
    running_ = false;
    transport_->close();
    for (uv_timer_t* t : {timer_, local_timer_, resend_timer_}) {
        t->data = nullptr;
        uv_timer_stop(t);
        uv_close(reinterpret_cast<uv_handle_t*>(t), on_closed);
    }
    timer_ = nullptr;
    local_timer_ = nullptr;
    resend_timer_ = nullptr;
    local_.clear();
    requests_.clear();
}

void MapAl::on_closed(uv_handle_t* h) {
    map_unregister_stack_handle(h);
    delete reinterpret_cast<uv_timer_t*>(h);
}

void MapAl::abandon() {
    if (!running_)
        return;
    running_ = false;
    transport_->abandon();
    if (timer_)
        timer_->data = nullptr;
    if (local_timer_)
        local_timer_->data = nullptr;
    if (resend_timer_)
        resend_timer_->data = nullptr;
    timer_ = nullptr;
    local_timer_ = nullptr;
    resend_timer_ = nullptr;
    local_.clear();
    requests_.clear();
}

void MapAl::on_timer(uv_timer_t* t) {
    if (auto* self = static_cast<MapAl*>(t->data))
        self->tick();
}

void MapAl::on_local(uv_timer_t* t) {
    auto* self = static_cast<MapAl*>(t->data);
    // One at a time; a CMDU queued by a handler waits for the next turn.
    size_t n = self ? self->local_.size() : 0;
    while (self && self->running_ && n-- > 0 && !self->local_.empty()) {
        CmduPtr c = std::move(self->local_.front());
        self->local_.pop_front();
        self->dispatch(c.get());
        self = static_cast<MapAl*>(t->data);  // null once stopped
    }
    if (self && self->running_ && !self->local_.empty())
        self->arm_local();
}

void MapAl::arm_local() {
    uv_timer_start(local_timer_, on_local, 0, 0);
}

void MapAl::on_resend(uv_timer_t* t) {
    if (auto* self = static_cast<MapAl*>(t->data))
        self->resend_due();
}

void MapAl::arm_resend() {
    if (!running_ || resend_timer_ == nullptr)
        return;
    long long due = requests_.next_due_ms();
    if (due < 0) {
        uv_timer_stop(resend_timer_);
        return;
    }
    long long wait = due - get_current_time_ms();
    uv_timer_start(resend_timer_, on_resend, static_cast<uint64_t>(wait < 0 ? 0 : wait), 0);
}

void MapAl::resend_due() {
    if (!running_)
        return;
    const auto& itfs = transport_->interfaces();
    requests_.run_due(
        get_current_time_ms(),
        [&](const MapRequests::Entry& e) {
            size_t from = 0, to = itfs.size();
            if (e.if_index >= 0 && static_cast<size_t>(e.if_index) < itfs.size()) {
                from = static_cast<size_t>(e.if_index);
                to = from + 1;
            } else if (const char* route = route_to(e.peer)) {
                from = static_cast<size_t>(transport_->find_interface(route));
                to = from + 1;
            }
            for (size_t i = from; i < to; ++i) {
                if (send_on(i, e.peer, options_.al_mac, e.fragments) != 0)
                    ++stats_.tx_failed;
            }
            map_log(MAP_LOG_IEEE1905, 7, "1905 AL: %s (mid 0x%04x) to %s sent again (copy %d)",
                    convert_1905_CMDU_type_to_string(e.type), e.mid, e.peer.to_string().c_str(),
                    e.sends);
        },
        [&](const MapRequests::Entry& e) {
            char what[160];
            std::snprintf(what, sizeof what, "%s (mid 0x%04x) unanswered after %d sends, given up",
                          convert_1905_CMDU_type_to_string(e.type), e.mid, e.sends);
            log_drop(log_given_up_, what, e.peer, "to");
        });
    arm_resend();
}

// One line a minute at most, when something was sent again, given up or
// recognised as a repeat: what loss costs, visible in the log.
void MapAl::log_request_stats(long long now) {
    constexpr long long kEveryMs = 60000;
    if (now - requests_logged_ms_ < kEveryMs)
        return;
    const MapRequestStats& s = requests_.stats();
    const MapRequestStats& o = logged_requests_;
    if (s.resends == o.resends && s.given_up == o.given_up && s.evicted == o.evicted &&
        s.duplicate_answers == o.duplicate_answers && stats_.repeats_answered == logged_repeats_)
        return;
    auto d = [](uint64_t a, uint64_t b) { return static_cast<unsigned long long>(a - b); };
    map_log(MAP_LOG_IEEE1905, 6,
            "1905 AL: requests in the last %lld s: %llu awaited an answer, %llu copies sent "
            "again, %llu answered after a resend, %llu given up, %llu evicted; %llu repeated "
            "answers dropped, %llu repeated requests answered again",
            (now - requests_logged_ms_) / 1000, d(s.tracked, o.tracked), d(s.resends, o.resends),
            d(s.answered_resent, o.answered_resent), d(s.given_up, o.given_up),
            d(s.evicted, o.evicted), d(s.duplicate_answers, o.duplicate_answers),
            d(stats_.repeats_answered, logged_repeats_));
    logged_requests_ = s;
    logged_repeats_ = stats_.repeats_answered;
    requests_logged_ms_ = now;
}

void MapAl::tick() {
    if (!running_)
        return;
    long long now = get_current_time_ms();
    if (last_discovery_ms_ < 0 ||
        now - last_discovery_ms_ >= static_cast<long long>(options_.discovery_interval_s) * 1000) {
        send_discovery();
        last_discovery_ms_ = now;
    }
    age_neighbors(now);
    reassembler_.expire();
    resend_due();
    log_request_stats(now);
    if (running_ && on_tick_)
        on_tick_();
}

uint16_t MapAl::next_message_id() {
    return ++mid_;
}

int MapAl::set_discovery_interval(unsigned seconds) {
    if (seconds < 1 || seconds > 3600)
        return -1;
    options_.discovery_interval_s = seconds;
    return 0;
}

// ---- sending ------------------------------------------------------------------

int MapAl::send_on(size_t if_index, const MAC& dest, const MAC& src,
                   const std::vector<std::vector<uint8_t>>& fragments) {
    std::vector<uint8_t> frame;
    for (const auto& f : fragments) {
        build_1905_ethernet_frame(dest, src, f, frame);
        int rc = transport_->send(if_index, frame.data(), frame.size());
        if (rc != 0)
            return rc;
    }
    return 0;
}

int MapAl::send(const MAC& dest, CMDU& cmdu, const char* ifname, bool allocate_mid,
                uint16_t* mid_out) {
    const char* type_name = convert_1905_CMDU_type_to_string(cmdu.message_type);
    if (!running_) {
        map_log(MAP_LOG_IEEE1905, 3, "1905 AL: %s to %s not sent: the AL is not running", type_name,
                dest.to_string().c_str());
        return MAP_SEND_NOT_READY;
    }
    if (allocate_mid)
        cmdu.message_id = next_message_id();
    if (mid_out)
        *mid_out = cmdu.message_id;
    std::vector<std::vector<uint8_t>> fragments;
    if (!encode_1905_CMDU(cmdu, fragments)) {
        ++stats_.tx_failed;
        map_log(MAP_LOG_IEEE1905, 3, "1905 AL: %s (mid 0x%04x) to %s does not encode", type_name,
                cmdu.message_id, dest.to_string().c_str());
        return MAP_SEND_ENCODE;
    }
    std::vector<size_t> targets;
    int tracked_if = -1;  // where a copy sent again goes: -1, routed afresh
    if (ifname != nullptr) {
        int i = transport_->find_interface(ifname);
        if (i < 0) {
            ++stats_.tx_failed;
            map_log(MAP_LOG_IEEE1905, 3, "1905 AL: %s to %s not sent: no interface \"%.15s\"",
                    type_name, dest.to_string().c_str(), ifname);
            return MAP_SEND_BAD_ARGUMENT;
        }
        targets.push_back(static_cast<size_t>(i));
        tracked_if = i;
    } else {
        const char* route = is_group(dest) ? nullptr : route_to(dest);
        if (route != nullptr) {
            targets.push_back(static_cast<size_t>(transport_->find_interface(route)));
        } else {
            for (size_t i = 0; i < transport_->interfaces().size(); ++i)
                targets.push_back(i);
        }
    }
    int failed = 0, last_rc = 0;
    for (size_t i : targets) {
        int rc = send_on(i, dest, options_.al_mac, fragments);
        if (rc != 0) {
            ++failed;
            last_rc = rc;
        }
    }
    if (failed > 0) {
        ++stats_.tx_failed;
        map_log(MAP_LOG_IEEE1905, 3,
                "1905 AL: %s (mid 0x%04x) to %s: the transport refused it on %d of %zu "
                "interface(s) (error %d)",
                type_name, cmdu.message_id, dest.to_string().c_str(), failed, targets.size(),
                last_rc);
        return MAP_SEND_SOCKET;
    }
    ++stats_.tx_cmdus;
    // (Nobody answers what the daemon asks of the controller's own AL MAC, apart from the
    // Topology Query answered locally.)
    if (!is_group(dest) && !(dest == options_.al_mac) &&
        requests_.add(dest, cmdu.message_type, cmdu.message_id, tracked_if, std::move(fragments),
                      get_current_time_ms()))
        arm_resend();
    return MAP_SEND_OK;
}

void MapAl::send_discovery() {
    for (size_t i = 0; i < transport_->interfaces().size(); ++i)
        send_discovery_on(i);
}

bool MapAl::send_discovery_on(size_t i) {
    const auto& itfs = transport_->interfaces();
    if (i >= itfs.size())
        return false;
    CmduPtr c = CmduBuilder(CMDU_TYPE_TOPOLOGY_DISCOVERY, next_message_id())
                    .add(al_mac_address_tlv{TLV_TYPE_AL_MAC_ADDRESS_TYPE, options_.al_mac})
                    .add(mac_address_tlv{TLV_TYPE_MAC_ADDRESS_TYPE, itfs[i].mac})
                    .build();
    std::vector<std::vector<uint8_t>> fragments;
    if (!c || !encode_1905_CMDU(*c, fragments) ||
        send_on(i, k1905MulticastMac, itfs[i].mac, fragments) != 0) {
        ++stats_.tx_failed;
        map_log(MAP_LOG_IEEE1905, 4, "1905 AL: Topology Discovery on %s not sent",
                itfs[i].name.c_str());
        return false;
    }
    ++stats_.tx_cmdus;
    return true;
}

void MapAl::send_notification() {
    CmduPtr c = CmduBuilder(CMDU_TYPE_TOPOLOGY_NOTIFICATION, 0)
                    .relay(true)
                    .add(al_mac_address_tlv{TLV_TYPE_AL_MAC_ADDRESS_TYPE, options_.al_mac})
                    .build();
    if (c)
        send(k1905MulticastMac, *c, nullptr, true);
}

CmduPtr MapAl::build_topology_response(uint16_t mid) const {
    CmduBuilder b(CMDU_TYPE_TOPOLOGY_RESPONSE, mid);
    b.source(options_.al_mac);
    const auto& itfs = transport_->interfaces();
    auto& info = b.add<device_information_tlv>();
    info.al_mac_address = options_.al_mac;
    for (const auto& itf : itfs) {
        device_information_tlv::local_interface li;
        li.mac_address = itf.mac;
        li.media_type = MEDIA_TYPE_IEEE_802_3AB_GIGABIT_ETHERNET;
        info.local_interfaces.push_back(li);
    }
    info.num_local_interfaces = static_cast<uint8_t>(info.local_interfaces.size());
    for (size_t i = 0; i < itfs.size(); ++i) {
        std::vector<neighbor_device_list_tlv::neighbor> list;
        for (const auto& n : neighbors_) {
            if (n.if_index != i)
                continue;
            bool dup = std::any_of(list.begin(), list.end(),
                                   [&](const auto& e) { return e.al_mac_address == n.al_mac; });
            if (!dup)
                list.push_back({n.al_mac, 0});
        }
        if (list.empty())
            continue;
        auto& tlv = b.add<neighbor_device_list_tlv>();
        tlv.local_mac_address = itfs[i].mac;
        tlv.neighbors = std::move(list);
    }
    auto& svc = b.add<supported_service_tlv>();
    svc.services.push_back(options_.controller ? MAP_SERVICE_CONTROLLER : MAP_SERVICE_AGENT);
    svc.num_services = 1;
    b.add(multiap_profile_tlv{TLV_TYPE_MULTIAP_PROFILE, options_.profile});
    return b.build();
}

bool MapAl::deliver_local(CmduPtr cmdu) {
    if (!running_ || !cmdu)
        return false;
    if (local_.size() >= options_.max_local_queue) {
        log_drop(log_local_full_, "local answer dropped: queue full", options_.al_mac);
        return false;
    }
    local_.push_back(std::move(cmdu));
    arm_local();
    return true;
}

bool MapAl::query_self(uint16_t mid) {
    CmduPtr r = build_topology_response(mid);
    if (!r)
        return false;
    r->src_al_mac = options_.al_mac;
    return deliver_local(std::move(r));
}

// ---- neighbours and routes ------------------------------------------------------

bool MapAl::learn_neighbor(size_t if_index, const MAC& al_mac, const MAC& if_mac) {
    long long now = get_current_time_ms();
    for (auto& n : neighbors_) {
        if (n.if_index == if_index && n.al_mac == al_mac && n.if_mac == if_mac) {
            n.last_seen_ms = now;
            return false;
        }
    }
    if (neighbors_.size() >= options_.max_neighbors) {
        ++stats_.neighbors_dropped;
        log_drop(log_neighbors_full_, "new neighbour ignored: neighbour table full", al_mac);
        return false;
    }
    neighbors_.push_back({if_index, al_mac, if_mac, now});
    return true;
}

void MapAl::age_neighbors(long long now) {
    long long timeout = options_.neighbor_timeout_s
                            ? static_cast<long long>(options_.neighbor_timeout_s) * 1000
                            : (2LL * options_.discovery_interval_s + 20) * 1000;
    size_t before = neighbors_.size();
    neighbors_.erase(
        std::remove_if(neighbors_.begin(), neighbors_.end(),
                       [&](const MapNeighbor& n) { return now - n.last_seen_ms > timeout; }),
        neighbors_.end());
    if (neighbors_.size() != before) {
        map_log(MAP_LOG_IEEE1905, 6, "1905 AL: %zu neighbour(s) aged out",
                before - neighbors_.size());
        send_notification();
        if (on_neighbors_changed_)
            on_neighbors_changed_();
    }
}

bool MapAl::knows_neighbor(const MAC& al_mac) const {
    return std::any_of(neighbors_.begin(), neighbors_.end(),
                       [&](const MapNeighbor& n) { return n.al_mac == al_mac; });
}

bool MapAl::learn_route(const MAC& al_mac, size_t if_index) {
    if (al_mac == MAC() || is_group(al_mac))
        return false;
    long long now = get_current_time_ms();
    for (auto& r : routes_) {
        if (r.al_mac == al_mac) {
            r.if_index = if_index;
            r.at_ms = now;
            return false;
        }
    }
    if (routes_.size() < options_.max_routes) {
        routes_.push_back({al_mac, if_index, now});
        return true;
    }
    auto oldest =
        std::min_element(routes_.begin(), routes_.end(),
                         [](const Route& a, const Route& b) { return a.at_ms < b.at_ms; });
    *oldest = {al_mac, if_index, now};
    return true;
}

const char* MapAl::route_to(const MAC& al_mac) const {
    if (!transport_)
        return nullptr;
    const auto& itfs = transport_->interfaces();
    for (const auto& r : routes_) {
        if (r.al_mac == al_mac && r.if_index < itfs.size())
            return itfs[r.if_index].name.c_str();
    }
    for (const auto& n : neighbors_) {
        if (n.al_mac == al_mac && n.if_index < itfs.size())
            return itfs[n.if_index].name.c_str();
    }
    return nullptr;
}

MapAl::Seen* MapAl::seen_slot(const MAC& src, uint16_t type, uint16_t mid, uint16_t fragment,
                              bool* found) {
    constexpr size_t kProbes = 8;
    const long long now = get_current_time_ms();
    const uint8_t* m = src.data();
    size_t h = (static_cast<size_t>(mid) * 31 + type) * 131 + fragment;
    for (size_t i = 0; i < 6; ++i)
        h = h * 33 + m[i];
    Seen* pick = nullptr;
    bool pick_free = false;
    for (size_t p = 0; p < kProbes && p < seen_.size(); ++p) {
        Seen& s = seen_[(h + p) % seen_.size()];
        const bool live = s.at_ms != 0 && now - s.at_ms <= options_.dedup_window_ms;
        if (live && s.mid == mid && s.type == type && s.fragment == fragment && s.src == src) {
            *found = true;
            return &s;
        }
        // The first free or stale slot, else the oldest of the probed ones.
        if (!live) {
            if (!pick_free)
                pick = &s;
            pick_free = true;
        } else if (!pick_free && (pick == nullptr || s.at_ms < pick->at_ms)) {
            pick = &s;
        }
    }
    *found = false;
    return pick;
}

bool MapAl::seen_before(const MAC& src, uint16_t type, uint16_t mid, uint16_t fragment) {
    bool found = false;
    Seen* slot = seen_slot(src, type, mid, fragment, &found);
    if (found)
        return true;
    if (slot != nullptr) {
        long long now = get_current_time_ms();
        *slot = {src, type, mid, fragment, now == 0 ? 1 : now};
    }
    return false;
}

// ---- receiving ---------------------------------------------------------------------

void MapAl::log_drop(DropLog& log, const char* what, const MAC& peer, const char* from) {
    long long now = get_current_time_ms();
    if (log.logged && now - log.last_ms < kDropLogIntervalMs) {
        ++log.suppressed;
        return;
    }
    map_log(MAP_LOG_IEEE1905, 4, "1905 AL: %s (%s %s; %llu more not logged in the last %lld s)",
            what, from, peer.to_string().c_str(), static_cast<unsigned long long>(log.suppressed),
            kDropLogIntervalMs / 1000);
    log.logged = true;
    log.last_ms = now;
    log.suppressed = 0;
}

void MapAl::receive_frame(size_t if_index, const uint8_t* frame, size_t len) {
    if (!running_ || if_index >= transport_->interfaces().size())
        return;
    MAC src;
    const uint8_t* payload = nullptr;
    size_t plen = 0;
    cmdu_header h;
    if (!parse_1905_ethernet_frame(frame, len, src, payload, plen) ||
        !parse_1905_CMDU_header(payload, plen, h)) {
        ++stats_.rx_malformed;
        log_drop(log_malformed_, "frame dropped: no 1905 CMDU header",
                 len >= 12 ? MAC(frame + 6) : MAC());
        return;
    }
    const MAC dst = frame_dst(frame);

    if (h.message_type == CMDU_TYPE_TOPOLOGY_DISCOVERY) {
        // Heard on every interface it reaches, so learnt per interface before
        // duplicates are dropped.
        CmduPtr c;
        {
            QuietCodec quiet;
            c = decode_1905_CMDU(payload, plen, &src);
        }
        const al_mac_address_tlv* al = c ? find_last_tlv<al_mac_address_tlv>(*c) : nullptr;
        const mac_address_tlv* itf = c ? find_last_tlv<mac_address_tlv>(*c) : nullptr;
        if (!al || !itf || al->al_mac_address == MAC() || is_group(al->al_mac_address)) {
            ++stats_.rx_malformed;
            log_drop(log_malformed_, "Topology Discovery dropped: malformed", src);
            return;
        }
        if (al->al_mac_address == options_.al_mac)
            return;  // our own, looped back through a bridge
        // A neighbour new on every interface gets a query (it may have been
        // heard before, relayed, but never as a neighbour).
        bool known = knows_neighbor(al->al_mac_address);
        bool changed = learn_neighbor(if_index, al->al_mac_address, itf->mac_address);
        learn_route(al->al_mac_address, if_index);
        if (seen_before(src, h.message_type, h.message_id, h.fragment_id)) {
            ++stats_.rx_duplicates;
        } else {
            c->src_al_mac = al->al_mac_address;
            std::snprintf(c->interface_name, sizeof c->interface_name, "%s",
                          transport_->interfaces()[if_index].name.c_str());
            ++stats_.rx_cmdus;
            dispatch(c.get());
        }
        if (changed && running_) {
            map_log(MAP_LOG_IEEE1905, 6, "1905 AL: new neighbour %s on %s",
                    al->al_mac_address.to_string().c_str(),
                    transport_->interfaces()[if_index].name.c_str());
            // The newcomer learns of us now rather than at our next period (it may
            // have come up after our last discovery, or lost it).
            send_discovery_on(if_index);
            send_notification();
            if (options_.controller && !known) {
                CmduPtr q =
                    CmduBuilder(CMDU_TYPE_TOPOLOGY_QUERY, 0)
                        .add(multiap_profile_tlv{TLV_TYPE_MULTIAP_PROFILE, options_.profile})
                        .build();
                if (q)
                    send(al->al_mac_address, *q, nullptr, true);
            }
            if (on_neighbors_changed_)
                on_neighbors_changed_();
        }
        return;
    }

    // Each frame is forwarded (relayed multicast) once; each message is handled
    // once. A fragment heard again still goes to the reassembler, which may
    // have dropped the first copy of an incomplete message.
    const bool repeat = seen_before(src, h.message_type, h.message_id, h.fragment_id);
    if (repeat)
        ++stats_.rx_duplicates;
    else if (h.relay_indicator && dst == k1905MulticastMac &&
             is_relayed_multicast_type(h.message_type))
        forward_relayed(if_index, frame, len);
    if (repeat && seen(src, h.message_type, h.message_id, kWholeMessage)) {
        if (h.last_fragment)
            answer_repeat(if_index, src, h, payload, plen);
        return;
    }
    if (repeat && h.fragment_id == 0 && h.last_fragment)
        return;  // one that did not decode, again
    CmduPtr c;
    if (h.fragment_id == 0 && h.last_fragment) {
        // Whole in one frame: decoded here so that a rejection is logged
        // through the AL's rate limit rather than once per frame.
        {
            QuietCodec quiet;
            c = decode_1905_CMDU(payload, plen, &src);
        }
        if (!c) {
            ++stats_.rx_malformed;
            log_drop(log_malformed_, "CMDU dropped: malformed TLVs", src);
            return;
        }
    } else {
        // The reassembler names what it rejects; under a flood of bad
        // fragments at most one such line per interval gets through.
        long long now = get_current_time_ms();
        bool recent = log_malformed_.logged && now - log_malformed_.last_ms < kDropLogIntervalMs;
        bool quiet = recent || !h.last_fragment;
        {
            QuietCodec q(quiet);
            c = reassembler_.feed(src, payload, plen);
        }
        if (!quiet && !c) {
            log_malformed_.logged = true;
            log_malformed_.last_ms = now;
        }
    }
    if (c) {
        seen_before(src, h.message_type, h.message_id, kWholeMessage);
        handle_cmdu(if_index, std::move(c));
    }
}

void MapAl::forward_relayed(size_t if_index, const uint8_t* frame, size_t len) {
    const auto& itfs = transport_->interfaces();
    for (size_t i = 0; i < itfs.size(); ++i) {
        if (i == if_index)
            continue;
        if (transport_->send(i, frame, len) == 0)
            ++stats_.relayed;
    }
}

void MapAl::handle_cmdu(size_t if_index, CmduPtr cmdu) {
    CMDU& c = *cmdu;
    std::snprintf(c.interface_name, sizeof c.interface_name, "%s",
                  transport_->interfaces()[if_index].name.c_str());
    // Messages naming their sender's AL MAC are known by it (a relayed one
    // may come from an interface address).
    if (c.message_type == CMDU_TYPE_TOPOLOGY_NOTIFICATION ||
        c.message_type == CMDU_TYPE_AP_AUTOCONFIGURATION_SEARCH ||
        c.message_type == CMDU_TYPE_AP_AUTOCONFIGURATION_RENEW) {
        if (const auto* al = find_last_tlv<al_mac_address_tlv>(c))
            c.src_al_mac = al->al_mac_address;
    }
    if (c.src_al_mac == options_.al_mac)
        return;  // our own message relayed back to us
    // An AL never heard before (its discovery lost, or sent before we listened) may not
    // have heard ours either: one now on that interface, at most one a second, so that a
    // neighbour among them names us in its answers without waiting for our next period.
    if (learn_route(c.src_al_mac, if_index) && !knows_neighbor(c.src_al_mac) &&
        (announced_ms_ < 0 || get_current_time_ms() - announced_ms_ >= 1000)) {
        announced_ms_ = get_current_time_ms();
        send_discovery_on(if_index);
    }
    if (requests_.on_received(c.src_al_mac, c.message_type, c.message_id, get_current_time_ms()) ==
        MapRequests::Verdict::duplicate) {
        ++stats_.rx_duplicates;  // the answer to a copy sent again, already delivered
        return;
    }
    ++stats_.rx_cmdus;
    if (c.message_type == CMDU_TYPE_TOPOLOGY_RESPONSE)
        refresh_neighbors(if_index, c);
    respond(if_index, c, false);
    dispatch(&c);
    if (running_ && options_.controller && controller_acknowledges(c.message_type))
        acknowledge(if_index, c);
}

void MapAl::respond(size_t if_index, const CMDU& c, bool repeat) {
    if (!running_)
        return;
    if (c.message_type == CMDU_TYPE_TOPOLOGY_QUERY) {
        CmduPtr r = build_topology_response(c.message_id);
        if (r)
            send(c.src_al_mac, *r, transport_->interfaces()[if_index].name.c_str(), false);
    } else if (c.message_type == CMDU_TYPE_LINK_METRIC_QUERY) {
        answer_link_metrics(if_index, c);
    } else if (c.message_type == CMDU_TYPE_AP_AUTOCONFIGURATION_SEARCH && options_.controller) {
        answer_search(if_index, c);
    } else if (repeat && options_.controller && controller_acknowledges(c.message_type)) {
        acknowledge(if_index, c);
    } else {
        return;
    }
    if (repeat)
        ++stats_.repeats_answered;
}

void MapAl::answer_repeat(size_t if_index, const MAC& src, const cmdu_header& h,
                          const uint8_t* payload, size_t len) {
    if (options_.controller && controller_acknowledges(h.message_type)) {
        // The Ack needs the header only (the report may have come in fragments).
        CMDU c{};
        c.message_type = h.message_type;
        c.message_id = h.message_id;
        c.src_al_mac = src;
        respond(if_index, c, true);
        return;
    }
    if (h.message_type != CMDU_TYPE_TOPOLOGY_QUERY &&
        h.message_type != CMDU_TYPE_LINK_METRIC_QUERY &&
        h.message_type != CMDU_TYPE_AP_AUTOCONFIGURATION_SEARCH)
        return;
    if (h.fragment_id != 0)
        return;  // a fragmented query: not answered again
    CmduPtr c;
    {
        QuietCodec quiet;
        c = decode_1905_CMDU(payload, len, &src);
    }
    if (!c)
        return;
    if (c->message_type == CMDU_TYPE_AP_AUTOCONFIGURATION_SEARCH) {
        if (const auto* al = find_last_tlv<al_mac_address_tlv>(*c))
            c->src_al_mac = al->al_mac_address;
    }
    if (c->src_al_mac == options_.al_mac)
        return;
    respond(if_index, *c, true);
}

void MapAl::refresh_neighbors(size_t if_index, const CMDU& response) {
    if (response.list_of_TLVs == nullptr)
        return;
    const long long now = get_current_time_ms();
    for (size_t i = 0; response.list_of_TLVs[i] != nullptr; ++i) {
        const auto* t = tlv_cast<neighbor_device_list_tlv>(response.list_of_TLVs[i]);
        if (t == nullptr)
            continue;
        bool names_us = std::any_of(t->neighbors.begin(), t->neighbors.end(), [&](const auto& n) {
            return n.al_mac_address == options_.al_mac;
        });
        if (!names_us)
            continue;
        for (MapNeighbor& n : neighbors_) {
            if (n.if_index == if_index && n.al_mac == response.src_al_mac &&
                n.if_mac == t->local_mac_address)
                n.last_seen_ms = now;
        }
    }
}

void MapAl::answer_search(size_t if_index, const CMDU& search) {
    const auto* role = find_tlv<searched_role_tlv>(search);
    const auto* band = find_tlv<autoconfig_freq_band_tlv>(search);
    const auto* wanted = find_tlv<searched_service_tlv>(search);
    if (role == nullptr || band == nullptr || role->role != IEEE1905_ROLE_REGISTRAR)
        return;
    if (wanted != nullptr && std::find(wanted->services.begin(), wanted->services.end(),
                                       MAP_SERVICE_CONTROLLER) == wanted->services.end())
        return;
    supported_service_tlv svc;
    svc.services.push_back(MAP_SERVICE_CONTROLLER);
    svc.num_services = 1;
    CmduPtr r = CmduBuilder(CMDU_TYPE_AP_AUTOCONFIGURATION_RESPONSE, search.message_id)
                    .add(supported_role_tlv{TLV_TYPE_SUPPORTED_ROLE, IEEE1905_ROLE_REGISTRAR})
                    .add(supported_freq_band_tlv{TLV_TYPE_SUPPORTED_FREQ_BAND, band->freq_band})
                    .add(svc)
                    .add(multiap_profile_tlv{TLV_TYPE_MULTIAP_PROFILE, options_.profile})
                    .build();
    if (r)
        send(search.src_al_mac, *r, transport_->interfaces()[if_index].name.c_str(), false);
}

CmduPtr MapAl::build_link_metric_response(uint16_t mid, const link_metric_query_tlv& query) const {
    CmduBuilder b(CMDU_TYPE_LINK_METRIC_RESPONSE, mid);
    b.source(options_.al_mac);
    const auto& itfs = transport_->interfaces();
    const TransportStats& st = transport_->stats();
    // Neighbour AL MACs in table order, once each.
    std::vector<MAC> als;
    for (const auto& n : neighbors_) {
        if (query.neighbor_type == LINK_METRIC_QUERY_SPECIFIC_NEIGHBOR &&
            !(n.al_mac == query.specific_neighbor))
            continue;
        if (std::find(als.begin(), als.end(), n.al_mac) == als.end())
            als.push_back(n.al_mac);
    }
    if (als.empty() && query.neighbor_type == LINK_METRIC_QUERY_SPECIFIC_NEIGHBOR) {
        b.add(link_metric_result_code_tlv{TLV_TYPE_LINK_METRIC_RESULT_CODE,
                                          LINK_METRIC_RESULT_INVALID_NEIGHBOR});
        return b.build();
    }
    bool tx = query.link_metrics_type != LINK_METRIC_RX_ONLY;
    bool rx = query.link_metrics_type != LINK_METRIC_TX_ONLY;
    auto clamp32 = [](uint64_t v) {
        return static_cast<uint32_t>(std::min<uint64_t>(v, 0xFFFFFFFFu));
    };
    for (const MAC& al : als) {
        transmitter_link_metric_tlv t;
        receiver_link_metric_tlv r;
        t.local_al_mac_address = r.local_al_mac_address = options_.al_mac;
        t.neighbor_al_mac_address = r.neighbor_al_mac_address = al;
        for (const auto& n : neighbors_) {
            if (!(n.al_mac == al) || n.if_index >= itfs.size())
                continue;
            transmitter_link_metric_tlv::link tl;
            tl.local_interface_mac = itfs[n.if_index].mac;
            tl.neighbor_interface_mac = n.if_mac;
            tl.interface_type = MEDIA_TYPE_IEEE_802_3AB_GIGABIT_ETHERNET;
            tl.packet_errors = clamp32(st.tx_errors);
            tl.transmitted_packets = clamp32(st.tx_frames);
            tl.mac_throughput_capacity = 1000;
            tl.link_availability = 100;
            tl.phy_rate = 1000;
            t.links.push_back(tl);
            receiver_link_metric_tlv::link rl;
            rl.local_interface_mac = itfs[n.if_index].mac;
            rl.neighbor_interface_mac = n.if_mac;
            rl.interface_type = MEDIA_TYPE_IEEE_802_3AB_GIGABIT_ETHERNET;
            rl.packet_errors = clamp32(st.rx_errors);
            rl.packets_received = clamp32(st.rx_frames);
            rl.rssi = 0xFF;  // not a radio link
            r.links.push_back(rl);
        }
        if (tx)
            b.add(std::move(t));
        if (rx)
            b.add(std::move(r));
    }
    return b.build();
}

void MapAl::answer_link_metrics(size_t if_index, const CMDU& query) {
    const auto* q = find_tlv<link_metric_query_tlv>(query);
    if (q == nullptr)
        return;
    CmduPtr r = build_link_metric_response(query.message_id, *q);
    if (r)
        send(query.src_al_mac, *r, transport_->interfaces()[if_index].name.c_str(), false);
}

void MapAl::acknowledge(size_t if_index, const CMDU& cmdu) {
    CmduPtr ack = CmduBuilder(CMDU_TYPE_1905_ACK, cmdu.message_id).build();
    if (ack)
        send(cmdu.src_al_mac, *ack, transport_->interfaces()[if_index].name.c_str(), false);
}

void MapAl::dispatch(CMDU* cmdu) {
    if (!deliver_ || delivering_)
        return;
    delivering_ = true;
    deliver_(cmdu);
    delivering_ = false;
}
