// Channel, bandwidth and transmit power of the whole mesh or of one extender, the channel
// service's view of every radio's Operating Channel Reports, and the product switches of
// automatic channel management.
#include <rapidjson/document.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/paths.h"
#include "configuration/configuration_minder.h"
#include "configuration/radio_bands.h"
#include "core/cmdu_registry.h"
#include "core/context.h"
#include "core/live_minders.h"
#include "core/log.h"
#include "graph/graph_minder.h"
#include "hkt/hkt_mgmt_minder.h"
#include "hkt/hkt_node.h"
#include "map/codec/tlv_types.h"
#include "map/codec/tlvs.h"
#include "map/datamodel/datamodel.h"
#include "map/map_config.h"
#include "map/map_send.h"
#include "messages/tlv_walk.h"
#include "nal/ics.h"

namespace {

constexpr const char* kProductCfg = "/tmp/zkf-product-cfg.json";
constexpr const char* kLocalRrmCfg = "/tmp/local-rrm-ctl.json";
constexpr size_t kProductFileMax = 64 * 1024;

HktMgmtMinder* hkt() {
    Context* c = Context::instance();
    return c ? c->hkt_mgmt_minder : nullptr;
}

bool is_local_agent(const MAC& al_mac) {
    Context* c = Context::instance();
    if (c && c->graph_minder)
        return c->graph_minder->is_local_map_agent(al_mac);
    const MAC& local = getMAPAgentAlMac();
    return !local.is_zero() && local == al_mac;
}

// The string member NAME of OBJ ("" when absent or not a string); EXISTS tells which.
std::string member(const rapidjson::Value& obj, const char* name, bool* exists) {
    *exists = false;
    if (!obj.IsObject())
        return "";
    auto it = obj.FindMember(name);
    if (it == obj.MemberEnd() || !it->value.IsString())
        return "";
    *exists = true;
    return std::string(it->value.GetString(), it->value.GetStringLength());
}

}  // namespace

void ConfigurationMinder::register_handlers() {
    const uint64_t gen = generation_;
    add_cmdu_handler(CMDU_TYPE_OPERATING_CHANNEL_REPORT, nullptr, [gen](CMDU* cmdu) {
        if (ConfigurationMinder* m = live_minder<ConfigurationMinder>(gen); m && cmdu)
            m->on_operating_channel_report(cmdu);
    });
    // After the graph minder's handler (constructed first), which sends an agent its own
    // metric policy on its first AP Capability Report.
    add_cmdu_handler(CMDU_TYPE_AP_CAPABILITY_REPORT, nullptr, [gen](CMDU* cmdu) {
        if (ConfigurationMinder* m = live_minder<ConfigurationMinder>(gen); m && cmdu)
            m->on_ap_capability_report(cmdu->src_al_mac);
    });
}

// ---- product switches -------------------------------------------------------------------------

void ConfigurationMinder::read_product_switches() {
    auto load = [this](const char* name, rapidjson::Document& doc) {
        const std::string path = ozr_path(name);
        std::string text;
        if (!ozr_read_file(path, text, kProductFileMax)) {
            OZR_INFO(&logger_, "failure load {}", path);
            return false;
        }
        doc.Parse(text.c_str(), text.size());
        if (doc.HasParseError() || !doc.IsObject()) {
            OZR_INFO(&logger_, "failure parser {}", path);
            return false;
        }
        OZR_INFO(&logger_, "successful load {}", path);
        return true;
    };
    rapidjson::Document product;
    if (load(kProductCfg, product)) {
        const rapidjson::Value* list = nullptr;
        auto params = product.FindMember("ProductParameters");
        if (params != product.MemberEnd() && params->value.IsObject()) {
            auto l = params->value.FindMember("ZKApplicationList");
            if (l != params->value.MemberEnd() && l->value.IsObject())
                list = &l->value;
        }
        bool has_ai = false, has_l2 = false;
        rapidjson::Value none(rapidjson::kObjectType);
        const std::string ai = member(list ? *list : none, "AIEngine", &has_ai);
        const std::string l2 = member(list ? *list : none, "L2Agent", &has_l2);
        OZR_INFO(&logger_, "product json info L2 Agent {}{}, Ai Engine {}{}",
                 has_l2 ? "exist" : "not exist", l2, has_ai ? "exist" : "not exist", ai);
        if (l2 == "yes" && ai == "no") {
            dcs_state_ = 2;
        } else if (l2 == "no" && ai == "no") {
            dcs_state_ = 2;
            auto_channel_state_ = 2;
        }
    }
    rapidjson::Document rrm;
    if (load(kLocalRrmCfg, rrm)) {
        bool has = false;
        const std::string v = member(rrm, "LocalRRMControl", &has);
        OZR_INFO(&logger_, "board json info Ai Engine {}{}", has ? "exist" : "not exist", v);
        if (v == "enable")
            auto_channel_state_ = 2;
    }
}

