#include "configuration/configuration_minder.h"

#include <cctype>
#include <cstring>

#include "core/context.h"
#include "core/live_minders.h"
#include "core/log.h"
#include "core/timer.h"
#include "graph/graph_minder.h"
#include "hkt/hkt_mgmt_minder.h"
#include "map/codec/codec.h"
#include "map/codec/tlvs.h"
#include "map/map_send.h"
#include "nal/ics.h"
#include "nal/nal.h"

namespace {
// The configuration timer's period.
constexpr long long kConfigTimerMs = 10000;
}  // namespace

ConfigurationMinder::ConfigurationMinder(uv_loop_s* loop)
    : logger_(root_logger, "configuration", "", -1),
      loop_(loop),
      generation_(live_minder_join(this)) {
    int level = find_config_log_level("root.configuration");
    if (level != -1) {
        logger_.set_level(level);
        nal_setLogLevel(level);
    }
    register_handlers();
    config_timer_ = std::make_unique<Timer>(loop, "configuration", [this] { on_config_timer(); });
}

ConfigurationMinder::~ConfigurationMinder() {
    live_minder_leave(generation_);
}

void ConfigurationMinder::set_log_level(int level) {
    logger_.set_level(level);
    if (level >= 0)
        nal_setLogLevel(level);
}

Err ConfigurationMinder::init(Context& context) {
    OZR_INFO(&logger_, "{} got invoked", "ConfigurationMinder::init");
    read_product_switches();
    // The extenders' answers to the relayed configuration blobs.
    if (context.hkt_mgmt_minder)
        context.hkt_mgmt_minder->add_tlv_handler(
            HKT_TLV_CONFIG_RESPONSE, [this](CMDU* c, void* t) { on_hkt_config_resp(c, t); });
    config_timer_->start(kConfigTimerMs, -1);
    return Err(0);
}

void ConfigurationMinder::run() {
    OZR_INFO(&logger_, "{} got invoked", "ConfigurationMinder::run");
    reset_controller_topo_configuration();
    reset_policy_configuration();
    set_mesh_for_mobile_app_only(isMeshForMobileAppOnly());
}

int ConfigurationMinder::set_default_802dot1q_configuration(config_default_802dot1q_t* cfg) {
    OZR_DEBUG(&logger_, "{}: got invoked", __func__);
    if (cfg == nullptr) {
        OZR_ERROR(&logger_, "{}:{} - Input is Null", __func__, __LINE__);
        return -1;
    }
    OZR_INFO(&logger_, "{}: input value vid {}, pcp {}", __func__, cfg->vid, cfg->pcp);
    const int rc = set_default_802dot1q(cfg);
    if (rc == 0)
        policy_changed();
    return rc;
}

int ConfigurationMinder::set_traffic_separation_policy_configuration(
    cfg_traffic_separation_policy_list_t* list) {
    OZR_DEBUG(&logger_, "{} got invoked", __func__);
    if (list == nullptr) {
        OZR_ERROR(&logger_, "{}:{} - Input is Null", __func__, __LINE__);
        return -1;
    }
    for (const cfg_traffic_separation_policy_t& e : list->entries) {
        OZR_INFO(&logger_, "{}: vid {} SSID: {}", __func__, e.vid, zka_text(e.ssid));
    }
    const int rc = set_traffic_separation_policy(list);
    if (rc == 0)
        policy_changed();
    return rc;
}

bool get_hidden_string(const char* text, size_t width) {
    std::string t = zka_text(text, width);
    for (char& c : t)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return t == "1" || t == "true" || t == "yes" || t == "hidden";
}

namespace {

bool same_credentials(const map_credential_config_t& a, const map_credential_config_t* b) {
    if (b == nullptr)
        return a.count == 0;
    if (a.count != b->count)
        return false;
    for (uint8_t i = 0; i < a.count; ++i) {
        const map_vap_credential_t &x = a.creds[i], &y = b->creds[i];
        if (std::strcmp(x.ssid, y.ssid) != 0 || std::strcmp(x.network_key, y.network_key) != 0 ||
            x.auth_type != y.auth_type || x.encr_type != y.encr_type || x.rf_bands != y.rf_bands ||
            x.bss_type != y.bss_type || x.hidden != y.hidden)
            return false;
    }
    return true;
}

}  // namespace

