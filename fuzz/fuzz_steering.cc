// libFuzzer target: what reaches steering from outside. The first byte chooses the path:
//   0: received bytes -> CMDU -> the BTM report handler (a known client, 02:c1:00:00:00:01,
//      is in the graph with its steering record, so reports for it are counted);
//   1: the client database file as read at start;
//   2: the platform steering policy text, applied by the policy initialisation.
// Every log line is formatted and dropped.
#include <uv.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/paths.h"
#include "core/context.h"
#include "data/data_minder.h"
#include "graph/graph.h"
#include "graph/graph_minder.h"
#include "log/logger.h"
#include "map/codec/codec.h"
#include "nal/nal.h"
#include "steering/steering_minder.h"

namespace {
const MAC kClient(0x02, 0xc1, 0, 0, 0, 0x01);

Context* context() {
    static Context* ctx = [] {
        static std::string root = [] {
            char tmpl[] = "/tmp/ozr-fuzz-steering-XXXXXX";
            return std::string(mkdtemp(tmpl));
        }();
        setenv("OZR_ROOT", root.c_str(), 1);
        ozr_make_dirs(ozr_path("/configs/easymesh"));
        static Config config;
        init_root_logger(7, "ozr", config);
        init_null_logger();
        nal_setLogLevel(7);
        static uv_loop_t loop;
        uv_loop_init(&loop);
        Context* c = new Context(&loop);
        Graph& g = c->graph_minder->graph();
        Device* d = new Device("R", MAC(0x02, 0, 0, 0, 0, 1), 1);
        g.add_node(d);
        g.root = d;
        g.add_node(new Sta("", kClient, 1));
        d->add_link(new WirelessLink(kClient, BSSID(MAC(0x02, 0, 0, 0, 1, 1)), 1));
        c->steering_minder->apply_steer_re_node(kClient);
        return c;
    }();
    return ctx;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Context* c = context();
    if (size < 1 || size > 300000)
        return 0;
    const uint8_t mode = data[0] % 3;
    ++data;
    --size;
    if (mode == 0) {
        CmduPtr cmdu = decode_1905_CMDU(data, size);
        if (cmdu)
            c->steering_minder->on_btm_response(cmdu.get());
    } else if (mode == 1) {
        FILE* f = std::fopen(ozr_path("/configs/easymesh/ozr_node_info_db.json").c_str(), "wb");
        if (!f)
            return 0;
        std::fwrite(data, 1, size, f);
        std::fclose(f);
        ClientInfoDb db;
        db.db_init();
    } else {
        // platform.json with the text as the policy string.
        std::string text(reinterpret_cast<const char*>(data), size);
        std::string escaped;
        for (char ch : text) {
            if (ch == '"' || ch == '\\')
                escaped += '\\';
            if (static_cast<unsigned char>(ch) < 0x20)
                continue;
            escaped += ch;
        }
        FILE* f = std::fopen(nal_platform_json_path().c_str(), "wb");
        if (!f)
            return 0;
        const std::string doc = "{\"steering-policy\": \"" + escaped + "\"}";
        std::fwrite(doc.data(), 1, doc.size(), f);
        std::fclose(f);
        c->steering_minder->steering_policy_init();
    }
    return 0;
}
