// Stateless decoders: one per received message type, each turning the CMDU
// into its record. They read only the CMDU's TLV list, never change it, keep no
// pointer into it, and return an empty optional when a mandatory TLV is
// missing. Their lines go to the root logger (and the platform log), the
// decoder's name first.
#pragma once

#include "map/cmdu.h"
#include "messages/messages.h"
#include "messages/optional.h"

// Topology and discovery.
optional<DiscoveryMesg> parse_discovery(CMDU* cmdu);
optional<TopologyResponseMesg> parse_topology(CMDU* cmdu);
optional<TopologyNotificationMesg> parse_topology_notification(CMDU* cmdu);

// Capability and metric reports.
optional<APCapabilityMesg> parse_ap_capability(CMDU* cmdu);
optional<ApMetricResponseMesg> parse_ap_metric_response(CMDU* cmdu);
optional<AssocStaLinkMetricResponseMesg> parse_assoc_sta_link_metric_response(CMDU* cmdu);
optional<LinkMetricResponseMesg> parse_link_metric_response(CMDU* cmdu);
optional<UnassocStaLinkMetricResponseMesg> parse_unassoc_sta_link_metric_response(CMDU* cmdu);
optional<BeaconMetricsResponseTLV> parse_beacon_metrics_response(CMDU* cmdu);

// Channel, steering and event reports.
optional<ChannelPreferenceReportMessage> parse_channel_preference_report_message(CMDU* cmdu);
optional<APChannelScanReportMesg> parse_ap_ch_scan_report(CMDU* cmdu);
optional<OperatingChannelReportMesg> parse_operating_channel(CMDU* cmdu);
optional<SteeringBTMReportTLV> parse_btm_steering_report(CMDU* cmdu);
optional<BackhaulSteeringResponseMesg> parse_backhaul_steering_response(CMDU* cmdu);
optional<FailedConnectionMesg> parse_failed_connection_message(CMDU* cmdu);
optional<TunneledMesg> parse_tunneled_message(CMDU* cmdu);
