// The (re)association body parser on bodies built element by element, as clients send them:
// one table of bodies and what the parser makes of them, hostile ones included.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "map/ieee80211/assoc.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A (re)association request body built element by element.
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
    Body& raw(const Bytes& bytes) {
        b.insert(b.end(), bytes.begin(), bytes.end());
        return *this;
    }
    Body& cut(size_t n) {
        b.resize(b.size() - n);
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
    Body& vht(uint32_t info, int rx_streams, int tx_streams) {
        Bytes e(12, 0);
        for (int i = 0; i < 4; ++i)
            e[i] = (info >> (8 * i)) & 0xff;
        put_map(e, 4, rx_streams);
        put_map(e, 8, tx_streams);
        return ie(191, e);
    }
    Body& he(uint8_t width_set, int streams) {
        Bytes e(1 + 6 + 11 + 4, 0);
        e[0] = 35;
        e[1 + 6] = width_set;
        put_map(e, 1 + 17, streams);
        put_map(e, 1 + 19, streams);
        return ie(255, e);
    }
    Body& ext_cap(bool btm, bool ecsa) {
        Bytes e(8, 0);
        e[0] = ecsa ? 1 << 2 : 0;
        e[2] = btm ? 1 << 3 : 0;  // bit 19
        return ie(127, e);
    }
    Body& rm_enabled() { return ie(70, {0x73, 0x00, 0x00, 0x00, 0x00}); }

  private:
    // An MCS map of N streams at MCS 0-9, the rest unsupported, little-endian at AT.
    static void put_map(Bytes& e, size_t at, int n) {
        uint16_t m = 0xffff;
        for (int i = 0; i < n; ++i)
            m = static_cast<uint16_t>((m & ~(3u << (2 * i))) | (2u << (2 * i)));
        e[at] = m & 0xff;
        e[at + 1] = m >> 8;
    }
};

std::string list(const uint8_t* p, size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i)
        s += (i ? "," : "") + std::to_string(p[i]);
    return s;
}

// Everything the parser fills, as one line: the flags only when set.
std::string summary(const map_sta_assoc_caps& c) {
    char head[96];
    std::snprintf(head, sizeof head, "cap %04x li %d bands %d bw %d rx %d tx %d", c.capability_info,
                  c.listen_interval, c.supported_bands, c.max_bandwidth, c.max_rx_spatial_streams,
                  c.max_tx_spatial_streams);
    std::string s = head;
    const std::pair<uint8_t, const char*> flags[] = {
        {c.is_reassoc, "reassoc"}, {c.ht_support, "ht"},     {c.vht_support, "vht"},
        {c.he_support, "he"},      {c.sgi_support, "sgi"},   {c.btm_support, "btm"},
        {c.rrm_support, "rrm"},    {c.ecsa_support, "ecsa"}, {c.mbo_support, "mbo"}};
    for (const auto& f : flags)
        s += f.first ? std::string(" ") + f.second : "";
    if (c.op_class_count)
        s += " classes " + list(c.op_classes, c.op_class_count);
    if (c.supported_channel_count)
        s += " channels " + list(c.supported_channels, c.supported_channel_count);
    for (size_t i = 0; i < c.non_pref_count; ++i) {
        const auto& n = c.non_pref[i];
        const uint8_t v[] = {n.op_class, n.channel, n.preference, n.reason};
        s += " nonpref " + list(v, 4);
    }
    return s;
}

std::string range(int from, int to) {
    std::string s;
    for (int ch = from; ch <= to; ++ch)
        s += (ch == from ? "" : ",") + std::to_string(ch);
    return s;
}

