#include "sim.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "common/clock.h"
#include "hkt_agent.h"
#include "map/al/al.h"
#include "map/codec/tlv_types.h"
#include "map/codec/wsc.h"
#include "map/transport/raw_transport.h"
#include "map/transport/segment_transport.h"

namespace meshsim {

namespace {

constexpr uint8_t kErrStaNotAssociated = 0x02;
// Reasons a backhaul steering request is refused with.
constexpr uint8_t kErrChannel = 0x04;
constexpr uint8_t kErrTargetWeak = 0x05;
constexpr uint8_t kErrRejected = 0x06;
// Below this (dBm) a backhaul STA does not try to join a BSS.
constexpr int kMinBstaRssi = -82;
constexpr uint8_t kBtmAccept = 0;
constexpr uint8_t kBtmReject = 1;
// Messages an agent waits a 1905 Ack for at once (beyond: the oldest is given up).
constexpr size_t kMaxAwaitingAcks = 32;
// CMDUs an agent remembers to recognise their repetition, and for how long.
constexpr size_t kSeenEntries = 64;
constexpr long long kSeenWindowMs = 10000;
// What an agent that is not ours adds to every message: a TLV of a type no standard
// assigns, and a vendor TLV of an organisation that is not the maker.
constexpr uint8_t kUnknownTlvType = 0xfe;
constexpr uint8_t kForeignOui[3] = {0x0a, 0x5e, 0x11};

// The messages an agent acknowledges with a 1905 Ack (EasyMesh): requests that
// change something or whose answer comes later.
bool agent_acknowledges(uint16_t type) {
    switch (type) {
        case CMDU_TYPE_MULTI_AP_POLICY_CONFIG_REQUEST:
        case CMDU_TYPE_CLIENT_ASSOCIATION_CONTROL_REQUEST:
        case CMDU_TYPE_CLIENT_STEERING_REQUEST:
        case CMDU_TYPE_BACKHAUL_STEERING_REQUEST:
        case CMDU_TYPE_UNASSOCIATED_STA_LINK_METRICS_QUERY:
        case CMDU_TYPE_BEACON_METRICS_QUERY:
        case CMDU_TYPE_CHANNEL_SCAN_REQUEST:
        case CMDU_TYPE_COMBINED_INFRASTRUCTURE_METRICS:
        case CMDU_TYPE_HIGHER_LAYER_DATA:
        case CMDU_TYPE_CAC_REQUEST:
        case CMDU_TYPE_CAC_TERMINATION:
            return true;
        default:
            return false;
    }
}

// Queries whose answer changes nothing: asked again with the same message id (the
// controller lacks the answer), they are answered again.
bool answered_again(uint16_t type) {
    switch (type) {
        case CMDU_TYPE_TOPOLOGY_QUERY:
        case CMDU_TYPE_LINK_METRIC_QUERY:
        case CMDU_TYPE_AP_CAPABILITY_QUERY:
        case CMDU_TYPE_AP_METRICS_QUERY:
        case CMDU_TYPE_ASSOCIATED_STA_LINK_METRICS_QUERY:
        case CMDU_TYPE_CLIENT_CAPABILITY_QUERY:
        case CMDU_TYPE_CHANNEL_PREFERENCE_QUERY:
            return true;
        default:
            return false;
    }
}

// Requests a profile-1 agent does not know (they came with profile 2).
bool profile2_request(uint16_t type) {
    switch (type) {
        case CMDU_TYPE_CHANNEL_SCAN_REQUEST:
        case CMDU_TYPE_CAC_REQUEST:
        case CMDU_TYPE_CAC_TERMINATION:
        case CMDU_TYPE_BACKHAUL_STA_CAPABILITY_QUERY:
            return true;
        default:
            return false;
    }
}

template <class T>
const T* first_tlv(const CMDU& c) {
    if (!c.list_of_TLVs)
        return nullptr;
    for (size_t i = 0; c.list_of_TLVs[i] && i < 4096; ++i) {
        if (*c.list_of_TLVs[i] == tlv_record_type<T>::value)
            return tlv_cast<T>(c.list_of_TLVs[i]);
    }
    return nullptr;
}

template <class T, class F>
void each_tlv(const CMDU& c, F f) {
    if (!c.list_of_TLVs)
        return;
    for (size_t i = 0; c.list_of_TLVs[i] && i < 4096; ++i) {
        if (*c.list_of_TLVs[i] == tlv_record_type<T>::value)
            f(*tlv_cast<T>(c.list_of_TLVs[i]));
    }
}

// Centre channel of the 80 MHz block holding a 5 GHz channel.
uint8_t center_80(uint8_t ch) {
    static const uint8_t centers[] = {42, 58, 106, 122, 138, 155, 171};
    for (uint8_t c : centers) {
        if (ch >= c - 6 && ch <= c + 6)
            return c;
    }
    return ch;
}

void set_ssid(uint8_t* dst, uint8_t& len, const std::string& ssid) {
    len = static_cast<uint8_t>(std::min<size_t>(ssid.size(), MAX_SSID_LEN));
    std::memcpy(dst, ssid.data(), len);
}

}  // namespace

struct Sim::AgentState {
    Sim* sim = nullptr;
    size_t index = 0;
    std::unique_ptr<Transport> transport;
    CmduReassembler reassembler;
    uint16_t mid = 0;
    bool silent = false;
    bool backhaul_up = true;
    bool configured = false;
    int parent = -1;  // -1: the controller
    BackhaulConf backhaul;
    MAC controller;  // who answered the search (zero until then)
    uint64_t tx_packets = 0;
    // When each neighbour's Topology Discovery was last answered by ours (only
    // neighbours are kept, so this stays as small as the neighbour list).
    std::map<MAC, long long> discovery_answered;
    // Sent messages the controller has not acknowledged yet, as their frames.
    struct AwaitAck {
        uint16_t type = 0, mid = 0;
        MAC dst;
        std::vector<std::vector<uint8_t>> frames;
        long long due_ms = 0;
        unsigned sends = 1;
    };
    std::vector<AwaitAck> awaiting;
    // The CMDUs taken lately (a ring), to recognise their repetition.
    struct Seen {
        MAC src;
        uint16_t type = 0, mid = 0;
        long long at_ms = 0;
    };
    std::vector<Seen> seen;
    size_t seen_next = 0;
};

Sim::Sim(Scenario scenario, SimOptions options)
    : scenario_(std::move(scenario)), options_(std::move(options)) {
    reporting_.assign(scenario_.agents.size(), Reporting{});
    for (size_t i = 0; i < scenario_.agents.size(); ++i) {
        auto a = std::make_unique<AgentState>();
        a->sim = this;
        a->index = i;
        a->mid = static_cast<uint16_t>(0x1000 + i * 0x100);
        a->backhaul = scenario_.agents[i].backhaul;
        a->parent = scenario_.find_agent(a->backhaul.parent);
        agents_.push_back(std::move(a));
        const auto& radios = scenario_.agents[i].radios;
        for (size_t r = 0; r < radios.size(); ++r) {
            for (size_t b = 0; b < radios[r].bsss.size(); ++b) {
                bss_index_[radios[r].bsss[b].bssid] = BssRef{i, r, b};
            }
        }
    }
    auto ways = [](const FaultSpec& f) {
        WayFaults w;
        w.way[0] = f.resolve(FaultWay::to_agents);
        w.way[1] = f.resolve(FaultWay::from_agents);
        return w;
    };
    bool any = !scenario_.faults.empty();
    mesh_faults_ = ways(scenario_.faults);
    for (const AgentConf& a : scenario_.agents) {
        agent_faults_.push_back(ways(a.faults));
        link_faults_.push_back(ways(a.backhaul.faults));
        any = any || !a.faults.empty() || !a.backhaul.faults.empty();
    }
    if (any) {
        gate_ = std::make_unique<FaultGate>(
            scenario_.seed,
            [this](size_t e, FaultWay w, const uint8_t* f, size_t n) { deliver(e, w, f, n); });
    }
    for (const auto& c : scenario_.clients) {
        ClientState s;
        s.bssid = c.bssid;
        s.rssi = c.rssi;
        if (!s.bssid.is_zero() && !s.rssi.count(s.bssid))
            s.rssi[s.bssid] = -55;
        clients_.push_back(std::move(s));
    }
    init_wsc();
}

Sim::~Sim() {
    stop();
}

int Sim::agent_parent(size_t i) const {
    return agents_[i]->parent;
}
const BackhaulConf& Sim::agent_backhaul(size_t i) const {
    return agents_[i]->backhaul;
}
bool Sim::configured(size_t i) const {
    return agents_[i]->configured;
}
HktAgent* Sim::hkt_agent(size_t i) const {
    return i < hkt_.size() ? hkt_[i].get() : nullptr;
}

void Sim::log(const std::string& text) {
    if (log_) {
        log_(text);
    } else {
        std::fprintf(stderr, "meshsim: %s\n", text.c_str());
    }
}

int Sim::start(uv_loop_t* loop, std::string* error) {
    loop_ = loop;
    start_ms_ = get_current_time_ms();
    for (size_t i = 0; i < agents_.size(); ++i) {
        AgentState& a = *agents_[i];
        const AgentConf& conf = scenario_.agents[i];
        TransportInterface itf;
        itf.name = options_.interface.empty() ? "sim" + std::to_string(i) : options_.interface;
        itf.mac = a.backhaul.kind == BackhaulKind::wifi
                      ? a.backhaul.bsta
                      : (conf.ethernet.empty() ? conf.al_mac : conf.ethernet[0].mac);
        for (const auto& e : conf.ethernet) {
            if (e.name == a.backhaul.interface && a.backhaul.kind == BackhaulKind::ethernet)
                itf.mac = e.mac;
        }
        itf.segment = options_.segment;
        TransportOptions topt;
        topt.al_mac = conf.al_mac;
        topt.rx_max_frames_per_s = 5000;
        std::vector<TransportInterface> list{itf};
        if (options_.interface.empty()) {
            a.transport = std::make_unique<SegmentTransport>(list, topt);
        } else {
            a.transport = std::make_unique<RawTransport>(list, topt);
        }
        std::string err;
        if (a.transport->open(
                loop, [this, i](size_t, const uint8_t* f, size_t n) { inbound(2 * i, f, n); },
                &err) != 0) {
            if (error)
                *error = "agent " + conf.name + ": " + err;
            stop();
            return -1;
        }
    }
    hkt_.resize(agents_.size());
    for (size_t i = 0; i < agents_.size(); ++i) {
        if (!scenario_.agents[i].hkt.enabled)
            continue;
        hkt_[i] = std::make_unique<HktAgent>(*this, i);
        if (hkt_[i]->open(loop, options_, error) != 0) {
            stop();
            return -1;
        }
    }
    started_ = true;
    auto make_timer = [&](uv_timer_cb cb, uint64_t first, uint64_t repeat) {
        auto* t = new uv_timer_t;
        uv_timer_init(loop_, t);
        t->data = this;
        uv_timer_start(t, cb, first, repeat);
        return t;
    };
    discovery_timer_ = make_timer(on_discovery_timer, 10, scenario_.discovery_interval_s * 1000ull);
    search_timer_ = make_timer(on_search_timer, 20, options_.autoconfig_retry_ms);
    later_timer_ = make_timer(on_later_timer, 250, 250);
    metrics_timer_ = make_timer(on_metrics_timer, 1000, 1000);
    if (gate_) {
        fault_timer_ = make_timer(on_fault_timer, 1000, 0);
        uv_timer_stop(fault_timer_);
        size_t own = 0;
        for (size_t i = 0; i < agents_.size(); ++i)
            own +=
                !scenario_.agents[i].faults.empty() || !scenario_.agents[i].backhaul.faults.empty();
        log("faults (seed " + std::to_string(scenario_.seed) + "): to agents " +
            describe(mesh_faults_.way[0]) + "; from agents " + describe(mesh_faults_.way[1]) +
            (own ? "; " + std::to_string(own) + " agent(s) with faults of their own or their link"
                 : ""));
    }
    timeline_timer_ = new uv_timer_t;
    uv_timer_init(loop_, timeline_timer_);
    timeline_timer_->data = this;
    arm_timeline();
    log("started " + std::to_string(agents_.size()) + " agents and " +
        std::to_string(clients_.size()) + " clients on " +
        (options_.interface.empty() ? "segment " + options_.segment
                                    : "interface " + options_.interface));
    return 0;
}

void Sim::stop() {
    for (auto& a : agents_) {
        if (a->transport)
            a->transport->close();
    }
    for (auto& h : hkt_) {
        if (h)
            h->close();
    }
    if (gate_)
        gate_->clear();
    for (uv_timer_t** t : {&discovery_timer_, &search_timer_, &timeline_timer_, &later_timer_,
                           &metrics_timer_, &fault_timer_}) {
        if (*t) {
            uv_timer_stop(*t);
            uv_close(reinterpret_cast<uv_handle_t*>(*t),
                     [](uv_handle_t* h) { delete reinterpret_cast<uv_timer_t*>(h); });
            *t = nullptr;
        }
    }
    started_ = false;
}

// ---- timers -------------------------------------------------------------------

void Sim::on_discovery_timer(uv_timer_t* t) {
    Sim* s = static_cast<Sim*>(t->data);
    for (size_t i = 0; i < s->agents_.size(); ++i)
        s->send_discovery(i);
}

void Sim::on_search_timer(uv_timer_t* t) {
    Sim* s = static_cast<Sim*>(t->data);
    bool pending = false;
    for (size_t i = 0; i < s->agents_.size(); ++i) {
        if (!s->agents_[i]->configured) {
            pending = true;
            s->send_search(i);
        }
    }
    if (!pending)
        uv_timer_stop(t);
}

void Sim::on_timeline_timer(uv_timer_t* t) {
    Sim* s = static_cast<Sim*>(t->data);
    s->run_timeline_until(get_current_time_ms() - s->start_ms_);
    s->arm_timeline();
}

void Sim::arm_timeline() {
    if (!options_.run_timeline || !timeline_timer_ || next_event_ >= scenario_.timeline.size())
        return;
    long long due = scenario_.timeline[next_event_].at_ms - (get_current_time_ms() - start_ms_);
    uv_timer_start(timeline_timer_, on_timeline_timer, static_cast<uint64_t>(std::max(0LL, due)),
                   0);
}

void Sim::run_timeline_until(long long at_ms) {
    while (next_event_ < scenario_.timeline.size() &&
           scenario_.timeline[next_event_].at_ms <= at_ms) {
        apply(scenario_.timeline[next_event_++]);
    }
}

// ---- state ------------------------------------------------------------------------

bool Sim::link_up(size_t i) const {
    return !agents_[i]->silent && agents_[i]->backhaul_up;
}

bool Sim::reachable(size_t i) const {
    for (size_t steps = 0; steps <= agents_.size(); ++steps) {
        if (!link_up(i))
            return false;
        if (agents_[i]->parent < 0)
            return true;
        i = static_cast<size_t>(agents_[i]->parent);
    }
    return false;
}

const Sim::BssRef* Sim::find_bss(const BSSID& bssid) const {
    auto it = bss_index_.find(bssid);
    return it == bss_index_.end() ? nullptr : &it->second;
}

int Sim::find_client(const MAC& mac) const {
    for (size_t i = 0; i < scenario_.clients.size(); ++i) {
        if (scenario_.clients[i].mac == mac)
            return static_cast<int>(i);
    }
    return -1;
}

int Sim::find_bsta(const MAC& mac) const {
    for (size_t i = 0; i < agents_.size(); ++i) {
        if (agents_[i]->backhaul.kind == BackhaulKind::wifi && agents_[i]->backhaul.bsta == mac) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

uint16_t Sim::bss_media(const BssRef& ref) const {
    const RadioConf& r = scenario_.agents[ref.agent].radios[ref.radio];
    if (r.he || r.band == Band::b6)
        return MEDIA_TYPE_IEEE_802_11AX;
    if (r.band == Band::b5)
        return r.vht ? MEDIA_TYPE_IEEE_802_11AC_5_GHZ : MEDIA_TYPE_IEEE_802_11N_5_GHZ;
    return MEDIA_TYPE_IEEE_802_11N_2_4_GHZ;
}

uint8_t Sim::rcpi(int rssi) const {
    int v = (rssi + 110) * 2;
    return static_cast<uint8_t>(std::max(0, std::min(220, v)));
}

uint32_t Sim::rate_mbps(int rssi, Band band, uint8_t streams) const {
    const uint32_t per_stream = band == Band::b24 ? 72 : (band == Band::b5 ? 433 : 600);
    int q = std::max(2, std::min(40, rssi + 90));  // 2..40
    return std::max<uint32_t>(1, per_stream * streams * static_cast<uint32_t>(q) / 40);
}

std::vector<Sim::Neighbor> Sim::neighbors(size_t i) const {
    std::vector<Neighbor> out;
    const AgentConf& conf = scenario_.agents[i];
    const AgentState& a = *agents_[i];
    auto port_mac = [](const AgentConf& c, const std::string& name) {
        for (const auto& e : c.ethernet) {
            if (e.name == name)
                return e.mac;
        }
        return MAC();
    };
    if (link_up(i)) {
        Neighbor n;
        if (a.backhaul.kind == BackhaulKind::ethernet) {
            n.local_if = port_mac(conf, a.backhaul.interface);
            n.media = MEDIA_TYPE_IEEE_802_3AB_GIGABIT_ETHERNET;
            if (a.parent < 0) {
                n.al = scenario_.controller_al_mac;
                n.remote_if = scenario_.controller_interface;
            } else {
                n.al = scenario_.agents[a.parent].al_mac;
                n.remote_if = port_mac(scenario_.agents[a.parent], a.backhaul.parent_interface);
            }
        } else if (const BssRef* ref = find_bss(a.backhaul.bssid)) {
            n.local_if = a.backhaul.bsta;
            n.al = scenario_.agents[ref->agent].al_mac;
            n.remote_if = a.backhaul.bssid;
            n.media = bss_media(*ref);
            n.wireless = true;
            auto it = conf.bsta_rssi.find(a.backhaul.bssid);
            n.rssi = it == conf.bsta_rssi.end() ? -60 : it->second;
        }
        if (!n.al.is_zero())
            out.push_back(n);
    }
    for (size_t j = 0; j < agents_.size(); ++j) {
        const AgentState& c = *agents_[j];
        if (c.parent != static_cast<int>(i) || !link_up(j) || !link_up(i))
            continue;
        Neighbor n;
        n.al = scenario_.agents[j].al_mac;
        if (c.backhaul.kind == BackhaulKind::ethernet) {
            n.local_if = port_mac(conf, c.backhaul.parent_interface);
            n.remote_if = port_mac(scenario_.agents[j], c.backhaul.interface);
            n.media = MEDIA_TYPE_IEEE_802_3AB_GIGABIT_ETHERNET;
        } else {
            const BssRef* ref = find_bss(c.backhaul.bssid);
            if (!ref)
                continue;
            n.local_if = c.backhaul.bssid;
            n.remote_if = c.backhaul.bsta;
            n.media = bss_media(*ref);
            n.wireless = true;
            auto it = scenario_.agents[j].bsta_rssi.find(c.backhaul.bssid);
            n.rssi = it == scenario_.agents[j].bsta_rssi.end() ? -60 : it->second;
        }
        out.push_back(n);
    }
    return out;
}

std::vector<Sim::Station> Sim::stations(size_t i) const {
    std::vector<Station> out;
    for (size_t c = 0; c < clients_.size(); ++c) {
        const BssRef* ref = clients_[c].bssid.is_zero() ? nullptr : find_bss(clients_[c].bssid);
        if (!ref || ref->agent != i)
            continue;
        Station s;
        s.mac = scenario_.clients[c].mac;
        s.bssid = clients_[c].bssid;
        auto it = clients_[c].rssi.find(s.bssid);
        s.rssi = it == clients_[c].rssi.end() ? -60 : it->second;
        s.assoc_ms = clients_[c].assoc_ms;
        s.streams = scenario_.clients[c].streams;
        out.push_back(s);
    }
    for (size_t j = 0; j < agents_.size(); ++j) {
        const AgentState& c = *agents_[j];
        if (c.parent != static_cast<int>(i) || c.backhaul.kind != BackhaulKind::wifi || !link_up(j))
            continue;
        Station s;
        s.mac = c.backhaul.bsta;
        s.bssid = c.backhaul.bssid;
        auto it = scenario_.agents[j].bsta_rssi.find(s.bssid);
        s.rssi = it == scenario_.agents[j].bsta_rssi.end() ? -60 : it->second;
        s.streams = 2;
        out.push_back(s);
    }
    return out;
}

// ---- sending -------------------------------------------------------------------------

uint16_t Sim::next_mid(size_t i) {
    return ++agents_[i]->mid;
}

void Sim::dress(size_t i, CMDU& c) const {
    const AgentConf& conf = scenario_.agents[i];
    if (conf.extra_tlvs) {
        const std::string note = "meshsim " + conf.name;
        append_1905_TLV(&c, alloc_1905_TLV(unknown_tlv{kUnknownTlvType, {0x01, 0x02, 0x03}}));
        vendor_specific_tlv v;
        std::memcpy(v.vendor_oui, kForeignOui, sizeof v.vendor_oui);
        v.payload.assign(note.begin(), note.end());
        append_1905_TLV(&c, alloc_1905_TLV(std::move(v)));
    }
    if (conf.reversed_tlvs && c.list_of_TLVs)
        std::reverse(c.list_of_TLVs, c.list_of_TLVs + count_1905_TLVs(&c));
}

bool Sim::send(size_t i, const MAC& dst, CmduPtr cmdu, bool relay) {
    AgentState& a = *agents_[i];
    if (!cmdu || !a.transport || !a.transport->is_open() || !reachable(i))
        return false;
    cmdu->relay_indicator = relay ? 1 : 0;
    dress(i, *cmdu);
    std::vector<std::vector<uint8_t>> fragments;
    if (!encode_1905_CMDU(*cmdu, fragments)) {
        log("agent " + scenario_.agents[i].name + ": cannot encode " +
            convert_1905_CMDU_type_to_string(cmdu->message_type));
        return false;
    }
    // Topology Discovery leaves from the interface; everything else from the AL MAC.
    const MAC src = cmdu->message_type == CMDU_TYPE_TOPOLOGY_DISCOVERY ? cmdu->src_al_mac
                                                                       : scenario_.agents[i].al_mac;
    std::vector<std::vector<uint8_t>> frames(fragments.size());
    for (size_t k = 0; k < fragments.size(); ++k) {
        build_1905_ethernet_frame(dst, src, fragments[k], frames[k]);
        transmit(2 * i, frames[k]);
    }
    ++stats_.cmdus_sent;
    if (controller_acknowledges(cmdu->message_type) && !dst.is_multicast()) {
        if (a.awaiting.size() >= kMaxAwaitingAcks) {
            a.awaiting.erase(a.awaiting.begin());
            ++stats_.acks_missed;
        }
        a.awaiting.push_back({cmdu->message_type, cmdu->message_id, dst, std::move(frames),
                              get_current_time_ms() + options_.ack_wait_ms, 1});
    }
    if (options_.verbose) {
        log(scenario_.agents[i].name + " -> " + dst.to_string() + " " +
            convert_1905_CMDU_type_to_string(cmdu->message_type) + " mid " +
            std::to_string(cmdu->message_id));
    }
    return true;
}

bool Sim::send_ack(size_t i, const MAC& dst, uint16_t mid) {
    return send(i, dst, CmduBuilder(CMDU_TYPE_1905_ACK, mid).build());
}

void Sim::send_discovery(size_t i) {
    if (!reachable(i))
        return;
    const AgentConf& conf = scenario_.agents[i];
    for (const Neighbor& n : neighbors(i)) {
        CmduBuilder b(CMDU_TYPE_TOPOLOGY_DISCOVERY, next_mid(i));
        b.add(al_mac_address_tlv{TLV_TYPE_AL_MAC_ADDRESS_TYPE, conf.al_mac});
        b.add(mac_address_tlv{TLV_TYPE_MAC_ADDRESS_TYPE, n.local_if});
        CmduPtr c = b.build();
        if (!c)
            continue;
        c->src_al_mac = n.local_if;  // the frame's source: the sending interface
        // The controller's neighbour hears the 1905 multicast; the links between
        // agents are addressed to the neighbour's interface so that the
        // controller, which shares the segment, does not take them for its own.
        const bool to_controller = n.al == scenario_.controller_al_mac;
        send(i, to_controller ? IEEE1905_MULTICAST_ADDRESS : n.remote_if, std::move(c));
    }
}

void Sim::send_search(size_t i) {
    const AgentConf& conf = scenario_.agents[i];
    std::vector<uint8_t> bands;
    for (const auto& r : conf.radios) {
        uint8_t b = r.band == Band::b24 ? IEEE1905_FREQ_BAND_2_4_GHZ : IEEE1905_FREQ_BAND_5_GHZ;
        if (std::find(bands.begin(), bands.end(), b) == bands.end())
            bands.push_back(b);
    }
    if (bands.empty())
        bands.push_back(IEEE1905_FREQ_BAND_2_4_GHZ);
    CmduBuilder b(CMDU_TYPE_AP_AUTOCONFIGURATION_SEARCH, next_mid(i));
    b.add(al_mac_address_tlv{TLV_TYPE_AL_MAC_ADDRESS_TYPE, conf.al_mac});
    b.add(searched_role_tlv{});
    b.add(autoconfig_freq_band_tlv{TLV_TYPE_AUTOCONFIG_FREQ_BAND, bands[0]});
    b.add(supported_service_tlv{TLV_TYPE_SUPPORTED_SERVICE, 1, {MAP_SERVICE_AGENT}});
    b.add(searched_service_tlv{TLV_TYPE_SEARCHED_SERVICE, 1, {MAP_SERVICE_CONTROLLER}});
    if (conf.profile >= 2)  // the profile TLV came with profile 2
        b.add(multiap_profile_tlv{TLV_TYPE_MULTIAP_PROFILE, static_cast<uint8_t>(conf.profile)});
    send(i, IEEE1905_MULTICAST_ADDRESS, b.build(), true);
}

void Sim::notify_association(size_t i, const MAC& sta, const BSSID& bssid, bool joined) {
    CmduBuilder b(CMDU_TYPE_TOPOLOGY_NOTIFICATION, next_mid(i));
    b.add(al_mac_address_tlv{TLV_TYPE_AL_MAC_ADDRESS_TYPE, scenario_.agents[i].al_mac});
    if (!sta.is_zero()) {
        client_association_event_tlv e;
        e.client_mac = sta;
        e.bssid = bssid;
        e.association_event = joined ? 1 : 0;
        b.add(e);
    }
    send(i, IEEE1905_MULTICAST_ADDRESS, b.build(), true);
}

// ---- faults, retransmissions ---------------------------------------------------------

FaultDir Sim::way_faults(size_t i, FaultWay way) const {
    const int w = static_cast<int>(way);
    FaultDir f = mesh_faults_.way[w];
    f.then(agent_faults_[i].way[w]);
    // Then every backhaul link up to the controller.
    for (int j = static_cast<int>(i), steps = 0;
         j >= 0 && steps <= static_cast<int>(agents_.size()); j = agents_[j]->parent, ++steps)
        f.then(link_faults_[j].way[w]);
    return f;
}

void Sim::inbound(size_t e, const uint8_t* frame, size_t len) {
    if (!gate_) {
        deliver(e, FaultWay::to_agents, frame, len);
        return;
    }
    gate_->pass(e, FaultWay::to_agents, way_faults(e / 2, FaultWay::to_agents), frame, len,
                get_current_time_ms());
    arm_faults();
}

void Sim::transmit(size_t e, const std::vector<uint8_t>& frame) {
    if (!gate_) {
        deliver(e, FaultWay::from_agents, frame.data(), frame.size());
        return;
    }
    gate_->pass(e, FaultWay::from_agents, way_faults(e / 2, FaultWay::from_agents), frame.data(),
                frame.size(), get_current_time_ms());
    arm_faults();
}

void Sim::deliver(size_t e, FaultWay way, const uint8_t* frame, size_t len) {
    const size_t i = e / 2;
    if (i >= agents_.size())
        return;
    if (e % 2) {
        if (HktAgent* h = hkt_agent(i))
            h->deliver(way, frame, len);
        return;
    }
    if (way == FaultWay::to_agents) {
        on_frame(i, frame, len);
    } else if (agents_[i]->transport && agents_[i]->transport->is_open()) {
        agents_[i]->transport->send(0, frame, len);
        ++agents_[i]->tx_packets;
    }
}

void Sim::arm_faults() {
    if (!gate_ || !fault_timer_)
        return;
    const long long due = gate_->next_due();
    if (due < 0) {
        uv_timer_stop(fault_timer_);
        return;
    }
    const long long wait = std::max(0LL, due - get_current_time_ms());
    uv_timer_start(fault_timer_, on_fault_timer, static_cast<uint64_t>(wait), 0);
}

void Sim::on_fault_timer(uv_timer_t* t) {
    Sim* s = static_cast<Sim*>(t->data);
    s->gate_->release(get_current_time_ms());
    s->arm_faults();
}

size_t Sim::awaiting_acks(size_t i) const {
    return agents_[i]->awaiting.size();
}

void Sim::on_ack(size_t i, const MAC& from, uint16_t mid) {
    auto& list = agents_[i]->awaiting;
    list.erase(std::remove_if(
                   list.begin(), list.end(),
                   [&](const AgentState::AwaitAck& w) { return w.mid == mid && w.dst == from; }),
               list.end());
}

// A message the controller acknowledges goes again, with its message id, while its Ack
// does not come (at most ack_retries times); M1s go again while their M2s do not come.
void Sim::run_retransmissions() {
    const long long now = get_current_time_ms();
    for (size_t i = 0; i < agents_.size(); ++i) {
        AgentState& a = *agents_[i];
        const std::string& name = scenario_.agents[i].name;
        for (auto it = a.awaiting.begin(); it != a.awaiting.end();) {
            if (it->due_ms > now) {
                ++it;
                continue;
            }
            const std::string what =
                message_type_name(it->type) + " mid " + std::to_string(it->mid);
            if (it->sends > options_.ack_retries || !reachable(i)) {
                if (reachable(i)) {
                    log(name + ": no 1905 Ack for " + what + " after " + std::to_string(it->sends) +
                        " sends; given up");
                    ++stats_.acks_missed;
                }
                it = a.awaiting.erase(it);
                continue;
            }
            if (options_.verbose)
                log(name + " -> " + it->dst.to_string() + " " + what + " again (no 1905 Ack)");
            for (const auto& f : it->frames)
                transmit(2 * i, f);
            ++it->sends;
            ++stats_.retransmissions;
            it->due_ms = now + options_.ack_wait_ms;
            ++it;
        }
        size_t due = 0;
        for (const RadioWsc& r : wsc_[i])
            due += r.awaiting_m2 && r.m2_due_ms <= now;
        if (due == 0 || !reachable(i) || a.controller.is_zero())
            continue;
        log(name + ": no M2 for " + std::to_string(due) + " radio(s) in time; sending M1 again");
        send_wsc_m1(i, a.controller, false);
    }
}

bool Sim::repeated(size_t i, const MAC& from, const CMDU& c) {
    AgentState& a = *agents_[i];
    const long long now = get_current_time_ms();
    for (const auto& s : a.seen) {
        if (s.at_ms != 0 && s.mid == c.message_id && s.type == c.message_type && s.src == from &&
            now - s.at_ms <= kSeenWindowMs)
            return true;
    }
    if (a.seen.size() < kSeenEntries) {
        a.seen.push_back({from, c.message_type, c.message_id, now == 0 ? 1 : now});
    } else {
        a.seen[a.seen_next] = {from, c.message_type, c.message_id, now == 0 ? 1 : now};
        a.seen_next = (a.seen_next + 1) % kSeenEntries;
    }
    return false;
}

// ---- receiving -----------------------------------------------------------------------

void Sim::on_frame(size_t i, const uint8_t* frame, size_t len) {
    AgentState& a = *agents_[i];
    if (!reachable(i)) {
        ++stats_.frames_dropped;
        return;
    }
    MAC src;
    const uint8_t* payload = nullptr;
    size_t plen = 0;
    if (!parse_1905_ethernet_frame(frame, len, src, payload, plen)) {
        ++stats_.frames_dropped;
        return;
    }
    CmduPtr cmdu = a.reassembler.feed(src, payload, plen);
    a.reassembler.expire();
    if (!cmdu)
        return;
    ++stats_.cmdus_received;
    handle(i, src, *cmdu);
}

void Sim::handle(size_t i, const MAC& from, const CMDU& c) {
    AgentState& a = *agents_[i];
    const uint16_t mid = c.message_id;
    if (options_.verbose && c.message_type != CMDU_TYPE_TOPOLOGY_DISCOVERY &&
        c.message_type != CMDU_TYPE_TOPOLOGY_NOTIFICATION &&
        c.message_type != CMDU_TYPE_AP_AUTOCONFIGURATION_SEARCH) {
        log(scenario_.agents[i].name + " <- " + from.to_string() + " " +
            convert_1905_CMDU_type_to_string(c.message_type) + " mid " + std::to_string(mid));
    }
    const AgentConf& conf = scenario_.agents[i];
    if (c.message_type == CMDU_TYPE_1905_ACK) {
        on_ack(i, from, mid);
        return;
    }
    // The other agents' multicast chatter is not remembered: it would crowd the requests out.
    const bool chatter = c.message_type == CMDU_TYPE_TOPOLOGY_DISCOVERY ||
                         c.message_type == CMDU_TYPE_TOPOLOGY_NOTIFICATION ||
                         c.message_type == CMDU_TYPE_AP_AUTOCONFIGURATION_SEARCH;
    if (!chatter && repeated(i, from, c)) {
        // A retransmission (or a duplicated frame): acknowledged again, acted on once.
        ++stats_.duplicates;
        if (agent_acknowledges(c.message_type))
            send_ack(i, from, mid);
        if (!answered_again(c.message_type)) {
            if (options_.verbose)
                log(conf.name + ": " + message_type_name(c.message_type) + " mid " +
                    std::to_string(mid) + " again: not acted on twice");
            return;
        }
    }
    if (std::find(conf.never_answers.begin(), conf.never_answers.end(), c.message_type) !=
        conf.never_answers.end()) {
        if (options_.verbose)
            log(conf.name + ": never answers " + message_type_name(c.message_type));
        return;
    }
    if (conf.profile == 1 && profile2_request(c.message_type)) {
        log(conf.name + ": profile-1 agent ignores " + message_type_name(c.message_type));
        return;
    }
    switch (c.message_type) {
        case CMDU_TYPE_TOPOLOGY_QUERY:
            send(i, from, topology_response(i, mid));
            break;
        case CMDU_TYPE_LINK_METRIC_QUERY:
            send(i, from, link_metric_response(i, mid, c));
            break;
        case CMDU_TYPE_AP_AUTOCONFIGURATION_RESPONSE:
            if (!a.configured) {
                a.configured = true;
                a.controller = from;
                log(scenario_.agents[i].name + ": controller " + from.to_string() +
                    " answered the search; sending WSC M1");
                send_wsc_m1(i, from);
                notify_association(i, MAC(), BSSID(), true);
            }
            break;
        case CMDU_TYPE_AP_AUTOCONFIGURATION_RENEW:
            send_wsc_m1(i, from);
            break;
        case CMDU_TYPE_AP_AUTOCONFIGURATION_WSC:
            on_wsc(i, from, c);
            break;
        case CMDU_TYPE_AP_CAPABILITY_QUERY:
            send(i, from, ap_capability_report(i, mid));
            // With its capabilities the controller also hears the channels the radios
            // operate on (as after a channel selection): measurements are asked per channel.
            send(i, from, operating_channel_report(i, next_mid(i)));
            break;
        case CMDU_TYPE_MULTI_AP_POLICY_CONFIG_REQUEST:
            on_policy_config(i, from, c);
            break;
        case CMDU_TYPE_CLIENT_ASSOCIATION_CONTROL_REQUEST:
            on_association_control(i, from, c);
            break;
        case CMDU_TYPE_COMBINED_INFRASTRUCTURE_METRICS:
        case CMDU_TYPE_HIGHER_LAYER_DATA:
        case CMDU_TYPE_CAC_REQUEST:
        case CMDU_TYPE_CAC_TERMINATION:
            send_ack(i, from, mid);
            break;
        case CMDU_TYPE_CHANNEL_PREFERENCE_QUERY:
            send(i, from, channel_preference_report(i, mid));
            break;
        case CMDU_TYPE_CHANNEL_SELECTION_REQUEST:
            on_channel_selection(i, from, c);
            break;
        case CMDU_TYPE_CLIENT_CAPABILITY_QUERY:
            send(i, from, client_capability_report(i, mid, c));
            break;
        case CMDU_TYPE_AP_METRICS_QUERY:
            send(i, from, ap_metrics_response(i, mid, c));
            break;
        case CMDU_TYPE_ASSOCIATED_STA_LINK_METRICS_QUERY:
            send(i, from, assoc_sta_metrics_response(i, mid, c));
            break;
        case CMDU_TYPE_UNASSOCIATED_STA_LINK_METRICS_QUERY:
            send_ack(i, from, mid);
            send(i, from, unassoc_sta_metrics_response(i, next_mid(i), c));
            break;
        case CMDU_TYPE_BEACON_METRICS_QUERY:
            send_ack(i, from, mid);
            send(i, from, beacon_metrics_response(i, next_mid(i), c));
            break;
        case CMDU_TYPE_CHANNEL_SCAN_REQUEST:
            send_ack(i, from, mid);
            send(i, from, channel_scan_report(i, next_mid(i), c));
            break;
        case CMDU_TYPE_CLIENT_STEERING_REQUEST:
            on_client_steering(i, from, c);
            break;
        case CMDU_TYPE_BACKHAUL_STEERING_REQUEST:
            on_backhaul_steering(i, from, c);
            break;
        case CMDU_TYPE_TOPOLOGY_DISCOVERY:
            on_discovery(i, c);
            break;
        default:
            break;  // notifications, searches of others, vendor messages
    }
}

// A neighbour that has just come up (or restarted) announces itself: tell it
// about us at once instead of at our next period, as a bridge port coming up
// would. At most once per half period per neighbour.
void Sim::on_discovery(size_t i, const CMDU& c) {
    const al_mac_address_tlv* al = first_tlv<al_mac_address_tlv>(c);
    if (!al)
        return;
    bool neighbour = false;
    for (const Neighbor& n : neighbors(i))
        neighbour = neighbour || n.al == al->al_mac_address;
    if (!neighbour)
        return;
    const long long now = get_current_time_ms();
    auto& last = agents_[i]->discovery_answered[al->al_mac_address];
    if (last != 0 && now - last < scenario_.discovery_interval_s * 500LL)
        return;
    last = now;
    send_discovery(i);
}

// ---- builders ------------------------------------------------------------------------

CmduPtr Sim::topology_response(size_t i, uint16_t mid) {
    const AgentConf& conf = scenario_.agents[i];
    const AgentState& a = *agents_[i];
    CmduBuilder b(CMDU_TYPE_TOPOLOGY_RESPONSE, mid);
    auto& dev = b.add<device_information_tlv>();
    dev.al_mac_address = conf.al_mac;
    device_bridging_capability_tlv bridge;
    device_bridging_capability_tlv::bridging_tuple tuple;
    for (const auto& e : conf.ethernet) {
        device_information_tlv::local_interface li;
        li.mac_address = e.mac;
        li.media_type = MEDIA_TYPE_IEEE_802_3AB_GIGABIT_ETHERNET;
        dev.local_interfaces.push_back(li);
        tuple.macs.push_back(e.mac);
    }
    for (size_t r = 0; r < conf.radios.size(); ++r) {
        const RadioConf& radio = conf.radios[r];
        for (size_t k = 0; k < radio.bsss.size(); ++k) {
            device_information_tlv::local_interface li;
            li.mac_address = radio.bsss[k].bssid;
            li.media_type = bss_media(BssRef{i, r, k});
            li.media_specific_info_length = IEEE80211_MEDIA_INFO_LEN;
            li.ieee80211.network_membership = radio.bsss[k].bssid;
            li.ieee80211.role = IEEE80211_ROLE_AP;
            li.ieee80211.ap_channel_band = radio.band == Band::b24 ? 0 : 2;
            li.ieee80211.ap_channel_center_freq_index_1 =
                radio.band == Band::b24 ? radio.channel : center_80(radio.channel);
            dev.local_interfaces.push_back(li);
            tuple.macs.push_back(radio.bsss[k].bssid);
        }
    }
    if (a.backhaul.kind == BackhaulKind::wifi) {
        device_information_tlv::local_interface li;
        li.mac_address = a.backhaul.bsta;
        const BssRef* ref = find_bss(a.backhaul.bssid);
        li.media_type = ref ? bss_media(*ref) : MEDIA_TYPE_IEEE_802_11N_2_4_GHZ;
        li.media_specific_info_length = IEEE80211_MEDIA_INFO_LEN;
        li.ieee80211.network_membership = link_up(i) ? a.backhaul.bssid : BSSID();
        li.ieee80211.role = IEEE80211_ROLE_NON_AP_STA;
        if (ref) {
            const RadioConf& pr = scenario_.agents[ref->agent].radios[ref->radio];
            li.ieee80211.ap_channel_band = pr.band == Band::b24 ? 0 : 2;
            li.ieee80211.ap_channel_center_freq_index_1 =
                pr.band == Band::b24 ? pr.channel : center_80(pr.channel);
        }
        dev.local_interfaces.push_back(li);
        tuple.macs.push_back(a.backhaul.bsta);
    }
    if (!tuple.macs.empty())
        bridge.bridging_tuples.push_back(tuple);
    b.add(bridge);
    std::map<MAC, neighbor_device_list_tlv> per_if;
    for (const Neighbor& n : neighbors(i)) {
        auto& t = per_if[n.local_if];
        t.local_mac_address = n.local_if;
        t.neighbors.push_back({n.al, 0});
    }
    for (auto& kv : per_if)
        b.add(kv.second);
    b.add(supported_service_tlv{TLV_TYPE_SUPPORTED_SERVICE, 1, {MAP_SERVICE_AGENT}});
    ap_operational_bss_tlv ops;
    for (const auto& radio : conf.radios) {
        ap_operational_bss_tlv::radio r;
        r.radio_id = radio.id;
        for (const auto& bss : radio.bsss) {
            ap_operational_bss_tlv::bss x;
            x.bssid = bss.bssid;
            set_ssid(x.ssid, x.ssid_len, bss.ssid);
            r.bsss.push_back(x);
        }
        ops.radios.push_back(r);
    }
    b.add(ops);
    std::vector<Station> stas = stations(i);
    if (!stas.empty()) {
        associated_clients_tlv ac;
        const long long now = get_current_time_ms();
        for (const auto& radio : conf.radios) {
            for (const auto& bss : radio.bsss) {
                associated_clients_tlv::bss x;
                x.bssid = bss.bssid;
                for (const Station& s : stas) {
                    if (s.bssid != bss.bssid)
                        continue;
                    long long secs = s.assoc_ms ? (now - s.assoc_ms) / 1000 : 600;
                    x.clients.push_back({s.mac, static_cast<uint16_t>(std::min(65535LL, secs))});
                }
                if (!x.clients.empty())
                    ac.bsss.push_back(std::move(x));
            }
        }
        b.add(ac);
    }
    if (conf.profile >= 2)
        b.add(multiap_profile_tlv{TLV_TYPE_MULTIAP_PROFILE, static_cast<uint8_t>(conf.profile)});
    return b.build();
}

CmduPtr Sim::ap_capability_report(size_t i, uint16_t mid) {
    const AgentConf& conf = scenario_.agents[i];
    CmduBuilder b(CMDU_TYPE_AP_CAPABILITY_REPORT, mid);
    const UnassocMetrics um = conf.unassoc_metrics;
    b.add(ap_capability_tlv{
        TLV_TYPE_AP_CAPABILITY,
        static_cast<uint8_t>(um == UnassocMetrics::both || um == UnassocMetrics::on_channel),
        static_cast<uint8_t>(um == UnassocMetrics::both || um == UnassocMetrics::off_channel), 0});
    channel_scan_capabilities_tlv scan;
    for (const RadioConf& r : conf.radios) {
        ap_radio_basic_capabilities_tlv caps;
        caps.radio_id = r.id;
        caps.max_bss = kMaxBssPerRadio;
        caps.op_classes = supported_classes(r);
        b.add(caps);
        const uint8_t ss = static_cast<uint8_t>(r.streams - 1);
        if (r.ht) {
            b.add(ap_ht_capabilities_tlv{TLV_TYPE_AP_HT_CAPABILITY, r.id, ss, ss, 1, 1,
                                         static_cast<uint8_t>(r.band != Band::b24)});
        }
        if (r.vht && r.band != Band::b24) {
            ap_vht_capabilities_tlv v;
            v.radio_id = r.id;
            uint16_t map = 0xffff;
            for (unsigned s = 0; s < r.streams; ++s)
                map = static_cast<uint16_t>(map & ~(1u << (2 * s)));
            v.supported_vht_tx_mcs = map;
            v.supported_vht_rx_mcs = map;
            v.max_tx_spatial_streams = ss;
            v.max_rx_spatial_streams = ss;
            v.short_gi_80mhz = 1;
            v.su_beamformer = 1;
            b.add(v);
        }
        if (r.he) {
            ap_he_capabilities_tlv h;
            h.radio_id = r.id;
            h.supported_mcs_len = 4;
            uint16_t map = 0xffff;
            for (unsigned s = 0; s < r.streams; ++s)
                map = static_cast<uint16_t>(map & ~(1u << (2 * s)));
            h.supported_mcs[0] = h.supported_mcs[2] = static_cast<uint8_t>(map >> 8);
            h.supported_mcs[1] = h.supported_mcs[3] = static_cast<uint8_t>(map & 0xff);
            h.max_tx_spatial_streams = ss;
            h.max_rx_spatial_streams = ss;
            h.su_beamformer = 1;
            h.dl_ofdma = h.ul_ofdma = 1;
            b.add(h);
        }
        channel_scan_capabilities_tlv::radio sr;
        sr.radio_id = r.id;
        sr.min_scan_interval = 300;
        sr.op_classes.push_back({r.op_class, 0, {}});
        scan.radios.push_back(sr);
    }
    if (conf.profile < 2)  // channel scans and the profile-2 capability came with profile 2
        return b.build();
    b.add(scan);
    profile2_ap_capability_tlv p2;
    p2.byte_counter_units = 0;
    p2.max_vids = 2;
    b.add(p2);
    return b.build();
}

CmduPtr Sim::link_metric_response(size_t i, uint16_t mid, const CMDU& query) {
    const AgentConf& conf = scenario_.agents[i];
    const link_metric_query_tlv* q = first_tlv<link_metric_query_tlv>(query);
    uint8_t type = q ? q->link_metrics_type : LINK_METRIC_TX_AND_RX;
    CmduBuilder b(CMDU_TYPE_LINK_METRIC_RESPONSE, mid);
    std::map<MAC, std::pair<transmitter_link_metric_tlv, receiver_link_metric_tlv>> per_al;
    for (const Neighbor& n : neighbors(i)) {
        if (q && q->neighbor_type == LINK_METRIC_QUERY_SPECIFIC_NEIGHBOR &&
            q->specific_neighbor != n.al) {
            continue;
        }
        auto& p = per_al[n.al];
        p.first.local_al_mac_address = p.second.local_al_mac_address = conf.al_mac;
        p.first.neighbor_al_mac_address = p.second.neighbor_al_mac_address = n.al;
        transmitter_link_metric_tlv::link tx;
        tx.local_interface_mac = n.local_if;
        tx.neighbor_interface_mac = n.remote_if;
        tx.interface_type = n.media;
        tx.transmitted_packets = static_cast<uint32_t>(agents_[i]->tx_packets * 17 + 1000);
        Band band = Band::b5;
        if (n.wireless) {
            const BssRef* ref = find_bss(BSSID(n.local_if)) ? find_bss(BSSID(n.local_if))
                                                            : find_bss(BSSID(n.remote_if));
            if (ref)
                band = scenario_.agents[ref->agent].radios[ref->radio].band;
        }
        const uint32_t rate = n.wireless ? rate_mbps(n.rssi, band, 2) : 1000;
        tx.mac_throughput_capacity = static_cast<uint16_t>(n.wireless ? rate * 7 / 10 : 940);
        tx.link_availability = 100;
        tx.phy_rate = static_cast<uint16_t>(rate);
        p.first.links.push_back(tx);
        receiver_link_metric_tlv::link rx;
        rx.local_interface_mac = n.local_if;
        rx.neighbor_interface_mac = n.remote_if;
        rx.interface_type = n.media;
        rx.packets_received = tx.transmitted_packets;
        rx.rssi = n.wireless ? rcpi(n.rssi) : 0xff;
        p.second.links.push_back(rx);
    }
    if (per_al.empty() && q && q->neighbor_type == LINK_METRIC_QUERY_SPECIFIC_NEIGHBOR) {
        b.add(link_metric_result_code_tlv{TLV_TYPE_LINK_METRIC_RESULT_CODE,
                                          LINK_METRIC_RESULT_INVALID_NEIGHBOR});
        return b.build();
    }
    for (auto& kv : per_al) {
        if (type != LINK_METRIC_RX_ONLY)
            b.add(kv.second.first);
        if (type != LINK_METRIC_TX_ONLY)
            b.add(kv.second.second);
    }
    return b.build();
}

CmduPtr Sim::ap_metrics_response(size_t i, uint16_t mid, const CMDU& query) {
    const AgentConf& conf = scenario_.agents[i];
    CmduBuilder b(CMDU_TYPE_AP_METRICS_RESPONSE, mid);
    std::vector<BSSID> wanted;
    each_tlv<ap_metric_query_tlv>(query, [&](const ap_metric_query_tlv& q) {
        for (const auto& x : q.bssids)
            wanted.push_back(x);
    });
    std::vector<Station> stas = stations(i);
    const long long now = get_current_time_ms();
    for (const auto& radio : conf.radios) {
        for (const auto& bss : radio.bsss) {
            if (!wanted.empty() &&
                std::find(wanted.begin(), wanted.end(), bss.bssid) == wanted.end()) {
                continue;
            }
            ap_metrics_tlv m;
            m.bssid = bss.bssid;
            uint16_t n = 0;
            for (const Station& s : stas)
                n = static_cast<uint16_t>(n + (s.bssid == bss.bssid));
            m.num_associated_stas = n;
            m.channel_utilization = static_cast<uint8_t>(std::min(250, 20 + 10 * n));
            m.esp_be_present = 1;
            m.esp_be[0] = 0x81;  // access category BE, data format 0, BA window 2
            m.esp_be[1] = static_cast<uint8_t>(std::max(10, 230 - 10 * n));
            m.esp_be[2] = 10;
            b.add(m);
        }
    }
    for (const Station& s : stas) {
        if (!wanted.empty() && std::find(wanted.begin(), wanted.end(), s.bssid) == wanted.end())
            continue;
        const BssRef* ref = find_bss(s.bssid);
        if (!ref)
            continue;
        const Band band = conf.radios[ref->radio].band;
        const uint64_t secs = static_cast<uint64_t>(std::max(1LL, (now - s.assoc_ms) / 1000));
        associated_sta_traffic_stats_tlv t;
        t.sta_mac = s.mac;
        t.bytes_sent = static_cast<uint32_t>(secs * 125000);
        t.bytes_received = static_cast<uint32_t>(secs * 25000);
        t.packets_sent = static_cast<uint32_t>(secs * 100);
        t.packets_received = static_cast<uint32_t>(secs * 40);
        t.retransmission_count = static_cast<uint32_t>(secs);
        b.add(t);
        associated_sta_link_metrics_tlv l;
        l.sta_mac = s.mac;
        const uint32_t rate = rate_mbps(s.rssi, band, s.streams);
        l.bssids.push_back({s.bssid, 100, rate, rate * 8 / 10, rcpi(s.rssi)});
        b.add(l);
    }
    return b.build();
}

CmduPtr Sim::assoc_sta_metrics_response(size_t i, uint16_t mid, const CMDU& query) {
    CmduBuilder b(CMDU_TYPE_ASSOCIATED_STA_LINK_METRICS_RESPONSE, mid);
    const sta_mac_address_tlv* q = first_tlv<sta_mac_address_tlv>(query);
    if (!q)
        return b.build();
    for (const Station& s : stations(i)) {
        if (s.mac != q->sta_mac)
            continue;
        const BssRef* ref = find_bss(s.bssid);
        const Band band = ref ? scenario_.agents[i].radios[ref->radio].band : Band::b5;
        associated_sta_link_metrics_tlv l;
        l.sta_mac = s.mac;
        const uint32_t rate = rate_mbps(s.rssi, band, s.streams);
        l.bssids.push_back({s.bssid, 100, rate, rate * 8 / 10, rcpi(s.rssi)});
        b.add(l);
        return b.build();
    }
    associated_sta_link_metrics_tlv l;
    l.sta_mac = q->sta_mac;
    b.add(l);
    b.add(error_code_tlv{TLV_TYPE_ERROR, kErrStaNotAssociated, q->sta_mac});
    return b.build();
}

CmduPtr Sim::unassoc_sta_metrics_response(size_t i, uint16_t mid, const CMDU& query) {
    const AgentConf& conf = scenario_.agents[i];
    const unassociated_sta_link_metrics_query_tlv* q =
        first_tlv<unassociated_sta_link_metrics_query_tlv>(query);
    CmduBuilder b(CMDU_TYPE_UNASSOCIATED_STA_LINK_METRICS_RESPONSE, mid);
    unassociated_sta_link_metrics_response_tlv r;
    if (q) {
        r.op_class = q->op_class;
        const Band band = q->op_class >= 131 ? Band::b6 : q->op_class <= 84 ? Band::b24 : Band::b5;
        for (const auto& ch : q->channels) {
            // On one of our channels the station is heard by our BSSs there; elsewhere a
            // radio of the band leaves its channel for a moment and hears it about as well
            // as it hears that radio's BSSs. Each only when our AP capability offers it.
            bool own = false;
            for (const auto& radio : conf.radios)
                own = own || radio.channel == ch.channel;
            const UnassocMetrics um = conf.unassoc_metrics;
            const bool offered =
                um == UnassocMetrics::both ||
                um == (own ? UnassocMetrics::on_channel : UnassocMetrics::off_channel);
            if (!offered) {
                log(conf.name + ": asked to measure on channel " + std::to_string(ch.channel) +
                    (own ? " (its own)" : " (off-channel)") +
                    ", which its AP capability does not offer");
                continue;
            }
            size_t heard_count = 0;
            for (const MAC& sta : ch.stas) {
                // The strongest of our BSSs on that channel (or band) the station hears.
                const std::map<BSSID, int>* heard = nullptr;
                int c = find_client(sta);
                int bsta_owner = find_bsta(sta);
                if (c >= 0) {
                    const BssRef* cur = find_bss(clients_[c].bssid);
                    if (cur && cur->agent == i)
                        continue;  // associated here
                    heard = &clients_[c].rssi;
                } else if (bsta_owner >= 0) {
                    heard = &scenario_.agents[bsta_owner].bsta_rssi;
                }
                if (!heard)
                    continue;
                int best = -200;
                for (const auto& radio : conf.radios) {
                    if (own ? radio.channel != ch.channel : radio.band != band)
                        continue;
                    for (const auto& bss : radio.bsss) {
                        auto it = heard->find(bss.bssid);
                        if (it != heard->end())
                            best = std::max(best, it->second);
                    }
                }
                if (best > -200 && r.stas.size() < 255) {
                    r.stas.push_back({sta, ch.channel, 100, rcpi(best)});
                    ++heard_count;
                }
            }
            if (options_.verbose)
                log(conf.name + ": unassociated measurement on channel " +
                    std::to_string(ch.channel) + (own ? " (its own)" : " (off-channel)") + ": " +
                    std::to_string(heard_count) + " of " + std::to_string(ch.stas.size()) +
                    " station(s) heard");
        }
    }
    b.add(r);
    return b.build();
}

CmduPtr Sim::beacon_metrics_response(size_t, uint16_t mid, const CMDU& query) {
    const beacon_metrics_query_tlv* q = first_tlv<beacon_metrics_query_tlv>(query);
    CmduBuilder b(CMDU_TYPE_BEACON_METRICS_RESPONSE, mid);
    beacon_metrics_response_tlv r;
    if (!q)
        return CmduPtr();
    r.sta_mac = q->sta_mac;
    const std::map<BSSID, int>* heard = nullptr;
    int c = find_client(q->sta_mac);
    int bsta_owner = find_bsta(q->sta_mac);
    if (c >= 0)
        heard = &clients_[c].rssi;
    if (bsta_owner >= 0)
        heard = &scenario_.agents[bsta_owner].bsta_rssi;
    uint8_t token = 1;
    if (heard) {
        for (const auto& kv : *heard) {
            const BssRef* ref = find_bss(kv.first);
            if (!ref || r.elements.size() >= 32)
                continue;
            const RadioConf& radio = scenario_.agents[ref->agent].radios[ref->radio];
            if (!q->bssid.is_broadcast() && !q->bssid.is_zero() && q->bssid != kv.first)
                continue;
            bool channel_ok = q->channel == radio.channel;
            if (q->channel == 255) {
                for (const auto& rep : q->ap_channel_reports) {
                    for (uint8_t ch : rep.channels)
                        channel_ok = channel_ok || ch == radio.channel;
                }
                channel_ok = channel_ok || q->ap_channel_reports.empty();
            }
            if (!channel_ok)
                continue;
            // Measurement Report element body: token, mode, type 5 (beacon),
            // op class, channel, start time (8), duration (2), frame info,
            // RCPI, RSNI, BSSID, antenna, parent TSF (4). Agents report the
            // signal here as an RSSI in dBm, two's complement.
            std::vector<uint8_t> body{token++, 0, 5, radio.op_class, radio.channel};
            body.insert(body.end(), 8, 0);
            body.push_back(20);
            body.push_back(0);
            body.push_back(0);
            body.push_back(static_cast<uint8_t>(static_cast<int8_t>(kv.second)));
            body.push_back(0xff);
            body.insert(body.end(), kv.first.data(), kv.first.data() + 6);
            body.push_back(0);
            body.insert(body.end(), 4, 0);
            r.elements.push_back({39, std::move(body)});
        }
    }
    b.add(r);
    return b.build();
}

std::vector<uint8_t> Sim::assoc_request_body(size_t ci, const BssRef& ref) const {
    const ClientConf& c = scenario_.clients[ci];
    const RadioConf& radio = scenario_.agents[ref.agent].radios[ref.radio];
    const std::string& ssid = radio.bsss[ref.bss].ssid;
    std::vector<uint8_t> f{
        0x21, 0x04, 10, 0};  // capability info (ESS, short preamble, short slot), listen interval
    f.push_back(0);
    f.push_back(static_cast<uint8_t>(ssid.size()));
    f.insert(f.end(), ssid.begin(), ssid.end());
    if (radio.band == Band::b24) {
        f.insert(f.end(), {1, 8, 0x82, 0x84, 0x8b, 0x96, 0x0c, 0x12, 0x18, 0x24});
    } else {
        f.insert(f.end(), {1, 8, 0x8c, 0x12, 0x98, 0x24, 0xb0, 0x48, 0x60, 0x6c});
    }
    if (c.band5)
        f.insert(f.end(), {36, 8, 36, 4, 52, 4, 100, 12, 149, 5});  // supported channels (pairs)
    if (c.rrm)
        f.insert(f.end(), {70, 5, 0x73, 0x00, 0x00, 0x00, 0x00});
    // Supported operating classes: current, then the bands the client has.
    std::vector<uint8_t> ops{radio.op_class};
    if (c.band24)
        ops.push_back(81);
    if (c.band5)
        ops.insert(ops.end(), {115, 118, 121, 125, 128});
    if (c.band6)
        ops.insert(ops.end(), {131, 133});
    f.push_back(59);
    f.push_back(static_cast<uint8_t>(ops.size()));
    f.insert(f.end(), ops.begin(), ops.end());
    if (c.ht) {
        f.insert(f.end(),
                 {45, 26, static_cast<uint8_t>(0x20 | (radio.band != Band::b24 ? 0x02 : 0)), 0x01,
                  0x17});
        for (unsigned s = 0; s < 16; ++s)
            f.push_back(s < c.streams ? 0xff : 0x00);
        f.insert(f.end(), 7, 0);
    }
    // Extended capabilities: ECSA (bit 2), BSS transition (bit 19).
    f.insert(f.end(), {127, 3, 0x04, 0x00, static_cast<uint8_t>(c.btm ? 0x08 : 0x00)});
    if (c.vht && radio.band == Band::b5) {
        uint16_t map = 0xffff;
        for (unsigned s = 0; s < c.streams; ++s)
            map = static_cast<uint16_t>(map & ~(1u << (2 * s)));
        f.insert(f.end(), {191, 12, 0x32, 0x00, 0x80, 0x03});
        for (int k = 0; k < 2; ++k) {
            f.push_back(static_cast<uint8_t>(map & 0xff));
            f.push_back(static_cast<uint8_t>(map >> 8));
            f.push_back(0);
            f.push_back(0);
        }
    }
    if (c.he) {
        uint16_t map = 0xffff;
        for (unsigned s = 0; s < c.streams; ++s)
            map = static_cast<uint16_t>(map & ~(1u << (2 * s)));
        f.insert(f.end(), {255, 22, 35});
        f.insert(f.end(), 6, 0);                             // HE MAC capabilities
        f.push_back(radio.band == Band::b24 ? 0x02 : 0x04);  // PHY: 40 MHz in 2.4 / 80 MHz in 5-6
        f.insert(f.end(), 10, 0);
        for (int k = 0; k < 2; ++k) {
            f.push_back(static_cast<uint8_t>(map & 0xff));
            f.push_back(static_cast<uint8_t>(map >> 8));
        }
    }
    return f;
}

CmduPtr Sim::client_capability_report(size_t i, uint16_t mid, const CMDU& query) {
    const client_info_tlv* q = first_tlv<client_info_tlv>(query);
    if (!q)
        return CmduPtr();
    CmduBuilder b(CMDU_TYPE_CLIENT_CAPABILITY_REPORT, mid);
    b.add(*q);
    client_capability_report_tlv r;
    int c = find_client(q->client_mac);
    const BssRef* ref = c >= 0 ? find_bss(clients_[c].bssid) : nullptr;
    if (ref && ref->agent == i) {
        r.result_code = CLIENT_CAPABILITY_SUCCESS;
        r.frame_body = assoc_request_body(static_cast<size_t>(c), *ref);
        b.add(r);
    } else {
        r.result_code = CLIENT_CAPABILITY_UNSPECIFIED_FAILURE;
        b.add(r);
        b.add(error_code_tlv{TLV_TYPE_ERROR, kErrStaNotAssociated, q->client_mac});
    }
    return b.build();
}

CmduPtr Sim::channel_preference_report(size_t i, uint16_t mid) {
    CmduBuilder b(CMDU_TYPE_CHANNEL_PREFERENCE_REPORT, mid);
    for (const RadioConf& r : scenario_.agents[i].radios) {
        channel_preference_tlv p;
        p.radio_id = r.id;
        // Every channel of the class at the highest preference but the current
        // one's neighbours, which are a step lower.
        p.op_classes.push_back({r.op_class, 0, {}, 14, 0});
        b.add(p);
    }
    if (scenario_.agents[i].profile >= 2)  // CAC came with profile 2
        b.add(cac_status_report_tlv{});
    return b.build();
}

CmduPtr Sim::operating_channel_report(size_t i, uint16_t mid) {
    CmduBuilder b(CMDU_TYPE_OPERATING_CHANNEL_REPORT, mid);
    for (const RadioConf& r : scenario_.agents[i].radios) {
        operating_channel_report_tlv o;
        o.radio_id = r.id;
        o.op_classes.push_back({r.op_class, r.channel});
        if (r.bandwidth_mhz > 20 && r.wide_class != 0)
            o.op_classes.push_back({r.wide_class, r.centre});
        o.current_tx_power_eirp = r.tx_power;
        b.add(o);
    }
    return b.build();
}

CmduPtr Sim::channel_scan_report(size_t i, uint16_t mid, const CMDU& query) {
    const AgentConf& conf = scenario_.agents[i];
    CmduBuilder b(CMDU_TYPE_CHANNEL_SCAN_REPORT, mid);
    b.add(timestamp_tlv{TLV_TYPE_TIMESTAMP, "2026-01-01T00:00:00Z"});
    const channel_scan_request_tlv* q = first_tlv<channel_scan_request_tlv>(query);
    for (const RadioConf& r : conf.radios) {
        std::vector<std::pair<uint8_t, uint8_t>> todo;  // op class, channel
        if (q) {
            for (const auto& qr : q->radios) {
                if (qr.radio_id != r.id)
                    continue;
                for (const auto& oc : qr.op_classes) {
                    for (uint8_t ch : oc.channels)
                        todo.push_back({oc.op_class, ch});
                }
            }
        }
        if (todo.empty())
            todo.push_back({r.op_class, r.channel});
        for (const auto& oc : todo) {
            if (b.get() && count_1905_TLVs(b.get()) > 64)
                break;
            channel_scan_result_tlv res;
            res.radio_id = r.id;
            res.op_class = oc.first;
            res.channel = oc.second;
            res.timestamp = "2026-01-01T00:00:00Z";
            res.utilization = 40;
            res.noise = 30;
            res.aggregate_scan_duration = 50;
            for (const auto& kv : bss_index_) {
                if (kv.second.agent == i || res.neighbors.size() >= 32)
                    continue;
                const RadioConf& other = scenario_.agents[kv.second.agent].radios[kv.second.radio];
                if (other.channel != oc.second)
                    continue;
                channel_scan_result_tlv::neighbor n;
                n.bssid = kv.first;
                set_ssid(n.ssid, n.ssid_len, other.bsss[kv.second.bss].ssid);
                n.signal_strength = 100;
                n.channel_bandwidth = other.band == Band::b24 ? "20" : "80";
                res.neighbors.push_back(n);
            }
            b.add(std::move(res));
        }
    }
    return b.build();
}

// ---- steering ------------------------------------------------------------------------

// A client answers a steering request as its scenario says: BTM status, when it moves
// (at once, later, never), whether it roams back; a broadcast target lets it choose. A
// mandate with disassociation imminent drops a client without BTM, which joins again later.
void Sim::on_client_steering(size_t i, const MAC& from, const CMDU& c) {
    send_ack(i, from, c.message_id);
    const steering_request_tlv* q = first_tlv<steering_request_tlv>(c);
    if (!q)
        return;
    const bool mandate = q->request_mode != 0;
    for (size_t k = 0; k < q->stas.size(); ++k) {
        const MAC& sta = q->stas[k];
        int ci = find_client(sta);
        if (ci < 0 || clients_[ci].bssid != q->bssid)
            continue;
        const size_t cu = static_cast<size_t>(ci);
        const ClientConf& conf = scenario_.clients[cu];
        if (!conf.btm) {
            // No BSS transition management: only a mandate to leave moves it, by force.
            if (mandate && q->btm_disassociation_imminent) {
                log("client " + sta.to_string() + " disassociated by force from " +
                    q->bssid.to_string());
                move_client(cu, BSSID());
                schedule(cu, conf.rejoin_after_s * 1000LL, BSSID());
            }
            continue;
        }
        BSSID target = k < q->targets.size() ? q->targets[k].bssid
                       : q->targets.empty()  ? BSSID::broadcast
                                             : q->targets.back().bssid;
        if (target == BSSID::broadcast)
            target = best_bss(cu, q->bssid);
        const BssRef* ref = target.is_zero() ? nullptr : find_bss(target);
        uint8_t status = conf.btm_status >= 0 ? static_cast<uint8_t>(conf.btm_status)
                         : conf.steerable     ? kBtmAccept
                                              : kBtmReject;
        if (status == kBtmAccept &&
            (!ref || !clients_[cu].rssi.count(target) || blocked(target, sta) ||
             !scenario_.agents[ref->agent].radios[ref->radio].bsss[ref->bss].fronthaul ||
             !reachable(ref->agent)))
            status = 7;  // no suitable BSS transition candidates
        CmduBuilder b(CMDU_TYPE_CLIENT_STEERING_BTM_REPORT, next_mid(i));
        steering_btm_report_tlv rep;
        rep.bssid = q->bssid;
        rep.sta_mac = sta;
        rep.btm_status_code = status;
        rep.has_target_bssid = status == kBtmAccept ? 1 : 0;
        rep.target_bssid = status == kBtmAccept ? target : BSSID();
        b.add(rep);
        send(i, from, b.build());
        if (status != kBtmAccept) {
            log("client " + sta.to_string() + " refused steering (status " +
                std::to_string(status) + ")");
            continue;
        }
        if (conf.never_move) {
            log("client " + sta.to_string() + " accepted steering to " + target.to_string() +
                " and stays");
            continue;
        }
        log("client " + sta.to_string() + " steered to " + target.to_string() +
            (conf.move_after_s ? " in " + std::to_string(conf.move_after_s) + " s" : ""));
        const BSSID left = q->bssid;
        if (conf.move_after_s)
            schedule(cu, conf.move_after_s * 1000LL, target);
        else
            move_client(cu, target);
        if (conf.roam_back_after_s)
            schedule(cu, (conf.move_after_s + conf.roam_back_after_s) * 1000LL, left, true);
    }
    if (!mandate)
        send(i, from, CmduBuilder(CMDU_TYPE_STEERING_COMPLETED, next_mid(i)).build());
}

void Sim::report_channels(size_t i) {
    if (!agents_[i]->controller.is_zero())
        send(i, agents_[i]->controller, operating_channel_report(i, next_mid(i)));
}

void Sim::on_association_control(size_t i, const MAC& from, const CMDU& c) {
    send_ack(i, from, c.message_id);
    const auto* q = first_tlv<client_association_control_request_tlv>(c);
    if (!q)
        return;
    const long long now = get_current_time_ms();
    for (const MAC& sta : q->stas) {
        if (q->association_control == ASSOCIATION_CONTROL_BLOCK) {
            acl_[{q->bssid, sta}] = now + q->validity_period * 1000LL;
            log("client " + sta.to_string() + " blocked at " + q->bssid.to_string() + " for " +
                std::to_string(q->validity_period) + " s");
        } else {
            acl_.erase({q->bssid, sta});
            log("client " + sta.to_string() + " unblocked at " + q->bssid.to_string());
        }
    }
}

bool Sim::blocked(const BSSID& bssid, const MAC& mac) const {
    auto it = acl_.find({bssid, mac});
    return it != acl_.end() && it->second > get_current_time_ms();
}

BSSID Sim::best_bss(size_t ci, const BSSID& except) const {
    BSSID best;
    int best_rssi = -1000;
    const MAC& mac = scenario_.clients[ci].mac;
    for (const auto& kv : clients_[ci].rssi) {
        if (kv.first == except || kv.second <= best_rssi || blocked(kv.first, mac))
            continue;
        const BssRef* ref = find_bss(kv.first);
        if (!ref || !scenario_.agents[ref->agent].radios[ref->radio].bsss[ref->bss].fronthaul ||
            !reachable(ref->agent))
            continue;
        best = kv.first;
        best_rssi = kv.second;
    }
    return best;
}

void Sim::schedule(size_t client, long long after_ms, const BSSID& to, bool roam) {
    if (later_.size() >= kMaxClients)
        return;
    later_.push_back({get_current_time_ms() + after_ms, client, to, roam});
}

void Sim::on_later_timer(uv_timer_t* t) {
    static_cast<Sim*>(t->data)->run_later();
    static_cast<Sim*>(t->data)->run_retransmissions();
}

void Sim::run_later() {
    const long long now = get_current_time_ms();
    std::vector<Later> due;
    for (auto it = later_.begin(); it != later_.end();) {
        if (it->due_ms <= now) {
            due.push_back(*it);
            it = later_.erase(it);
        } else {
            ++it;
        }
    }
    for (const Later& l : due) {
        const MAC& mac = scenario_.clients[l.client].mac;
        BSSID to = l.to.is_zero() ? best_bss(l.client, BSSID()) : l.to;
        if (to.is_zero() || blocked(to, mac)) {
            if (l.to.is_zero())
                schedule(l.client, 2000, BSSID());  // nowhere to go yet: try again
            continue;
        }
        log("client " + mac.to_string() + (l.roam ? " roams back to " : " joins ") +
            to.to_string());
        move_client(l.client, to);
    }
}

void Sim::on_backhaul_steering(size_t i, const MAC& from, const CMDU& c) {
    send_ack(i, from, c.message_id);
    const backhaul_steering_request_tlv* q = first_tlv<backhaul_steering_request_tlv>(c);
    if (!q)
        return;
    AgentState& a = *agents_[i];
    const AgentConf& conf = scenario_.agents[i];
    const BssRef* ref = find_bss(q->target_bssid);
    // Why the request is refused, as a reason code of the Error Code TLV (0: it is not):
    // 5 the target is not heard (or too weakly), 4 the requested channel is not the
    // target's, 6 the target does not take us (not a backhaul BSS, our own BSS or one of
    // our descendants', cut off from the controller). A scenario may force one.
    uint8_t reason = 0;
    auto heard = conf.bsta_rssi.find(q->target_bssid);
    if (conf.backhaul_steer_reject != 0) {
        reason = static_cast<uint8_t>(conf.backhaul_steer_reject);
    } else if (a.backhaul.kind != BackhaulKind::wifi || q->backhaul_sta_mac != a.backhaul.bsta ||
               !ref || heard == conf.bsta_rssi.end() || heard->second < kMinBstaRssi) {
        reason = kErrTargetWeak;
    } else {
        const RadioConf& radio = scenario_.agents[ref->agent].radios[ref->radio];
        if ((q->channel != 0 && q->channel != radio.channel) ||
            (q->op_class != 0 && q->op_class != radio.op_class))
            reason = kErrChannel;
        else if (!radio.bsss[ref->bss].backhaul || ref->agent == i)
            reason = kErrRejected;
    }
    // Never under one of our own descendants.
    for (int p = ref ? static_cast<int>(ref->agent) : -1, steps = 0;
         reason == 0 && p >= 0 && steps < 300; ++steps) {
        if (p == static_cast<int>(i))
            reason = kErrRejected;
        p = agents_[p]->parent;
    }
    if (reason == 0 && !reachable(ref->agent))
        reason = kErrRejected;
    const bool ok = reason == 0;
    if (!ok)
        log(conf.name + ": backhaul steering to " + q->target_bssid.to_string() +
            " refused, reason " + std::to_string(reason));
    CmduBuilder b(CMDU_TYPE_BACKHAUL_STEERING_RESPONSE, next_mid(i));
    b.add(backhaul_steering_response_tlv{
        TLV_TYPE_BACKHAUL_STEERING_RESPONSE, q->backhaul_sta_mac, q->target_bssid,
        ok ? BACKHAUL_STEERING_SUCCESS : BACKHAUL_STEERING_FAILURE});
    if (!ok)
        b.add(error_code_tlv{TLV_TYPE_ERROR, reason, q->backhaul_sta_mac});
    send(i, from, b.build());
    if (!ok)
        return;
    const size_t old_parent = static_cast<size_t>(a.parent);
    const BSSID old_bss = a.backhaul.bssid;
    a.backhaul.bssid = q->target_bssid;
    a.parent = static_cast<int>(ref->agent);
    a.backhaul.parent = scenario_.agents[ref->agent].name;
    log(scenario_.agents[i].name + ": backhaul moved to " + q->target_bssid.to_string() + " of " +
        a.backhaul.parent);
    if (a.parent >= 0 && old_parent < agents_.size())
        notify_association(old_parent, a.backhaul.bsta, old_bss, false);
    notify_association(ref->agent, a.backhaul.bsta, q->target_bssid, true);
    notify_association(i, MAC(), BSSID(), true);
}

void Sim::move_client(size_t ci, const BSSID& to) {
    ClientState& c = clients_[ci];
    const MAC& mac = scenario_.clients[ci].mac;
    if (c.bssid == to)
        return;
    if (const BssRef* old = find_bss(c.bssid))
        notify_association(old->agent, mac, c.bssid, false);
    c.bssid = to;
    c.assoc_ms = get_current_time_ms();
    if (!c.rssi.count(to) && !to.is_zero())
        c.rssi[to] = -60;
    if (const BssRef* now = find_bss(to))
        notify_association(now->agent, mac, to, true);
}

// Tells the parent's view of agent I after its link state changed.
void Sim::set_visible(size_t i, bool before) {
    const bool now = link_up(i);
    if (now == before)
        return;
    AgentState& a = *agents_[i];
    if (a.parent >= 0) {
        if (a.backhaul.kind == BackhaulKind::wifi) {
            notify_association(static_cast<size_t>(a.parent), a.backhaul.bsta, a.backhaul.bssid,
                               now);
        } else {
            notify_association(static_cast<size_t>(a.parent), MAC(), BSSID(), now);
        }
    }
    if (now) {
        a.configured = false;  // searches again, as after a reboot
        if (search_timer_)
            uv_timer_start(search_timer_, on_search_timer, 10, options_.autoconfig_retry_ms);
        send_discovery(i);
    }
}

void Sim::apply(const EventConf& e) {
    switch (e.kind) {
        case EventConf::roam:
        case EventConf::join:
            log("timeline: client " + scenario_.clients[e.index].mac.to_string() + " -> " +
                e.bssid.to_string());
            move_client(e.index, e.bssid);
            break;
        case EventConf::leave:
            log("timeline: client " + scenario_.clients[e.index].mac.to_string() + " leaves");
            move_client(e.index, BSSID());
            break;
        case EventConf::rssi:
            for (const auto& kv : e.levels)
                clients_[e.index].rssi[kv.first] = kv.second;
            break;
        case EventConf::bsta_rssi:
            for (const auto& kv : e.levels)
                scenario_.agents[e.index].bsta_rssi[kv.first] = kv.second;
            log("timeline: agent " + scenario_.agents[e.index].name +
                " backhaul STA hears new levels");
            break;
        case EventConf::silent:
        case EventConf::speak: {
            const bool before = link_up(e.index);
            agents_[e.index]->silent = e.kind == EventConf::silent;
            log("timeline: agent " + scenario_.agents[e.index].name +
                (e.kind == EventConf::silent ? " goes silent" : " speaks again"));
            set_visible(e.index, before);
            break;
        }
        case EventConf::hkt_silent:
        case EventConf::hkt_speak:
            log("timeline: agent " + scenario_.agents[e.index].name + " HKT side " +
                (e.kind == EventConf::hkt_silent ? "goes silent" : "speaks again"));
            if (HktAgent* h = hkt_agent(e.index))
                h->set_silent(e.kind == EventConf::hkt_silent);
            break;
        case EventConf::forget_credentials:
            log("timeline: agent " + scenario_.agents[e.index].name + " forgets its credentials");
            forget_credentials(e.index);
            break;
        case EventConf::backhaul_down:
        case EventConf::backhaul_up: {
            const bool before = link_up(e.index);
            agents_[e.index]->backhaul_up = e.kind == EventConf::backhaul_up;
            log("timeline: agent " + scenario_.agents[e.index].name + " backhaul " +
                (e.kind == EventConf::backhaul_up ? "up" : "down"));
            set_visible(e.index, before);
            break;
        }
        case EventConf::channel:
            on_channel_event(e);
            break;
    }
}

MAC Sim::controller_of(size_t i) const {
    return agents_[i]->configured ? agents_[i]->controller : MAC();
}

}  // namespace meshsim
