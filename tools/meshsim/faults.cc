#include "faults.h"

#include <algorithm>
#include <cstdio>

namespace meshsim {

namespace {

uint64_t splitmix(uint64_t& state) {
    uint64_t z = (state += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

double compound(double a, double b) {
    return 1.0 - (1.0 - a) * (1.0 - b);
}

// The first key set among CANDIDATES, else 0.
double first_set(std::initializer_list<double> candidates) {
    for (double v : candidates) {
        if (v >= 0)
            return v;
    }
    return 0;
}
long long first_set(std::initializer_list<long long> candidates) {
    for (long long v : candidates) {
        if (v >= 0)
            return v;
    }
    return 0;
}

}  // namespace

bool FaultDir::any() const {
    return multicast_loss > 0 || unicast_loss > 0 || delay_ms > 0 || jitter_ms > 0 ||
           duplicate > 0 || reorder > 0;
}

void FaultDir::then(const FaultDir& o) {
    multicast_loss = compound(multicast_loss, o.multicast_loss);
    unicast_loss = compound(unicast_loss, o.unicast_loss);
    delay_ms += o.delay_ms;
    jitter_ms += o.jitter_ms;
    duplicate = compound(duplicate, o.duplicate);
    reorder = compound(reorder, o.reorder);
}

bool FaultKeys::empty() const {
    return loss < 0 && multicast_loss < 0 && unicast_loss < 0 && duplicate < 0 && reorder < 0 &&
           delay_ms < 0 && jitter_ms < 0;
}

void FaultKeys::merge(const FaultKeys& o) {
    for (auto p : {std::make_pair(&loss, o.loss), std::make_pair(&multicast_loss, o.multicast_loss),
                   std::make_pair(&unicast_loss, o.unicast_loss),
                   std::make_pair(&duplicate, o.duplicate), std::make_pair(&reorder, o.reorder)}) {
        if (p.second >= 0)
            *p.first = p.second;
    }
    if (o.delay_ms >= 0)
        delay_ms = o.delay_ms;
    if (o.jitter_ms >= 0)
        jitter_ms = o.jitter_ms;
}

void FaultSpec::merge(const FaultSpec& o) {
    both.merge(o.both);
    to_agents.merge(o.to_agents);
    from_agents.merge(o.from_agents);
}

FaultDir FaultSpec::resolve(FaultWay way) const {
    const FaultKeys& w = way == FaultWay::to_agents ? to_agents : from_agents;
    const FaultKeys& b = both;
    FaultDir d;
    d.multicast_loss = first_set({w.multicast_loss, w.loss, b.multicast_loss, b.loss});
    d.unicast_loss = first_set({w.unicast_loss, w.loss, b.unicast_loss, b.loss});
    d.delay_ms = first_set({w.delay_ms, b.delay_ms});
    d.jitter_ms = first_set({w.jitter_ms, b.jitter_ms});
    d.duplicate = first_set({w.duplicate, b.duplicate});
    d.reorder = first_set({w.reorder, b.reorder});
    return d;
}

std::string describe(const FaultDir& f) {
    if (!f.any())
        return "none";
    auto pc = [](double r) {
        char t[16];
        std::snprintf(t, sizeof t, "%g %%", r * 100);
        return std::string(t);
    };
    std::string out;
    auto add = [&](const std::string& part) { out += (out.empty() ? "" : ", ") + part; };
    if (f.multicast_loss > 0 || f.unicast_loss > 0)
        add(pc(f.multicast_loss) + " multicast and " + pc(f.unicast_loss) + " unicast lost");
    if (f.delay_ms > 0 || f.jitter_ms > 0)
        add(std::to_string(f.delay_ms) + "+" + std::to_string(f.jitter_ms) + " ms late");
    if (f.duplicate > 0)
        add(pc(f.duplicate) + " duplicated");
    if (f.reorder > 0)
        add(pc(f.reorder) + " reordered");
    return out;
}

std::string fault_ratio_problem(double v) {
    return v >= 0 && v <= 1 ? "" : "expected a ratio from 0 to 1";
}

std::string fault_delay_problem(long long v) {
    return v >= 0 && v <= kMaxFaultDelayMs
               ? ""
               : "expected milliseconds from 0 to " + std::to_string(kMaxFaultDelayMs);
}

// ---- the gate --------------------------------------------------------------------------

FaultGate::FaultGate(uint64_t seed, Deliver deliver) : seed_(seed), deliver_(std::move(deliver)) {}

FaultGate::Stream& FaultGate::stream(size_t endpoint, FaultWay way) {
    auto key = std::make_pair(endpoint, static_cast<int>(way));
    auto it = streams_.find(key);
    if (it == streams_.end()) {
        Stream s;
        uint64_t a = seed_, b = endpoint * 2 + static_cast<uint64_t>(way) + 1;
        s.rng = splitmix(a) ^ splitmix(b);
        it = streams_.emplace(key, s).first;
    }
    return it->second;
}

double FaultGate::draw(Stream& s) {
    return static_cast<double>(splitmix(s.rng) >> 11) * (1.0 / 9007199254740992.0);
}

bool FaultGate::hold(const Key& key, size_t endpoint, FaultWay way, const uint8_t* frame,
                     size_t len) {
    if (held_.size() >= kMaxHeldFrames || held_bytes_ + len > kMaxHeldBytes) {
        ++stats_.overflow;
        return false;
    }
    Held h;
    h.endpoint = endpoint;
    h.way = way;
    h.frame.assign(frame, frame + len);
    held_bytes_ += len;
    held_.emplace(key, std::move(h));
    return true;
}

void FaultGate::release_waiting(Stream& s, const Key* after) {
    if (!s.has_waiting)
        return;
    s.has_waiting = false;
    auto it = held_.find(s.waiting);
    if (it == held_.end())
        return;
    Held h = std::move(it->second);
    held_.erase(it);
    if (after) {
        held_.emplace(Key(after->first, ++seq_), std::move(h));
        return;
    }
    held_bytes_ -= h.frame.size();
    deliver_(h.endpoint, h.way, h.frame.data(), h.frame.size());
}

void FaultGate::pass(size_t endpoint, FaultWay way, const FaultDir& f, const uint8_t* frame,
                     size_t len, long long now_ms) {
    FaultWayStats& st = stats_.way[static_cast<int>(way)];
    ++st.frames;
    Stream& s = stream(endpoint, way);
    // Four draws per frame whatever the faults, so that the streams stay aligned.
    const double u_loss = draw(s), u_jitter = draw(s), u_dup = draw(s), u_reorder = draw(s);
    const bool multicast = len >= 1 && (frame[0] & 1) != 0;
    if (u_loss < (multicast ? f.multicast_loss : f.unicast_loss)) {
        ++(multicast ? st.lost_multicast : st.lost_unicast);
        return;
    }
    const int copies = u_dup < f.duplicate ? 2 : 1;
    if (copies == 2)
        ++st.duplicated;
    long long due = now_ms + f.delay_ms + static_cast<long long>(u_jitter * f.jitter_ms);
    if (u_reorder < f.reorder && !s.has_waiting) {
        // Held back until the next frame of this way has gone.
        ++st.reordered;
        Key key(std::max(due, now_ms + kReorderHoldMs), ++seq_);
        for (int c = 0; c < copies; ++c) {
            if (hold(Key(key.first, c == 0 ? key.second : ++seq_), endpoint, way, frame, len) &&
                c == 0) {
                s.has_waiting = true;
                s.waiting = key;
            }
        }
        return;
    }
    due = std::max(due, s.last_due);
    s.last_due = due;
    if (due <= now_ms) {
        for (int c = 0; c < copies; ++c)
            deliver_(endpoint, way, frame, len);
        release_waiting(s, nullptr);
        return;
    }
    ++st.delayed;
    Key key(due, 0);
    for (int c = 0; c < copies; ++c) {
        key.second = ++seq_;
        hold(key, endpoint, way, frame, len);
    }
    release_waiting(s, &key);
}

void FaultGate::release(long long now_ms) {
    while (!held_.empty() && held_.begin()->first.first <= now_ms) {
        auto it = held_.begin();
        Held h = std::move(it->second);
        const Key key = it->first;
        held_.erase(it);
        held_bytes_ -= h.frame.size();
        Stream& s = stream(h.endpoint, h.way);
        if (s.has_waiting && s.waiting == key)
            s.has_waiting = false;
        deliver_(h.endpoint, h.way, h.frame.data(), h.frame.size());
    }
}

long long FaultGate::next_due() const {
    return held_.empty() ? -1 : held_.begin()->first.first;
}

void FaultGate::clear() {
    held_.clear();
    held_bytes_ = 0;
    for (auto& kv : streams_)
        kv.second.has_waiting = false;
}

std::string FaultGate::summary() const {
    std::string out = "faults (seed " + std::to_string(seed_) + "):";
    const char* names[2] = {"to agents", "from agents"};
    for (int w = 0; w < 2; ++w) {
        const FaultWayStats& s = stats_.way[w];
        char line[256];
        std::snprintf(line, sizeof line,
                      " %s %llu frames, %llu multicast and %llu unicast lost, %llu duplicated, "
                      "%llu delayed, %llu reordered;",
                      names[w], static_cast<unsigned long long>(s.frames),
                      static_cast<unsigned long long>(s.lost_multicast),
                      static_cast<unsigned long long>(s.lost_unicast),
                      static_cast<unsigned long long>(s.duplicated),
                      static_cast<unsigned long long>(s.delayed),
                      static_cast<unsigned long long>(s.reordered));
        out += line;
    }
    out += " " + std::to_string(stats_.overflow) + " dropped over the hold's bounds";
    return out;
}

}  // namespace meshsim
