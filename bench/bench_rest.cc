// The REST server's cost per request, in process: one keep-alive loopback
// connection driven from the loop's own thread, one request at a time and
// sixteen pipelined; and the pretty JSON writer on a topology-sized document.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <uv.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "log/logger.h"
#include "rest/http_server.h"
#include "rest/json_writer.h"
#include "rest/rest_service.h"

// The built-in routes never look into the context.
class Context {
  public:
    int unused = 0;
};

namespace {

class LoopbackServer {
  public:
    LoopbackServer() {
        uv_loop_init(&loop_);
        service_ = new RestService(&loop_, &logger_);
        RestListenAddress address;
        address.port = 0;
        ok_ = service_->start(ctx_, address) == 0;
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        struct sockaddr_in sa;
        std::memset(&sa, 0, sizeof sa);
        sa.sin_family = AF_INET;
        sa.sin_port = htons(static_cast<uint16_t>(ok_ ? service_->server()->port() : 0));
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ok_ = ok_ && connect(fd_, reinterpret_cast<struct sockaddr*>(&sa), sizeof sa) == 0;
        int one = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
    }
    ~LoopbackServer() {
        close(fd_);
        service_->close();
        while (uv_run(&loop_, UV_RUN_NOWAIT) != 0) {
        }
        delete service_;
        uv_loop_close(&loop_);
    }
    bool ok() const { return ok_; }

    // Sends REQUEST and runs the loop until COUNT answers (each ending its
    // body with "}" or empty) have arrived; returns the bytes received.
    size_t exchange(const std::string& request, int count) {
        if (send(fd_, request.data(), request.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(request.size()))
            return 0;
        size_t got = 0;
        int answers = 0;
        char buf[65536];
        for (int spins = 0; answers < count && spins < 100000; ++spins) {
            uv_run(&loop_, UV_RUN_NOWAIT);
            ssize_t n = recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) {
                if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
                    return 0;
                continue;
            }
            got += static_cast<size_t>(n);
            for (ssize_t i = 0; i + 3 < n; ++i)
                if (std::memcmp(buf + i, "HTTP", 4) == 0)
                    ++answers;
        }
        // The last answer's body may still be in flight: drain what follows.
        uv_run(&loop_, UV_RUN_NOWAIT);
        while (true) {
            ssize_t n = recv(fd_, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            got += static_cast<size_t>(n);
        }
        return got;
    }

  private:
    Logger logger_{nullptr, "rest", "[REST]", -1};
    Context ctx_;
    uv_loop_t loop_;
    RestService* service_ = nullptr;
    int fd_ = -1;
    bool ok_ = false;
};

void BM_RestRequest(benchmark::State& state, const char* uri) {
    LoopbackServer server;
    if (!server.ok()) {
        state.SkipWithError("could not set up the loopback server");
        return;
    }
    const std::string request = std::string("GET ") + uri + " HTTP/1.1\r\nHost: x\r\n\r\n";
    size_t bytes = 0;
    for (auto _ : state)
        bytes += server.exchange(request, 1);
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK_CAPTURE(BM_RestRequest, version, "/1/version");
BENCHMARK_CAPTURE(BM_RestRequest, array, "/debug/array");
BENCHMARK_CAPTURE(BM_RestRequest, no_route, "/no/such/route");

void BM_RestPipelined16(benchmark::State& state) {
    LoopbackServer server;
    if (!server.ok()) {
        state.SkipWithError("could not set up the loopback server");
        return;
    }
    std::string batch;
    for (int i = 0; i < 16; ++i)
        batch += "GET /1/version HTTP/1.1\r\nHost: x\r\n\r\n";
    for (auto _ : state)
        benchmark::DoNotOptimize(server.exchange(batch, 16));
    state.SetItemsProcessed(state.iterations() * 16);
}
BENCHMARK(BM_RestPipelined16);

// 32 devices of 24 members each, about the size of a topology answer.
void BM_PrettyJson32Devices(benchmark::State& state) {
    rapidjson::Document doc;
    JSONObjectRenderer top(doc);
    rapidjson::Value aps(rapidjson::kArrayType);
    for (int d = 0; d < 32; ++d) {
        rapidjson::Value ap(rapidjson::kObjectType);
        JSONObjectRenderer r(ap, top.allocator());
        r.add_mac("al-mac", MAC(2, 0, 0, 0, 0, static_cast<uint8_t>(d)));
        for (int k = 0; k < 20; ++k)
            r.add_uint(("metric-" + std::to_string(k)).c_str(), 1000u * k);
        r.add_string("manufacturer-name", "vendor").add_bool("bh-set", true).add_int("rssi", -60);
        aps.PushBack(ap, top.allocator());
    }
    top.add_value("aps", aps);
    std::string out;
    for (auto _ : state) {
        out.clear();
        benchmark::DoNotOptimize(write_pretty_json(doc, out));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * out.size()));
}
BENCHMARK(BM_PrettyJson32Devices);

}  // namespace

BENCHMARK_MAIN();
