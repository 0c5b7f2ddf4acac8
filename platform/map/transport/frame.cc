#include "map/transport/frame.h"

const MAC k1905MulticastMac(0x01, 0x80, 0xC2, 0x00, 0x00, 0x13);
const MAC kBroadcastMac(0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF);

namespace {
uint16_t be16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

bool is_tag(uint16_t type) {
    return type == kEthertypeVlan || type == kEthertypeQinQ;
}
}  // namespace

FrameSize check_frame_size(const uint8_t* frame, size_t len) {
    if (frame == nullptr || len < kEthHeaderLen)
        return FrameSize::too_short;
    bool tagged = is_tag(be16(frame + 12));
    if (tagged && len < kEthHeaderLen + kVlanTagLen)
        return FrameSize::too_short;
    if (len > (tagged ? kEthMaxTaggedFrameLen : kEthMaxFrameLen))
        return FrameSize::too_long;
    return FrameSize::ok;
}

uint16_t frame_ethertype(const uint8_t* frame, size_t len) {
    uint16_t type = be16(frame + 12);
    if (is_tag(type) && len >= kEthHeaderLen + kVlanTagLen)
        type = be16(frame + 16);
    return type;
}
