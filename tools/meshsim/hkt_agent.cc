#include "hkt_agent.h"

#include <arpa/inet.h>

#include <cstring>

#include "common/clock.h"
#include "map/codec/cmdu_alloc.h"
#include "map/codec/tlv_types.h"
#include "map/transport/raw_transport.h"
#include "map/transport/segment_transport.h"
#include "sim.h"

namespace meshsim {

namespace {
constexpr uint16_t kAuthWpa2Psk = 0x0020;
constexpr uint16_t kEncAes = 0x0008;
constexpr uint16_t kExAgentUp = 1;
}  // namespace

HktAgent::HktAgent(Sim& sim, size_t agent) : sim_(sim), agent_(agent) {
    mid_ = static_cast<uint16_t>(0x8000 + agent * 0x100);
}

HktAgent::~HktAgent() {
    close();
}

const HktConf& HktAgent::conf() const {
    return sim_.scenario().agents[agent_].hkt;
}

bool HktAgent::up() const {
    return !silent_ && transport_ && transport_->is_open() && sim_.reachable(agent_);
}

int HktAgent::open(uv_loop_t* loop, const SimOptions& options, std::string* error) {
    start_ms_ = get_current_time_ms();
    TransportInterface itf;
    itf.name = options.interface.empty() ? "hkt" + std::to_string(agent_) : options.interface;
    itf.mac = conf().mac;
    itf.segment = options.segment;
    TransportOptions topt;
    topt.al_mac = conf().mac;
    topt.rx_max_frames_per_s = 5000;
    std::vector<TransportInterface> list{itf};
    if (options.interface.empty())
        transport_ = std::make_unique<SegmentTransport>(list, topt);
    else
        transport_ = std::make_unique<RawTransport>(list, topt);
    std::string err;
    if (transport_->open(
            loop,
            [this](size_t, const uint8_t* f, size_t n) { sim_.inbound(2 * agent_ + 1, f, n); },
            &err) != 0) {
        if (error)
            *error = "hkt agent of " + sim_.scenario().agents[agent_].name + ": " + err;
        transport_.reset();
        return -1;
    }
    timer_ = new uv_timer_t;
    uv_timer_init(loop, timer_);
    timer_->data = this;
    return 0;
}

void HktAgent::close() {
    if (transport_)
        transport_->close();
    if (timer_) {
        uv_timer_stop(timer_);
        uv_close(reinterpret_cast<uv_handle_t*>(timer_),
                 [](uv_handle_t* h) { delete reinterpret_cast<uv_timer_t*>(h); });
        timer_ = nullptr;
    }
}

void HktAgent::set_silent(bool silent) {
    silent_ = silent;
    if (!silent)
        announced_ = false;  // tells the platform again once discovered
}

void HktAgent::on_timer(uv_timer_t* t) {
    static_cast<HktAgent*>(t->data)->heartbeat();
}

// ---- sending ----------------------------------------------------------------------

bool HktAgent::send(const MAC& dst, hktMessage msg) {
    if (!up())
        return false;
    vendor_specific_tlv v;
    if (!forge_hkt_vendor_tlv(&msg, v))
        return false;
    CmduPtr c = CmduBuilder(CMDU_TYPE_VENDOR_SPECIFIC, ++mid_).add(std::move(v)).build();
    std::vector<std::vector<uint8_t>> fragments;
    if (!c || !encode_1905_CMDU(*c, fragments))
        return false;
    std::vector<uint8_t> frame;
    for (const auto& payload : fragments) {
        build_1905_ethernet_frame(dst, conf().mac, payload, frame);
        transmit(frame);
    }
    if (sim_.options_.verbose)
        sim_.log(sim_.scenario().agents[agent_].name + "/hkt -> " + dst.to_string() + " " +
                 hkt_tlv_type_to_string(msg.tlv_type));
    return true;
}

bool HktAgent::send_ack(const MAC& dst, uint16_t mid) {
    if (!up())
        return false;
    CmduPtr c = CmduBuilder(CMDU_TYPE_1905_ACK, mid).build();
    std::vector<std::vector<uint8_t>> fragments;
    if (!c || !encode_1905_CMDU(*c, fragments))
        return false;
    std::vector<uint8_t> frame;
    build_1905_ethernet_frame(dst, conf().mac, fragments[0], frame);
    transmit(frame);
    return true;
}

void HktAgent::transmit(const std::vector<uint8_t>& frame) {
    sim_.transmit(2 * agent_ + 1, frame);
}

void HktAgent::deliver(FaultWay way, const uint8_t* frame, size_t len) {
    if (way == FaultWay::to_agents)
        on_frame(frame, len);
    else if (transport_ && transport_->is_open())
        transport_->send(0, frame, len);
}

void HktAgent::heartbeat() {
    if (!up() || controller_.is_zero())
        return;
    hkt_heartbeat_tlv t;
    t.uptime = static_cast<uint32_t>((get_current_time_ms() - start_ms_) / 1000);
    if (send(controller_, hkt_message_of(t)))
        ++stats_.heartbeats_sent;
}

hkt_discovery_response_tlv HktAgent::discovery_response() const {
    const AgentConf& a = sim_.scenario().agents[agent_];
    const HktConf& h = conf();
    hkt_discovery_response_tlv r;
    r.capabilities_version = h.capabilities_version;
    r.hkt_version = h.hkt_version;
    r.config_number = h.config_number;
    r.model_number = h.model;
    r.serial_number = a.serial;
    r.system_mac = a.ethernet.empty() ? a.al_mac : a.ethernet[0].mac;
    r.collocated_map_agent_mac = a.al_mac;
    std::string ip = h.ipv4.empty() ? "192.168.1." + std::to_string(100 + agent_ % 150) : h.ipv4;
    hkt_ipv4_from_string(ip, r.addresses.ipv4);
    // Link-local from the system MAC (EUI-64), one global address in a documentation prefix.
    r.addresses.ipv6_local.addr[0] = 0xfe;
    r.addresses.ipv6_local.addr[1] = 0x80;
    const MAC& m = r.system_mac;
    const uint8_t eui[8] = {
        static_cast<uint8_t>(m[0] ^ 0x02), m[1], m[2], 0xff, 0xfe, m[3], m[4], m[5]};
    std::memcpy(r.addresses.ipv6_local.addr + 8, eui, 8);
    HktIpv6 global = r.addresses.ipv6_local;
    const uint8_t prefix[8] = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 1};
    std::memcpy(global.addr, prefix, 8);
    r.addresses.ipv6_global.push_back(global);
    r.addresses.num_ipv6_global = 1;
    r.hostname = h.hostname;
    r.sw_version = h.sw_version;
    r.vendor = h.vendor;
    r.product_class = h.product_class;
    std::memcpy(r.oui, hkt_get_vendor_oui(), 3);
    r.minders_present = h.minders_present;
    for (uint32_t bit = 0; bit < 32 && r.minder_capabilites.size() < HKT_MAX_MINDERS; ++bit)
        if (h.minders_present & (1u << bit))
            r.minder_capabilites.push_back(static_cast<uint16_t>(0x0100 | bit));
    r.minders_nr = static_cast<uint8_t>(r.minder_capabilites.size());
    for (size_t i = 0; i < a.ethernet.size() && r.interfaces.size() < HKT_MAX_INTERFACES; ++i) {
        hkt_discovery_response_tlv::interface x;
        x.ifname = a.ethernet[i].name;
        x.mac = a.ethernet[i].mac;
        x.media_type = MEDIA_TYPE_IEEE_802_3AB_GIGABIT_ETHERNET;
        x.pwr_state = 1;
        x.physical_port_number = static_cast<uint8_t>(i + 1);
        r.interfaces.push_back(x);
    }
    for (size_t ri = 0; ri < a.radios.size(); ++ri) {
        const RadioConf& radio = a.radios[ri];
        for (size_t b = 0; b < radio.bsss.size() && r.interfaces.size() < HKT_MAX_INTERFACES; ++b) {
            hkt_discovery_response_tlv::interface x;
            x.ifname = "wl" + std::to_string(ri) + "." + std::to_string(b);
            x.mac = radio.bsss[b].bssid;
            x.media_type = radio.band == Band::b24 ? MEDIA_TYPE_IEEE_802_11N_2_4_GHZ
                                                   : MEDIA_TYPE_IEEE_802_11AC_5_GHZ;
            x.pwr_state = 1;
            r.interfaces.push_back(x);
        }
    }
    r.interfaces_nr = static_cast<uint8_t>(r.interfaces.size());
    return r;
}

