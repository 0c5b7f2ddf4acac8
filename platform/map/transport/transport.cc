#include "map/transport/transport.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/clock.h"
#include "map/map_init.h"
#include "map/map_log.h"

Transport::Transport(std::vector<TransportInterface> interfaces, TransportOptions options)
    : interfaces_(std::move(interfaces)), options_(std::move(options)) {}

Transport::~Transport() {
    close();
}

int Transport::fail(std::string* error, int code, const std::string& text) {
    map_log(MAP_LOG_IEEE1905, 3, "%s", text.c_str());
    if (error)
        *error = text;
    return code;
}

int Transport::open(uv_loop_t* loop, ReceiveCallback on_receive, std::string* error) {
    if (open_)
        return fail(error, kTransportErrConfig, std::string(kind()) + " transport already open");
    if (loop == nullptr)
        return fail(error, kTransportErrConfig, "transport: no loop");
    if (interfaces_.empty() || interfaces_.size() > kMaxTransportInterfaces) {
        return fail(error, kTransportErrConfig,
                    std::string(kind()) + " transport: needs 1 to " +
                        std::to_string(kMaxTransportInterfaces) + " interfaces");
    }
    loop_ = loop;
    if (on_receive)
        on_receive_ = std::make_shared<ReceiveCallback>(std::move(on_receive));
    stats_ = TransportStats();
    window_started_ = false;
    open_ = true;  // so that close() undoes a partial open
    int rc = open_sockets(error);
    if (rc != 0) {
        close();
        return rc;
    }
    if (options_.al_mac.is_zero())
        options_.al_mac = interfaces_[0].mac;
    if (!options_.pcap_path.empty()) {
        capture_ = std::make_unique<PcapWriter>();
        std::string why;
        if (!capture_->open(options_.pcap_path, options_.pcap_max_bytes, &why)) {
            map_log(MAP_LOG_IEEE1905, 4, "%s; continuing without capture", why.c_str());
            capture_.reset();
        }
    }
    return 0;
}

int Transport::add_endpoint(int fd, size_t tag, std::string* error) {
    auto* ep = new Endpoint;
    ep->fd = fd;
    ep->owner = this;
    ep->tag = tag;
    int rc = uv_poll_init(loop_, &ep->poll, fd);
    if (rc != 0) {
        ::close(fd);
        delete ep;
        return fail(error, kTransportErrSystem,
                    std::string(kind()) + " transport: uv_poll_init: " + uv_strerror(rc));
    }
    ep->poll.data = ep;
    endpoints_.push_back(ep);
    map_register_stack_handle(reinterpret_cast<uv_handle_t*>(&ep->poll), &Transport::on_closed);
    rc = uv_poll_start(&ep->poll, UV_READABLE, &Transport::on_poll);
    if (rc != 0) {
        return fail(error, kTransportErrSystem,
                    std::string(kind()) + " transport: uv_poll_start: " + uv_strerror(rc));
    }
    return 0;
}

void Transport::close() {
    if (!open_)
        return;
    open_ = false;
    for (Endpoint* ep : endpoints_) {
        ep->owner = nullptr;
        uv_poll_stop(&ep->poll);
        uv_close(reinterpret_cast<uv_handle_t*>(&ep->poll), &Transport::on_closed);
    }
    endpoints_.clear();
    capture_.reset();
    on_receive_ = nullptr;
}

void Transport::abandon() {
    if (!open_)
        return;
    open_ = false;
    for (Endpoint* ep : endpoints_)
        ep->owner = nullptr;
    endpoints_.clear();
    capture_.reset();
    on_receive_ = nullptr;
}

void Transport::on_closed(uv_handle_t* handle) {
    map_unregister_stack_handle(handle);
    auto* ep = static_cast<Endpoint*>(handle->data);
    if (ep->fd >= 0)
        ::close(ep->fd);
    delete ep;
}

int Transport::find_interface(const std::string& name) const {
    for (size_t i = 0; i < interfaces_.size(); ++i) {
        if (interfaces_[i].name == name)
            return static_cast<int>(i);
    }
    return -1;
}

int Transport::send(const std::string& if_name, const uint8_t* frame, size_t len) {
    int i = find_interface(if_name);
    if (i < 0) {
        ++stats_.tx_rejected;
        uint64_t skipped;
        if (log_send_.allow(get_current_time_ms(), &skipped)) {
            map_log(MAP_LOG_IEEE1905, 4, "%s transport: send on unknown interface \"%s\"", kind(),
                    if_name.c_str());
        }
        return kTransportErrNoInterface;
    }
    return send(static_cast<size_t>(i), frame, len);
}

int Transport::send(size_t if_index, const uint8_t* frame, size_t len) {
    int code = 0;
    const char* why = nullptr;
    if (!open_) {
        code = kTransportErrClosed;
        why = "transport closed";
    } else if (if_index >= interfaces_.size()) {
        code = kTransportErrNoInterface;
        why = "unknown interface";
    } else if (check_frame_size(frame, len) != FrameSize::ok) {
        code = kTransportErrFrameSize;
        why = "frame outside the Ethernet size bounds";
    }
    if (code != 0) {
        ++stats_.tx_rejected;
        uint64_t skipped;
        if (log_send_.allow(get_current_time_ms(), &skipped)) {
            map_log(MAP_LOG_IEEE1905, 4,
                    "%s transport: refused a %zu-byte frame for interface %zu: %s "
                    "(%llu more refusals not logged)",
                    kind(), len, if_index, why, static_cast<unsigned long long>(skipped));
        }
        return code;
    }
    int rc = send_frame(if_index, frame, len);
    if (rc != 0) {
        ++stats_.tx_errors;
        uint64_t skipped;
        if (log_send_.allow(get_current_time_ms(), &skipped)) {
            map_log(MAP_LOG_IEEE1905, 3,
                    "%s transport: sending %zu bytes on %s failed: %s (%llu more not logged)",
                    kind(), len, interfaces_[if_index].name.c_str(), std::strerror(-rc),
                    static_cast<unsigned long long>(skipped));
        }
        return kTransportErrSystem;
    }
    ++stats_.tx_frames;
    if (capture_)
        capture_->write(frame, len);
    return 0;
}

