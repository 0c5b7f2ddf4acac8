#include "dbus/dispatch.h"

#include <cstring>
#include <string>

#include "common/mac.h"
#include "configuration/configuration_minder.h"
#include "core/context.h"
#include "core/log.h"
#include "data/data_minder.h"
#include "dbus/bridge.h"
#include "dbus/json_config.h"
#include "dbus/ozr_dbus.h"
#include "hkt/hkt_mgmt_minder.h"
#include "map/map_config.h"
#include "steering/steering_minder.h"

namespace {
Context* ctx() {
    return Context::instance();
}

DataMinder* data_minder() {
    Context* c = ctx();
    return c ? c->data_minder : nullptr;
}

ConfigurationMinder* config_minder() {
    Context* c = ctx();
    return c ? c->config_minder : nullptr;
}

ZkaOzrRet to_ret(int r) {
    return r == 0 ? ZKA_OZR_SUCCESS : ZKA_OZR_FAILURE;
}

// The platform's radio selector as the controller's band; false for anything else.
bool radio_to_band(uint32_t radio, frequent_band_type* band) {
    switch (radio) {
        case ZKA_RADIO_2G:
            *band = FREQ_BAND_2G;
            return true;
        case ZKA_RADIO_5G:
            *band = FREQ_BAND_5G;
            return true;
        case ZKA_RADIO_5G_LOW:
            *band = FREQ_BAND_5G_LOW;
            return true;
        case ZKA_RADIO_5G_HIGH:
            *band = FREQ_BAND_5G_HIGH;
            return true;
        default:
            return false;
    }
}

bool string_to_macaddr(const std::string& text, MAC* out) {
    return MAC::parse(text, *out);
}

// The extender a request names by MAC text: the all-zero MAC names the whole mesh (empty
// serial number); any other must be an admitted extender (and online when asked).
bool resolve_extender(const char* sig, const std::string& mac_text, bool need_online,
                      std::string* sn) {
    MAC mac;
    if (string_to_macaddr(mac_text, &mac) && mac.is_zero()) {
        sn->clear();
        return true;
    }
    bool online = false;
    DataMinder* dm = data_minder();
    if (dm == nullptr || dm->get_ap_by_mac(mac_text, sn, &online) != 0) {
        OZR_ERROR(ozr_dbus_logger(), "{} Given MAC: {} not found in Data minder RAM DB", sig,
                  mac_text);
        return false;
    }
    if (need_online && !online) {
        OZR_ERROR(ozr_dbus_logger(), "{} Given MAC: {} is offline", sig, mac_text);
        return false;
    }
    return true;
}

// A text request must end inside its bytes.
bool is_text(const void* in, int in_len) {
    return in_len > 0 && static_cast<const char*>(in)[in_len - 1] == '\0';
}
}  // namespace

// ---- Methods --------------------------------------------------------------------------------

ZkaOzrRet ozr_configsync_hdlr(const ZkaRGConfigSync_T* cfg) {
    const char* sig = OZR_SIGNATURE;
    const Logger* log = ozr_dbus_logger();
    ConfigurationMinder* cm = config_minder();
    if (cfg == nullptr || cm == nullptr)
        return ZKA_OZR_FAILURE;
    std::string sn = zka_text(cfg->sn);
    auto len = static_cast<unsigned short>(cfg->len & 0xffff);
    OZR_DEBUG(log, "{} invoking set_hkt_configuration for syncing", sig);
    if (log && log->will_log(7)) {
        std::string hex;
        static const char kHex[] = "0123456789abcdef";
        for (unsigned i = 0; i < len && i < 64; ++i) {
            hex += kHex[cfg->data[i] >> 4];
            hex += kHex[cfg->data[i] & 15];
        }
        OZR_DEBUG(log, "{} sn: {} len {} data {}{}", sig, sn, len, hex, len > 64 ? "…" : "");
    }
    return to_ret(cm->set_hkt_configuration(sn, len, cfg->data));
}

