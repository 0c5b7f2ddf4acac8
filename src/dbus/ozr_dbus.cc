#include "dbus/ozr_dbus.h"

#include <uv.h>

#include "core/log.h"
#include "dbus/dispatch.h"
#include "qbus/qbus.h"

int ozr_dbus_notify(const char* interface, const char* member, const void* data, int len) {
    if (interface == nullptr || member == nullptr || len < 0)
        return -1;
    int r = qbusSendSignal(interface, member, data, data ? static_cast<size_t>(len) : 0);
    qbusFlush();
    return r == 0 ? 0 : -1;
}

// ---- LoopBridge ----------------------------------------------------------------------------

LoopBridge::~LoopBridge() {
    // The service thread reads the socket pair: it ends first.
    ozr_dbus_stop();
    sock_pair_.discard_pending();
    if (async_) {
        auto* h = reinterpret_cast<uv_handle_t*>(async_);
        if (uv_is_closing(h))
            delete async_;  // closed by the shutdown walk, the loop has finished it
        else
            uv_close(h, [](uv_handle_t* closed) { delete reinterpret_cast<uv_async_t*>(closed); });
        async_ = nullptr;
    }
}

int LoopBridge::start(uv_loop_s* loop, const Logger* logger) {
    if (async_ == nullptr) {
        async_ = new uv_async_t();
        int r = uv_async_init(loop, async_, ozr_dbus_uv_async_cb);
        if (r != 0) {
            OZR_ERROR(logger, "DataMinder::init() - uv_async_init failed: {}", uv_strerror(r));
            delete async_;
            async_ = nullptr;
            return -1;
        }
        async_->data = &sock_pair_;
    }
    sock_pair_.set_logger(logger);
    sock_pair_.set_wakeup(async_);
    if (sock_pair_.init_sock_pair() != 0) {
        OZR_ERROR(logger, "DataMinder::init() - socket pair init failed");
        return -1;
    }
    ozr_dbus_server();
    return 0;
}

int LoopBridge::notify(const char* interface, const char* member, const void* data, int len) {
    return ozr_dbus_notify(interface, member, data, len);
}

int LoopBridge::available_channel_list(const ZkaAvailableChannelListReq_T* req,
                                       ZkaAvailableChannelListRsp_T* rsp) {
    return ozr_getavailablechannel_rpc(req, rsp);
}