int ConfigurationMinder::set_auto_channel(int enable) {
    auto_channel_state_ = enable ? 2 : 1;
    OZR_INFO(&logger_, "{} enable {} auto_channel_state {}", __func__, enable, auto_channel_state_);
    return 0;
}

// ---- radios of one extender, of every extender --------------------------------------------------

int ConfigurationMinder::get_freq_band_radio_mac(std::string sn, frequent_band_type band,
                                                 uint8_t* radio_mac) {
    if (radio_mac == nullptr) {
        OZR_ERROR(&logger_, "{}:{} - input parameter point is NULL.\n", __func__, __LINE__);
        return -1;
    }
    HktMgmtMinder* h = hkt();
    const HktNode* node = h ? h->find_hkt_from_serial(sn) : nullptr;
    if (node == nullptr) {
        OZR_ERROR(&logger_, "{} Failed to find sn: {} HKT agent.\n", __func__, sn);
        return -1;
    }
    if (node->agent_mac.is_zero()) {
        OZR_ERROR(&logger_, "{}:{} - agent_mac is null.\n", __func__, __LINE__);
        return -1;
    }
    uint8_t index = 0;
    uint16_t mask = 0;
    if (transfer_ozr_freq_band(band, &index, &mask, &logger_) != 0) {
        OZR_ERROR(&logger_, "{}:{} - freq band is invalid.\n", __func__, __LINE__);
        return -1;
    }
    if (get_radio_id_mac(node->agent_mac, index, mask, radio_mac) != 0) {
        OZR_ERROR(&logger_, "{}:{} - ALE is null.\n", __func__, __LINE__);
        return -1;
    }
    return 0;
}

int ConfigurationMinder::send_channel_configuration_broadcast(
    frequent_band_type band, channel_selection_request_event_t* event) {
    const int height = map_get_topology_tree_height();
    map_ale_info_t* root = get_root_ale_node();
    if (height < 2 || root == nullptr || event == nullptr)
        return 0;
    HktMgmtMinder* h = hkt();
    // Deepest first, so that the extenders farthest from the gateway change before their
    // parents; the gateway's own agent (depth 1) is never among them.
    for (int depth = height; depth >= 2; --depth) {
        array_list_t* list = ktree_elements_at_depth(root, depth);
        if (list == nullptr)
            continue;
        std::vector<MAC> agents;
        while (void* obj = pop_object(list))
            agents.push_back(static_cast<map_ale_info_t*>(obj)->al_mac);
        delete_array_list(list);
        for (const MAC& a : agents) {
            if (h == nullptr || h->find_hkt_from_agent(a) == nullptr) {
                OZR_INFO(&logger_,
                         "{} Find one ale MAC: {:02x}:{:02x}:{:02x}:{:02x}:{:02x}:{:02x} is not in "
                         "the hkt list.",
                         __func__, a[0], a[1], a[2], a[3], a[4], a[5]);
                continue;
            }
            if (a.is_zero()) {
                OZR_ERROR(&logger_, "{}:{} - agent_mac is null.\n", __func__, __LINE__);
                continue;
            }
            uint8_t index = 0;
            uint16_t mask = 0;
            if (transfer_ozr_freq_band(band, &index, &mask, &logger_) != 0) {
                OZR_ERROR(&logger_, "{}:{} - freq band is invalid.\n", __func__, __LINE__);
                continue;
            }
            if (get_radio_id_mac(a, index, mask, event->radio_id) != 0) {
                OZR_ERROR(&logger_, "{}:{} - ALE is null.\n", __func__, __LINE__);
                continue;
            }
            const int rc = set_channel_selection_request_event(event);
            if (rc < 0) {
                OZR_ERROR(&logger_, "{}:{} - failed provision channel,  ret = %d.", __func__,
                          __LINE__);
                return -1;
            }
            OZR_INFO(&logger_, "{} channel {} bw {} power {} to radio {} of agent {}", __func__,
                     event->channel, event->bandwidth, event->tx_power,
                     MAC(event->radio_id).to_string(), a.to_string());
        }
    }
    return 0;
}