ZkaOzrRet ozr_setradiochannel_rpc(const ZkaRadioChannelCfg_T* req,
                                  ZkaRadioChannelCfgResult_T* rsp) {
    const char* sig = OZR_SIGNATURE;
    const Logger* log = ozr_dbus_logger();
    ConfigurationMinder* cm = config_minder();
    if (req == nullptr || rsp == nullptr || cm == nullptr)
        return ZKA_OZR_FAILURE;
    std::string mac = zka_text(req->mac);
    uint32_t radio = req->radio;
    uint32_t bw = req->bw;
    uint32_t reason = req->reason;
    OZR_NOTICE(log, "{} MAC: {} radio {} bw {} ch {} bk_ch {} reason {}", sig, mac, radio, bw,
               req->ch, req->bk_ch, reason);
    rsp->response = -1;
    frequent_band_type band;
    if (!radio_to_band(radio, &band)) {
        OZR_ERROR(log, "{} Given radio {} not valid", sig, radio);
        return ZKA_OZR_FAILURE;
    }
    ozr_channel_configuration_t cfg;
    if (!resolve_extender(sig, mac, true, &cfg.sn))
        return ZKA_OZR_FAILURE;
    cfg.band = band;
    cfg.channel = req->ch;
    cfg.bandwidth = static_cast<uint8_t>(bw > 0xff ? 0 : bw);
    cfg.second_channel = req->bk_ch;
    cfg.reason = static_cast<uint8_t>(reason);
    ozr_channel_configuration_result_t result;
    int r = cm->set_channel_configuration(&cfg, &result);
    rsp->response = r == 0 ? result.response : -1;
    rsp->ch = r == 0 ? result.channel : 0;
    rsp->bw = r == 0 ? result.bandwidth : 0;
    int32_t response = rsp->response;
    uint32_t rsp_bw = rsp->bw;
    OZR_INFO(log, "{} MAP response {} ch {} bw {}", sig, response, rsp->ch, rsp_bw);
    return to_ret(r);
}

ZkaOzrRet ozr_getavailablechannel_rpc(const ZkaAvailableChannelListReq_T* req,
                                      ZkaAvailableChannelListRsp_T* rsp) {
    const char* sig = OZR_SIGNATURE;
    const Logger* log = ozr_dbus_logger();
    ConfigurationMinder* cm = config_minder();
    if (req == nullptr || rsp == nullptr || cm == nullptr)
        return ZKA_OZR_FAILURE;
    std::string mac = zka_text(req->mac);
    uint32_t radio = req->radio;
    OZR_INFO(log, "{} MAC: {} radio {}", sig, mac, radio);
    frequent_band_type band;
    if (!radio_to_band(radio, &band)) {
        OZR_ERROR(log, "{} Given radio {} not valid", sig, radio);
        return ZKA_OZR_FAILURE;
    }
    std::string sn;
    if (!resolve_extender(sig, mac, false, &sn))
        return ZKA_OZR_FAILURE;
    std::memset(rsp, 0, sizeof *rsp);
    rsp->radio = radio;
    int r = cm->get_available_channel_list(sn, band, rsp);
    if (rsp->count > kZkaMaxAvailableChannels)
        rsp->count = kZkaMaxAvailableChannels;
    return to_ret(r);
}

ZkaOzrRet ozr_remove_extender_hdlr(const ZkaExtenderData_T* req) {
    DataMinder* dm = data_minder();
    if (req == nullptr || dm == nullptr)
        return ZKA_OZR_FAILURE;
    return to_ret(dm->remove_extender(zka_text(req->sn)));
}

ZkaOzrRet ozr_get_extender_info_hdlr(const ZkaExtenderData_T* req, ZkaExtenderInfoList_T* rsp) {
    DataMinder* dm = data_minder();
    if (rsp == nullptr) {
        OZR_ERROR(ozr_dbus_logger(), "{} reply buffer is NULL", OZR_SIGNATURE);
        return ZKA_OZR_NO_REPLY_BUFFER;
    }
    if (req == nullptr || dm == nullptr)
        return ZKA_OZR_FAILURE;
    std::memset(rsp, 0, sizeof *rsp);
    int r = dm->get_white_list_aps_info(zka_text(req->sn), rsp);
    if (rsp->count > kZkaMaxExtenderInfo)
        rsp->count = kZkaMaxExtenderInfo;
    return to_ret(r);
}

ZkaOzrRet ozr_debug_hdlr(const ZkaDebugReq_T* req, ZkaDebugRsp_T* rsp) {
    const char* sig = OZR_SIGNATURE;
    if (req == nullptr)
        return ZKA_OZR_FAILURE;
    std::string text = zka_text(req->mac);
    MAC al_mac;
    ZkaOzrRet ret = ZKA_OZR_FAILURE;
    if (!string_to_macaddr(text, &al_mac)) {
        OZR_ERROR(ozr_dbus_logger(), "{} invalid agent MAC: {}", sig, text);
    } else {
        int r = rework_chn_sel(al_mac);
        OZR_INFO(ozr_dbus_logger(), "{} rework_chn_sel for agent {} returned {}", sig,
                 al_mac.to_string(), r);
        ret = to_ret(r);
    }
    if (rsp)
        rsp->result = ret;
    return ret;
}

