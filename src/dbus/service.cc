// The D-Bus service thread: registers "vexal.ozrd", listens to the platform's signals and
// hands every call and signal over to the loop through the bridge.
#include <pthread.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "core/log.h"
#include "dbus/bridge.h"
#include "dbus/service.h"
#include "messages/bus_records.h"
#include "qbus/qbus.h"

namespace {
pthread_t g_thread;
bool g_thread_started = false;  // loop thread only

// The data minder's socket pair and logger, attached by the assembly (ozr_dbus_attach); a
// null pair while detached.
struct Attached {
    SockPairHdlr* pair;
    const Logger* logger;
};

Attached attached() {
    return {ozr_dbus_pair(), ozr_dbus_logger()};
}

// One method call: hand it to the loop and wait for the result.
int rpc_call(const char* sig, void* in, int in_len, void* out, int out_len, DbusMsgType type) {
    const Attached dm = attached();
    if (dm.pair == nullptr)
        return ZKA_OZR_FAILURE;
    const Logger* logger = dm.logger;
    SockPairHdlr* pair = dm.pair;
    if (in == nullptr || out == nullptr) {
        OZR_ERROR(logger, "{} Invoked with NULL input", sig);
        return ZKA_OZR_FAILURE;
    }
    auto* rpc = new (std::nothrow) RpcSockHdlr(logger);
    if (rpc == nullptr) {
        OZR_ERROR(logger, "{} mem alloc fails for RpcSockHdlr", sig);
        return ZKA_OZR_FAILURE;
    }
    if (rpc->init_sock() < 0) {
        OZR_ERROR(logger, "{} RPC sock pair init failed", sig);
        delete rpc;
        return ZKA_OZR_FAILURE;
    }
    if (pair->write_sock_pair(in, in_len, out, out_len, rpc, type) < 0) {
        OZR_ERROR(logger, "{} sock pair write failed", sig);
        delete rpc;
        return ZKA_OZR_FAILURE;
    }
    int32_t result = rpc->read_server_sock();
    delete rpc;
    return result;
}

// A signal's payload, copied and handed over without waiting.
void forward(const char* sig, const char* member, const void* data, int len, DbusMsgType type) {
    const Attached dm = attached();
    if (dm.pair == nullptr)
        return;
    void* copy = std::malloc(static_cast<size_t>(len));
    if (copy == nullptr) {
        OZR_ERROR(dm.logger, "{} {}: no memory for {} bytes", sig, member, len);
        return;
    }
    std::memcpy(copy, data, static_cast<size_t>(len));
    dm.pair->write_sock_pair(copy, len, nullptr, 0, nullptr, type);
}

void forward_record(const char* sig, const char* member, const void* data, int len, size_t expected,
                    DbusMsgType type) {
    if (data == nullptr || len < 0 || static_cast<size_t>(len) != expected) {
        OZR_ERROR(ozr_dbus_logger(), "{} {} payload of {} bytes dropped, expected {}", sig, member,
                  len, expected);
        return;
    }
    forward(sig, member, data, len, type);
}

void forward_text(const char* sig, const char* member, const void* data, int len, size_t max_len,
                  DbusMsgType type) {
    if (data == nullptr || len <= 0 || static_cast<size_t>(len) > max_len + 1 ||
        static_cast<const char*>(data)[len - 1] != '\0') {
        OZR_ERROR(ozr_dbus_logger(), "{} {} text of {} bytes dropped (at most {})", sig, member,
                  len, max_len);
        return;
    }
    forward(sig, member, data, len, type);
}

// Longest texts the text signals carry (serial number, client MAC).
constexpr size_t kMaxSnText = 64;
constexpr size_t kMaxMacText = 64;
}  // namespace

// ---- Method handlers (service thread) ------------------------------------------------------

int _dbus_ozr_configsync_rpc(void* in, void* out) {
    auto len = get_config_msg_size(static_cast<const ZkaRGConfigSync_T*>(in));
    return rpc_call(OZR_SIGNATURE, in, static_cast<int>(len), out, 0, DBUS_MSG_CONFIG_SYNC);
}

int _dbus_ozr_setradiochannel_rpc(void* in, void* out) {
    return rpc_call(OZR_SIGNATURE, in, sizeof(ZkaRadioChannelCfg_T), out,
                    sizeof(ZkaRadioChannelCfgResult_T), DBUS_MSG_SET_RADIO_CHANNEL);
}

