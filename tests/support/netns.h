// Network namespaces for the tests that run over real links (raw sockets): two joined by a
// veth pair, and entering one on the calling thread. Needs root.
#pragma once

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace ozr_test {

// Two namespaces "ozrt<pid>a"/"ozrt<pid>b" with veth "ozv<pid>a" in the first and "ozv<pid>b"
// in the second, their loopbacks up; removed (with the pair) when destroyed.
class VethPair {
  public:
    VethPair() {
        const std::string id = std::to_string(getpid());
        ns_a = "ozrt" + id + "a";
        ns_b = "ozrt" + id + "b";
        veth_a = "ozv" + id + "a";
        veth_b = "ozv" + id + "b";
    }
    ~VethPair() {
        if (created)
            for (const std::string& c :
                 {"ip netns del " + ns_a, "ip netns del " + ns_b, "ip link del " + veth_a})
                sh(c);
    }
    VethPair(const VethPair&) = delete;
    VethPair& operator=(const VethPair&) = delete;

    // Empty on success, the failing command otherwise; the veths get MAC_A and MAC_B when
    // given. CREATED tells whether the first namespace could be made at all.
    std::string create(const std::string& mac_a = "", const std::string& mac_b = "") {
        if (!sh("ip netns add " + ns_a))
            return "ip netns add " + ns_a;
        created = true;
        const std::vector<std::string> steps = {
            "ip netns add " + ns_b,
            "ip link add " + veth_a + " type veth peer name " + veth_b,
            "ip link set " + veth_a + " netns " + ns_a,
            "ip link set " + veth_b + " netns " + ns_b,
            "ip -n " + ns_a + " link set " + veth_a + (mac_a.empty() ? "" : " address " + mac_a) +
                " up",
            "ip -n " + ns_b + " link set " + veth_b + (mac_b.empty() ? "" : " address " + mac_b) +
                " up",
            "ip -n " + ns_a + " link set lo up",
            "ip -n " + ns_b + " link set lo up"};
        for (const std::string& step : steps) {
            if (!sh(step))
                return step;
        }
        return "";
    }
    std::string ns_a, ns_b, veth_a, veth_b;
    bool created = false;

  private:
    static bool sh(const std::string& c) {
        return std::system((c + " >/dev/null 2>&1").c_str()) == 0;
    }
};

// Enters the network namespace NAME (none when empty) on the calling thread for the life of
// the object: sockets opened meanwhile live there.
class InNetns {
  public:
    explicit InNetns(const std::string& name) {
        if (name.empty())
            return;
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
    InNetns(const InNetns&) = delete;
    InNetns& operator=(const InNetns&) = delete;
    bool ok() const { return ok_; }

  private:
    int home_ = -1;
    bool ok_ = true;
};

}  // namespace ozr_test
