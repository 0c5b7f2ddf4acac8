// The controller's IEEE 1905.1 abstraction layer (AL): what the device does on
// its 1905 interfaces on its own, below the daemon.
//
//   - Topology Discovery on every interface at start and every
//     discovery_interval_s, and on an interface where a new neighbour
//     announced itself or an AL never heard before sent anything (at most
//     one a second); a neighbour table from the discoveries heard,
//     aged out and bounded; a Topology Notification (relayed multicast) when
//     it changes; a Topology Query to every new neighbour.
//   - A Topology Response to every Topology Query; a query for the own AL MAC
//     is answered locally (query_self()).
//   - AP-Autoconfiguration as registrar (controller): a Search for the
//     registrar role gets a Response.
//   - A Link Metric Response to every Link Metric Query (wired figures: the
//     transport's frame counters, 1000 Mb/s, 100 % available).
//   - The 1905 Ack for the messages an agent expects one for.
//   - Requests that await an answer or an Ack are sent again, with the same
//     message id, while it does not come (bounded: see map/al/requests.h); an
//     answer that comes twice is delivered once. A request heard again (its
//     sender missed the answer) is answered or acknowledged again, and not
//     delivered again.
//   - Relayed multicast CMDUs are forwarded, unchanged, to the other interfaces.
//   - Duplicates, by (source, message type, message id, fragment), are dropped.
//   - Fragmented CMDUs are reassembled (bounded memory, time-out).
//
// Every CMDU received (and every local answer) is handed to the deliver
// callback on the loop thread, one at a time; the CMDU is freed after the call.
// Time comes from get_current_time_ms(): a 1 s libuv timer calls tick(), which
// does whatever is due, so tests drive it with the manual clock.
#pragma once

#include <uv.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/mac.h"
#include "map/al/requests.h"
#include "map/codec/codec.h"
#include "map/transport/transport.h"

struct MapAlOptions {
    MAC al_mac;              // zero: the transport's AL MAC
    bool controller = true;  // answers Searches as registrar, acknowledges agents' reports
    uint8_t profile = 2;     // Multi-AP profile announced
    unsigned discovery_interval_s = 60;
    // A neighbour not heard for this long is removed; 0: 2 x interval + 20 s.
    unsigned neighbor_timeout_s = 0;
    size_t max_neighbors = 64;
    size_t max_routes = 128;      // AL MAC -> interface it was last heard on
    size_t dedup_entries = 1024;  // (source, type, mid, fragment) remembered
    long long dedup_window_ms = 10000;
    MapRequestLimits requests;    // requests sent again while unanswered
    size_t max_local_queue = 16;  // local answers waiting for the loop
    CmduReassembler::Limits reassembly;
};

struct MapNeighbor {
    size_t if_index = 0;  // the local interface it was heard on
    MAC al_mac;           // its AL MAC
    MAC if_mac;           // the MAC of its interface that sent the discovery
    long long last_seen_ms = 0;
};

struct MapAlStats {
    uint64_t rx_cmdus = 0;           // complete CMDUs delivered
    uint64_t rx_malformed = 0;       // frames or CMDUs dropped as malformed
    uint64_t rx_duplicates = 0;      // frames dropped as duplicates
    uint64_t repeats_answered = 0;   // requests heard again, answered or acked again
    uint64_t relayed = 0;            // relayed multicast frames forwarded
    uint64_t tx_cmdus = 0;           // CMDUs sent (all fragments left)
    uint64_t tx_failed = 0;          // CMDUs that failed to encode or send
    uint64_t neighbors_dropped = 0;  // new neighbours refused: table full
};

class MapAl {
  public:
    // Called with every CMDU for the daemon: valid during the call only.
    using Deliver = std::function<void(CMDU* cmdu)>;

    MapAl(std::unique_ptr<Transport> transport, MapAlOptions options);
    ~MapAl();
    MapAl(const MapAl&) = delete;
    MapAl& operator=(const MapAl&) = delete;

