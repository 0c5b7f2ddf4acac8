// Onboarding end to end on a private segment: the stand-in stack (its AL and
// registrar, with credentials configured) and the simulator's agents, each
// radio doing the enrollee side for real. Every radio takes its M2s and
// brings up the BSSs they describe, which the agent's next Topology Response
// shows; a wrong key pair or an altered M2 is refused by the agent; a renew
// with new credentials reconfigures every agent.
#include <gtest/gtest.h>
#include <unistd.h>
#include <uv.h>

#include <cstdio>
#include <cstring>
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
#include "scenario.h"
#include "sim.h"

namespace {

const MAC kCtlAl(0x02, 0x6f, 0x7a, 0x72, 0x00, 0x00);
const MAC kCtlIf(0x02, 0x6f, 0x7a, 0x72, 0x00, 0x01);
const MAC kGateway(0x02, 0x6f, 0x7a, 0x72, 0x01, 0x00);
const BSSID kGw24(0x02, 0x6f, 0x7a, 0x72, 0x01, 0x11);
const BSSID kGw5(0x02, 0x6f, 0x7a, 0x72, 0x01, 0x21);
const BSSID kGwBh(0x02, 0x6f, 0x7a, 0x72, 0x01, 0x22);
const BSSID kWifi5(0x02, 0x6f, 0x7a, 0x72, 0x03, 0x21);

std::string next_segment() {
    static int n = 0;
    const int pid = static_cast<int>(getpid());
    return "239.204." + std::to_string((pid >> 8) & 0xff) + "." + std::to_string(pid & 0xff) + ":" +
           std::to_string(36000 + (pid % 1000) * 10 + (n++ % 10));
}

map_vap_credential_t cred(const char* ssid, const char* key, uint8_t bands, uint8_t type) {
    map_vap_credential_t c{};
    std::snprintf(c.ssid, sizeof c.ssid, "%s", ssid);
    std::snprintf(c.network_key, sizeof c.network_key, "%s", key);
    c.auth_type = 0x0020;
    c.encr_type = 0x0008;
    c.rf_bands = bands;
    c.bss_type = type;
    return c;
}

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
        segment_ = next_segment();
        guard_ = new uv_timer_t;
        uv_timer_init(&loop_, guard_);
    }
    void TearDown() override {
        if (sim_)
            sim_->stop();
        map_stack_stop();
        map_config_reset();
        map_datamodel_reset();
        uv_close(reinterpret_cast<uv_handle_t*>(guard_),
                 [](uv_handle_t* h) { delete reinterpret_cast<uv_timer_t*>(h); });
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
        sim_->set_log_sink([this](const std::string& l) { sim_log_.push_back(l); });
        ASSERT_EQ(sim_->start(&loop_, &error), 0) << error;
    }
    bool run_until(const std::function<bool()>& pred, uint64_t ms = 10000) {
        bool expired = false;
        guard_->data = &expired;
        uv_timer_start(
            guard_, [](uv_timer_t* t) { *static_cast<bool*>(t->data) = true; }, ms, 0);
        while (!pred() && !expired)
            uv_run(&loop_, UV_RUN_ONCE);
        uv_timer_stop(guard_);
        return pred();
    }
    // Every radio of agent I has taken at least N exchanges.
    bool exchanged(size_t i, unsigned n) const {
        for (size_t r = 0; r < sim_->scenario().agents[i].radios.size(); ++r) {
            if (sim_->wsc_state(i, r).exchanges < n)
                return false;
        }
        return true;
    }
    bool all_exchanged(unsigned n) const {
        for (size_t i = 0; i < sim_->scenario().agents.size(); ++i) {
            if (!exchanged(i, n))
                return false;
        }
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
    uv_timer_t* guard_ = nullptr;
    std::string segment_;
    std::unique_ptr<meshsim::Sim> sim_;
    std::vector<std::string> sim_log_;
};

TEST_F(WscExchangeTest, EveryRadioTakesItsM2sAndTheTopologyShowsTheNewBsss) {
    set_credentials("ozr-home");
    start();
    ASSERT_TRUE(run_until([&] { return all_exchanged(1); }));
    for (size_t i = 0; i < 3; ++i) {
        for (size_t r = 0; r < 2; ++r) {
            EXPECT_EQ(sim_->wsc_state(i, r).kind, meshsim::RadioWscState::configured)
                << i << "/" << r << ": " << sim_->wsc_state(i, r).why;
        }
    }
    // The scenario's BSSIDs are kept for BSSs of the same kind; ext-wifi's
    // 5 GHz radio had no backhaul BSS and gets a new one.
    EXPECT_EQ(bsss(0, 0), "01:11=ozr-home/fh");
    EXPECT_EQ(bsss(0, 1), "01:21=ozr-home/fh 01:22=ozr-backhaul/bh");
    EXPECT_EQ(bsss(1, 1), "02:21=ozr-home/fh 02:22=ozr-backhaul/bh");
    ASSERT_EQ(sim_->scenario().agents[2].radios[1].bsss.size(), 2u);
    EXPECT_EQ(sim_->scenario().agents[2].radios[1].bsss[0].bssid, kWifi5);
    EXPECT_EQ(sim_->scenario().agents[2].radios[1].bsss[1].ssid, "ozr-backhaul");
    EXPECT_EQ(sim_->scenario().agents[0].radios[1].bsss[0].key, "correct horse battery staple");
    const auto& stats = map_stack_registrar()->stats();
    EXPECT_EQ(stats.answered, 6u);
    EXPECT_EQ(stats.m2_sent, 9u);  // 3 x (1 on 2.4 GHz + 2 on 5 GHz)
    // The agent says which BSSs came up, with the key's length only.
    bool said = false;
    for (const auto& l : sim_log_) {
        EXPECT_EQ(l.find("correct horse"), std::string::npos) << l;
        said = said || l.find(
                           "configured by M2: \"ozr-home\" fronthaul 02:6f:7a:72:01:21 (WPA2, "
                           "key of 28 bytes)") != std::string::npos;
    }
    EXPECT_TRUE(said);

    // The gateway's next Topology Response carries them (AP Operational BSS),
    // and the stack tells the backhaul BSS by the backhaul credential's SSID.
    ASSERT_EQ(map_send_topology_query(kGateway), 0);
    auto ssid_of = [](const BSSID& bssid) -> std::string {
        const map_ale_info_t* ale = get_ale(kGateway);
        for (int r = 0; ale && r < ale->num_radios; ++r) {
            for (int b = 0; b < ale->radios[r]->num_bss; ++b) {
                const map_bss_info_t& x = ale->radios[r]->bss_list[b];
                if (x.bssid == bssid)
                    return x.ssid + std::string(x.is_backhaul ? "/bh" : "");
            }
        }
        return "";
    };
    ASSERT_TRUE(run_until([&] { return ssid_of(kGw5) == "ozr-home"; })) << ssid_of(kGw5);
    EXPECT_EQ(ssid_of(kGw24), "ozr-home");
    EXPECT_EQ(ssid_of(kGwBh), "ozr-backhaul/bh");
}

