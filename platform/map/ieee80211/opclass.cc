// Global operating classes (IEEE 802.11 Annex E, table E-4) of the bands the
// mesh uses.
#include "map/ieee80211/assoc.h"

int get_frequency_type(uint8_t op_class, uint8_t* band, uint16_t* freq_type) {
    uint8_t b;
    uint16_t t = MAP_FREQ_NONE;
    if (op_class >= 81 && op_class <= 84) {
        b = MAP_BAND_2G;  // channels 1-14, 20 and 40 MHz
    } else if (op_class >= 115 && op_class <= 120) {
        b = MAP_BAND_5G;  // 36-64, 20 and 40 MHz
        t = MAP_FREQ_5G_LOW;
    } else if (op_class >= 121 && op_class <= 127) {
        b = MAP_BAND_5G;  // 100-144 and 149-177, 20 and 40 MHz
        t = MAP_FREQ_5G_HIGH;
    } else if (op_class >= 128 && op_class <= 130) {
        // 80, 160 and 80+80 MHz classes list centre channels of both halves of
        // the band; they are reported as both, the radio's own sub-band value.
        b = MAP_BAND_5G;
        t = MAP_FREQ_5G_BOTH;
    } else if (op_class >= 131 && op_class <= 137) {
        b = MAP_BAND_6G;  // 20 to 320 MHz
    } else {
        return -1;
    }
    if (band)
        *band = b;
    if (freq_type)
        *freq_type = t;
    return 0;
}
