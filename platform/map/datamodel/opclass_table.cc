#include "map/datamodel/opclass_table.h"

#include <array>

namespace map_dm {

namespace {

const uint8_t c115[] = {36, 40, 44, 48};
const uint8_t c116[] = {36, 44};
const uint8_t c117[] = {40, 48};
const uint8_t c118[] = {52, 56, 60, 64};
const uint8_t c119[] = {52, 60};
const uint8_t c120[] = {56, 64};
const uint8_t c121[] = {100, 104, 108, 112, 116, 120, 124, 128, 132, 136, 140, 144};
const uint8_t c122[] = {100, 108, 116, 124, 132, 140};
const uint8_t c123[] = {104, 112, 120, 128, 136, 144};
const uint8_t c124[] = {149, 153, 157, 161};
const uint8_t c125[] = {149, 153, 157, 161, 165, 169, 173, 177};
const uint8_t c126[] = {149, 157, 165, 173};
const uint8_t c127[] = {153, 161, 169, 177};
const uint8_t c128[] = {42, 58, 106, 122, 138, 155, 171};
const uint8_t c129[] = {50, 114, 163};
const uint8_t c136[] = {2};
const uint8_t c137[] = {31, 63, 95, 127, 159, 191};

#define LIST(c) c, static_cast<uint8_t>(sizeof(c)), 0, 0
const OpClassDef table[] = {
    {81, OpBand::G2, 20, nullptr, 13, 1, 1},   {82, OpBand::G2, 20, nullptr, 1, 14, 1},
    {83, OpBand::G2, 40, nullptr, 9, 1, 1},    {84, OpBand::G2, 40, nullptr, 9, 5, 1},
    {115, OpBand::G5, 20, LIST(c115)},         {116, OpBand::G5, 40, LIST(c116)},
    {117, OpBand::G5, 40, LIST(c117)},         {118, OpBand::G5, 20, LIST(c118)},
    {119, OpBand::G5, 40, LIST(c119)},         {120, OpBand::G5, 40, LIST(c120)},
    {121, OpBand::G5, 20, LIST(c121)},         {122, OpBand::G5, 40, LIST(c122)},
    {123, OpBand::G5, 40, LIST(c123)},         {124, OpBand::G5, 20, LIST(c124)},
    {125, OpBand::G5, 20, LIST(c125)},         {126, OpBand::G5, 40, LIST(c126)},
    {127, OpBand::G5, 40, LIST(c127)},         {128, OpBand::G5, 80, LIST(c128)},
    {129, OpBand::G5, 160, LIST(c129)},        {130, OpBand::G5, 80, LIST(c128)},
    {131, OpBand::G6, 20, nullptr, 59, 1, 4},  {132, OpBand::G6, 40, nullptr, 29, 3, 8},
    {133, OpBand::G6, 80, nullptr, 14, 7, 16}, {134, OpBand::G6, 160, nullptr, 7, 15, 32},
    {135, OpBand::G6, 80, nullptr, 14, 7, 16}, {136, OpBand::G6, 20, LIST(c136)},
    {137, OpBand::G6, 320, LIST(c137)},
};
#undef LIST

}  // namespace

const OpClassDef* find_op_class(uint8_t op_class) {
    // Indexed by class number once (1 KiB of pointers on a 32-bit target): the data model,
    // the channel service and the minders look classes up for every channel they check.
    static const std::array<const OpClassDef*, 256> index = [] {
        std::array<const OpClassDef*, 256> a{};
        for (const OpClassDef& d : table)
            if (a[d.op_class] == nullptr)
                a[d.op_class] = &d;
        return a;
    }();
    return index[op_class];
}

int global_op_class_channels(const OpClassDef& def, uint8_t* out, int cap) {
    int n = 0;
    for (int k = 0; k < def.count && n < cap; ++k)
        out[n++] = def.list ? def.list[k] : static_cast<uint8_t>(def.first + k * def.step);
    return n;
}

}  // namespace map_dm
