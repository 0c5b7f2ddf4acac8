// The built daemon on a private segment, with an agent AL in the test process:
// the daemon sends discoveries, queries the agent it discovers, and answers
// the agent's search and topology query. Real time (another process).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "al_test_util.h"
#include "map/codec/tlv_types.h"
#include "samples.h"
#include "support/process.h"
#include "support/temp_root.h"

using ozr_test::ozr_binary;

namespace {

// The daemon of this build, stopped with SIGTERM at the end.
struct Daemon {
    pid_t pid;
    ~Daemon() {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    bool alive() const { return waitpid(pid, nullptr, WNOHANG) == 0; }
};

TEST(OzrOnASegment, DiscoversQueriesAndAnswersAnAgentInAnotherProcess) {
    if (ozr_binary().empty() || access(ozr_binary().c_str(), X_OK) != 0)
        GTEST_SKIP() << "OZR_BUILD_DIR is not set or the ozr binary is not built";
    ozr_test::TempRoot root;
    const std::string seg = private_segment(24001);
    ASSERT_EQ(std::system(("mkdir -p '" + root.path("/configs/easymesh") + "'").c_str()), 0);
    ozr_test::write_text(root.path("/configs/easymesh/map_stack.json"),
                         R"({"segment": ")" + seg +
                             R"(", "interfaces": [{"name": "eth0", "mac": "02:00:00:00:31:01"}],
                                "al_mac": "02:00:00:00:31:00"})");
    const MAC kDaemon = test_mac(0x31, 0), kAgent = test_mac(0x32, 0);

    uv_loop_t loop;
    ASSERT_EQ(uv_loop_init(&loop), 0);
    {
        Node agent(&loop, kAgent, {{"ag0", test_mac(0x32, 1), seg}}, false);
        // Discoveries every second, so the daemon hears one soon after it starts.
        ASSERT_EQ(agent.al().set_discovery_interval(1), 0);
        Daemon d{ozr_test::spawn(ozr_binary(), {"--log-path=" + root.path("/ozr.log")},
                                 root.path("/ozr.stderr"))};

        ASSERT_TRUE(run_until(
            &loop,
            [&] {
                return agent.count(CMDU_TYPE_TOPOLOGY_DISCOVERY) >= 1 &&
                       agent.count(CMDU_TYPE_TOPOLOGY_QUERY) >= 1;
            },
            20000))
            << "discoveries from the daemon: " << agent.count(CMDU_TYPE_TOPOLOGY_DISCOVERY)
            << ", queries: " << agent.count(CMDU_TYPE_TOPOLOGY_QUERY)
            << (d.alive() ? "" : " (the daemon exited)") << "\n"
            << ozr_test::read_text(root.path("/ozr.stderr"));
        EXPECT_EQ(agent.last(CMDU_TYPE_TOPOLOGY_DISCOVERY)->src_al_mac, kDaemon);
        EXPECT_EQ(agent.last(CMDU_TYPE_TOPOLOGY_QUERY)->src_al_mac, kDaemon);
        ASSERT_FALSE(agent.al().neighbors().empty());
        EXPECT_EQ(agent.al().neighbors()[0].al_mac, kDaemon);

        // A search for the registrar and a topology query, answered.
        CmduPtr search = make_sample_cmdu("autoconfig_search");
        for (size_t i = 0; search->list_of_TLVs[i]; ++i) {
            if (auto* al = tlv_cast<al_mac_address_tlv>(search->list_of_TLVs[i]))
                al->al_mac_address = kAgent;
        }
        search->relay_indicator = 1;
        ASSERT_EQ(agent.al().send(IEEE1905_MULTICAST_ADDRESS, *search, nullptr, true), 0);
        CmduPtr q = CmduBuilder(CMDU_TYPE_TOPOLOGY_QUERY, 0).build();
        ASSERT_EQ(agent.al().send(kDaemon, *q, nullptr, true), 0);
        ASSERT_TRUE(run_until(
            &loop,
            [&] {
                return agent.count(CMDU_TYPE_AP_AUTOCONFIGURATION_RESPONSE) == 1 &&
                       agent.count(CMDU_TYPE_TOPOLOGY_RESPONSE) == 1;
            },
            10000));
        const CMDU* r = agent.last(CMDU_TYPE_TOPOLOGY_RESPONSE);
        auto* nl = first_tlv<neighbor_device_list_tlv>(r);
        ASSERT_NE(nl, nullptr);
        ASSERT_EQ(nl->neighbors.size(), 1u);
        EXPECT_EQ(nl->neighbors[0].al_mac_address, kAgent);
        EXPECT_TRUE(d.alive());
    }
    EXPECT_TRUE(drain_and_close(&loop));
}

}  // namespace