    // Opens the transport and starts the timer; the first discoveries leave on
    // the loop's first run. 0, or a negative TransportError with ERROR set.
    int start(uv_loop_t* loop, Deliver deliver, std::string* error = nullptr);
    // Closes the transport and the timers (the loop must run once more to
    // release the handles). Nothing is delivered afterwards.
    void stop();
    bool running() const { return running_; }
    // Somebody else closed this AL's handles (and its transport's): forget
    // them without closing them again; the AL is stopped afterwards.
    void abandon();
    uv_loop_t* loop() const { return loop_; }

    // Does the work due at get_current_time_ms(): discoveries, neighbour
    // ageing, reassembly time-outs, requests to send again.
    void tick();
    // Sends again the unanswered requests that are due and gives up those
    // sent often enough (a timer runs it; tests call it after moving the clock).
    void resend_due();

    // The next message id (one counter for every message this AL starts).
    uint16_t next_message_id();

    // Encodes CMDU (fragmented when needed) and sends every fragment to DEST
    // (an AL MAC, or the 1905 multicast address) on IFNAME, or when IFNAME is
    // null: multicast on every interface, unicast on the interface DEST was
    // last heard on (every interface when unknown). ALLOCATE_MID: CMDU gets
    // the next message id (written to *MID_OUT when not null); otherwise its
    // own is kept. The source address is the AL MAC (the interface's MAC for a
    // Topology Discovery). 0, or MAP_SEND_ENCODE / MAP_SEND_SOCKET /
    // MAP_SEND_BAD_ARGUMENT / MAP_SEND_NOT_READY, logged once.
    int send(const MAC& dest, CMDU& cmdu, const char* ifname, bool allocate_mid,
             uint16_t* mid_out = nullptr);

    // Hands CMDU to the deliver callback on the loop's next turn (never from
    // inside the caller). False when the queue is full or the AL is stopped.
    bool deliver_local(CmduPtr cmdu);
    // Answers a Topology Query for the own AL MAC: a Topology Response with
    // message id MID is delivered locally, as if received.
    bool query_self(uint16_t mid);

    // The Topology Response this AL gives (message id MID).
    CmduPtr build_topology_response(uint16_t mid) const;
    // The Link Metric Response to QUERY (message id MID): one transmitter
    // and/or receiver TLV per neighbour asked for, or a result code when the
    // neighbour named is not one.
    CmduPtr build_link_metric_response(uint16_t mid, const link_metric_query_tlv& query) const;

    // The interface AL_MAC was last heard on (a neighbour or any CMDU's
    // source); null when unknown.
    const char* route_to(const MAC& al_mac) const;
    bool knows(const MAC& al_mac) const { return route_to(al_mac) != nullptr; }

    // Seconds between discoveries (1..3600); the next one leaves a full
    // interval after the last. The first leaves at the first tick after
    // start() whatever the interval is set to before it: the AL announces
    // itself at once.
    int set_discovery_interval(unsigned seconds);
    unsigned discovery_interval() const { return options_.discovery_interval_s; }

    // Called at the end of every tick() (about once a second), for the stack's
    // own delayed work.
    void set_on_tick(std::function<void()> fn) { on_tick_ = std::move(fn); }

    // Called when the neighbour table changed (after the notification left).
    void set_on_neighbors_changed(std::function<void()> fn) {
        on_neighbors_changed_ = std::move(fn);
    }

    // One received Ethernet frame from interface IF_INDEX (the transport's
    // callback; public for the fuzzer and tests).
    void receive_frame(size_t if_index, const uint8_t* frame, size_t len);

    const MAC& al_mac() const { return options_.al_mac; }
    const std::vector<MapNeighbor>& neighbors() const { return neighbors_; }
    const MapAlStats& stats() const { return stats_; }
    const MapRequests& requests() const { return requests_; }
    const CmduReassembler& reassembler() const { return reassembler_; }
    Transport& transport() { return *transport_; }

  private:
    struct Seen {
        MAC src;
        uint16_t type = 0;
        uint16_t mid = 0;
        uint16_t fragment = 0;  // kWholeMessage: the whole message was handled
        long long at_ms = 0;    // 0: free
    };
    static constexpr uint16_t kWholeMessage = 0x100;
    struct Route {
        MAC al_mac;
        size_t if_index = 0;
        long long at_ms = 0;
    };
    struct DropLog {
        long long last_ms = 0;
        bool logged = false;
        uint64_t suppressed = 0;
    };

