// The agents' Client Steering BTM Reports: the outcome of each BTM request per client.
#include <fmt/format.h>

#include "core/context.h"
#include "core/log.h"
#include "graph/graph.h"
#include "messages/decoders.h"
#include "steering/steering_minder.h"

void SteeringMinder::on_btm_response(CMDU* cmdu) {
    optional<SteeringBTMReportTLV> report = parse_btm_steering_report(cmdu);
    if (!report)
        return;
    const SteeringBTMReportTLV& r = *report;
    const std::string target = r.target_bssid ? r.target_bssid->to_string() : std::string();
    if (r.status == 0)
        OZR_INFO(&logger_, "{} steered from {} to {}", r.sta.to_string(), r.bssid.to_string(),
                 target);
    else
        OZR_INFO(&logger_, "{} failed to steer from {} to {}: {}", r.sta.to_string(),
                 r.bssid.to_string(), target, r.status_string());
    Graph* g = graph();
    SteeringReNode* n = access_steer_re_node(r.sta);
    if (!g || !g->find_sta(r.sta) || !n)
        return;
    n->btm_ms = static_cast<uint64_t>(now());
    n->btm_status = r.status;
    if (r.status == 0) {
        ++n->accept;
        ++accept_total_;
    } else {
        if (r.status <= 8)
            ++n->status_count[r.status];
        ++n->reject;
        ++reject_total_;
    }
    const float rate =
        static_cast<float>(n->accept) / static_cast<float>(n->accept + n->reject) * 100.0f;
    OZR_DEBUG(&logger_, "|---------steering btm report---------|");
    OZR_DEBUG(&logger_, " -STA ==> [{}]", n->mac.to_string());
    OZR_DEBUG(&logger_, " -accept:{}", n->accept);
    OZR_DEBUG(&logger_, " -reject:{}", n->reject);
    OZR_DEBUG(&logger_, " -insuff_bcn:{}", n->status_count[2]);
    OZR_DEBUG(&logger_, " -insuff_cap:{}", n->status_count[3]);
    OZR_DEBUG(&logger_, " -term_undesired:{}", n->status_count[4]);
    OZR_DEBUG(&logger_, " -term_delay_req:{}", n->status_count[5]);
    OZR_DEBUG(&logger_, " -bss_list_provided:{}", n->status_count[6]);
    OZR_DEBUG(&logger_, " -no_suitable_bss:{}", n->status_count[7]);
    OZR_DEBUG(&logger_, " -leaving_ess:{}", n->status_count[8]);
    OZR_DEBUG(&logger_, " -last_steering_attempt_timestamp:{}", n->last_steer_ms);
    OZR_DEBUG(&logger_, " -last_dst_bssid:{}", n->last_steer_bssid.to_string());
    OZR_DEBUG(&logger_, " -last_src_bssid:{}", n->last_src_bssid.to_string());
    OZR_DEBUG(&logger_, " -last_dst_channel:{}", n->last_dst_channel);
    OZR_DEBUG(&logger_, " -Steering Success Rate:{}", static_cast<double>(rate));
}
