// The vendor agent minder over the shared mesh fixture (support/mesh_stack.h), with stand-in
// vendor agents (each its own MAC and transport on the segment) that record what the
// controller sends them and send real HKT frames back. Timers are fired by calling their work
// after checking that they run.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/cmdu_registry.h"
#include "map/codec/cmdu_alloc.h"
#include "map/codec/codec.h"
#include "map/codec/tlv_types.h"
#include "map/codec/wsc.h"
#include "map/transport/segment_transport.h"
#include "support/mesh_stack.h"

namespace hkt_test {

inline MAC mac(uint8_t a, uint8_t b) {
    return MAC(0x02, 0x6f, 0, 0, a, b);
}

const MAC kController = mac(0x00, 0x00);
const MAC kLocal = mac(0x01, 0x00);  // the gateway's own agent
// Extenders' Multi-AP agents and their vendor agents; PLAIN has no vendor agent.
const MAC kExt = mac(0x02, 0x00);
const MAC kExtHkt = mac(0x02, 0xe0);
const MAC kFar = mac(0x03, 0x00);
const MAC kFarHkt = mac(0x03, 0xe0);
const MAC kPlain = mac(0x04, 0x00);

// One message the peer received.
struct Got {
    uint16_t message_type = 0;
    uint16_t mid = 0;
    bool relay = false;
    MAC dst;
    uint8_t hkt_type = 0;      // 0: not an HKT message
    std::vector<uint8_t> hkt;  // the HKT TLV
    CmduPtr cmdu;
};

// A vendor agent (or a Multi-AP agent) on the segment: its own transport with MAC = its HKT
// (or AL) MAC.
class Peer {
  public:
    Peer(uv_loop_t* loop, const MAC& hkt_mac, const std::string& segment) : mac_(hkt_mac) {
        TransportOptions topt;
        topt.al_mac = hkt_mac;
        t_ = std::make_unique<SegmentTransport>(
            std::vector<TransportInterface>{{"peer", hkt_mac, segment, 0}}, topt);
        std::string err;
        EXPECT_EQ(t_->open(
                      loop, [this](size_t, const uint8_t* f, size_t n) { on_frame(f, n); }, &err),
                  0)
            << err;
    }
    ~Peer() { t_->close(); }
    const MAC& mac() const { return mac_; }

    // Sends RECORD to the controller in a Vendor Specific message.
    template <class T>
    void send(T& record, uint16_t mid = 0) {
        hktMessage m = hkt_message_of(record);
        vendor_specific_tlv v;
        ASSERT_TRUE(forge_hkt_vendor_tlv(&m, v));
        send_tlv(v, mid);
    }
    void send_tlv(const vendor_specific_tlv& v, uint16_t mid = 0) {
        CmduPtr c = CmduBuilder(CMDU_TYPE_VENDOR_SPECIFIC, mid ? mid : ++mid_).add(v).build();
        send_cmdu(*c);
    }
    void send_cmdu(const CMDU& c) {
        std::vector<std::vector<uint8_t>> frags;
        ASSERT_TRUE(encode_1905_CMDU(c, frags));
        std::vector<uint8_t> frame;
        for (const auto& f : frags) {
            build_1905_ethernet_frame(kController, mac_, f, frame);
            t_->send(0, frame.data(), frame.size());
        }
    }
    size_t count(uint8_t hkt_type) const {
        return std::count_if(got.begin(), got.end(),
                             [&](const Got& g) { return g.hkt_type == hkt_type; });
    }
    size_t count_cmdu(uint16_t type) const {
        return std::count_if(got.begin(), got.end(),
                             [&](const Got& g) { return g.message_type == type; });
    }
    // The CMDUs of TYPE sent to this peer's own MAC.
    std::vector<const CMDU*> of(uint16_t type) const {
        std::vector<const CMDU*> out;
        for (const Got& g : got)
            if (g.message_type == type && g.dst == mac_)
                out.push_back(g.cmdu.get());
        return out;
    }
    // The record of the last HKT message of type T (a failure and an empty record when none).
    template <class T>
    T last() const {
        const uint8_t type = hkt_record_type<T>::value;
        for (auto it = got.rbegin(); it != got.rend(); ++it)
            if (it->hkt_type == type) {
                hktMessage* m = parse_hkt_message_from_packet(it->hkt.data(), it->hkt.size());
                const T* record = hkt_tlv_cast<T>(m);
                T out = record ? *record : T{};
                EXPECT_NE(record, nullptr) << "HKT message " << int(type) << " unparsable";
                free_hkt_message_structure(m);
                return out;
            }
        ADD_FAILURE() << "no HKT message " << int(type);
        return T{};
    }

    std::vector<Got> got;

