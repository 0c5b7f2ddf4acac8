#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "map/ieee80211/assoc.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A (re)association request body built element by element, as a client sends it.
struct Body {
    Bytes b;
    explicit Body(bool reassoc = false, const std::string& ssid = "mesh") {
        b = {0x31, 0x04, 0x0a, 0x00};  // capability info 0x0431, listen interval 10
        if (reassoc)
            b.insert(b.end(), {0x00, 0x05, 0x02, 0x11, 0x22, 0x33});
        ie(0, Bytes(ssid.begin(), ssid.end()));
        ie(1, {0x82, 0x84, 0x8b, 0x96, 0x0c, 0x12, 0x18, 0x24});  // supported rates
    }
    Body& ie(uint8_t id, const Bytes& body) {
        b.push_back(id);
        b.push_back(static_cast<uint8_t>(body.size()));
        b.insert(b.end(), body.begin(), body.end());
        return *this;
    }
    // HT capabilities: info, RX MCS bitmask of streams 1-4, TX parameters byte.
    Body& ht(uint16_t info, uint8_t rx_streams, uint8_t tx_params = 0) {
        Bytes e(26, 0);
        e[0] = info & 0xff;
        e[1] = info >> 8;
        for (uint8_t i = 0; i < rx_streams; ++i)
            e[3 + i] = 0xff;
        e[3 + 12] = tx_params;
        return ie(45, e);
    }
    Body& vht(uint32_t info, uint16_t rx_map, uint16_t tx_map) {
        Bytes e(12, 0);
        for (int i = 0; i < 4; ++i)
            e[i] = (info >> (8 * i)) & 0xff;
        e[4] = rx_map & 0xff;
        e[5] = rx_map >> 8;
        e[8] = tx_map & 0xff;
        e[9] = tx_map >> 8;
        return ie(191, e);
    }
    Body& he(uint8_t width_set, uint16_t rx_map, uint16_t tx_map) {
        Bytes e(1 + 6 + 11 + 4, 0);
        e[0] = 35;
        e[1 + 6] = width_set;
        e[1 + 17] = rx_map & 0xff;
        e[1 + 18] = rx_map >> 8;
        e[1 + 19] = tx_map & 0xff;
        e[1 + 20] = tx_map >> 8;
        return ie(255, e);
    }
    Body& ext_cap(bool btm, bool ecsa) {
        Bytes e(8, 0);
        if (ecsa)
            e[0] |= 1 << 2;
        if (btm)
            e[2] |= 1 << 3;  // bit 19
        return ie(127, e);
    }
    Body& rm_enabled() { return ie(70, {0x73, 0x00, 0x00, 0x00, 0x00}); }
};

// Maps with N streams at MCS 0-9 and the rest unsupported.
uint16_t mcs_map(int n) {
    uint16_t m = 0xffff;
    for (int i = 0; i < n; ++i)
        m = static_cast<uint16_t>((m & ~(3u << (2 * i))) | (2u << (2 * i)));
    return m;
}

map_sta_assoc_caps parse(const Body& body, bool is_5g, const std::string& ssid = "mesh",
                         int* rc_out = nullptr) {
    map_sta_assoc_caps c;
    const int rc =
        map_80211_parse_assoc_body(&c, body.b.data(), body.b.size(), is_5g,
                                   reinterpret_cast<const uint8_t*>(ssid.data()), ssid.size());
    if (rc_out)
        *rc_out = rc;
    else
        EXPECT_EQ(rc, 0);
    return c;
}

Bytes channels(const map_sta_assoc_caps& c) {
    return Bytes(c.supported_channels, c.supported_channels + c.supported_channel_count);
}

