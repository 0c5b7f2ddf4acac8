// What the graph minder tells the minders above it as it learns the mesh: the steering
// minder follows links, metrics and client reports; the data minder keeps the extenders'
// backhaul and the clients' capabilities. Each of those minders implements its peer and the
// assembly hands it to the graph minder, which so knows neither of them. The calls are made
// on the loop thread, at once; without a peer they are skipped.
#pragma once

#include <cstdint>

#include "common/mac.h"

class Device;
class Link;
class WirelessLink;
class UnassociatedLink;
struct FailedConnectionMesg;
struct BackhaulSteeringResponseMesg;
struct backhaul_information;
struct StaCapabilityInfo;

class GraphSteeringPeer {
  public:
    // A link was added to the graph (every kind); an association link in particular.
    virtual void notify_new_link(const Link* link) = 0;
    virtual void notify_new_wireless_link(const WirelessLink* link) = 0;
    // The client STA associated anew: the ping-pong check of its roams.
    virtual void ping_pong_check_by_new_reassoc_process(const WirelessLink* link) = 0;
    // The association link of STA is about to be deleted.
    virtual void notify_pre_delete_link(const MAC& sta) = 0;
    // New metrics of the link from DEVICE to STA.
    virtual void notify_link_metric_changed(const Device* device, const MAC& sta) = 0;
    // An unassociated measurement of a client: the ping-pong check of its bands.
    virtual void ping_pong_check_by_unassoc_process(const UnassociatedLink* link) = 0;
    // What is known of the bands STA can use may have changed.
    virtual void notify_sta_bnd_cap_changed(const MAC& sta) = 0;
    // An agent reported the capabilities of the client STA.
    virtual void notify_sta_capability_report(const MAC& sta) = 0;
    virtual void notify_failed_connection_report(const FailedConnectionMesg& report) = 0;
    virtual void notify_dot11_btm_query(const MAC& sta, uint8_t dialog_token, uint8_t reason) = 0;
    virtual void notify_backhaul_steering_response(
        const BackhaulSteeringResponseMesg& response) = 0;

  protected:
    ~GraphSteeringPeer() = default;
};

class GraphDataPeer {
  public:
    // A device's backhaul information changed (or the device was deleted: disconnected).
    virtual void notify_ap_bh_change(const backhaul_information& info) = 0;
    // A station's capability record was learnt.
    virtual void notify_client_cap_info(const MAC& sta, const StaCapabilityInfo& caps) = 0;
    // Fills CAPS with the record stored for STA; false when none is stored.
    virtual bool sync_client_cap_info(const MAC& sta, StaCapabilityInfo& caps) = 0;
    // Agent AL_MAC reported channel preferences or scan results for its radio RADIO_ID.
    virtual void notify_available_channel(const MAC& al_mac, const MAC& radio_id) = 0;

  protected:
    ~GraphDataPeer() = default;
};
