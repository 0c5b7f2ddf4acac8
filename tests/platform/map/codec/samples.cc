#include "samples.h"

#include <algorithm>
#include <cstring>

#include "hex.h"
#include "map/codec/codec.h"
#include "map/codec/wsc.h"

MAC sample_mac(uint8_t a, uint8_t b) {
    return MAC(0x02, 0x00, 0x00, 0x00, a, b);
}

namespace {

const MAC kAgent = sample_mac(0xA0, 0x01);
const MAC kRadio1 = sample_mac(0xB1, 0x00);

// Each sample as the bytes of its CMDU payload: the header (version, reserved, message type,
// message id, fragment, flags), then one TLV a line (type, length, value); the End of
// Message TLV is added. Addresses are 02:00:00:00:a:b (sample_mac): agent a0:01, radios
// b0:00 and b1:00, their BSSs b0:01... and b1:01..., stations 5a:xx. The two large ones are
// built (make_topology_response, make_ap_metrics_response).
struct Sample {
    const char* name;
    const char* bytes;  // null: built
};
const Sample kSamples[] = {
    // Topology Query: Multi-AP profile 2.
    {"topology_query",
     "00 00 0002 1001 00 80"
     "b3 0001 02"},
    // Link Metric Query for one neighbour, Tx and Rx.
    {"link_metric_query",
     "00 00 0005 1002 00 80"
     "08 0008 0102000000a00202"},
    // Link Metric Query for all neighbours, Rx only.
    {"link_metric_query_all",
     "00 00 0005 1003 00 80"
     "08 0002 0001"},
    // AP Capability Query: no TLV.
    {"ap_capability_query", "00 00 8001 1004 00 80"},
    // AP Metrics Query for two BSSs, and a radio identifier.
    {"ap_metrics_query",
     "00 00 800b 1005 00 80"
     "93 000d 0202000000b00102000000b002"
     "82 0006 02000000b000"},
    // Associated STA Link Metrics Query: one station.
    {"assoc_sta_link_metrics_query",
     "00 00 800d 1006 00 80"
     "95 0006 020000005a07"},
    // Unassociated STA Link Metrics Query: class 115, channel 36 (two stations), 44 (one).
    {"unassoc_sta_link_metrics_query",
     "00 00 800f 1007 00 80"
     "97 0018 73022402020000005a01020000005a022c01020000005a03"},
    // Beacon Metrics Query: SSID "HomeNet-5G", AP channel reports for 115 and 81, element IDs 0,
    // 48, 221.
    {"beacon_metrics_query",
     "00 00 8011 1008 00 80"
     "99 002a 020000005a0773ffffffffffffff010a486f6d654e65742d354702057324282c30045101060b0300"
     "30dd"},
    // Client Capability Query: BSSID and client.
    {"client_capability_query",
     "00 00 8009 1009 00 80"
     "90 000c 02000000b001020000005a07"},
    // Channel Preference Query: no TLV.
    {"channel_preference_query", "00 00 8004 100a 00 80"},
    // Policy Config Request: steering policy (one local, two BTM disallowed, two radios), metric
    // reporting (two radios), 802.1Q 10/5, traffic separation HomeNet/10 and Guest/20, scan
    // reporting, unsuccessful associations at 12 a minute.
    {"policy_config_request",
     "00 00 8003 100b 00 80"
     "89 0027 01020000005a1102020000005a12020000005a130202000000b00002c83c02000000b10000b432"
     "8a 0016 1e0202000000b000460596c002000000b10050006440"
     "b5 0003 000aa0"
     "b6 0013 0207486f6d654e6574000a0547756573740014"
     "a4 0001 80"
     "c4 0005 800000000c"},
    // Client Steering Request: mandate, disassociation imminent, timer 100, one station, one
    // target (115, 36).
    {"client_steering_request",
     "00 00 8014 100c 00 80"
     "9b 001b 02000000b001c00000006401020000005a070102000000b1017324"},
    // Client Association Control Request: block two stations for 30 s.
    {"client_association_control_request",
     "00 00 8016 100d 00 80"
     "9d 0016 02000000b00100001e02020000005a07020000005a08"},
    // Backhaul Steering Request: class 128, channel 36.
    {"backhaul_steering_request",
     "00 00 8019 100e 00 80"
     "9e 000e 02000000c00102000000b1058024"},
    // Channel Selection Request: preferences for 115 (36, 40 at 14) and 121 (100-108 at 0, reason
    // 5); power limit 20.
    {"channel_selection_request",
     "00 00 8006 100f 00 80"
     "8b 0012 02000000b1000273022428e0790364686c05"
     "8d 0007 02000000b10014"},
    // Channel Scan Request: fresh scan, one radio, 115 (36-48) and all of 121.
    {"channel_scan_request",
     "00 00 801b 1010 00 80"
     "a6 0011 800102000000b10002730424282c307900"},
    // CAC Request: one radio, 121/100.
    {"cac_request",
     "00 00 8020 1011 00 80"
     "ad 000a 0102000000b100796428"},
    // CAC Termination: one radio, 121/100.
    {"cac_termination",
     "00 00 8021 1012 00 80"
     "ae 0009 0102000000b1007964"},
    // AP-Autoconfiguration Response: registrar, 5 GHz, controller service, profile 2.
    {"autoconfig_response",
     "00 00 0008 1013 00 80"
     "0f 0001 00"
     "10 0001 01"
     "80 0002 0100"
     "b3 0001 02"},
    // AP-Autoconfiguration Renew, relayed: AL MAC, registrar, 2.4 GHz.
    {"autoconfig_renew",
     "00 00 000a 1014 00 c0"
     "01 0006 02000000c701"
     "0f 0001 00"
     "10 0001 00"},
    // AP-Autoconfiguration WSC with an M2 (fixed nonces, key, settings and authenticator bytes)
    // and traffic separation HomeNet/10.
    {"autoconfig_wsc_m2",
     "00 00 0009 1016 00 80"
     "82 0006 02000000b100"
     "11 01dc 104a000110102200010510480010101112131415161718191a1b1c1d1e1f10210005566578616c10"
     "23000d4d65736820457874656e646572102400064d582d3230301042000c534e303132333435363738391011"
     "000e6578742d6c6976696e67726f6f6d103c000103101a00105c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c103900"
     "106e6e6e6e6e6e6e6e6e6e6e6e6e6e6e6e103200c03d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d"
     "3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d"
     "3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d"
     "3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d"
     "3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d10040002002210"
     "1000020008100d0001011008000200801054000800060050f204000110020002000010120002000410090002"
     "0000102d0004800000011049000600372a00012010180030e5e5e5e5e5e5e5e5e5e5e5e5e5e5e5e5e5e5e5e5"
     "e5e5e5e5e5e5e5e5e5e5e5e5e5e5e5e5e5e5e5e5e5e5e5e5e5e5e5e510050008a7a7a7a7a7a7a7a7"
     "b6 000b 0107486f6d654e6574000a"},
    // 1905 Ack with an error code for one station.
    {"ack_1905",
     "00 00 8000 2001 00 80"
     "a3 0007 02020000005a07"},
    // Vendor Specific: OUI 00 0c e7, a 7-byte payload.
    {"vendor_specific",
     "00 00 0004 1015 00 80"
     "0b 000a 000ce701000470696e67"},
    // Topology Discovery: AL MAC and interface MAC.
    {"topology_discovery",
     "00 00 0000 3001 00 80"
     "01 0006 02000000a001"
     "02 0006 02000000a011"},
    // Topology Notification, relayed: a client joined a BSS.
    {"topology_notification",
     "00 00 0001 3002 00 c0"
     "01 0006 02000000a001"
     "92 000d 020000005a0702000000b00180"},
    {"topology_response", nullptr},
    // Link Metric Response: transmitter metrics of a 5 GHz and a wired link, receiver metrics of
    // one.
    {"link_metric_response",
     "00 00 0006 3003 00 80"
     "09 0046 02000000a00102000000a00202000000a01102000000a0210105000000000c0005464e0362005705"
     "1402000000a01202000000a022000101000000000001869f03e8006403e8"
     "0a 0023 02000000a00102000000a00202000000a01102000000a0210105000000070001e24034"},
    // Link Metric Response: result code invalid neighbour.
    {"link_metric_response_error",
     "00 00 0006 3004 00 80"
     "0c 0001 00"},
    // AP Capability Report: capabilities, basic capabilities of a 2.4 and a 5 GHz radio, HT, VHT,
    // HE, scan and CAC capabilities, profile-2 capability, metric collection interval.
    {"ap_capability_report",
     "00 00 8002 3005 00 80"
     "a1 0001 a0"
     "85 000d 02000000b00004015114020c0d"
     "85 0010 02000000b1000402731700791e02787c"
     "86 0007 02000000b0005e"
     "87 000c 02000000b100fffafffa2670"
     "88 000d 02000000b10004fafffaff25c6"
     "a5 0015 0102000000b100400000012c02730424282c307900"
     "b2 0015 44450102000000b100010000003c01790464686c70"
     "b4 0004 00006008"
     "c5 0004 00001388"},
    // Channel Preference Report: preference, operation restriction, CAC completion with two radar
    // pairs, CAC status.
    {"channel_preference_report",
     "00 00 8005 3006 00 80"
     "8b 000c 02000000b100017902747807"
     "8c 000d 02000000b10001730224042804"
     "af 000f 0102000000b1007964010279647968"
     "b1 0010 01796c000c01796406a401797000002d"},
    // Channel Selection Response: declined, violates preference.
    {"channel_selection_response",
     "00 00 8007 3007 00 80"
     "8e 0007 02000000b10001"},
    // Operating Channel Report: 128/42 and 115/36 at 23 dBm.
    {"operating_channel_report",
     "00 00 8008 3008 00 80"
     "8f 000c 02000000b10002802a732417"},
    // Client Capability Report: client info and the association frame body.
    {"client_capability_report",
     "00 00 800a 3009 00 80"
     "90 000c 02000000b001020000005a07"
     "91 0018 0031040a000007486f6d654e6574010482848b9624022404"},
    {"ap_metrics_response", nullptr},
    // Associated STA Link Metrics Response with extended link metrics.
    {"assoc_sta_link_metrics_response",
     "00 00 800e 300a 00 80"
     "96 001a 020000005a070102000000b00100000078000001b100000186b4"
     "c8 001d 020000005a070102000000b00100069b680005f370000004b000000d48"},
    // Associated STA Link Metrics Response for an unknown station: no BSS, an error code.
    {"assoc_sta_link_metrics_response_error",
     "00 00 800e 300b 00 80"
     "96 0007 020000005a0700"
     "a3 0007 02020000005a07"},
    // Unassociated STA Link Metrics Response: class 115, two stations.
    {"unassoc_sta_link_metrics_response",
     "00 00 8010 300c 00 80"
     "98 001a 7302020000005a0124000000fa78020000005a0224000004e262"},
    // Beacon Metrics Response: two beacon reports (channels 36 and 40).
    {"beacon_metrics_response",
     "00 00 8012 300d 00 80"
     "9a 0046 020000005a070002271d010005732400000000000000003200028c2802000000b101010000000027"
     "1d01000573280000000000000000320002782802000000b1010100000000"},
    // Client Steering BTM Report: accepted, with a target BSSID.
    {"btm_report",
     "00 00 8015 300e 00 80"
     "9c 0013 02000000b001020000005a070002000000b101"},
    // Backhaul Steering Response: failure, with an error code.
    {"backhaul_steering_response",
     "00 00 801a 300f 00 80"
     "9f 000d 02000000c00102000000b10501"
     "a3 0007 0502000000c001"},
    // Channel Scan Report: timestamp, a result with two neighbours, a result that did not
    // complete.
    {"channel_scan_report",
     "00 00 801c 3010 00 80"
     "a8 001e 1d323032362d31322d30355431393a30313a32382e3132332b30303a3030"
     "a7 005b 02000000b1007324001d323032362d31322d30355431393a30313a32372e3930302b30303a30303c"
     "a1000202000000d0010c4e65696768626f75722d354778023830804d000902000000d00204436166653c0232"
     "30000000006e80"
     "a7 0009 02000000b100796404"},
    // Tunneled: a reassociation request from a station.
    {"tunneled",
     "00 00 8026 3011 00 80"
     "c0 0006 020000005a07"
     "c1 0001 01"
     "c2 0013 31040a00020000b001000007486f6d654e6574"},
    // Failed Connection: station, status 17, reason 0.
    {"failed_connection",
     "00 00 8033 3012 00 80"
     "95 0006 020000005a07"
     "c9 0002 0011"
     "ca 0002 0000"},
    // AP-Autoconfiguration Search, relayed: AL MAC, registrar, 5 GHz, agent service, controller
    // searched, profile 2.
    {"autoconfig_search",
     "00 00 0007 3013 00 c0"
     "01 0006 02000000a001"
     "0d 0001 00"
     "0e 0001 01"
     "80 0002 0101"
     "81 0002 0100"
     "b3 0001 02"},
    // AP-Autoconfiguration WSC with an M1 (fixed nonce and key bytes), basic capabilities of a 5
    // GHz radio, profile-2 capability.
    {"autoconfig_wsc_m1",
     "00 00 0009 3014 00 80"
     "85 0010 02000000b1000402731700791e02787c"
     "11 0197 104a000110102200010410470010101112131415161718191a1b1c1d1e1f1020000602000000a001"
     "10210005566578616c1023000d4d65736820457874656e646572102400064d582d3230301042000c534e3031"
     "32333435363738391011000e6578742d6c6976696e67726f6f6d103c000103101a00105c5c5c5c5c5c5c5c5c"
     "5c5c5c5c5c5c5c103200c03d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d"
     "3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d"
     "3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d"
     "3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d"
     "3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d3d100400020022101000020008100d000101"
     "10080002008010440001011054000800060050f2040001100200020000101200020004100900020000102d00"
     "04800000011049000600372a000120"
     "b4 0004 00004008"},

};

CmduPtr make(const Sample& s) {
    if (s.bytes == nullptr) {
        return std::strcmp(s.name, "topology_response") == 0 ? make_topology_response(2, 2, 2)
                                                             : make_ap_metrics_response(6);
    }
    std::vector<uint8_t> payload = from_hex(std::string(s.bytes) + "000000");
    return decode_1905_CMDU(payload.data(), payload.size());
}

}  // namespace