TEST(AssocBody, LegacyTwoGhzHtClient) {
    Body body;
    body.ht(1u << 5, 1).ext_cap(true, false);
    const auto c = parse(body, false);
    EXPECT_EQ(c.capability_info, 0x0431);
    EXPECT_EQ(c.listen_interval, 10);
    EXPECT_FALSE(c.is_reassoc);
    EXPECT_EQ(c.supported_bands, MAP_STA_BAND_2G);
    EXPECT_TRUE(c.ht_support);
    EXPECT_FALSE(c.vht_support);
    EXPECT_FALSE(c.he_support);
    EXPECT_EQ(c.max_rx_spatial_streams, 1);
    EXPECT_EQ(c.max_tx_spatial_streams, 1);
    EXPECT_EQ(c.max_bandwidth, 20);
    EXPECT_TRUE(c.sgi_support);
    EXPECT_TRUE(c.btm_support);
    EXPECT_FALSE(c.ecsa_support);
    EXPECT_FALSE(c.rrm_support);
    EXPECT_EQ(c.supported_channel_count, 0);
}

TEST(AssocBody, DualBandHtClientOnFiveGhz) {
    Body body;
    // Current class 115, then 81, 83, 121, the 130 separator and an ignored tail.
    body.ie(59, {115, 81, 83, 121, 130, 131});
    body.ie(36, {36, 4, 100, 3, 149, 0});  // 36-48, 100-108; a zero count adds nothing
    // 40 MHz, SGI40; 2 RX streams, TX set defined and unequal with 1 stream.
    body.ht((1u << 1) | (1u << 6), 2, 0x03);
    body.rm_enabled().ext_cap(false, true);
    const auto c = parse(body, true);
    EXPECT_EQ(c.supported_bands, MAP_STA_BAND_2G | MAP_STA_BAND_5G);
    EXPECT_EQ(Bytes(c.op_classes, c.op_classes + c.op_class_count), (Bytes{115, 81, 83, 121}));
    EXPECT_EQ(channels(c), (Bytes{36, 40, 44, 48, 100, 104, 108}));
    EXPECT_EQ(c.max_bandwidth, 40);
    EXPECT_EQ(c.max_rx_spatial_streams, 2);
    EXPECT_EQ(c.max_tx_spatial_streams, 1);
    EXPECT_TRUE(c.sgi_support);
    EXPECT_TRUE(c.rrm_support);
    EXPECT_TRUE(c.ecsa_support);
    EXPECT_FALSE(c.btm_support);
}

TEST(AssocBody, VhtClient) {
    Body body;
    body.ht(1u << 1, 2);
    body.vht((1u << 2) | (1u << 5), mcs_map(4), mcs_map(2));  // 160 MHz, SGI80
    const auto c = parse(body, true);
    EXPECT_TRUE(c.vht_support);
    EXPECT_EQ(c.supported_bands, MAP_STA_BAND_5G);  // the serving radio's band only
    EXPECT_EQ(c.max_bandwidth, 160);
    EXPECT_EQ(c.max_rx_spatial_streams, 4);
    EXPECT_EQ(c.max_tx_spatial_streams, 2);
    EXPECT_TRUE(c.sgi_support);
}

TEST(AssocBody, HeClientWithSixGhzCapabilities) {
    Body body;
    body.he((1u << 1) | (1u << 2), mcs_map(2), mcs_map(2));  // 40 MHz in 2.4, 40/80 in 5 GHz
    body.ie(255, {59, 0x00, 0x00});                          // HE 6 GHz band capabilities
    auto c = parse(body, true);
    EXPECT_TRUE(c.he_support);
    EXPECT_FALSE(c.ht_support);
    EXPECT_EQ(c.max_bandwidth, 80);
    EXPECT_EQ(c.max_rx_spatial_streams, 2);
    EXPECT_EQ(c.supported_bands, MAP_STA_BAND_5G | MAP_STA_BAND_6G);
    EXPECT_FALSE(c.sgi_support);
    // On a 2.4 GHz radio only the 2.4 GHz width bit counts.
    c = parse(body, false);
    EXPECT_EQ(c.max_bandwidth, 40);
    EXPECT_EQ(c.supported_bands, MAP_STA_BAND_2G | MAP_STA_BAND_6G);
}

