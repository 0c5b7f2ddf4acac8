// A device's backhaul record computed from the working paths.
#pragma once

#include "graph/path_cost.h"

// Quality of COST_TO_ROOT with hysteresis: UNCHANGED (same parent and interfaces as the
// stored connected record) keeps a NORMAL at 200..232 and a BAD at 279..463.
backhaul_quality backhaul_quality_for_cost(uint32_t cost_to_root, bool unchanged,
                                           backhaul_quality stored);

// The new backhaul record of DEVICE from its entry in PATHS (working paths), against
// the record it holds now. Without a last-hop link: the disconnected record.
backhaul_information compute_backhaul_information(const Graph& graph, const Paths& paths,
                                                  const Device& device);