TEST_F(WscExchangeTest, AWrongKeyPairOrAnAlteredM2IsRefusedByTheAgent) {
    set_credentials("ozr-home");
    start(
        {{"ext-wired", meshsim::WscFault::wrong_key}, {"ext-wifi", meshsim::WscFault::corrupt_m2}});
    ASSERT_TRUE(run_until([&] { return all_exchanged(1); }));
    EXPECT_EQ(sim_->wsc_state(0, 1).kind, meshsim::RadioWscState::configured);
    for (size_t i : {1u, 2u}) {
        for (size_t r = 0; r < 2; ++r) {
            const auto& st = sim_->wsc_state(i, r);
            EXPECT_EQ(st.kind, meshsim::RadioWscState::failed) << i << "/" << r;
            EXPECT_NE(st.why.find("Authenticator does not match"), std::string::npos) << st.why;
            // Nothing taken from a refused M2.
            for (const auto& b : sim_->scenario().agents[i].radios[r].bsss) {
                EXPECT_EQ(b.ssid.rfind("Home", 0), 0u) << b.ssid;
            }
        }
    }
    EXPECT_EQ(bsss(1, 1), "02:21=Home/fh 02:22=Home-backhaul/bh");
}

TEST_F(WscExchangeTest, ARenewWithNewCredentialsReconfiguresEveryAgent) {
    set_credentials("ozr-home");
    start();
    ASSERT_TRUE(run_until([&] { return all_exchanged(1); }));
    set_credentials("ozr-home-2");
    ASSERT_EQ(send_autoconfig_renew(IEEE1905_MULTICAST_ADDRESS, IEEE1905_FREQ_BAND_2_4_GHZ), 0);
    ASSERT_TRUE(run_until([&] { return all_exchanged(2); }));
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(sim_->scenario().agents[i].radios[0].bsss[0].ssid, "ozr-home-2") << i;
        EXPECT_EQ(sim_->scenario().agents[i].radios[1].bsss[0].ssid, "ozr-home-2") << i;
    }
    EXPECT_EQ(bsss(0, 1), "01:21=ozr-home-2/fh 01:22=ozr-backhaul/bh");
    EXPECT_EQ(map_stack_registrar()->stats().replayed, 0u);

    // Only 2.4 GHz credentials left: the 5 GHz radios are torn down, and
    // their clients leave.
    map_credential_config_t only24{};
    only24.count = 1;
    only24.creds[0] = cred("iot", "", 0x01, MAP_CRED_FRONTHAUL);
    ASSERT_EQ(set_credential_config(&only24), 0);
    ASSERT_EQ(send_autoconfig_renew(IEEE1905_MULTICAST_ADDRESS, IEEE1905_FREQ_BAND_5_GHZ), 0);
    ASSERT_TRUE(run_until([&] { return all_exchanged(3); }));
    EXPECT_EQ(sim_->wsc_state(0, 1).kind, meshsim::RadioWscState::torn_down);
    EXPECT_TRUE(sim_->scenario().agents[0].radios[1].bsss.empty());
    EXPECT_EQ(bsss(0, 0), "01:11=iot/fh");
    for (size_t c = 0; c < sim_->scenario().clients.size(); ++c) {
        if (sim_->scenario().clients[c].mac == MAC(0x02, 0xc1, 0, 0, 0, 0x01)) {
            EXPECT_TRUE(sim_->client_bss(c).is_zero()) << "the phone was on a 5 GHz BSS";
        }
    }
}

// An agent that forgets its credentials runs its scenario BSSs again (clients of a BSS
// that goes leave); a renew sent to it alone reconfigures it and no other agent.
TEST_F(WscExchangeTest, AForgetfulAgentComesBackWithAUnicastRenew) {
    set_credentials("ozr-home");
    start();
    ASSERT_TRUE(run_until([&] { return all_exchanged(1); }));
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
    ASSERT_TRUE(run_until([&] { return exchanged(1, 2); }));
    EXPECT_EQ(bsss(1, 0), "02:11=ozr-home/fh");
    EXPECT_EQ(bsss(1, 1), "02:21=ozr-home/fh 02:22=ozr-backhaul/bh");
    EXPECT_EQ(sim_->wsc_state(0, 0).exchanges, 1u);
    EXPECT_EQ(sim_->wsc_state(2, 0).exchanges, 1u);
}

}  // namespace
