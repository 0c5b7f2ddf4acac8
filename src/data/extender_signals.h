// The two signals the extender work raises on "vexal.ozrd", from plain fields.
#pragma once

#include <cstdint>
#include <string>

class DataBusPeer;

// "notifyMeshTopologyChange" (204 bytes): an extender went online or offline.
struct MeshTopologyChange {
    std::string ap_mac;  // colon-separated text, at most 32 characters
    int32_t status = 1;  // 2 online, 1 offline
    std::string sw_version;
    std::string sn;
    std::string model_name;
};
constexpr int32_t kTopologyChangeOnline = 2;
constexpr int32_t kTopologyChangeOffline = 1;

// "marlowAuthReqSignal" (234 bytes): a configured extender asks to be authorised.
struct ExtenderAuthRequest {
    std::string mac;  // its vendor agent's MAC, colon-separated
    std::string sn;
    std::string model;
    std::string vendor;
    std::string product_class;
    uint8_t oui[3] = {0, 0, 0};
};

// Each packs the record (texts cut to their fields, NUL-padded) and raises it on BUS. True
// when the signal was handed to the bus (false without one).
bool raise_mesh_topology_change(DataBusPeer* bus, const MeshTopologyChange& change);
bool raise_marlow_auth_req(DataBusPeer* bus, const ExtenderAuthRequest& request);