  private:
    void on_frame(const uint8_t* frame, size_t len) {
        MAC src;
        const uint8_t* payload = nullptr;
        size_t plen = 0;
        if (len < 6 || !parse_1905_ethernet_frame(frame, len, src, payload, plen))
            return;
        CmduPtr c = r_.feed(src, payload, plen);
        if (!c)
            return;
        Got g;
        g.message_type = c->message_type;
        g.mid = c->message_id;
        g.relay = c->relay_indicator != 0;
        g.dst = MAC(frame);
        if (c->message_type == CMDU_TYPE_VENDOR_SPECIFIC && c->list_of_TLVs && c->list_of_TLVs[0] &&
            *c->list_of_TLVs[0] == TLV_TYPE_VENDOR_SPECIFIC) {
            const auto* v = tlv_cast<vendor_specific_tlv>(c->list_of_TLVs[0]);
            g.hkt = v->payload;
            g.hkt_type = v->payload.empty() ? 0 : v->payload[0];
        }
        g.cmdu = std::move(c);
        got.push_back(std::move(g));
    }
    MAC mac_;
    std::unique_ptr<Transport> t_;
    CmduReassembler r_;
    uint16_t mid_ = 0x700;
};

// The discovery response an extender's vendor agent gives.
inline hkt_discovery_response_tlv make_discovery(const std::string& sn, const MAC& agent,
                                                 uint32_t minders = 0x7) {
    hkt_discovery_response_tlv r;
    r.capabilities_version = 1;
    r.hkt_version = 3;
    r.config_number = 4;
    r.model_number = "EXT-9";
    r.serial_number = sn;
    r.system_mac = MAC(agent[0], agent[1], agent[2], agent[3], agent[4], 0x01);
    r.collocated_map_agent_mac = agent;
    hkt_ipv4_from_string("192.168.1.23", r.addresses.ipv4);
    r.hostname = "hall";
    r.sw_version = "2.4.1";
    r.vendor = "Maker";
    r.product_class = "extender";
    r.minders_present = minders;
    r.interfaces = {{"wan0", r.system_mac, 1, 1, 4}};  // Ethernet, powered, port 4
    return r;
}

// VAP N ("wlN", BSSID 02:6f:00:00:02:3N) of an extender's VAP report.
inline hkt_vaps_info_response_tlv::vap vap(const char* ssid, uint8_t bss_type, int n,
                                           uint16_t auth = 0x0020, uint16_t encr = 0x0008) {
    hkt_vaps_info_response_tlv::vap v;
    v.vap_name = "wl" + std::to_string(n);
    v.bssid = BSSID(mac(0x02, static_cast<uint8_t>(0x30 + n)));
    v.ssid_len = static_cast<uint8_t>(std::strlen(ssid));
    std::memcpy(v.ssid, ssid, v.ssid_len);
    v.authentication_mode = auth;
    v.encryption_mode = encr;
    v.bss_type = bss_type;
    return v;
}

// The minders over the started stack, with the vendor agents' stand-ins.
inline ozr_test::MeshOptions hkt_options(uint16_t port) {
    ozr_test::MeshOptions o;
    o.port = port;
    o.clock_ms = 9000000;
    o.controller = kController;
    o.local = kLocal;
    o.platform = ", \"virtual-serial-number\": \"GWVSN77\"";
    return o;
}

class HktFixture : public ozr_test::MeshStack {
  protected:
    explicit HktFixture(uint16_t port = 23411) : MeshStack(hkt_options(port)) {}
    // The segment's port: the constructor's, or a derived fixture's own.
    virtual uint16_t port() const { return opt_.port; }
    void SetUp() override {
        opt_.port = port();
        MeshStack::SetUp();
        if (ctx_)
            hkt_ = ctx_->hkt_mgmt_minder;
    }
    void TearDown() override {
        peers_.clear();
        MeshStack::TearDown();
    }

    Peer& peer(const MAC& hkt_mac) {
        peers_.push_back(std::make_unique<Peer>(&loop_, hkt_mac, segment_));
        return *peers_.back();
    }
    static hkt_discovery_response_tlv discovery(const std::string& sn, const MAC& agent,
                                                uint32_t minders = 0x7) {
        return make_discovery(sn, agent, minders);
    }
    // The extender's Multi-AP agent as the stack and the graph know it, its backhaul up.
    void agent_present(const MAC& agent, bool backhaul_up = true) {
        map_ale_info_t* a = map_update_ale(agent);
        ASSERT_NE(a, nullptr);
        map_update_ale_iface_name(a, "ozr0");
        Device* d = ctx_->graph_minder->on_heard_about_device(agent);
        ASSERT_NE(d, nullptr);
        d->backhaul.local_ale = agent;
        d->backhaul.is_backhaul_connected = backhaul_up;
    }
    // Discovered (from PEER), configured and heard: online.
    HktNode* online_node(Peer& p, const std::string& sn, const MAC& agent, uint32_t minders = 0x7) {
        agent_present(agent);
        hkt_discovery_response_tlv r = discovery(sn, agent, minders);
        p.send(r);
        EXPECT_TRUE(run_until([&] { return hkt_->find_hkt(p.mac()) != nullptr; }));
        HktNode* n = hkt_->find_hkt(p.mac());
        if (!n)
            return nullptr;
        hkt_->check_ap_status(n);
        hkt_heartbeat_tlv hb{60};
        p.send(hb);
        EXPECT_TRUE(run_until([&] { return n->is_online; }));
        return n;
    }

    // Whether the log holds LINE.
    bool said(const std::string& line) const { return log().find(line) != std::string::npos; }

    HktMgmtMinder* hkt_ = nullptr;
    // The stack's tree: the gateway's agent, EXT and PLAIN under it, FAR behind EXT.
    void tree() {
        auto set = [](const MAC& a, std::vector<MAC> n) {
            std::vector<map_neighbor_info_t> v(n.size());
            for (size_t i = 0; i < n.size(); ++i) {
                v[i].local_interface = a;
                v[i].al_mac = n[i];
            }
            ASSERT_EQ(
                map_update_ale_neighbors(map_update_ale(a), v.data(), static_cast<int>(v.size())),
                0);
        };
        set(kLocal, {kController, kExt, kPlain});
        set(kExt, {kLocal, kFar});
        set(kPlain, {kLocal});
        set(kFar, {kExt});
        ASSERT_EQ(map_get_topology_tree_height(), 3);
    }

    std::vector<std::unique_ptr<Peer>> peers_;
};

}  // namespace hkt_test