// ---- channel ----------------------------------------------------------------------------------

int ConfigurationMinder::set_channel_configuration(ozr_channel_configuration_t* cfg,
                                                   ozr_channel_configuration_result_t* result) {
    if (cfg == nullptr)
        return -1;
    OZR_DEBUG(&logger_, "{} sn: {} radio {} reason {}", __func__, cfg->sn,
              static_cast<int>(cfg->band), cfg->reason);
    OZR_DEBUG(&logger_, "{} ch_0 {} ch_1 {} bw {}", __func__, cfg->channel, cfg->second_channel,
              cfg->bandwidth);
    uint8_t index = 0;
    uint16_t mask = 0;
    if (transfer_ozr_freq_band(cfg->band, &index, &mask, &logger_) != 0) {
        OZR_ERROR(&logger_, "{}:{} - freq band is invalid.", __func__, __LINE__);
        return -3;
    }
    channel_selection_request_event_t event = channel_event_of(*cfg);
    auto done = [&] {
        if (result) {
            result->response = CH_SEL_ACCEPT;
            result->channel = cfg->channel;
            result->bandwidth = cfg->bandwidth;
        }
        return 0;
    };

    if (cfg->sn.empty()) {
        // The whole mesh, the gateway's own radio first (through the channel service).
        std::vector<uint8_t> record(kIcsProvisionSize);
        fill_channel_provision(*cfg, mask, record.data());
        const int prc = ics_provision(record.data(), record.size());
        if (prc < 0) {
            OZR_ERROR(&logger_, "{}:{} - failed set channel provision data, ret = %d.", __func__,
                      __LINE__);
            return -5;
        }
        if (cfg->channel == 0)
            return done();
        const uint8_t bw = translate_kpl_bw_to_map_bw(cfg->bandwidth, &logger_);
        if (ics_is_valid_radio_channel_bw(mask, cfg->channel, bw) == 0) {
            OZR_ERROR(&logger_, "{}:{} - set default channel failed. band:{}, channel:{}, bw:{}",
                      __func__, __LINE__, mask, cfg->channel, bw);
            return -1;
        }
        NalRadioChannel_T nal{};
        if (!to_nal_radio_channel(*cfg, &nal)) {
            OZR_ERROR(&logger_, "{}:{} - set_previous channel failed", __func__, __LINE__);
            return -1;
        }
        OZR_INFO(&logger_, "{}:{} - set previous channel to NAL. radio:{}, channel:{}, bw:{}",
                 __func__, __LINE__, static_cast<uint32_t>(nal.band),
                 static_cast<uint32_t>(nal.channel), static_cast<uint32_t>(nal.bw));
        nal_setPreviousChannel(&nal);
        OZR_INFO(&logger_, "{}:{} - set default channel to MAP. band:{}, channel:{}, bw:{}",
                 __func__, __LINE__, mask, cfg->channel, bw);
        ics_set_default_channel(mask, cfg->channel);
        ics_set_default_bandwidth(mask, bw);
        ics_set_default_cfg_time(mask);
        const bool additional =
            ics_is_allow_sync_the_channel_and_bandwidth_to_additional_band(mask, cfg->channel, bw);
        uint16_t dst = 0;
        if (additional) {
            dst = ics_get_mix_mesh_5g_channel_additional_dst_band();
            OZR_INFO(&logger_,
                     "{}:{} - set default channel to MAP addtional. band:{}, channel:{}, bw:{}",
                     __func__, __LINE__, dst, cfg->channel, bw);
            ics_set_default_channel(dst, cfg->channel);
            ics_set_default_bandwidth(dst, bw);
            ics_set_default_cfg_time(dst);
        }
        if (send_channel_configuration_broadcast(cfg->band, &event) < 0) {
            OZR_ERROR(&logger_, "{}:{} - failed configure channel band {} broadcast, ret = %d.",
                      __func__, __LINE__, static_cast<int>(cfg->band));
            return -10;
        }
        if (additional) {
            frequent_band_type dst_band = FREQ_BAND_2G;
            if (transfer_map_freq_band(dst, nullptr, &dst_band, &logger_) != 0) {
                OZR_ERROR(&logger_, "{}:{} - find additional dst band failed.", __func__, __LINE__);
                return -2;
            }
            channel_selection_request_event_t extra = channel_event_of(*cfg);
            if (send_channel_configuration_broadcast(dst_band, &extra) < 0) {
                OZR_ERROR(&logger_,
                          "{}:{} - failed configure additional channel band {} broadcast, ret = "
                          "%d.",
                          __func__, __LINE__, static_cast<int>(dst_band));
                return -10;
            }
        }
        return done();
    }

    // One extender.
    if (ics_provision_get_channel(mask) != 0) {
        OZR_INFO(&logger_, "{} sn: {} band {}: the mesh-wide channel is provisioned, kept",
                 __func__, cfg->sn, mask);
        return 0;
    }
    HktMgmtMinder* h = hkt();
    const HktNode* node = h ? h->find_hkt_from_serial(cfg->sn) : nullptr;
    if (node == nullptr) {
        OZR_ERROR(&logger_, "{}:{} - find hkt node failed from SN:{}.", __func__, __LINE__,
                  cfg->sn);
        return -1;
    }
    const MAC agent = node->agent_mac;
    if (get_freq_band_radio_mac(cfg->sn, cfg->band, event.radio_id) != 0) {
        OZR_ERROR(&logger_, "{}:{} - get_freq_band_radio_mac failed.", __func__, __LINE__);
        return -1;
    }
    if (is_local_agent(agent) && cfg->channel != 0 && cfg->bandwidth != 0) {
        NalRadioChannel_T nal{};
        if (!to_nal_radio_channel(*cfg, &nal)) {
            OZR_ERROR(&logger_, "{}:{} - set_previous channel failed", __func__, __LINE__);
            return -1;
        }
        const uint8_t bw = ics_translate_nal_bandwidth_to_map_bandwidth(nal.bw);
        if (ics_is_valid_radio_channel_bw(mask, cfg->channel, bw) == 0) {
            OZR_ERROR(&logger_, "{}:{} - set_previous channel failed. band:{}, channel:{}, bw:{}",
                      __func__, __LINE__, mask, cfg->channel, bw);
            return -1;
        }
        OZR_INFO(&logger_, "{}:{} - set_previous channel to NAL. radio:{}, channel:{}, bw:{}",
                 __func__, __LINE__, static_cast<uint32_t>(nal.band),
                 static_cast<uint32_t>(nal.channel), static_cast<uint32_t>(nal.bw));
        nal_setPreviousChannel(&nal);
        OZR_INFO(&logger_, "{}:{} - set_previous channel to MAP. band:{}, channel:{}, bw:{}",
                 __func__, __LINE__, mask, cfg->channel, bw);
        ics_set_default_channel(mask, cfg->channel);
        ics_set_default_bandwidth(mask, bw);
        ics_set_default_cfg_time(mask);
        if (ics_is_allow_sync_the_channel_and_bandwidth_to_additional_band(mask, cfg->channel,
                                                                           bw)) {
            const uint16_t dst = ics_get_mix_mesh_5g_channel_additional_dst_band();
            OZR_INFO(&logger_,
                     "{}:{} - set_previous channel to MAP addtional. band:{}, channel:{}, bw:{}",
                     __func__, __LINE__, dst, cfg->channel, bw);
            ics_set_default_channel(dst, cfg->channel);
            ics_set_default_bandwidth(dst, bw);
            ics_set_default_cfg_time(dst);
        }
    }
    const int rc = set_channel_selection_request_event(&event);
    if (rc != 0) {
        OZR_ERROR(&logger_, "{}:{} - set_channel_selection_request_event failed, rc is {}",
                  __func__, __LINE__, rc);
        return -1;
    }
    return done();
}