CmduPtr make_topology_response(int radios, int bss_per_radio, int clients_per_bss) {
    CmduBuilder b(CMDU_TYPE_TOPOLOGY_RESPONSE, 0x4001);
    auto& di = b.add<device_information_tlv>();
    di.al_mac_address = kAgent;
    // One Ethernet port, one 1901 port, then one 802.11 AP interface per BSS.
    device_information_tlv::local_interface eth;
    eth.mac_address = sample_mac(0xE0, 0x01);
    eth.media_type = MEDIA_TYPE_IEEE_802_3AB_GIGABIT_ETHERNET;
    di.local_interfaces.push_back(eth);
    device_information_tlv::local_interface plc;
    plc.mac_address = sample_mac(0xE0, 0x02);
    plc.media_type = MEDIA_TYPE_IEEE_1901_FFT;
    plc.media_specific_info_length = IEEE1901_MEDIA_INFO_LEN;
    for (int i = 0; i < 7; ++i)
        plc.ieee1901.network_identifier[i] = static_cast<uint8_t>(0x70 + i);
    di.local_interfaces.push_back(plc);
    auto& ap = b.add<ap_operational_bss_tlv>();
    auto& ac = b.add<associated_clients_tlv>();
    for (int r = 0; r < radios; ++r) {
        ap_operational_bss_tlv::radio radio;
        radio.radio_id = sample_mac(static_cast<uint8_t>(0xB0 + r), 0x00);
        for (int s = 0; s < bss_per_radio; ++s) {
            BSSID bssid(sample_mac(static_cast<uint8_t>(0xB0 + r), static_cast<uint8_t>(s + 1)));
            device_information_tlv::local_interface wifi;
            wifi.mac_address = bssid;
            wifi.media_type =
                r == 0 ? MEDIA_TYPE_IEEE_802_11N_2_4_GHZ : MEDIA_TYPE_IEEE_802_11AC_5_GHZ;
            wifi.media_specific_info_length = IEEE80211_MEDIA_INFO_LEN;
            wifi.ieee80211.network_membership = bssid;
            wifi.ieee80211.role = IEEE80211_ROLE_AP;
            wifi.ieee80211.ap_channel_band = r == 0 ? 0 : 2;
            wifi.ieee80211.ap_channel_center_freq_index_1 = r == 0 ? 6 : 42;
            wifi.ieee80211.ap_channel_center_freq_index_2 = 0;
            di.local_interfaces.push_back(wifi);

            ap_operational_bss_tlv::bss bss;
            bss.bssid = bssid;
            std::string ssid =
                s == 0 ? "HomeNet" : "HomeNet-" + std::to_string(r) + "-" + std::to_string(s);
            bss.ssid_len = static_cast<uint8_t>(ssid.size());
            std::memcpy(bss.ssid, ssid.data(), ssid.size());
            radio.bsss.push_back(bss);

            associated_clients_tlv::bss cb;
            cb.bssid = bssid;
            for (int c = 0; c < clients_per_bss; ++c) {
                cb.clients.push_back({MAC(0x0A, static_cast<uint8_t>(r), static_cast<uint8_t>(s),
                                          0x00, 0x00, static_cast<uint8_t>(c)),
                                      static_cast<uint16_t>(60 * c + 5)});
            }
            cb.num_clients = static_cast<uint16_t>(cb.clients.size());
            ac.bsss.push_back(cb);
        }
        radio.num_bss = static_cast<uint8_t>(radio.bsss.size());
        ap.radios.push_back(radio);
    }
    ap.num_radios = static_cast<uint8_t>(ap.radios.size());
    ac.num_bss = static_cast<uint8_t>(ac.bsss.size());
    di.num_local_interfaces = static_cast<uint8_t>(di.local_interfaces.size());

    auto& br = b.add<device_bridging_capability_tlv>();
    br.bridging_tuples.resize(1);
    br.bridging_tuples[0].macs = {sample_mac(0xE0, 0x01), sample_mac(0xB0, 0x01)};
    br.bridging_tuples[0].num_macs = 2;
    br.num_bridging_tuples = 1;
    auto& nn = b.add<non_1905_neighbor_device_list_tlv>();
    nn.local_mac_address = sample_mac(0xE0, 0x01);
    nn.neighbors = {MAC(0x3C, 0x22, 0xFB, 0x00, 0x00, 0x01),
                    MAC(0x3C, 0x22, 0xFB, 0x00, 0x00, 0x02)};
    auto& nd = b.add<neighbor_device_list_tlv>();
    nd.local_mac_address = sample_mac(0xE0, 0x01);
    nd.neighbors.push_back({sample_mac(0xA0, 0x02), 0});
    nd.neighbors.push_back({sample_mac(0xA0, 0x03), 1});
    auto& ss = b.add<supported_service_tlv>();
    ss.services = {MAP_SERVICE_AGENT};
    ss.num_services = 1;
    b.add<multiap_profile_tlv>().profile = MAP_PROFILE_2;
    return b.build();
}

