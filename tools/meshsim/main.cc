// meshsim: plays a whole mesh of Multi-AP agents on a virtual segment or an
// Ethernet interface, for the controller to discover, query and steer.
//
//   meshsim --scenario FILE (--segment GROUP:PORT | --interface NAME) [--verbose]
//           [--loss R] [--mcast-loss R] [--ucast-loss R] [--delay MS] [--jitter MS]
//           [--duplicate R] [--reorder R] [--faults JSON] [--seed N]
#include <uv.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "map/transport/segment_transport.h"
#include "scenario.h"
#include "sim.h"

namespace {

void usage(FILE* out) {
    std::fprintf(
        out,
        "usage: meshsim --scenario FILE [--segment GROUP:PORT | --interface NAME] [--verbose]\n"
        "       meshsim --check FILE\n"
        "  --scenario FILE       the mesh to play (JSON)\n"
        "  --segment GROUP:PORT  the virtual segment (default %s)\n"
        "  --interface NAME      raw Ethernet on NAME instead (needs CAP_NET_RAW)\n"
        "  --verbose             one line per CMDU sent and received\n"
        "  --check FILE          validate FILE (and the fault options) and exit (0 valid, 1 not)\n"
        "faults on every frame between the controller and the agents (over the scenario's):\n"
        "  --loss R              share R (0 to 1) of all frames lost, both ways\n"
        "  --mcast-loss R        share of multicast frames lost (instead of --loss)\n"
        "  --ucast-loss R        share of unicast frames lost (instead of --loss)\n"
        "  --delay MS            every frame MS milliseconds late\n"
        "  --jitter MS           and up to MS more, at random\n"
        "  --duplicate R         share of frames delivered twice\n"
        "  --reorder R           share of frames overtaken by the next one\n"
        "  --faults JSON         a whole \"faults\" object (e.g. per way: \"to_agents\")\n"
        "  --seed N              seed of the faults' random draws (default 1)\n",
        kDefaultSegment);
}

// One fault flag: VALUE checked as the scenario checks the same key.
bool fault_flag(const std::string& flag, const std::string& value, meshsim::FaultKeys& k) {
    char* end = nullptr;
    const double v = std::strtod(value.c_str(), &end);
    const bool number = !value.empty() && end && *end == '\0';
    std::string problem;
    if (flag == "--delay" || flag == "--jitter") {
        const long long ms =
            number && v == static_cast<long long>(v) ? static_cast<long long>(v) : -1;
        problem = meshsim::fault_delay_problem(ms);
        (flag == "--delay" ? k.delay_ms : k.jitter_ms) = ms;
    } else {
        problem = meshsim::fault_ratio_problem(number ? v : -1);
        double& slot = flag == "--loss"         ? k.loss
                       : flag == "--mcast-loss" ? k.multicast_loss
                       : flag == "--ucast-loss" ? k.unicast_loss
                       : flag == "--duplicate"  ? k.duplicate
                                                : k.reorder;
        slot = v;
    }
    if (!problem.empty()) {
        std::fprintf(stderr, "meshsim: %s: %s, got %s\n", flag.c_str(), problem.c_str(),
                     value.c_str());
        return false;
    }
    return true;
}

uv_signal_t g_sigint, g_sigterm;

void on_signal(uv_signal_t* s, int) {
    uv_stop(s->loop);
}

}  // namespace

