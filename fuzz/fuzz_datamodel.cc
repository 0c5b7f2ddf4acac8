// libFuzzer target: CMDU payloads from a handful of senders folded into the
// stack's data model, checking the tree and the caps after each one.
// Input: records of [sender index (1 byte), length (2 bytes), payload].
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/clock.h"
#include "fuzz_support.h"
#include "map/codec/codec.h"
#include "map/datamodel/datamodel.h"

namespace {
void check_model() {
    map_datamodel_t* dm = get_map_datamodel();
    if (dm->num_ales > MAP_MAX_AGENTS || dm->num_stas > MAP_MAX_STATIONS)
        abort();
    int height = map_get_topology_tree_height();
    int seen = 0;
    for (int d = 0; d <= height; ++d) {
        array_list_t* list = ktree_elements_at_depth(get_root_ale_node(), d);
        for (void* p = first_object(list); p; p = get_next_list_object(list, p)) {
            auto* ale = static_cast<map_ale_info_t*>(p);
            if (ale->depth != d || get_ale(ale->al_mac) != ale)
                abort();
            if (d > 0 && get_parent_ale_node(ale)->depth != d - 1)
                abort();
            for (int r = 0; r < ale->num_radios; ++r)
                if (ale->radios[r]->ale != ale || ale->radios[r]->num_bss > MAP_MAX_BSS_PER_RADIO)
                    abort();
            ++seen;
        }
        delete_array_list(list);
    }
    if (seen > dm->num_ales)
        abort();
    dump_topology_tree();
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::default_flags(argc, argv, {fuzz::kShortRareFeatureList});
    fuzz::stack_logs_dropped();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ozr_clock::set_manual(1000000);
    map_datamodel_init(MAC(2, 0, 0, 0, 1, 1), MAC(2, 0, 0, 0, 1, 2));
    size_t at = 0;
    while (at + 3 <= size) {
        MAC src(2, 0, 0, 0, 3, data[at]);
        size_t n = (size_t(data[at + 1]) << 8) | data[at + 2];
        at += 3;
        if (n > size - at)
            n = size - at;
        std::vector<uint8_t> payload(data + at, data + at + n);  // exact-size copy for ASan
        at += n;
        CmduPtr c = decode_1905_CMDU(payload.data(), payload.size(), &src);
        if (c)
            map_update_from_cmdu(c.get());
        char sn[33];
        get_serial_number_from_M1(payload.data(), payload.size(), sn, sizeof sn);
        check_model();
    }
    map_datamodel_reset();
    return 0;
}
