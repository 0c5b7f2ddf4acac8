#include "graph/graph_minder.h"

#include <uv.h>

#include <atomic>

#include "common/clock.h"
#include "core/cmdu_registry.h"
#include "core/context.h"
#include "core/live_minders.h"
#include "core/log.h"
#include "graph/path_cost.h"
#include "hkt/hkt_mgmt_minder.h"
#include "map/datamodel/datamodel.h"
#include "map/map_send.h"
#include "nal/nal.h"

const GraphMinder::TimerPeriod GraphMinder::kTimers[12] = {
    {"topo query", 60000},
    {"link metric query", 5000},
    {"beacon metric query", 30000},
    {"statistics query", 5000},
    {"vaps information query", 15000},
    {"heart beat", 30000},
    {"gc", 10000},
    {"backhaul information update", 2000},
    {"backhaul information sync", 10000},
    {"topo_change_check", 10000},
    {"unassoc_dynamic_schedule", 10000},
    {"sync_ssid_credential", 300000},
};

GraphMinder::GraphMinder(uv_loop_s* loop)
    : logger_(root_logger, "graph", "", -1),
      cost_logger_(root_logger, "cost", "", -1),
      loop_(loop),
      generation_(live_minder_join(this)) {
    int level = find_config_log_level("root.graph");
    if (level != -1) {
        logger_.set_level(level);
        nal_setLogLevel(level);
    }
    static void (GraphMinder::*const handlers[12])() = {
        &GraphMinder::on_topo_query,
        &GraphMinder::on_link_metric_query,
        &GraphMinder::send_beacon_queries,
        &GraphMinder::on_query_statistics,
        &GraphMinder::on_query_vaps_info,
        &GraphMinder::on_heart_beat,
        &GraphMinder::on_gc,
        &GraphMinder::on_backhaul_information_update,
        &GraphMinder::on_backhaul_information_sync,
        &GraphMinder::on_topo_change_check,
        &GraphMinder::on_unassoc_dynamic_schedule,
        &GraphMinder::on_ssid_sync_timer_expire,
    };
    if (loop_) {
        for (size_t i = 0; i < 12; ++i) {
            auto* work = &handlers[i];
            timers_.emplace_back(loop_, kTimers[i].name, [this, work] { (this->**work)(); });
        }
    }
    register_handlers();
}

GraphMinder::~GraphMinder() {
    live_minder_leave(generation_);
    timers_.clear();
}

void GraphMinder::register_handlers() {
    struct Entry {
        uint16_t type;
        void (GraphMinder::*fn)(CMDU*);
    };
    static const Entry entries[] = {
        {0x0006, &GraphMinder::on_link_metric_response},
        {0x8002, &GraphMinder::on_ap_caps},
        {0x800E, &GraphMinder::on_assoc_sta_link_metric_response},
        {0x8010, &GraphMinder::on_unassoc_sta_link_metric_response},
        {0x8012, &GraphMinder::on_beacon_response},
        {0x8008, &GraphMinder::on_operating_channel},
        {0x0000, &GraphMinder::on_discovery},
        {0x0003, &GraphMinder::on_topology},
        {0x0001, &GraphMinder::on_topology_notification},
        {0x800A, &GraphMinder::on_sta_capability_report},
        {0x801A, &GraphMinder::on_backhaul_steering_reponse},
        {0x800C, &GraphMinder::on_ap_metric_response},
        {0x8026, &GraphMinder::on_tunneled_message},
        {0x8033, &GraphMinder::on_failed_connection_message},
        {0x801C, &GraphMinder::on_ch_scan_report_message},
        {0x8005, &GraphMinder::on_channel_preference_report_message},
    };
    for (const Entry& e : entries) {
        const Entry* entry = &e;
        uint64_t gen = generation_;
        add_cmdu_handler(e.type, nullptr, [entry, gen](CMDU* cmdu) {
            if (GraphMinder* m = live_minder<GraphMinder>(gen); m && cmdu)
                (m->*entry->fn)(cmdu);
        });
    }
}

