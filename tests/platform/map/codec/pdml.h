// Wireshark's dissection as a black box: runs tshark on a capture file and
// reads its PDML output (fields with name, shown value, position and size).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct PdmlField {
    std::string name, show, showname;
    size_t pos = 0, size = 0;
};

// Fields of each packet, in document order.
std::vector<std::vector<PdmlField>> parse_pdml(const std::string& xml);
// True when tshark can be run.
bool have_tshark();
// tshark's PDML of every packet in PCAP ("" when it cannot run).
std::string run_tshark(const std::string& pcap);
// A decimal or 0x-hex number; false when S is not one.
bool parse_number(const std::string& s, unsigned long long& v);