int _dbus_ozr_getavailablechannel_rpc(void* in, void* out) {
    return rpc_call(OZR_SIGNATURE, in, sizeof(ZkaAvailableChannelListReq_T), out,
                    sizeof(ZkaAvailableChannelListRsp_T), DBUS_MSG_GET_AVAILABLE_CHANNEL);
}

int _dbus_ozr_removeextender_rpc(void* in, void* out) {
    return rpc_call(OZR_SIGNATURE, in, sizeof(ZkaExtenderData_T), out, 0, DBUS_MSG_REMOVE_EXTENDER);
}

int _dbus_ozr_getextenderinfo_rpc(void* in, void* out) {
    return rpc_call(OZR_SIGNATURE, in, sizeof(ZkaExtenderData_T), out,
                    sizeof(ZkaExtenderInfoList_T), DBUS_MSG_GET_EXTENDER_INFO);
}

int _dbus_ozr_debug_rpc(void* in, void* out) {
    return rpc_call(OZR_SIGNATURE, in, sizeof(ZkaDebugReq_T), out, sizeof(ZkaDebugRsp_T),
                    DBUS_MSG_DEBUG);
}

int _dbus_ozr_setsteeringthreshold_rpc(void* in, void* out) {
    return rpc_call(OZR_SIGNATURE, in, sizeof(ZkaSteeringThresholdConfig_T), out, 0,
                    DBUS_MSG_SET_STEERING_THRESHOLD);
}

// The two topology methods: the 4-byte request is not read; the message carries the reply
// slot (OUT) through which the loop hands back the block it built.
int _dbus_ozr_getmeshtopology_rpc(void* in, void* out) {
    return rpc_call(OZR_SIGNATURE, in ? out : nullptr, sizeof(void*), out, 0,
                    DBUS_MSG_GET_MESH_TOPOLOGY);
}

int _dbus_ozr_getmeshtopologyinfo_rpc(void* in, void* out) {
    return rpc_call(OZR_SIGNATURE, in ? out : nullptr, sizeof(void*), out, 0,
                    DBUS_MSG_GET_MESH_TOPOLOGY_INFO);
}

// ---- Signal handlers (service thread) -------------------------------------------------------

void ozr_handle_duplication(const char*, const char*, void*, int, int) {
    OZR_ERROR(ozr_dbus_logger(), "Existing OZR detected, abandon starting another OZR! ");
}

void ozr_handle_vap_config(const char*, const char* member, void* data, int len, int) {
    forward_record(OZR_SIGNATURE, member, data, len, sizeof(ZkaAllEnabledVapCfg),
                   DBUS_MSG_VAP_CONFIG);
}

void ozr_handle_txpower_config(const char*, const char* member, void* data, int len, int) {
    forward_record(OZR_SIGNATURE, member, data, len, sizeof(ZkaRadioTxPowerCfg_T),
                   DBUS_MSG_TX_POWER_CONFIG);
}

void ozr_handle_add_extender(const char*, const char* member, void* data, int len, int) {
    forward_text(OZR_SIGNATURE, member, data, len, kMaxSnText, DBUS_MSG_ADD_EXTENDER);
}

void ozr_handle_zkec_config(const char*, const char* member, void* data, int len, int) {
    forward_text(OZR_SIGNATURE, member, data, len, kMaxJsonConfigLen, DBUS_MSG_JSON_CONFIG);
}

void ozr_handle_default_8021q(const char*, const char* member, void* data, int len, int) {
    forward_record(OZR_SIGNATURE, member, data, len, sizeof(ZkaDefault802dot1qCfg),
                   DBUS_MSG_DEFAULT_8021Q_CONFIG);
}

void ozr_handle_traffic_separation(const char*, const char* member, void* data, int len, int) {
    forward_record(OZR_SIGNATURE, member, data, len, sizeof(ZkaAllTrafficSeparationPolicyCfg),
                   DBUS_MSG_TRAFFIC_SEPARATION_POLICY);
}

void ozr_handle_auto_channel(const char*, const char* member, void* data, int len, int) {
    forward_record(OZR_SIGNATURE, member, data, len, sizeof(local_rrm_control_msg),
                   DBUS_MSG_ENABLE_AUTO_CHANNEL);
}