CmduPtr make_ap_metrics_response(int clients) {
    CmduBuilder b(CMDU_TYPE_AP_METRICS_RESPONSE, 0x4002);
    for (unsigned s = 0; s < 4; ++s) {
        auto& m = b.add<ap_metrics_tlv>();
        m.bssid = BSSID(sample_mac(0xB1, static_cast<uint8_t>(s + 1)));
        m.channel_utilization = static_cast<uint8_t>(40 + 20 * s);
        m.num_associated_stas = static_cast<uint16_t>(clients / 4);
        std::memcpy(m.esp_be, "\x8D\xC8\x05", 3);  // BE on every BSS, VI on the second
        m.esp_vi_present = s == 1;
        if (s == 1)
            std::memcpy(m.esp_vi, "\x8E\x64\x02", 3);
        b.add(ap_extended_metrics_tlv{TLV_TYPE_AP_EXTENDED_METRICS, m.bssid, 1000000u * (s + 1),
                                      700000u * (s + 1), 5000, 300, 12000, 800});
    }
    b.add(radio_metrics_tlv{TLV_TYPE_RADIO_METRICS, kRadio1, 160, 40, 30, 12});
    for (unsigned c = 0; c < static_cast<unsigned>(clients); ++c) {
        MAC sta(0x0A, 0x01, static_cast<uint8_t>(c / 4), 0x00, 0x00, static_cast<uint8_t>(c));
        BSSID bssid(sample_mac(0xB1, static_cast<uint8_t>(c % 4 + 1)));
        b.add(associated_sta_traffic_stats_tlv{TLV_TYPE_ASSOCIATED_STA_TRAFFIC_STATS, sta,
                                               100000u + c, 50000u + c, 1000u + c, 800u + c, 3, 1,
                                               17});
        auto& lm = b.add<associated_sta_link_metrics_tlv>();
        lm.sta_mac = sta;
        lm.bssids.push_back(
            {bssid, static_cast<uint32_t>(100 + c), 433, 390, static_cast<uint8_t>(110 + c % 80)});
        lm.num_bssids = 1;
        auto& xm = b.add<associated_sta_extended_link_metrics_tlv>();
        xm.sta_mac = sta;
        xm.bssids.push_back({bssid, 433000, 390000, 1000u + c, 2000u + c});
        xm.num_bssids = 1;
    }
    return b.build();
}

