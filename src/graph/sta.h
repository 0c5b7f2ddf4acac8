// A station: an ordinary client or the backhaul STA of an extender.
#pragma once

#include <string>

#include "graph/backhaul_information.h"
#include "graph/node.h"
#include "graph/sta_capability.h"

class Device;

class Sta : public Node {
  public:
    using Node::Node;

    int kind() const override { return STA; }
    void describe(Logger& log, const Graph& graph) const override;

    // Marks (or unmarks) the station as the backhaul STA of OWNER; unmarking clears
    // the owner.
    void update_backhaul_sta(bool is_bsta, const MAC& owner);
    // The first device of the graph holding an association link to this station.
    Device* get_working_device() const;
    std::string steer_cat_to_str(sta_categories c) const { return sta_category_to_string(c); }

    bool is_backhaul_sta = false;
    MAC owner_device;
    StaCapabilityInfo capabilities;
    sta_backhaul_information backhaul;
    Medium bsta_medium = Medium::UNKNOWN;
};