void ozr_handle_client_deauth(const char*, const char* member, void* data, int len, int) {
    forward_text(OZR_SIGNATURE, member, data, len, kMaxMacText, DBUS_MSG_CLIENT_DEAUTH);
}

void ozr_handle_marlow_join(const char*, const char* member, void* data, int len, int) {
    forward_record(OZR_SIGNATURE, member, data, len, sizeof(int), DBUS_MSG_MARLOW_JOIN);
}

// ---- Tables --------------------------------------------------------------------------------

namespace {
uint64_t config_size(const void* record) {
    return get_config_msg_size(static_cast<const ZkaRGConfigSync_T*>(record));
}
uint64_t topo_size(const void* block) {
    return get_topo_msg_size(static_cast<const ZkaEmNetwork_T*>(block));
}
uint64_t topo_info_size(const void* text) {
    return get_topo_info_msg_size(static_cast<const char*>(text));
}

const QbusMethodDesc kMethods[] = {
    {"configsync", _dbus_ozr_configsync_rpc, kZkaConfigSyncHeaderLen, config_size, 0, nullptr},
    {"setradiochannel", _dbus_ozr_setradiochannel_rpc, sizeof(ZkaRadioChannelCfg_T), nullptr,
     sizeof(ZkaRadioChannelCfgResult_T), nullptr},
    {"getavailablechannel", _dbus_ozr_getavailablechannel_rpc, sizeof(ZkaAvailableChannelListReq_T),
     nullptr, sizeof(ZkaAvailableChannelListRsp_T), nullptr},
    {"removeextender", _dbus_ozr_removeextender_rpc, sizeof(ZkaExtenderData_T), nullptr, 0,
     nullptr},
    {"getextenderinfo", _dbus_ozr_getextenderinfo_rpc, sizeof(ZkaExtenderData_T), nullptr,
     sizeof(ZkaExtenderInfoList_T), nullptr},
    {"debug", _dbus_ozr_debug_rpc, sizeof(ZkaDebugReq_T), nullptr, sizeof(ZkaDebugRsp_T), nullptr},
    {"setsteeringthreshold", _dbus_ozr_setsteeringthreshold_rpc,
     sizeof(ZkaSteeringThresholdConfig_T), nullptr, 0, nullptr},
    {"getmeshtopology", _dbus_ozr_getmeshtopology_rpc, kZkaTopologyRequestLen, nullptr, 0,
     topo_size},
    {"getmeshtopologyinfo", _dbus_ozr_getmeshtopologyinfo_rpc, kZkaTopologyRequestLen, nullptr, 0,
     topo_info_size},
};

void ozr_generic_method(const char* member) {
    OZR_DEBUG(ozr_dbus_logger(), "{} method {} called", OZR_SIGNATURE, member);
}

QbusInterestedSignal make_signal(const char* interface, const char* member,
                                 QbusSignalHandler handler, int index, const char* signature) {
    QbusInterestedSignal s{};
    std::strncpy(s.interface, interface, kQbusNameLen - 1);
    std::strncpy(s.member, member, kQbusNameLen - 1);
    s.handler = handler;
    s.index = index;
    s.signature = signature;
    return s;
}

struct SignalSpec {
    const char* rule;
    const char* interface;
    const char* member;
    QbusSignalHandler handler;
    const char* signature;
};
}  // namespace

const char* const kOzrMatchRules[kOzrMatchRuleCount] = {
    "type='signal',interface='vexal.ozr',member='ozrDuplicationSignal'",
    "type='signal',interface='vexal.kpl',member='notifyVapConfig'",
    "type='signal',interface='vexal.kpl',member='notifyTxPowerConfig'",
    "type='signal',interface='vexal.kpl',member='notifyAddExtender'",
    "type='signal',interface='vexal.kpl',member='notifyZkecConfig'",
    "type='signal',interface='vexal.kpl',member='notifyDefault8021qConfig'",
    "type='signal',interface='vexal.kpl',member='notifyTrafficSeparationPolicy'",
    "type='signal',interface='vexal.l2_agent',member='enableAutoChannel'",
    "type='signal',interface='vexal.kpl',member='notifyClientDeauth'",
    "type='signal',interface='vexal.zksld',member='notifyMarlowJoin'",
};

