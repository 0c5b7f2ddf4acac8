#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "decoder_test_util.h"
#include "messages/decoders.h"

using testing::ElementsAre;
using testing::IsEmpty;

namespace {

const MAC kAl(0x02, 0x00, 0x00, 0x00, 0x00, 0x01);
const MAC kAl2(0x02, 0x00, 0x00, 0x00, 0x00, 0x02);
const MAC kIf(0x02, 0x00, 0x00, 0x00, 0x01, 0x01);
const MAC kClient(0x5c, 0x11, 0x22, 0x33, 0x44, 0x55);
const BSSID kBss(0x02, 0x00, 0x00, 0x00, 0x0b, 0x01);

al_mac_address_tlv al(const MAC& m) {
    return al_mac_address_tlv{TLV_TYPE_AL_MAC_ADDRESS_TYPE, m};
}
mac_address_tlv mac(const MAC& m) {
    return mac_address_tlv{TLV_TYPE_MAC_ADDRESS_TYPE, m};
}
vendor_specific_tlv vendor() {
    vendor_specific_tlv t;
    t.vendor_oui[1] = 0x11;
    t.vendor_oui[2] = 0x22;
    t.payload = {1, 2, 3};
    return t;
}

device_information_tlv::local_interface wifi_if(const MAC& m, const BSSID& bss) {
    return {m,
            MEDIA_TYPE_IEEE_802_11AX,
            IEEE80211_MEDIA_INFO_LEN,
            {bss, IEEE80211_ROLE_AP, 2, 42, 0},
            {},
            {}};
}

device_information_tlv device_info(const MAC& al_mac,
                                   std::vector<device_information_tlv::local_interface> ifs) {
    const auto n = static_cast<uint8_t>(ifs.size());
    return device_information_tlv{TLV_TYPE_DEVICE_INFORMATION_TYPE, al_mac, n, std::move(ifs)};
}

// ---- Topology Discovery ------------------------------------------------------------

// Both addresses give a record without a line; a missing or all-zero one is a warning and an
// empty (zero-filled) result; a repeated one warns and the last wins, but a zero first is no
// repeat; an unexpected TLV is an info line naming its type. Each line goes to the root logger
// and, under the function's name, to the platform log.
TEST(ParseDiscovery, MissingRepeatedAndUnexpectedTlvs) {
    unknown_tlv odd;
    odd.tlv_type = 0xfe;
    odd.value = {9, 9};
    const std::string w = "warn parse_discovery ", i = "info parse_discovery ";
    struct Case {
        std::function<void(CmduBuilder&)> tlvs;
        MAC al, mac;  // zero: no record
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {[](CmduBuilder& b) { b.add(al(kAl)).add(mac(kIf)).add(vendor()); }, kAl, kIf, {}},
        {[](CmduBuilder& b) { b.add(al(kAl)); },
         MAC::zero,
         MAC::zero,
         {w + "TLV_TYPE_MAC_ADDRESS_TYPE is missing"}},
        {[](CmduBuilder& b) { b.add(vendor()); },
         MAC::zero,
         MAC::zero,
         {w + "TLV_TYPE_AL_MAC_ADDRESS_TYPE is missing",
          w + "TLV_TYPE_MAC_ADDRESS_TYPE is missing"}},
        {[](CmduBuilder& b) { b.add(al(MAC::zero)).add(mac(kIf)); },
         MAC::zero,
         MAC::zero,
         {w + "TLV_TYPE_AL_MAC_ADDRESS_TYPE is missing"}},
        {[](CmduBuilder& b) { b.add(al(kAl)).add(mac(kIf)).add(al(kAl2)).add(mac(kClient)); },
         kAl2,
         kClient,
         {w + "received multiple TLV_TYPE_AL_MAC_ADDRESS_TYPE",
          w + "received multiple TLV_TYPE_MAC_ADDRESS_TYPE"}},
        {[](CmduBuilder& b) { b.add(al(MAC::zero)).add(al(kAl)).add(mac(kIf)); }, kAl, kIf, {}},
        {[&](CmduBuilder& b) { b.add(searched_role_tlv{}).add(al(kAl)).add(odd).add(mac(kIf)); },
         kAl,
         kIf,
         {i + "received unexpected TLV_TYPE_SEARCHED_ROLE (13)",
          i + "received unexpected " + convert_1905_TLV_type_to_string(0xfe) + " (254)"}},
    };
    for (const Case& c : cases) {
        LogCapture log;
        CmduBuilder b(CMDU_TYPE_TOPOLOGY_DISCOVERY, 7);
        c.tlvs(b);
        auto r = parse_discovery(wire(b).get());
        const std::string first = c.lines.empty() ? "" : c.lines[0];
        EXPECT_EQ(bool(r), !c.al.is_zero()) << first;
        EXPECT_EQ(r.value().al_mac, c.al) << first;
        EXPECT_EQ(r.value().mac, c.mac) << first;
        EXPECT_EQ(log.root_lines(), c.lines);
        std::vector<std::string> platform;
        for (const std::string& l : c.lines)
            platform.push_back(l.substr(0, 21) + "parse_discovery " + l.substr(21));
        EXPECT_EQ(log.platform_lines(), platform);
    }
    LogCapture log;
    EXPECT_FALSE(parse_discovery(nullptr));
    CMDU bare;
    EXPECT_FALSE(parse_discovery(&bare));
    EXPECT_EQ(log.at("warn").size(), 4u);
}

// The walk reads at most 255 records: one placed 256th is never seen.
TEST(TlvWalk, StopsAtTheNullEntryAndAfter255Records) {
    for (int fillers : {254, 255}) {
        LogCapture log;
        CmduBuilder b(CMDU_TYPE_TOPOLOGY_NOTIFICATION, 1);
        for (int i = 0; i < fillers; ++i)
            b.add(vendor());
        b.add(al(kAl));
        auto r = parse_topology_notification(b.get());
        EXPECT_EQ(r.has_value(), fillers == 254) << fillers;
    }
}

// ---- Topology Notification ---------------------------------------------------------

TEST(ParseTopologyNotification, WithAndWithoutAClientAssociationEvent) {
    {
        LogCapture log;
        CmduBuilder b(CMDU_TYPE_TOPOLOGY_NOTIFICATION, 3);
        b.add(al(kAl));
        auto r = parse_topology_notification(wire(b).get());
        ASSERT_TRUE(r);
        EXPECT_EQ(std::tie(r->al_mac, r->has_client_association_event, r->client_mac, r->bssid),
                  std::make_tuple(kAl, false, MAC::zero, BSSID::zero));
        EXPECT_THAT(log.root_lines(), IsEmpty());
    }
    {
        LogCapture log;
        CmduBuilder b(CMDU_TYPE_TOPOLOGY_NOTIFICATION, 3);
        b.add(client_association_event_tlv{TLV_TYPE_CLIENT_ASSOCIATION_EVENT, kAl2, kBss, 0})
            .add(client_association_event_tlv{TLV_TYPE_CLIENT_ASSOCIATION_EVENT, kClient, kBss, 1})
            .add(al(kAl));
        auto r = parse_topology_notification(wire(b).get());
        ASSERT_TRUE(r);
        // The later event, without a line.
        EXPECT_EQ(std::tie(r->has_client_association_event, r->client_mac, r->bssid,
                           r->association_event),
                  std::make_tuple(true, kClient, kBss, 1));
        EXPECT_THAT(log.root_lines(), IsEmpty());
    }
}

TEST(ParseTopologyNotification, VendorTlvIsUnexpectedAndTheAlMacMandatory) {
    LogCapture log;
    CmduBuilder b(CMDU_TYPE_TOPOLOGY_NOTIFICATION, 3);
    b.add(vendor()).add(al(kAl)).add(al(kAl2));
    auto r = parse_topology_notification(wire(b).get());
    ASSERT_TRUE(r);
    EXPECT_EQ(r->al_mac, kAl2);
    EXPECT_THAT(log.root_lines(),
                ElementsAre("info parse_topology_notification received unexpected "
                            "TLV_TYPE_VENDOR_SPECIFIC (11)",
                            "warn parse_topology_notification received multiple "
                            "TLV_TYPE_AL_MAC_ADDRESS_TYPE"));

    EXPECT_THAT(
        refused(CmduBuilder(CMDU_TYPE_TOPOLOGY_NOTIFICATION, 3).add(client_association_event_tlv{}),
                parse_topology_notification),
        ElementsAre("warn parse_topology_notification TLV_TYPE_AL_MAC_ADDRESS_TYPE is "
                    "missing"));
}

// ---- Topology Response ---------------------------------------------------------------

TEST(ParseTopology, DeviceInformationAloneGivesAnEmptyTopology) {
    LogCapture log;
    CmduBuilder b(CMDU_TYPE_TOPOLOGY_RESPONSE, 9);
    b.add(device_info(kAl, {wifi_if(kIf, kBss)}));
    auto r = parse_topology(wire(b).get());
    ASSERT_TRUE(r);
    EXPECT_EQ(r->al_mac, kAl);
    ASSERT_EQ(r->local_interfaces.size(), 1u);
    EXPECT_THAT(r->non_1905_neighbors, IsEmpty());
    EXPECT_THAT(r->neighbors, IsEmpty());
    EXPECT_THAT(r->radios, IsEmpty());
    EXPECT_THAT(r->associated_clients, IsEmpty());
    EXPECT_FALSE(r->has_associated_clients);
    EXPECT_EQ(r->multiap_profile, 1);
    EXPECT_THAT(log.root_lines(), IsEmpty());
}

TEST(ParseTopology, FullResponseIsCopiedInOrderAndOutlivesTheCmdu) {
    LogCapture log;
    optional<TopologyResponseMesg> r;
    {
        CmduBuilder b(CMDU_TYPE_TOPOLOGY_RESPONSE, 9);
        b.add(device_info(kAl, {wifi_if(kIf, kBss)}));
        b.add(device_bridging_capability_tlv{});
        b.add(non_1905_neighbor_device_list_tlv{
            TLV_TYPE_NON_1905_NEIGHBOR_DEVICE_LIST, kIf, {kClient, kAl2}});
        b.add(non_1905_neighbor_device_list_tlv{TLV_TYPE_NON_1905_NEIGHBOR_DEVICE_LIST, kIf, {}});
        b.add(neighbor_device_list_tlv{
            TLV_TYPE_NEIGHBOR_DEVICE_LIST, kIf, {{kAl2, 1}, {kClient, 0}}});
        b.add(supported_service_tlv{TLV_TYPE_SUPPORTED_SERVICE, 1, {MAP_SERVICE_AGENT}});
        b.add(vendor());
        const ap_operational_bss_tlv::bss whole{
            kBss, 32, {'h', 'o', 'm', 'e', 0,   'x', 'y', 'z', 'A', 'B', 'C',
                       'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N',
                       'O', 'P', 'Q', 'R', 'S', 'T', 'U', 'V', 'W', '!'}};
        b.add(ap_operational_bss_tlv{
            TLV_TYPE_AP_OPERATIONAL_BSS, 1, {{kAl2, 2, {whole, {kBss, 0, {}}}}}});
        b.add(associated_clients_tlv{
            TLV_TYPE_ASSOCIATED_STA_TLV, 1, {{kBss, 1, {{kClient, 65535}}}}});
        b.add(multiap_profile_tlv{TLV_TYPE_MULTIAP_PROFILE, 3});
        r = parse_topology(wire(b).get());
    }
    ASSERT_TRUE(r);
    ASSERT_EQ(r->non_1905_neighbors.size(), 2u);
    EXPECT_EQ(r->non_1905_neighbors[0].local_mac, kIf);
    ASSERT_EQ(r->non_1905_neighbors[0].neighbors.size(), 2u);
    EXPECT_EQ(r->non_1905_neighbors[0].neighbors[1].mac, kAl2);
    EXPECT_THAT(r->non_1905_neighbors[1].neighbors, IsEmpty());
    ASSERT_EQ(r->neighbors.size(), 1u);
    ASSERT_EQ(r->neighbors[0].neighbors.size(), 2u);
    EXPECT_EQ(r->neighbors[0].neighbors[0].al_mac, kAl2);
    EXPECT_TRUE(r->neighbors[0].neighbors[0].bridge);
    EXPECT_FALSE(r->neighbors[0].neighbors[1].bridge);
    ASSERT_EQ(r->radios.size(), 1u);
    EXPECT_EQ(r->radios[0].radio_id, kAl2);
    ASSERT_EQ(r->radios[0].bsss.size(), 2u);
    EXPECT_EQ(r->radios[0].bsss[0].bssid, kBss);
    EXPECT_EQ(r->radios[0].bsss[0].ssid.size(), 32u);  // whole, zero byte and all
    EXPECT_EQ(r->radios[0].bsss[0].ssid, std::string("home\0xyzABCDEFGHIJKLMNOPQRSTUVW!", 32));
    EXPECT_EQ(r->radios[0].bsss[1].ssid, "");
    EXPECT_TRUE(r->has_associated_clients);
    ASSERT_EQ(r->associated_clients.size(), 1u);
    ASSERT_EQ(r->associated_clients[0].stas.size(), 1u);
    EXPECT_EQ(r->associated_clients[0].stas[0].mac, kClient);
    EXPECT_EQ(r->associated_clients[0].stas[0].time_since_association, 65535);
    EXPECT_EQ(r->multiap_profile, 3);
    // Bridging, Supported Service and Vendor Specific pass without a line.
    EXPECT_THAT(log.root_lines(),
                ElementsAre("info parse_topology received TLV_TYPE_MULTIAP_PROFILE 3"));
}

TEST(ParseTopology, MediaSpecificInformationByLength) {
    LogCapture log;
    auto plc = wifi_if(kAl2, kBss);
    plc.media_type = MEDIA_TYPE_IEEE_1901_FFT;
    plc.media_specific_info_length = IEEE1901_MEDIA_INFO_LEN;
    for (uint8_t i = 0; i < 7; ++i)
        plc.ieee1901.network_identifier[i] = 0x10 + i;
    auto eth = wifi_if(kClient, kBss);
    eth.media_type = MEDIA_TYPE_IEEE_802_3AB_GIGABIT_ETHERNET;
    eth.media_specific_info_length = 0;
    auto odd = wifi_if(kIf, kBss);
    odd.media_specific_info_length = 3;
    odd.media_specific_raw = {1, 2, 3};
    CmduBuilder b(CMDU_TYPE_TOPOLOGY_RESPONSE, 9);
    b.add(device_info(kAl, {wifi_if(kIf, kBss), plc, eth, odd}));
    auto r = parse_topology(wire(b).get());
    ASSERT_TRUE(r);
    ASSERT_EQ(r->local_interfaces.size(), 4u);
    const auto& w = r->local_interfaces[0];
    ASSERT_TRUE(w.ieee80211);
    EXPECT_EQ(std::make_tuple(w.mac, w.media_type, bool(w.ieee1901), w.ieee80211->bssid,
                              w.ieee80211->ap_channel_band, w.ieee80211->center_freq_index_1),
              std::make_tuple(kIf, MEDIA_TYPE_IEEE_802_11AX, false, kBss, 2, 42));
    const auto& p = r->local_interfaces[1];
    EXPECT_FALSE(p.ieee80211);
    ASSERT_TRUE(p.ieee1901);
    EXPECT_EQ(p.ieee1901->network_id[6], 0x16);
    for (size_t i : {2u, 3u}) {
        EXPECT_FALSE(r->local_interfaces[i].ieee80211) << i;
        EXPECT_FALSE(r->local_interfaces[i].ieee1901) << i;
    }
}

TEST(ParseTopology, RepeatedSingleTlvsWarnAndTheLastWins) {
    LogCapture log;
    CmduBuilder b(CMDU_TYPE_TOPOLOGY_RESPONSE, 9);
    b.add(device_info(kAl, {wifi_if(kIf, kBss)}));
    b.add(associated_clients_tlv{TLV_TYPE_ASSOCIATED_STA_TLV, 0, {{kBss, 0, {}}}});
    b.add(ap_operational_bss_tlv{}).add(ap_operational_bss_tlv{});
    b.add(device_info(kAl2, {}));
    b.add(associated_clients_tlv{});
    auto r = parse_topology(wire(b).get());
    ASSERT_TRUE(r);
    EXPECT_EQ(r->al_mac, kAl2);
    EXPECT_THAT(r->local_interfaces, IsEmpty());
    // The last Associated Clients TLV lists no BSS: flag set, list empty.
    EXPECT_TRUE(r->has_associated_clients);
    EXPECT_THAT(r->associated_clients, IsEmpty());
    EXPECT_THAT(
        log.at("warn"),
        ElementsAre("parse_topology received TLV_TYPE_AP_OPERATIONAL_BSS multiple times",
                    "parse_topology received TLV_TYPE_DEVICE_INFORMATION_TYPE multiple times",
                    "parse_topology received TLV_TYPE_ASSOCIATED_STA_TLV multiple times"));
    // Each line is written twice: to the root logger and to the platform log.
    const auto platform = log.platform_lines();
    EXPECT_EQ(std::count(platform.begin(), platform.end(),
                         "warn parse_topology parse_topology received "
                         "TLV_TYPE_DEVICE_INFORMATION_TYPE multiple times"),
              1);
    EXPECT_EQ(platform.size(), 3u);
}

TEST(ParseTopology, MissingDeviceInformation) {
    EXPECT_THAT(refused(CmduBuilder(CMDU_TYPE_TOPOLOGY_RESPONSE, 9).add(ap_operational_bss_tlv{}),
                        parse_topology),
                ElementsAre("warn parse_topology TLV_TYPE_DEVICE_INFORMATION_TYPE is missing"));
    EXPECT_THAT(refused(CmduBuilder(CMDU_TYPE_TOPOLOGY_RESPONSE, 9).add(al(kAl)), parse_topology),
                ElementsAre("info parse_topology received unexpected "
                            "TLV_TYPE_AL_MAC_ADDRESS_TYPE (1)",
                            "warn parse_topology TLV_TYPE_DEVICE_INFORMATION_TYPE is missing",
                            "warn parse_topology TLV_TYPE_AP_OPERATIONAL_BSS is missing"));
}

}  // namespace

namespace {

// Lists inside a TLV follow the TLV's own count, and never run past the entries held.
TEST(ParseTopology, InnerListsFollowTheirCountFields) {
    LogCapture log;
    CmduBuilder b(CMDU_TYPE_TOPOLOGY_RESPONSE, 9);
    auto info = device_info(kAl, {wifi_if(kIf, kBss), wifi_if(kAl2, kBss)});
    info.num_local_interfaces = 1;
    b.add(info);
    ap_operational_bss_tlv ops;
    ops.radios.resize(1);
    ops.num_radios = 5;
    b.add(ops);
    auto r = parse_topology(b.get());
    ASSERT_TRUE(r);
    EXPECT_EQ(r->local_interfaces.size(), 1u);
    EXPECT_EQ(r->radios.size(), 1u);
}

}  // namespace
