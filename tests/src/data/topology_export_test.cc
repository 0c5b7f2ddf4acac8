// The packed topology export: built from a graph learnt from real CMDUs, walked with the
// size formula the bus uses, and compared field by field with the graph; the count limits,
// the memory bound and the dump file.
#include "data/topology_export.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "../graph/minder_harness.h"
#include "common/paths.h"
#include "data/data_minder.h"
#include "dbus/ozr_dbus.h"
#include "hkt/hkt_node.h"

using minder_test::Harness;
using minder_test::Macs;

namespace {

struct Freed {
    void operator()(unsigned char* p) const { std::free(p); }
};
using Block = std::unique_ptr<unsigned char, Freed>;

TopoApView view(Harness& h, const MAC& al, const std::string& sn, bool online) {
    TopoApView v;
    v.info.sn = sn;
    v.info.ale_mac = al;
    v.info.system_mac = MAC(al[0], al[1], al[2], al[3], al[4], 0xee);
    v.info.hostname = "host-" + sn;
    v.info.ipv4 = "192.168.1.23";
    v.info.status = "Configured";
    v.info.online = online;
    v.info.cost_to_gw = 77;
    v.device = h.g().find_device(al);
    return v;
}

Block build(Harness& h, const std::vector<TopoApView>& aps, size_t* size,
            size_t limit = topo::kMaxBlockBytes) {
    TopoSource src{&h.g(), h.gm().logger(), h.ctx().now()};
    unsigned char* out = reinterpret_cast<unsigned char*>(&size);  // must be cleared
    EXPECT_EQ(build_mesh_topology(aps, src, &out, size, limit), 0);
    return Block(out);
}

class TopologyExport : public ::testing::Test {
  protected:
    void SetUp() override {
        minder_test::topology_round(h_);
        minder_test::capabilities(h_);
        minder_test::topology_round(h_);
    }
    Harness h_;
};

}  // namespace

