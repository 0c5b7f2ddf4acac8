// The 1905 transports: how the stack's abstraction layer sends and receives
// whole Ethernet frames on its interfaces, driven by the stack's libuv loop
// (one uv_poll handle per socket, no threads).
//
// A Transport owns a fixed list of interfaces, each with a name and a MAC
// address, and knows the AL MAC address of the device. Interfaces are
// addressed by their position in that list (the "interface index" below).
//
//   auto t = make_transport(config, &error);        // map/transport/make_transport.h
//   t->open(loop, [](size_t itf, const uint8_t* frame, size_t len) { ... }, &error);
//   t->send(0, frame, len);
//   t->close();   // then let the loop run once so that libuv finishes closing
//
// Receiving: only 1905 frames (ethertype 0x893A, optionally behind one VLAN
// tag) addressed to the receiving interface's MAC, the AL MAC, the 1905
// multicast address or broadcast, and not sent by this device (source is one
// of its interface MACs or its AL MAC) are delivered. Frames outside the
// Ethernet size bounds are dropped, and so are accepted frames beyond
// rx_max_frames_per_s in any one second (flood); each kind of drop is
// counted in stats() and logged at most once every kDropLogIntervalMs. The
// kernel's socket buffer is the only queue, and one wake-up reads at most
// kMaxFramesPerWakeup frames so the loop never stalls on a flood.
//
// The receive callback runs on the loop thread with a frame that is only
// valid during the call. It may call send() and close(), and may even destroy
// the transport; nothing more is delivered after close().
#pragma once

#include <uv.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/mac.h"
#include "map/transport/frame.h"
#include "map/transport/pcap_writer.h"

constexpr unsigned kMaxFramesPerWakeup = 64;
constexpr long long kDropLogIntervalMs = 10000;
constexpr unsigned kDefaultRxMaxFramesPerSecond = 2000;
constexpr size_t kMaxTransportInterfaces = 16;

struct TransportInterface {
    std::string name;     // "eth0", "ozr0"
    MAC mac;              // zero for a raw interface: read from the system at open
    std::string segment;  // segment transport: "GROUP:PORT" this interface is on
    int ifindex = 0;      // raw transport: the system's index, known after open
};

struct TransportStats {
    uint64_t rx_frames = 0;      // frames delivered (a multicast counts once)
    uint64_t rx_short = 0;       // dropped: shorter than the Ethernet bounds
    uint64_t rx_long = 0;        // dropped: longer than the Ethernet bounds
    uint64_t rx_flood = 0;       // dropped: over rx_max_frames_per_s
    uint64_t rx_not_for_us = 0;  // dropped: other destination or ethertype
    uint64_t rx_own = 0;         // dropped: sent by this device
    uint64_t rx_errors = 0;      // socket read errors
    uint64_t tx_frames = 0;      // frames handed to the system
    uint64_t tx_rejected = 0;    // refused: bad size, unknown interface, closed
    uint64_t tx_errors = 0;      // the system refused the frame
};

struct TransportOptions {
    MAC al_mac;  // zero: the first interface's MAC
    unsigned rx_max_frames_per_s = kDefaultRxMaxFramesPerSecond;
    std::string pcap_path;  // empty: no capture
    uint64_t pcap_max_bytes = 16u << 20;
};

// Error codes of open() and send(), negative.
enum TransportError {
    kTransportErrClosed = -1,       // not open
    kTransportErrNoInterface = -2,  // unknown interface index or name
    kTransportErrFrameSize = -3,    // frame outside the Ethernet bounds
    kTransportErrSystem = -4,       // a socket call failed (errno logged)
    kTransportErrConfig = -5,       // the interface list or options are unusable
};

class Transport {
  public:
    using ReceiveCallback = std::function<void(size_t if_index, const uint8_t* frame, size_t len)>;

    virtual ~Transport();
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;

    // Opens every socket and starts polling them on LOOP. 0, or a negative
    // TransportError with ERROR set (and logged); on failure nothing stays open
    // (handles already created close on the loop's next run).
    int open(uv_loop_t* loop, ReceiveCallback on_receive, std::string* error = nullptr);