    static void on_timer(uv_timer_t* t);
    static void on_local(uv_timer_t* t);
    static void on_resend(uv_timer_t* t);
    static void on_closed(uv_handle_t* h);

    void send_discovery();
    bool send_discovery_on(size_t if_index);
    void send_notification();
    void age_neighbors(long long now);
    // Returns true when the neighbour is new (or its table changed).
    bool learn_neighbor(size_t if_index, const MAC& al_mac, const MAC& if_mac);
    // True when AL_MAC was not known before (neither a route nor a neighbour).
    bool learn_route(const MAC& al_mac, size_t if_index);
    bool knows_neighbor(const MAC& al_mac) const;
    // True when seen before (inside the window); records it otherwise.
    bool seen_before(const MAC& src, uint16_t type, uint16_t mid, uint16_t fragment);
    // The slot that holds (SRC, TYPE, MID, FRAGMENT) when inside the window, else
    // the one to record it in.
    Seen* seen_slot(const MAC& src, uint16_t type, uint16_t mid, uint16_t fragment, bool* found);
    bool seen(const MAC& src, uint16_t type, uint16_t mid, uint16_t fragment) {
        bool found = false;
        seen_slot(src, type, mid, fragment, &found);
        return found;
    }
    void handle_cmdu(size_t if_index, CmduPtr cmdu);
    // The answers the AL gives itself to CMDU (query answers, search response,
    // 1905 Ack); REPEAT: CMDU was handled before and is heard again.
    void respond(size_t if_index, const CMDU& cmdu, bool repeat);
    // A message already handled heard again (its last fragment: HEADER, PAYLOAD).
    void answer_repeat(size_t if_index, const MAC& src, const cmdu_header& header,
                       const uint8_t* payload, size_t len);
    // A Topology Response naming this AL as a 1905 neighbour of the interface
    // that a neighbour entry records refreshes that entry.
    void refresh_neighbors(size_t if_index, const CMDU& response);
    void arm_resend();
    void log_request_stats(long long now);
    void answer_search(size_t if_index, const CMDU& search);
    void answer_link_metrics(size_t if_index, const CMDU& query);
    void acknowledge(size_t if_index, const CMDU& cmdu);
    void forward_relayed(size_t if_index, const uint8_t* frame, size_t len);
    int send_on(size_t if_index, const MAC& dest, const MAC& src,
                const std::vector<std::vector<uint8_t>>& fragments);
    void dispatch(CMDU* cmdu);
    void log_drop(DropLog& log, const char* what, const MAC& peer, const char* from = "from");
    void arm_local();

    std::unique_ptr<Transport> transport_;
    MapAlOptions options_;
    uv_loop_t* loop_ = nullptr;
    uv_timer_t* timer_ = nullptr;
    uv_timer_t* local_timer_ = nullptr;
    uv_timer_t* resend_timer_ = nullptr;
    bool running_ = false;
    bool delivering_ = false;
    Deliver deliver_;
    std::function<void()> on_neighbors_changed_;
    std::function<void()> on_tick_;
    uint16_t mid_ = 0;
    long long last_discovery_ms_ = -1;  // none sent yet
    long long announced_ms_ = -1;       // last discovery for a newly heard AL
    std::vector<MapNeighbor> neighbors_;
    std::vector<Route> routes_;
    std::vector<Seen> seen_;           // open addressing, a few probes per key
    MapRequestStats logged_requests_;  // as of the last summary line
    uint64_t logged_repeats_ = 0;
    long long requests_logged_ms_ = 0;
    CmduReassembler reassembler_;
    MapRequests requests_;
    std::deque<CmduPtr> local_;
    MapAlStats stats_;
    DropLog log_malformed_, log_neighbors_full_, log_local_full_, log_given_up_;
};

// True for the message types IEEE 1905.1 relays by multicast (Topology
// Notification, AP-Autoconfiguration Search and Renew, push button events).
bool is_relayed_multicast_type(uint16_t message_type);
