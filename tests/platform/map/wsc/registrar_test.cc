// The controller's registrar fed real AP-Autoconfiguration WSC messages: the
// M2s each radio gets (opened as the agent would), Tear Down, what stays
// unanswered, hostile and replayed M1s, the work budgets on the manual
// clock, the log lines (never a key), and tshark's view of the M2s.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <tuple>

#include "common/clock.h"
#include "map/codec/cmdu_alloc.h"
#include "map/codec/codec.h"
#include "map/codec/tlv_types.h"
#include "map/map_log.h"
#include "map/map_send.h"
#include "map/wsc/registrar.h"
#include "pdml.h"
#include "platform/map/transport/transport_test_util.h"
#include "samples.h"
#include "wsc_test_util.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

// What the registrar sent: one AP-Autoconfiguration WSC message.
struct Sent {
    MAC to;
    std::string ifname;
    uint16_t type = 0;
    std::vector<uint8_t> tlv_order;  // TLV types in order
    MAC radio_id;
    std::vector<std::vector<uint8_t>> m2s;
    std::vector<std::vector<uint8_t>> fragments;  // the encoded CMDU
};

// An agent with one DH key pair per radio, sending M1s.
struct Agent {
    MAC al;
    std::map<uint8_t, std::unique_ptr<WscDhKey>> keys;  // by radio sub id
    std::map<uint8_t, std::vector<uint8_t>> m1s;
    uint8_t nonce = 1;

    explicit Agent(MAC al_mac) : al(al_mac) {}

    // The AP-Autoconfiguration WSC message of radio SUB (operating class OP).
    CmduPtr m1(uint8_t sub, uint8_t op_class, uint8_t max_bss = 8,
               const std::vector<wsc_attribute>* attrs = nullptr, bool caps = true) {
        keys[sub] = WscDhKey::generate();
        wsc_tlv w;
        w.wsc_frame =
            attrs ? build(*attrs)
                  : build(m1_attributes(*keys[sub], al, nonce++,
                                        op_class < 100 ? WSC_RF_BAND_2_4_GHZ : WSC_RF_BAND_5_GHZ));
        m1s[sub] = w.wsc_frame;
        CmduBuilder b(CMDU_TYPE_AP_AUTOCONFIGURATION_WSC, 0x4000 + nonce);
        if (caps) {
            ap_radio_basic_capabilities_tlv c;
            c.radio_id = radio(sub);
            c.max_bss = max_bss;
            c.op_classes.push_back({op_class, 20, 0, {}});
            b.add(c);
        }
        b.add(std::move(w));
        CmduPtr out = b.build();
        out->src_al_mac = al;
        std::snprintf(out->interface_name, sizeof out->interface_name, "eth0");
        return out;
    }
    MAC radio(uint8_t sub) const { return MAC(al[0], al[1], al[2], al[3], al[4], sub); }
    // Opens every M2 of S for radio SUB: "ssid/key/auth/encr/Multi-AP extension" each,
    // " (mac)" when the settings name another MAC than the AL's.
    std::string open(const Sent& s, uint8_t sub) {
        std::string out;
        for (const auto& m2 : s.m2s) {
            WscBssConfig c;
            std::string why;
            EXPECT_TRUE(wsc_enrollee_open_m2(*keys[sub], m1s[sub], m2.data(), m2.size(), c, &why))
                << why;
            char t[32];
            std::snprintf(t, sizeof t, "/%x/%x/%x", c.auth_type, c.encr_type, c.map_ext);
            out += (out.empty() ? "" : " | ") + c.ssid + "/" + c.network_key + t +
                   (c.mac == al ? "" : " (" + c.mac.to_string() + ")");
        }
        return out;
    }
};

class RegistrarTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ozr_clock::set_manual(1000000);
        set_map_controller_module_log_level(7);
        creds_.count = 4;
        creds_.creds[0] = cred("Home", "correct horse battery", 0, MAP_CRED_FRONTHAUL);
        creds_.creds[1] =
            cred("Home-bh", "0123456789abcdef0123", WSC_RF_BAND_5_GHZ, MAP_CRED_BACKHAUL);
        creds_.creds[2] = cred("IoT", "", WSC_RF_BAND_2_4_GHZ, MAP_CRED_FRONTHAUL);
        creds_.creds[3] = cred("Both", "both-fronthaul-and-backhaul", WSC_RF_BAND_5_GHZ,
                               MAP_CRED_FRONTHAUL | MAP_CRED_BACKHAUL);
    }
    void TearDown() override { ozr_clock::use_real(); }
    LogCapture log_;
    WscRegistrar make(WscRegistrarLimits limits = {}) {
        return WscRegistrar(
            [this](const MAC& to, CMDU& c, const char* ifname) {
                Sent s;
                s.to = to;
                s.ifname = ifname ? ifname : "";
                s.type = c.message_type;
                for (size_t i = 0; c.list_of_TLVs[i]; ++i) {
                    s.tlv_order.push_back(*c.list_of_TLVs[i]);
                    if (auto* r = tlv_cast<ap_radio_identifier_tlv>(c.list_of_TLVs[i]))
                        s.radio_id = r->radio_id;
                    if (auto* w = tlv_cast<wsc_tlv>(c.list_of_TLVs[i]))
                        s.m2s.push_back(w->wsc_frame);
                }
                c.message_id = 0x1234;
                EXPECT_TRUE(encode_1905_CMDU(c, s.fragments));
                sent_.push_back(std::move(s));
                return MAP_SEND_OK;
            },
            limits);
    }
    map_credential_config_t creds_{};
    std::vector<Sent> sent_;
};

