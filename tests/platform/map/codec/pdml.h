// Wireshark's dissection as a black box: runs tshark on a capture file and
// reads its PDML output (fields with name, shown value, position and size).
#pragma once

#include <cstddef>
#include <cstdint>
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
// tshark's dissection of Ethernet FRAMES, written to a temporary capture file: the fields
// of each packet (none when tshark cannot run).
std::vector<std::vector<PdmlField>> tshark_dissect(const std::vector<std::vector<uint8_t>>& frames);
// The expert complaints (warnings, errors, malformed packet) among FIELDS, notes and chats
// aside: each field's showname.
std::vector<std::string> expert_complaints(const std::vector<PdmlField>& fields);
