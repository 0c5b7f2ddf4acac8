// Topology tree, look-ups and caps of the stack's data model,
// driven through the update functions on plain parameters.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "common/clock.h"
#include "map/datamodel/datamodel.h"
#include "map/map_log.h"
#include "platform/map/transport/transport_test_util.h"
#include "samples.h"

using ::testing::HasSubstr;

namespace {

const auto mac = sample_mac;

std::vector<map_ale_info_t*> at_depth(map_ale_info_t* root, int depth) {
    std::vector<map_ale_info_t*> out;
    array_list_t* list = ktree_elements_at_depth(root, depth);
    if (!list)
        return out;
    for (void* p = first_object(list); p; p = get_next_list_object(list, p))
        out.push_back(static_cast<map_ale_info_t*>(p));
    delete_array_list(list);
    return out;
}

void set_neighbors(map_ale_info_t* ale, std::vector<MAC> macs) {
    std::vector<map_neighbor_info_t> n(macs.size());
    for (size_t i = 0; i < macs.size(); ++i) {
        n[i].local_interface = ale->al_mac;
        n[i].al_mac = macs[i];
    }
    ASSERT_EQ(map_update_ale_neighbors(ale, n.data(), static_cast<int>(n.size())), 0);
}

// The gateway: controller 01:01 with its co-located agent 01:02; a wired
// extender 02:01 on the gateway's LAN; a wireless extender 03:01 on the
// gateway's backhaul BSS; a second wireless extender 04:01 behind 03:01.
class TreeTest : public ::testing::Test {
  protected:
    const MAC ctrl = mac(1, 1), local = mac(1, 2), wired = mac(2, 1), wifi = mac(3, 1),
              far = mac(4, 1);

