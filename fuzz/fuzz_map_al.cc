// libFuzzer target: Ethernet frames into the controller AL's receive path
// (duplicates, relay, reassembly, discovery, registrar answers, acks) and on
// into the data model, over an in-memory transport with two interfaces.
// Input: frames, each prefixed by a 2-byte length and a control byte (bit 0:
// interface; bits 1-7: seconds the manual clock moves before the frame).
#include <uv.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "common/clock.h"
#include "fuzz_support.h"
#include "map/al/al.h"
#include "map/al/stack.h"
#include "map/datamodel/datamodel.h"

namespace {

// Sends nowhere; opens nothing.
class NullTransport : public Transport {
  public:
    NullTransport(std::vector<TransportInterface> itfs, TransportOptions o)
        : Transport(std::move(itfs), std::move(o)) {}
    const char* kind() const override { return "null"; }

  protected:
    int open_sockets(std::string*) override { return 0; }
    int send_frame(size_t, const uint8_t*, size_t) override { return 0; }
    size_t select_targets(const Endpoint&, const uint8_t*, size_t, int, size_t*) override {
        return 0;
    }
};

MAC mac(uint8_t a, uint8_t b) {
    return MAC(0x02, 0, 0, 0, a, b);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::stack_logs_dropped();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uv_loop_t* loop = fuzz::loop();
    ozr_clock::set_manual(1000000);
    map_datamodel_init(mac(1, 0), mac(1, 9));
    std::vector<TransportInterface> itfs = {{"eth0", mac(1, 1), "", 0}, {"wl0", mac(1, 2), "", 0}};
    TransportOptions topt;
    topt.al_mac = mac(1, 0);
    MapAlOptions opt;
    opt.al_mac = mac(1, 0);
    opt.max_neighbors = 8;
    opt.reassembly.max_messages = 4;
    opt.reassembly.max_bytes = 8192;
    auto al = std::make_unique<MapAl>(std::make_unique<NullTransport>(itfs, topt), opt);
    if (al->start(loop, [](CMDU* c) { map_stack_handle_cmdu(c); }) != 0)
        return 0;
    size_t at = 0;
    while (at + 3 <= size) {
        size_t n = (size_t(data[at]) << 8) | data[at + 1];
        uint8_t ctl = data[at + 2];
        at += 3;
        if (n > size - at)
            n = size - at;
        if (ctl >> 1) {
            ozr_clock::advance(static_cast<long long>(ctl >> 1) * 1000);
            al->tick();
        }
        al->receive_frame(ctl & 1, data + at, n);
        at += n;
    }
    al->query_self(1);
    al->stop();
    al.reset();
    fuzz::settle();
    map_datamodel_reset();
    return 0;
}