TEST_F(RegistrarTest, EachRadioGetsOneM2PerCredentialOfItsBand) {
    WscRegistrar reg = make();
    Agent ag(sample_mac(0xA0, 0));

    // 5 GHz: the every-band fronthaul, the 5 GHz backhaul and the combined one.
    ASSERT_EQ(reg.on_wsc(*ag.m1(0x20, 115), &creds_), WscOutcome::answered);
    ASSERT_EQ(sent_.size(), 1u);
    const Sent& s5 = sent_[0];
    EXPECT_EQ(std::tie(s5.to, s5.ifname, s5.type, s5.radio_id),
              std::make_tuple(ag.al, "eth0", CMDU_TYPE_AP_AUTOCONFIGURATION_WSC, ag.radio(0x20)));
    EXPECT_EQ(s5.tlv_order, (std::vector<uint8_t>{TLV_TYPE_AP_RADIO_IDENTIFIER, TLV_TYPE_WSC,
                                                  TLV_TYPE_WSC, TLV_TYPE_WSC}));
    // Fronthaul 0x20, backhaul 0x40; WPA2-Personal 0x20 with AES 8, open 1 with none 1.
    EXPECT_EQ(ag.open(s5, 0x20),
              "Home/correct horse battery/20/8/20 | Home-bh/0123456789abcdef0123/20/8/40 | "
              "Both/both-fronthaul-and-backhaul/20/8/60");
    // Each M2 has its own IV; all share the exchange's registrar key and nonce.
    EXPECT_NE(s5.m2s[0], s5.m2s[1]);

    // 2.4 GHz: the every-band one and the open 2.4 GHz network.
    ASSERT_EQ(reg.on_wsc(*ag.m1(0x10, 81), &creds_), WscOutcome::answered);
    EXPECT_EQ(ag.open(sent_.back(), 0x10), "Home/correct horse battery/20/8/20 | IoT//1/1/20");
    // 6 GHz has no WSC band bit: only every-band credentials serve it.
    ASSERT_EQ(reg.on_wsc(*ag.m1(0x30, 131), &creds_), WscOutcome::answered);
    EXPECT_EQ(ag.open(sent_.back(), 0x30), "Home/correct horse battery/20/8/20");
    // A radio that runs at most two BSSs gets the first two.
    ASSERT_EQ(reg.on_wsc(*ag.m1(0x21, 115, 2), &creds_), WscOutcome::answered);
    EXPECT_EQ(sent_.back().m2s.size(), 2u);

    EXPECT_EQ(std::make_tuple(reg.stats().answered, reg.stats().m2_sent), std::make_tuple(4u, 8u));
}

TEST_F(RegistrarTest, WithoutCredentialsTheM1WaitsForARenew) {
    WscRegistrar reg = make();
    Agent ag(sample_mac(0xA2, 0));
    EXPECT_EQ(reg.on_wsc(*ag.m1(0x20, 115), nullptr), WscOutcome::not_configured);
    map_credential_config_t none{};
    EXPECT_EQ(reg.on_wsc(*ag.m1(0x20, 115), &none), WscOutcome::not_configured);
    EXPECT_TRUE(sent_.empty());
    EXPECT_THAT(LogCapture::lines().back(), HasSubstr("left unanswered until a renew"));
    // The renew brings a fresh M1, which is answered.
    EXPECT_EQ(reg.on_wsc(*ag.m1(0x20, 115), &creds_), WscOutcome::answered);
    // A message without a WSC TLV is none of the registrar's business.
    CmduPtr empty = CmduBuilder(CMDU_TYPE_AP_AUTOCONFIGURATION_WSC, 1).build();
    EXPECT_EQ(reg.on_wsc(*empty, &creds_), WscOutcome::none);
    EXPECT_EQ(reg.stats().m1_received, 3u);
}

