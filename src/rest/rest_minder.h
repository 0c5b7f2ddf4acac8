// Serves the local HTTP REST API.
#pragma once

#include <memory>

#include "core/minder.h"
#include "log/logger.h"

struct uv_loop_s;
class RestService;

class RestMinder : public Minder {
  public:
    // Builds the "rest" category logger (path "root.rest") with its configured level,
    // and the route table (the routes the modules registered, then the built-in ones).
    explicit RestMinder(uv_loop_s* loop);
    // Frees the server. The context closes every loop handle and runs the loop dry
    // before destroying the minders; a minder destroyed without that closes the
    // server's handles and runs the loop (without waiting) until they are gone.
    ~RestMinder() override;
    RestMinder(const RestMinder&) = delete;
    RestMinder& operator=(const RestMinder&) = delete;

    // Listens on the address and port nal_getMeshRestListenAddress reports (by default
    // 127.0.0.1:8090). A failure to listen is logged ("Could not start REST server")
    // and leaves the daemon running without its REST API.
    Err init(Context& context) override;
    void run() override;
    // Closes the listener and every connection (the loop must run afterwards). The
    // context's shutdown does the same by closing every handle of the loop.
    void stop();

    // Run-time level change of the category logger (-1: inherit the root level).
    void set_log_level(int level) { logger_.set_level(level); }
    const Logger* logger() const { return &logger_; }
    // The bound port, 0 when not listening.
    int port() const;
    RestService* service() { return service_.get(); }

  private:
    Logger logger_;
    uv_loop_s* loop_;
    std::unique_ptr<RestService> service_;
};
