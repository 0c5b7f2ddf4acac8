// The AP configuration database with a full white list (32 extenders, every field
// filled): the cost of one change (serialise, write a temporary file, fsync it, rename it
// over the database, fsync the folder), of the serialisation alone, and of the start-up
// load and check. The files live under a temporary OZR_ROOT in /tmp (or $OZR_BENCH_DIR),
// so the sync cost is that of the file system there.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <string>

#include "common/paths.h"
#include "data/ap_config_db.h"

namespace {

constexpr int kRecords = 32;

class BenchRoot {
  public:
    BenchRoot() {
        const char* base = std::getenv("OZR_BENCH_DIR");
        std::string tmpl = std::string(base ? base : "/tmp") + "/ozr-bench-XXXXXX";
        char* d = mkdtemp(&tmpl[0]);
        dir_ = d ? d : "/tmp";
        setenv("OZR_ROOT", dir_.c_str(), 1);
    }
    ~BenchRoot() {
        unsetenv("OZR_ROOT");
        if (std::system(("rm -rf '" + dir_ + "'").c_str()) != 0) {
        }
    }

  private:
    std::string dir_;
};

ApRecord record(int i) {
    ApRecord r;
    char sn[16];
    std::snprintf(sn, sizeof sn, "EX2026%06d", i);
    r.sn = sn;
    r.hw_model = "EXT-AX3000";
    r.hostname = "extender-" + std::to_string(i);
    char mac[18];
    std::snprintf(mac, sizeof mac, "02:6f:7a:72:%02x:00", i & 0xff);
    r.ale_id = mac;
    std::snprintf(mac, sizeof mac, "02:6f:7a:72:%02x:01", i & 0xff);
    r.system_mac = mac;
    r.hkt_mgmt_cap = "bh8,steer,stats";
    r.status = "Configured";
    return r;
}

void fill(ApConfigDb& db) {
    for (int i = 0; i < kRecords; ++i) {
        ApRecord r = record(i);
        db.db_add_record(r.sn, r);
    }
}

void BM_ConfigDbChange(benchmark::State& state) {
    BenchRoot root;
    ApConfigDb db;
    if (!db.db_init()) {
        state.SkipWithError("db_init failed");
        return;
    }
    fill(db);
    ApRecord r = record(7);
    int n = 0;
    for (auto _ : state) {
        r.hostname = (++n & 1) ? "kitchen" : "hall";  // a real change every time
        if (!db.db_update_record(r.sn, r)) {
            state.SkipWithError("write failed");
            break;
        }
    }
    state.counters["bytes"] = static_cast<double>(db.db_build_text().size());
}
BENCHMARK(BM_ConfigDbChange)->Unit(benchmark::kMicrosecond);

void BM_ConfigDbSerialise(benchmark::State& state) {
    BenchRoot root;
    ApConfigDb db;
    db.db_init();
    fill(db);
    size_t bytes = 0;
    for (auto _ : state) {
        std::string text = db.db_build_text();
        bytes = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_ConfigDbSerialise)->Unit(benchmark::kMicrosecond);

void BM_ConfigDbLoadAndCheck(benchmark::State& state) {
    BenchRoot root;
    {
        ApConfigDb db;
        db.db_init();
        fill(db);
    }
    for (auto _ : state) {
        ApConfigDb db;
        if (!db.db_init() || db.records().size() != kRecords) {
            state.SkipWithError("load failed");
            break;
        }
    }
}
BENCHMARK(BM_ConfigDbLoadAndCheck)->Unit(benchmark::kMicrosecond);

void BM_ConfigDbUnchangedUpdate(benchmark::State& state) {
    BenchRoot root;
    ApConfigDb db;
    db.db_init();
    fill(db);
    const ApRecord r = *db.db_query_record(record(7).sn).second;
    const unsigned long long before = db.writes();
    for (auto _ : state)
        benchmark::DoNotOptimize(db.db_update_record(r.sn, r));
    state.counters["writes"] = static_cast<double>(db.writes() - before);
}
BENCHMARK(BM_ConfigDbUnchangedUpdate)->Unit(benchmark::kNanosecond);

}  // namespace

BENCHMARK_MAIN();
