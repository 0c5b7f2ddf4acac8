// CMDU ownership, builder, names, and the WSC attribute parser/builder.
#include <gtest/gtest.h>

#include <tuple>

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
    EXPECT_EQ(std::make_tuple(*c->list_of_TLVs[0], *c->list_of_TLVs[1]),
              std::make_tuple(TLV_TYPE_AL_MAC_ADDRESS_TYPE, TLV_TYPE_MAC_ADDRESS_TYPE));
    EXPECT_EQ(tlv_cast<mac_address_tlv>(c->list_of_TLVs[0]), nullptr);
    ASSERT_NE(tlv_cast<mac_address_tlv>(c->list_of_TLVs[1]), nullptr);
    EXPECT_EQ(tlv_cast<mac_address_tlv>(c->list_of_TLVs[1])->mac_address, sample_mac(1, 3));
    EXPECT_EQ(std::tie(c->relay_indicator, c->src_al_mac), std::make_tuple(1, sample_mac(1, 1)));
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

// The texts of the M1 the data model keeps: UpdateTest.M1KeepsManufacturerModelSerialAndRadio.
TEST(Wsc, M1ParsesAndRebuildsToTheSameBytesAndADefectiveOneIsRefused) {
    const auto frame = sample_wsc("autoconfig_wsc_m1");
    wsc_message m;
    ASSERT_TRUE(wsc_parse_message(frame.data(), frame.size(), m));
    EXPECT_EQ(std::tie(m.message_type, m.mac_address, m.uuid[0], m.uuid[15], m.serial_number),
              std::make_tuple(WSC_MSG_M1, sample_mac(0xA0, 0x01), 0x10, 0x1F, "SN0123456789"));
    std::vector<uint8_t> again;
    ASSERT_TRUE(wsc_build_message(m, again));
    EXPECT_EQ(again, frame);
    const auto f2 = sample_wsc("autoconfig_wsc_m2");
    ASSERT_TRUE(wsc_parse_message(f2.data(), f2.size(), m));
    EXPECT_EQ(m.message_type, WSC_MSG_M2);

    // Cut, or without its Serial Number attribute.
    const auto no_serial = sample_wsc("autoconfig_wsc_m1", WSC_ATTR_SERIAL_NUMBER);
    for (size_t n : {size_t(1), size_t(3), frame.size() - 1}) {
        std::vector<uint8_t> cut(frame.begin(), frame.begin() + n);
        EXPECT_FALSE(wsc_parse_message(cut.data(), cut.size(), m)) << n;
    }
    EXPECT_FALSE(wsc_parse_message(no_serial.data(), no_serial.size(), m));
    // A MAC Address attribute of 5 bytes.
    std::vector<wsc_attribute> attrs;
    ASSERT_TRUE(wsc_parse_attributes(frame.data(), frame.size(), attrs));
    for (auto& a : attrs) {
        if (a.type == WSC_ATTR_MAC_ADDRESS)
            a.value.pop_back();
    }
    std::vector<uint8_t> rebuilt;
    ASSERT_TRUE(wsc_build_attributes(attrs, rebuilt));
    EXPECT_FALSE(wsc_parse_message(rebuilt.data(), rebuilt.size(), m));
    // Text over its cap is refused by the builder.
    wsc_message big;
    big.model_name.assign(33, 'x');
    std::vector<uint8_t> out;
    EXPECT_FALSE(wsc_build_message(big, out));
}
