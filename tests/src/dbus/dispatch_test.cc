// The loop side: ozr_dbus_cb_hdlr hands each bridged message to its handler, which converts
// the bus record and calls the minder; results and texts as the platform sees them. The VAP
// configuration reaches the stack's credentials; a signal raised without a bus is journalled.
#include "dbus/dispatch.h"

#include <gtest/gtest.h>
#include <uv.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/paths.h"
#include "configuration/configuration_minder.h"
#include "core/context.h"
#include "data/data_minder.h"
#include "dbus/bridge.h"
#include "dbus/json_config.h"
#include "dbus/ozr_dbus.h"
#include "map/codec/tlv_types.h"
#include "map/datamodel/datamodel.h"
#include "map/map_config.h"
#include "nal/nal.h"
#include "steering/steering_minder.h"
#include "support/temp_root.h"

using ozr_test::count_of;
using ozr_test::LogCapture;
using ozr_test::read_text;
using ozr_test::TempRoot;

namespace {
class Dispatch : public ::testing::Test {
  protected:
    void SetUp() override {
        ozr_dbus_rearm();
        map_config_reset();
        ASSERT_EQ(uv_loop_init(&loop_), 0);
        ctx_ = new Context(&loop_);
    }
    void TearDown() override {
        delete ctx_;
        uv_run(&loop_, UV_RUN_DEFAULT);
        uv_loop_close(&loop_);
        map_config_reset();
    }
    // A method as the bridge delivers it; the result its caller would get.
    template <class Req>
    int32_t method(DbusMsgType type, Req* req, void* out, int in_len = sizeof(Req)) {
        RpcSockHdlr rpc(root_logger);
        EXPECT_EQ(rpc.init_sock(), 0);
        ozr_dbus_cb_hdlr(req, in_len, out, 0, &rpc, type);
        return rpc.read_server_sock();
    }
    // A signal as the bridge delivers it.
    void signal(DbusMsgType type, const void* data, size_t len) {
        void* copy = std::malloc(len);
        std::memcpy(copy, data, len);
        ozr_dbus_cb_hdlr(copy, static_cast<int>(len), nullptr, 0, nullptr, type);
        std::free(copy);
    }
    void text_signal(DbusMsgType type, const std::string& text) {
        signal(type, text.c_str(), text.size() + 1);
    }
    size_t lines(const std::string& needle) { return count_of(log_.text(), needle); }

    TempRoot root_;
    LogCapture log_{root_, 7};
    uv_loop_t loop_;
    Context* ctx_ = nullptr;
};

std::vector<uint8_t> config_sync(const char* sn, uint32_t len, size_t data_len) {
    std::vector<uint8_t> b(kZkaConfigSyncHeaderLen + data_len, 0);
    auto* c = reinterpret_cast<ZkaRGConfigSync_T*>(b.data());
    std::strcpy(c->sn, sn);
    std::memcpy(b.data() + 68, &len, 4);
    for (size_t i = 0; i < data_len; ++i)
        b[72 + i] = static_cast<uint8_t>(i + 1);
    return b;
}
}  // namespace