int main(int argc, char** argv) {
    std::string scenario_path, check_path, faults_json;
    meshsim::SimOptions opts;
    meshsim::FaultKeys flags;
    uint64_t seed = 0;
    bool seed_set = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "meshsim: %s needs a value\n", a.c_str());
                return false;
            }
            out = argv[++i];
            return true;
        };
        if (a == "--scenario") {
            if (!value(scenario_path))
                return 2;
        } else if (a == "--segment") {
            if (!value(opts.segment))
                return 2;
        } else if (a == "--interface") {
            if (!value(opts.interface))
                return 2;
        } else if (a == "--check") {
            if (!value(check_path))
                return 2;
        } else if (a == "--loss" || a == "--mcast-loss" || a == "--ucast-loss" || a == "--delay" ||
                   a == "--jitter" || a == "--duplicate" || a == "--reorder") {
            std::string v;
            if (!value(v) || !fault_flag(a, v, flags))
                return 2;
        } else if (a == "--faults") {
            if (!value(faults_json))
                return 2;
        } else if (a == "--seed") {
            std::string v;
            if (!value(v))
                return 2;
            char* end = nullptr;
            const unsigned long long n = std::strtoull(v.c_str(), &end, 10);
            if (v.empty() || v[0] == '-' || !end || *end != '\0' || n > (1ULL << 53)) {
                std::fprintf(stderr,
                             "meshsim: --seed: expected an integer from 0 to 2^53, got %s\n",
                             v.c_str());
                return 2;
            }
            seed = n;
            seed_set = true;
        } else if (a == "--verbose" || a == "-v") {
            opts.verbose = true;
        } else if (a == "--help" || a == "-h") {
            usage(stdout);
            return 0;
        } else {
            std::fprintf(stderr, "meshsim: unknown argument %s\n", a.c_str());
            usage(stderr);
            return 2;
        }
    }
    std::string error;
    meshsim::Scenario scenario;
    // The command line's faults, over the scenario's: --faults, then each flag.
    meshsim::FaultSpec cli;
    if (!faults_json.empty() &&
        meshsim::faults_parse(faults_json, cli, seed_set ? nullptr : &seed,
                              seed_set ? nullptr : &seed_set, &error) != 0) {
        std::fprintf(stderr, "meshsim: --faults: %s\n", error.c_str());
        return 2;
    }
    cli.both.merge(flags);
    auto with_faults = [&](meshsim::Scenario& s) {
        s.faults.merge(cli);
        if (seed_set)
            s.seed = seed;
    };
    if (!check_path.empty()) {
        if (meshsim::scenario_load(check_path, scenario, &error) != 0) {
            std::fprintf(stderr, "meshsim: %s\n", error.c_str());
            return 1;
        }
        with_faults(scenario);
        std::printf(
            "%s: %zu agents, %zu clients, %zu timeline events; faults to agents: %s; from "
            "agents: %s; seed %llu\n",
            check_path.c_str(), scenario.agents.size(), scenario.clients.size(),
            scenario.timeline.size(),
            meshsim::describe(scenario.faults.resolve(meshsim::FaultWay::to_agents)).c_str(),
            meshsim::describe(scenario.faults.resolve(meshsim::FaultWay::from_agents)).c_str(),
            static_cast<unsigned long long>(scenario.seed));
        return 0;
    }
    if (scenario_path.empty()) {
        usage(stderr);
        return 2;
    }
    if (!opts.segment.empty() && !opts.interface.empty()) {
        std::fprintf(stderr, "meshsim: --segment and --interface exclude each other\n");
        return 2;
    }
    if (opts.interface.empty() && opts.segment.empty())
        opts.segment = kDefaultSegment;
    uint32_t group = 0;
    uint16_t port = 0;
    if (!opts.segment.empty() && !parse_segment_address(opts.segment, &group, &port)) {
        std::fprintf(stderr,
                     "meshsim: --segment: expected GROUP:PORT with a multicast GROUP, got %s\n",
                     opts.segment.c_str());
        return 2;
    }
    if (meshsim::scenario_load(scenario_path, scenario, &error) != 0) {
        std::fprintf(stderr, "meshsim: %s\n", error.c_str());
        return 1;
    }
    with_faults(scenario);
    std::signal(SIGPIPE, SIG_IGN);
    uv_loop_t* loop = uv_default_loop();
    meshsim::Sim sim(std::move(scenario), opts);
    if (sim.start(loop, &error) != 0) {
        std::fprintf(stderr, "meshsim: %s\n", error.c_str());
        uv_run(loop, UV_RUN_NOWAIT);
        return 1;
    }
    uv_signal_init(loop, &g_sigint);
    uv_signal_init(loop, &g_sigterm);
    uv_signal_start(&g_sigint, on_signal, SIGINT);
    uv_signal_start(&g_sigterm, on_signal, SIGTERM);
    uv_run(loop, UV_RUN_DEFAULT);
    sim.stop();
    uv_close(reinterpret_cast<uv_handle_t*>(&g_sigint), nullptr);
    uv_close(reinterpret_cast<uv_handle_t*>(&g_sigterm), nullptr);
    uv_run(loop, UV_RUN_DEFAULT);
    uv_loop_close(loop);
    const meshsim::SimStats& st = sim.stats();
    std::fprintf(stderr,
                 "meshsim: stopped (%llu CMDUs received, %llu sent; %llu repeated CMDUs received, "
                 "%llu retransmissions for want of a 1905 Ack, %llu given up)\n",
                 static_cast<unsigned long long>(st.cmdus_received),
                 static_cast<unsigned long long>(st.cmdus_sent),
                 static_cast<unsigned long long>(st.duplicates),
                 static_cast<unsigned long long>(st.retransmissions),
                 static_cast<unsigned long long>(st.acks_missed));
    if (sim.faults())
        std::fprintf(stderr, "meshsim: %s\n", sim.faults()->summary().c_str());
    return 0;
}
