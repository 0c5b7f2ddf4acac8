// The controller AL's receive path, frames per second: a fragmented Topology
// Response (3 radios x 4 BSSs x 20 clients) reassembled and delivered, a
// neighbour's Topology Discovery refreshing its entry, a duplicate dropped,
// and a malformed CMDU dropped. The transport is in memory (sends nothing),
// so the figures are the AL's own cost per frame.
#include <benchmark/benchmark.h>
#include <uv.h>

#include <memory>
#include <string>
#include <vector>

#include "map/al/al.h"
#include "map/codec/codec.h"
#include "map/codec/tlv_types.h"
#include "map/map_log.h"
#include "samples.h"

namespace {

void quiet(int, const char*, const std::string&) {}

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

const MAC kCtrl(0x02, 0, 0, 0, 1, 0), kCtrlItf(0x02, 0, 0, 0, 1, 1);
const MAC kAgent(0x02, 0, 0, 0, 2, 0), kAgentItf(0x02, 0, 0, 0, 2, 1);

struct Bench {
    Bench() {
        map_log_set_sink(&quiet);
        uv_loop_init(&loop);
        TransportOptions t;
        t.al_mac = kCtrl;
        MapAlOptions o;
        o.al_mac = kCtrl;
        al = std::make_unique<MapAl>(
            std::make_unique<NullTransport>(
                std::vector<TransportInterface>{{"eth0", kCtrlItf, "", 0}}, t),
            o);
        al->start(&loop, [this](CMDU*) { ++delivered; });
    }
    ~Bench() {
        al->stop();
        al.reset();
        uv_run(&loop, UV_RUN_NOWAIT);
        uv_loop_close(&loop);
    }
    std::vector<std::vector<uint8_t>> frames_of(CMDU& c, const MAC& dst, const MAC& src) {
        std::vector<std::vector<uint8_t>> frags, frames;
        encode_1905_CMDU(c, frags);
        for (auto& f : frags) {
            frames.emplace_back();
            build_1905_ethernet_frame(dst, src, f, frames.back());
        }
        return frames;
    }
    uv_loop_t loop;
    std::unique_ptr<MapAl> al;
    size_t delivered = 0;
};

// Rewrites the message id of a frame in place (bytes 18-19).
void set_mid(std::vector<uint8_t>& frame, uint16_t mid) {
    frame[18] = static_cast<uint8_t>(mid >> 8);
    frame[19] = static_cast<uint8_t>(mid);
}

void BM_TopologyResponseReassembled(benchmark::State& state) {
    Bench b;
    CmduPtr c = make_topology_response(3, 4, 20);
    auto frames = b.frames_of(*c, kCtrl, kAgent);
    uint16_t mid = 0;
    size_t bytes = 0;
    for (auto _ : state) {
        ++mid;
        for (auto& f : frames) {
            set_mid(f, mid);
            b.al->receive_frame(0, f.data(), f.size());
            bytes += f.size();
        }
    }
    state.counters["fragments"] = static_cast<double>(frames.size());
    state.counters["cmdus/s"] =
        benchmark::Counter(static_cast<double>(b.delivered), benchmark::Counter::kIsRate);
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_TopologyResponseReassembled);

void BM_DiscoveryRefresh(benchmark::State& state) {
    Bench b;
    CmduPtr d = CmduBuilder(CMDU_TYPE_TOPOLOGY_DISCOVERY, 0)
                    .add(al_mac_address_tlv{TLV_TYPE_AL_MAC_ADDRESS_TYPE, kAgent})
                    .add(mac_address_tlv{TLV_TYPE_MAC_ADDRESS_TYPE, kAgentItf})
                    .build();
    auto f = b.frames_of(*d, IEEE1905_MULTICAST_ADDRESS, kAgentItf)[0];
    uint16_t mid = 0;
    for (auto _ : state) {
        set_mid(f, ++mid);
        b.al->receive_frame(0, f.data(), f.size());
    }
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DiscoveryRefresh);

void BM_DuplicateDropped(benchmark::State& state) {
    Bench b;
    CmduPtr c = make_sample_cmdu("ap_capability_report");
    auto f = b.frames_of(*c, kCtrl, kAgent)[0];
    b.al->receive_frame(0, f.data(), f.size());
    for (auto _ : state)
        b.al->receive_frame(0, f.data(), f.size());
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DuplicateDropped);

void BM_MalformedDropped(benchmark::State& state) {
    Bench b;
    std::vector<uint8_t> bad = {0x00, 0x00, 0x80, 0x02, 0x10, 0x00, 0x00,
                                0x80, 0xA1, 0x01, 0x00, 0x01, 0x02};
    std::vector<uint8_t> f;
    build_1905_ethernet_frame(kCtrl, kAgent, bad, f);
    uint16_t mid = 0;
    for (auto _ : state) {
        set_mid(f, ++mid);
        b.al->receive_frame(0, f.data(), f.size());
    }
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MalformedDropped);

}  // namespace

BENCHMARK_MAIN();
