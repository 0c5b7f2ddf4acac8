// libFuzzer target: what reaches steering from outside. The first byte chooses the path:
//   0: received bytes -> CMDU -> the BTM report handler (a known client, 02:c1:00:00:00:01,
//      is in the graph with its steering record, so reports for it are counted);
//   1: the client database file as read at start;
//   2: the platform steering policy text, applied by the policy initialisation.
// Every log line is formatted and dropped. The files live on a memory file system; the
// steering minder is new for every input.
#include <cstddef>
#include <cstdint>
#include <string>

#include "data/client_info_db.h"
#include "fuzz_context.h"
#include "graph/graph.h"
#include "map/codec/codec.h"

namespace {
const MAC kClient(0x02, 0xc1, 0, 0, 0, 0x01);
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::daemon_logs();
    // The graph is only read here: made once.
    Graph& g = fuzz::context().graph_minder->graph();
    Device* d = new Device("R", MAC(0x02, 0, 0, 0, 0, 1), 1);
    g.add_node(d);
    g.root = d;
    g.add_node(new Sta("", kClient, 1));
    d->add_link(new WirelessLink(kClient, BSSID(MAC(0x02, 0, 0, 0, 1, 1)), 1));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 300000)
        return 0;
    // Steering records and policy: new for every input.
    SteeringMinder*& steering = fuzz::context().steering_minder;
    fuzz::renew(steering).apply_steer_re_node(kClient);
    const uint8_t mode = data[0] % 3;
    ++data;
    --size;
    if (mode == 0) {
        CmduPtr cmdu = decode_1905_CMDU(data, size);
        if (cmdu)
            steering->on_btm_response(cmdu.get());
    } else if (mode == 1) {
        fuzz::put_file(ozr_path("/configs/easymesh/ozr_node_info_db.json"),
                       std::string(reinterpret_cast<const char*>(data), size));
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
        fuzz::put_file(nal_platform_json_path(), "{\"steering-policy\": \"" + escaped + "\"}");
        steering->steering_policy_init();
    }
    fuzz::release(steering);
    return 0;
}
