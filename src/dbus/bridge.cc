#include "dbus/bridge.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <uv.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/log.h"
#include "core/state_version.h"

namespace {
std::atomic<bool> g_stopping{false};

// Process-lifetime eventfd: readable once a shutdown has begun (until re-armed).
int stop_fd() {
    static const int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    return fd;
}

std::string errno_text(int e) {
    return std::strerror(e);
}
}  // namespace

int bridge_stop_fd() {
    return stop_fd();
}

// ---- KplMsg -------------------------------------------------------------------------------

KplMsg::KplMsg(const void* in, unsigned in_len, const void* out, unsigned out_len,
               const void* rpc_sock, DbusMsgType type)
    : msg_type_(type),
      in_msg_(const_cast<void*>(in)),
      out_msg_(const_cast<void*>(out)),
      rpc_sock_(const_cast<void*>(rpc_sock)),
      in_msg_len_(static_cast<int>(in_len)),
      out_msg_len_(static_cast<int>(out_len)) {}

KplMsg::~KplMsg() {
    // A signal's request is the bridge's own copy.
    if (rpc_sock_ == nullptr)
        std::free(in_msg_);
}

// ---- SockPairHdlr -------------------------------------------------------------------------

SockPairHdlr::~SockPairHdlr() {
    discard_pending();
    for (int& fd : fds_) {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
}

namespace {
KplDispatchFn g_default_dispatch = nullptr;  // loop thread only
}  // namespace

void SockPairHdlr::set_default_dispatch(KplDispatchFn fn) {
    g_default_dispatch = fn;
}

int32_t SockPairHdlr::init_sock_pair() {
    if (fds_[0] >= 0)
        return 0;
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0) {
        OZR_ERROR(logger_, "{} socketpair failed with error {}", OZR_SIGNATURE, errno_text(errno));
        return -1;
    }
    fds_[0] = fds[0];
    fds_[1] = fds[1];
    return 0;
}

int32_t SockPairHdlr::write_sock_pair(void* in, int in_len, void* out, int out_len, void* rpc_sock,
                                      DbusMsgType type) {
    const char* sig = OZR_SIGNATURE;
    // A signal's request copy is ours from here: freed on every failure.
    auto drop_copy = [&] {
        if (rpc_sock == nullptr)
            std::free(in);
    };
    if (in == nullptr || in_len <= 0) {
        OZR_ERROR(logger_, "{} input is NULL", sig);
        drop_copy();
        return -1;
    }
    if (g_stopping.load()) {
        OZR_ERROR(logger_, "{} shutting down, message type {} not handed over", sig,
                  static_cast<int>(type));
        drop_copy();
        return -1;
    }
    if (fds_[1] < 0) {
        OZR_ERROR(logger_, "{} socket pair not initialised", sig);
        drop_copy();
        return -1;
    }
    KplMsg* msg =
        new (std::nothrow) KplMsg(in, static_cast<unsigned>(in_len), out,
                                  static_cast<unsigned>(out_len < 0 ? 0 : out_len), rpc_sock, type);
    if (msg == nullptr) {
        OZR_ERROR(logger_, "{} Mem Alloc Failed, not writting message into kpl for type {}", sig,
                  static_cast<int>(type));
        drop_copy();
        return -1;
    }
    ssize_t n;
    for (;;) {
        n = write(fds_[1], &msg, sizeof msg);
        if (n < 0 && errno == EINTR) {
            OZR_DEBUG(logger_, "{} write interrupted, trying again", sig);
            continue;
        }
        break;
    }
    if (n < 0) {
        OZR_ERROR(logger_, "{} write failed with error {}", sig, errno_text(errno));
        delete msg;
        return -1;
    }
    if (n != static_cast<ssize_t>(sizeof msg)) {
        OZR_ERROR(logger_, "{} write failed, writen only {} bytes", sig, n);
        delete msg;
        return -1;
    }
    // From here the loop owns the message.
    int r = async_ ? uv_async_send(async_) : UV_EINVAL;
    if (r != 0) {
        OZR_ERROR(logger_, "{} uv_async_send failed with err {}", sig, r);
        return -1;
    }
    OZR_DEBUG(logger_, "{} dbus uv async posted", sig);
    return 0;
}

