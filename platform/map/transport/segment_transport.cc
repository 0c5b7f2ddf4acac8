#include "map/transport/segment_transport.h"

#include <arpa/inet.h>
#include <linux/filter.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {
constexpr int kSegmentRcvBuf = 256 * 1024;

std::string sys_error(const std::string& what, const std::string& segment) {
    return "segment transport " + segment + ": " + what + ": " + std::strerror(errno);
}
}  // namespace

bool parse_segment_address(const std::string& text, uint32_t* group_be, uint16_t* port) {
    size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 >= text.size())
        return false;
    std::string host = text.substr(0, colon);
    std::string port_text = text.substr(colon + 1);
    if (port_text.size() > 5)
        return false;
    unsigned long value = 0;
    for (char c : port_text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    if (value == 0 || value > 65535)
        return false;
    struct in_addr addr;
    if (inet_pton(AF_INET, host.c_str(), &addr) != 1)
        return false;
    if (!IN_MULTICAST(ntohl(addr.s_addr)))
        return false;
    *group_be = addr.s_addr;
    *port = static_cast<uint16_t>(value);
    return true;
}

SegmentTransport::SegmentTransport(std::vector<TransportInterface> interfaces,
                                   TransportOptions options)
    : Transport(std::move(interfaces), std::move(options)) {}

int SegmentTransport::open_sockets(std::string* error) {
    segments_.clear();
    segment_of_.assign(interfaces_.size(), 0);
    for (size_t i = 0; i < interfaces_.size(); ++i) {
        TransportInterface& itf = interfaces_[i];
        if (itf.segment.empty())
            itf.segment = kDefaultSegment;
        if (itf.mac.is_zero() || itf.mac.is_multicast()) {
            return fail(error, kTransportErrConfig,
                        "segment transport: interface " + itf.name + " needs a unicast MAC");
        }
        uint32_t group = 0;
        uint16_t port = 0;
        if (!parse_segment_address(itf.segment, &group, &port)) {
            return fail(error, kTransportErrConfig,
                        "segment transport: interface " + itf.name + ": bad segment \"" +
                            itf.segment + "\" (expected multicast GROUP:PORT)");
        }
        size_t s = 0;
        while (s < segments_.size() &&
               (segments_[s].group_be != group || segments_[s].port != port)) {
            ++s;
        }
        if (s == segments_.size()) {
            Segment seg;
            seg.address = itf.segment;
            seg.group_be = group;
            seg.port = port;
            segments_.push_back(seg);
        }
        segments_[s].members.push_back(i);
        segment_of_[i] = s;
    }

    struct in_addr loopback;
    loopback.s_addr = htonl(INADDR_LOOPBACK);
    own_filtered_ = !segments_.empty();
    for (size_t s = 0; s < segments_.size(); ++s) {
        Segment& seg = segments_[s];
        seg.send_fd = -1;
        int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return fail(error, kTransportErrSystem, sys_error("socket", seg.address));
        int one = 1, zero = 0, rcvbuf = kSegmentRcvBuf;
        unsigned char loop = 1, ttl = 0;
        struct sockaddr_in bind_addr;
        std::memset(&bind_addr, 0, sizeof bind_addr);
        bind_addr.sin_family = AF_INET;
        bind_addr.sin_addr.s_addr = seg.group_be;  // only this group's datagrams
        bind_addr.sin_port = htons(seg.port);
        struct ip_mreq mreq;
        mreq.imr_multiaddr.s_addr = seg.group_be;
        mreq.imr_interface = loopback;
        const char* step = nullptr;
        bool own_send_socket = false;
        if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0) {
            step = "SO_REUSEADDR";
        } else if (setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &one, sizeof one) != 0) {
            step = "SO_REUSEPORT";
        } else if (bind(fd, reinterpret_cast<struct sockaddr*>(&bind_addr), sizeof bind_addr) !=
                   0) {
            step = "bind";
        } else if (setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &mreq, sizeof mreq) != 0) {
            step = "IP_ADD_MEMBERSHIP on 127.0.0.1";
        } else if (setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &loopback, sizeof loopback) != 0 &&
                   !(own_send_socket = errno == ENOPROTOOPT)) {
            step = "IP_MULTICAST_IF 127.0.0.1";
        } else if (setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop) != 0) {
            step = "IP_MULTICAST_LOOP";
        } else if (setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) != 0) {
            step = "IP_MULTICAST_TTL";
        }
        if (step != nullptr) {
            std::string text = sys_error(step, seg.address);
            ::close(fd);
            return fail(error, kTransportErrSystem, text);
        }
        // Not part of the contract, only hygiene: no datagrams of groups other
        // sockets joined, and a bounded kernel queue.
        setsockopt(fd, IPPROTO_IP, IP_MULTICAST_ALL, &zero, sizeof zero);
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
        // The segment loops every frame we send back to us: the kernel drops those.
        own_filtered_ = attach_own_filter(fd) && own_filtered_;
        seg.fd = fd;
        int rc = add_endpoint(fd, s, error);
        if (rc != 0)
            return rc;
        if (own_send_socket) {
            // A system (or an emulator such as qemu-user 7) without IP_MULTICAST_IF: a
            // socket bound to 127.0.0.1 sends instead, since the kernel routes multicast
            // from a local address out of that address's interface.
            rc = open_send_socket(seg, s, error);
            if (rc != 0)
                return rc;
        }
    }
    return 0;
}

