// meshview [--url http://127.0.0.1:8090] [--interval SECONDS] [--once]
// Shows the mesh the daemon knows as a tree, refreshed until Ctrl-C.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "meshview.h"

namespace {
volatile std::sig_atomic_t g_stop = 0;
void on_signal(int) {
    g_stop = 1;
}
}  // namespace

int main(int argc, char** argv) {
    std::string url = "http://127.0.0.1:8090";
    int interval = 2;
    bool once = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--url" && i + 1 < argc) {
            url = argv[++i];
        } else if (a == "--interval" && i + 1 < argc) {
            interval = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--once") {
            once = true;
        } else {
            std::fprintf(stderr, "usage: meshview [--url URL] [--interval SECONDS] [--once]\n");
            return 2;
        }
    }
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    const bool tty = isatty(1);
    std::string last;
    while (!g_stop) {
        std::string graph, topo, tree;
        int status = meshview::http_get(url, "/debug/graph", graph);
        if (status == 200) {
            meshview::http_get(url, "/1/topology", topo);
            std::string hkt;
            if (meshview::http_get(url, "/debug/hktmgmt", hkt) != 200)
                hkt.clear();
            std::string cfg;
            if (meshview::http_get(url, "/debug/map-cfg", cfg) != 200)
                cfg.clear();
            std::string bh;
            if (meshview::http_get(url, "/debug/backhaul-steer", bh) != 200)
                bh.clear();
            std::string aps;
            if (meshview::http_get(url, "/debug/aps", aps) != 200)
                aps.clear();
            if (!meshview::render_tree(graph, topo, tree, hkt, cfg, bh, aps))
                tree = "(" + tree + ")\n";
            std::string steering;
            if (meshview::http_get(url, "/debug/steering", steering) == 200)
                tree += "\n" + meshview::render_steering(steering);
        } else if (status == 0) {
            tree = "(waiting for the daemon at " + url + ")\n";
        } else {
            tree = "(/debug/graph answered " + std::to_string(status) + ")\n";
        }
        if (tree != last || once) {
            char when[32];
            std::time_t now = std::time(nullptr);
            std::strftime(when, sizeof when, "%H:%M:%S", std::localtime(&now));
            if (tty && !once)
                std::fputs("\033[H\033[2J", stdout);
            std::printf(
                "mesh seen by ozr at %s (REST API: %s/1/topology, %s/debug/graph) - %s\n\n%s\n",
                url.c_str(), url.c_str(), url.c_str(), when, tree.c_str());
            std::fflush(stdout);
            last = tree;
        }
        if (once)
            return status == 200 ? 0 : 1;
        for (int k = 0; k < interval * 10 && !g_stop; ++k)
            usleep(100000);
    }
    return 0;
}
