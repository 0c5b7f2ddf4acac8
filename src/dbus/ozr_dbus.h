// The daemon's side of the control bus: the data minder's bus (LoopBridge) and raising a
// signal. The records and their sizes: messages/bus_records.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "data/data_peers.h"
#include "dbus/bridge.h"
#include "messages/bus_records.h"

// Raises the signal INTERFACE.MEMBER with DATA (LEN bytes, sent as one "ay" argument; no
// argument when DATA is null) from the object "/vexal/ozrd". Callable from the loop
// thread: the signal is queued to the D-Bus service thread, which sends it; the call never
// waits for that thread. Every call is journalled ("qbusSendSignal", see nal/journal.h),
// bus or not. Returns 0 when the signal was handed to the bus, -1 when there is no bus
// service (not connected, name not owned) or the queue is full.
//
// The loop side raises these (interface "vexal.ozrd"):
//   "notifyAvailableChannel"    ZkaAvailableChannelListRsp_T  527 bytes
//   "notifyStaSteeringRequest"  StaSteeringEvent_t            208 bytes
//   "notifyMeshTopologyChange"  ZkaMeshTopologyChange_T       204 bytes
//   "marlowAuthReqSignal"       ZkaMarlowAuthReq_T            234 bytes
int ozr_dbus_notify(const char* interface, const char* member, const void* data, int len);

// The loop side of the bridge, as the data minder starts and owns it (its DataBusPeer,
// handed over by the assembly): the loop wake-up and the socket pair. Destroying it ends
// the service thread first, then drops what is still waiting and closes the wake-up.
class LoopBridge : public DataBusPeer {
  public:
    LoopBridge() = default;
    ~LoopBridge() override;
    LoopBridge(const LoopBridge&) = delete;
    LoopBridge& operator=(const LoopBridge&) = delete;

    // The wake-up on LOOP, the socket pair (logging on LOGGER), then the service thread.
    int start(uv_loop_s* loop, const Logger* logger) override;
    // ozr_dbus_notify.
    int notify(const char* interface, const char* member, const void* data, int len) override;
    // ozr_getavailablechannel_rpc.
    int available_channel_list(const ZkaAvailableChannelListReq_T* req,
                               ZkaAvailableChannelListRsp_T* rsp) override;
    SockPairHdlr* sock_pair() { return &sock_pair_; }

  private:
    SockPairHdlr sock_pair_;
    // On the heap: the shutdown walk closes it without a callback; a bridge destroyed
    // without that walk closes it with one that frees it.
    uv_async_t* async_ = nullptr;
};
