#include "map/al/requests.h"

#include <algorithm>

#include "map/codec/codec.h"
#include "map/codec/tlv_types.h"

bool controller_acknowledges(uint16_t message_type) {
    switch (message_type) {
        case CMDU_TYPE_OPERATING_CHANNEL_REPORT:
        case CMDU_TYPE_UNASSOCIATED_STA_LINK_METRICS_RESPONSE:
        case CMDU_TYPE_BEACON_METRICS_RESPONSE:
        case CMDU_TYPE_CLIENT_STEERING_BTM_REPORT:
        case CMDU_TYPE_STEERING_COMPLETED:
        case CMDU_TYPE_HIGHER_LAYER_DATA:
        case CMDU_TYPE_BACKHAUL_STEERING_RESPONSE:
        case CMDU_TYPE_CHANNEL_SCAN_REPORT:
        case CMDU_TYPE_TUNNELED:
        case CMDU_TYPE_FAILED_CONNECTION:
            return true;
        default:
            return false;
    }
}

bool agent_acknowledges(uint16_t message_type) {
    switch (message_type) {
        case CMDU_TYPE_MULTI_AP_POLICY_CONFIG_REQUEST:
        case CMDU_TYPE_UNASSOCIATED_STA_LINK_METRICS_QUERY:
        case CMDU_TYPE_BEACON_METRICS_QUERY:
        case CMDU_TYPE_COMBINED_INFRASTRUCTURE_METRICS:
        case CMDU_TYPE_CLIENT_STEERING_REQUEST:
        case CMDU_TYPE_CLIENT_ASSOCIATION_CONTROL_REQUEST:
        case CMDU_TYPE_HIGHER_LAYER_DATA:
        case CMDU_TYPE_BACKHAUL_STEERING_REQUEST:
        case CMDU_TYPE_CHANNEL_SCAN_REQUEST:
        case CMDU_TYPE_CAC_REQUEST:
        case CMDU_TYPE_CAC_TERMINATION:
            return true;
        default:
            return false;
    }
}

MapAwaitedAnswer map_awaited_answer(uint16_t request_type) {
    switch (request_type) {
        case CMDU_TYPE_TOPOLOGY_QUERY:
            return {CMDU_TYPE_TOPOLOGY_RESPONSE, true};
        case CMDU_TYPE_AP_CAPABILITY_QUERY:
            return {CMDU_TYPE_AP_CAPABILITY_REPORT, true};
        case CMDU_TYPE_CLIENT_CAPABILITY_QUERY:
            return {CMDU_TYPE_CLIENT_CAPABILITY_REPORT, true};
        case CMDU_TYPE_CHANNEL_PREFERENCE_QUERY:
            return {CMDU_TYPE_CHANNEL_PREFERENCE_REPORT, true};
        case CMDU_TYPE_CHANNEL_SELECTION_REQUEST:
            return {CMDU_TYPE_CHANNEL_SELECTION_RESPONSE, true};
        case CMDU_TYPE_BACKHAUL_STA_CAPABILITY_QUERY:
            return {CMDU_TYPE_BACKHAUL_STA_CAPABILITY_REPORT, true};
        case CMDU_TYPE_AP_AUTOCONFIGURATION_RENEW:
            // The agent answers by starting its WSC exchange: an M1 with a message id of
            // its own.
            return {CMDU_TYPE_AP_AUTOCONFIGURATION_WSC, false};
        default:
            break;
    }
    if (agent_acknowledges(request_type) || controller_acknowledges(request_type))
        return {CMDU_TYPE_1905_ACK, true};
    return {};
}

namespace {

// Same message apart from its id: type and TLV bytes of every fragment.
bool same_content(const std::vector<std::vector<uint8_t>>& a,
                  const std::vector<std::vector<uint8_t>>& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].size() != b[i].size() || a[i].size() < CMDU_HEADER_LEN)
            return false;
        // Header: version, reserved, type (2), message id (2), fragment id, flags.
        if (!std::equal(a[i].begin(), a[i].begin() + 4, b[i].begin()) ||
            !std::equal(a[i].begin() + 6, a[i].end(), b[i].begin() + 6))
            return false;
    }
    return true;
}

}  // namespace