TEST_F(Dispatch, ChannelRequestsCheckRadioAndExtenderThenReachTheConfigurationMinder) {
    // MAC, radio, channel, backup channel, padding, bandwidth, reason.
    ZkaRadioChannelCfg_T req{"00:00:00:00:00:00", 7, 36, 0, {}, 3, 0};
    ZkaRadioChannelCfgResult_T rsp{};
    EXPECT_EQ(method(DBUS_MSG_SET_RADIO_CHANNEL, &req, &rsp), -1);
    EXPECT_EQ(lines("Given radio 7 not valid"), 1u);
    EXPECT_EQ(rsp.response, -1);

    // The whole mesh: straight to the minder (no extender yet: the channel service only).
    req.radio = ZKA_RADIO_5G;
    req.reason = 4;
    EXPECT_EQ(method(DBUS_MSG_SET_RADIO_CHANNEL, &req, &rsp), 0);
    EXPECT_EQ(
        lines("notice root.data: ZkaOzrRet ozr_setradiochannel_rpc(const ZkaRadioChannelCfg_T*, "
              "ZkaRadioChannelCfgResult_T*) MAC: 00:00:00:00:00:00 radio 128 bw 3 ch 36 "
              "bk_ch 0 reason 4"),
        1u);
    EXPECT_EQ(lines("set default channel to MAP. band:128, channel:36, bw:3"), 1u);
    EXPECT_EQ(lines("MAP response 0 ch 36 bw 3"), 1u);

    // One extender: the data minder must know it.
    std::strcpy(req.mac, "02:00:00:00:00:07");
    EXPECT_EQ(method(DBUS_MSG_SET_RADIO_CHANNEL, &req, &rsp), -1);
    EXPECT_EQ(lines("Given MAC: 02:00:00:00:00:07 not found in Data minder RAM DB"), 1u);
    EXPECT_EQ(lines("set default channel to MAP."), 1u);

    ZkaAvailableChannelListReq_T areq{"00:00:00:00:00:00", ZKA_RADIO_5G_LOW};
    ZkaAvailableChannelListRsp_T arsp{};
    EXPECT_EQ(method(DBUS_MSG_GET_AVAILABLE_CHANNEL, &areq, &arsp), -1);
    EXPECT_EQ(lines("MAC: 00:00:00:00:00:00 radio 64"), 1u);
    EXPECT_EQ(lines("the gateway has no radio of band 2"), 1u);
    EXPECT_EQ(arsp.radio, ZKA_RADIO_5G_LOW);

    ZkaRadioTxPowerCfg_T tx{"00:00:00:00:00:00", ZKA_RADIO_2G, 17, {}};
    signal(DBUS_MSG_TX_POWER_CONFIG, &tx, sizeof tx);
    EXPECT_EQ(lines("radio 16 txpower 17"), 1u);
    EXPECT_EQ(lines("set_transmit_power_configuration sn:  radio 0 txpower 17"), 1u);

    // A request shorter than its record never reaches a handler.
    EXPECT_EQ(method(DBUS_MSG_SET_RADIO_CHANNEL, &req, &rsp, 10), -1);
    EXPECT_EQ(lines("OZR Radio Channel Set request of 10 bytes refused"), 1u);
}

