// Onboarding on a private segment: the stand-in stack (its AL and registrar, with
// credentials configured) and the simulator's agents, each radio doing the enrollee side
// for real. A wrong key pair or an altered M2 is refused by the agent; a renew with new
// credentials reconfigures the agents, or the one that forgot them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <uv.h>

#include <functional>
#include <memory>
#include <string>

#include "map/al/stack.h"
#include "map/codec/tlv_types.h"
#include "map/datamodel/datamodel.h"
#include "map/map_config.h"
#include "map/map_log.h"
#include "map/map_send.h"
#include "map/wsc/registrar.h"
#include "platform/map/transport/transport_test_util.h"
#include "platform/map/wsc/wsc_test_util.h"
#include "scenario.h"
#include "sim.h"

using ::testing::HasSubstr;

namespace {

const MAC kCtlAl(0x02, 0x6f, 0x7a, 0x72, 0x00, 0x00);
const MAC kCtlIf(0x02, 0x6f, 0x7a, 0x72, 0x00, 0x01);
const MAC kGateway(0x02, 0x6f, 0x7a, 0x72, 0x01, 0x00);

void set_credentials(const char* fronthaul_ssid) {
    map_credential_config_t c{};
    c.count = 2;
    c.creds[0] = cred(fronthaul_ssid, "correct horse battery staple", 0, MAP_CRED_FRONTHAUL);
    c.creds[1] = cred("ozr-backhaul", "backhaul-key-0123", 0x02, MAP_CRED_BACKHAUL);
    ASSERT_EQ(set_credential_config(&c), 0);
}

class WscExchangeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        map_log_set_sink([](int, const char*, const std::string&) {});
        uv_loop_init(&loop_);
        segment_ = private_segment(24201);
    }
    void TearDown() override {
        if (sim_)
            sim_->stop();
        map_stack_stop();
        map_config_reset();
        map_datamodel_reset();
        uv_run(&loop_, UV_RUN_DEFAULT);
        EXPECT_EQ(uv_loop_close(&loop_), 0);
        map_log_set_sink(nullptr);
    }
    // The stack as controller and the default mesh (with FAULTS per agent name).
    void start(const std::map<std::string, meshsim::WscFault>& faults = {}) {
        MapStackConfig config;
        config.transport = MapTransportKind::segment;
        config.segment = segment_;
        config.interfaces = {{"ozr0", kCtlIf, segment_}};
        config.al_mac = kCtlAl;
        config.agent_al_mac = kGateway;
        map_stack_set_config(config);
        std::string error;
        ASSERT_EQ(map_stack_start(&loop_, &error), 0) << error;
        meshsim::Scenario s;
        ASSERT_EQ(
            meshsim::scenario_load(std::string(MESHSIM_SCENARIOS) + "/default.json", s, &error), 0)
            << error;
        for (auto& a : s.agents) {
            auto f = faults.find(a.name);
            if (f != faults.end())
                a.wsc_fault = f->second;
        }
        meshsim::SimOptions o;
        o.segment = segment_;
        o.run_timeline = false;
        o.autoconfig_retry_ms = 200;
        sim_ = std::make_unique<meshsim::Sim>(std::move(s), o);
        sim_->set_log_sink([](const std::string&) {});
        ASSERT_EQ(sim_->start(&loop_, &error), 0) << error;
    }
    bool run_until(const std::function<bool()>& pred) { return ::run_until(&loop_, pred, 10000); }
    // Every radio of agent ONLY (of every agent when negative) has taken at least N exchanges.
    bool exchanged(unsigned n, int only = -1) const {
        for (size_t i = 0; i < sim_->scenario().agents.size(); ++i)
            for (size_t r = 0; r < sim_->scenario().agents[i].radios.size(); ++r)
                if ((only < 0 || only == static_cast<int>(i)) &&
                    sim_->wsc_state(i, r).exchanges < n)
                    return false;
        return true;
    }
    std::string bsss(size_t i, size_t r) const {
        std::string s;
        for (const auto& b : sim_->scenario().agents[i].radios[r].bsss)
            s += (s.empty() ? "" : " ") + b.bssid.to_string().substr(12) + "=" + b.ssid +
                 (b.backhaul ? "/bh" : "") + (b.fronthaul ? "/fh" : "");
        return s;
    }

    uv_loop_t loop_;
    std::string segment_;
    std::unique_ptr<meshsim::Sim> sim_;
};

