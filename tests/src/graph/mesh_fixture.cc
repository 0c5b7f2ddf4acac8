#include "mesh_fixture.h"

namespace graph_test {

LocalInterface wifi_if(const MAC& m, const BSSID& bssid, uint8_t role) {
    return {m, 0x0105, Ieee80211Info{bssid, role, 0, 0, 0}, {}, 0, 0, {}, {}, {}};
}

LocalInterface eth_if(const MAC& m) {
    return {m, 0x0001, {}, {}, 0, 0, {}, {}, {}};
}

Device* add_device(Graph& g, const std::string& name, const MAC& al, int64_t now) {
    Device* d = new Device(name, al, now);
    g.add_node(d);
    return d;
}

Sta* add_sta(Graph& g, const MAC& m, int64_t now) {
    Sta* s = new Sta("", m, now);
    g.add_node(s);
    return s;
}

WiredLink* add_wired(Device* from, const MAC& to, int64_t now) {
    WiredLink* l = new WiredLink(to, now);
    l->medium = Medium::ETHERNET;
    from->add_link(l);
    return l;
}

WirelessLink* add_wireless(Device* from, const MAC& to, const BSSID& bssid, uint8_t rcpi,
                           Medium medium, int64_t now) {
    WirelessLink* l = new WirelessLink(to, bssid, now);
    l->rcpi = rcpi;
    l->medium = medium;
    from->add_link(l);
    return l;
}

UnassociatedLink* add_unassoc(Device* from, const MAC& to, const BSSID& bssid, uint8_t rcpi,
                              int64_t measured_ms, Medium medium) {
    UnassociatedLink* l = new UnassociatedLink(to, bssid, measured_ms);
    l->rcpi = rcpi;
    l->measured_ms = measured_ms;
    l->medium = medium;
    from->add_link(l);
    return l;
}

ScriptedMesh::ScriptedMesh() {
    root = add_device(g, "Root", mac(0, 1));
    g.root = root;
    local = add_device(g, "Local_agent", mac(0, 2));
    g.local_agent = local;
    b1 = add_device(g, "B1", mac(1, 1));
    b2 = add_device(g, "B2", mac(2, 1));
    // B2's backhaul STA interface; B1's backhaul BSS.
    b2->interfaces = {eth_if(mac(2, 1)), wifi_if(mac(2, 9), BSSID(mac(1, 8)), 0x4)};
    b1->interfaces = {eth_if(mac(1, 1)), wifi_if(mac(1, 8), BSSID(mac(1, 8)))};
    bsta = add_sta(g, mac(2, 9));
    bsta->update_backhaul_sta(true, b2->mac);
    bsta->bsta_medium = Medium::WIFI_5G_HIGH;
    c1 = add_sta(g, mac(9, 1));
    c2 = add_sta(g, mac(9, 2));

    add_wired(root, local->mac)->zero_cost = true;
    add_wired(local, root->mac)->zero_cost = true;
    add_wired(local, b1->mac);
    add_wired(b1, local->mac);
    bh = add_wireless(b1, bsta->mac, BSSID(mac(1, 8)), 150, Medium::WIFI_5G_HIGH);
    bh->is_backbone = true;
    add_wireless(root, c1->mac, BSSID(mac(0, 8)), 200);
    add_wireless(b2, c2->mac, BSSID(mac(2, 8)), 120);
}

}  // namespace graph_test
