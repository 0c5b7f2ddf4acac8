// Faults on the way between the controller and the simulated agents: lost frames
// (multicast and unicast apart, in each direction), extra delay with jitter,
// duplicated and reordered frames. They act where meshsim sends and receives
// frames, so the controller and its stack run untouched.
//
// A scenario sets them for the whole mesh, per agent and per backhaul link (a
// "faults" object, see docs/meshsim.md); the command line adds to the whole
// mesh's. A frame of an agent meets the mesh's faults, the agent's own, then those
// of every backhaul link between it and the controller, as a real frame crosses
// each hop. Every random draw comes from a seeded generator, one stream per agent
// and direction, so a run with the same seed and the same frames repeats exactly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace meshsim {

constexpr long long kMaxFaultDelayMs = 60000;
// A frame held for reordering leaves after the next frame of its way, or this late.
constexpr long long kReorderHoldMs = 100;
// What the faults may hold back at once (delayed and reordered frames); beyond it a
// frame is dropped and counted.
constexpr size_t kMaxHeldFrames = 4096;
constexpr size_t kMaxHeldBytes = 4u << 20;

enum class FaultWay { to_agents = 0, from_agents = 1 };

// What a frame meets on one way, resolved.
struct FaultDir {
    double multicast_loss = 0, unicast_loss = 0;
    long long delay_ms = 0, jitter_ms = 0;  // each frame waits delay + [0, jitter)
    double duplicate = 0, reorder = 0;

    bool any() const;
    // OTHER after this on the same way: losses, duplicates and reorderings compound,
    // delays add up.
    void then(const FaultDir& other);
};

// The keys of one "faults" object as written; negative: not set.
struct FaultKeys {
    double loss = -1, multicast_loss = -1, unicast_loss = -1, duplicate = -1, reorder = -1;
    long long delay_ms = -1, jitter_ms = -1;

    bool empty() const;
    void merge(const FaultKeys& over);  // the keys set in OVER replace ours
};

// A "faults" object: keys for both ways, and per way ("to_agents", "from_agents"),
// the more specific key winning (a way's key over the common one, "multicast_loss" or
// "unicast_loss" over "loss").
struct FaultSpec {
    FaultKeys both, to_agents, from_agents;

    bool empty() const { return both.empty() && to_agents.empty() && from_agents.empty(); }
    void merge(const FaultSpec& over);
    FaultDir resolve(FaultWay way) const;
};

// "10 % multicast and 2 % unicast lost, 50+100 ms late" (or "none").
std::string describe(const FaultDir& f);

// Checks one value of a fault key (the same rule for the scenario and the command
// line). Empty when acceptable, else what was expected.
std::string fault_ratio_problem(double v);
std::string fault_delay_problem(long long v);

struct FaultWayStats {
    uint64_t frames = 0;  // frames that met faults on this way
    uint64_t lost_multicast = 0, lost_unicast = 0;
    uint64_t duplicated = 0, delayed = 0, reordered = 0;
};
struct FaultStats {
    FaultWayStats way[2];   // by FaultWay
    uint64_t overflow = 0;  // dropped because the hold was full
};

// The engine: decides each frame's fate and holds the delayed ones. Time is given by
// the caller (milliseconds), so tests drive it without a clock.
class FaultGate {
  public:
    // Hands a frame on: ENDPOINT and WAY as passed to pass().
    using Deliver = std::function<void(size_t endpoint, FaultWay way, const uint8_t*, size_t)>;

    FaultGate(uint64_t seed, Deliver deliver);

    // One frame of ENDPOINT on WAY meets F at NOW_MS: lost, delivered at once (and
    // perhaps twice), or held until release() hands it over.
    void pass(size_t endpoint, FaultWay way, const FaultDir& f, const uint8_t* frame, size_t len,
              long long now_ms);
    // Delivers every held frame due at NOW_MS or before, in order.
    void release(long long now_ms);
    // When the next held frame is due; -1 when none is held.
    long long next_due() const;
    // Drops everything held (the simulator stops).
    void clear();

    size_t held_frames() const { return held_.size(); }
    size_t held_bytes() const { return held_bytes_; }
    const FaultStats& stats() const { return stats_; }
    uint64_t seed() const { return seed_; }
    // One line for the log: what the faults did so far.
    std::string summary() const;

  private:
    struct Stream {
        uint64_t rng = 0;
        long long last_due = 0;  // frames of a way leave in order (but for reordering)
        bool has_waiting = false;
        std::pair<long long, uint64_t> waiting;  // the frame held for reordering
    };
    struct Held {
        size_t endpoint = 0;
        FaultWay way = FaultWay::to_agents;
        std::vector<uint8_t> frame;
    };
    using Key = std::pair<long long, uint64_t>;  // due, sequence

    Stream& stream(size_t endpoint, FaultWay way);
    double draw(Stream& s);
    bool hold(const Key& key, size_t endpoint, FaultWay way, const uint8_t* frame, size_t len);
    // The frame waiting behind a reordered one goes right after KEY (or now).
    void release_waiting(Stream& s, const Key* after);

    uint64_t seed_;
    Deliver deliver_;
    std::map<std::pair<size_t, int>, Stream> streams_;
    std::map<Key, Held> held_;
    size_t held_bytes_ = 0;
    uint64_t seq_ = 0;
    FaultStats stats_;
};

}  // namespace meshsim