TEST_F(RegistrarTest, HostileReplayedAndUnexpectedMessagesGetNoAnswer) {
    WscRegistrar reg = make();
    Agent ag(sample_mac(0xA3, 0));
    CmduPtr first = ag.m1(0x20, 115);
    ASSERT_EQ(reg.on_wsc(*first, &creds_), WscOutcome::answered);
    EXPECT_EQ(reg.on_wsc(*first, &creds_), WscOutcome::replayed);

    auto key = WscDhKey::generate();
    auto attrs = m1_attributes(*key, ag.al, 0x77);
    auto bad_pk = attrs;
    bad_pk[5].value.assign(100, 1);
    auto zero_pk = attrs;
    zero_pk[5].value.assign(kWscPublicKeyLen, 0);
    auto no_nonce = attrs;
    no_nonce.erase(no_nonce.begin() + 4);
    auto m2_type = attrs;
    m2_type[1].value = {WSC_MSG_M2};
    auto other_type = attrs;
    other_type[1].value = {0x07};  // M3
    struct Case {
        const char* what;
        CmduPtr cmdu;
        WscOutcome want;
        const char* log;
    };
    Case cases[] = {
        {"public key of 100 bytes", ag.m1(0x20, 115, 8, &bad_pk), WscOutcome::malformed,
         "Public Key of 100 bytes (192 expected)"},
        {"public key zero", ag.m1(0x20, 115, 8, &zero_pk), WscOutcome::malformed,
         "public key refused"},
        {"no enrollee nonce", ag.m1(0x20, 115, 8, &no_nonce), WscOutcome::malformed,
         "no Enrollee Nonce"},
        {"no radio", ag.m1(0x20, 115, 8, nullptr, false), WscOutcome::malformed,
         "without AP Radio Basic Capabilities"},
        {"an M2 sent to the controller", ag.m1(0x20, 115, 8, &m2_type), WscOutcome::unexpected,
         "type 5"},
        {"an M3", ag.m1(0x20, 115, 8, &other_type), WscOutcome::unexpected, "type 7"},
    };
    for (Case& c : cases) {
        ozr_clock::advance(11000);  // past the log gate and the agent's budget
        LogCapture::lines().clear();
        EXPECT_EQ(reg.on_wsc(*c.cmdu, &creds_), c.want) << c.what;
        ASSERT_EQ(LogCapture::lines().size(), 1u) << c.what;
        EXPECT_THAT(LogCapture::lines()[0], HasSubstr(c.log)) << c.what;
    }
    EXPECT_EQ(sent_.size(), 1u);
    EXPECT_EQ(std::make_tuple(reg.stats().replayed, reg.stats().malformed, reg.stats().unexpected),
              std::make_tuple(1u, 4u, 2u));
}

// M1s arriving out of order: an older one after a newer one is a replay while its nonce is
// among the agent's last eight; another agent's identical nonce is not.
TEST_F(RegistrarTest, AnOlderM1AfterANewerOneIsRefused) {
    WscRegistrar reg = make();
    Agent ag(sample_mac(0xA4, 0));
    CmduPtr older = ag.m1(0x20, 115);
    CmduPtr newer = ag.m1(0x10, 81);
    EXPECT_EQ(reg.on_wsc(*newer, &creds_), WscOutcome::answered);
    EXPECT_EQ(reg.on_wsc(*older, &creds_), WscOutcome::answered);  // not seen yet
    ozr_clock::advance(11000);
    EXPECT_EQ(reg.on_wsc(*newer, &creds_), WscOutcome::replayed);
    EXPECT_EQ(reg.on_wsc(*older, &creds_), WscOutcome::replayed);
    Agent twin(sample_mac(0xA5, 0));  // counts its nonces from the same start
    EXPECT_EQ(reg.on_wsc(*twin.m1(0x20, 115), &creds_), WscOutcome::answered);
    // Eight newer exchanges later the oldest nonce is forgotten: the ring stays bounded.
    for (int i = 0; i < 8; ++i) {
        ozr_clock::advance(4000);
        ASSERT_EQ(reg.on_wsc(*ag.m1(0x20, 115), &creds_), WscOutcome::answered) << i;
    }
    ozr_clock::advance(4000);
    EXPECT_EQ(reg.on_wsc(*newer, &creds_), WscOutcome::answered);
    EXPECT_EQ(reg.stats().replayed, 2u);
}