std::vector<SampleCmdu> make_sample_cmdus() {
    std::vector<SampleCmdu> v;
    for (const auto& s : kSamples)
        v.push_back({s.name, make(s)});
    return v;
}

CmduPtr make_sample_cmdu(const std::string& name) {
    for (const auto& s : kSamples) {
        if (name == s.name)
            return make(s);
    }
    return nullptr;
}

std::vector<uint8_t> sample_wsc(const std::string& name, uint16_t drop) {
    CmduPtr c = make_sample_cmdu(name);
    std::vector<uint8_t> frame;
    for (size_t i = 0; c && c->list_of_TLVs[i] && frame.empty(); ++i) {
        if (auto* w = tlv_cast<wsc_tlv>(c->list_of_TLVs[i]))
            frame = w->wsc_frame;
    }
    std::vector<wsc_attribute> attrs;
    if (!drop || !wsc_parse_attributes(frame.data(), frame.size(), attrs))
        return frame;
    attrs.erase(std::remove_if(attrs.begin(), attrs.end(),
                               [&](const wsc_attribute& a) { return a.type == drop; }),
                attrs.end());
    std::vector<uint8_t> out;
    wsc_build_attributes(attrs, out);
    return out;
}

std::vector<std::string> tlv_dumps(const CMDU* c) {
    std::vector<std::string> out;
    for (size_t i = 0; c && c->list_of_TLVs[i]; ++i)
        out.push_back(dump_1905_TLV(c->list_of_TLVs[i]));
    return out;
}
