// The renderers of the REST documents: each takes one record of the graph (or
// of a report the graph keeps) and writes it as one JSON object with fixed
// keys, through JSONObjectRenderer. Everything is allocated from the target
// document's pool; nothing else is allocated per request beyond short strings
// that fit in the string object itself.
//
// Keys whose source neither the graph nor the stack's data model holds are
// written as null (or 0 for counts); docs/rest.md lists them.
#pragma once

#include <rapidjson/document.h>

#include <cstdint>

#include "graph/graph.h"
#include "rest/json_writer.h"

struct map_sta_info_t;
struct map_radio_info_t;
struct map_ale_info_t;
struct map_op_class_info_t;

// A renderer writes into one object value of a document.
class JSONRenderer {
  public:
    using Allocator = rapidjson::Document::AllocatorType;
    JSONRenderer(rapidjson::Value& target, Allocator& alloc) : out_(target, alloc) {}

  protected:
    JSONObjectRenderer out_;
};

// Link medium bits of the REST documents (link_medium_to_string) for a graph
// medium: ethernet 1, 2.4 GHz 16, 5 GHz high 32, 5 GHz low 64, 5 GHz 128, else 0.
unsigned link_medium_bits(Medium m);
// RSSI in dBm of an RCPI (RCPI / 2 - 110); 0 for "no measurement" (0 or above 220).
int rcpi_to_rssi_dbm(uint8_t rcpi);
// A MAC from "aa:bb:cc:dd:ee:ff", "aa-bb-..." or the REST form "aabbccddeeff".
bool parse_rest_mac(const char* text, size_t len, MAC& out);
// Band bits of band_type_to_str for a stack band mask (2.4 GHz 16, 5 GHz high
// 32, 5 GHz low 64, whole 5 GHz 128).
unsigned stack_band_mask_to_band_bits(uint16_t band_mask);

// One associated station: the association link of DEVICE to it, the station
// node (null for a MAC not in the graph) and the stack's record (may be null).
class JSONStaRenderer : public JSONRenderer {
  public:
    JSONStaRenderer(rapidjson::Value& target, Allocator& alloc, const Device& device,
                    const WirelessLink& link, const Sta* sta, const map_sta_info_t* stack_sta,
                    int64_t now_ms)
        : JSONRenderer(target, alloc),
          device_(device),
          link_(link),
          sta_(sta),
          stack_sta_(stack_sta),
          now_ms_(now_ms) {}
    void render();

  private:
    const Device& device_;
    const WirelessLink& link_;
    const Sta* sta_;
    const map_sta_info_t* stack_sta_;
    int64_t now_ms_;
};

// One 1905 link of DEVICE to a neighbour device.
class JSONNeighborLinkMetricRenderer : public JSONRenderer {
  public:
    JSONNeighborLinkMetricRenderer(rapidjson::Value& target, Allocator& alloc, const Device& device,
                                   const Link& link)
        : JSONRenderer(target, alloc), device_(device), link_(link) {}
    void render();

  private:
    const Device& device_;
    const Link& link_;
};

// The capabilities an agent reported for one radio (any of them may be null).
struct RadioCaps {
    const BasicRadioCapabilitiesTLV* basic = nullptr;
    const HTCapabilitiesTLV* ht = nullptr;
    const VHTCapabilitiesTLV* vht = nullptr;
    const HECapabilitiesTLV* he = nullptr;
};
RadioCaps find_radio_caps(const Device& device, const MAC& radio_id);

// Basic radio capabilities, with the streams, bandwidth and beamforming of the
// HT/VHT/HE reports folded in.
class JSONRadioCapabilityRenderer : public JSONRenderer {
  public:
    JSONRadioCapabilityRenderer(rapidjson::Value& target, Allocator& alloc, const RadioCaps& caps)
        : JSONRenderer(target, alloc), caps_(caps) {}
    void render();

  private:
    const RadioCaps& caps_;
};

class JSONRadioHTCapabilityRenderer : public JSONRenderer {
  public:
    JSONRadioHTCapabilityRenderer(rapidjson::Value& target, Allocator& alloc,
                                  const HTCapabilitiesTLV& ht)
        : JSONRenderer(target, alloc), ht_(ht) {}
    void render();

  private:
    const HTCapabilitiesTLV& ht_;
};

class JSONRadioVHTCapabilityRenderer : public JSONRenderer {
  public:
    JSONRadioVHTCapabilityRenderer(rapidjson::Value& target, Allocator& alloc,
                                   const VHTCapabilitiesTLV& vht)
        : JSONRenderer(target, alloc), vht_(vht) {}
    void render();

  private:
    const VHTCapabilitiesTLV& vht_;
};

class JSONRadioHECapabilityRenderer : public JSONRenderer {
  public:
    JSONRadioHECapabilityRenderer(rapidjson::Value& target, Allocator& alloc,
                                  const HECapabilitiesTLV& he)
        : JSONRenderer(target, alloc), he_(he) {}
    void render();

  private:
    const HECapabilitiesTLV& he_;
};