// Once discovered: the platform hears the agent is up, and the agent asks the gateway's
// addresses and virtual serial number.
void HktAgent::announce() {
    announced_ = true;
    hkt_ex_notification_tlv ex;
    ex.event = kExAgentUp;
    const std::string text = "hkt-up " + sim_.scenario().agents[agent_].serial;
    ex.data.assign(text.begin(), text.end());
    if (send(controller_, hkt_message_of(ex)))
        ++stats_.ex_notifications_sent;
    hkt_ip_info_query_tlv ip;
    send(controller_, hkt_message_of(ip));
    hkt_vsn_query_tlv vsn;
    send(controller_, hkt_message_of(vsn));
}

// ---- receiving ------------------------------------------------------------------------

void HktAgent::on_frame(const uint8_t* frame, size_t len) {
    if (!up())
        return;
    MAC src;
    const uint8_t* payload = nullptr;
    size_t plen = 0;
    if (!parse_1905_ethernet_frame(frame, len, src, payload, plen))
        return;
    CmduPtr cmdu = reassembler_.feed(src, payload, plen);
    reassembler_.expire();
    if (cmdu)
        handle(src, *cmdu);
}

void HktAgent::handle(const MAC& from, const CMDU& c) {
    if (c.message_type == CMDU_TYPE_1905_ACK) {
        ++stats_.acks;
        return;
    }
    if (c.message_type != CMDU_TYPE_VENDOR_SPECIFIC || !c.list_of_TLVs)
        return;
    for (size_t i = 0; c.list_of_TLVs[i]; ++i) {
        if (*c.list_of_TLVs[i] != TLV_TYPE_VENDOR_SPECIFIC)
            continue;
        const vendor_specific_tlv* v = tlv_cast<vendor_specific_tlv>(c.list_of_TLVs[i]);
        if (std::memcmp(v->vendor_oui, hkt_get_vendor_oui(), 3) != 0)
            continue;
        hktMessage* m = parse_hkt_message_from_packet(v->payload.data(), v->payload.size());
        if (!m)
            continue;
        on_hkt(from, c, m);
        free_hkt_message_structure(m);
    }
}