// ---- transmit power ---------------------------------------------------------------------------

int ConfigurationMinder::set_transmit_power_configuration(
    ozr_transmit_power_configuration_t* cfg, channel_selection_set_response_result* r) {
    if (cfg == nullptr)
        return -1;
    OZR_INFO(&logger_, "{} sn: {} radio {} txpower {}", __func__, cfg->sn,
             static_cast<int>(cfg->band), cfg->tx_power);
    channel_selection_request_event_t event{};
    event.tx_power = cfg->tx_power;
    if (cfg->sn.empty()) {
        uint8_t index = 0;
        uint16_t mask = 0;
        if (transfer_ozr_freq_band(cfg->band, &index, &mask, &logger_) != 0) {
            OZR_ERROR(&logger_, "{}:{} - freq band is invalid.\n", __func__, __LINE__);
            return -3;
        }
        std::vector<uint8_t> record(kIcsProvisionSize);
        fill_txpower_provision(cfg->tx_power, mask, record.data());
        if (ics_provision(record.data(), record.size()) < 0) {
            OZR_ERROR(&logger_, "{}:{} - failed set txpower provision data, ret = %d.", __func__,
                      __LINE__);
            return -5;
        }
        if (send_channel_configuration_broadcast(cfg->band, &event) < 0) {
            OZR_ERROR(&logger_, "{}:{} - failed configure txpower broadcast, ret = %d.", __func__,
                      __LINE__);
            return -10;
        }
    } else {
        if (get_freq_band_radio_mac(cfg->sn, cfg->band, event.radio_id) != 0) {
            OZR_ERROR(&logger_, "{}:{} - get_freq_band_radio_mac failed.", __func__, __LINE__);
            return -1;
        }
        const int rc = set_channel_selection_request_event(&event);
        if (rc != 0) {
            OZR_ERROR(&logger_, "{}:{} - set_channel_selection_request_event failed, rc is {}",
                      __func__, __LINE__, rc);
            return -1;
        }
    }
    if (r)
        *r = CH_SEL_ACCEPT;
    return 0;
}

