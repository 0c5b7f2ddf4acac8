// What the steering minder asks of the minders above it: the data minder keeps the
// clients' band history and capabilities, knows the extenders' serial numbers and raises
// the steering request signal; the control bus applies the platform's JSON steering policy.
// The data minder implements its peer and the assembly hands it (and the policy handler)
// to the steering minder, which so knows neither. Without them the calls are skipped.
#pragma once

#include <string>

#include "common/mac.h"
#include "graph/graph_enums.h"

struct StaCapabilityInfo;
struct StaSteeringEvent_t;

class SteeringDataPeer {
  public:
    // The bands the client database remembers for STA: 2 (dual band) when it was seen on
    // both, 0 only 2.4 GHz, 1 only 5 GHz, -1 when it has no record.
    virtual int client_band_capability(const MAC& sta) const = 0;
    // STA was seen on MEDIUM.
    virtual void note_client_band(const MAC& sta, Medium medium) = 0;
    // STA obeyed a steering request.
    virtual void note_client_obeyed(const MAC& sta) = 0;
    // A station's capability record was learnt.
    virtual void notify_client_cap_info(const MAC& sta, const StaCapabilityInfo& caps) = 0;
    // The serial number of the admitted extender whose Multi-AP agent is AL_MAC; "" when
    // none is known.
    virtual std::string extender_sn_by_ale(const MAC& al_mac) = 0;
    // Raises "notifyStaSteeringRequest" with EVENT.
    virtual void notify_sta_steering_request(const StaSteeringEvent_t& event) = 0;

  protected:
    ~SteeringDataPeer() = default;
};
