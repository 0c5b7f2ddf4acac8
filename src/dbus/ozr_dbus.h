// The daemon's side of the control bus that the rest of the daemon calls: raising a
// signal, and the sizes of the variable-length records the bus carries.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dbus/records.h"

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

// 72 + the record's len field; 0 for null.
uint64_t get_config_msg_size(const ZkaRGConfigSync_T* cfg);
// Length of the text + 1; 0 for null.
size_t get_topo_info_msg_size(const char* text);
// Size of a packed topology block, walked by its counts (see records.h); 0 for null.
// Counts over 6 APs, 3 radios, 16 Ethernet clients, 12 SSIDs or 32 stations are reported
// to syslog at error and still counted.
size_t get_topo_msg_size(const ZkaEmNetwork_T* block);
