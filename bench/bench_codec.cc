// Codec throughput: decode and encode of a Topology Response (3 radios x 4
// BSSs x 20 clients) and of an AP Metrics Response for 60 clients, beside a
// plain memcpy of the same bytes. Reports ns per CMDU and bytes/s.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "map/codec/codec.h"
#include "samples.h"

namespace {

// The message as it arrives: its fragments, and the whole CMDU payload
// (fragments joined) that the decoder walks.
struct Wire {
    std::vector<std::vector<uint8_t>> fragments;
    std::vector<uint8_t> joined;
    size_t bytes = 0;
};

Wire wire_of(const CMDU& c) {
    Wire w;
    encode_1905_CMDU(c, w.fragments);
    for (size_t i = 0; i < w.fragments.size(); ++i) {
        const auto& f = w.fragments[i];
        w.bytes += f.size();
        w.joined.insert(w.joined.end(), f.begin() + (i ? CMDU_HEADER_LEN : 0), f.end());
    }
    return w;
}

CmduPtr topology() {
    return make_topology_response(3, 4, 20);
}
CmduPtr metrics() {
    return make_ap_metrics_response(60);
}

void decode(benchmark::State& state, CmduPtr (*make)()) {
    Wire w = wire_of(*make());
    for (auto _ : state) {
        CmduPtr c = decode_1905_CMDU(w.joined.data(), w.joined.size());
        benchmark::DoNotOptimize(c.get());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(w.joined.size()));
    state.counters["bytes"] = double(w.joined.size());
}

void reassemble_and_decode(benchmark::State& state, CmduPtr (*make)()) {
    Wire w = wire_of(*make());
    CmduReassembler r;
    const MAC src = sample_mac(0xA0, 1);
    for (auto _ : state) {
        CmduPtr c;
        for (auto& f : w.fragments)
            c = r.feed(src, f.data(), f.size());
        benchmark::DoNotOptimize(c.get());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(w.bytes));
    state.counters["fragments"] = double(w.fragments.size());
}

void encode(benchmark::State& state, CmduPtr (*make)()) {
    CmduPtr c = make();
    Wire w = wire_of(*c);
    std::vector<std::vector<uint8_t>> out;
    for (auto _ : state) {
        encode_1905_CMDU(*c, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(w.bytes));
}

void copy(benchmark::State& state, CmduPtr (*make)()) {
    Wire w = wire_of(*make());
    std::vector<uint8_t> dst(w.joined.size());
    for (auto _ : state) {
        std::memcpy(dst.data(), w.joined.data(), w.joined.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(w.joined.size()));
}

}  // namespace

BENCHMARK_CAPTURE(decode, topology_response_3x4x20, topology);
BENCHMARK_CAPTURE(reassemble_and_decode, topology_response_3x4x20, topology);
BENCHMARK_CAPTURE(encode, topology_response_3x4x20, topology);
BENCHMARK_CAPTURE(copy, topology_response_3x4x20, topology);
BENCHMARK_CAPTURE(decode, ap_metrics_response_60, metrics);
BENCHMARK_CAPTURE(reassemble_and_decode, ap_metrics_response_60, metrics);
BENCHMARK_CAPTURE(encode, ap_metrics_response_60, metrics);
BENCHMARK_CAPTURE(copy, ap_metrics_response_60, metrics);

BENCHMARK_MAIN();
