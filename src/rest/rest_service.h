// Everything the REST minder owns, in one piece: the route table (preloaded
// routes, then the built-in ones) and the HTTP server on the context's loop.
//
//   RestMinder(loop):  service_(loop, &logger_)
//   init(ctx):         char buf[256];
//                      int rc = nal_getMeshRestListenAddress(buf, sizeof buf);
//                      service_.start(ctx, rest_listen_address(rc, buf, &logger_));
//   end of process:    the context closes every loop handle and runs the loop
//                      dry; destroying the service then frees what is left
//                      (or: service_.close(), run the loop, destroy).
#pragma once

#include <memory>

#include "rest/dispatch.h"
#include "rest/http_server.h"
#include "rest/listen_address.h"

struct uv_loop_s;

class RestService {
  public:
    // Copies the preload table ("dispatch_table_preload has {} entries", ...)
    // and adds the built-in routes.
    RestService(uv_loop_s* loop, const Logger* logger, const RestLimits& limits = RestLimits());
    ~RestService();
    RestService(const RestService&) = delete;
    RestService& operator=(const RestService&) = delete;

    // Listens on ADDRESS ("Accepting REST connections on port {}"); a negative
    // libuv error ("Could not start REST server") when it cannot. Once only.
    int start(Context& ctx, const RestListenAddress& address);
    // Closes the listener and every connection (the loop must run afterwards).
    void close();

    DispatchTable& table() { return table_; }
    // Null before start().
    HttpServer* server() { return server_.get(); }

  private:
    uv_loop_s* loop_;
    const Logger* logger_;
    RestLimits limits_;
    DispatchTable table_;
    std::unique_ptr<HttpServer> server_;
};
