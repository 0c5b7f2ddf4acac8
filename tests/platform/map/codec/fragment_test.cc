// Fragmentation at TLV boundaries and reassembly: order, duplicates, time-out
// on the manual clock, and the bound on memory held for incomplete messages.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "common/clock.h"
#include "map/codec/codec.h"
#include "map/map_log.h"
#include "platform/map/transport/transport_test_util.h"
#include "samples.h"

using ::testing::HasSubstr;

namespace {

class Fragments : public ::testing::Test {
  protected:
    void SetUp() override { ozr_clock::set_manual(1000000); }
    void TearDown() override { ozr_clock::use_real(); }
    LogCapture log_;
    static std::vector<std::vector<uint8_t>> big(uint16_t mid = 0x4001) {
        CmduPtr c = make_topology_response(3, 4, 20);
        c->message_id = mid;
        std::vector<std::vector<uint8_t>> f;
        EXPECT_TRUE(encode_1905_CMDU(*c, f));
        return f;
    }
    static CmduPtr reassemble(const std::vector<std::vector<uint8_t>>& frags) {
        CmduReassembler r;
        CmduPtr out;
        for (auto& f : frags)
            out = r.feed(sample_mac(1, 1), f.data(), f.size());
        return out;
    }
};

TEST_F(Fragments, LargeCmduSplitsAtTlvBoundariesWithinOnePayload) {
    CmduPtr c = make_ap_metrics_response(60);
    std::vector<std::vector<uint8_t>> frags;
    ASSERT_TRUE(encode_1905_CMDU(*c, frags));
    ASSERT_GE(frags.size(), 3u);
    for (size_t i = 0; i < frags.size(); ++i) {
        cmdu_header h;
        ASSERT_TRUE(parse_1905_CMDU_header(frags[i].data(), frags[i].size(), h));
        EXPECT_LE(frags[i].size(), CMDU_MAX_FRAGMENT_PAYLOAD);
        EXPECT_GT(frags[i].size(), i + 1 < frags.size() ? 1400u : 0u) << "fragments are packed";
        EXPECT_EQ(std::make_tuple(h.fragment_id, h.message_type, h.last_fragment),
                  std::make_tuple(i, CMDU_TYPE_AP_METRICS_RESPONSE, i + 1 == frags.size()));
        // Each fragment on its own is a whole TLV sequence.
        size_t at = CMDU_HEADER_LEN;
        while (at < frags[i].size()) {
            ASSERT_LE(at + 3, frags[i].size());
            at += 3 + ((size_t(frags[i][at + 1]) << 8) | frags[i][at + 2]);
        }
        EXPECT_EQ(at, frags[i].size());
    }
    EXPECT_EQ(frags.back()[frags.back().size() - 3], TLV_TYPE_END_OF_MESSAGE);

    CmduPtr out = reassemble(frags);
    ASSERT_TRUE(out);
    EXPECT_EQ(tlv_dumps(out.get()), tlv_dumps(c.get()));
}

TEST_F(Fragments, ATlvLargerThanAFragmentIsCutAtBytesEvenInsideZeros) {
    // 3 radios x 4 BSSs x 20 clients: the Associated Clients TLV alone is
    // over 2000 bytes, so the message is cut wherever a fragment is full.
    auto frags = big();
    ASSERT_EQ(frags.size(), 2u);
    EXPECT_EQ(frags[0].size(), CMDU_MAX_FRAGMENT_PAYLOAD);
    EXPECT_LE(frags[1].size(), CMDU_MAX_FRAGMENT_PAYLOAD);
    CmduPtr out = reassemble(frags);
    ASSERT_TRUE(out);
    EXPECT_EQ(tlv_dumps(out.get()), tlv_dumps(make_topology_response(3, 4, 20).get()));

    // More than 256 fragments are refused.
    CmduBuilder b(CMDU_TYPE_VENDOR_SPECIFIC, 1);
    for (int i = 0; i < 7; ++i)
        b.add<vendor_specific_tlv>().payload.resize(60000);
    std::vector<std::vector<uint8_t>> f;
    EXPECT_FALSE(encode_1905_CMDU(*b.get(), f));

    // A tunneled frame of zeros cut in three: the fragments after the first start with
    // bytes that read like End of Message, and are not taken for it.
    CmduBuilder z(CMDU_TYPE_TUNNELED, 5);
    z.add<source_info_tlv>().mac = sample_mac(1, 1);
    z.add<tunneled_tlv>().frame_body.assign(3000, 0);
    ASSERT_TRUE(encode_1905_CMDU(*z.get(), f));
    ASSERT_EQ(f.size(), 3u);
    out = reassemble(f);
    ASSERT_TRUE(out);
    EXPECT_EQ(tlv_dumps(out.get()), tlv_dumps(z.get()));
}

// In any order, repeats ignored; a message is told apart by its source and message id.
TEST_F(Fragments, ReassemblesInAnyOrderIgnoringRepeatsPerSourceAndMessageId) {
    auto frags = big();
    CmduReassembler r;
    const MAC src = sample_mac(0xA0, 1);
    CmduPtr out;
    for (size_t k = frags.size(); k-- > 0;) {  // last fragment first
        auto& f = frags[k];
        out = r.feed(src, f.data(), f.size());
        if (k > 0) {
            EXPECT_FALSE(out);
            EXPECT_FALSE(r.feed(src, f.data(), f.size())) << "repeat";
        }
    }
    ASSERT_TRUE(out);
    EXPECT_EQ(std::tie(out->message_type, out->src_al_mac),
              std::make_tuple(CMDU_TYPE_TOPOLOGY_RESPONSE, src));
    EXPECT_EQ(tlv_dumps(out.get()), tlv_dumps(make_topology_response(3, 4, 20).get()));
    EXPECT_EQ(std::make_tuple(r.pending_messages(), r.pending_bytes()), std::make_tuple(0u, 0u));

    auto a = big(7), b = big(8);
    const MAC s1 = src, s2 = sample_mac(0xA0, 2);
    // Same message id from two sources, and a second id from the first source.
    for (size_t i = 0; i + 1 < a.size(); ++i) {
        EXPECT_FALSE(r.feed(s1, a[i].data(), a[i].size()));
        EXPECT_FALSE(r.feed(s2, a[i].data(), a[i].size()));
        EXPECT_FALSE(r.feed(s1, b[i].data(), b[i].size()));
    }
    EXPECT_EQ(r.pending_messages(), 3u);
    CmduPtr x = r.feed(s2, a.back().data(), a.back().size());
    ASSERT_TRUE(x);
    EXPECT_EQ(std::tie(x->src_al_mac, x->message_id), std::make_tuple(s2, 7));
    EXPECT_TRUE(r.feed(s1, b.back().data(), b.back().size()));
    EXPECT_TRUE(r.feed(s1, a.back().data(), a.back().size()));
    EXPECT_EQ(r.pending_messages(), 0u);
}

TEST_F(Fragments, IncompleteMessagesTimeOut) {
    auto frags = big();
    CmduReassembler::Limits lim;
    lim.timeout_ms = 2000;
    CmduReassembler r(lim);
    const MAC src = sample_mac(0xA0, 1);
    EXPECT_FALSE(r.feed(src, frags[0].data(), frags[0].size()));
    ozr_clock::advance(1999);
    r.expire();
    EXPECT_EQ(r.pending_messages(), 1u);
    ozr_clock::advance(1);
    r.expire();
    EXPECT_EQ(std::make_tuple(r.pending_messages(), r.pending_bytes()), std::make_tuple(0u, 0u));
    ASSERT_EQ(LogCapture::lines().size(), 1u);
    EXPECT_THAT(LogCapture::lines()[0], HasSubstr("timed out"));
    // The late rest no longer completes anything.
    for (size_t i = 1; i < frags.size(); ++i)
        EXPECT_FALSE(r.feed(src, frags[i].data(), frags[i].size()));
}

TEST_F(Fragments, MemoryHeldIsBounded) {
    CmduReassembler::Limits lim;
    lim.max_messages = 4;
    lim.max_bytes = 4000;
    CmduReassembler r(lim);
    // 50 senders each start a big message and never finish it.
    for (int s = 0; s < 50; ++s) {
        auto frags = big(static_cast<uint16_t>(s));
        ozr_clock::advance(1);
        r.feed(sample_mac(0xC0, static_cast<uint8_t>(s)), frags[0].data(), frags[0].size());
        EXPECT_LE(r.pending_messages(), 4u);
        EXPECT_LE(r.pending_bytes(), 4000u);
    }
    // The newest sender still completes its message.
    auto frags = big(49);
    CmduPtr out;
    for (size_t i = 1; i < frags.size(); ++i)
        out = r.feed(sample_mac(0xC0, 49), frags[i].data(), frags[i].size());
    EXPECT_TRUE(out);
}

TEST_F(Fragments, InconsistentFragmentsDropTheMessage) {
    auto frags = big();
    ASSERT_GE(frags.size(), 2u);
    CmduReassembler r;
    const MAC src = sample_mac(0xA0, 1);
    // A fragment of the same id but another message type.
    auto other = frags[0];
    other[3] ^= 1;
    EXPECT_FALSE(r.feed(src, frags[0].data(), frags[0].size()));
    other[6] = 1;
    other[7] = 0;
    EXPECT_FALSE(r.feed(src, other.data(), other.size()));
    EXPECT_EQ(r.pending_messages(), 0u);
    // A last fragment without End of Message.
    auto last = frags.back();
    last.resize(last.size() - 3);
    EXPECT_FALSE(r.feed(src, frags[0].data(), frags[0].size()));
    EXPECT_FALSE(r.feed(src, last.data(), last.size()));
    EXPECT_EQ(r.pending_messages(), 0u);
}

}  // namespace
