// The controller's AL over raw sockets: two network namespaces joined by a
// veth pair, the controller in one and an agent in the other, discovering
// each other and exchanging queries and responses. The controller's capture
// is dissected by tshark afterwards. Needs root and network namespaces.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <cstdio>
#include <set>

#include "al_test_util.h"
#include "common/clock.h"
#include "map/codec/tlv_types.h"
#include "map/transport/raw_transport.h"
#include "pdml.h"

namespace {

class Namespaces {
  public:
    Namespaces() {
        const std::string id = std::to_string(getpid());
        ns_a = "ozal" + id + "a";
        ns_b = "ozal" + id + "b";
        veth_a = "oza" + id + "a";
        veth_b = "oza" + id + "b";
    }
    ~Namespaces() {
        run_command("ip netns del " + ns_a + " 2>/dev/null");
        run_command("ip netns del " + ns_b + " 2>/dev/null");
        run_command("ip link del " + veth_a + " 2>/dev/null");
    }
    // Empty on success, the failing command otherwise.
    std::string create(const std::string& mac_a, const std::string& mac_b) {
        if (run_command("ip netns add " + ns_a + " 2>&1") != 0)
            return "ip netns add " + ns_a;
        created = true;
        for (const std::string& step : {
                 "ip netns add " + ns_b,
                 "ip link add " + veth_a + " type veth peer name " + veth_b,
                 "ip link set " + veth_a + " netns " + ns_a,
                 "ip link set " + veth_b + " netns " + ns_b,
                 "ip -n " + ns_a + " link set " + veth_a + " address " + mac_a + " up",
                 "ip -n " + ns_b + " link set " + veth_b + " address " + mac_b + " up",
             }) {
            if (run_command(step + " 2>&1") != 0)
                return step;
        }
        return "";
    }
    std::string ns_a, ns_b, veth_a, veth_b;
    bool created = false;
};

// Enters a named network namespace for the life of the object.
class InNetns {
  public:
    explicit InNetns(const std::string& name) {
        home_ = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
        int fd = open(("/var/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
        ok_ = home_ >= 0 && fd >= 0 && setns(fd, CLONE_NEWNET) == 0;
        if (fd >= 0)
            close(fd);
    }
    ~InNetns() {
        if (home_ >= 0) {
            if (setns(home_, CLONE_NEWNET) != 0)
                std::abort();
            close(home_);
        }
    }
    bool ok() const { return ok_; }

  private:
    int home_ = -1;
    bool ok_ = false;
};

TEST(RawAl, ControllerAndAgentDiscoverAndQueryEachOtherAcrossAVeth) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to create network namespaces and raw sockets";
    if (!have_program("ip"))
        GTEST_SKIP() << "iproute2 (ip) not installed";
    const MAC kCtrlItf = test_mac(0x1a, 1), kCtrlAl = test_mac(0x1a, 0);
    const MAC kAgentItf = test_mac(0x1b, 1), kAgentAl = test_mac(0x1b, 0);
    Namespaces net;
    std::string failed = net.create(kCtrlItf.to_string(), kAgentItf.to_string());
    if (!net.created)
        GTEST_SKIP() << "network namespaces not permitted here (" << failed << ")";
    ASSERT_EQ(failed, "") << "setting up the veth pair failed at: " << failed;

    ozr_clock::set_manual(3000000);
    uv_loop_t loop;
    ASSERT_EQ(uv_loop_init(&loop), 0);
    std::string pcap = "/tmp/ozr_raw_al_" + std::to_string(getpid()) + ".pcap";
    std::vector<CmduPtr> ctrl_got, agent_got;
    auto count = [](const std::vector<CmduPtr>& v, uint16_t type) {
        size_t n = 0;
        for (const auto& c : v)
            n += c && c->message_type == type;
        return n;
    };
    TransportOptions copt;
    copt.al_mac = kCtrlAl;  // differs from the interface MAC: joined as an extra address
    copt.pcap_path = pcap;
    MapAlOptions ctrl_opt;
    ctrl_opt.al_mac = kCtrlAl;
    MapAl ctrl(std::make_unique<RawTransport>(
                   std::vector<TransportInterface>{{net.veth_a, MAC(), "", 0}}, copt),
               ctrl_opt);
    TransportOptions aopt;
    aopt.al_mac = kAgentAl;
    MapAlOptions agent_opt;
    agent_opt.al_mac = kAgentAl;
    agent_opt.controller = false;
    MapAl agent(std::make_unique<RawTransport>(
                    std::vector<TransportInterface>{{net.veth_b, MAC(), "", 0}}, aopt),
                agent_opt);
    std::string error;
    {
        InNetns in(net.ns_a);
        ASSERT_TRUE(in.ok());
        ASSERT_EQ(ctrl.start(
                      &loop, [&](CMDU* c) { ctrl_got.push_back(copy_cmdu(*c)); }, &error),
                  0)
            << error;
    }
    {
        InNetns in(net.ns_b);
        ASSERT_TRUE(in.ok());
        ASSERT_EQ(agent.start(
                      &loop, [&](CMDU* c) { agent_got.push_back(copy_cmdu(*c)); }, &error),
                  0)
            << error;
    }
    // Links come up asynchronously: repeat discoveries until both hear each other.
    ASSERT_TRUE(run_until(
        &loop,
        [&] {
            if (ctrl.neighbors().empty() || agent.neighbors().empty()) {
                ozr_clock::advance(60000);
                ctrl.tick();
                agent.tick();
            }
            return !ctrl.neighbors().empty() && !agent.neighbors().empty() &&
                   count(ctrl_got, CMDU_TYPE_TOPOLOGY_RESPONSE) >= 1;
        },
        10000));
    EXPECT_EQ(ctrl.neighbors()[0].al_mac, kAgentAl);
    EXPECT_EQ(ctrl.neighbors()[0].if_mac, kAgentItf);
    EXPECT_EQ(agent.neighbors()[0].al_mac, kCtrlAl);

    // The agent asks the controller (unicast to its AL MAC, not its interface MAC).
    CmduPtr q = CmduBuilder(CMDU_TYPE_TOPOLOGY_QUERY, 0).build();
    ASSERT_EQ(agent.send(kCtrlAl, *q, nullptr, true), 0);
    ASSERT_TRUE(
        run_until(&loop, [&] { return count(agent_got, CMDU_TYPE_TOPOLOGY_RESPONSE) >= 1; }));
    ctrl.stop();
    agent.stop();
    EXPECT_TRUE(drain_and_close(&loop));
    ozr_clock::use_real();

    if (!have_tshark()) {
        std::remove(pcap.c_str());
        GTEST_SKIP() << "tshark not installed: the captured frames were not dissected";
    }
    auto packets = parse_pdml(run_tshark(pcap));
    std::remove(pcap.c_str());
    std::set<unsigned long long> types;
    for (const auto& fields : packets) {
        for (const auto& f : fields) {
            unsigned long long t;
            if (f.name == "ieee1905.message_type" && parse_number(f.show, t))
                types.insert(t);
            if (f.name == "_ws.malformed")
                ADD_FAILURE() << "malformed frame in the capture";
        }
    }
    for (uint16_t t : {CMDU_TYPE_TOPOLOGY_DISCOVERY, CMDU_TYPE_TOPOLOGY_NOTIFICATION,
                       CMDU_TYPE_TOPOLOGY_QUERY, CMDU_TYPE_TOPOLOGY_RESPONSE})
        EXPECT_EQ(types.count(t), 1u) << "message type 0x" << std::hex << t << " not captured";
}

}  // namespace
