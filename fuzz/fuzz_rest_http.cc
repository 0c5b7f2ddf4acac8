// Feeds arbitrary bytes to the REST server over a real loopback connection:
// whatever a client sends, the server answers or closes, and never crashes,
// reads out of bounds or leaks. The routes are the server's own (built in) and one
// that echoes what the parser made of the request; the minders' routes, which read the
// daemon's context, are not in this table (this target has no context).
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <uv.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "log/logger.h"
#include "rest/builtin_routes.h"
#include "rest/http_server.h"
#include "rest/json_writer.h"

// A stand-in: no handler in this target's table looks into the context.
class Context {
  public:
    int unused = 0;
};

namespace {

struct Harness {
    Logger logger{nullptr, "rest", "[REST]", -1};
    Context ctx;
    uv_loop_t loop;
    DispatchTable table{&logger};
    HttpServer* server = nullptr;

    Harness() {
        uv_loop_init(&loop);
        add_builtin_routes(table, &logger);
        table.add(REST_GET | REST_PUT | REST_POST | REST_DELETE, "/f/*/*/*",
                  [](Context&, ClientContext&, const HttpRequest& req, HttpResponse& r) {
                      JSONObjectRenderer out(r.document);
                      rapidjson::Value copy(req.body, out.allocator());
                      out.add_uint("components", static_cast<unsigned>(req.components.size()))
                          .add_uint("query", static_cast<unsigned>(req.query.size()))
                          .add_value("body", copy);
                      r.status = 200;
                      return 0;
                  });
        RestLimits limits;
        limits.max_body_bytes = 8192;
        server = new HttpServer(&loop, &logger, ctx, table, limits);
        if (server->start("127.0.0.1", 0) != 0)
            __builtin_trap();
    }
};

Harness& harness() {
    static Harness* h = new Harness();
    return *h;
}

// Waits until the client socket FD (when not -1) can be read (or written, with WRITING),
// or the loop has an event or a timer due: at most the time to the loop's next timer,
// capped at a second.
void wait_for(Harness& h, int fd, bool writing) {
    struct pollfd p[2] = {{uv_backend_fd(&h.loop), POLLIN, 0},
                          {fd, static_cast<short>(POLLIN | (writing ? POLLOUT : 0)), 0}};
    int timeout = uv_backend_timeout(&h.loop);
    if (timeout < 0 || timeout > 1000)
        timeout = 1000;
    poll(p, fd < 0 ? 1 : 2, timeout);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Harness& h = harness();
    if (size > 65536)
        size = 65536;
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    struct sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(h.server->port()));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<struct sockaddr*>(&sa), sizeof sa) != 0) {
        close(fd);
        return 0;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    size_t sent = 0;
    bool eof = false;
    // Send, let the loop work, take the answers; until the server closes the connection
    // after our FIN. Between rounds, wait for the client socket or the loop, whichever has
    // something first (never a fixed sleep).
    for (int round = 0; round < 1000 && !eof; ++round) {
        if (sent < size) {
            ssize_t n = send(fd, data + sent, size - sent, MSG_NOSIGNAL);
            if (n > 0)
                sent += static_cast<size_t>(n);
            if (n < 0 && errno != EAGAIN)
                sent = size;
            if (sent == size)
                shutdown(fd, SHUT_WR);
        } else if (round == 0) {
            shutdown(fd, SHUT_WR);
        }
        uv_run(&h.loop, UV_RUN_NOWAIT);
        char buf[65536];
        for (;;) {
            ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n > 0)
                continue;
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK))
                eof = true;
            break;
        }
        if (!eof)
            wait_for(h, fd, sent < size);
    }
    close(fd);
    for (int i = 0; i < 1000 && h.server->connection_count() > 0; ++i) {
        uv_run(&h.loop, UV_RUN_NOWAIT);
        if (h.server->connection_count() > 0)
            wait_for(h, -1, false);
    }
    return 0;
}
