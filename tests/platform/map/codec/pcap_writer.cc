#include "pcap_writer.h"

#include <cstdio>

namespace {
void put32(std::vector<uint8_t>& o, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        o.push_back(uint8_t(v >> (8 * i)));
}
void put16(std::vector<uint8_t>& o, uint16_t v) {
    o.push_back(uint8_t(v));
    o.push_back(uint8_t(v >> 8));
}
}  // namespace

bool write_pcap(const std::string& path, const std::vector<std::vector<uint8_t>>& frames) {
    std::vector<uint8_t> o;
    put32(o, 0xa1b2c3d4);
    put16(o, 2);
    put16(o, 4);
    put32(o, 0);
    put32(o, 0);
    put32(o, 65535);
    put32(o, 1);  // Ethernet
    uint32_t t = 1764961288;
    for (const auto& f : frames) {
        put32(o, t++);
        put32(o, 0);
        put32(o, static_cast<uint32_t>(f.size()));
        put32(o, static_cast<uint32_t>(f.size()));
        o.insert(o.end(), f.begin(), f.end());
    }
    FILE* fp = std::fopen(path.c_str(), "wb");
    if (!fp)
        return false;
    bool ok = std::fwrite(o.data(), 1, o.size(), fp) == o.size();
    return std::fclose(fp) == 0 && ok;
}
