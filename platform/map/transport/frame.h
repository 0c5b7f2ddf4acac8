// Ethernet frames as the 1905 transports carry them: destination MAC, source
// MAC, optional 802.1Q tag, ethertype, payload; never an FCS.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/mac.h"

constexpr size_t kEthHeaderLen = 14;      // dst + src + ethertype
constexpr size_t kEthMaxFrameLen = 1514;  // header + 1500-byte payload
constexpr size_t kVlanTagLen = 4;         // one 802.1Q / 802.1ad tag
constexpr size_t kEthMaxTaggedFrameLen = kEthMaxFrameLen + kVlanTagLen;
constexpr uint16_t kEthertype1905 = 0x893A;
constexpr uint16_t kEthertypeVlan = 0x8100;
constexpr uint16_t kEthertypeQinQ = 0x88A8;

// 01:80:C2:00:00:13, the IEEE 1905.1 multicast address.
extern const MAC k1905MulticastMac;
extern const MAC kBroadcastMac;

enum class FrameSize { ok, too_short, too_long };

// Checks LEN against the Ethernet bounds: at least the 14-byte header (18 when
// tagged) and at most 1514 bytes, or 1518 when the frame carries one VLAN tag.
FrameSize check_frame_size(const uint8_t* frame, size_t len);

// Accessors for a frame that passed check_frame_size().
inline MAC frame_dst(const uint8_t* frame) {
    return MAC(frame);
}
inline MAC frame_src(const uint8_t* frame) {
    return MAC(frame + 6);
}
// The ethertype after an optional VLAN tag.
uint16_t frame_ethertype(const uint8_t* frame, size_t len);