void HktAgent::on_hkt(const MAC& from, const CMDU& c, void* msg) {
    const AgentConf& a = sim_.scenario().agents[agent_];
    const uint8_t type = static_cast<hktMessage*>(msg)->tlv_type;
    if (sim_.options_.verbose)
        sim_.log(a.name + "/hkt <- " + from.to_string() + " " + hkt_tlv_type_to_string(type));
    switch (type) {
        case HKT_TLV_DISCOVERY_REQUEST: {
            ++stats_.discovery_requests;
            controller_ = from;
            hkt_discovery_response_tlv r = discovery_response();
            send(from, hkt_message_of(r));
            if (!announced_)
                announce();
            if (timer_ && !uv_is_active(reinterpret_cast<uv_handle_t*>(timer_))) {
                const uint64_t period = conf().heartbeat_s * 1000ull;
                uv_timer_start(timer_, on_timer, period, period);
            }
            break;
        }
        case HKT_TLV_CONFIG_REQUEST: {
            ++stats_.config_requests;
            hkt_config_response_tlv r;
            r.return_code = conf().config_code;
            r.data = conf().config_data;
            r.data_len = static_cast<uint16_t>(r.data.size());
            send(from, hkt_message_of(r));
            sim_.log(a.name + "/hkt: configuration of " +
                     std::to_string(hkt_tlv_cast<hkt_config_request_tlv>(msg)->data.size()) +
                     " bytes answered with " + std::to_string(r.return_code));
            break;
        }
        case HKT_TLV_VAPS_INFO_QUERY: {
            ++stats_.vaps_queries;
            hkt_vaps_info_response_tlv r;
            for (size_t ri = 0; ri < a.radios.size(); ++ri)
                for (size_t b = 0; b < a.radios[ri].bsss.size(); ++b) {
                    const BssConf& bss = a.radios[ri].bsss[b];
                    hkt_vaps_info_response_tlv::vap v;
                    v.vap_name = "wl" + std::to_string(ri) + "." + std::to_string(b);
                    v.bssid = bss.bssid;
                    v.ssid_len = static_cast<uint8_t>(std::min<size_t>(bss.ssid.size(), 32));
                    std::memcpy(v.ssid, bss.ssid.data(), v.ssid_len);
                    // What an M2 configured; the scenario's own BSSs are WPA2 / AES.
                    v.authentication_mode = bss.auth_type ? bss.auth_type : kAuthWpa2Psk;
                    v.encryption_mode = bss.encr_type ? bss.encr_type : kEncAes;
                    v.bss_type =
                        static_cast<uint8_t>((bss.fronthaul ? 1 : 0) | (bss.backhaul ? 2 : 0));
                    if (r.vaps.size() < HKT_MAX_VAPS)
                        r.vaps.push_back(v);
                }
            r.num_vaps = static_cast<uint8_t>(r.vaps.size());
            send(from, hkt_message_of(r));
            break;
        }
        case HKT_TLV_INTERFACES_STATISTIC_REQUEST: {
            ++stats_.statistic_requests;
            ++counter_;
            const auto* q = hkt_tlv_cast<hkt_interfaces_statistic_request_tlv>(msg);
            hkt_interfaces_statistic_response_tlv r;
            const hkt_discovery_response_tlv self = discovery_response();
            for (const MAC& m : q->interfaces) {
                bool ours = false;
                for (const auto& i : self.interfaces)
                    ours = ours || i.mac == m;
                if (!ours)
                    continue;
                hkt_interfaces_statistic_response_tlv::interface x;
                x.mac = m;
                const uint64_t k = counter_ * (1 + (m[5] & 7));
                x.stats.total_rx_bytes = k * 150000;
                x.stats.total_tx_bytes = k * 90000;
                x.stats.total_rx_packets = k * 120;
                x.stats.total_tx_packets = k * 80;
                x.stats.unicast_rx_packets = k * 110;
                x.stats.unicast_tx_packets = k * 75;
                x.stats.multicast_rx_packets = k * 6;
                x.stats.multicast_tx_packets = k * 3;
                x.stats.broadcast_rx_packets = k * 4;
                x.stats.broadcast_tx_packets = k * 2;
                x.stats.rx_errors = counter_ / 10;
                x.stats.tx_errors = counter_ / 20;
                r.interfaces.push_back(x);
            }
            r.num_interfaces = static_cast<uint8_t>(r.interfaces.size());
            send(from, hkt_message_of(r));
            break;
        }
        case HKT_TLV_PORT_INFO_REQUEST: {
            ++stats_.port_requests;
            const auto* q = hkt_tlv_cast<hkt_port_info_request_tlv>(msg);
            hkt_port_info_response_tlv r;
            r.port_mac = q->port_mac;
            r.result_code = 1;
            for (size_t i = 0; i < a.ethernet.size(); ++i)
                if (a.ethernet[i].mac == q->port_mac) {
                    r.result_code = 0;
                    r.power_state = 1;
                    r.speed = 1000;
                    r.port_number = static_cast<uint16_t>(i + 1);
                }
            send(from, hkt_message_of(r));
            break;
        }
        case HKT_TLV_BACKHAUL_INFORMATION_NOTIFY:
            ++stats_.backhaul_notifies;
            backhaul_ = *hkt_tlv_cast<hkt_backhaul_information_notify_tlv>(msg);
            break;
        case HKT_TLV_WIFI_RADIO_SPECIAL_CFG_REQUEST:
            ++stats_.radio_cfg_requests;
            radio_cfg_ = *hkt_tlv_cast<hkt_wifi_radio_special_cfg_request_tlv>(msg);
            break;
        case HKT_TLV_FACTORY_RESET_REQUEST:
            ++stats_.factory_resets;
            sim_.log(a.name + "/hkt: factory reset requested for sn " +
                     hkt_tlv_cast<hkt_factory_reset_request_tlv>(msg)->serial_number);
            break;
        case HKT_TLV_UNASSOC_STA_METRICS_QUERY: {
            ++stats_.unassoc_queries;
            // The vendor agent has its Multi-AP agent measure; the agent reports as usual.
            const auto* q = hkt_tlv_cast<hkt_unassoc_sta_metrics_query_tlv>(msg);
            CmduPtr query = CmduBuilder(CMDU_TYPE_UNASSOCIATED_STA_LINK_METRICS_QUERY, c.message_id)
                                .add(q->query)
                                .build();
            if (query)
                sim_.send(agent_, from,
                          sim_.unassoc_sta_metrics_response(agent_, sim_.next_mid(agent_), *query));
            break;
        }
        case HKT_TLV_BH_VAP_8BYTE_REQUEST:
            ++stats_.bh_vap_requests;
            sim_.log(
                a.name + "/hkt: legacy backhaul VAP (bh_vap) " +
                (hkt_tlv_cast<hkt_bh_vap_8byte_request_tlv>(msg)->enabled ? "opened" : "closed"));
            break;
        case HKT_TLV_IP_CHANGE_NOTIFICATION_REQUEST:
            ++stats_.ip_change_requests;
            break;
        case HKT_TLV_IP_INFO_RESPONSE:
            ++stats_.ip_info_responses;
            break;
        case HKT_TLV_VSN_RESPONSE:
            ++stats_.vsn_responses;
            vsn_ = hkt_tlv_cast<hkt_vsn_response_tlv>(msg)->vsn;
            break;
        default:
            break;
    }
}

}  // namespace meshsim
