// The record layouts of channel configuration, and the channel service stand-in's checks, as
// tables (the band and bandwidth encodings are followed through the Channels tests).
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "common/paths.h"
#include "configuration/radio_bands.h"
#include "map/codec/tlvs.h"
#include "map/datamodel/datamodel.h"
#include "nal/ics.h"
#include "nal/nal.h"
#include "platform/map/codec/hex.h"
#include "support/temp_root.h"

namespace {

ozr_channel_configuration_t request() {
    return ozr_channel_configuration_t{"", FREQ_BAND_5G, 36, 3, 0xA1, 0xA2, 0xA3, 0x1234, 149, 9};
}

TEST(Bands, RecordLayouts) {
    const ozr_channel_configuration_t c = request();
    channel_selection_request_event_t ev = channel_event_of(c);
    const auto* b = reinterpret_cast<const uint8_t*>(&ev);
    const uint8_t event[13] = {0, 0, 0, 0, 0, 0, 0, 36, 3, 0xA1, 149, 0x34, 0xA3};
    EXPECT_EQ(std::memcmp(b, event, sizeof event), 0);

    // Band mask (16-bit, little-endian), kind (1 channel, 2 power), 0, then the kind's
    // fields; the channel record's byte 31 is its first extra byte (0xF0 when none).
    std::vector<uint8_t> rec(kIcsProvisionSize, 0xCC), want(kIcsProvisionSize, 0);
    auto with = [&](const char* head, uint8_t last) {
        std::vector<uint8_t> v = from_hex(head);
        v.resize(kIcsProvisionSize, 0);
        v[31] = last;
        return v;
    };
    fill_channel_provision(c, 0x100, rec.data());
    EXPECT_EQ(rec, with("0001 01 00 01 03 02 24 95", 0xA1));
    ozr_channel_configuration_t plain = c;
    plain.extra_first = 0;
    fill_channel_provision(plain, 0x10, rec.data());
    EXPECT_EQ(rec, with("1000 01 00 01 03 02 24 95", 0xF0));
    fill_txpower_provision(17, 0x80, rec.data());
    EXPECT_EQ(rec, with("8000 02 11", 0));

    NalRadioChannel_T nal{};
    ASSERT_TRUE(to_nal_radio_channel(c, &nal));
    const uint32_t words[3] = {0x08, 2, 36};
    EXPECT_EQ(std::memcmp(&nal, words, sizeof words), 0);
    ozr_channel_configuration_t bad = c;
    bad.bandwidth = 6;
    EXPECT_FALSE(to_nal_radio_channel(bad, &nal));
}

class Ics : public ::testing::Test {
  protected:
    void SetUp() override {
        ics_reset();
        ASSERT_TRUE(ozr_make_dirs(ozr_path("/configs/easymesh")));
        journal_ = root_.path("/journal.jsonl");
        platform("");
    }
    void TearDown() override {
        ics_reset();
        map_datamodel_reset();
    }
    void platform(const std::string& extra) {
        ozr_test::write_text(nal_platform_json_path(),
                             "{\"platform-journal-path\": \"" + journal_ + "\"" + extra + "}");
    }
    std::string journal() const { return ozr_test::read_text(journal_); }
    ozr_test::TempRoot root_;
    std::string journal_;
};

TEST_F(Ics, ProvisioningKeepsTheLastRecordPerBandAndKind) {
    ozr_channel_configuration_t c = request();
    std::vector<uint8_t> rec(kIcsProvisionSize);
    fill_channel_provision(c, 0x80, rec.data());
    ASSERT_EQ(ics_provision(rec.data(), rec.size()), 0);
    EXPECT_EQ(ics_provision_get_channel(0x80), 36);
    EXPECT_EQ(ics_provision_get_channel(0x10), 0);
    // A power record of the same band leaves the channel alone.
    std::vector<uint8_t> power(kIcsProvisionSize);
    fill_txpower_provision(20, 0x80, power.data());
    ASSERT_EQ(ics_provision(power.data(), power.size()), 0);
    EXPECT_EQ(ics_provision_get_channel(0x80), 36);
    // Refused: wrong size, unknown band, unknown kind, a channel outside the band.
    EXPECT_EQ(ics_provision(rec.data(), rec.size() - 1), -1);
    EXPECT_EQ(ics_provision(nullptr, kIcsProvisionSize), -1);
    std::vector<uint8_t> bad = rec;
    bad[0] = 0x30;
    EXPECT_EQ(ics_provision(bad.data(), bad.size()), -1);
    bad = rec;
    bad[2] = 3;
    EXPECT_EQ(ics_provision(bad.data(), bad.size()), -1);
    bad = rec;
    bad[7] = 14;
    EXPECT_EQ(ics_provision(bad.data(), bad.size()), -1);
    EXPECT_EQ(ics_provision_get_channel(0x80), 36);
    // Channel 0 clears it.
    c.channel = 0;
    fill_channel_provision(c, 0x80, rec.data());
    ASSERT_EQ(ics_provision(rec.data(), rec.size()), 0);
    EXPECT_EQ(ics_provision_get_channel(0x80), 0);
    const std::string j = journal();
    EXPECT_NE(j.find("\"call\":\"ics_provision\",\"mask\":128,\"kind\":1,\"channel\":36,\"bw\":3,"
                     "\"hex\":\"8000010001030224950000"),
              std::string::npos)
        << j;
    EXPECT_NE(j.find("\"call\":\"ics_provision\",\"mask\":128,\"kind\":2,"), std::string::npos);
    EXPECT_EQ(ozr_test::count_of(j, "\"rc\":-1"), 5u);
}

TEST_F(Ics, AvailableChannelsFromTheRadioOrThePlatform) {
    ASSERT_EQ(map_datamodel_init(MAC(2, 0, 0, 0, 0, 1), MAC(2, 0, 0, 0, 1, 0)), 0);
    map_ale_info_t* ale = map_update_ale(MAC(2, 0, 0, 0, 1, 0));
    ASSERT_NE(ale, nullptr);
    const MAC id(2, 0, 0, 0, 1, 0x20);
    map_radio_info_t* radio = map_update_radio(ale, id);
    ASSERT_NE(radio, nullptr);
    const uint8_t no_52[] = {52};
    const map_op_class_param_t classes[] = {{115, 23, 0, nullptr}, {118, 23, 1, no_52}};
    ASSERT_EQ(map_update_radio_basic_caps(radio, 2, classes, 2), 0);

    ics_available_channel_t out[65];
    const int n = ics_get_available_channel(id, out, 65);
    ASSERT_EQ(n, 8);  // 36..48 available, 56..64 after a CAC, 52 not allowed
    // Channel, state, class, EIRP, bandwidths (20, 40, 80, 160 MHz); then 56 and 52.
    EXPECT_EQ(std::tie(out[0].channel, out[0].state, out[0].op_class, out[0].max_eirp,
                       out[0].bw_mask, out[4].channel, out[4].state, out[7].channel, out[7].state),
              std::make_tuple(36, ICS_CHANNEL_AVAILABLE, 115, 23, 0x0F, 56,
                              ICS_CHANNEL_CAC_REQUIRED, 52, ICS_CHANNEL_NOT_ALLOWED));
    EXPECT_EQ(ics_get_available_channel(id, out, 3), 3);  // never beyond the room given
    EXPECT_EQ(ics_get_available_channel(MAC(2, 9, 9, 9, 9, 9), out, 65), -1);

    // The platform's list wins; entries that are not channels of the band are dropped.
    const std::string band = ics_band_name(radio->band_mask);
    platform(",\"ics-available-channels\": {\"" + band +
             "\": [40, {\"channel\": 60, \"state\": \"radar\", \"non-occupancy-s\": 1200}, 6, "
             "\"x\", {\"channel\": 999}]}");
    ASSERT_EQ(ics_get_available_channel(id, out, 65), 2);
    EXPECT_EQ(std::tie(out[0].channel, out[0].preference, out[1].channel, out[1].state,
                       out[1].non_occupancy_s, out[1].preference),
              std::make_tuple(40, 15, 60, ICS_CHANNEL_RADAR, 1200, 0));
}

TEST_F(Ics, ReportsFollowTheRadioAndTellAChange) {
    ASSERT_EQ(map_datamodel_init(MAC(2, 0, 0, 0, 0, 1), MAC(2, 0, 0, 0, 1, 0)), 0);
    const MAC id(2, 0, 0, 0, 1, 0x20);
    map_radio_info_t* radio = map_update_radio(map_update_ale(MAC(2, 0, 0, 0, 1, 0)), id);
    void* h = ics_attach_radio(radio);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(radio->chan_sel_handle, h);
    EXPECT_EQ(ics_attach_radio(radio), h);
    channel_selection_request_event_t ev{};
    EXPECT_EQ(ics_get_current_channel(h, &ev), -1);  // nothing reported yet

    operating_channel_report_tlv r;
    r.radio_id = id;
    r.op_classes = {{128, 42}, {115, 36}};  // 80 MHz around 42, primary 36
    r.num_op_classes = 2;
    r.current_tx_power_eirp = 20;
    ASSERT_EQ(ics_operating_channel_report(h, &r), 0);
    EXPECT_FALSE(ics_is_current_channel_change(h));  // the first report is no change
    ASSERT_EQ(ics_get_current_channel(h, &ev), 0);
    EXPECT_EQ(ev.channel, 36);
    EXPECT_EQ(ev.bandwidth, 3);
    ASSERT_EQ(ics_operating_channel_report(h, &r), 0);
    EXPECT_FALSE(ics_is_current_channel_change(h));
    r.op_classes = {{128, 58}};  // a wide class alone: its centre channel
    ASSERT_EQ(ics_operating_channel_report(h, &r), 0);
    EXPECT_TRUE(ics_is_current_channel_change(h));
    ASSERT_EQ(ics_get_current_channel(h, &ev), 0);
    EXPECT_EQ(ev.channel, 58);
    r.radio_id = MAC(2, 0, 0, 0, 1, 0x21);
    EXPECT_EQ(ics_operating_channel_report(h, &r), -1);  // another radio's report
    EXPECT_EQ(ics_operating_channel_report(nullptr, &r), -1);
}

}  // namespace