TEST_F(TopologyExport, BlockWalksWithTheSizeFormulaAndMatchesTheGraph) {
    HktNode hkt;
    hkt.model_number = "EXT-9000";
    hkt.sw_version = "1.2.3-build-45";
    hkt.vendor = "Maker";
    hkt.product_class = "Extender";  // 8 chars: truncated to 7
    hkt.uptime = 4242;
    std::vector<TopoApView> aps = {view(h_, Macs::e1, "EX1", true),
                                   view(h_, Macs::e2, "EX2", false)};
    aps[0].hkt = &hkt;
    aps[1].hkt = &hkt;  // offline: no vendor agent fields
    size_t size = 0;
    Block b = build(h_, aps, &size);
    ASSERT_TRUE(b);
    const unsigned char* p = b.get();
    ASSERT_EQ(size, get_topo_msg_size(reinterpret_cast<const ZkaEmNetwork_T*>(p)));
    EXPECT_EQ(topo_u32(p, topo::kHdrSize), size);
    EXPECT_EQ(p[kZkaTopoApCountAt], 2);
    EXPECT_EQ(topo_text(p, topo::kHdrController, 18), Macs::root.to_string());

    size_t at = kZkaTopoHeaderLen;
    for (const TopoApView& ap : aps) {
        const Device* d = ap.device;
        ASSERT_NE(d, nullptr);
        size_t ap_at = at;
        EXPECT_EQ(topo_text(p, ap_at + topo::kApSn, 33), ap.info.sn);
        EXPECT_EQ(topo_text(p, ap_at + topo::kApAlMac, 64), d->mac.to_string());
        EXPECT_EQ(topo_text(p, ap_at + topo::kApSystemMac, 33), ap.info.system_mac.to_string());
        EXPECT_EQ(topo_text(p, ap_at + topo::kApHostname, 65), ap.info.hostname);
        EXPECT_EQ(topo_text(p, ap_at + topo::kApIpv4, 16), "192.168.1.23");
        EXPECT_EQ(p[ap_at + topo::kApOnline], ap.info.online ? 1 : 0);
        EXPECT_EQ(topo_u32(p, ap_at + topo::kApCostToGw), 77u);
        EXPECT_EQ(topo_u32(p, ap_at + topo::kApState), 3u);
        EXPECT_EQ(topo_text(p, ap_at + topo::kApStateText, 16), "Configured");
        EXPECT_EQ(topo_text(p, ap_at + topo::kApSwVersion, 65),
                  ap.info.online ? "1.2.3-build-45" : "");
        EXPECT_EQ(topo_text(p, ap_at + topo::kApProductClass, 8), ap.info.online ? "Extende" : "");
        EXPECT_EQ(topo_u32(p, ap_at + topo::kApUptime), ap.info.online ? 4242u : 0u);
        EXPECT_EQ(topo_text(p, ap_at + topo::kApBackhaulKind, 8),
                  d->backhaul.is_backhaul_connected
                      ? (d->backhaul.medium == Medium::ETHERNET ? "wired" : "wireless")
                      : "");
        ASSERT_EQ(p[ap_at + kZkaTopoApRadioCountAt], d->operational_bss.size());
        at += kZkaTopoApLen;
        for (const RadioInfo& r : d->operational_bss) {
            EXPECT_EQ(topo_text(p, at + topo::kRadioId, 18), r.radio_id.to_string());
            EXPECT_EQ(p[at + topo::kRadioChannel], *d->radio_primary_channel(r.radio_id));
            EXPECT_EQ(p[at + topo::kRadioOpClass], 115);
            EXPECT_EQ(topo_text(p, at + topo::kRadioBand, 8), "5G");
            ASSERT_EQ(p[at + kZkaTopoRadioSsidCountAt], r.bsss.size());
            at += kZkaTopoRadioLen;
            for (const BSSInfo& bss : r.bsss) {
                EXPECT_EQ(topo_text(p, at + topo::kSsidName, 33), bss.ssid);
                EXPECT_EQ(topo_text(p, at + topo::kSsidBssid, 18), bss.bssid.to_string());
                size_t n = topo_u16(p, at + kZkaTopoSsidStaCountAt);
                at += kZkaTopoSsidLen;
                size_t expected = 0;
                for (const Link* l : d->links)
                    if (l->kind() == Link::WIRELESS &&
                        static_cast<const WirelessLink*>(l)->bssid == bss.bssid) {
                        ++expected;
                        EXPECT_EQ(topo_text(p, at + topo::kStaMac, 18), l->to.to_string());
                        EXPECT_EQ(topo_text(p, at + topo::kStaBssid, 18), bss.bssid.to_string());
                        EXPECT_EQ(p[at + topo::kStaBackhaul], l->to == Macs::e2_bsta ? 1 : 0);
                        at += kZkaTopoStaLen;
                    }
                EXPECT_EQ(n, expected) << bss.bssid.to_string();
            }
        }
        size_t eth = topo_u16(p, ap_at + kZkaTopoApEthCountAt);
        for (size_t k = 0; k < eth; ++k, at += kZkaTopoEthLen)
            EXPECT_EQ(topo_text(p, at + topo::kEthMac, 18), Macs::wired.to_string());
    }
    EXPECT_EQ(at, size);
    // The backhaul STA of E2 is exported on E1's backhaul BSS, the client C2 on E2.
    std::string dump;
    ASSERT_EQ(mesh_toplogy_renderer(p, size, dump), 0);
    EXPECT_NE(dump.find("ap=2:\n"), std::string::npos);
    EXPECT_NE(dump.find("ap[0] rd [1] eth ["), std::string::npos);
    EXPECT_NE(dump.find("rd [0] sd [2]:\n"), std::string::npos);
    EXPECT_NE(dump.find(" sd [1] ass [1]:\n"), std::string::npos);
    EXPECT_NE(dump.find("size " + std::to_string(size) + "\n"), std::string::npos);
}

