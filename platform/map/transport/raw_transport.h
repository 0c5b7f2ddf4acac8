// The raw transport: one AF_PACKET/SOCK_RAW socket per named system interface,
// bound to ethertype 0x893A on that interface and joined to the 1905
// multicast address 01:80:C2:00:00:13. Needs CAP_NET_RAW (root on the gateway).
// An interface without a configured MAC uses the system's (SIOCGIFHWADDR);
// a configured MAC that differs from the system's, and the AL MAC, are added
// to the interface's unicast filter so that frames sent to them arrive.
#pragma once

#include <string>
#include <vector>

#include "map/transport/transport.h"

// The hardware address of system interface NAME. False, with ERROR set, when
// the interface does not exist or is not Ethernet-like.
bool read_interface_mac(const std::string& name, MAC* mac, std::string* error = nullptr);

class RawTransport : public Transport {
  public:
    RawTransport(std::vector<TransportInterface> interfaces, TransportOptions options);
    const char* kind() const override { return "raw"; }

  protected:
    int open_sockets(std::string* error) override;
    int send_frame(size_t if_index, const uint8_t* frame, size_t len) override;
    ssize_t read_frame(Endpoint& ep, uint8_t* buf, size_t cap, int* pkttype) override;
    size_t select_targets(const Endpoint& ep, const uint8_t* frame, size_t len, int pkttype,
                          size_t* targets) override;

  private:
    std::vector<int> fds_;  // per interface; owned by the endpoints once open
};
