#include "configuration/configuration_minder.h"

#include <cctype>
#include <cstring>

#include "core/context.h"
#include "core/log.h"
#include "hkt/hkt_mgmt_minder.h"
#include "nal/nal.h"

ConfigurationMinder::ConfigurationMinder(uv_loop_s* loop)
    : logger_(root_logger, "configuration", "", -1), loop_(loop) {
    int level = find_config_log_level("root.configuration");
    if (level != -1) {
        logger_.set_level(level);
        nal_setLogLevel(level);
    }
}

ConfigurationMinder::~ConfigurationMinder() = default;

Err ConfigurationMinder::init(Context& context) {
    // The extenders' answers to the relayed configuration blobs.
    if (context.hkt_mgmt_minder)
        context.hkt_mgmt_minder->add_tlv_handler(
            HKT_TLV_CONFIG_RESPONSE, [this](CMDU* c, void* t) { on_hkt_config_resp(c, t); });
    return Err(0);
}

void ConfigurationMinder::run() {
    OZR_INFO(&logger_, "ConfigurationMinder::{}() running", __func__);
}

int ConfigurationMinder::set_default_802dot1q_configuration(config_default_802dot1q_t* cfg) {
    OZR_DEBUG(&logger_, "{}: got invoked", __func__);
    if (cfg == nullptr) {
        OZR_ERROR(&logger_, "{}:{} - Input is Null", __func__, __LINE__);
        return -1;
    }
    OZR_INFO(&logger_, "{}: input value vid {}, pcp {}", __func__, cfg->vid, cfg->pcp);
    return set_default_802dot1q(cfg);
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
    return set_traffic_separation_policy(list);
}

int ConfigurationMinder::set_auto_channel(int enable) {
    auto_channel_state_ = enable ? 2 : 1;
    OZR_INFO(&logger_, "{} enable {} auto_channel_state {}", __func__, enable, auto_channel_state_);
    return 0;
}

bool get_hidden_string(const char* text, size_t width) {
    std::string t = zka_text(text, width);
    for (char& c : t)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return t == "1" || t == "true" || t == "yes" || t == "hidden";
}

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
    map_credential_config_t creds{};
    for (uint32_t i = 0; i < cfg->num_vaps; ++i) {
        const ZkaVapCfg_T& v = cfg->vaps[i];
        if (v.enabled == 0)
            continue;
        std::string ssid = zka_text(v.ssid);
        std::string key = zka_text(v.key);
        if (ssid.size() > kCredentialSsidMax || key.size() > kCredentialKeyMax) {
            OZR_ERROR(&logger_, "{} vap {} ({}) SSID or key too long", __func__, i,
                      zka_text(v.ifname));
            return -1;
        }
        map_vap_credential_t& c = creds.creds[creds.count++];
        std::memcpy(c.ssid, ssid.data(), ssid.size());
        std::memcpy(c.network_key, key.data(), key.size());
        c.auth_type = v.auth_type;
        c.encr_type = v.encr_type;
        c.rf_bands = v.rf_band;
        c.bss_type = v.bss_type;
        c.hidden = get_hidden_string(v.hidden, sizeof v.hidden) ? 1 : 0;
        OZR_INFO(&logger_,
                 "{} vap {} ifname {} SSID: {} auth 0x{:04x} encr 0x{:04x} bss_type {} "
                 "hidden {}",
                 __func__, i, zka_text(v.ifname), ssid, c.auth_type, c.encr_type, c.bss_type,
                 c.hidden);
    }
    int r = set_credential_config(&creds);
    if (r != 0) {
        OZR_ERROR(&logger_, "{}:{} - set_credential_config refused the credentials", __func__,
                  __LINE__);
        return -1;
    }
    return 0;
}