TEST(AssocBody, VhtOnTwoGhzTellsNoWidthOrBand) {
    Body body;
    body.ht(0, 2).vht(1u << 2, mcs_map(2), mcs_map(2));
    const auto c = parse(body, false);
    EXPECT_TRUE(c.vht_support);
    EXPECT_EQ(c.max_bandwidth, 20);
    EXPECT_EQ(c.supported_bands, MAP_STA_BAND_2G);
    EXPECT_EQ(c.max_rx_spatial_streams, 2);
}

TEST(AssocBody, TruncatedOrOversizedElementEndsTheParse) {
    Body body;
    body.rm_enabled().ht(1u << 1, 3);
    // Cut the HT element in half: what came before it is kept.
    Body cut = body;
    cut.b.resize(cut.b.size() - 13);
    auto c = parse(cut, false);
    EXPECT_TRUE(c.rrm_support);
    EXPECT_FALSE(c.ht_support);
    EXPECT_EQ(c.max_bandwidth, 20);
    // A final element whose length claims 255 bytes.
    Body big = body;
    big.b.insert(big.b.end(), {127, 255, 0x00, 0x00, 0x08});
    c = parse(big, false);
    EXPECT_TRUE(c.ht_support);
    EXPECT_FALSE(c.btm_support);
    // A lone element id byte at the end is ignored too.
    big.b.push_back(45);
    c = parse(big, false);
    EXPECT_EQ(c.max_rx_spatial_streams, 3);
    // Known elements shorter than their layout are skipped, not read past.
    Body shortie;
    shortie.ie(45, {0x02, 0x00}).ie(191, {1, 2, 3}).ie(255, {35, 1, 2});
    c = parse(shortie, true);
    EXPECT_FALSE(c.ht_support || c.vht_support || c.he_support);
}

TEST(AssocBody, BodiesWithoutElementsYieldNothing) {
    map_sta_assoc_caps c;
    const uint8_t fixed[] = {0x31, 0x04, 0x0a, 0x00, 0x00};
    for (size_t len : {size_t{0}, size_t{3}, size_t{4}, size_t{5}}) {
        std::memset(&c, 0xab, sizeof c);
        EXPECT_EQ(map_80211_parse_assoc_body(&c, fixed, len, 0, nullptr, 0), -1) << len;
        EXPECT_EQ(c.capability_info, 0) << len;
    }
    EXPECT_EQ(map_80211_parse_assoc_body(&c, nullptr, 10, 0, nullptr, 0), -1);
    EXPECT_EQ(map_80211_parse_assoc_body(nullptr, fixed, 5, 0, nullptr, 0), -1);
}

TEST(AssocBody, ReassociationBodyFoundBySsid) {
    // The Current AP Address starts 00 05, which reads as an SSID element of 5
    // bytes at the association offset; the serving SSID tells them apart.
    Body body(true, "home");
    body.ext_cap(true, false);
    auto c = parse(body, false, "home");
    EXPECT_TRUE(c.is_reassoc);
    EXPECT_TRUE(c.btm_support);
    // Without the SSID the element chain still settles it.
    c = parse(body, false, "");
    EXPECT_TRUE(c.is_reassoc);
    EXPECT_TRUE(c.btm_support);
    Body assoc(false, "home");
    assoc.ext_cap(true, false);
    c = parse(assoc, false, "other");
    EXPECT_FALSE(c.is_reassoc);
    EXPECT_TRUE(c.btm_support);
}