    // Sends one complete Ethernet frame (no FCS) out of interface IF_INDEX / IF_NAME.
    // 0 on success, a negative TransportError otherwise.
    int send(size_t if_index, const uint8_t* frame, size_t len);
    int send(const std::string& if_name, const uint8_t* frame, size_t len);

    // Stops receiving and closes every handle. The handles' memory is released
    // by libuv's close callbacks, so the loop must run (uv_run) once more before
    // it is closed; the Transport itself may be destroyed right away.
    void close();
    // The loop's owner closed every handle itself (its shutdown walk): forget
    // the sockets without closing them again (their memory is released by
    // their own close callbacks, see generic_close_cb).
    void abandon();

    bool is_open() const { return open_; }
    virtual const char* kind() const = 0;  // "raw", "segment"
    const std::vector<TransportInterface>& interfaces() const { return interfaces_; }
    // Position of the interface named NAME, or -1.
    int find_interface(const std::string& name) const;
    const MAC& al_mac() const { return options_.al_mac; }
    const TransportStats& stats() const { return stats_; }
    // The capture file while open, when one is configured; active() turns false
    // once capture has stopped.
    const PcapWriter* capture() const { return capture_.get(); }

  protected:
    Transport(std::vector<TransportInterface> interfaces, TransportOptions options);

    // One polled socket. Lives on the heap until libuv's close callback.
    struct Endpoint {
        uv_poll_t poll;
        int fd = -1;
        Transport* owner = nullptr;  // null once the transport has closed it
        size_t tag = 0;              // the subclass's own index
    };

    // Creates the subclass's sockets and registers each with add_endpoint().
    virtual int open_sockets(std::string* error) = 0;
    // Hands FRAME to the system on interface IF_INDEX; 0 or -errno.
    virtual int send_frame(size_t if_index, const uint8_t* frame, size_t len) = 0;
    // Reads one datagram from EP into BUF (MSG_TRUNC semantics: returns the
    // full length even when larger than CAP), or -errno. Fills PKTTYPE for
    // packet sockets (PACKET_HOST...), -1 otherwise.
    virtual ssize_t read_frame(Endpoint& ep, uint8_t* buf, size_t cap, int* pkttype);
    // Chooses the interfaces that receive FRAME (already size-checked, not
    // own, 1905 ethertype) read from EP: fills TARGETS and returns their count.
    virtual size_t select_targets(const Endpoint& ep, const uint8_t* frame, size_t len, int pkttype,
                                  size_t* targets) = 0;

    // Starts polling FD for reading; the endpoint owns FD from then on, even on failure.
    int add_endpoint(int fd, size_t tag, std::string* error);
    // True when DST is addressed to interface IF_INDEX: its MAC, the AL MAC,
    // the 1905 multicast address or broadcast.
    bool addressed_to(size_t if_index, const MAC& dst) const;
    bool is_own_source(const MAC& src) const;
    // Fails open(): logs TEXT and stores it in ERROR; returns CODE.
    static int fail(std::string* error, int code, const std::string& text);

    uv_loop_t* loop_ = nullptr;
    std::vector<TransportInterface> interfaces_;
    TransportOptions options_;

  private:
    struct DropLog {
        long long last_ms = 0;
        bool logged = false;
        uint64_t suppressed = 0;
        // True when a line may be written now; SKIPPED gets the drops not logged since.
        bool allow(long long now_ms, uint64_t* skipped);
    };

    static void on_poll(uv_poll_t* handle, int status, int events);
    static void on_closed(uv_handle_t* handle);
    void read_ready(Endpoint& ep);
    // Handles one datagram; false when the transport closed during delivery.
    bool handle_frame(Endpoint& ep, const uint8_t* frame, size_t len, int pkttype);
    bool admit_frame();
    void log_drop(DropLog& log, const char* text, size_t len);

    bool open_ = false;
    // Shared so that a delivery keeps it alive when the callback closes the transport.
    std::shared_ptr<ReceiveCallback> on_receive_;
    std::vector<Endpoint*> endpoints_;
    std::unique_ptr<PcapWriter> capture_;
    TransportStats stats_;
    long long window_start_ms_ = 0;
    bool window_started_ = false;
    unsigned window_count_ = 0;
    DropLog log_short_, log_long_, log_flood_, log_read_, log_send_;
    uint8_t rx_buf_[kEthMaxTaggedFrameLen + 1];
};