// ---- available channels -----------------------------------------------------------------------

int ConfigurationMinder::get_available_channel_list(const std::string& sn, frequent_band_type band,
                                                    ZkaAvailableChannelListRsp_T* out) {
    if (out == nullptr)
        return -1;
    uint8_t radio_mac[6] = {};
    if (sn.empty()) {
        uint8_t index = 0;
        uint16_t mask = 0;
        if (transfer_ozr_freq_band(band, &index, &mask, &logger_) != 0)
            return -1;
        if (get_radio_id_mac(getMAPAgentAlMac(), index, mask, radio_mac) != 0) {
            OZR_ERROR(&logger_, "{}:{} - the gateway has no radio of band {}", __func__, __LINE__,
                      static_cast<int>(band));
            return -1;
        }
    } else if (get_freq_band_radio_mac(sn, band, radio_mac) != 0) {
        OZR_ERROR(&logger_, "{}:{} - get_freq_band_radio_mac failed.", __func__, __LINE__);
        return -1;
    }
    std::vector<ics_available_channel_t> list(kZkaMaxAvailableChannels);
    const int n =
        ics_get_available_channel(MAC(radio_mac), list.data(), static_cast<int>(list.size()));
    if (n < 0) {
        OZR_ERROR(&logger_, "{}:{} - ics_get_available_channel failed for radio {}", __func__,
                  __LINE__, MAC(radio_mac).to_string());
        return -1;
    }
    if (map_radio_info_t* radio = get_radio(MAC(radio_mac))) {
        out->current_channel = radio->current_channel;
        channel_selection_request_event_t now{};
        if (ics_get_current_channel(ics_attach_radio(radio), &now) == 0)
            out->current_bw = now.bandwidth;
    }
    out->count = static_cast<uint8_t>(n);
    for (int i = 0; i < n; ++i) {
        ZkaAvailableChannel_T& c = out->channels[i];
        c.channel = list[i].channel;
        c.op_class = list[i].op_class;
        c.state = list[i].state;
        c.bw_mask = list[i].bw_mask;
        c.preference = list[i].preference;
        c.max_eirp = list[i].max_eirp;
        c.non_occupancy_s = list[i].non_occupancy_s;
    }
    OZR_INFO(&logger_, "{} sn: {} band {}: {} channel(s), current {}", __func__, sn,
             static_cast<int>(band), n, out->current_channel);
    return 0;
}