TEST_F(Dispatch, ExtenderTopologyAndDebugMethods) {
    auto cs = config_sync("SN9", 3, 3);
    EXPECT_EQ(method(DBUS_MSG_CONFIG_SYNC, cs.data(), nullptr, static_cast<int>(cs.size())), -1);
    EXPECT_EQ(lines("invoking set_hkt_configuration for syncing"), 1u);
    EXPECT_EQ(lines("sn: SN9 len 3 data 010203"), 1u);
    EXPECT_EQ(lines("set_hkt_configuration sn: SN9 len 3"), 1u);
    EXPECT_EQ(lines("Failed to find sn: SN9 HKT agent."), 1u);  // no such extender
    // Only the low 16 bits of the length go on.
    auto wide = config_sync("SN9", 0x10002, 0x10002);
    EXPECT_EQ(method(DBUS_MSG_CONFIG_SYNC, wide.data(), nullptr, static_cast<int>(wide.size())),
              -1);
    EXPECT_EQ(lines("set_hkt_configuration sn: SN9 len 2"), 1u);
    // A length field larger than what arrived.
    auto lying = config_sync("SN9", 5, 1);
    EXPECT_EQ(method(DBUS_MSG_CONFIG_SYNC, lying.data(), nullptr, static_cast<int>(lying.size())),
              -1);
    EXPECT_EQ(lines("configsync of 73 bytes, its length says 77"), 1u);

    ZkaExtenderData_T ext{"sn1"};
    EXPECT_EQ(method(DBUS_MSG_REMOVE_EXTENDER, &ext, nullptr), 0);  // nothing to remove
    EXPECT_EQ(lines("remove_extender()- sn: SN1 is not on the white list"), 1u);
    ZkaExtenderInfoList_T info;
    std::memset(&info, 0xff, sizeof info);
    EXPECT_EQ(method(DBUS_MSG_GET_EXTENDER_INFO, &ext, &info), -1);
    EXPECT_EQ(info.count, 0);  // the reply is cleared before the minder fills it
    EXPECT_EQ(method(DBUS_MSG_GET_EXTENDER_INFO, &ext, nullptr), ZKA_OZR_NO_REPLY_BUFFER);

    // The thresholds the mask selects reach the steering settings; a value out of range
    // refuses the request.
    ZkaSteeringThresholdConfig_T th{};
    th.valid_mask = ZKA_STEER_RSSI_2TO5;
    th.bsteer_rssi_2to5 = -61;
    EXPECT_EQ(method(DBUS_MSG_SET_STEERING_THRESHOLD, &th, nullptr), 0);
    EXPECT_EQ(ctx_->steering_minder->bsteer_rssi.rssi_2to5, -61);
    th.bsteer_rssi_2to5 = 3;
    EXPECT_EQ(method(DBUS_MSG_SET_STEERING_THRESHOLD, &th, nullptr), -1);
    EXPECT_EQ(ctx_->steering_minder->bsteer_rssi.rssi_2to5, -61);

    // The topology methods hand back a block through the slot (nothing admitted here).
    void* slot = &th;
    EXPECT_EQ(method(DBUS_MSG_GET_MESH_TOPOLOGY, &slot, nullptr, sizeof slot), 0);
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(get_topo_msg_size(static_cast<ZkaEmNetwork_T*>(slot)), 72u);
    std::free(slot);
    slot = &th;
    EXPECT_EQ(method(DBUS_MSG_GET_MESH_TOPOLOGY_INFO, &slot, nullptr, sizeof slot), 0);
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(std::string(static_cast<char*>(slot)).rfind("{\"controller\":", 0), 0u);
    std::free(slot);
    EXPECT_EQ(lines("OZR Get mesh topology hdlr invoked 13"), 1u);

    // debug: a channel-selection rework for an agent the stack does not know.
    ZkaDebugReq_T dbg{0, "02:00:00:00:00:01"};
    ZkaDebugRsp_T drsp{};
    drsp.result = 99;
    EXPECT_EQ(method(DBUS_MSG_DEBUG, &dbg, &drsp), -1);
    EXPECT_EQ(drsp.result, -1);
    EXPECT_EQ(lines("rework_chn_sel for agent 02:00:00:00:00:01 returned -1"), 1u);
    std::strcpy(dbg.mac, "not-a-mac");
    EXPECT_EQ(method(DBUS_MSG_DEBUG, &dbg, &drsp), -1);
    EXPECT_EQ(lines("invalid agent MAC: not-a-mac"), 1u);
}

