// The records that cross the control bus: method requests and replies, the payloads of
// the platform signals the daemon acts on, and the payloads of the signals it raises. The
// minders' operations for the bus take and fill them, and src/dbus, above the minders,
// carries them; so they sit here, below both, with the sizes of the variable-length ones.
//
// They are fixed-size C records shared with the gateway's platform software: packed (no
// padding but the explicit "reserved"/"pad" bytes), native byte order, text fields
// NUL-terminated and NUL-padded within their width, MAC addresses as colon-separated hex
// text where the field is text ("aa:bb:cc:dd:ee:ff") and as 6 raw bytes where it is not.
// Their sizes are part of the contract; the asserts below keep them.
//
// Everything read from the bus is hostile: readers bound every text field by its width
// (see zka_text) and check every count against its array.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// ---- Result codes and message types ---------------------------------------------------

// Result of the loop-side handlers, returned to the bus caller as the method's "i".
enum ZkaOzrRet : int32_t {
    ZKA_OZR_SUCCESS = 0,
    ZKA_OZR_FAILURE = -1,
    ZKA_OZR_NO_REPLY_BUFFER = -2,  // a required reply buffer was missing
};

// Code of a message handed from the service thread to the loop. 1..20 are accepted.
enum DbusMsgType : uint8_t {
    DBUS_MSG_VAP_CONFIG = 3,                  // signal notifyVapConfig
    DBUS_MSG_CONFIG_SYNC = 4,                 // method configsync
    DBUS_MSG_SET_RADIO_CHANNEL = 5,           // method setradiochannel
    DBUS_MSG_TX_POWER_CONFIG = 6,             // signal notifyTxPowerConfig
    DBUS_MSG_ADD_EXTENDER = 7,                // signal notifyAddExtender
    DBUS_MSG_REMOVE_EXTENDER = 8,             // method removeextender
    DBUS_MSG_GET_EXTENDER_INFO = 9,           // method getextenderinfo
    DBUS_MSG_DEBUG = 10,                      // method debug
    DBUS_MSG_GET_AVAILABLE_CHANNEL = 11,      // method getavailablechannel
    DBUS_MSG_SET_STEERING_THRESHOLD = 12,     // method setsteeringthreshold
    DBUS_MSG_GET_MESH_TOPOLOGY = 13,          // method getmeshtopology
    DBUS_MSG_DEFAULT_8021Q_CONFIG = 14,       // signal notifyDefault8021qConfig
    DBUS_MSG_TRAFFIC_SEPARATION_POLICY = 15,  // signal notifyTrafficSeparationPolicy
    DBUS_MSG_JSON_CONFIG = 16,                // signal notifyZkecConfig (JSON configuration)
    DBUS_MSG_ENABLE_AUTO_CHANNEL = 17,        // signal enableAutoChannel
    DBUS_MSG_GET_MESH_TOPOLOGY_INFO = 18,     // method getmeshtopologyinfo
    DBUS_MSG_CLIENT_DEAUTH = 19,              // signal notifyClientDeauth
    DBUS_MSG_MARLOW_JOIN = 20,                // signal notifyMarlowJoin
};
constexpr uint8_t kDbusMsgTypeMin = 1;
constexpr uint8_t kDbusMsgTypeMax = 20;

// ---- Field widths shared by several records ------------------------------------------
constexpr size_t kZkaMacTextLen = 36;  // MAC text field of the platform's requests
constexpr size_t kZkaSnLen = 33;       // serial number: 32 characters + NUL
constexpr size_t kZkaMacStrLen = 18;   // "aa:bb:cc:dd:ee:ff" + NUL
// Longest JSON text accepted from the bus (notifyZkecConfig).
constexpr size_t kMaxJsonConfigLen = 64 * 1024;

// Radio selector of the platform's requests (one bit per band of the stack's band mask).
enum : uint32_t {
    ZKA_RADIO_2G = 0x10,
    ZKA_RADIO_5G_HIGH = 0x20,
    ZKA_RADIO_5G_LOW = 0x40,
    ZKA_RADIO_5G = 0x80,
};

#pragma pack(push, 1)

// ---- Methods --------------------------------------------------------------------------