// One operating class of a radio: what the agent reported in its basic
// capabilities, the usable channels the stack derived (STACK_CLASS may be null) and the
// radio's last channel preferences (PREFS may be null: none reported).
class JSONMapOpClassRenderer : public JSONRenderer {
  public:
    JSONMapOpClassRenderer(rapidjson::Value& target, Allocator& alloc,
                           const operating_class_s& op_class,
                           const map_op_class_info_t* stack_class,
                           const RadioChannelPreference* prefs)
        : JSONRenderer(target, alloc),
          op_class_(op_class),
          stack_class_(stack_class),
          prefs_(prefs) {}
    void render();

  private:
    const operating_class_s& op_class_;
    const map_op_class_info_t* stack_class_;
    const RadioChannelPreference* prefs_;
};

// The AP metrics of one BSS (METRICS may be null: zeros).
class JSONMapAPMetricRenderer : public JSONRenderer {
  public:
    JSONMapAPMetricRenderer(rapidjson::Value& target, Allocator& alloc, const ApMetricsTLV* metrics)
        : JSONRenderer(target, alloc), metrics_(metrics) {}
    void render();

  private:
    const ApMetricsTLV* metrics_;
};

// One radio of DEVICE with its BSSs.
class JSONRadioRenderer : public JSONRenderer {
  public:
    JSONRadioRenderer(rapidjson::Value& target, Allocator& alloc, const Graph& graph,
                      const Device& device, const RadioInfo& radio, int64_t now_ms,
                      const Logger* logger)
        : JSONRenderer(target, alloc),
          graph_(graph),
          device_(device),
          radio_(radio),
          now_ms_(now_ms),
          logger_(logger) {}
    void render();

  private:
    void render_bss(rapidjson::Value& target, const BSSInfo& bss, uint8_t standard);

    const Graph& graph_;
    const Device& device_;
    const RadioInfo& radio_;
    int64_t now_ms_;
    const Logger* logger_;
};

// One agent device of "/debug/aps" with its radios.
class JSONAPRenderer : public JSONRenderer {
  public:
    JSONAPRenderer(rapidjson::Value& target, Allocator& alloc, const Graph& graph,
                   const Device& device, int64_t now_ms, const Logger* logger)
        : JSONRenderer(target, alloc),
          graph_(graph),
          device_(device),
          now_ms_(now_ms),
          logger_(logger) {}
    void render();

  private:
    const Graph& graph_;
    const Device& device_;
    int64_t now_ms_;
    const Logger* logger_;
};

// The scan results DEVICE keeps, optionally only those of one band ("2g",
// "5g", "6g": BAND) or one channel (CHANNEL, 0 for all).
class ChannelScanReportRenderer : public JSONRenderer {
  public:
    ChannelScanReportRenderer(rapidjson::Value& target, Allocator& alloc, const Device& device,
                              int band, unsigned channel)
        : JSONRenderer(target, alloc), device_(device), band_(band), channel_(channel) {}
    void render();

  private:
    const Device& device_;
    int band_;  // -1 all, else 0 2.4 GHz, 1 5 GHz, 2 6 GHz
    unsigned channel_;
};
// Band of a global operating class: 0 2.4 GHz, 1 5 GHz, 2 6 GHz, -1 unknown.
int op_class_band(uint8_t op_class);
// Widest bandwidth (MHz) of the classes of a radio's current channel report; 0 unknown.
unsigned current_bandwidth(const OperatingChannelReportTLV* report);
// DEVICE's uplink as its parent holds it: the parent's wired link to the device, or the
// association of the device's backhaul STA; null without one. PARENT (when not null) is
// set to the parent device, null when the graph has none.
const Link* find_uplink(const Graph& graph, const Device& device, const Device** parent);

// The whole graph of "/debug/graph": "root", "local-agent" and "nodes".
class JSONGraphRenderer : public JSONRenderer {
  public:
    JSONGraphRenderer(rapidjson::Value& target, Allocator& alloc, const Graph& graph,
                      int64_t now_ms)
        : JSONRenderer(target, alloc), graph_(graph), now_ms_(now_ms) {}
    void render();

  private:
    const Graph& graph_;
    int64_t now_ms_;
};

// One device as "/1/topology" and "/1/aps/<al-mac>" show it: identity, info,
// backhaul, links and SSIDs.
class JSONTopologyApRenderer : public JSONRenderer {
  public:
    JSONTopologyApRenderer(rapidjson::Value& target, Allocator& alloc, const Graph& graph,
                           const Device& device, int64_t now_ms)
        : JSONRenderer(target, alloc), graph_(graph), device_(device), now_ms_(now_ms) {}
    void render();

  private:
    const Graph& graph_;
    const Device& device_;
    int64_t now_ms_;
};

// One VAP credential of the controller's M2s (never its key: its length only).
struct map_vap_credential_t;
void render_credential(JSONObjectRenderer& out, const map_vap_credential_t& cred);

// The backhaul record of a device or station.
void render_backhaul(JSONObjectRenderer& out, const backhaul_information& bh);
// A MAC as a string value of the document.
rapidjson::Value mac_value(const MAC& mac, rapidjson::Document::AllocatorType& alloc);
