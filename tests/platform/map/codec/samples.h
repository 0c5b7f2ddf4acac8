// Representative CMDUs with non-trivial values, one per message type the
// controller sends or receives; shared by the round-trip, conformance and
// fuzz-seed tests.
#pragma once

#include <string>
#include <vector>

#include "map/codec/cmdu_alloc.h"

struct SampleCmdu {
    std::string name;
    CmduPtr cmdu;
};

// Every sample, in a fixed order.
std::vector<SampleCmdu> make_sample_cmdus();

// One sample by name ("topology_response", ...); null when unknown.
CmduPtr make_sample_cmdu(const std::string& name);

// The dump of each of C's records, in order (none for a null C).
std::vector<std::string> tlv_dumps(const CMDU* c);

// Addresses used by the samples: 02:00:00:00:<a>:<b>.
MAC sample_mac(uint8_t a, uint8_t b);

// Topology Response of RADIOS radios x BSS_PER_RADIO BSSs x CLIENTS_PER_BSS clients.
CmduPtr make_topology_response(int radios, int bss_per_radio, int clients_per_bss);
// AP Metrics Response for CLIENTS clients spread over 4 BSSs.
CmduPtr make_ap_metrics_response(int clients);

// The WSC frame of sample NAME ("autoconfig_wsc_m1": Vexal, Mesh Extender, MX-200,
// SN0123456789, ext-livingroom, 2.4 and 5 GHz), rebuilt without its attribute of type DROP
// when one is named.
std::vector<uint8_t> sample_wsc(const std::string& name, uint16_t drop = 0);
