// What the vendor agent registry asks of the minders above it: the graph minder (an
// agent's uplink and the VAPs its vendor agent reported), the data minder (the admitted
// extenders and their onboarding state) and the configuration minder (results and the
// legacy backhaul VAP). Each implements its peer and the assembly hands it to the
// registry, which so knows none of them. Without a peer the calls are skipped.
#pragma once

#include <string>
#include <vector>

#include "common/mac.h"
#include "hkt/ap_status.h"
#include "hkt/hkt_node.h"
#include "map/hkt/hkt_message.h"

struct ApInfo;

class HktGraphPeer {
  public:
    // The uplink of the Multi-AP agent AGENT as the vendor protocol carries it; false
    // when the graph has no device AGENT.
    virtual bool agent_backhaul(const MAC& agent,
                                hkt_backhaul_information_notify_tlv& out) const = 0;
    // The VAPs the vendor agent of AGENT last reported; null when the graph has no device
    // AGENT.
    virtual const std::vector<HKTVapInfo>* agent_vaps(const MAC& agent) const = 0;

  protected:
    ~HktGraphPeer() = default;
};

class HktDataPeer {
  public:
    // The admitted serial numbers, in order, and the onboarding state of one of them.
    virtual std::vector<std::string> get_white_list_aps() const = 0;
    virtual ApStatus get_ap_onboarding_status(const std::string& sn) = 0;
    // The registry moved SN to STATE.
    virtual RetStatus update_ap_state(const std::string& sn, ApStatus state) = 0;
    // The vendor agent of SN went online or offline.
    virtual void notify_ap_status_change(const std::string& sn, bool online) = 0;
    // The admitted extender SN, or null when SN is not admitted.
    virtual const ApInfo* ramdb_find(const std::string& sn) const = 0;
    // What the vendor agent of SN reported changed.
    virtual void notify_ap_info_change(const std::string& sn, ApParam param,
                                       bool online = false) = 0;

  protected:
    ~HktDataPeer() = default;
};

class HktConfigPeer {
  public:
    // Hands an extender's configuration result to the platform; 0, or -1 on failure.
    virtual int inform_hkt_configuration_result(int result, const char* sn, unsigned short len,
                                                const unsigned char* data) = 0;
    // The legacy backhaul VAP with 8-byte credentials on or off at the vendor agent MAC.
    virtual int set_backhaul_vap_enabled_8Byte_ssidpw(const MAC& hkt_mac, bool enabled) = 0;

  protected:
    ~HktConfigPeer() = default;
};