void MapRequests::erase(size_t i) {
    bytes_ -= entries_[i].bytes;
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(i));
}

void MapRequests::evict_one(const MAC* peer) {
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (peer == nullptr || entries_[i].peer == *peer) {
            erase(i);
            ++stats_.evicted;
            return;
        }
    }
}

bool MapRequests::add(const MAC& peer, uint16_t type, uint16_t mid, int if_index,
                      std::vector<std::vector<uint8_t>> fragments, long long now_ms) {
    MapAwaitedAnswer answer = map_awaited_answer(type);
    if (answer.type == 0 || limits_.max_sends < 2)
        return false;
    size_t bytes = 0;
    for (const auto& f : fragments)
        bytes += f.size();
    if (bytes > limits_.max_bytes || limits_.max_entries == 0 || limits_.max_per_peer == 0)
        return false;
    size_t of_peer = 0;
    for (size_t i = 0; i < entries_.size();) {
        Entry& e = entries_[i];
        if (e.peer == peer && e.type == type && same_content(e.fragments, fragments)) {
            erase(i);  // the same request asked anew: the new one is what counts
            ++stats_.replaced;
            continue;
        }
        of_peer += e.peer == peer;
        ++i;
    }
    for (; of_peer >= limits_.max_per_peer; --of_peer)
        evict_one(&peer);
    while (!entries_.empty() &&
           (entries_.size() >= limits_.max_entries || bytes_ + bytes > limits_.max_bytes))
        evict_one(nullptr);
    Entry e;
    e.peer = peer;
    e.type = type;
    e.mid = mid;
    e.answer = answer;
    e.if_index = if_index;
    e.fragments = std::move(fragments);
    e.bytes = bytes;
    e.sends = 1;
    e.first_ms = now_ms;
    e.next_ms = now_ms + limits_.resend_ms;
    bytes_ += bytes;
    entries_.push_back(std::move(e));
    ++stats_.tracked;
    return true;
}

MapRequests::Verdict MapRequests::on_received(const MAC& src, uint16_t type, uint16_t mid,
                                              long long now_ms) {
    while (!answered_.empty() && now_ms - answered_.front().at_ms > limits_.answered_ms)
        answered_.pop_front();
    for (size_t i = 0; i < entries_.size(); ++i) {
        const Entry& e = entries_[i];
        if (!(e.peer == src) || e.answer.type != type || (e.answer.same_mid && e.mid != mid))
            continue;
        ++stats_.answered;
        if (e.sends > 1)
            ++stats_.answered_resent;
        if (e.answer.same_mid && limits_.max_answered > 0) {
            if (answered_.size() >= limits_.max_answered)
                answered_.pop_front();
            answered_.push_back({src, type, mid, now_ms});
        }
        erase(i);
        return Verdict::answer;
    }
    for (const Answered& a : answered_) {
        if (a.mid == mid && a.type == type && a.peer == src) {
            ++stats_.duplicate_answers;
            return Verdict::duplicate;
        }
    }
    return Verdict::other;
}

void MapRequests::run_due(long long now_ms, const std::function<void(const Entry&)>& resend,
                          const std::function<void(const Entry&)>& gave_up) {
    for (size_t i = 0; i < entries_.size();) {
        Entry& e = entries_[i];
        if (e.next_ms > now_ms) {
            ++i;
            continue;
        }
        if (e.sends >= limits_.max_sends) {
            ++stats_.given_up;
            if (gave_up)
                gave_up(e);
            erase(i);
            continue;
        }
        ++e.sends;
        ++stats_.resends;
        e.next_ms = now_ms + limits_.resend_ms;
        if (resend)
            resend(e);
        ++i;
    }
}

long long MapRequests::next_due_ms() const {
    long long next = -1;
    for (const Entry& e : entries_)
        if (next < 0 || e.next_ms < next)
            next = e.next_ms;
    return next;
}

void MapRequests::clear() {
    entries_.clear();
    bytes_ = 0;
    answered_.clear();
}