const char* const kOzrMethodNames[kOzrMethodCount] = {
    "configsync",           "setradiochannel", "getavailablechannel",
    "removeextender",       "getextenderinfo", "debug",
    "setsteeringthreshold", "getmeshtopology", "getmeshtopologyinfo",
};

namespace {
const SignalSpec kSignals[kOzrMatchRuleCount] = {
    {kOzrMatchRules[0], "vexal.ozr", "ozrDuplicationSignal", ozr_handle_duplication, ""},
    {kOzrMatchRules[1], "vexal.kpl", "notifyVapConfig", ozr_handle_vap_config, "ay"},
    {kOzrMatchRules[2], "vexal.kpl", "notifyTxPowerConfig", ozr_handle_txpower_config, "ay"},
    {kOzrMatchRules[3], "vexal.kpl", "notifyAddExtender", ozr_handle_add_extender, "s"},
    {kOzrMatchRules[4], "vexal.kpl", "notifyZkecConfig", ozr_handle_zkec_config, "s"},
    {kOzrMatchRules[5], "vexal.kpl", "notifyDefault8021qConfig", ozr_handle_default_8021q, "ay"},
    {kOzrMatchRules[6], "vexal.kpl", "notifyTrafficSeparationPolicy", ozr_handle_traffic_separation,
     "ay"},
    {kOzrMatchRules[7], "vexal.l2_agent", "enableAutoChannel", ozr_handle_auto_channel, "ay"},
    {kOzrMatchRules[8], "vexal.kpl", "notifyClientDeauth", ozr_handle_client_deauth, "s"},
    {kOzrMatchRules[9], "vexal.zksld", "notifyMarlowJoin", ozr_handle_marlow_join, "i"},
};

QbusServiceDesc* g_service = nullptr;  // service thread only

int register_ozrd_service() {
    int r = qbusOwnName("vexal.ozrd");
    if (r < 0) {
        qbusLogFatal("register_ozrd_service", __LINE__,
                     "failed to request bus name for ozrd service\n");
        return r;
    }
    delete g_service;
    g_service = new (std::nothrow)
        QbusServiceDesc{"vexal.ozr.application", ozr_generic_method, kMethods, kOzrMethodCount};
    if (g_service == nullptr)
        return 4;
    r = qbusRegisterService(g_service);
    if (r < 0) {
        qbusLogFatal("register_ozrd_service", __LINE__,
                     "failed to register VexalOzrApplication interface\n");
        return r;
    }
    return 0;
}
}  // namespace

int start_ozrd_service() {
    qbusSetStopFd(bridge_stop_fd());
    int r = register_ozrd_service();
    if (r != 0) {
        qbusLogFatal(__func__, __LINE__, "failed to register ozrd service\n");
        return r;
    }
    QbusInterestedSignal table[kOzrMatchRuleCount];
    for (size_t i = 0; i < kOzrMatchRuleCount; ++i) {
        const SignalSpec& s = kSignals[i];
        if (qbusAddInterestedSignal(s.rule) < 0)
            qbusLogFatal(__func__, __LINE__, "failed to add match %s\n", s.rule);
        table[i] = make_signal(s.interface, s.member, s.handler, static_cast<int>(i), s.signature);
    }
    qbusSetInteresetedSignals(table, kOzrMatchRuleCount);
    OZR_NOTICE(ozr_dbus_logger(), "{} vexal.ozrd serving on the system bus", __func__);
    r = qbusMainLoop();
    for (const char* rule : kOzrMatchRules)
        qbusRemoveMatch(rule);
    return r;
}

namespace {
void* service_thread(void*) {
    int r = start_ozrd_service();
    int released = qbusRelease();
    OZR_INFO(ozr_dbus_logger(), "ozrd service ended ({}), qbusRelease {}", r, released);
    delete g_service;
    g_service = nullptr;
    return nullptr;
}
}  // namespace

void ozr_dbus_server() {
    if (g_thread_started)
        return;
    ozr_dbus_rearm();
    if (pthread_create(&g_thread, nullptr, service_thread, nullptr) != 0) {
        OZR_CRIT(ozr_dbus_logger(), "{} failed to create the D-Bus service thread", __func__);
        std::exit(1);
    }
    g_thread_started = true;
}

void ozr_dbus_stop() {
    ozr_dbus_begin_shutdown();
    if (g_thread_started) {
        pthread_join(g_thread, nullptr);
        g_thread_started = false;
    }
}