ZkaOzrRet ozr_setsteeringthreshold_rpc(const ZkaSteeringThresholdConfig_T* req) {
    DataMinder* dm = data_minder();
    if (req == nullptr || dm == nullptr)
        return ZKA_OZR_FAILURE;
    return to_ret(dm->set_steering_threshold(req));
}

ZkaOzrRet ozr_get_mesh_topology(ZkaEmNetwork_T** out) {
    DataMinder* dm = data_minder();
    if (out == nullptr || dm == nullptr)
        return ZKA_OZR_FAILURE;
    return to_ret(dm->get_mesh_network_topology(out));
}

ZkaOzrRet ozr_get_mesh_topology_info(ZkaEmNetworkInfo_T** out) {
    DataMinder* dm = data_minder();
    if (out == nullptr || dm == nullptr)
        return ZKA_OZR_FAILURE;
    return to_ret(dm->get_mesh_network_topology_info(out));
}

// ---- Signals --------------------------------------------------------------------------------

void ozr_vap_cfg_hdlr(ZkaAllEnabledVapCfg* cfg) {
    ConfigurationMinder* cm = config_minder();
    if (cfg == nullptr || cm == nullptr)
        return;
    cm->set_vap_configuration(cfg);
}

void ozr_txpower_cfg_hdlr(const ZkaRadioTxPowerCfg_T* cfg) {
    const char* sig = OZR_SIGNATURE;
    ConfigurationMinder* cm = config_minder();
    if (cfg == nullptr || cm == nullptr)
        return;
    std::string mac = zka_text(cfg->mac);
    uint32_t radio = cfg->radio;
    OZR_NOTICE(ozr_dbus_logger(), "{} MAC: {} radio {} txpower {}", sig, mac, radio, cfg->txpower);
    ozr_transmit_power_configuration_t req;
    if (!radio_to_band(radio, &req.band)) {
        OZR_ERROR(ozr_dbus_logger(), "{} Given radio {} not valid", sig, radio);
        return;
    }
    if (!resolve_extender(sig, mac, true, &req.sn))
        return;
    req.tx_power = cfg->txpower;
    channel_selection_set_response_result result = CH_SEL_ACCEPT;
    cm->set_transmit_power_configuration(&req, &result);
}

void ozr_add_extender_hdlr(const char* sn) {
    DataMinder* dm = data_minder();
    if (sn == nullptr || dm == nullptr)
        return;
    dm->add_ap_white_list(sn);
}

ZkaOzrRet ozr_set_default_8021q_hdlr(const ZkaDefault802dot1qCfg* cfg) {
    ConfigurationMinder* cm = config_minder();
    if (cfg == nullptr || cm == nullptr)
        return ZKA_OZR_FAILURE;
    config_default_802dot1q_t q{};
    q.vid = cfg->vid;
    q.pcp = cfg->pcp;
    return to_ret(cm->set_default_802dot1q_configuration(&q));
}

ZkaOzrRet ozr_set_traffic_separation_policy_hdlr(const ZkaAllTrafficSeparationPolicyCfg* cfg) {
    ConfigurationMinder* cm = config_minder();
    if (cfg == nullptr || cm == nullptr)
        return ZKA_OZR_FAILURE;
    uint16_t num = cfg->num_entries;
    if (num > kZkaMaxTrafficSeparation) {
        OZR_ERROR(ozr_dbus_logger(), "{} num_entries {} is more than {}", OZR_SIGNATURE, num,
                  kZkaMaxTrafficSeparation);
        return ZKA_OZR_FAILURE;
    }
    cfg_traffic_separation_policy_list_t list{};
    for (uint16_t i = 0; i < num; ++i) {
        list.entries[i].vid = cfg->entries[i].vid;
        std::memcpy(list.entries[i].ssid, cfg->entries[i].ssid, sizeof list.entries[i].ssid);
    }
    return to_ret(cm->set_traffic_separation_policy_configuration(&list));
}

ZkaOzrRet ozr_set_auto_channel_hdlr(const local_rrm_control_msg* msg) {
    ConfigurationMinder* cm = config_minder();
    if (msg == nullptr || cm == nullptr)
        return ZKA_OZR_FAILURE;
    return to_ret(cm->set_auto_channel(msg->enable));
}

