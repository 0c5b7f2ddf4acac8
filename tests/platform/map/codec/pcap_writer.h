// Writes Ethernet frames to a classic pcap file (link type 1), for tshark.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// False when the file cannot be written.
bool write_pcap(const std::string& path, const std::vector<std::vector<uint8_t>>& frames);