void Transport::on_poll(uv_poll_t* handle, int status, int events) {
    auto* ep = static_cast<Endpoint*>(handle->data);
    if (ep->owner == nullptr)
        return;
    if (status < 0) {
        Transport& t = *ep->owner;
        ++t.stats_.rx_errors;
        uint64_t skipped;
        if (t.log_read_.allow(get_current_time_ms(), &skipped)) {
            map_log(MAP_LOG_IEEE1905, 3, "%s transport: poll error: %s", t.kind(),
                    uv_strerror(status));
        }
        return;
    }
    if (events & UV_READABLE)
        ep->owner->read_ready(*ep);
}

ssize_t Transport::read_frame(Endpoint& ep, uint8_t* buf, size_t cap, int* pkttype) {
    *pkttype = -1;
    ssize_t n = ::recv(ep.fd, buf, cap, MSG_TRUNC | MSG_DONTWAIT);
    return n < 0 ? -errno : n;
}

void Transport::read_ready(Endpoint& ep) {
    for (unsigned i = 0; i < kMaxFramesPerWakeup; ++i) {
        int pkttype = -1;
        ssize_t n = read_frame(ep, rx_buf_, sizeof rx_buf_, &pkttype);
        if (n == -EINTR)
            continue;
        if (n == -EAGAIN || n == -EWOULDBLOCK)
            return;
        if (n < 0) {
            ++stats_.rx_errors;
            uint64_t skipped;
            if (log_read_.allow(get_current_time_ms(), &skipped)) {
                map_log(MAP_LOG_IEEE1905, 3, "%s transport: read failed: %s", kind(),
                        std::strerror(static_cast<int>(-n)));
            }
            return;
        }
        // N is the datagram's real length; a larger one was cut to the buffer.
        size_t len = static_cast<size_t>(n);
        if (len > sizeof rx_buf_)
            len = sizeof rx_buf_;
        if (!handle_frame(ep, rx_buf_, len, pkttype))
            return;  // closed: touch nothing
    }
}

bool Transport::handle_frame(Endpoint& ep, const uint8_t* frame, size_t len, int pkttype) {
    switch (check_frame_size(frame, len)) {
        case FrameSize::too_short:
            ++stats_.rx_short;
            log_drop(log_short_, "shorter than the Ethernet bounds", len);
            return true;
        case FrameSize::too_long:
            ++stats_.rx_long;
            log_drop(log_long_, "longer than the Ethernet bounds", len);
            return true;
        case FrameSize::ok:
            break;
    }
    if (is_own_source(frame_src(frame))) {
        ++stats_.rx_own;
        return true;
    }
    if (frame_ethertype(frame, len) != kEthertype1905) {
        ++stats_.rx_not_for_us;
        return true;
    }
    size_t targets[kMaxTransportInterfaces];
    size_t count = select_targets(ep, frame, len, pkttype, targets);
    if (count == 0) {
        ++stats_.rx_not_for_us;
        return true;
    }
    if (!admit_frame()) {
        ++stats_.rx_flood;
        log_drop(log_flood_, "over the receive rate limit", len);
        return true;
    }
    ++stats_.rx_frames;
    if (capture_)
        capture_->write(frame, len);
    for (size_t i = 0; i < count; ++i) {
        if (on_receive_) {
            // The callback may close the transport, which drops on_receive_.
            std::shared_ptr<ReceiveCallback> cb = on_receive_;
            (*cb)(targets[i], frame, len);
        }
        if (ep.owner == nullptr)
            return false;
    }
    return true;
}

bool Transport::admit_frame() {
    long long now = get_current_time_ms();
    if (!window_started_ || now - window_start_ms_ >= 1000 || now < window_start_ms_) {
        window_started_ = true;
        window_start_ms_ = now;
        window_count_ = 0;
    }
    if (window_count_ >= options_.rx_max_frames_per_s)
        return false;
    ++window_count_;
    return true;
}

void Transport::log_drop(DropLog& log, const char* text, size_t len) {
    uint64_t skipped;
    if (!log.allow(get_current_time_ms(), &skipped))
        return;
    map_log(MAP_LOG_IEEE1905, 4,
            "%s transport: dropped a %zu-byte frame %s (%llu more such drops in the last %lld s "
            "not logged)",
            kind(), len, text, static_cast<unsigned long long>(skipped), kDropLogIntervalMs / 1000);
}

bool Transport::DropLog::allow(long long now_ms, uint64_t* skipped) {
    if (logged && now_ms - last_ms < kDropLogIntervalMs && now_ms >= last_ms) {
        ++suppressed;
        return false;
    }
    *skipped = suppressed;
    suppressed = 0;
    logged = true;
    last_ms = now_ms;
    return true;
}

bool Transport::addressed_to(size_t if_index, const MAC& dst) const {
    return dst == interfaces_[if_index].mac || dst == options_.al_mac || dst == k1905MulticastMac ||
           dst.is_broadcast();
}

bool Transport::is_own_source(const MAC& src) const {
    if (src == options_.al_mac)
        return true;
    for (const TransportInterface& itf : interfaces_) {
        if (src == itf.mac)
            return true;
    }
    return false;
}