int ConfigurationMinder::set_vap_configuration(const ZkaAllEnabledVapCfg* cfg) {
    if (cfg == nullptr) {
        OZR_ERROR(&logger_, "{}:{} - Input is Null", __func__, __LINE__);
        return -1;
    }
    if (cfg->num_vaps > kZkaMaxVaps) {
        OZR_ERROR(&logger_, "{} num_vaps {} is more than {}", __func__,
                  static_cast<uint32_t>(cfg->num_vaps), kZkaMaxVaps);
        return -1;
    }
    // Built in place and wiped on every way out: no stray copy of a key stays behind.
    map_credential_config_t creds{};
    struct Wipe {
        map_credential_config_t* c;
        ~Wipe() { map_credential_config_wipe(c); }
    } wipe{&creds};
    unsigned skipped = 0;
    for (uint32_t i = 0; i < cfg->num_vaps; ++i) {
        const ZkaVapCfg_T& v = cfg->vaps[i];
        if (v.enabled == 0) {
            ++skipped;
            continue;
        }
        const size_t ssid_len = strnlen(v.ssid, sizeof v.ssid);
        const size_t key_len = strnlen(v.key, sizeof v.key);
        if (ssid_len > kCredentialSsidMax || key_len > kCredentialKeyMax) {
            OZR_ERROR(&logger_, "{} vap {} ({}) SSID or key too long", __func__, i,
                      zka_text(v.ifname));
            return -1;
        }
        map_vap_credential_t& c = creds.creds[creds.count++];
        std::memcpy(c.ssid, v.ssid, ssid_len);
        std::memcpy(c.network_key, v.key, key_len);
        c.auth_type = v.auth_type;
        c.encr_type = v.encr_type;
        c.rf_bands = v.rf_band;
        c.bss_type = v.bss_type;
        c.hidden = get_hidden_string(v.hidden, sizeof v.hidden) ? 1 : 0;
        OZR_INFO(&logger_,
                 "{} vap {} ifname {} SSID: {} auth 0x{:04x} encr 0x{:04x} rf_band 0x{:02x} "
                 "bss_type {} hidden {} key length {}",
                 __func__, i, zka_text(v.ifname), zka_text(c.ssid), c.auth_type, c.encr_type,
                 c.rf_bands, c.bss_type, c.hidden, key_len);
    }
    if (same_credentials(creds, map_get_m2_config())) {
        OZR_INFO(&logger_, "{} {} VAP credential(s) unchanged, no autoconfig renew", __func__,
                 creds.count);
        return 0;
    }
    if (set_credential_config(&creds) != 0) {
        OZR_ERROR(&logger_, "{}:{} - set_credential_config refused the credentials", __func__,
                  __LINE__);
        return -1;
    }
    OZR_NOTICE(&logger_, "{} {} VAP credential(s) for the M2s ({} disabled skipped)", __func__,
               creds.count, skipped);
    // Every agent runs its M1/M2 exchange again, for each of its radios, and so
    // takes the new credentials (or tears down a radio no credential serves).
    OZR_INFO(&logger_, "{}: send auto config renew to {}", __func__,
             IEEE1905_MULTICAST_ADDRESS.to_string());
    if (send_autoconfig_renew(IEEE1905_MULTICAST_ADDRESS, IEEE1905_FREQ_BAND_2_4_GHZ) != 0) {
        OZR_WARN(&logger_,
                 "{} autoconfig renew not sent; agents take the credentials at their next M1",
                 __func__);
    } else if (Context* c = Context::instance(); c && c->graph_minder) {
        c->graph_minder->note_autoconfig_renew(IEEE1905_MULTICAST_ADDRESS);
    }
    return 0;
}
