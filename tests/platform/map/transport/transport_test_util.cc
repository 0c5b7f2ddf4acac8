#include "transport_test_util.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "map/codec/codec.h"
#include "map/map_log.h"
#include "map/transport/pcap_writer.h"
#include "map/transport/segment_transport.h"

std::vector<uint8_t> make_frame(const MAC& dst, const MAC& src, uint16_t ethertype,
                                size_t payload_len, uint8_t marker) {
    std::vector<uint8_t> f(dst.data(), dst.data() + 6);
    f.insert(f.end(), src.data(), src.data() + 6);
    f.push_back(static_cast<uint8_t>(ethertype >> 8));
    f.push_back(static_cast<uint8_t>(ethertype));
    for (size_t i = 0; i < payload_len; ++i)
        f.push_back(static_cast<uint8_t>(marker + i));
    return f;
}

std::vector<uint8_t> make_tagged_frame(const MAC& dst, const MAC& src, uint16_t ethertype,
                                       size_t payload_len, uint8_t marker) {
    std::vector<uint8_t> f = make_frame(dst, src, ethertype, payload_len, marker);
    f.insert(f.begin() + 12, {0x81, 0x00, 0x00, 0x05});
    return f;
}

MAC mac_of(const char* text) {
    MAC mac;
    if (!MAC::parse(text, mac))
        std::abort();
    return mac;
}

bool run_until(uv_loop_t* loop, const std::function<bool()>& done, int timeout_ms) {
    bool timed_out = false;
    uv_timer_t timer;
    uv_timer_init(loop, &timer);
    timer.data = &timed_out;
    uv_timer_start(
        &timer, [](uv_timer_t* t) { *static_cast<bool*>(t->data) = true; },
        static_cast<uint64_t>(timeout_ms), 0);
    while (!done() && !timed_out)
        uv_run(loop, UV_RUN_ONCE);
    uv_timer_stop(&timer);
    uv_close(reinterpret_cast<uv_handle_t*>(&timer), nullptr);
    uv_run(loop, UV_RUN_NOWAIT);  // completes the timer's close
    return done();
}

bool drain_and_close(uv_loop_t* loop) {
    uv_run(loop, UV_RUN_NOWAIT);
    return uv_loop_close(loop) == 0;
}

std::string private_segment(uint16_t port) {
    unsigned pid = static_cast<unsigned>(getpid());
    return "239." + std::to_string((pid >> 16) & 0xFF) + "." + std::to_string((pid >> 8) & 0xFF) +
           "." + std::to_string(pid & 0xFF) + ":" + std::to_string(port);
}

uint32_t le32(const std::string& bytes, size_t at) {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data() + at);
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

bool pcap_frames(const std::string& file, std::vector<std::string>& out) {
    auto u32 = [&](size_t at) { return le32(file, at); };
    out.clear();
    size_t at = kPcapFileHeaderLen;
    while (at + kPcapRecordHeaderLen <= file.size()) {
        const uint32_t caplen = u32(at + 8);
        if (caplen != u32(at + 12) || at + kPcapRecordHeaderLen + caplen > file.size())
            return false;
        out.push_back(file.substr(at + kPcapRecordHeaderLen, caplen));
        at += kPcapRecordHeaderLen + caplen;
    }
    return at == file.size();
}

bool inject_datagram(const std::string& segment, const std::vector<uint8_t>& data) {
    uint32_t group;
    uint16_t port;
    if (!parse_segment_address(segment, &group, &port))
        return false;
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    struct in_addr lo;
    lo.s_addr = htonl(INADDR_LOOPBACK);
    unsigned char ttl = 0;
    // Bound to 127.0.0.1 as well: an emulator without IP_MULTICAST_IF (qemu-user 7) still
    // sends the group's datagrams out of the loopback interface.
    struct sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_addr = lo;
    if (bind(fd, reinterpret_cast<struct sockaddr*>(&local), sizeof local) != 0) {
        close(fd);
        return false;
    }
    setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &lo, sizeof lo);
    setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
    struct sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = group;
    to.sin_port = htons(port);
    ssize_t n =
        sendto(fd, data.data(), data.size(), 0, reinterpret_cast<struct sockaddr*>(&to), sizeof to);
    close(fd);
    return n == static_cast<ssize_t>(data.size());
}

namespace {
void capture_sink(int, const char* module, const std::string& text) {
    LogCapture::lines().push_back(std::string(module) + ": " + text);
}
}  // namespace

LogCapture::LogCapture() {
    lines().clear();
    map_log_set_sink(&capture_sink);
}
LogCapture::~LogCapture() {
    map_log_set_sink(nullptr);
}

std::vector<std::string>& LogCapture::lines() {
    static std::vector<std::string> l;
    return l;
}

size_t LogCapture::count(const std::string& text) {
    size_t n = 0;
    for (const std::string& line : lines())
        n += line.find(text) != std::string::npos;
    return n;
}

bool have_program(const char* program) {
    return run_command(std::string("command -v ") + program + " >/dev/null 2>&1") == 0;
}

int run_command(const std::string& command, std::string* out) {
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr)
        return -1;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) {
        if (out)
            out->append(buf, n);
    }
    int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool frame_info(const uint8_t* frame, size_t len, FrameInfo& out) {
    const uint8_t* payload = nullptr;
    size_t plen = 0;
    cmdu_header h;
    if (len < 14 || !parse_1905_ethernet_frame(frame, len, out.src, payload, plen) ||
        !parse_1905_CMDU_header(payload, plen, h))
        return false;
    out.dst = MAC(frame);
    out.type = h.message_type;
    out.mid = h.message_id;
    out.fragment = h.fragment_id;
    out.last_fragment = h.last_fragment;
    out.frame = frame;
    out.len = len;
    return true;
}

int LossySegmentTransport::send_frame(size_t if_index, const uint8_t* frame, size_t len) {
    FrameInfo f;
    if (filter_ && *filter_ && frame_info(frame, len, f) && (*filter_)(f))
        return 0;  // lost on the way
    return SegmentTransport::send_frame(if_index, frame, len);
}
