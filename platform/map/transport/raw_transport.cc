#include "map/transport/raw_transport.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netpacket/packet.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "map/map_log.h"

#ifndef PACKET_IGNORE_OUTGOING
#define PACKET_IGNORE_OUTGOING 23
#endif
#ifndef PACKET_MR_UNICAST
#define PACKET_MR_UNICAST 3
#endif

namespace {
constexpr int kRawRcvBuf = 256 * 1024;

bool add_membership(int fd, int ifindex, unsigned short type, const MAC& mac) {
    struct packet_mreq mr;
    std::memset(&mr, 0, sizeof mr);
    mr.mr_ifindex = ifindex;
    mr.mr_type = type;
    mr.mr_alen = 6;
    std::memcpy(mr.mr_address, mac.data(), 6);
    return setsockopt(fd, SOL_PACKET, PACKET_ADD_MEMBERSHIP, &mr, sizeof mr) == 0;
}
}  // namespace

bool read_interface_mac(const std::string& name, MAC* mac, std::string* error) {
    if (name.empty() || name.size() >= IFNAMSIZ) {
        if (error)
            *error = "interface name \"" + name + "\" invalid";
        return false;
    }
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        if (error)
            *error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    struct ifreq ifr;
    std::memset(&ifr, 0, sizeof ifr);
    std::memcpy(ifr.ifr_name, name.c_str(), name.size());
    int rc = ioctl(fd, SIOCGIFHWADDR, &ifr);
    int err = errno;
    ::close(fd);
    if (rc != 0) {
        if (error)
            *error = "interface " + name + ": SIOCGIFHWADDR: " + std::strerror(err);
        return false;
    }
    if (ifr.ifr_hwaddr.sa_family != ARPHRD_ETHER) {
        if (error)
            *error = "interface " + name + " is not an Ethernet interface";
        return false;
    }
    *mac = MAC(reinterpret_cast<const uint8_t*>(ifr.ifr_hwaddr.sa_data));
    return true;
}

RawTransport::RawTransport(std::vector<TransportInterface> interfaces, TransportOptions options)
    : Transport(std::move(interfaces), std::move(options)) {}

int RawTransport::open_sockets(std::string* error) {
    fds_.assign(interfaces_.size(), -1);
    for (size_t i = 0; i < interfaces_.size(); ++i) {
        TransportInterface& itf = interfaces_[i];
        unsigned index = if_nametoindex(itf.name.c_str());
        if (index == 0) {
            return fail(error, kTransportErrConfig,
                        "raw transport: no interface " + itf.name + ": " + std::strerror(errno));
        }
        itf.ifindex = static_cast<int>(index);
        MAC system_mac;
        std::string why;
        if (!read_interface_mac(itf.name, &system_mac, &why)) {
            return fail(error, kTransportErrConfig, "raw transport: " + why);
        }
        if (itf.mac.is_zero())
            itf.mac = system_mac;

        int fd =
            ::socket(AF_PACKET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, htons(kEthertype1905));
        if (fd < 0) {
            return fail(error, kTransportErrSystem,
                        "raw transport: interface " + itf.name + ": socket(AF_PACKET): " +
                            std::strerror(errno) + (errno == EPERM ? " (needs CAP_NET_RAW)" : ""));
        }
        struct sockaddr_ll sll;
        std::memset(&sll, 0, sizeof sll);
        sll.sll_family = AF_PACKET;
        sll.sll_protocol = htons(kEthertype1905);
        sll.sll_ifindex = itf.ifindex;
        if (bind(fd, reinterpret_cast<struct sockaddr*>(&sll), sizeof sll) != 0 ||
            !add_membership(fd, itf.ifindex, PACKET_MR_MULTICAST, k1905MulticastMac)) {
            std::string text = "raw transport: interface " + itf.name +
                               ": bind/membership: " + std::strerror(errno);
            ::close(fd);
            return fail(error, kTransportErrSystem, text);
        }
        int one = 1, rcvbuf = kRawRcvBuf;
        setsockopt(fd, SOL_PACKET, PACKET_IGNORE_OUTGOING, &one, sizeof one);
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
        MAC extra[2] = {itf.mac, options_.al_mac.is_zero() ? interfaces_[0].mac : options_.al_mac};
        for (const MAC& mac : extra) {
            if (mac == system_mac || mac.is_zero())
                continue;
            if (!add_membership(fd, itf.ifindex, PACKET_MR_UNICAST, mac)) {
                map_log(MAP_LOG_IEEE1905, 4,
                        "raw transport: interface %s cannot receive for %s: %s", itf.name.c_str(),
                        mac.to_string().c_str(), std::strerror(errno));
            }
        }
        fds_[i] = fd;
        int rc = add_endpoint(fd, i, error);
        if (rc != 0)
            return rc;
    }
    return 0;
}

int RawTransport::send_frame(size_t if_index, const uint8_t* frame, size_t len) {
    ssize_t n;
    do {
        n = ::send(fds_[if_index], frame, len, MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        return -errno;
    return static_cast<size_t>(n) == len ? 0 : -EMSGSIZE;
}

ssize_t RawTransport::read_frame(Endpoint& ep, uint8_t* buf, size_t cap, int* pkttype) {
    struct sockaddr_ll from;
    socklen_t from_len = sizeof from;
    std::memset(&from, 0, sizeof from);
    ssize_t n = ::recvfrom(ep.fd, buf, cap, MSG_TRUNC | MSG_DONTWAIT,
                           reinterpret_cast<struct sockaddr*>(&from), &from_len);
    if (n < 0)
        return -errno;
    *pkttype = from.sll_pkttype;
    return n;
}

size_t RawTransport::select_targets(const Endpoint& ep, const uint8_t* frame, size_t, int pkttype,
                                    size_t* targets) {
    // Frames the system saw leave. Frames for a secondary unicast address (a
    // configured MAC, the AL MAC) arrive marked PACKET_OTHERHOST, so the
    // destination check below decides, not the packet type.
    if (pkttype == PACKET_OUTGOING)
        return 0;
    if (!addressed_to(ep.tag, frame_dst(frame)))
        return 0;
    targets[0] = ep.tag;
    return 1;
}
