// Rendering cost of the graph documents on the 32-device mesh of mesh32.h:
// the document built by the renderers and written as pretty JSON, as one
// request of "/debug/graph", "/1/topology" and "/debug/aps" does it; and the cost of
// an answer from the render-once cache (the kept text with its time slots written).
#include <benchmark/benchmark.h>
#include <uv.h>

#include <string>

#include "core/context.h"
#include "graph/graph_minder.h"
#include "log/logger.h"
#include "mesh32.h"
#include "rest/http_response.h"
#include "rest/json_writer.h"
#include "rest/renderers.h"
#include "rest/rest_cache.h"

namespace {

struct Mesh {
    Mesh() {
        static Config config;
        init_null_logger();
        init_root_logger(3, "", config);
        uv_loop_init(&loop);
        ctx = new Context(&loop);
        ozr_bench::fill_mesh32(ctx->graph_minder->graph(), ctx->now());
    }
    uv_loop_t loop;
    Context* ctx;
};

const Graph& mesh_graph() {
    static Mesh mesh;
    return mesh.ctx->graph_minder->graph();
}

enum Doc { GRAPH, TOPOLOGY, APS };

void BM_RenderDocument(benchmark::State& state) {
    const Graph& g = mesh_graph();
    const Doc which = static_cast<Doc>(state.range(0));
    size_t bytes = 0;
    for (auto _ : state) {
        HttpResponse resp;
        auto& alloc = resp.document.GetAllocator();
        if (which == GRAPH) {
            JSONGraphRenderer(resp.document, alloc, g, 1000).render();
        } else {
            resp.document.SetObject();
            rapidjson::Value aps(rapidjson::kArrayType);
            for (const auto& kv : g.nodes) {
                if (kv.second->kind() != Node::DEVICE)
                    continue;
                aps.PushBack(rapidjson::Value(rapidjson::kObjectType), alloc);
                const auto& d = *static_cast<const Device*>(kv.second);
                if (which == TOPOLOGY)
                    JSONTopologyApRenderer(aps[aps.Size() - 1], alloc, g, d, 1000).render();
                else
                    JSONAPRenderer(aps[aps.Size() - 1], alloc, g, d, 1000, nullptr).render();
            }
            resp.document.AddMember("aps", aps, alloc);
        }
        render_json_body(resp);
        bytes = resp.body.size();
        benchmark::DoNotOptimize(resp.body.data());
    }
    state.counters["json_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_RenderDocument)->Arg(GRAPH)->Arg(TOPOLOGY)->Arg(APS)->ArgNames({"doc"});

// "/debug/graph" answered from the cache: one render kept, then each answer writes the
// kept text with the ages of the moment.
void BM_CachedGraphAnswer(benchmark::State& state) {
    const Graph& g = mesh_graph();
    RestCachedText kept;
    {
        RestTimeRecorder recorder;
        HttpResponse resp;
        JSONGraphRenderer(resp.document, resp.document.GetAllocator(), g, 1000).render();
        std::string text;
        write_pretty_json(resp.document, text);
        if (!kept.store(1, 200, "", std::move(text), recorder.slots())) {
            state.SkipWithError("the rendered text could not be kept");
            return;
        }
    }
    int64_t now = 1000;
    std::string body;
    for (auto _ : state) {
        kept.write(++now, body);
        benchmark::DoNotOptimize(body.data());
    }
    state.counters["json_bytes"] = static_cast<double>(body.size());
}
BENCHMARK(BM_CachedGraphAnswer);

}  // namespace

BENCHMARK_MAIN();