ZkaOzrRet ozr_kick_out_client_hdlr(const char* text) {
    Context* c = ctx();
    if (text == nullptr || c == nullptr || c->steering_minder == nullptr)
        return ZKA_OZR_FAILURE;
    MAC sta;
    if (!string_to_macaddr(text, &sta)) {
        OZR_ERROR(ozr_dbus_logger(), "{} invalid client MAC: {}", OZR_SIGNATURE, text);
        return ZKA_OZR_FAILURE;
    }
    return to_ret(c->steering_minder->kick_out(sta));
}

ZkaOzrRet ozr_notify_marlow_join_hdlr(const int* state) {
    Context* c = ctx();
    if (state == nullptr || c == nullptr || c->hkt_mgmt_minder == nullptr)
        return ZKA_OZR_FAILURE;
    return to_ret(c->hkt_mgmt_minder->handle_marlow_join(state));
}

// ---- The dispatcher ------------------------------------------------------------------------

namespace {
struct Route {
    DbusMsgType type;
    bool method;
    int min_in_len;  // the request must hold at least this many bytes (-1: a text)
    const char* what;
};

const Route kRoutes[] = {
    {DBUS_MSG_VAP_CONFIG, false, sizeof(ZkaAllEnabledVapCfg), "OZR VAP CFG signal"},
    {DBUS_MSG_CONFIG_SYNC, true, kZkaConfigSyncHeaderLen, "OZR config sync"},
    {DBUS_MSG_SET_RADIO_CHANNEL, true, sizeof(ZkaRadioChannelCfg_T), "OZR Radio Channel Set"},
    {DBUS_MSG_TX_POWER_CONFIG, false, sizeof(ZkaRadioTxPowerCfg_T), "OZR Tx Power CFG signal"},
    {DBUS_MSG_ADD_EXTENDER, false, -1, "OZR Add Extender signal"},
    {DBUS_MSG_REMOVE_EXTENDER, true, sizeof(ZkaExtenderData_T), "OZR Remove Extender"},
    {DBUS_MSG_GET_EXTENDER_INFO, true, sizeof(ZkaExtenderData_T), "OZR Get Extender Info"},
    {DBUS_MSG_DEBUG, true, sizeof(ZkaDebugReq_T), "OZR Debug"},
    {DBUS_MSG_GET_AVAILABLE_CHANNEL, true, sizeof(ZkaAvailableChannelListReq_T),
     "OZR Get Available Channel"},
    {DBUS_MSG_SET_STEERING_THRESHOLD, true, sizeof(ZkaSteeringThresholdConfig_T),
     "OZR Set Steering Threshold"},
    {DBUS_MSG_GET_MESH_TOPOLOGY, true, sizeof(void*), "OZR Get mesh topology"},
    {DBUS_MSG_DEFAULT_8021Q_CONFIG, false, sizeof(ZkaDefault802dot1qCfg),
     "OZR Default 8021q CFG signal"},
    {DBUS_MSG_TRAFFIC_SEPARATION_POLICY, false, sizeof(ZkaAllTrafficSeparationPolicyCfg),
     "OZR Traffic Separation Policy signal"},
    {DBUS_MSG_JSON_CONFIG, false, -1, "OZR JSON config signal"},
    {DBUS_MSG_ENABLE_AUTO_CHANNEL, false, sizeof(local_rrm_control_msg), "OZR Auto Channel signal"},
    {DBUS_MSG_GET_MESH_TOPOLOGY_INFO, true, sizeof(void*), "OZR Get mesh topology info"},
    {DBUS_MSG_CLIENT_DEAUTH, false, -1, "OZR Client Deauth signal"},
    {DBUS_MSG_MARLOW_JOIN, false, sizeof(int), "OZR Marlow Join signal"},
};

const Route* find_route(DbusMsgType type) {
    for (const Route& r : kRoutes)
        if (r.type == type)
            return &r;
    return nullptr;
}

ZkaOzrRet run_method(DbusMsgType type, void* in, int in_len, void* out) {
    switch (type) {
        case DBUS_MSG_CONFIG_SYNC: {
            auto* cfg = static_cast<const ZkaRGConfigSync_T*>(in);
            if (static_cast<uint64_t>(in_len) < get_config_msg_size(cfg)) {
                OZR_ERROR(ozr_dbus_logger(), "{} configsync of {} bytes, its length says {}",
                          OZR_SIGNATURE, in_len, get_config_msg_size(cfg));
                return ZKA_OZR_FAILURE;
            }
            return ozr_configsync_hdlr(cfg);
        }
        case DBUS_MSG_SET_RADIO_CHANNEL:
            return ozr_setradiochannel_rpc(static_cast<const ZkaRadioChannelCfg_T*>(in),
                                           static_cast<ZkaRadioChannelCfgResult_T*>(out));
        case DBUS_MSG_GET_AVAILABLE_CHANNEL:
            return ozr_getavailablechannel_rpc(static_cast<const ZkaAvailableChannelListReq_T*>(in),
                                               static_cast<ZkaAvailableChannelListRsp_T*>(out));
        case DBUS_MSG_REMOVE_EXTENDER:
            return ozr_remove_extender_hdlr(static_cast<const ZkaExtenderData_T*>(in));
        case DBUS_MSG_GET_EXTENDER_INFO:
            return ozr_get_extender_info_hdlr(static_cast<const ZkaExtenderData_T*>(in),
                                              static_cast<ZkaExtenderInfoList_T*>(out));
        case DBUS_MSG_DEBUG:
            return ozr_debug_hdlr(static_cast<const ZkaDebugReq_T*>(in),
                                  static_cast<ZkaDebugRsp_T*>(out));
        case DBUS_MSG_SET_STEERING_THRESHOLD:
            return ozr_setsteeringthreshold_rpc(
                static_cast<const ZkaSteeringThresholdConfig_T*>(in));
        case DBUS_MSG_GET_MESH_TOPOLOGY:
            return ozr_get_mesh_topology(static_cast<ZkaEmNetwork_T**>(in));
        case DBUS_MSG_GET_MESH_TOPOLOGY_INFO:
            return ozr_get_mesh_topology_info(static_cast<ZkaEmNetworkInfo_T**>(in));
        default:
            return ZKA_OZR_FAILURE;
    }
}

void run_signal(DbusMsgType type, void* in) {
    switch (type) {
        case DBUS_MSG_VAP_CONFIG:
            ozr_vap_cfg_hdlr(static_cast<ZkaAllEnabledVapCfg*>(in));
            break;
        case DBUS_MSG_TX_POWER_CONFIG:
            ozr_txpower_cfg_hdlr(static_cast<const ZkaRadioTxPowerCfg_T*>(in));
            break;
        case DBUS_MSG_ADD_EXTENDER:
            ozr_add_extender_hdlr(static_cast<const char*>(in));
            break;
        case DBUS_MSG_DEFAULT_8021Q_CONFIG:
            ozr_set_default_8021q_hdlr(static_cast<const ZkaDefault802dot1qCfg*>(in));
            break;
        case DBUS_MSG_TRAFFIC_SEPARATION_POLICY:
            ozr_set_traffic_separation_policy_hdlr(
                static_cast<const ZkaAllTrafficSeparationPolicyCfg*>(in));
            break;
        case DBUS_MSG_JSON_CONFIG:
            ozr_handle_json_config(static_cast<const char*>(in));
            break;
        case DBUS_MSG_ENABLE_AUTO_CHANNEL:
            ozr_set_auto_channel_hdlr(static_cast<const local_rrm_control_msg*>(in));
            break;
        case DBUS_MSG_CLIENT_DEAUTH:
            ozr_kick_out_client_hdlr(static_cast<const char*>(in));
            break;
        case DBUS_MSG_MARLOW_JOIN:
            ozr_notify_marlow_join_hdlr(static_cast<const int*>(in));
            break;
        default:
            break;
    }
}
}  // namespace

