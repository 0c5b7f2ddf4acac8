// The data minder's topology export: the packed block of the admitted extenders for the
// bus, its dump file and its text variant (layout: topology_export.h).
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "common/paths.h"
#include "core/context.h"
#include "core/log.h"
#include "data/data_minder.h"
#include "data/topology_export.h"
#include "graph/graph_minder.h"
#include "hkt/hkt_mgmt_minder.h"
#include "map/datamodel/datamodel.h"
#include "messages/bus_records.h"

namespace {

const Graph* context_graph() {
    Context* c = Context::instance();
    return c && c->graph_minder ? &c->graph_minder->graph() : nullptr;
}

// The platform's radio selector of a stack band mask (the bus's radio values are the
// stack's masks: 0x10 2.4 GHz, 0x20 and 0x40 the two halves of 5 GHz, 0x80 all of it); 0 for
// a band the bus has none for.
uint32_t zka_radio_of(uint16_t band_mask) {
    switch (band_mask) {
        case ZKA_RADIO_2G:
        case ZKA_RADIO_5G_HIGH:
        case ZKA_RADIO_5G_LOW:
        case ZKA_RADIO_5G:
            return band_mask;
        default:
            return 0;
    }
}

// One view per admitted extender, in white list order. Entries are taken by serial number:
// extenders not seen yet all carry the zero MAC and cannot be told apart by it.
std::vector<TopoApView> views_of(const std::vector<std::string>& sns,
                                 const std::map<std::string, ApInfo>& ramdb, const Graph* graph,
                                 const HktMgmtMinder* hkt) {
    std::vector<TopoApView> views;
    views.reserve(sns.size());
    for (const std::string& sn : sns) {
        auto it = ramdb.find(sn);
        if (it == ramdb.end())
            continue;
        const ApInfo& i = it->second;
        TopoApView v;
        v.info = i;
        if (graph && !i.ale_mac.is_zero())
            v.device = graph->find_device(i.ale_mac);
        if (hkt)
            v.hkt = hkt->find_hkt_from_serial(i.sn);
        views.push_back(std::move(v));
    }
    return views;
}

}  // namespace

int DataMinder::get_mesh_network_topology(ZkaEmNetwork_T** out) {
    if (!out)
        return -1;
    *out = nullptr;
    const std::vector<std::string> sns = get_white_list_aps();
    OZR_INFO(&logger_, "DataMinder::{}() - Num AP: {}", __func__, sns.size());
    if (sns.size() > 6)
        OZR_WARN(&logger_, "DataMinder::{}() - Num AP: {}", __func__, sns.size());
    TopoSource src;
    src.graph = context_graph();
    src.log = &logger_;
    src.now_ms = Context::instance() ? Context::instance()->now() : 0;
    std::vector<TopoApView> views = views_of(sns, ramdb_, src.graph, hkt());
    unsigned char* block = nullptr;
    size_t size = 0;
    if (build_mesh_topology(views, src, &block, &size) != 0) {
        // The dump file is opened (truncated) for every build; a failed one leaves it empty.
        ozr_write_file_atomic(ozr_path(kMeshTopoDumpPath), "");
        return -1;
    }
    OZR_INFO(&logger_, "DataMinder::{}()-Topology is returned at address {} of size {} ", __func__,
             static_cast<const void*>(block), size);
    print_mesh_topo_block(block, size, __func__);
    *out = reinterpret_cast<ZkaEmNetwork_T*>(block);
    return 0;
}

int DataMinder::print_mesh_topo_block(const unsigned char* block, size_t size, const char* caller) {
    std::string text =
        fmt::format("Payload: len[{}] callerinfo [{}] \n", size, caller ? caller : "");
    char stamp[64] = "";
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    if (localtime_r(&t, &tm))
        std::strftime(stamp, sizeof stamp, "%d %b %Y %H:%M:%S", &tm);
    text += fmt::format(" [ {} ]\n", stamp);
    int r = mesh_toplogy_renderer(block, size, text);
    if (r != 0)
        OZR_ERROR(&logger_, "DataMinder::{}()- Error happend in mesh_toplogy_renderer", __func__);
    OZR_DEBUG(&logger_, "DataMinder::{}() mesh topo dump:  {}", __func__, text);
    ozr_make_dirs(ozr_path("/configs/easymesh"));
    if (!ozr_write_file_atomic(ozr_path(kMeshTopoDumpPath), text)) {
        OZR_ERROR(&logger_, "DataMinder::{}() cannot write {}", __func__, kMeshTopoDumpPath);
        return -1;
    }
    return r;
}

int DataMinder::get_mesh_network_topology_info(ZkaEmNetworkInfo_T** out) {
    if (!out)
        return -1;
    *out = nullptr;
    TopoSource src;
    src.graph = context_graph();
    src.log = &logger_;
    src.now_ms = Context::instance() ? Context::instance()->now() : 0;
    std::string text =
        mesh_topology_info_text(views_of(get_white_list_aps(), ramdb_, src.graph, hkt()), src);
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (!copy) {
        OZR_ERROR(&logger_, "DataMinder::{}()- mem allocation failed for ZkaEmNetworkInfo_T",
                  __func__);
        return -1;
    }
    std::memcpy(copy, text.c_str(), text.size() + 1);
    OZR_DEBUG(&logger_, "DataMinder::{}() {}", __func__, text);
    *out = reinterpret_cast<ZkaEmNetworkInfo_T*>(copy);
    return 0;
}

void DataMinder::notify_available_channel(const MAC& al_mac, const MAC& radio_id) {
    // The record names a radio by its band alone, not by extender: it speaks of the
    // gateway's own radios.
    const map_datamodel_t* model = get_map_datamodel();
    if (!model || model->local_agent_al_mac.is_zero() || al_mac != model->local_agent_al_mac)
        return;
    const map_radio_info_t* radio = get_radio(radio_id);
    const uint32_t selector = radio ? zka_radio_of(radio->band_mask) : 0;
    if (selector == 0) {
        OZR_DEBUG(&logger_, "DataMinder::{}() radio {} has no platform band", __func__,
                  radio_id.to_string());
        return;
    }
    ZkaAvailableChannelListReq_T req{};
    zka_set_text(req.mac, MAC::zero.to_string());
    req.radio = selector;
    ZkaAvailableChannelListRsp_T list{};
    if (!bus_ || bus_->available_channel_list(&req, &list) != ZKA_OZR_SUCCESS) {
        OZR_WARN(&logger_, "DataMinder::{}() no available-channel list for radio {}", __func__,
                 radio_id.to_string());
        return;
    }
    auto it = available_channels_.find(radio_id);
    if (it != available_channels_.end() && std::memcmp(&it->second, &list, sizeof list) == 0) {
        OZR_DEBUG(&logger_, "DataMinder::{}() radio {}: available channels unchanged", __func__,
                  radio_id.to_string());
        return;
    }
    if (it == available_channels_.end() &&
        available_channels_.size() >= static_cast<size_t>(MAP_MAX_RADIOS_PER_AGENT))
        available_channels_.clear();  // radios that left the agent
    available_channels_[radio_id] = list;
    OZR_INFO(&logger_, "DataMinder::{}() radio {} (0x{:02x}): {} channel(s), current {}", __func__,
             radio_id.to_string(), selector, list.count, list.current_channel);
    if (bus_->notify("vexal.ozrd", "notifyAvailableChannel", &list, sizeof list) != 0)
        OZR_DEBUG(&logger_, "DataMinder::{}() notifyAvailableChannel not handed to the bus",
                  __func__);
}
