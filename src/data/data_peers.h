// What the data minder asks of the control bus above it: the loop side of the bridge and
// the D-Bus service thread, started by the data minder's init and ended with the data
// minder, the signals the data minder raises, and the available-channel list that the
// bus's getavailablechannel answers (for "notifyAvailableChannel"). src/dbus implements it; the
// assembly hands one to the data minder, which owns it and so knows no D-Bus code. Without one
// nothing is started and every signal is dropped.
#pragma once

#include "messages/bus_records.h"

class Logger;
struct uv_loop_s;

class DataBusPeer {
  public:
    // Ends the service thread, then frees the loop side of the bridge.
    virtual ~DataBusPeer() = default;
    // Sets up the loop side of the bridge on LOOP (failures logged on LOGGER), then starts
    // the service thread. 0, or -1.
    virtual int start(uv_loop_s* loop, const Logger* logger) = 0;
    // Raises the signal INTERFACE.MEMBER with DATA (LEN bytes) from the loop thread. 0 when
    // it was handed to the bus, -1 otherwise.
    virtual int notify(const char* interface, const char* member, const void* data, int len) = 0;
    // What the method getavailablechannel answers to REQ (ozr_getavailablechannel_rpc),
    // in RSP: ZKA_OZR_SUCCESS or a failure.
    virtual int available_channel_list(const ZkaAvailableChannelListReq_T* req,
                                       ZkaAvailableChannelListRsp_T* rsp) = 0;
};