void SockPairHdlr::read_sock_pair() {
    const char* sig = OZR_SIGNATURE;
    for (;;) {
        KplMsg* msg = nullptr;
        ssize_t n = read(fds_[0], &msg, sizeof msg);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            OZR_DEBUG(logger_, "{} read failed with error {}", sig, errno_text(errno));
            return;
        }
        if (n != static_cast<ssize_t>(sizeof msg)) {
            OZR_ERROR(logger_, "{} rcvd {} bytes from socket pair, returning", sig, n);
            return;
        }
        DbusMsgType type = msg->get_msg_type();
        if (type < kDbusMsgTypeMin || type > kDbusMsgTypeMax) {
            OZR_ERROR(logger_, "{} invalid message type received {}", sig, static_cast<int>(type));
            // A caller waiting for this message is released with an error.
            if (auto* rpc = static_cast<RpcSockHdlr*>(msg->get_rpc_sock()))
                rpc->write_client_sock(ZKA_OZR_FAILURE);
        } else if (KplDispatchFn fn = dispatch_ ? dispatch_ : g_default_dispatch) {
            fn(msg->get_in_msg(), msg->get_in_msg_len(), msg->get_out_msg(), msg->get_out_msg_len(),
               msg->get_rpc_sock(), type);
        } else {
            OZR_ERROR(logger_, "{} no dispatcher for message type {}", sig, static_cast<int>(type));
            if (auto* rpc = static_cast<RpcSockHdlr*>(msg->get_rpc_sock()))
                rpc->write_client_sock(ZKA_OZR_FAILURE);
        }
        note_state_change();  // a bus request may change what the REST documents show
        delete msg;
    }
}

void SockPairHdlr::discard_pending() {
    if (fds_[0] < 0)
        return;
    for (;;) {
        KplMsg* msg = nullptr;
        ssize_t n = read(fds_[0], &msg, sizeof msg);
        if (n < 0 && errno == EINTR)
            continue;
        if (n != static_cast<ssize_t>(sizeof msg))
            return;
        delete msg;
    }
}

// ---- RpcSockHdlr --------------------------------------------------------------------------

RpcSockHdlr::~RpcSockHdlr() {
    for (int& fd : fds_) {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
}

int RpcSockHdlr::init_sock() {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0) {
        OZR_ERROR(logger_, "{} socketpair failed with error {}", OZR_SIGNATURE, errno_text(errno));
        return -1;
    }
    fds_[0] = fds[0];
    fds_[1] = fds[1];
    return 0;
}

int32_t RpcSockHdlr::write_client_sock(int32_t result) {
    for (;;) {
        ssize_t n = write(fds_[1], &result, sizeof result);
        if (n < 0 && errno == EINTR) {
            OZR_DEBUG(logger_, "{} write interrupted, trying again", OZR_SIGNATURE);
            continue;
        }
        if (n != static_cast<ssize_t>(sizeof result)) {
            OZR_ERROR(logger_, "{} write failed with error {}", OZR_SIGNATURE, errno_text(errno));
            return -1;
        }
        return 0;
    }
}

int32_t RpcSockHdlr::read_server_sock() {
    const char* sig = OZR_SIGNATURE;
    for (;;) {
        struct pollfd fds[2] = {{fds_[0], POLLIN, 0}, {stop_fd(), POLLIN, 0}};
        int r = poll(fds, 2, -1);
        if (r < 0 && errno == EINTR) {
            OZR_DEBUG(logger_, "{} read interrupted, trying again", sig);
            continue;
        }
        if (r < 0) {
            OZR_ERROR(logger_, "{} poll failed with error {}", sig, errno_text(errno));
            return ZKA_OZR_FAILURE;
        }
        if (fds[0].revents & POLLIN) {
            int32_t result = 0;
            ssize_t n = read(fds_[0], &result, sizeof result);
            if (n < 0 && errno == EINTR) {
                OZR_DEBUG(logger_, "{} read interrupted, trying again", sig);
                continue;
            }
            if (n != static_cast<ssize_t>(sizeof result)) {
                OZR_ERROR(logger_, "{} read failed with error {}", sig, errno_text(errno));
                return ZKA_OZR_FAILURE;
            }
            return result;
        }
        if (fds[1].revents & POLLIN) {
            OZR_ERROR(logger_, "{} shutting down, the call is abandoned", sig);
            return ZKA_OZR_FAILURE;
        }
    }
}

// ---- The loop wake-up and the shutdown ----------------------------------------------------

void ozr_dbus_uv_async_cb(uv_async_t* async) {
    auto* pair = static_cast<SockPairHdlr*>(async ? async->data : nullptr);
    if (pair == nullptr)
        return;
    OZR_DEBUG(ozr_dbus_logger(), "{} dbus uv async handler invoked", OZR_SIGNATURE);
    pair->read_sock_pair();
}

// ---- The attachment ------------------------------------------------------------------------

namespace {
// The data minder's socket pair and logger, attached by the assembly.
SockPairHdlr* g_attached_pair = nullptr;
const Logger* g_attached_logger = nullptr;
}  // namespace

void ozr_dbus_attach(SockPairHdlr* pair, const Logger* logger) {
    g_attached_pair = pair;
    g_attached_logger = pair ? logger : nullptr;
}

const Logger* ozr_dbus_logger() {
    return g_attached_logger;
}

SockPairHdlr* ozr_dbus_pair() {
    return g_attached_pair;
}

void ozr_dbus_begin_shutdown() {
    g_stopping = true;
    uint64_t one = 1;
    while (write(stop_fd(), &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void ozr_dbus_rearm() {
    uint64_t v;
    while (read(stop_fd(), &v, sizeof v) > 0) {
    }
    g_stopping = false;
}

bool ozr_dbus_stopping() {
    return g_stopping.load();
}