Err GraphMinder::init(Context& context) {
    for (size_t i = 0; i < timers_.size(); ++i)
        timers_[i].start(kTimers[i].period_ms, -1);
    // The vendor agents' answers that fill the graph.
    if (HktMgmtMinder* h = context.hkt_mgmt_minder) {
        struct Entry {
            unsigned char type;
            void (GraphMinder::*fn)(CMDU*, void*);
        };
        static const Entry entries[] = {
            {HKT_TLV_PORT_INFO_RESPONSE, &GraphMinder::on_port_info_resp},
            {HKT_TLV_INTERFACES_STATISTIC_RESPONSE, &GraphMinder::on_hkt_interfaces_statistic_resp},
            {HKT_TLV_VAPS_INFO_RESPONSE, &GraphMinder::on_hkt_vaps_info_resp},
        };
        for (const Entry& e : entries) {
            const Entry* entry = &e;
            uint64_t gen = generation_;
            h->add_tlv_handler(e.type, [entry, gen](CMDU* cmdu, void* tlv) {
                if (GraphMinder* m = live_minder<GraphMinder>(gen); m && cmdu)
                    (m->*entry->fn)(cmdu, tlv);
            });
        }
    }
    return Err(0);
}

void GraphMinder::run() {
    OZR_INFO(&logger_, "GraphMinder::{}() running", __func__);
}

Timer* GraphMinder::find_timer(const std::string& name) {
    for (Timer& t : timers_)
        if (t.name() == name)
            return &t;
    return nullptr;
}

void GraphMinder::set_log_level(int level) {
    logger_.set_level(level);
    nal_setLogLevel(level);
}

int64_t GraphMinder::now() const {
    const Context* c = Context::instance();
    return c ? c->now() : get_current_time_ms();
}

// ---- identity of the local devices -----------------------------------------------------

namespace {
// The stack's AL answers once started; before that (and in the stand-in) the data model
// that the stack initialised with both local AL MACs names them.
MAC controller_al_mac() {
    const MAC& m = getMAPControllerAlMac();
    if (!m.is_zero())
        return m;
    const map_datamodel_t* dm = get_map_datamodel();
    return dm ? dm->controller_al_mac : MAC::zero;
}
MAC agent_al_mac() {
    const MAC& m = getMAPAgentAlMac();
    if (!m.is_zero())
        return m;
    const map_datamodel_t* dm = get_map_datamodel();
    return dm ? dm->local_agent_al_mac : MAC::zero;
}
}  // namespace

bool GraphMinder::is_root(const MAC& mac) const {
    MAC c = controller_al_mac();
    return !c.is_zero() && c == mac;
}

bool GraphMinder::is_local_map_agent(const MAC& mac) const {
    MAC a = agent_al_mac();
    return !a.is_zero() && a == mac;
}

// ---- queries of other minders -------------------------------------------------------------

Device* GraphMinder::find_device(const BSSID& bssid) const {
    for (const auto& kv : graph_.nodes) {
        if (kv.second->kind() != Node::DEVICE)
            continue;
        Device* d = static_cast<Device*>(kv.second);
        if (d->find_interface(bssid) || d->find_bss_info(bssid))
            return d;
    }
    return nullptr;
}

bool GraphMinder::get_device_backhaul_information(const MAC& mac, backhaul_information& out) const {
    const Node* n = graph_.find_node(mac);
    if (!n || n->kind() != Node::DEVICE)
        return false;
    out = static_cast<const Device*>(n)->backhaul;
    return true;
}

bool GraphMinder::get_sta_backhaul_information(const MAC& mac,
                                               sta_backhaul_information& out) const {
    const Sta* s = graph_.find_sta(mac);
    if (!s)
        return false;
    out = s->backhaul;
    return true;
}

void GraphMinder::debug() {
    logger_.set_level(7);
    nal_setLogLevel(7);
    dump_topology_tree();
    update_devices_backhaul_information();
    for (const auto& kv : graph_.nodes)
        kv.second->describe(logger_, graph_);
}

void GraphMinder::on_heart_beat() {
    if (!logger_.will_log(7))
        return;
    dump_topology_tree();
    for (const auto& kv : graph_.nodes)
        kv.second->describe(logger_, graph_);
}

UnassocQueryType GraphMinder::unassoc_query_type(const MAC& sta) const {
    auto it = unassoc_schedule_.find(sta);
    return it == unassoc_schedule_.end() ? UnassocQueryType::AGENT : it->second;
}
