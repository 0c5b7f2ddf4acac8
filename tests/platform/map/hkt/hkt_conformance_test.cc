// Conformance of the HKT frames with Wireshark's IEEE 1905 dissector (tshark as a black
// box): one message of every HKT TLV type, as the controller and the extenders send them,
// dissects as a well-formed Vendor Specific message: no malformed packet or expert warning,
// message type 0x0004, one Vendor Specific TLV of the right length with the HKT OUI, then
// End of Message; the vendor data tshark shows is exactly the HKT TLV.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hex.h"
#include "map/codec/cmdu_alloc.h"
#include "map/codec/codec.h"
#include "map/codec/tlv_types.h"
#include "map/hkt/hkt_layout.h"
#include "pdml.h"
#include "random_io.h"

namespace {

struct Sample {
    std::string name;
    std::vector<uint8_t> hkt;  // the HKT TLV
    std::vector<uint8_t> frame;
};

template <class T>
void add_sample(std::vector<Sample>& out, bool multicast) {
    T rec;
    RandomFiller f(4242 + hkt_record_type<T>::value, 16);
    hkt_codec::visit(f, rec);
    if constexpr (std::is_same<T, hkt_config_response_tlv>::value) {
        rec.data.resize(rec.data_len % 64);
        rec.data_len = static_cast<uint16_t>(rec.data.size());
    }
    hktMessage m = hkt_message_of(rec);
    Sample s;
    s.name = hkt_tlv_type_to_string(m.tlv_type);
    ASSERT_TRUE(forge_hkt_message_from_structure(&m, s.hkt)) << s.name;
    vendor_specific_tlv v;
    ASSERT_TRUE(forge_hkt_vendor_tlv(&m, v));
    CmduPtr c = CmduBuilder(CMDU_TYPE_VENDOR_SPECIFIC, static_cast<uint16_t>(0x4000 + out.size()))
                    .relay(multicast)
                    .add(v)
                    .build();
    ASSERT_TRUE(c);
    std::vector<std::vector<uint8_t>> frags;
    ASSERT_TRUE(encode_1905_CMDU(*c, frags));
    ASSERT_EQ(frags.size(), 1u) << s.name;
    const MAC controller(0x02, 0x6f, 0x7a, 0x72, 0x00, 0x00);
    const MAC extender(0x02, 0x6f, 0x7a, 0x72, 0x02, 0xe0);
    build_1905_ethernet_frame(multicast ? IEEE1905_MULTICAST_ADDRESS : extender, controller,
                              frags[0], s.frame);
    out.push_back(std::move(s));
}

TEST(HktConformance, EveryHktMessageDissectsAsAWellFormedVendorSpecificTlv) {
    if (!have_tshark())
        GTEST_SKIP() << "tshark is not installed; HKT conformance not checked";
    std::vector<Sample> samples;
#define OZR_HKT_SAMPLE(TYPE, REC) add_sample<REC>(samples, TYPE == HKT_TLV_DISCOVERY_REQUEST);
    OZR_FOR_EACH_HKT_TLV(OZR_HKT_SAMPLE)
#undef OZR_HKT_SAMPLE
    ASSERT_FALSE(HasFailure());
    std::vector<std::vector<uint8_t>> frames;
    for (const auto& s : samples)
        frames.push_back(s.frame);
    auto packets = tshark_dissect(frames);
    ASSERT_EQ(packets.size(), samples.size()) << "tshark gave no dissection";

    const uint8_t* o = hkt_get_vendor_oui();
    const unsigned long long oui = (o[0] << 16) | (o[1] << 8) | o[2];
    for (size_t i = 0; i < samples.size(); ++i) {
        const Sample& s = samples[i];
        const auto& fields = packets[i];
        std::vector<std::pair<unsigned long long, unsigned long long>> tlvs;
        bool oui_ok = false, data_ok = false, type_ok = false;
        std::string names;
        for (size_t k = 0; k < fields.size(); ++k) {
            const PdmlField& f = fields[k];
            names += f.name + "=" + f.show + " ";
            unsigned long long v = 0;
            if (f.name == "ieee1905.message_type" && parse_number(f.show, v))
                type_ok = v == CMDU_TYPE_VENDOR_SPECIFIC;
            if (f.name == "ieee1905.tlv_type" && parse_number(f.show, v)) {
                unsigned long long l = 0;
                for (size_t j = k + 1; j < fields.size(); ++j)
                    if (fields[j].name == "ieee1905.tlv_length") {
                        parse_number(fields[j].show, l);
                        break;
                    }
                tlvs.emplace_back(v, l);
            }
            if (f.name == "ieee1905.vendor_specific.oui" && f.pos == 25 && f.size == 3 &&
                parse_number(f.show, v))
                oui_ok = v == oui;
            // The vendor data: the HKT TLV, right after the OUI (Ethernet 14 + CMDU
            // header 8 + TLV header 3 + OUI 3).
            if (f.name == "ieee1905.vendor_specific.info" && f.pos == 28 && f.size == s.hkt.size())
                data_ok = hex_digits(f.show) == to_hex(s.hkt);
        }
        EXPECT_EQ(expert_complaints(fields), std::vector<std::string>{}) << s.name;
        EXPECT_TRUE(type_ok) << s.name;
        EXPECT_EQ(tlvs, (std::vector<std::pair<unsigned long long, unsigned long long>>{
                            {TLV_TYPE_VENDOR_SPECIFIC, 3 + s.hkt.size()}, {0, 0}}))
            << s.name;
        EXPECT_TRUE(oui_ok) << s.name << ": " << names;
        EXPECT_TRUE(data_ok || s.hkt.empty()) << s.name << ": " << names;
    }
}

}  // namespace