    void SetUp() override {
        ozr_clock::set_manual(100000);
        ASSERT_EQ(map_datamodel_init(ctrl, local), 0);
    }
    void TearDown() override {
        map_datamodel_reset();
        ozr_clock::use_real();
    }
    LogCapture log_;
    void build_mesh() {
        set_neighbors(get_root_ale_node(), {local, wired});
        set_neighbors(map_update_ale(local), {ctrl, wired, wifi});
        set_neighbors(map_update_ale(wired), {ctrl, local});
        set_neighbors(map_update_ale(wifi), {local, far});
        set_neighbors(map_update_ale(far), {wifi});
    }
};

TEST_F(TreeTest, GatewayAndExtendersGetDepthsAndHeight) {
    EXPECT_EQ(map_get_topology_tree_height(), 0);  // the controller alone
    map_update_ale(local);
    EXPECT_EQ(map_get_topology_tree_height(), 1);
    build_mesh();

    map_ale_info_t* root = get_root_ale_node();
    ASSERT_NE(root, nullptr);
    // The wired extender, seen by controller and agent alike, goes below the agent.
    EXPECT_EQ(std::make_tuple(root->al_mac, root->depth, get_ale(local)->depth,
                              get_ale(wired)->depth, get_ale(wifi)->depth, get_ale(far)->depth),
              std::make_tuple(ctrl, 0, 1, 2, 2, 3));
    EXPECT_EQ(map_get_topology_tree_height(), 3);
    EXPECT_EQ(get_map_datamodel()->num_ales, 5);

    EXPECT_EQ(at_depth(root, 0), std::vector<map_ale_info_t*>{root});
    EXPECT_EQ(at_depth(root, 1), std::vector<map_ale_info_t*>{get_ale(local)});
    EXPECT_EQ(at_depth(root, 2), (std::vector<map_ale_info_t*>{get_ale(wired), get_ale(wifi)}));
    EXPECT_EQ(at_depth(root, 3), std::vector<map_ale_info_t*>{get_ale(far)});
    EXPECT_TRUE(at_depth(root, 4).empty());
    EXPECT_EQ(at_depth(get_ale(wifi), 1), std::vector<map_ale_info_t*>{get_ale(far)});
    EXPECT_EQ(ktree_elements_at_depth(root, -1), nullptr);
    EXPECT_EQ(ktree_elements_at_depth(nullptr, 1), nullptr);
    EXPECT_EQ(get_parent_ale_node(root), nullptr);
    EXPECT_EQ(get_parent_ale_node(get_ale(wired)), get_ale(local));
    EXPECT_EQ(get_parent_ale_node(get_ale(far)), get_ale(wifi));
    EXPECT_EQ(get_parent_ale_node(nullptr), nullptr);
}

TEST_F(TreeTest, WithoutColocatedAgentExtendersHangUnderTheRoot) {
    map_datamodel_reset();
    ASSERT_EQ(map_datamodel_init(ctrl, MAC::zero), 0);
    set_neighbors(get_root_ale_node(), {wired});
    map_update_ale(wired);
    EXPECT_EQ(get_ale(wired)->depth, 1);
    EXPECT_EQ(map_get_topology_tree_height(), 1);
    EXPECT_EQ(map_datamodel_init(MAC::zero, local), -1);
}

TEST_F(TreeTest, DumpShowsTheTreeAndSanitisesAgentText) {
    build_mesh();
    std::string text = map_format_topology_tree();
    EXPECT_THAT(text, HasSubstr("[0] 02:00:00:00:01:01 (controller)"));
    EXPECT_THAT(text, HasSubstr("\n  [1] 02:00:00:00:01:02 (local agent)"));
    EXPECT_THAT(text, HasSubstr("\n      [3] 02:00:00:00:04:01"));
    set_map_controller_module_log_level(7);
    LogCapture::lines().clear();
    dump_topology_tree();
    EXPECT_EQ(LogCapture::lines().size(), 5u);
    set_map_controller_module_log_level(5);

    // An agent outside the tree is listed apart; agent-supplied text cannot
    // break the log line.
    map_ale_info_t* lone = map_update_ale(mac(7, 7));
    map_update_ale_m1(lone, "m", "n", "1", "SN\n1\x1b", "d", 1);
    text = map_format_topology_tree();
    EXPECT_THAT(text, HasSubstr("\n[-] 02:00:00:00:07:07 sn SN?1? radios 0\n"));
}

TEST_F(TreeTest, TablesAreCappedWithOneLogLinePerSecond) {
    for (int i = 1; i < MAP_MAX_AGENTS; ++i)
        ASSERT_NE(map_update_ale(mac(0x10, static_cast<uint8_t>(i))), nullptr);
    EXPECT_EQ(get_map_datamodel()->num_ales, MAP_MAX_AGENTS);
    LogCapture::lines().clear();
    EXPECT_EQ(map_update_ale(mac(0x20, 1)), nullptr);
    EXPECT_EQ(map_update_ale(mac(0x20, 2)), nullptr);
    ASSERT_EQ(LogCapture::lines().size(), 1u);
    EXPECT_THAT(LogCapture::lines()[0], HasSubstr("agent table full"));
    ozr_clock::advance(1000);
    EXPECT_EQ(map_update_ale(mac(0x20, 3)), nullptr);
    EXPECT_EQ(LogCapture::lines().size(), 2u);
    EXPECT_NE(map_update_ale(mac(0x10, 5)), nullptr);  // known agents still update

    map_ale_info_t* ale = get_ale(mac(0x10, 1));
    for (int i = 0; i < MAP_MAX_RADIOS_PER_AGENT; ++i)
        ASSERT_NE(map_update_radio(ale, mac(0x30, static_cast<uint8_t>(i))), nullptr);
    EXPECT_EQ(map_update_radio(ale, mac(0x30, 0x99)), nullptr);
    EXPECT_EQ(ale->num_radios, MAP_MAX_RADIOS_PER_AGENT);

    std::vector<map_bss_param_t> bss(40);
    for (size_t i = 0; i < bss.size(); ++i)
        bss[i].bssid = BSSID(mac(0x40, static_cast<uint8_t>(i)));
    EXPECT_EQ(map_update_radio_bss_list(ale->radios[0], bss.data(), 40), 0);
    EXPECT_EQ(ale->radios[0]->num_bss, MAP_MAX_BSS_PER_RADIO);

    std::vector<map_op_class_param_t> classes(100);
    for (size_t i = 0; i < classes.size(); ++i)
        classes[i].op_class = static_cast<uint8_t>(81 + i);
    EXPECT_EQ(map_update_radio_basic_caps(ale->radios[0], 4, classes.data(), 100), 0);
    EXPECT_EQ(ale->radios[0]->num_op_classes, MAP_MAX_OP_CLASSES_PER_RADIO);

    std::vector<map_neighbor_info_t> nbrs(200);
    for (size_t i = 0; i < nbrs.size(); ++i)
        nbrs[i].al_mac = mac(0x50, static_cast<uint8_t>(i));
    EXPECT_EQ(map_update_ale_neighbors(ale, nbrs.data(), 200), 0);
    EXPECT_EQ(ale->num_neighbors, MAP_MAX_NEIGHBORS_PER_AGENT);

    std::vector<map_interface_info_t> ifs(300);
    EXPECT_EQ(map_update_ale_interfaces(ale, ifs.data(), 300), 0);
    EXPECT_EQ(ale->num_interfaces, MAP_MAX_INTERFACES_PER_AGENT);

    for (int i = 0; i < MAP_MAX_STATIONS; ++i)
        ASSERT_NE(
            map_update_sta(
                ale, MAC(0x06, 0, 0, 0, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)),
                BSSID(mac(0x40, 0)), 0),
            nullptr);
    EXPECT_EQ(map_update_sta(ale, mac(0x60, 0x60), BSSID(mac(0x40, 0)), 0), nullptr);
    EXPECT_EQ(get_map_datamodel()->num_stas, MAP_MAX_STATIONS);
    // A station that leaves frees its slot.
    EXPECT_EQ(map_remove_sta(MAC(0x06, 0, 0, 0, 0, 0)), 0);
    EXPECT_NE(map_update_sta(ale, mac(0x60, 0x60), BSSID(mac(0x40, 0)), 0), nullptr);
}

