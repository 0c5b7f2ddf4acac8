// meshsim: plays a whole mesh of Multi-AP agents on a virtual segment or an
// Ethernet interface, for the controller to discover, query and steer.
//
//   meshsim --scenario FILE (--segment GROUP:PORT | --interface NAME) [--verbose]
#include <uv.h>

#include <csignal>
#include <cstdio>
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
        "  --check FILE          validate FILE and exit (0 valid, 1 not)\n",
        kDefaultSegment);
}

uv_signal_t g_sigint, g_sigterm;

void on_signal(uv_signal_t* s, int) {
    uv_stop(s->loop);
}

}  // namespace

int main(int argc, char** argv) {
    std::string scenario_path, check_path;
    meshsim::SimOptions opts;
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
    if (!check_path.empty()) {
        if (meshsim::scenario_load(check_path, scenario, &error) != 0) {
            std::fprintf(stderr, "meshsim: %s\n", error.c_str());
            return 1;
        }
        std::printf("%s: %zu agents, %zu clients, %zu timeline events\n", check_path.c_str(),
                    scenario.agents.size(), scenario.clients.size(), scenario.timeline.size());
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
    std::fprintf(stderr, "meshsim: stopped (%llu CMDUs received, %llu sent)\n",
                 static_cast<unsigned long long>(sim.stats().cmdus_received),
                 static_cast<unsigned long long>(sim.stats().cmdus_sent));
    return 0;
}