// configsync request: an HKT configuration blob for one extender (empty sn: every
// extender). The record is the 72-byte header followed by LEN bytes of data; the bus
// request must be exactly 72 + len bytes.
struct ZkaRGConfigSync_T {
    uint8_t lead[33];  //  0: not read by the daemon
    char sn[35];       // 33: serial number, NUL-terminated
    uint32_t len;      // 68: bytes of data that follow (only the low 16 bits are passed on)
    uint8_t data[];    // 72: the HKT configuration payload
};
constexpr size_t kZkaConfigSyncHeaderLen = 72;

// setradiochannel request.
struct ZkaRadioChannelCfg_T {
    char mac[kZkaMacTextLen];  //  0: target extender; "00:00:00:00:00:00" = the whole mesh
    uint32_t radio;            // 36: ZKA_RADIO_* (one of 0x10, 0x20, 0x40, 0x80)
    uint8_t ch;                // 40: primary channel (0: provision only)
    uint8_t bk_ch;             // 41: backup (second) channel
    uint8_t pad[2];            // 42
    uint32_t bw;               // 44: bandwidth code 1..5 (20, 40, 80, 160, 320 MHz)
    uint32_t reason;           // 48: why the platform asks (logged)
};

// setradiochannel reply.
struct ZkaRadioChannelCfgResult_T {
    int32_t response;  // 0: result of the stack's channel selection (0 accepted)
    uint8_t ch;        // 4: channel in effect
    uint8_t pad[3];    // 5
    uint32_t bw;       // 8: bandwidth code in effect
};

// getavailablechannel request.
struct ZkaAvailableChannelListReq_T {
    char mac[kZkaMacTextLen];  //  0: extender; "00:00:00:00:00:00" = the gateway itself
    uint32_t radio;            // 36: ZKA_RADIO_*
};

// One channel of an available-channel list.
enum : uint8_t {
    ZKA_CHANNEL_AVAILABLE = 0,     // usable now
    ZKA_CHANNEL_CAC_REQUIRED = 1,  // DFS channel, usable after a channel availability check
    ZKA_CHANNEL_RADAR = 2,         // radar seen, in its non-occupancy period
    ZKA_CHANNEL_NOT_ALLOWED = 3,   // not operable by the radio
};
struct ZkaAvailableChannel_T {
    uint8_t channel;           // 0: 20 MHz channel number
    uint8_t op_class;          // 1: global operating class of its 20 MHz use
    uint8_t state;             // 2: ZKA_CHANNEL_*
    uint8_t bw_mask;           // 3: usable widths: bit 0 20, 1 40, 2 80, 3 160, 4 320 MHz
    uint8_t preference;        // 4: 0 (do not use) .. 15 (most preferred)
    int8_t max_eirp;           // 5: dBm
    uint16_t non_occupancy_s;  // 6: seconds left of a radar non-occupancy period
};
constexpr size_t kZkaMaxAvailableChannels = 65;

// getavailablechannel reply, and the payload of the "notifyAvailableChannel" signal.
struct ZkaAvailableChannelListRsp_T {
    uint32_t radio;                                            // 0: ZKA_RADIO_*
    uint8_t current_channel;                                   // 4: channel in use, 0 none
    uint8_t current_bw;                                        // 5: bandwidth code in use
    uint8_t count;                                             // 6: entries used
    ZkaAvailableChannel_T channels[kZkaMaxAvailableChannels];  // 7
};

// removeextender and getextenderinfo request.
struct ZkaExtenderData_T {
    char sn[kZkaSnLen];  // 0: serial number (getextenderinfo: empty = every extender)
};

// One admitted extender as getextenderinfo reports it.
struct ZkaExtenderInfo_T {
    char sn[kZkaSnLen];                  // 0: serial number
    char hostname[33];                   // 33: host name (cut to 32 characters)
    uint8_t status;                      // 66: onboarding state, ApStatus value 1..5
    uint8_t online;                      // 67: 1 online
    char ipv4[16];                       // 68: IPv4 address text
    uint8_t system_mac[6];               // 84
    uint8_t ale_mac[6];                  // 90: 1905 AL MAC
    uint8_t ap_mac[6];                   // 96
    uint8_t is_gateway;                  // 102: 1 for the gateway itself
    uint8_t is_backhaul_connected;       // 103
    char backhaul_ipv4[16];              // 104
    uint8_t backhaul_mac[6];             // 120
    uint8_t backhaul_ale_mac[6];         // 126: AL MAC of the uplink device
    int32_t backhaul_quality_value;      // 132
    char backhaul_quality_string[8];     // 136: "good" or "normal"
    int32_t cost_to_gw;                  // 144: path cost to the gateway (1000000 unreachable)
    uint32_t seconds_since_last_update;  // 148
    uint8_t reserved[12];                // 152
};
constexpr size_t kZkaMaxExtenderInfo = 16;

