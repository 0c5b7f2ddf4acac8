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
#include "dbus/ozr_dbus.h"
#include "graph/graph_minder.h"
#include "hkt/hkt_mgmt_minder.h"

namespace {

const Graph* context_graph() {
    Context* c = Context::instance();
    return c && c->graph_minder ? &c->graph_minder->graph() : nullptr;
}

}  // namespace

std::vector<MAC> DataMinder::get_ap_list() const {
    std::vector<MAC> out;
    for (const std::string& sn : get_white_list_aps()) {
        auto it = ramdb_.find(sn);
        if (it == ramdb_.end())
            continue;
        out.push_back(it->second.ale_mac.is_zero() ? it->second.system_mac : it->second.ale_mac);
    }
    return out;
}

namespace {

// The RAM DB entry listed under MAC by get_ap_list.
const ApInfo* entry_for(const std::map<std::string, ApInfo>& ramdb, const MAC& mac) {
    for (const auto& kv : ramdb) {
        const ApInfo& i = kv.second;
        if ((!i.ale_mac.is_zero() && i.ale_mac == mac) ||
            (i.ale_mac.is_zero() && i.system_mac == mac))
            return &i;
    }
    return nullptr;
}

std::vector<TopoApView> views_of(const std::vector<MAC>& macs,
                                 const std::map<std::string, ApInfo>& ramdb, const Graph* graph,
                                 const HktMgmtMinder* hkt) {
    std::vector<TopoApView> views;
    views.reserve(macs.size());
    for (const MAC& m : macs) {
        const ApInfo* i = entry_for(ramdb, m);
        if (!i)
            continue;
        TopoApView v;
        v.info = *i;
        if (graph && !i->ale_mac.is_zero())
            v.device = graph->find_device(i->ale_mac);
        if (hkt)
            v.hkt = hkt->find_hkt_from_serial(i->sn);
        views.push_back(std::move(v));
    }
    return views;
}

}  // namespace

int DataMinder::get_mesh_network_topology(ZkaEmNetwork_T** out) {
    if (!out)
        return -1;
    *out = nullptr;
    std::vector<MAC> macs = get_ap_list();
    OZR_INFO(&logger_, "DataMinder::{}() - Num AP: {}", __func__, macs.size());
    if (macs.size() > 6)
        OZR_WARN(&logger_, "DataMinder::{}() - Num AP: {}", __func__, macs.size());
    TopoSource src;
    src.graph = context_graph();
    src.log = &logger_;
    src.now_ms = Context::instance() ? Context::instance()->now() : 0;
    std::vector<TopoApView> views = views_of(macs, ramdb_, src.graph, hkt());
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
        mesh_topology_info_text(views_of(get_ap_list(), ramdb_, src.graph, hkt()), src);
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
