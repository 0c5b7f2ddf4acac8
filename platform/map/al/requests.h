// The requests an AL waits an answer for, sent again while the answer does not come.
//
// A request whose answer (or 1905 Ack) has not arrived one resend interval after it left is
// sent again, byte for byte (same message id, so that the receiver can tell a repeat from a
// new request), at most max_sends times in all; then it is given up and forgotten. An answer
// is matched by (peer, answer type, message id); the same answer arriving again (the peer
// answered two copies of the request) is recognised and not delivered twice. Everything is
// bounded: entries in all and per peer, bytes held, answers remembered.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "common/mac.h"

// What answers a request of some message type.
struct MapAwaitedAnswer {
    uint16_t type = 0;     // 0: no answer is awaited, the message is sent once
    bool same_mid = true;  // false: any message of that type from the peer answers it
};
MapAwaitedAnswer map_awaited_answer(uint16_t request_type);
// True for the messages a controller acknowledges with a 1905 Ack (an agent's reports).
bool controller_acknowledges(uint16_t message_type);
// True for the controller's messages an agent acknowledges with a 1905 Ack.
bool agent_acknowledges(uint16_t message_type);

struct MapRequestLimits {
    long long resend_ms = 1000;  // from one send to the next
    int max_sends = 10;          // the first send included
    size_t max_entries = 256;
    size_t max_per_peer = 64;
    size_t max_bytes = 256 * 1024;  // encoded fragments held for resending
    size_t max_answered = 256;      // answers remembered to recognise their repeats
    long long answered_ms = 30000;  // for this long
};

struct MapRequestStats {
    uint64_t tracked = 0;            // requests that awaited an answer
    uint64_t resends = 0;            // copies sent again
    uint64_t answered = 0;           // answered (first copy of the answer)
    uint64_t answered_resent = 0;    // of those: answered after being sent again
    uint64_t given_up = 0;           // never answered after max_sends sends
    uint64_t evicted = 0;            // forgotten early: a table bound was reached
    uint64_t replaced = 0;           // superseded by the same request sent anew
    uint64_t duplicate_answers = 0;  // an answer that came again, not delivered
};

class MapRequests {
  public:
    struct Entry {
        MAC peer;
        uint16_t type = 0;
        uint16_t mid = 0;
        MapAwaitedAnswer answer;
        int if_index = -1;  // the interface it left on; -1: routed afresh at each send
        std::vector<std::vector<uint8_t>> fragments;  // CMDU payloads as sent
        size_t bytes = 0;
        int sends = 0;
        long long first_ms = 0;
        long long next_ms = 0;  // next send, or the give-up time after the last send
    };
    enum class Verdict {
        other,      // no request awaited it: deliver
        answer,     // the awaited answer: deliver
        duplicate,  // an answer already delivered: drop
    };

    explicit MapRequests(MapRequestLimits limits = {}) : limits_(limits) {}

    // A request of TYPE with message id MID, just sent once to PEER (unicast) as FRAGMENTS.
    // Not tracked when nothing answers that type. A pending request to the same peer with the
    // same type and the same content (message id aside) is replaced; the oldest entries are
    // evicted to keep within the bounds. True when tracked.
    bool add(const MAC& peer, uint16_t type, uint16_t mid, int if_index,
             std::vector<std::vector<uint8_t>> fragments, long long now_ms);

    // A CMDU of TYPE with MID received from SRC: is it an awaited answer, the repeat of one,
    // or something else?
    Verdict on_received(const MAC& src, uint16_t type, uint16_t mid, long long now_ms);

    // Sends again what is due at NOW (RESEND gets the entry, its sends counter already
    // counting this copy) and gives up the requests whose last copy went unanswered
    // (GAVE_UP gets each before it is freed; may be empty).
    void run_due(long long now_ms, const std::function<void(const Entry&)>& resend,
                 const std::function<void(const Entry&)>& gave_up);

    // When run_due has something to do next; -1 when nothing is pending.
    long long next_due_ms() const;

    // Forgets every pending request (the AL stopped).
    void clear();

    size_t pending() const { return entries_.size(); }
    size_t pending_bytes() const { return bytes_; }
    const MapRequestStats& stats() const { return stats_; }
    const MapRequestLimits& limits() const { return limits_; }

  private:
    struct Answered {
        MAC peer;
        uint16_t type = 0;
        uint16_t mid = 0;
        long long at_ms = 0;
    };
    void erase(size_t i);
    void evict_one(const MAC* peer);

    MapRequestLimits limits_;
    std::vector<Entry> entries_;  // oldest first
    size_t bytes_ = 0;
    std::deque<Answered> answered_;
    MapRequestStats stats_;
};