// getextenderinfo reply.
struct ZkaExtenderInfoList_T {
    uint8_t count;                                   // 0: entries used
    ZkaExtenderInfo_T entries[kZkaMaxExtenderInfo];  // 1
};

// setsteeringthreshold request: the thresholds whose bit is set in valid_mask are applied.
enum : uint32_t {
    ZKA_STEER_RSSI_5TO2 = 1u << 0,
    ZKA_STEER_RSSI_2TO5 = 1u << 1,
    ZKA_STEER_MSTEER_RATIO = 1u << 2,
    ZKA_STEER_MSTEER_RSSI_5G = 1u << 3,
    ZKA_STEER_MIN_SAFE_RSSI_2G = 1u << 4,
    ZKA_STEER_IDLE_THRESHOLD = 1u << 5,
    ZKA_STEER_FREE_ROAMING_THRESHOLD = 1u << 6,
};
struct ZkaSteeringThresholdConfig_T {
    uint32_t valid_mask;              //  0: ZKA_STEER_* bits
    int8_t bsteer_rssi_5to2;          //  4: dBm, band steering 5 GHz -> 2.4 GHz
    int8_t bsteer_rssi_2to5;          //  5: dBm, band steering 2.4 GHz -> 5 GHz
    uint8_t msteer_ratio;             //  6: mesh steering roaming margin, percent
    int8_t msteer_rssi_5g;            //  7: dBm, mesh steering trigger on 5 GHz
    int8_t min_safe_rssi_2g;          //  8: dBm
    uint8_t reserved0;                //  9
    uint16_t idle_threshold;          // 10: idle throughput size
    uint16_t free_roaming_threshold;  // 12
    uint16_t reserved1;               // 14
};

// debug request: a command word and an agent's AL MAC as colon-separated text. The only
// command is a channel-selection rework for that agent.
struct ZkaDebugReq_T {
    uint32_t cmd;  // 0: not interpreted
    char mac[68];  // 4: agent AL MAC text
};

// debug reply.
struct ZkaDebugRsp_T {
    int32_t result;  // 0: 0 when the rework was sent, -1 otherwise
};

// getmeshtopology / getmeshtopologyinfo: the request is 4 bytes (ignored on the bus); the
// reply is the packed topology block, respectively its NUL-terminated text form. The block
// is variable-length: a 72-byte header (AP count at byte 64), then per AP a 696-byte entry
// (radio count at 689, 16-bit Ethernet client count at 690), its radios (104 bytes, SSID
// count at 97) each followed by its SSIDs (136 bytes, 16-bit station count at 128) each
// followed by its stations (376 bytes), then the AP's Ethernet clients (44 bytes). The
// entries' other fields belong to the topology export.
struct ZkaEmNetwork_T;
struct ZkaEmNetworkInfo_T;
constexpr size_t kZkaTopologyRequestLen = 4;
constexpr size_t kZkaTopoHeaderLen = 72;
constexpr size_t kZkaTopoApCountAt = 64;
constexpr size_t kZkaTopoApLen = 696;
constexpr size_t kZkaTopoApRadioCountAt = 689;
constexpr size_t kZkaTopoApEthCountAt = 690;
constexpr size_t kZkaTopoRadioLen = 104;
constexpr size_t kZkaTopoRadioSsidCountAt = 97;
constexpr size_t kZkaTopoSsidLen = 136;
constexpr size_t kZkaTopoSsidStaCountAt = 128;
constexpr size_t kZkaTopoStaLen = 376;
constexpr size_t kZkaTopoEthLen = 44;

// ---- Platform signals the daemon acts on ----------------------------------------------