TEST(AssocBody, SupportedChannelsExpansionIsBounded) {
    Body body;
    body.ie(36, {1, 13, 6, 2, 250, 255});  // 1-13, 6-7 again, then 250-255 only
    auto c = parse(body, false);
    Bytes want;
    for (uint8_t ch = 1; ch <= 13; ++ch)
        want.push_back(ch);
    for (uint8_t ch = 250; ch != 0; ++ch)
        want.push_back(ch);
    EXPECT_EQ(channels(c), want);
    // Many pairs cannot overflow the list.
    Bytes pairs;
    for (int i = 0; i < 120; ++i)
        pairs.insert(pairs.end(), {static_cast<uint8_t>(i), 1});
    Body many;
    many.ie(36, pairs);
    c = parse(many, false);
    EXPECT_EQ(c.supported_channel_count, MAP_ASSOC_MAX_CHANNELS);
    // An odd trailing byte is not a pair.
    Body odd;
    odd.ie(36, {36, 2, 52});
    c = parse(odd, true);
    EXPECT_EQ(channels(c), (Bytes{36, 40}));
}

TEST(AssocBody, MboNonPreferredChannels) {
    Body body;
    // MBO element: capability attribute, then a report for class 115 channels
    // 36 and 40 at preference 0 reason 1, then a zero-length report.
    body.ie(221, {0x50, 0x6f, 0x9a, 0x16, 0x01, 0x01, 0x40, 0x02, 0x05, 115, 36, 40, 0x00, 0x01,
                  0x02, 0x00});
    body.ie(221, {0x00, 0x50, 0xf2, 0x02, 0x00});  // another vendor's element
    auto c = parse(body, true);
    EXPECT_TRUE(c.mbo_support);
    ASSERT_EQ(c.non_pref_count, 2);
    EXPECT_EQ(c.non_pref[0].op_class, 115);
    EXPECT_EQ(c.non_pref[0].channel, 36);
    EXPECT_EQ(c.non_pref[1].channel, 40);
    EXPECT_EQ(c.non_pref[1].preference, 0);
    EXPECT_EQ(c.non_pref[1].reason, 1);
    // An attribute running past its element is dropped.
    Body bad;
    bad.ie(221, {0x50, 0x6f, 0x9a, 0x16, 0x02, 0x09, 115, 36});
    c = parse(bad, true);
    EXPECT_TRUE(c.mbo_support);
    EXPECT_EQ(c.non_pref_count, 0);
}

TEST(OperatingClass, BandsAndFiveGhzHalves) {
    struct Row {
        uint8_t cls;
        uint8_t band;
        uint16_t type;
    } rows[] = {{81, MAP_BAND_2G, MAP_FREQ_NONE},     {84, MAP_BAND_2G, MAP_FREQ_NONE},
                {115, MAP_BAND_5G, MAP_FREQ_5G_LOW},  {120, MAP_BAND_5G, MAP_FREQ_5G_LOW},
                {121, MAP_BAND_5G, MAP_FREQ_5G_HIGH}, {125, MAP_BAND_5G, MAP_FREQ_5G_HIGH},
                {127, MAP_BAND_5G, MAP_FREQ_5G_HIGH}, {128, MAP_BAND_5G, MAP_FREQ_5G_BOTH},
                {130, MAP_BAND_5G, MAP_FREQ_5G_BOTH}, {131, MAP_BAND_6G, MAP_FREQ_NONE},
                {137, MAP_BAND_6G, MAP_FREQ_NONE}};
    for (const Row& r : rows) {
        uint8_t band = 0xee;
        uint16_t type = 0xeeee;
        ASSERT_EQ(get_frequency_type(r.cls, &band, &type), 0) << int(r.cls);
        EXPECT_EQ(band, r.band) << int(r.cls);
        EXPECT_EQ(type, r.type) << int(r.cls);
    }
    for (uint8_t cls : {0, 80, 85, 112, 114, 138, 180, 255}) {
        uint8_t band = 0xee;
        uint16_t type = 0xeeee;
        EXPECT_EQ(get_frequency_type(cls, &band, &type), -1) << int(cls);
        EXPECT_EQ(band, 0xee);
        EXPECT_EQ(type, 0xeeee);
    }
}

}  // namespace