TEST_F(TreeTest, RadioBandsAndRadioLookUp) {
    map_ale_info_t* ale = map_update_ale(wifi);
    const uint8_t no_40[] = {40};
    const uint8_t all_high[] = {100, 104, 108, 112, 116, 120, 124, 128, 132, 136, 140, 144};
    std::vector<map_op_class_param_t> g2 = {{81}, {83}}, both = {{115}, {121}}, g6 = {{131}},
                                      low = {{115, 23, 1, no_40}, {121, 0, 12, all_high}};
    map_radio_info_t* r2 = map_update_radio(ale, mac(3, 0x20));
    map_radio_info_t* r5l = map_update_radio(ale, mac(3, 0x50));
    ASSERT_EQ(map_update_radio_basic_caps(r2, 8, g2.data(), 2), 0);
    ASSERT_EQ(map_update_radio_basic_caps(r5l, 4, low.data(), 2), 0);
    EXPECT_EQ(std::make_tuple(r2->radio_index, r2->band_mask, r2->op_classes[0].num_channels),
              std::make_tuple(MAP_RADIO_INDEX_2G, MAP_BAND_MASK_2G, 13));
    EXPECT_EQ(std::make_tuple(r5l->radio_index, r5l->band_mask, r5l->max_bss),
              std::make_tuple(MAP_RADIO_INDEX_5G, MAP_BAND_MASK_5G_LOW, 4));
    // Class 115 without its non-operable 40: three channels, 44 second; class 121, all
    // non-operable: none.
    const map_op_class_info_t& c0 = r5l->op_classes[0];
    EXPECT_EQ(std::make_tuple(c0.num_channels, c0.channels[1], c0.max_tx_power_eirp,
                              c0.num_non_operable, r5l->op_classes[1].num_channels),
              std::make_tuple(3, 44, 23, 1, 0));

    // The radio of AL serving BAND at INDEX; zero when none does.
    auto radio_for = [](const MAC& al, uint8_t index, uint16_t band) {
        uint8_t out[6] = {};
        return get_radio_id_mac(al, index, band, out) == 0 ? MAC(out) : MAC::zero;
    };
    EXPECT_EQ(radio_for(wifi, 1, MAP_BAND_MASK_5G_LOW), r5l->radio_id);
    EXPECT_EQ(radio_for(wifi, 0, MAP_BAND_MASK_2G), r2->radio_id);
    EXPECT_EQ(radio_for(wifi, 1, MAP_BAND_MASK_5G), r5l->radio_id);   // the low radio serves
    EXPECT_EQ(radio_for(wifi, 1, MAP_BAND_MASK_5G_HIGH), MAC::zero);  // but not the high band
    EXPECT_EQ(radio_for(wifi, 2, MAP_BAND_MASK_6G), MAC::zero);
    EXPECT_EQ(radio_for(far, 0, MAP_BAND_MASK_2G), MAC::zero);
    EXPECT_EQ(get_radio_id_mac(wifi, 0, MAP_BAND_MASK_2G, nullptr), -1);

    // The low radio turns out to cover all of 5 GHz: it now serves high requests too.
    ASSERT_EQ(map_update_radio_basic_caps(r5l, 4, both.data(), 2), 0);
    EXPECT_EQ(r5l->band_mask, MAP_BAND_MASK_5G);
    EXPECT_EQ(radio_for(wifi, 1, MAP_BAND_MASK_5G_HIGH), r5l->radio_id);
    map_radio_info_t* r6 = map_update_radio(ale, mac(3, 0x60));
    ASSERT_EQ(map_update_radio_basic_caps(r6, 2, g6.data(), 1), 0);
    EXPECT_EQ(std::make_tuple(r6->band_mask, r6->op_classes[0].num_channels),
              std::make_tuple(MAP_BAND_MASK_6G, 59));
    EXPECT_EQ(radio_for(wifi, 2, MAP_BAND_MASK_6G), r6->radio_id);
    EXPECT_EQ(get_radio(mac(3, 0x60)), r6);

    // A radio id that turns up under another agent moves there.
    map_ale_info_t* other = map_update_ale(far);
    EXPECT_EQ(map_update_radio(other, mac(3, 0x60)), r6);
    EXPECT_EQ(r6->ale, other);
    EXPECT_EQ(ale->num_radios, 2);
}

}  // namespace
