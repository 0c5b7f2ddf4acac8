// Raising a signal on the control bus (the records and their sizes: messages/bus_records.h).
#pragma once

#include <cstddef>
#include <cstdint>

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