TEST_F(WscExchangeTest, AWrongKeyPairOrAnAlteredM2IsRefusedByTheAgent) {
    set_credentials("ozr-home");
    start(
        {{"ext-wired", meshsim::WscFault::wrong_key}, {"ext-wifi", meshsim::WscFault::corrupt_m2}});
    ASSERT_TRUE(run_until([&] { return exchanged(1); }));
    EXPECT_EQ(sim_->wsc_state(0, 1).kind, meshsim::RadioWscState::configured);
    for (size_t i : {1u, 2u}) {
        for (size_t r = 0; r < 2; ++r) {
            const auto& st = sim_->wsc_state(i, r);
            EXPECT_EQ(st.kind, meshsim::RadioWscState::failed) << i << "/" << r;
            EXPECT_THAT(st.why, HasSubstr("Authenticator does not match"));
            // Nothing taken from a refused M2.
            for (const auto& b : sim_->scenario().agents[i].radios[r].bsss) {
                EXPECT_EQ(b.ssid.rfind("Home", 0), 0u) << b.ssid;
            }
        }
    }
    EXPECT_EQ(bsss(1, 1), "02:21=Home/fh 02:22=Home-backhaul/bh");
}

// An agent that forgets its credentials runs its scenario BSSs again (clients of a BSS
// that goes leave); a renew sent to it alone reconfigures it and no other agent. Then only
// 2.4 GHz credentials are left after a renew: the 5 GHz radios are torn down, and their
// clients leave. (A renew with new SSIDs reaching every agent: the end-to-end test of the
// bus's VAP configuration.)
TEST_F(WscExchangeTest, AForgetfulAgentComesBackWithAUnicastRenewAndABandWithoutCredentialsGoes) {
    set_credentials("ozr-home");
    start();
    ASSERT_TRUE(run_until([&] { return exchanged(1); }));
    ASSERT_EQ(bsss(1, 1), "02:21=ozr-home/fh 02:22=ozr-backhaul/bh");
    meshsim::EventConf e;
    e.kind = meshsim::EventConf::forget_credentials;
    e.index = 1;  // ext-wired
    sim_->apply(e);
    EXPECT_EQ(bsss(1, 0), "02:11=Home/fh");
    EXPECT_EQ(bsss(1, 1), "02:21=Home/fh 02:22=Home-backhaul/bh");
    EXPECT_EQ(sim_->wsc_state(1, 0).kind, meshsim::RadioWscState::unconfigured);
    // What its vendor agent would report follows the BSSs; the others keep theirs.
    EXPECT_EQ(bsss(0, 0), "01:11=ozr-home/fh");

    const MAC ext_wired = sim_->scenario().agents[1].al_mac;
    ASSERT_EQ(send_autoconfig_renew(ext_wired, IEEE1905_FREQ_BAND_2_4_GHZ), 0);
    ASSERT_TRUE(run_until([&] { return exchanged(2, 1); }));
    EXPECT_EQ(bsss(1, 0), "02:11=ozr-home/fh");
    EXPECT_EQ(bsss(1, 1), "02:21=ozr-home/fh 02:22=ozr-backhaul/bh");
    EXPECT_EQ(sim_->wsc_state(0, 0).exchanges, 1u);
    EXPECT_EQ(sim_->wsc_state(2, 0).exchanges, 1u);

    map_credential_config_t only24{};
    only24.count = 1;
    only24.creds[0] = cred("iot", "", 0x01, MAP_CRED_FRONTHAUL);
    ASSERT_EQ(set_credential_config(&only24), 0);
    ASSERT_EQ(send_autoconfig_renew(IEEE1905_MULTICAST_ADDRESS, IEEE1905_FREQ_BAND_5_GHZ), 0);
    ASSERT_TRUE(run_until([&] { return exchanged(2); }));
    EXPECT_EQ(sim_->wsc_state(0, 1).kind, meshsim::RadioWscState::torn_down);
    EXPECT_TRUE(sim_->scenario().agents[0].radios[1].bsss.empty());
    EXPECT_EQ(bsss(0, 0), "01:11=iot/fh");
    for (size_t c = 0; c < sim_->scenario().clients.size(); ++c) {
        if (sim_->scenario().clients[c].mac == MAC(0x02, 0xc1, 0, 0, 0, 0x01)) {
            EXPECT_TRUE(sim_->client_bss(c).is_zero()) << "the phone was on a 5 GHz BSS";
        }
    }
}

}  // namespace
