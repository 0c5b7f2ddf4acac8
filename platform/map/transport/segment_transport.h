// The segment transport: a virtual Ethernet segment between processes on one
// machine, without privileges. Wire contract, shared with every program that
// joins a segment:
//   - a segment is an IPv4 multicast group and UDP port ("GROUP:PORT") on the
//     loopback interface: membership and IP_MULTICAST_IF on 127.0.0.1,
//     IP_MULTICAST_LOOP on, IP_MULTICAST_TTL 0, SO_REUSEADDR and SO_REUSEPORT
//     so that any number of processes bind the same port;
//   - each datagram is one complete Ethernet frame (destination MAC, source
//     MAC, ethertype, payload; no FCS), sent to GROUP:PORT.
// Every process sees every frame, like on a hub; each keeps what is addressed
// to it (see transport.h). Several interfaces of one process may sit on one
// segment, each with its own MAC: a unicast frame reaches the interface with
// that MAC (a frame for the AL MAC reaches the first interface on the
// segment), a multicast or broadcast frame reaches each of them once, as it
// would reach every port of a real device wired twice to one LAN.
// Interfaces may also sit on different segments (one socket per segment).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "map/transport/transport.h"

constexpr const char* kDefaultSegment = "239.255.19.5:19050";

// Parses "GROUP:PORT" with GROUP an IPv4 multicast address (224.0.0.0/4) and
// PORT 1..65535. GROUP_BE is in network byte order, PORT in host order.
bool parse_segment_address(const std::string& text, uint32_t* group_be, uint16_t* port);

class SegmentTransport : public Transport {
  public:
    // Every interface needs a non-zero MAC and a segment address (an empty one
    // means kDefaultSegment).
    SegmentTransport(std::vector<TransportInterface> interfaces, TransportOptions options);
    const char* kind() const override { return "segment"; }
    // True when the kernel drops the frames this transport sent itself before they are
    // read (a socket filter on every segment); they are then not counted in rx_own.
    bool own_frames_filtered() const { return own_filtered_; }

  protected:
    int open_sockets(std::string* error) override;
    int send_frame(size_t if_index, const uint8_t* frame, size_t len) override;
    size_t select_targets(const Endpoint& ep, const uint8_t* frame, size_t len, int pkttype,
                          size_t* targets) override;

  private:
    struct Segment {
        std::string address;
        uint32_t group_be = 0;
        uint16_t port = 0;
        int fd = -1;                  // owned by its Endpoint once open
        int send_fd = -1;             // a socket of its own for sending, or -1 (see open)
        std::vector<size_t> members;  // interfaces on this segment, in list order
    };
    // A send-only socket bound to 127.0.0.1 for SEG (number INDEX), polled with the others.
    int open_send_socket(Segment& seg, size_t index, std::string* error);
    // Attaches to FD a filter that drops datagrams whose frame comes from one of our own
    // addresses; false when the system refuses it (the frames are then dropped on reading).
    bool attach_own_filter(int fd) const;

    std::vector<Segment> segments_;
    std::vector<size_t> segment_of_;  // interface index -> segment index
    bool own_filtered_ = false;
};
