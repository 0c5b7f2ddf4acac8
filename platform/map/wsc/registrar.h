// The controller's WSC registrar: answers an agent's M1 (one per radio, in an
// AP-Autoconfiguration WSC message) with one M2 per configured BSS that
// matches the radio's band, all in one AP-Autoconfiguration WSC message with
// the radio's identifier, or with a single Tear Down M2 when no credential
// matches. Each M1 gets a fresh Diffie-Hellman key pair and nonce; every
// secret is wiped once the answer left.
//
// Hostile input costs little: an M1 is parsed strictly, a replayed enrollee
// nonce is refused, and the work is bounded per AL MAC and in total by token
// buckets on the manual-clock-friendly get_current_time_ms(). Refusals are
// logged (module "map.controller") at most once per 10 s per kind, with the
// number not logged. No key ever reaches a log line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/mac.h"
#include "map/cmdu.h"
#include "map/map_config.h"
#include "map/wsc/wsc_messages.h"

struct WscRegistrarLimits {
    unsigned agent_burst = 8;          // M1s one AL MAC may send back to back
    long long agent_refill_ms = 4000;  // then one more per this long
    unsigned total_burst = 256;        // M1s of all agents back to back (a whole mesh renewing)
    long long total_refill_ms = 125;   // then eight per second
    size_t max_agents = 128;           // AL MACs remembered (least recently heard go first)
    size_t nonces_kept = 8;            // enrollee nonces remembered per AL MAC
};

struct WscRegistrarStats {
    uint64_t m1_received = 0;     // WSC messages looked at
    uint64_t answered = 0;        // M1s answered (AP-Autoconfiguration WSC sent)
    uint64_t m2_sent = 0;         // M2s in them
    uint64_t teardowns = 0;       // answers that were a Tear Down
    uint64_t malformed = 0;       // not a usable M1 (or missing its radio)
    uint64_t replayed = 0;        // enrollee nonce seen before
    uint64_t rate_limited = 0;    // over the per-agent or total budget
    uint64_t unexpected = 0;      // a WSC message that is not an M1
    uint64_t not_configured = 0;  // no credentials stored: left unanswered
    uint64_t send_failed = 0;     // could not be built or sent
};

// The outcome of one M1, for the log and the tests.
enum class WscOutcome {
    none,  // no WSC TLV in the message
    answered,
    teardown,
    malformed,
    replayed,
    rate_limited,
    unexpected,
    not_configured,
    send_failed,
};
const char* wsc_outcome_name(WscOutcome o);

class WscRegistrar {
  public:
    // Sends CMDU to AL_MAC on IFNAME (null: where the AL last heard it). 0 or MAP_SEND_*.
    using Send = std::function<int(const MAC& al_mac, CMDU& cmdu, const char* ifname)>;

    explicit WscRegistrar(Send send, WscRegistrarLimits limits = {});

    // Who the M2s say the registrar is (UUID-R random per process unless set).
    void set_identity(const WscRegistrarIdentity& id) { identity_ = id; }
    const WscRegistrarIdentity& identity() const { return identity_; }

    // One received AP-Autoconfiguration WSC message: answered with CREDS
    // (null: none stored, the M1 stays unanswered until a renew).
    WscOutcome on_wsc(const CMDU& cmdu, const map_credential_config_t* creds);

    const WscRegistrarStats& stats() const { return stats_; }
    size_t agents_tracked() const { return agents_.size(); }
    // The agents that sent it an M1 (the most recent max_agents).
    std::vector<MAC> agent_macs() const {
        std::vector<MAC> out;
        for (const Agent& a : agents_)
            out.push_back(a.al_mac);
        return out;
    }

  private:
    struct Bucket {
        unsigned tokens = 0;
        long long at_ms = 0;
        bool started = false;
    };
    struct Agent {
        MAC al_mac;
        Bucket bucket;
        std::vector<std::vector<uint8_t>> nonces;  // ring of enrollee nonces
        size_t next_nonce = 0;
        long long last_heard_ms = 0;
    };
    struct LogGate {
        long long last_ms = 0;
        bool logged = false;
        uint64_t suppressed = 0;
    };

    Agent& agent(const MAC& al_mac, long long now);
    static bool take(Bucket& b, unsigned burst, long long refill_ms, long long now);
    bool seen_nonce(Agent& a, const uint8_t* nonce);
    void refuse(LogGate& gate, int level, const std::string& text);
    WscOutcome answer(const CMDU& cmdu, const WscM1& m1, const MAC& radio_id, uint8_t max_bss,
                      int band, const map_credential_config_t& creds);

    Send send_;
    WscRegistrarLimits limits_;
    WscRegistrarIdentity identity_;
    Bucket total_;
    std::vector<Agent> agents_;
    WscRegistrarStats stats_;
    LogGate log_malformed_, log_replayed_, log_rate_, log_unexpected_, log_unconfigured_,
        log_failed_;
};