TEST_F(Dispatch, PlatformSignalsReachTheirMinder) {
    ZkaDefault802dot1qCfg q{100, 5, 0};
    signal(DBUS_MSG_DEFAULT_8021Q_CONFIG, &q, sizeof q);
    ASSERT_NE(get_default_802dot1q(), nullptr);
    EXPECT_EQ(get_default_802dot1q()->vid, 100);
    EXPECT_EQ(get_default_802dot1q()->pcp, 5);
    q.vid = 5000;  // out of range: refused
    signal(DBUS_MSG_DEFAULT_8021Q_CONFIG, &q, sizeof q);
    EXPECT_EQ(get_default_802dot1q()->vid, 100);
    EXPECT_EQ(ctx_->config_minder->set_default_802dot1q_configuration(nullptr), -1);

    // The third entry is past num_entries: unused.
    ZkaAllTrafficSeparationPolicyCfg ts{2, {{10, "home"}, {20, "guest"}, {30, "ignored"}}};
    signal(DBUS_MSG_TRAFFIC_SEPARATION_POLICY, &ts, sizeof ts);
    EXPECT_EQ(traffic_separation_used_entries(), 2u);
    EXPECT_EQ(lines("set_traffic_separation_policy_configuration: vid "), 18u);
    EXPECT_EQ(lines("vid 20 SSID: guest"), 1u);
    ts.num_entries = 19;
    signal(DBUS_MSG_TRAFFIC_SEPARATION_POLICY, &ts, sizeof ts);
    EXPECT_EQ(lines("num_entries 19 is more than 18"), 1u);
    EXPECT_EQ(traffic_separation_used_entries(), 2u);

    local_rrm_control_msg rrm{1};
    signal(DBUS_MSG_ENABLE_AUTO_CHANNEL, &rrm, sizeof rrm);
    EXPECT_EQ(ctx_->config_minder->auto_channel_state(), 2);
    rrm.enable = 0;
    signal(DBUS_MSG_ENABLE_AUTO_CHANNEL, &rrm, sizeof rrm);
    EXPECT_EQ(ctx_->config_minder->auto_channel_state(), 1);

    ZkaAllEnabledVapCfg vap{};
    vap.num_vaps = 1;
    vap.vaps[0].enabled = 1;
    vap.vaps[0].bss_type = MAP_CRED_FRONTHAUL;
    std::strcpy(vap.vaps[0].ssid, "home");
    std::strcpy(vap.vaps[0].key, "passphrase");
    signal(DBUS_MSG_VAP_CONFIG, &vap, sizeof vap);
    ASSERT_NE(map_get_m2_config(), nullptr);
    EXPECT_STREQ(map_get_m2_config()->creds[0].ssid, "home");
    EXPECT_EQ(lines("OZR VAP CFG signal hdlr invoked 3"), 1u);

    text_signal(DBUS_MSG_ADD_EXTENDER, "sn1");
    EXPECT_EQ(lines("add_ap_white_list()- converted to Upper case, sn: SN1"), 1u);
    EXPECT_NE(ctx_->data_minder->ramdb_find("SN1"), nullptr);
    text_signal(DBUS_MSG_CLIENT_DEAUTH, "bad");
    EXPECT_EQ(lines("invalid client MAC: bad"), 1u);
    text_signal(DBUS_MSG_CLIENT_DEAUTH, "02:00:00:00:00:05");
    EXPECT_EQ(lines("kick_out() sta MAC: 02:00:00:00:00:05 is not a known client"), 1u);
    int joined = 1;
    signal(DBUS_MSG_MARLOW_JOIN, &joined, sizeof joined);
    EXPECT_EQ(lines("HktMgmtMinder::handle_marlow_join() state 1"), 1u);

    // A text must end inside its bytes; a record must be whole.
    signal(DBUS_MSG_ADD_EXTENDER, "abc", 3);
    EXPECT_EQ(lines("OZR Add Extender signal request of 3 bytes refused"), 1u);
    signal(DBUS_MSG_DEFAULT_8021Q_CONFIG, &q, 3);
    EXPECT_EQ(lines("OZR Default 8021q CFG signal request of 3 bytes refused"), 1u);
    // Nothing the table does not know.
    signal(static_cast<DbusMsgType>(2), "x", 2);
    EXPECT_EQ(lines("invalid msg type 2"), 1u);
}

