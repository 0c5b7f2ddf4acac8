// A graph minder inside a real Context, fed with CMDUs that went through the codec and the
// stack's data model exactly as received ones do, with a manual clock.
#pragma once

#include <uv.h>

#include <string>
#include <vector>

#include "common/clock.h"
#include "core/context.h"
#include "graph/graph_minder.h"
#include "map/codec/tlvs.h"
#include "support/temp_root.h"

namespace minder_test {

// The scripted mesh's addresses.
struct Macs {
    static const MAC root, local, e1, e2;              // AL MACs
    static const MAC root_eth, local_eth, local_eth2;  // Ethernet interfaces
    static const MAC e1_eth, e1_lan, e2_bsta;          // e2_bsta: E2's backhaul STA
    static const MAC local_radio, e1_radio, e2_radio;  // 5 GHz radios
    static const BSSID local_fh, local_bh, e1_fh, e1_bh, e2_fh;
    static const MAC c1, c2, wired;  // clients
};

device_information_tlv::local_interface eth_if(const MAC& m);
device_information_tlv::local_interface wifi_if(const MAC& m, const BSSID& bss, uint8_t role);

// The pieces of a Topology Response.
struct Topo {
    MAC al;
    std::vector<device_information_tlv::local_interface> ifs;
    std::vector<std::pair<MAC, std::vector<MAC>>> neighbors;  // local interface, AL MACs
    std::vector<std::pair<MAC, std::vector<MAC>>> non1905;    // local interface, MACs
    std::vector<std::pair<MAC, std::vector<std::pair<BSSID, std::string>>>> radios;
    std::vector<std::pair<BSSID, std::vector<MAC>>> clients;
};

class Harness {
  public:
    Harness();
    ~Harness();
    Harness(const Harness&) = delete;
    Harness& operator=(const Harness&) = delete;

    // Encodes, decodes with SRC as sender, lets the stack's model fold it in and hands it
    // to the stack's callback table, as the stack does with a received CMDU.
    void feed(CmduBuilder& b, const MAC& src);
    void feed(const CMDU& cmdu, const MAC& src);

    void topology(const Topo& t);
    // AP Capability Report: one 5 GHz radio (class 115, channels 36-48) of DEVICE.
    void ap_caps(const MAC& device, const MAC& radio, bool unassoc_on, bool unassoc_off);
    void operating_channel(const MAC& device, const MAC& radio, uint8_t op_class, uint8_t channel);
    void assoc_metrics(const MAC& device, const MAC& sta, const BSSID& bssid, uint8_t rcpi);
    void unassoc_metrics(const MAC& device, uint8_t op_class, const MAC& sta, uint8_t channel,
                         uint32_t delta_ms, uint8_t rcpi);
    void notification(const MAC& device, const MAC& sta, const BSSID& bssid, bool join);
    void discovery(const MAC& al, const MAC& ifc);

    void advance(long long ms) { ozr_clock::advance(ms); }
    std::string log() const { return cap_.text(); }
    // Whether the log holds LINE.
    bool said(const std::string& line) const { return log().find(line) != std::string::npos; }

    GraphMinder& gm() { return *ctx_->graph_minder; }
    Graph& g() { return ctx_->graph_minder->graph(); }
    Context& ctx() { return *ctx_; }

  private:
    ozr_test::TempRoot root_;
    ozr_test::LogCapture cap_;
    uv_loop_t loop_;
    Context* ctx_ = nullptr;
    uint16_t mid_ = 1;
};

// The Topology Response T describes (message id MID, source T.al).
CmduPtr topology_cmdu(const Topo& t, uint16_t mid);
// An AP Capability Report: one 5 GHz radio (class 115, channels 36-48).
CmduPtr ap_caps_cmdu(const MAC& radio, bool unassoc_on, bool unassoc_off, uint16_t mid);
// The scripted mesh's Topology Responses: root, local agent, E1 and, WITH_E2, E2.
std::vector<Topo> scripted_topologies(bool with_e2 = true, bool c1_on_e1 = false);

// The scripted mesh's rounds of Topology Responses (root, local agent, E1, E2) as the
// periodic topology query brings them; C1 on the local agent unless C1_ON_E1.
void topology_round(Harness& h, bool with_e2 = true, bool c1_on_e1 = false);
// Capabilities and channels of the three agents.
void capabilities(Harness& h);

}  // namespace minder_test