TEST(AssocBody, WhatEachBodyTells) {
    const std::string fixed = "cap 0431 li 10 ";
    Bytes pairs;  // 120 channel ranges: more channels than the list takes
    for (int i = 0; i < 120; ++i)
        pairs.insert(pairs.end(), {static_cast<uint8_t>(i), 1});
    const struct {
        const char* what;
        Body body;
        bool is_5g;
        const char* ssid;
        std::string want;  // after the fixed fields
    } rows[] = {
        {"2.4 GHz HT client", Body().ht(1u << 5, 1).ext_cap(true, false), false, "mesh",
         "bands 1 bw 20 rx 1 tx 1 ht sgi btm"},
        // Current class 115, then 81, 83, 121, the 130 separator and an ignored tail;
        // channels 36-48 and 100-108, a zero count adds nothing; 40 MHz with SGI40, 2 RX
        // streams, a TX set defined and unequal with 1 stream.
        {"dual-band HT client on 5 GHz",
         Body()
             .ie(59, {115, 81, 83, 121, 130, 131})
             .ie(36, {36, 4, 100, 3, 149, 0})
             .ht((1u << 1) | (1u << 6), 2, 0x03)
             .rm_enabled()
             .ext_cap(false, true),
         true, "mesh",
         "bands 3 bw 40 rx 2 tx 1 ht sgi rrm ecsa classes 115,81,83,121 channels "
         "36,40,44,48,100,104,108"},
        // 160 MHz, SGI80: only the serving radio's band.
        {"VHT client", Body().ht(1u << 1, 2).vht((1u << 2) | (1u << 5), 4, 2), true, "mesh",
         "bands 2 bw 160 rx 4 tx 2 ht vht sgi"},
        {"VHT on 2.4 GHz tells no width or band", Body().ht(0, 2).vht(1u << 2, 2, 2), false, "mesh",
         "bands 1 bw 20 rx 2 tx 2 ht vht"},
        // 40 MHz in 2.4 GHz, 40/80 in 5 GHz, then HE 6 GHz band capabilities.
        {"HE client on 5 GHz", Body().he(6, 2).ie(255, {59, 0, 0}), true, "mesh",
         "bands 6 bw 80 rx 2 tx 2 he"},
        {"HE client on 2.4 GHz: its width bit only", Body().he(6, 2).ie(255, {59, 0, 0}), false,
         "mesh", "bands 5 bw 40 rx 2 tx 2 he"},
        // The Current AP Address starts 00 05, which reads as an SSID element of 5 bytes
        // at the association offset: the serving SSID, or else the element chain, tells.
        {"reassociation found by SSID", Body(true, "home").ext_cap(true, false), false, "home",
         "bands 1 bw 20 rx 1 tx 1 reassoc btm"},
        {"reassociation without SSID", Body(true, "home").ext_cap(true, false), false, "",
         "bands 1 bw 20 rx 1 tx 1 reassoc btm"},
        {"association, other SSID", Body(false, "home").ext_cap(true, false), false, "other",
         "bands 1 bw 20 rx 1 tx 1 btm"},
        {"element cut in half: what came before is kept",
         Body().rm_enabled().ht(1u << 1, 3).cut(13), false, "mesh", "bands 1 bw 20 rx 1 tx 1 rrm"},
        {"last element claims 255 bytes",
         Body().rm_enabled().ht(1u << 1, 3).raw({127, 255, 0, 0, 8}), false, "mesh",
         "bands 1 bw 40 rx 3 tx 3 ht rrm"},
        {"lone element id at the end",
         Body().rm_enabled().ht(1u << 1, 3).raw({127, 255, 0, 0, 8, 45}), false, "mesh",
         "bands 1 bw 40 rx 3 tx 3 ht rrm"},
        {"known elements shorter than their layout",
         Body().ie(45, {2, 0}).ie(191, {1, 2, 3}).ie(255, {35, 1, 2}), true, "mesh",
         "bands 2 bw 20 rx 1 tx 1"},
        {"channel ranges: repeats and the top of the byte", Body().ie(36, {1, 13, 6, 2, 250, 255}),
         false, "mesh", "bands 3 bw 20 rx 1 tx 1 channels " + range(1, 13) + "," + range(250, 255)},
        {"channel list capped", Body().ie(36, pairs), false, "mesh",
         "bands 3 bw 20 rx 1 tx 1 channels " + range(0, 63)},
        {"odd trailing byte is not a pair", Body().ie(36, {36, 2, 52}), true, "mesh",
         "bands 2 bw 20 rx 1 tx 1 channels 36,40"},
        // MBO: capability attribute, a report for class 115 channels 36 and 40 at
        // preference 0 reason 1, a zero-length report; then another vendor's element.
        {"MBO non-preferred channels",
         Body()
             .ie(221, {0x50, 0x6f, 0x9a, 0x16, 1, 1, 0x40, 2, 5, 115, 36, 40, 0, 1, 2, 0})
             .ie(221, {0x00, 0x50, 0xf2, 0x02, 0x00}),
         true, "mesh", "bands 2 bw 20 rx 1 tx 1 mbo nonpref 115,36,0,1 nonpref 115,40,0,1"},
        {"MBO attribute running past its element",
         Body().ie(221, {0x50, 0x6f, 0x9a, 0x16, 0x02, 0x09, 115, 36}), true, "mesh",
         "bands 2 bw 20 rx 1 tx 1 mbo"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        map_sta_assoc_caps c;
        ASSERT_EQ(map_80211_parse_assoc_body(&c, r.body.b.data(), r.body.b.size(), r.is_5g,
                                             reinterpret_cast<const uint8_t*>(r.ssid),
                                             std::strlen(r.ssid)),
                  0);
        EXPECT_EQ(summary(c), fixed + r.want);
    }
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

TEST(OperatingClass, BandsAndFiveGhzHalves) {
    struct Row {
        uint8_t cls, band;
        uint16_t type;
    };
    std::vector<Row> rows = {
        {81, MAP_BAND_2G, MAP_FREQ_NONE},     {84, MAP_BAND_2G, MAP_FREQ_NONE},
        {115, MAP_BAND_5G, MAP_FREQ_5G_LOW},  {120, MAP_BAND_5G, MAP_FREQ_5G_LOW},
        {121, MAP_BAND_5G, MAP_FREQ_5G_HIGH}, {125, MAP_BAND_5G, MAP_FREQ_5G_HIGH},
        {127, MAP_BAND_5G, MAP_FREQ_5G_HIGH}, {128, MAP_BAND_5G, MAP_FREQ_5G_BOTH},
        {130, MAP_BAND_5G, MAP_FREQ_5G_BOTH}, {131, MAP_BAND_6G, MAP_FREQ_NONE},
        {137, MAP_BAND_6G, MAP_FREQ_NONE}};
    for (uint8_t cls : {0, 80, 85, 112, 114, 138, 180, 255})
        rows.push_back({cls, 0xee, 0xeeee});  // unknown: refused, nothing written
    for (const auto& r : rows) {
        uint8_t band = 0xee;
        uint16_t type = 0xeeee;
        EXPECT_EQ(get_frequency_type(r.cls, &band, &type), r.band == 0xee ? -1 : 0) << int(r.cls);
        EXPECT_EQ(std::make_tuple(band, type), std::make_tuple(r.band, r.type)) << int(r.cls);
    }
}

}  // namespace