bool SegmentTransport::attach_own_filter(int fd) const {
    // Our addresses, as is_own_source knows them.
    std::vector<MAC> own{options_.al_mac};
    for (const TransportInterface& itf : interfaces_)
        own.push_back(itf.mac);
    // A UDP socket's filter sees the datagram from its UDP header (8 bytes) on; the frame's
    // source address is at 6. Only frames within the Ethernet bounds are judged: the rest
    // goes to the reading side, which counts it.
    constexpr uint32_t kUdp = 8;
    const auto accept_at = static_cast<uint8_t>(3 + 5 * own.size());
    std::vector<sock_filter> code;
    auto jump_to_accept = [&](size_t from) { return static_cast<uint8_t>(accept_at - from - 1); };
    code.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_LEN, 0));
    code.push_back(BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, kUdp + kEthHeaderLen + kVlanTagLen, 0,
                            jump_to_accept(1)));
    code.push_back(
        BPF_JUMP(BPF_JMP | BPF_JGT | BPF_K, kUdp + kEthMaxFrameLen, jump_to_accept(2), 0));
    for (const MAC& m : own) {
        uint32_t high = uint32_t{m[0]} << 24 | uint32_t{m[1]} << 16 | uint32_t{m[2]} << 8 | m[3];
        uint32_t low = uint32_t{m[4]} << 8 | m[5];
        code.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kUdp + 6));
        code.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, high, 0, 3));
        code.push_back(BPF_STMT(BPF_LD | BPF_H | BPF_ABS, kUdp + 10));
        code.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, low, 0, 1));
        code.push_back(BPF_STMT(BPF_RET | BPF_K, 0));
    }
    code.push_back(BPF_STMT(BPF_RET | BPF_K, 0xffffffffu));
    struct sock_fprog prog;
    prog.len = static_cast<unsigned short>(code.size());
    prog.filter = code.data();
    return setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &prog, sizeof prog) == 0;
}

int SegmentTransport::open_send_socket(Segment& seg, size_t index, std::string* error) {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return fail(error, kTransportErrSystem, sys_error("socket", seg.address));
    struct sockaddr_in local;
    std::memset(&local, 0, sizeof local);
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    unsigned char loop = 1, ttl = 0;
    const char* step = nullptr;
    if (bind(fd, reinterpret_cast<struct sockaddr*>(&local), sizeof local) != 0)
        step = "bind 127.0.0.1";
    else if (setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop) != 0)
        step = "IP_MULTICAST_LOOP";
    else if (setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) != 0)
        step = "IP_MULTICAST_TTL";
    if (step != nullptr) {
        std::string text = sys_error(step, seg.address);
        ::close(fd);
        return fail(error, kTransportErrSystem, text);
    }
    seg.send_fd = fd;
    // Polled like the others, so that it is closed with them; nothing is sent to it.
    return add_endpoint(fd, index, error);
}

int SegmentTransport::send_frame(size_t if_index, const uint8_t* frame, size_t len) {
    const Segment& seg = segments_[segment_of_[if_index]];
    struct sockaddr_in to;
    std::memset(&to, 0, sizeof to);
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = seg.group_be;
    to.sin_port = htons(seg.port);
    ssize_t n;
    do {
        n = ::sendto(seg.send_fd >= 0 ? seg.send_fd : seg.fd, frame, len, MSG_DONTWAIT,
                     reinterpret_cast<struct sockaddr*>(&to), sizeof to);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        return -errno;
    return static_cast<size_t>(n) == len ? 0 : -EMSGSIZE;
}

size_t SegmentTransport::select_targets(const Endpoint& ep, const uint8_t* frame, size_t, int,
                                        size_t* targets) {
    const std::vector<size_t>& members = segments_[ep.tag].members;
    MAC dst = frame_dst(frame);
    if (dst == k1905MulticastMac || dst.is_broadcast()) {
        for (size_t i = 0; i < members.size(); ++i)
            targets[i] = members[i];
        return members.size();
    }
    for (size_t m : members) {
        if (interfaces_[m].mac == dst) {
            targets[0] = m;
            return 1;
        }
    }
    if (dst == al_mac()) {
        targets[0] = members[0];
        return 1;
    }
    return 0;
}
