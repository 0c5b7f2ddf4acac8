#include "minder_harness.h"

#include <gtest/gtest.h>

#include <cstring>

#include "common/clock.h"
#include "map/al/stack.h"
#include "map/callbacks.h"
#include "map/codec/codec.h"
#include "map/datamodel/datamodel.h"
#include "support/loop.h"

namespace minder_test {

const MAC Macs::root(0x02, 0, 0, 0, 0x00, 0x01);
const MAC Macs::local(0x02, 0, 0, 0, 0x00, 0x02);
const MAC Macs::e1(0x02, 0, 0, 0, 0x03, 0x00);
const MAC Macs::e2(0x02, 0, 0, 0, 0x04, 0x00);
const MAC Macs::root_eth(0x02, 0, 0, 0, 0x10, 0x01);
const MAC Macs::local_eth(0x02, 0, 0, 0, 0x20, 0x01);
const MAC Macs::local_eth2(0x02, 0, 0, 0, 0x20, 0x02);
const MAC Macs::e1_eth(0x02, 0, 0, 0, 0x30, 0x01);
const MAC Macs::e1_lan(0x02, 0, 0, 0, 0x30, 0x02);
const MAC Macs::e2_bsta(0x02, 0, 0, 0, 0x40, 0x04);
const MAC Macs::local_radio(0x02, 0, 0, 0, 0x20, 0x50);
const MAC Macs::e1_radio(0x02, 0, 0, 0, 0x30, 0x50);
const MAC Macs::e2_radio(0x02, 0, 0, 0, 0x40, 0x50);
const BSSID Macs::local_fh(MAC(0x02, 0, 0, 0, 0x20, 0x05));
const BSSID Macs::local_bh(MAC(0x02, 0, 0, 0, 0x20, 0x06));
const BSSID Macs::e1_fh(MAC(0x02, 0, 0, 0, 0x30, 0x05));
const BSSID Macs::e1_bh(MAC(0x02, 0, 0, 0, 0x30, 0x06));
const BSSID Macs::e2_fh(MAC(0x02, 0, 0, 0, 0x40, 0x05));
const MAC Macs::c1(0x5c, 0, 0, 0, 0, 0x01);
const MAC Macs::c2(0x5c, 0, 0, 0, 0, 0x02);
const MAC Macs::wired(0x5c, 0, 0, 0, 0, 0x0a);

device_information_tlv::local_interface eth_if(const MAC& m) {
    return {m, MEDIA_TYPE_IEEE_802_3AB_GIGABIT_ETHERNET, 0, {}, {}, {}};
}

device_information_tlv::local_interface wifi_if(const MAC& m, const BSSID& bss, uint8_t role) {
    return {m, MEDIA_TYPE_IEEE_802_11AX, IEEE80211_MEDIA_INFO_LEN, {bss, role, 1, 42, 0}, {}, {}};
}

Harness::Harness() : cap_(root_, 7) {
    ozr_clock::set_manual(1000000);
    // The stack (not started) answers the local AL MACs from its configuration.
    MapStackConfig config = map_stack_default_config();
    config.al_mac = Macs::root;
    config.agent_al_mac = Macs::local;
    map_stack_set_config(config);
    EXPECT_EQ(map_datamodel_init(Macs::root, Macs::local), 0);
    const uint8_t bh[] = {'b', 'h'};
    map_set_backhaul_ssid(bh, sizeof bh);
    EXPECT_EQ(uv_loop_init(&loop_), 0);
    ctx_ = new Context(&loop_);
    EXPECT_TRUE(ctx_->graph_minder->init(*ctx_).ok());
}

Harness::~Harness() {
    delete ctx_;
    ozr_test::close_loop(&loop_);
    map_datamodel_reset();
    map_set_backhaul_ssid(nullptr, 0);
    map_stack_set_config(map_stack_default_config());
    ozr_clock::use_real();
}

void Harness::feed(CmduBuilder& b, const MAC& src) {
    CmduPtr built = b.build();
    ASSERT_NE(built, nullptr) << "the builder refused a record";
    feed(*built, src);
}

void Harness::feed(const CMDU& built, const MAC& src) {
    std::vector<std::vector<uint8_t>> fragments;
    ASSERT_TRUE(encode_1905_CMDU(built, fragments, 1u << 20));
    ASSERT_EQ(fragments.size(), 1u);
    CmduPtr rx = decode_1905_CMDU(fragments[0].data(), fragments[0].size(), &src);
    ASSERT_NE(rx, nullptr) << "the codec refused its own encoding";
    map_update_from_cmdu(rx.get());
    map_dispatch_cmdu(rx.get());
}

CmduPtr topology_cmdu(const Topo& t, uint16_t mid) {
    CmduBuilder b(CMDU_TYPE_TOPOLOGY_RESPONSE, mid);
    b.source(t.al);
    device_information_tlv di;
    di.al_mac_address = t.al;
    di.local_interfaces = t.ifs;
    di.num_local_interfaces = static_cast<uint8_t>(t.ifs.size());
    b.add(di);
    for (const auto& n : t.neighbors) {
        neighbor_device_list_tlv nl{TLV_TYPE_NEIGHBOR_DEVICE_LIST, n.first, {}};
        for (const MAC& m : n.second)
            nl.neighbors.push_back({m, 0});
        b.add(nl);
    }
    for (const auto& n : t.non1905)
        b.add(non_1905_neighbor_device_list_tlv{TLV_TYPE_NON_1905_NEIGHBOR_DEVICE_LIST, n.first,
                                                n.second});
    if (!t.radios.empty()) {
        ap_operational_bss_tlv ob;
        for (const auto& r : t.radios) {
            ap_operational_bss_tlv::radio radio;
            radio.radio_id = r.first;
            for (const auto& bs : r.second) {
                ap_operational_bss_tlv::bss x;
                x.bssid = bs.first;
                x.ssid_len = static_cast<uint8_t>(bs.second.size());
                std::memcpy(x.ssid, bs.second.data(), bs.second.size());
                radio.bsss.push_back(x);
            }
            radio.num_bss = static_cast<uint8_t>(radio.bsss.size());
            ob.radios.push_back(radio);
        }
        ob.num_radios = static_cast<uint8_t>(ob.radios.size());
        b.add(ob);
    }
    if (!t.clients.empty()) {
        associated_clients_tlv ac;
        for (const auto& c : t.clients) {
            associated_clients_tlv::bss bss;
            bss.bssid = c.first;
            for (const MAC& m : c.second)
                bss.clients.push_back({m, 10});
            bss.num_clients = static_cast<uint16_t>(bss.clients.size());
            ac.bsss.push_back(bss);
        }
        ac.num_bss = static_cast<uint8_t>(ac.bsss.size());
        b.add(ac);
    }
    return b.build();
}

void Harness::topology(const Topo& t) {
    CmduPtr c = topology_cmdu(t, mid_++);
    ASSERT_NE(c, nullptr);
    feed(*c, t.al);
}

CmduPtr ap_caps_cmdu(const MAC& radio, bool unassoc_on, bool unassoc_off, uint16_t mid) {
    CmduBuilder b(CMDU_TYPE_AP_CAPABILITY_REPORT, mid);
    b.add(ap_capability_tlv{TLV_TYPE_AP_CAPABILITY, static_cast<uint8_t>(unassoc_on ? 1 : 0),
                            static_cast<uint8_t>(unassoc_off ? 1 : 0), 0});
    b.add(ap_radio_basic_capabilities_tlv{
        TLV_TYPE_AP_RADIO_BASIC_CAPABILITY, radio, 2, 1, {{115, 20, 0, {}}}});
    return b.build();
}

void Harness::ap_caps(const MAC& device, const MAC& radio, bool unassoc_on, bool unassoc_off) {
    CmduPtr c = ap_caps_cmdu(radio, unassoc_on, unassoc_off, mid_++);
    ASSERT_NE(c, nullptr);
    feed(*c, device);
}

void Harness::operating_channel(const MAC& device, const MAC& radio, uint8_t op_class,
                                uint8_t channel) {
    CmduBuilder b(CMDU_TYPE_OPERATING_CHANNEL_REPORT, mid_++);
    b.add(operating_channel_report_tlv{
        TLV_TYPE_OPERATING_CHANNEL_REPORT, radio, 1, {{op_class, channel}}, 20});
    feed(b, device);
}

void Harness::assoc_metrics(const MAC& device, const MAC& sta, const BSSID& bssid, uint8_t rcpi) {
    CmduBuilder b(CMDU_TYPE_ASSOCIATED_STA_LINK_METRICS_RESPONSE, mid_++);
    b.add(associated_sta_link_metrics_tlv{
        TLV_TYPE_ASSOCIATED_STA_LINK_METRICS, sta, 1, {{bssid, 10, 866, 600, rcpi}}});
    feed(b, device);
}

void Harness::unassoc_metrics(const MAC& device, uint8_t op_class, const MAC& sta, uint8_t channel,
                              uint32_t delta_ms, uint8_t rcpi) {
    CmduBuilder b(CMDU_TYPE_UNASSOCIATED_STA_LINK_METRICS_RESPONSE, mid_++);
    b.add(unassociated_sta_link_metrics_response_tlv{
        TLV_TYPE_UNASSOCIATED_STA_METRICS_RESPONSE, op_class, 1, {{sta, channel, delta_ms, rcpi}}});
    feed(b, device);
}

void Harness::notification(const MAC& device, const MAC& sta, const BSSID& bssid, bool join) {
    CmduBuilder b(CMDU_TYPE_TOPOLOGY_NOTIFICATION, mid_++);
    b.add(al_mac_address_tlv{TLV_TYPE_AL_MAC_ADDRESS_TYPE, device})
        .add(client_association_event_tlv{TLV_TYPE_CLIENT_ASSOCIATION_EVENT, sta, bssid,
                                          static_cast<uint8_t>(join ? 1 : 0)});
    feed(b, device);
}

void Harness::discovery(const MAC& al, const MAC& ifc) {
    CmduBuilder b(CMDU_TYPE_TOPOLOGY_DISCOVERY, mid_++);
    b.add(al_mac_address_tlv{TLV_TYPE_AL_MAC_ADDRESS_TYPE, al})
        .add(mac_address_tlv{TLV_TYPE_MAC_ADDRESS_TYPE, ifc});
    feed(b, al);
}

std::vector<Topo> scripted_topologies(bool with_e2, bool c1_on_e1) {
    using M = Macs;
    Topo root;
    root.al = M::root;
    root.ifs = {eth_if(M::root_eth)};
    root.neighbors = {{M::root_eth, {M::local}}};

    Topo local;
    local.al = M::local;
    local.ifs = {eth_if(M::local_eth), eth_if(M::local_eth2),
                 wifi_if(MAC(M::local_fh), M::local_fh, IEEE80211_ROLE_AP)};
    local.neighbors = {{M::local_eth, {M::root}}, {M::local_eth2, {M::e1}}};
    // The local agent's bridge learns the wired client behind E1 on its port towards E1.
    local.non1905 = {{M::local_eth2, {M::wired}}};
    local.radios = {{M::local_radio, {{M::local_fh, "home"}, {M::local_bh, "bh"}}}};
    if (!c1_on_e1)
        local.clients = {{M::local_fh, {M::c1}}};

    Topo e1;
    e1.al = M::e1;
    e1.ifs = {eth_if(M::e1_eth), eth_if(M::e1_lan), wifi_if(MAC(M::e1_bh), M::e1_bh, 0)};
    e1.neighbors = {{M::e1_eth, {M::local}}};
    e1.non1905 = {{M::e1_lan, {M::wired}}};
    e1.radios = {{M::e1_radio, {{M::e1_fh, "home"}, {M::e1_bh, "bh"}}}};
    if (with_e2) {
        e1.neighbors.push_back({MAC(M::e1_bh), {M::e2}});
        e1.clients = {{M::e1_bh, {M::e2_bsta}}};
    }
    if (c1_on_e1)
        e1.clients.push_back({M::e1_fh, {M::c1}});

    if (with_e2) {
        Topo e2;
        e2.al = M::e2;
        e2.ifs = {wifi_if(M::e2_bsta, M::e1_bh, IEEE80211_ROLE_NON_AP_STA),
                  wifi_if(MAC(M::e2_fh), M::e2_fh, IEEE80211_ROLE_AP)};
        e2.neighbors = {{M::e2_bsta, {M::e1}}};
        e2.radios = {{M::e2_radio, {{M::e2_fh, "home"}}}};
        e2.clients = {{M::e2_fh, {M::c2}}};
        return {root, local, e1, e2};
    }
    return {root, local, e1};
}

void topology_round(Harness& h, bool with_e2, bool c1_on_e1) {
    for (const Topo& t : scripted_topologies(with_e2, c1_on_e1))
        h.topology(t);
}

void capabilities(Harness& h) {
    using M = Macs;
    h.ap_caps(M::local, M::local_radio, true, true);
    h.ap_caps(M::e1, M::e1_radio, true, true);
    h.ap_caps(M::e2, M::e2_radio, true, false);
    h.operating_channel(M::local, M::local_radio, 115, 36);
    h.operating_channel(M::e1, M::e1_radio, 115, 44);
    h.operating_channel(M::e2, M::e2_radio, 115, 48);
}

}  // namespace minder_test