void ozr_dbus_cb_hdlr(void* in, int in_len, void* out, int /*out_len*/, void* rpc_sock,
                      DbusMsgType type) {
    const char* sig = OZR_SIGNATURE;
    const Logger* log = ozr_dbus_logger();
    auto* rpc = static_cast<RpcSockHdlr*>(rpc_sock);
    const Route* route = find_route(type);
    if (route == nullptr) {
        OZR_ERROR(log, "{} invalid msg type {}", sig, static_cast<int>(type));
        if (rpc)
            rpc->write_client_sock(ZKA_OZR_FAILURE);  // never leave a caller waiting
        return;
    }
    OZR_DEBUG(log, "{} {} hdlr invoked {}", sig, route->what, static_cast<int>(type));
    if (route->method && rpc == nullptr) {
        OZR_ERROR(log, "{} sock is NULL", sig);
        return;
    }
    ZkaOzrRet result = ZKA_OZR_FAILURE;
    if (in == nullptr) {
        OZR_ERROR(log, "{} in_msg is NULL", sig);
    } else if (route->min_in_len < 0 ? !is_text(in, in_len) : in_len < route->min_in_len) {
        OZR_ERROR(log, "{} {} request of {} bytes refused", sig, route->what, in_len);
    } else if (route->method) {
        result = run_method(type, in, in_len, out);
    } else {
        run_signal(type, in);
    }
    if (route->method)
        rpc->write_client_sock(result);
}
