#include "messages/bus_records.h"

#include <syslog.h>

#include <cstring>

uint64_t get_config_msg_size(const ZkaRGConfigSync_T* cfg) {
    if (cfg == nullptr)
        return 0;
    return kZkaConfigSyncHeaderLen + static_cast<uint64_t>(cfg->len);
}

size_t get_topo_info_msg_size(const char* text) {
    if (text == nullptr)
        return 0;
    return std::strlen(text) + 1;
}

namespace {
uint8_t byte_at(const unsigned char* p, size_t at) {
    return p[at];
}
// The block is little-endian whatever the host.
uint16_t u16_at(const unsigned char* p, size_t at) {
    return static_cast<uint16_t>(p[at] | (p[at + 1] << 8));
}
}  // namespace

size_t get_topo_msg_size(const ZkaEmNetwork_T* block) {
    if (block == nullptr)
        return 0;
    const auto* p = reinterpret_cast<const unsigned char*>(block);
    int num_ap = byte_at(p, kZkaTopoApCountAt);
    if (num_ap > 6)
        syslog(LOG_ERR, "get_topo_msg_size enter %p num_ap = %d\n", static_cast<const void*>(p),
               num_ap);
    size_t size = kZkaTopoHeaderLen;
    for (int ap = 0; ap < num_ap; ++ap) {
        size_t ap_at = size;
        int num_radio = byte_at(p, ap_at + kZkaTopoApRadioCountAt);
        int num_eth = u16_at(p, ap_at + kZkaTopoApEthCountAt);
        if (num_radio > 3 || num_eth > 16)
            syslog(LOG_ERR, " ap index [%d] num_radio [%d] num_eth_clients [%d]\n", ap, num_radio,
                   num_eth);
        size += kZkaTopoApLen;
        for (int r = 0; r < num_radio; ++r) {
            size_t radio_at = size;
            int num_ssid = byte_at(p, radio_at + kZkaTopoRadioSsidCountAt);
            if (num_ssid > 12)
                syslog(LOG_ERR, " ap index [%d] radio index [%d] num_ssid [%d] \n", ap, r,
                       num_ssid);
            size += kZkaTopoRadioLen;
            for (int s = 0; s < num_ssid; ++s) {
                int num_sta = u16_at(p, size + kZkaTopoSsidStaCountAt);
                if (num_sta > 32)
                    syslog(LOG_ERR,
                           "ap index [%d] radio index [%d] ssid index [%d] num_assoc_device [%d]\n",
                           ap, r, s, num_sta);
                size += kZkaTopoSsidLen + kZkaTopoStaLen * static_cast<size_t>(num_sta);
            }
        }
        size += kZkaTopoEthLen * static_cast<size_t>(num_eth);
    }
    return size;
}

std::string zka_text(const char* field, size_t width) {
    if (field == nullptr)
        return std::string();
    const void* nul = std::memchr(field, '\0', width);
    size_t n = nul ? static_cast<size_t>(static_cast<const char*>(nul) - field) : width;
    return std::string(field, n);
}

void zka_set_text(char* field, size_t width, const std::string& text) {
    if (field == nullptr || width == 0)
        return;
    size_t n = text.size() < width - 1 ? text.size() : width - 1;
    std::memcpy(field, text.data(), n);
    std::memset(field + n, 0, width - n);
}