// notifyVapConfig: the gateway's enabled VAPs, whose credentials go into the controller's
// M2s. Entries past num_vaps, and entries with enabled 0, are ignored.
constexpr size_t kZkaMaxVaps = 16;
struct ZkaVapCfg_T {
    char ifname[16];     //   0: VAP interface name (logged)
    char ssid[33];       //  16: 1..32 bytes
    char key[65];        //  49: passphrase / key; empty for an open network
    uint16_t auth_type;  // 114: WSC Authentication Type bits
    uint16_t encr_type;  // 116: WSC Encryption Type bits
    uint8_t rf_band;     // 118: WSC RF band bits (0 = every band)
    uint8_t bss_type;    // 119: bit 0 fronthaul, bit 1 backhaul
    char hidden[8];      // 120: "1"/"true"/"yes" when the SSID is not broadcast
    uint8_t enabled;     // 128: 0 = skip this entry
    uint8_t reserved;    // 129
};
struct ZkaAllEnabledVapCfg {
    uint32_t num_vaps;              //  0: entries used, at most 16
    uint8_t reserved[8];            //  4
    ZkaVapCfg_T vaps[kZkaMaxVaps];  // 12
};

// notifyTxPowerConfig.
struct ZkaRadioTxPowerCfg_T {
    char mac[kZkaMacTextLen];  //  0: extender; "00:00:00:00:00:00" = the whole mesh
    uint32_t radio;            // 36: ZKA_RADIO_*
    uint8_t txpower;           // 40: dBm
    uint8_t reserved[3];       // 41
};

// notifyDefault8021qConfig.
struct ZkaDefault802dot1qCfg {
    uint16_t vid;      // 0: primary VLAN id 1..4094
    uint8_t pcp;       // 2: default priority 0..7
    uint8_t reserved;  // 3
};

// One traffic separation entry: VLAN id and the SSID it tags.
struct ZkaTrafficSeparationPolicyCfg {
    uint16_t vid;   // 0
    char ssid[34];  // 2: NUL-terminated, at most 32 bytes
};
constexpr size_t kZkaMaxTrafficSeparation = 18;

// notifyTrafficSeparationPolicy: entries past num_entries are unused.
struct ZkaAllTrafficSeparationPolicyCfg {
    uint16_t num_entries;                                             // 0: at most 18
    ZkaTrafficSeparationPolicyCfg entries[kZkaMaxTrafficSeparation];  // 2
};

// enableAutoChannel.
struct local_rrm_control_msg {
    uint8_t enable;  // 0: non-zero enables the automatic channel selection
};

// ---- Signals the daemon raises (interface "vexal.ozrd") --------------------------------

// "notifyMeshTopologyChange": an extender went online or offline.
enum : int32_t {
    ZKA_TOPO_CHANGE_OFFLINE = 1,
    ZKA_TOPO_CHANGE_ONLINE = 2,
};
struct ZkaMeshTopologyChange_T {
    char ap_mac[36];      //   0: AP MAC text, at most 32 characters
    int32_t status;       //  36: ZKA_TOPO_CHANGE_*
    char sw_version[65];  //  40: at most 64 characters
    char sn[33];          // 105: at most 32 characters
    char model_name[66];  // 138: at most 63 characters
};

// "notifyStaSteeringRequest": the controller asked an agent to move a client.
enum : uint32_t {
    STA_STEER_OTHER = 0,
    STA_STEER_BAND = 1,      // band steering on one device
    STA_STEER_MESH = 2,      // to another access point of the mesh
    STA_STEER_KICK_OUT = 3,  // away from its BSS, no target (kick_out)
};
struct StaSteeringEvent_t {
    char sta_mac[kZkaMacStrLen];     //   0: client
    char src_bssid[kZkaMacStrLen];   //  18: serving BSS
    char dst_bssid[kZkaMacStrLen];   //  36: target BSS ("ff:ff:ff:ff:ff:ff" none)
    char src_al_mac[kZkaMacStrLen];  //  54: agent serving the client
    char dst_al_mac[kZkaMacStrLen];  //  72: agent of the target BSS ("" unknown)
    uint8_t src_channel;             //  90
    uint8_t dst_channel;             //  91
    uint8_t dst_op_class;            //  92
    int8_t rssi;                     //  93: client's RSSI at the serving BSS, dBm
    uint8_t category;                //  94: steering category 1..4 (0 invalid)
    uint8_t request_mode;            //  95: request mode bits as sent in the request
    uint32_t steer_type;             //  96: STA_STEER_*
    uint16_t btm_disassoc_timer;     // 100
    uint16_t reserved0;              // 102
    int64_t timestamp_ms;            // 104: Context::now() when the request was sent
    char src_sn[kZkaSnLen];          // 112: serial number of the serving extender ("" none)
    char dst_sn[kZkaSnLen];          // 145: serial number of the target extender ("" none)
    uint8_t reserved1[30];           // 178
};

