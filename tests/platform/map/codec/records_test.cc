// CMDU ownership, builder, names, and the WSC attribute parser/builder.
#include <gtest/gtest.h>

#include <cstring>

#include "map/codec/codec.h"
#include "map/codec/wsc.h"
#include "samples.h"

TEST(CmduRecords, BuilderListIsNullTerminatedAndTyped) {
    CmduBuilder b(CMDU_TYPE_TOPOLOGY_DISCOVERY, 9);
    b.source(sample_mac(1, 1)).relay(true);
    b.add<al_mac_address_tlv>().al_mac_address = sample_mac(1, 2);
    mac_address_tlv m;
    m.tlv_type = 0x55;  // corrected by the builder
    m.mac_address = sample_mac(1, 3);
    b.add(m);
    CmduPtr c = b.build();
    ASSERT_EQ(count_1905_TLVs(c.get()), 2u);
    EXPECT_EQ(c->list_of_TLVs[2], nullptr);
    EXPECT_EQ(*c->list_of_TLVs[0], TLV_TYPE_AL_MAC_ADDRESS_TYPE);
    EXPECT_EQ(*c->list_of_TLVs[1], TLV_TYPE_MAC_ADDRESS_TYPE);
    EXPECT_EQ(tlv_cast<mac_address_tlv>(c->list_of_TLVs[0]), nullptr);
    ASSERT_NE(tlv_cast<mac_address_tlv>(c->list_of_TLVs[1]), nullptr);
    EXPECT_EQ(tlv_cast<mac_address_tlv>(c->list_of_TLVs[1])->mac_address, sample_mac(1, 3));
    EXPECT_EQ(c->relay_indicator, 1);
    EXPECT_EQ(c->src_al_mac, sample_mac(1, 1));
    free_1905_CMDU_structure(nullptr);  // harmless
}

TEST(CmduRecords, NamesMatchTheDaemonsLogTexts) {
    EXPECT_STREQ(convert_1905_TLV_type_to_string(0xFE), "TLV_TYPE_UNKNOWN");
    EXPECT_STREQ(convert_1905_CMDU_type_to_string(0x7777), "CMDU_TYPE_UNKNOWN");
    // Every type with a record has a name of its own.
    for (int t = 0; t < 256; ++t) {
        if (tlv_type_has_record(static_cast<uint8_t>(t))) {
            EXPECT_STRNE(convert_1905_TLV_type_to_string(static_cast<uint8_t>(t)),
                         "TLV_TYPE_UNKNOWN")
                << t;
        }
    }
}

namespace {
std::vector<uint8_t> wsc_of(const char* sample) {
    CmduPtr c = make_sample_cmdu(sample);
    for (size_t i = 0; c->list_of_TLVs[i]; ++i) {
        if (auto* w = tlv_cast<wsc_tlv>(c->list_of_TLVs[i]))
            return w->wsc_frame;
    }
    return {};
}
}  // namespace

TEST(Wsc, M1FieldsParseAndRebuildToTheSameBytes) {
    auto frame = wsc_of("autoconfig_wsc_m1");
    wsc_message m;
    ASSERT_TRUE(wsc_parse_message(frame.data(), frame.size(), m));
    EXPECT_EQ(m.message_type, WSC_MSG_M1);
    EXPECT_EQ(m.mac_address, sample_mac(0xA0, 0x01));
    EXPECT_EQ(m.uuid[0], 0x10);
    EXPECT_EQ(m.uuid[15], 0x1F);
    EXPECT_EQ(m.manufacturer, "Vexal");
    EXPECT_EQ(m.model_name, "Mesh Extender");
    EXPECT_EQ(m.model_number, "MX-200");
    EXPECT_EQ(m.serial_number, "SN0123456789");
    EXPECT_EQ(m.device_name, "ext-livingroom");
    EXPECT_EQ(m.rf_bands, WSC_RF_BAND_2_4_GHZ | WSC_RF_BAND_5_GHZ);
    std::vector<uint8_t> again;
    ASSERT_TRUE(wsc_build_message(m, again));
    EXPECT_EQ(again, frame);

    wsc_message m2;
    auto f2 = wsc_of("autoconfig_wsc_m2");
    ASSERT_TRUE(wsc_parse_message(f2.data(), f2.size(), m2));
    EXPECT_EQ(m2.message_type, WSC_MSG_M2);
}

TEST(Wsc, MalformedOrIncompleteM1IsRefused) {
    auto frame = wsc_of("autoconfig_wsc_m1");
    wsc_message m;
    for (size_t n : {size_t(1), size_t(3), frame.size() - 1}) {
        std::vector<uint8_t> cut(frame.begin(), frame.begin() + n);
        EXPECT_FALSE(wsc_parse_message(cut.data(), cut.size(), m)) << n;
    }
    // Without the Serial Number attribute.
    std::vector<wsc_attribute> attrs;
    ASSERT_TRUE(wsc_parse_attributes(frame.data(), frame.size(), attrs));
    std::vector<wsc_attribute> without;
    for (auto& a : attrs) {
        if (a.type != WSC_ATTR_SERIAL_NUMBER)
            without.push_back(a);
    }
    std::vector<uint8_t> rebuilt;
    ASSERT_TRUE(wsc_build_attributes(without, rebuilt));
    EXPECT_FALSE(wsc_parse_message(rebuilt.data(), rebuilt.size(), m));
    // A MAC Address attribute of 5 bytes.
    for (auto& a : attrs) {
        if (a.type == WSC_ATTR_MAC_ADDRESS)
            a.value.pop_back();
    }
    rebuilt.clear();
    ASSERT_TRUE(wsc_build_attributes(attrs, rebuilt));
    EXPECT_FALSE(wsc_parse_message(rebuilt.data(), rebuilt.size(), m));
    // Text over its cap is refused by the builder.
    wsc_message big;
    big.model_name.assign(33, 'x');
    std::vector<uint8_t> out;
    EXPECT_FALSE(wsc_build_message(big, out));
}

TEST(CmduRecords, BuilderFailsCleanlyWhenTheListIsFull) {
    CmduBuilder b(CMDU_TYPE_VENDOR_SPECIFIC, 1);
    for (int i = 0; i < 65535; ++i)
        b.add(timestamp_tlv{});
    EXPECT_EQ(count_1905_TLVs(b.get()), 65535u);
    b.add<timestamp_tlv>().timestamp = "still writable";
    EXPECT_EQ(count_1905_TLVs(b.get()), 65535u);
    EXPECT_FALSE(b.build());
}