TEST_F(Dispatch, JsonConfigurationTexts) {
    struct Case {
        const char* text;
        const char* line;
    };
    const std::string sig = "ZkaOzrRet ozr_handle_json_config(const char*)";
    const Case cases[] = {
        {"{", " - JSON format verification failed: Missing a name for object member. (offset 1)"},
        {"[1, 2", " - JSON format verification failed: "},
        {"{}", " - ozr-config array not found: {}"},
        {"[]", " - ozr-config array not found: []"},
        {R"({"ozr-config": {"config-type": "steering"}})",
         " - ozr-config is not an array type: {\"config-type\":\"steering\"}"},
        {R"({"ozr-config": [1]})", " - Invalid attribute for ozr-config: 1"},
        {R"({"ozr-config": [{"config-type": 5}]})", " non-string value for config-type"},
        {R"({"ozr-config": [{"bsteer_en": 1}]})", " non-string value for config-type"},
        {R"({"ozr-config": [{"config-type": ""}]})", " empty value for config"},
        {R"({"ozr-config": [{"config-type": "radio"}]})", " - unknown config-type: radio"},
        {R"({"ozr-config": []})", " valid config not found, returning failure"},
    };
    for (const Case& c : cases) {
        size_t before = lines(sig + c.line);
        EXPECT_EQ(ozr_handle_json_config(c.text), ZKA_OZR_FAILURE) << c.text;
        EXPECT_EQ(lines(sig + c.line), before + 1) << c.text;
    }
    EXPECT_EQ(ozr_handle_json_config(nullptr), ZKA_OZR_FAILURE);
    EXPECT_EQ(lines(sig + " input is NULL"), 1u);
    EXPECT_EQ(lines(sig + " got invoked with json {}"), 1u);

    // Steering elements are checked whole before anything is applied: valid members that
    // come before the bad one change no setting.
    SteeringMinder* sm = ctx_->steering_minder;
    const char* valid = R"("config-type": "steering", "bsteer_en": 0, "msteer_ratio": 7, )";
    const Case refused[] = {
        {R"("bnd_prefer_5g_en": "1")", " - non-integer value for bnd_prefer_5g_en"},
        {R"("rrm_en": 1.5)", " - non-integer value for rrm_en"},
        {R"("bnd_prefer_entries": "x")", "Invalid request. \"bnd_prefer_entries\" array not found"},
        {R"("bnd_prefer_entries": ["02:00:00:00:00:01", "zz"])", "Invalid request. Bad MAC: zz"},
        {R"("bnd_prefer_entries": [5])", "Invalid request. Missing/Invalid data."},
    };
    for (const Case& c : refused) {
        const std::string text = std::string(R"({"ozr-config": [{)") + valid + c.text + "}]}";
        size_t before = lines(c.line);
        EXPECT_EQ(ozr_handle_json_config(text.c_str()), ZKA_OZR_FAILURE) << text;
        EXPECT_EQ(lines(c.line), before + 1) << text;
        EXPECT_TRUE(sm->bsteering) << text;
        EXPECT_EQ(sm->msteer_ratio, 50) << text;
        EXPECT_TRUE(sm->bnd_prefer_entries.empty()) << text;
    }

    // A well-formed element reaches the steering minder, member by member.
    sm->bsteering = false;
    EXPECT_EQ(ozr_handle_json_config(
                  R"({"ozr-config": [{"config-type": "steering", "bsteer_en": 1, "rrm_en": 0,
                      "bnd_prefer_entries": ["02:00:00:00:00:01"]}]})"),
              ZKA_OZR_SUCCESS);
    EXPECT_TRUE(ctx_->steering_minder->bsteering);
    EXPECT_FALSE(ctx_->steering_minder->rrm_en);
    ASSERT_EQ(ctx_->steering_minder->bnd_prefer_entries.size(), 1u);
    EXPECT_EQ(lines("value for bsteer_en is 1"), 1u);

    // Deep nesting is a parse error, not a stack overflow.
    std::string deep(200000, '[');
    EXPECT_EQ(ozr_handle_json_config(deep.c_str()), ZKA_OZR_FAILURE);

    // Through the bridge as the notifyZkecConfig signal.
    text_signal(DBUS_MSG_JSON_CONFIG, "{}");
    EXPECT_EQ(lines("OZR JSON config signal hdlr invoked 16"), 1u);
    EXPECT_EQ(lines(sig + " - ozr-config array not found: {}"), 2u);
}

