#include "graph/sta_capability.h"

const uint8_t StaCapabilityInfo::kChannels5g[32] = {
    32,  36,  40,  44,  48,  52,  56,  60,  64,  68,  96,  100, 104, 108, 112, 116,
    120, 124, 128, 132, 136, 140, 144, 149, 153, 157, 161, 165, 169, 173, 184, 188};

namespace {
int index_5g(uint8_t channel) {
    for (int i = 0; i < 32; ++i)
        if (StaCapabilityInfo::kChannels5g[i] == channel)
            return i;
    return -1;
}
}  // namespace

bool StaCapabilityInfo::add_channel(uint8_t channel) {
    if (channel >= 1 && channel <= 16) {
        supported_channels_2g |= static_cast<uint16_t>(1u << (channel - 1));
        return true;
    }
    int i = index_5g(channel);
    if (i < 0)
        return false;
    supported_channels_5g |= 1u << i;
    return true;
}

std::string StaCapabilityInfo::channels_string() const {
    std::string out;
    for (int i = 0; i < 16; ++i)
        if (supported_channels_2g & (1u << i))
            out += std::to_string(i + 1) + " ";
    for (int i = 0; i < 32; ++i)
        if (supported_channels_5g & (1u << i))
            out += std::to_string(kChannels5g[i]) + " ";
    return out;
}

bool StaCapabilityInfo::channel_match(uint8_t channel) const {
    if (channel >= 1 && channel <= 16)
        return (supported_channels_2g & (1u << (channel - 1))) != 0;
    int i = index_5g(channel);
    return i >= 0 && (supported_channels_5g & (1u << i)) != 0;
}

RmBeaconModes rm_beacon_modes(const uint8_t* body, size_t len, bool reassoc) {
    constexpr uint8_t kRmEnabledCapabilities = 70;
    RmBeaconModes out;
    size_t at = reassoc ? 10 : 4;  // capability, listen interval (, current AP address)
    while (body && at + 2 <= len) {
        const uint8_t id = body[at];
        const size_t n = body[at + 1];
        if (at + 2 + n > len)
            break;
        if (id == kRmEnabledCapabilities && n >= 1) {
            out.passive = (body[at + 2] & 0x10) != 0;
            out.active = (body[at + 2] & 0x20) != 0;
            break;
        }
        at += 2 + n;
    }
    return out;
}