TEST_F(RegistrarTest, WorkIsBoundedPerAgentAndInTotal) {
    WscRegistrarLimits lim;
    lim.agent_burst = 3;
    lim.agent_refill_ms = 4000;
    lim.total_burst = 5;
    lim.total_refill_ms = 1000;
    lim.max_agents = 4;
    WscRegistrar reg = make(lim);
    Agent noisy(sample_mac(0xB0, 0));
    // An agent asking every second: three at once, then one per 4 s.
    int answered = 0, limited = 0;
    for (int s = 0; s < 12; ++s) {
        WscOutcome o = reg.on_wsc(*noisy.m1(0x20, 115), &creds_);
        answered += o == WscOutcome::answered;
        limited += o == WscOutcome::rate_limited;
        ozr_clock::advance(1000);
    }
    // At 0, 1, 2 s, then at 4 and 8 s.
    EXPECT_EQ(std::make_tuple(answered, limited, reg.stats().rate_limited),
              std::make_tuple(5, 7, 7u));
    // A flood of one line per 10 s, with the count of the ones not logged: the first at 3 s,
    // the others fall in its 10 s.
    EXPECT_EQ(LogCapture::count("sent too many"), 1u);

    // Spoofed AL MACs: the total budget holds them, and the table stays small.
    ozr_clock::advance(60000);
    answered = limited = 0;
    for (uint8_t i = 0; i < 20; ++i) {
        Agent a(sample_mac(0xC0, i));
        WscOutcome o = reg.on_wsc(*a.m1(0x20, 115), &creds_);
        answered += o == WscOutcome::answered;
        limited += o == WscOutcome::rate_limited;
    }
    EXPECT_EQ(std::make_tuple(answered, limited), std::make_tuple(5, 15));
    EXPECT_LE(reg.agents_tracked(), 4u);
}

TEST_F(RegistrarTest, NoKeyEverReachesTheLog) {
    WscRegistrar reg = make();
    Agent ag(sample_mac(0xA4, 0));
    ASSERT_EQ(reg.on_wsc(*ag.m1(0x20, 115), &creds_), WscOutcome::answered);
    ASSERT_EQ(reg.on_wsc(*ag.m1(0x10, 81), &creds_), WscOutcome::answered);
    for (int i = 0; i < 30; ++i) {
        auto attrs = m1_attributes(*WscDhKey::generate(), ag.al, static_cast<uint8_t>(0x90 + i));
        attrs[5].value.resize(10);
        ozr_clock::advance(5000);
        reg.on_wsc(*ag.m1(0x20, 115, 8, &attrs), &creds_);
    }
    ASSERT_FALSE(LogCapture::lines().empty());
    bool saw_ssids = false;
    for (const auto& l : LogCapture::lines()) {
        for (uint8_t i = 0; i < creds_.count; ++i) {
            if (creds_.creds[i].network_key[0]) {
                EXPECT_THAT(l, Not(HasSubstr(creds_.creds[i].network_key)));
            }
        }
        saw_ssids = saw_ssids || (l.find("\"Home\" fronthaul") != std::string::npos &&
                                  l.find("\"Home-bh\" backhaul") != std::string::npos);
    }
    EXPECT_TRUE(saw_ssids);
    // 30 malformed M1s over 150 s: one line per 10 s at most.
    EXPECT_LE(LogCapture::count("malformed M1"), 16u);
    EXPECT_GE(LogCapture::count("malformed M1"), 14u);
}

// tshark shows every attribute of every M2 where we put it, with no expert
// complaint and no malformed packet.
TEST_F(RegistrarTest, TsharkDissectsEveryM2Attribute) {
    if (!have_tshark())
        GTEST_SKIP() << "tshark is not installed; M2 dissection not checked";
    WscRegistrar reg = make();
    Agent ag(sample_mac(0xA5, 0));
    ASSERT_EQ(reg.on_wsc(*ag.m1(0x20, 115), &creds_), WscOutcome::answered);
    const Sent& s = sent_.back();
    ASSERT_EQ(s.fragments.size(), 2u) << "three M2s do not fit one 1500-byte frame";
    std::vector<std::vector<uint8_t>> frames;
    for (const auto& f : s.fragments) {
        std::vector<uint8_t> frame;
        build_1905_ethernet_frame(ag.al, sample_mac(0x01, 0), f, frame);
        frames.push_back(frame);
    }
    auto packets = tshark_dissect(frames);
    ASSERT_EQ(packets.size(), 2u);
    // tshark reassembles the two fragments; the whole CMDU is in the last packet.
    std::vector<PdmlField> wps;
    for (const auto& pkt : packets) {
        EXPECT_EQ(expert_complaints(pkt), std::vector<std::string>{});
        for (const auto& f : pkt) {
            if (f.name == "wps.type")
                wps.push_back(f);
        }
    }
    // Every attribute of every M2, in order, as a WPS attribute type.
    std::vector<unsigned long long> want, got;
    for (const auto& m2 : s.m2s) {
        std::vector<wsc_attribute> attrs;
        ASSERT_TRUE(wsc_parse_attributes(m2.data(), m2.size(), attrs));
        for (const auto& a : attrs)
            want.push_back(a.type);
    }
    for (const auto& f : wps) {
        unsigned long long v = 0;
        ASSERT_TRUE(parse_number(f.show, v)) << f.show;
        got.push_back(v);
    }
    EXPECT_EQ(got, want);
}

}  // namespace
