// The bridge between the D-Bus service thread and the event loop.
//
// The service thread never touches minder state. Each method call or signal it receives
// becomes a KplMsg whose pointer it writes into a non-blocking socket pair, then it wakes
// the loop (uv_async_send). The loop drains the socket pair and dispatches every message,
// in order, to ozr_dbus_cb_hdlr. For a method call the service thread then blocks on a
// per-call socket pair (RpcSockHdlr) until the loop writes the 4-byte result back; one call
// is in flight at a time. Signals do not wait.
//
// Ownership: a KplMsg belongs to the loop from the moment it is read. For a method call
// the request and reply buffers belong to the waiting service thread; for a signal
// (rpc_sock null) the request is a malloc'ed copy that the KplMsg frees.
//
// Shutdown: ozr_dbus_stop() makes the bridge refuse new messages, releases a service thread
// waiting for a result (the caller gets an error) and joins the thread.
#pragma once

#include <cstdint>

#include "messages/bus_records.h"

class Logger;
struct uv_async_s;
typedef struct uv_async_s uv_async_t;

class KplMsg {
  public:
    KplMsg(const void* in, unsigned in_len, const void* out, unsigned out_len, const void* rpc_sock,
           DbusMsgType type);
    ~KplMsg();
    KplMsg(const KplMsg&) = delete;
    KplMsg& operator=(const KplMsg&) = delete;

    DbusMsgType get_msg_type() const { return msg_type_; }
    void* get_in_msg() const { return in_msg_; }
    void* get_out_msg() const { return out_msg_; }
    int get_in_msg_len() const { return in_msg_len_; }
    int get_out_msg_len() const { return out_msg_len_; }
    void* get_rpc_sock() const { return rpc_sock_; }

  private:
    DbusMsgType msg_type_;
    void* in_msg_;
    void* out_msg_;
    void* rpc_sock_;
    int in_msg_len_;
    int out_msg_len_;
};

// Where the loop hands each message (ozr_dbus_cb_hdlr; tests put their own).
typedef void (*KplDispatchFn)(void* in, int in_len, void* out, int out_len, void* rpc_sock,
                              DbusMsgType type);

// The socket pair between the service thread (writes the second descriptor) and the loop
// (reads the first). Owned by the data minder's LoopBridge (ozr_dbus.h).
class SockPairHdlr {
  public:
    SockPairHdlr() = default;
    ~SockPairHdlr();
    SockPairHdlr(const SockPairHdlr&) = delete;
    SockPairHdlr& operator=(const SockPairHdlr&) = delete;

    // The logger of bridge failures, the loop wake-up, the dispatcher (before init).
    void set_logger(const Logger* logger) { logger_ = logger; }
    void set_wakeup(uv_async_t* async) { async_ = async; }
    void set_dispatch(KplDispatchFn fn) { dispatch_ = fn; }
    // The daemon's dispatcher (ozr_dbus_cb_hdlr), for every pair without one of its own.
    static void set_default_dispatch(KplDispatchFn fn);

    // socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK). 0, or -1 (logged).
    int32_t init_sock_pair();
    // Service thread: hands one message to the loop and wakes it. 0, or -1 (logged; for a
    // signal the request copy is freed).
    int32_t write_sock_pair(void* in, int in_len, void* out, int out_len, void* rpc_sock,
                            DbusMsgType type);
    // Loop: handles every message waiting, in order.
    void read_sock_pair();
    // Frees every message still waiting without handling it (after the service thread is
    // gone: their reply sockets no longer exist).
    void discard_pending();

  private:
    int fds_[2] = {-1, -1};
    const Logger* logger_ = nullptr;
    uv_async_t* async_ = nullptr;
    KplDispatchFn dispatch_ = nullptr;
};

// One method call's wait for its result (service thread).
class RpcSockHdlr {
  public:
    explicit RpcSockHdlr(const Logger* logger) : logger_(logger) {}
    ~RpcSockHdlr();
    RpcSockHdlr(const RpcSockHdlr&) = delete;
    RpcSockHdlr& operator=(const RpcSockHdlr&) = delete;

    // socketpair(AF_UNIX, SOCK_SEQPACKET) (blocking). 0, or -1.
    int init_sock();
    // Loop: writes the 4-byte result, releasing the waiting thread. 0, or -1.
    int32_t write_client_sock(int32_t result);
    // Service thread: waits for the result (no time-out); -1 when the wait failed or the
    // bridge shut down meanwhile.
    int32_t read_server_sock();

  private:
    int fds_[2] = {-1, -1};
    const Logger* logger_;
};

// The loop wake-up's callback: async->data is the SockPairHdlr.
void ozr_dbus_uv_async_cb(uv_async_t* async);

// The bus sits below the minders and knows none of them. The assembly attaches the data
// minder's socket pair and logger while the Context lives (null: detached; method calls
// then fail and signals are dropped), and names the daemon's dispatcher.
void ozr_dbus_attach(SockPairHdlr* pair, const Logger* logger);
// The logger of the bus layer (the data minder's), or null while detached.
const Logger* ozr_dbus_logger();
// The socket pair attached, or null while detached.
SockPairHdlr* ozr_dbus_pair();

// Starts the D-Bus service thread; the process exits with 1 when it cannot be created.
// Also re-arms the bridge after an earlier ozr_dbus_stop.
void ozr_dbus_server();
// Shutdown: refuse new messages, release a waiting method call with an error, end the
// service thread's main loop and join it. Safe to call more than once or with no thread.
void ozr_dbus_stop();
// Only the first two steps (no join): for tests that play the service side themselves.
void ozr_dbus_begin_shutdown();
// Clears a shutdown begun with ozr_dbus_begin_shutdown (no thread may be waiting).
void ozr_dbus_rearm();
bool ozr_dbus_stopping();
// Readable once a shutdown has begun (until re-armed): the service's main loop polls it.
int bridge_stop_fd();