// "marlowAuthReqSignal": an extender was configured and asks to be authorised.
struct ZkaMarlowAuthReq_T {
    char mac[36];            //   0: vendor agent MAC text
    char sn[kZkaSnLen];      //  36: serial number
    char model[66];          //  69: model name
    char vendor[65];         // 135: vendor name
    char product_class[25];  // 200
    char oui[9];             // 225: "aa:bb:cc"
};

#pragma pack(pop)

// ---- Sizes and offsets -----------------------------------------------------------------
static_assert(sizeof(ZkaRGConfigSync_T) == 72, "configsync header");
static_assert(offsetof(ZkaRGConfigSync_T, sn) == 33, "configsync sn");
static_assert(offsetof(ZkaRGConfigSync_T, len) == 68, "configsync len");
static_assert(offsetof(ZkaRGConfigSync_T, data) == 72, "configsync data");

static_assert(sizeof(ZkaRadioChannelCfg_T) == 52, "setradiochannel request");
static_assert(offsetof(ZkaRadioChannelCfg_T, radio) == 36, "radio");
static_assert(offsetof(ZkaRadioChannelCfg_T, ch) == 40, "ch");
static_assert(offsetof(ZkaRadioChannelCfg_T, bk_ch) == 41, "bk_ch");
static_assert(offsetof(ZkaRadioChannelCfg_T, bw) == 44, "bw");
static_assert(offsetof(ZkaRadioChannelCfg_T, reason) == 48, "reason");

static_assert(sizeof(ZkaRadioChannelCfgResult_T) == 12, "setradiochannel reply");
static_assert(offsetof(ZkaRadioChannelCfgResult_T, ch) == 4, "ch");
static_assert(offsetof(ZkaRadioChannelCfgResult_T, bw) == 8, "bw");

static_assert(sizeof(ZkaAvailableChannelListReq_T) == 40, "getavailablechannel request");
static_assert(offsetof(ZkaAvailableChannelListReq_T, radio) == 36, "radio");
static_assert(sizeof(ZkaAvailableChannel_T) == 8, "available channel");
static_assert(sizeof(ZkaAvailableChannelListRsp_T) == 527, "getavailablechannel reply");
static_assert(offsetof(ZkaAvailableChannelListRsp_T, count) == 6, "count");
static_assert(offsetof(ZkaAvailableChannelListRsp_T, channels) == 7, "channels");

static_assert(sizeof(ZkaExtenderData_T) == 33, "extender data");
static_assert(sizeof(ZkaExtenderInfo_T) == 164, "extender info");
static_assert(offsetof(ZkaExtenderInfo_T, status) == 66, "status");
static_assert(offsetof(ZkaExtenderInfo_T, ipv4) == 68, "ipv4");
static_assert(offsetof(ZkaExtenderInfo_T, is_gateway) == 102, "is_gateway");
static_assert(offsetof(ZkaExtenderInfo_T, backhaul_ipv4) == 104, "backhaul_ipv4");
static_assert(offsetof(ZkaExtenderInfo_T, backhaul_quality_value) == 132, "quality");
static_assert(offsetof(ZkaExtenderInfo_T, cost_to_gw) == 144, "cost");
static_assert(offsetof(ZkaExtenderInfo_T, reserved) == 152, "reserved");
static_assert(sizeof(ZkaExtenderInfoList_T) == 2625, "getextenderinfo reply");

static_assert(sizeof(ZkaSteeringThresholdConfig_T) == 16, "setsteeringthreshold request");
static_assert(offsetof(ZkaSteeringThresholdConfig_T, idle_threshold) == 10, "idle");
static_assert(offsetof(ZkaSteeringThresholdConfig_T, free_roaming_threshold) == 12, "free");

static_assert(sizeof(ZkaDebugReq_T) == 72, "debug request");
static_assert(sizeof(ZkaDebugRsp_T) == 4, "debug reply");