TEST_F(TopologyExport, CountsAndLimits) {
    // No extenders: the header alone.
    size_t size = 0;
    Block empty = build(h_, {}, &size);
    ASSERT_TRUE(empty);
    EXPECT_EQ(size, kZkaTopoHeaderLen);
    EXPECT_EQ(empty.get()[kZkaTopoApCountAt], 0);

    // One radio, one SSID with two stations, one Ethernet client: 1804 bytes.
    TopoApView one = view(h_, Macs::e1, "EX1", true);
    Device* e1 = h_.g().find_device(Macs::e1);
    ASSERT_NE(e1, nullptr);
    e1->operational_bss = {{Macs::e1_radio, {{Macs::e1_fh, "home"}}}};
    while (!e1->links.empty()) {
        Link* l = e1->links.front();
        e1->delete_link(&l);
    }
    const MAC s1(0x5c, 0, 0, 0, 1, 1), s2(0x5c, 0, 0, 0, 1, 2), lan(0x5c, 0, 0, 0, 1, 3);
    for (const MAC& m : {s1, s2, lan})
        h_.g().add_node(new Sta("", m, h_.ctx().now()));
    e1->add_link(new WirelessLink(s1, Macs::e1_fh, h_.ctx().now()));
    e1->add_link(new WirelessLink(s2, Macs::e1_fh, h_.ctx().now()));
    e1->add_link(new WiredLink(lan, h_.ctx().now()));
    Block b = build(h_, {one}, &size);
    ASSERT_TRUE(b);
    EXPECT_EQ(size, 1804u);
    EXPECT_EQ(topo_u16(b.get(), 72 + 696 + 104 + kZkaTopoSsidStaCountAt), 2);
    EXPECT_EQ(topo_u16(b.get(), 72 + kZkaTopoApEthCountAt), 1);
    EXPECT_EQ(topo_text(b.get(), 1804 - 44 + topo::kEthMac, 18), lan.to_string());

    // Seven APs are all exported (the size function only reports the excess); more than
    // the 8-bit count holds are cut at 255, and the block still walks.
    std::vector<TopoApView> many(300, view(h_, Macs::root, "X", false));
    for (TopoApView& v : many)
        v.device = nullptr;
    Block seven = build(h_, std::vector<TopoApView>(many.begin(), many.begin() + 7), &size);
    EXPECT_EQ(seven.get()[kZkaTopoApCountAt], 7);
    EXPECT_EQ(size, 72u + 7 * 696);
    Block capped = build(h_, many, &size);
    ASSERT_TRUE(capped);
    EXPECT_EQ(capped.get()[kZkaTopoApCountAt], 255);
    EXPECT_EQ(size, 72u + 255 * 696);
    EXPECT_EQ(get_topo_msg_size(reinterpret_cast<const ZkaEmNetwork_T*>(capped.get())), size);

    // A block that would pass its bound is not built: -1, the output pointer null.
    TopoSource src{&h_.g(), h_.gm().logger(), h_.ctx().now()};
    unsigned char* out = reinterpret_cast<unsigned char*>(&size);
    EXPECT_EQ(build_mesh_topology(many, src, &out, &size, 72 + 10 * 696), -1);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(size, 0u);
}

TEST_F(TopologyExport, RendererNeverReadsPastTheBlock) {
    size_t size = 0;
    Block b = build(h_, {view(h_, Macs::e1, "EX1", true)}, &size);
    ASSERT_TRUE(b);
    std::string out;
    for (size_t cut : {size_t{0}, size_t{71}, size_t{72}, size - 1}) {
        // A copy of exactly CUT bytes, so that a read past it is caught.
        std::unique_ptr<unsigned char[]> copy(new unsigned char[cut ? cut : 1]);
        std::memcpy(copy.get(), b.get(), cut);
        EXPECT_EQ(mesh_toplogy_renderer(copy.get(), cut, out), -1) << cut;
    }
    EXPECT_EQ(mesh_toplogy_renderer(b.get(), size, out), 0);
}

// The block and its dump file are followed over the bus by BusProcess and Dispatch.
TEST_F(TopologyExport, TheTextVariantListsWhatTheBlockLists) {
    TopoSource src{&h_.g(), h_.gm().logger(), h_.ctx().now()};
    std::string one = mesh_topology_info_text({view(h_, Macs::e1, "EX\"1", true)}, src);
    rapidjson::Document doc;
    doc.Parse(one.c_str());
    ASSERT_FALSE(doc.HasParseError()) << one;
    const auto& ap = doc["aps"][0];
    EXPECT_EQ(std::string(ap["sn"].GetString()), "EX\"1");
    EXPECT_EQ(ap["radios"].GetUint(), 1u);
    EXPECT_EQ(ap["ssids"].GetUint(), 2u);
    EXPECT_EQ(ap["stations"].GetUint(), 1u);
}
