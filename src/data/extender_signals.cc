#include "data/extender_signals.h"

#include <cstdio>

#include "data/data_peers.h"
#include "messages/bus_records.h"

namespace {
// TEXT cut to at most MAX characters.
std::string at_most(const std::string& text, size_t max) {
    return text.size() > max ? text.substr(0, max) : text;
}
}  // namespace

bool raise_mesh_topology_change(DataBusPeer* bus, const MeshTopologyChange& change) {
    ZkaMeshTopologyChange_T ev{};
    zka_set_text(ev.ap_mac, at_most(change.ap_mac, 32));
    ev.status = change.status;
    zka_set_text(ev.sw_version, at_most(change.sw_version, 64));
    zka_set_text(ev.sn, at_most(change.sn, 32));
    zka_set_text(ev.model_name, at_most(change.model_name, 63));
    return bus && bus->notify("vexal.ozrd", "notifyMeshTopologyChange", &ev, sizeof ev) == 0;
}

bool raise_marlow_auth_req(DataBusPeer* bus, const ExtenderAuthRequest& request) {
    ZkaMarlowAuthReq_T ev{};
    zka_set_text(ev.mac, request.mac);
    zka_set_text(ev.sn, request.sn);
    zka_set_text(ev.model, request.model);
    zka_set_text(ev.vendor, request.vendor);
    zka_set_text(ev.product_class, request.product_class);
    char oui[9];
    std::snprintf(oui, sizeof oui, "%02x:%02x:%02x", request.oui[0], request.oui[1],
                  request.oui[2]);
    zka_set_text(ev.oui, oui);
    return bus && bus->notify("vexal.ozrd", "marlowAuthReqSignal", &ev, sizeof ev) == 0;
}
