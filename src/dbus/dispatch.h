// The loop side of the control bus: each bridged method call or signal is dispatched by
// ozr_dbus_cb_hdlr to one handler, which calls a minder operation.
#pragma once

#include "messages/bus_records.h"

class Logger;

// Dispatches one bridged message (loop thread). For a method call the result is written
// back to RPC_SOCK (an RpcSockHdlr), which releases the waiting service thread.
void ozr_dbus_cb_hdlr(void* in, int in_len, void* out, int out_len, void* rpc_sock,
                      DbusMsgType type);

// ---- Methods
ZkaOzrRet ozr_configsync_hdlr(const ZkaRGConfigSync_T* cfg);
ZkaOzrRet ozr_setradiochannel_rpc(const ZkaRadioChannelCfg_T* req, ZkaRadioChannelCfgResult_T* rsp);
ZkaOzrRet ozr_getavailablechannel_rpc(const ZkaAvailableChannelListReq_T* req,
                                      ZkaAvailableChannelListRsp_T* rsp);
ZkaOzrRet ozr_remove_extender_hdlr(const ZkaExtenderData_T* req);
ZkaOzrRet ozr_get_extender_info_hdlr(const ZkaExtenderData_T* req, ZkaExtenderInfoList_T* rsp);
ZkaOzrRet ozr_debug_hdlr(const ZkaDebugReq_T* req, ZkaDebugRsp_T* rsp);
ZkaOzrRet ozr_setsteeringthreshold_rpc(const ZkaSteeringThresholdConfig_T* req);
ZkaOzrRet ozr_get_mesh_topology(ZkaEmNetwork_T** out);
ZkaOzrRet ozr_get_mesh_topology_info(ZkaEmNetworkInfo_T** out);

// ---- Signals
void ozr_vap_cfg_hdlr(ZkaAllEnabledVapCfg* cfg);
void ozr_txpower_cfg_hdlr(const ZkaRadioTxPowerCfg_T* cfg);
void ozr_add_extender_hdlr(const char* sn);
ZkaOzrRet ozr_set_default_8021q_hdlr(const ZkaDefault802dot1qCfg* cfg);
ZkaOzrRet ozr_set_traffic_separation_policy_hdlr(const ZkaAllTrafficSeparationPolicyCfg* cfg);
ZkaOzrRet ozr_set_auto_channel_hdlr(const local_rrm_control_msg* msg);
ZkaOzrRet ozr_kick_out_client_hdlr(const char* mac);
ZkaOzrRet ozr_notify_marlow_join_hdlr(const int* state);