// ---- Operating Channel Report -----------------------------------------------------------------

void ConfigurationMinder::on_operating_channel_report(CMDU* cmdu) {
    for (TlvWalk w(cmdu); w.next();) {
        if (w.type() != TLV_TYPE_OPERATING_CHANNEL_REPORT) {
            OZR_DEBUG(&logger_, "TODO TLV {} type inside CMDU", w.type());
            continue;
        }
        const auto& tlv = w.as<operating_channel_report_tlv>();
        map_radio_info_t* radio = get_radio(tlv.radio_id);
        if (radio == nullptr || radio->chan_sel_handle == nullptr)
            continue;
        void* handle = radio->chan_sel_handle;
        ics_operating_channel_report(handle, &tlv);
        if (radio->ale == nullptr || !is_local_agent(radio->ale->al_mac) ||
            !ics_is_current_channel_change(handle) || dcs_state_ != 2 || auto_channel_state_ != 2)
            continue;
        channel_selection_request_event_t event{};
        if (ics_get_current_channel(handle, &event) != 0)
            continue;
        frequent_band_type band;
        if (radio->radio_index == 0 && radio->band_mask == 0x10) {
            band = FREQ_BAND_2G;
        } else if (radio->radio_index == 1 && radio->band_mask == 0x20) {
            band = FREQ_BAND_5G_HIGH;
        } else if (radio->radio_index == 1 && radio->band_mask == 0x40) {
            band = FREQ_BAND_5G_LOW;
        } else if (radio->radio_index == 1 && radio->band_mask == 0x80) {
            band = FREQ_BAND_5G;
        } else {
            OZR_ERROR(&logger_, "{}:{} - wrong band support freq {}, freq band {}", __func__,
                      __LINE__, radio->radio_index, radio->band_mask);
            continue;
        }
        OZR_NOTICE(&logger_,
                   "{} the gateway's radio {} moved to channel {} bw {}: to every extender",
                   __func__, radio->radio_id.to_string(), event.channel, event.bandwidth);
        const int rc = send_channel_configuration_broadcast(band, &event);
        if (rc != 0)
            OZR_ERROR(&logger_, "failure broadcast channel to network {}", rc);
    }
}