static_assert(sizeof(ZkaVapCfg_T) == 130, "VAP entry");
static_assert(offsetof(ZkaVapCfg_T, ssid) == 16, "ssid");
static_assert(offsetof(ZkaVapCfg_T, key) == 49, "key");
static_assert(offsetof(ZkaVapCfg_T, auth_type) == 114, "auth_type");
static_assert(offsetof(ZkaVapCfg_T, hidden) == 120, "hidden");
static_assert(offsetof(ZkaVapCfg_T, enabled) == 128, "enabled");
static_assert(sizeof(ZkaAllEnabledVapCfg) == 2092, "notifyVapConfig");
static_assert(offsetof(ZkaAllEnabledVapCfg, vaps) == 12, "vaps");

static_assert(sizeof(ZkaRadioTxPowerCfg_T) == 44, "notifyTxPowerConfig");
static_assert(offsetof(ZkaRadioTxPowerCfg_T, txpower) == 40, "txpower");
static_assert(sizeof(ZkaDefault802dot1qCfg) == 4, "notifyDefault8021qConfig");
static_assert(sizeof(ZkaTrafficSeparationPolicyCfg) == 36, "traffic separation entry");
static_assert(sizeof(ZkaAllTrafficSeparationPolicyCfg) == 650, "notifyTrafficSeparationPolicy");
static_assert(offsetof(ZkaAllTrafficSeparationPolicyCfg, entries) == 2, "entries");
static_assert(sizeof(local_rrm_control_msg) == 1, "enableAutoChannel");

static_assert(sizeof(ZkaMeshTopologyChange_T) == 204, "notifyMeshTopologyChange");
static_assert(offsetof(ZkaMeshTopologyChange_T, status) == 36, "status");
static_assert(offsetof(ZkaMeshTopologyChange_T, sw_version) == 40, "sw_version");
static_assert(offsetof(ZkaMeshTopologyChange_T, sn) == 105, "sn");
static_assert(offsetof(ZkaMeshTopologyChange_T, model_name) == 138, "model_name");

static_assert(sizeof(StaSteeringEvent_t) == 208, "notifyStaSteeringRequest");
static_assert(offsetof(StaSteeringEvent_t, src_channel) == 90, "src_channel");
static_assert(offsetof(StaSteeringEvent_t, steer_type) == 96, "steer_type");
static_assert(offsetof(StaSteeringEvent_t, timestamp_ms) == 104, "timestamp_ms");
static_assert(offsetof(StaSteeringEvent_t, src_sn) == 112, "src_sn");
static_assert(offsetof(StaSteeringEvent_t, dst_sn) == 145, "dst_sn");

static_assert(sizeof(ZkaMarlowAuthReq_T) == 234, "marlowAuthReqSignal");
static_assert(offsetof(ZkaMarlowAuthReq_T, sn) == 36, "sn");
static_assert(offsetof(ZkaMarlowAuthReq_T, model) == 69, "model");
static_assert(offsetof(ZkaMarlowAuthReq_T, vendor) == 135, "vendor");
static_assert(offsetof(ZkaMarlowAuthReq_T, product_class) == 200, "product_class");
static_assert(offsetof(ZkaMarlowAuthReq_T, oui) == 225, "oui");

// ---- Text fields -----------------------------------------------------------------------

// The text of a fixed-width field: up to the first NUL, never past WIDTH bytes.
std::string zka_text(const char* field, size_t width);
template <size_t N>
std::string zka_text(const char (&field)[N]) {
    return zka_text(field, N);
}
// Writes TEXT into a fixed-width field: cut to WIDTH - 1 bytes, NUL-padded.
void zka_set_text(char* field, size_t width, const std::string& text);
template <size_t N>
void zka_set_text(char (&field)[N], const std::string& text) {
    zka_set_text(field, N, text);
}

// ---- Sizes of the variable-length records ----------------------------------------------

// 72 + the record's len field; 0 for null.
uint64_t get_config_msg_size(const ZkaRGConfigSync_T* cfg);
// Length of the text + 1; 0 for null.
size_t get_topo_info_msg_size(const char* text);
// Size of a packed topology block, walked by its counts (see above); 0 for null.
// Counts over 6 APs, 3 radios, 16 Ethernet clients, 12 SSIDs or 32 stations are reported
// to syslog at error and still counted.
size_t get_topo_msg_size(const ZkaEmNetwork_T* block);
