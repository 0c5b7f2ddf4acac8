// Global operating classes (IEEE 802.11 Annex E, table E-4) as the data model
// needs them: band, bandwidth and channel list of each class.
#pragma once

#include <cstdint>

namespace map_dm {

enum class OpBand : uint8_t { G2, G5, G6 };

struct OpClassDef {
    uint8_t op_class;
    OpBand band;
    uint16_t bandwidth_mhz;
    // Either an explicit list (list != null) or first + k*step for k < count.
    const uint8_t* list;
    uint8_t count;
    uint8_t first;
    uint8_t step;
};

// The class definition, or null for a class the table does not hold.
const OpClassDef* find_op_class(uint8_t op_class);
// Writes the class's channels (centre channels for 80/160 MHz classes) into
// OUT, at most CAP; returns how many.
int global_op_class_channels(const OpClassDef& def, uint8_t* out, int cap);

}  // namespace map_dm
