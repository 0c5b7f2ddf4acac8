// The bus records' sizes and the size functions the wrapper marshals by, on real bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "dbus/ozr_dbus.h"
#include "messages/bus_records.h"

namespace {
// The block's counts are little-endian on every CPU.
void put16(std::vector<unsigned char>& b, size_t at, uint16_t v) {
    b[at] = static_cast<unsigned char>(v & 0xff);
    b[at + 1] = static_cast<unsigned char>(v >> 8);
}

// A block with the given shape: per AP {radios: {ssids: stations}, eth clients}.
struct ApShape {
    std::vector<std::vector<uint16_t>> radios;
    uint16_t eth;
};
std::vector<unsigned char> build_block(const std::vector<ApShape>& aps) {
    std::vector<unsigned char> b(kZkaTopoHeaderLen, 0);
    b[kZkaTopoApCountAt] = static_cast<unsigned char>(aps.size());
    for (const ApShape& ap : aps) {
        size_t at = b.size();
        b.resize(at + kZkaTopoApLen, 0);
        b[at + kZkaTopoApRadioCountAt] = static_cast<unsigned char>(ap.radios.size());
        put16(b, at + kZkaTopoApEthCountAt, ap.eth);
        for (const auto& radio : ap.radios) {
            size_t r = b.size();
            b.resize(r + kZkaTopoRadioLen, 0);
            b[r + kZkaTopoRadioSsidCountAt] = static_cast<unsigned char>(radio.size());
            for (uint16_t stas : radio) {
                size_t s = b.size();
                b.resize(s + kZkaTopoSsidLen, 0);
                put16(b, s + kZkaTopoSsidStaCountAt, stas);
                b.resize(b.size() + kZkaTopoStaLen * stas, 0);
            }
        }
        b.resize(b.size() + kZkaTopoEthLen * ap.eth, 0);
    }
    return b;
}
const ZkaEmNetwork_T* as_block(const std::vector<unsigned char>& b) {
    return reinterpret_cast<const ZkaEmNetwork_T*>(b.data());
}
}  // namespace

TEST(BusRecords, TopologyBlockSizeFollowsItsCounts) {
    EXPECT_EQ(get_topo_msg_size(nullptr), 0u);
    auto empty = build_block({});
    EXPECT_EQ(get_topo_msg_size(as_block(empty)), 72u);
    // One AP, one radio, one SSID with two stations, one Ethernet client.
    auto one = build_block({{{{2}}, 1}});
    ASSERT_EQ(one.size(), 1804u);
    EXPECT_EQ(get_topo_msg_size(as_block(one)), 1804u);
    // Several levels, and counts beyond the soft limits (7 APs, 40 stations) still count.
    std::vector<ApShape> many(7, ApShape{{{1, 0}, {40}}, 17});
    auto big = build_block(many);
    EXPECT_EQ(get_topo_msg_size(as_block(big)), big.size());
}

TEST(BusRecords, ConfigSyncAndTextSizes) {
    EXPECT_EQ(get_config_msg_size(nullptr), 0u);
    std::vector<unsigned char> b(72 + 5, 0);
    uint32_t len = 5;
    std::memcpy(b.data() + 68, &len, 4);
    auto* cfg = reinterpret_cast<const ZkaRGConfigSync_T*>(b.data());
    EXPECT_EQ(get_config_msg_size(cfg), 77u);
    len = 0xffffffffu;  // no wrap-around on a 32-bit length
    std::memcpy(b.data() + 68, &len, 4);
    EXPECT_EQ(get_config_msg_size(cfg), 72ull + 0xffffffffull);
    EXPECT_EQ(get_topo_info_msg_size(nullptr), 0u);
    EXPECT_EQ(get_topo_info_msg_size(""), 1u);
    EXPECT_EQ(get_topo_info_msg_size("ap=1"), 5u);
}

TEST(BusRecords, TextFieldsAreBoundedByTheirWidth) {
    ZkaExtenderData_T d;
    std::memset(&d, 'A', sizeof d);  // no NUL at all
    EXPECT_EQ(zka_text(d.sn), std::string(33, 'A'));
    zka_set_text(d.sn, "sn-1");
    EXPECT_EQ(zka_text(d.sn), "sn-1");
    EXPECT_EQ(d.sn[32], '\0');
    zka_set_text(d.sn, std::string(50, 'x'));  // cut, still terminated
    EXPECT_EQ(zka_text(d.sn), std::string(32, 'x'));
    EXPECT_EQ(zka_text(nullptr, 4), "");
}