// The platform's VAP records become the stack's credentials (the renew every agent then
// gets is followed end to end by the e2e test); a bad record changes nothing, a repeated one
// renews nothing. Keys never reach the log.
TEST_F(Dispatch, VapConfigurationBecomesTheStacksCredentials) {
    ZkaAllEnabledVapCfg cfg{};
    cfg.num_vaps = 3;
    // Interface, SSID, key, authentication, encryption, band, type, hidden, enabled.
    cfg.vaps[0] = {"", "home", "secret-passphrase", 0x20, 0x08, 0, MAP_CRED_FRONTHAUL, "false",
                   1,  0};
    cfg.vaps[1] = {"", "disabled", "", 0, 0, 0, MAP_CRED_FRONTHAUL, "", 0, 0};
    cfg.vaps[2] = {"", "home-bh", "backhaul-pass", 0, 0, 0x02, MAP_CRED_BACKHAUL, "", 1, 0};
    std::memcpy(cfg.vaps[2].hidden, "TRUEzzzz", 8);  // unterminated: read within its 8 bytes
    ConfigurationMinder& c = *ctx_->config_minder;
    EXPECT_EQ(c.set_vap_configuration(&cfg), 0);
    EXPECT_EQ(lines("key length 17"), 1u);
    const map_credential_config_t* m2 = map_get_m2_config();
    ASSERT_EQ(m2->count, 2);
    EXPECT_STREQ(m2->creds[0].ssid, "home");
    EXPECT_STREQ(m2->creds[0].network_key, "secret-passphrase");
    EXPECT_STREQ(m2->creds[1].ssid, "home-bh");
    // "TRUEzzzz" is not a hidden word.
    EXPECT_EQ(std::make_tuple(m2->creds[0].auth_type, m2->creds[0].hidden, m2->creds[1].hidden,
                              m2->creds[1].rf_bands),
              std::make_tuple(0x20, 0, 0, 0x02));
    EXPECT_TRUE(is_backhaul_bss_ssid(reinterpret_cast<const uint8_t*>("home-bh"), 7));

    // The same again: nothing to renew. A bad record changes nothing: too many VAPs, an
    // unterminated SSID, a short key.
    EXPECT_EQ(c.set_vap_configuration(&cfg), 0);
    EXPECT_EQ(lines("unchanged, no autoconfig renew"), 1u);
    ZkaAllEnabledVapCfg bad = cfg;
    bad.num_vaps = 17;
    EXPECT_EQ(c.set_vap_configuration(&bad), -1);
    bad = cfg;
    std::memset(bad.vaps[0].ssid, 'x', sizeof bad.vaps[0].ssid);
    EXPECT_EQ(c.set_vap_configuration(&bad), -1);
    bad = cfg;
    std::strcpy(bad.vaps[0].key, "short");
    EXPECT_EQ(c.set_vap_configuration(&bad), -1);
    EXPECT_EQ(c.set_vap_configuration(nullptr), -1);
    EXPECT_EQ(map_get_m2_config()->count, 2);
    EXPECT_STREQ(map_get_m2_config()->creds[0].ssid, "home");
    // A new SSID, a hidden backhaul: a second renew.
    std::strcpy(cfg.vaps[0].ssid, "home-2");
    std::strcpy(cfg.vaps[2].hidden, "Yes");
    EXPECT_EQ(c.set_vap_configuration(&cfg), 0);
    EXPECT_EQ(map_get_m2_config()->creds[1].hidden, 1);
    EXPECT_EQ(lines("secret-passphrase"), 0u);
}

TEST_F(Dispatch, SteeringRequestSignalIsJournalledWithoutABus) {
    std::string journal = root_.path("/journal.jsonl");
    ASSERT_TRUE(ozr_make_dirs(ozr_path("/configs/easymesh")));
    ozr_test::write_text(nal_platform_json_path(),
                         "{\"platform-journal-path\": \"" + journal + "\"}");
    StaSteeringEvent_t ev{};
    zka_set_text(ev.sta_mac, "02:00:00:00:00:09");
    ev.steer_type = STA_STEER_KICK_OUT;
    ctx_->data_minder->notify_sta_steering_request(ev);
    std::string text = read_text(journal);
    EXPECT_EQ(count_of(text,
                       "\"call\":\"qbusSendSignal\",\"interface\":\"vexal.ozrd\","
                       "\"member\":\"notifyStaSteeringRequest\",\"hex\":\"30323a"),
              1u);
    // 208 bytes: 416 hex digits.
    size_t at = text.find("\"hex\":\"") + 7;
    EXPECT_EQ(text.find('"', at) - at, 416u);
    EXPECT_EQ(ozr_dbus_notify("vexal.ozrd", nullptr, nullptr, 0), -1);
    EXPECT_EQ(ozr_dbus_notify("vexal.ozrd", "x", nullptr, -1), -1);
}
