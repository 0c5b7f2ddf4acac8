#include "map/codec/cmdu_alloc.h"

#include <cstdint>
#include <cstring>
#include <new>

namespace {

template <class T>
void delete_record(uint8_t* p) {
    delete reinterpret_cast<T*>(p);
}

using Deleter = void (*)(uint8_t*);

struct DeleterTable {
    Deleter fn[256];
    DeleterTable() {
        for (auto& f : fn)
            f = &delete_record<unknown_tlv>;
#define OZR_SET_DELETER(TYPE, REC) fn[TYPE] = &delete_record<REC>;
        OZR_FOR_EACH_TLV(OZR_SET_DELETER)
#undef OZR_SET_DELETER
    }
};

const DeleterTable& deleters() {
    static const DeleterTable table;
    return table;
}

// Lists are plain new[] arrays of exactly count + 1 entries.
uint8_t** alloc_list(size_t entries) {
    return new (std::nothrow) uint8_t*[entries + 1]();
}

void free_list(uint8_t** list) {
    delete[] list;
}

}  // namespace

bool tlv_type_has_record(uint8_t tlv_type) {
    switch (tlv_type) {
#define OZR_CASE(TYPE, REC) case TYPE:
        OZR_FOR_EACH_TLV(OZR_CASE)
#undef OZR_CASE
        return true;
    }
    return false;
}

void free_1905_TLV_structure(uint8_t* tlv) {
    if (tlv)
        deleters().fn[*tlv](tlv);
}

CMDU* alloc_1905_CMDU_structure(uint16_t message_type, uint16_t message_id, size_t capacity) {
    auto* c = new CMDU;
    c->message_type = message_type;
    c->message_id = message_id;
    (void)capacity;
    c->list_of_TLVs = alloc_list(0);
    return c;
}

void free_1905_CMDU_structure(CMDU* cmdu) {
    if (!cmdu)
        return;
    if (cmdu->list_of_TLVs) {
        for (uint8_t** p = cmdu->list_of_TLVs; *p; ++p)
            free_1905_TLV_structure(*p);
        free_list(cmdu->list_of_TLVs);
    }
    delete cmdu;
}

size_t count_1905_TLVs(const CMDU* cmdu) {
    size_t n = 0;
    if (cmdu && cmdu->list_of_TLVs) {
        while (cmdu->list_of_TLVs[n])
            ++n;
    }
    return n;
}

bool append_1905_TLV(CMDU* cmdu, uint8_t* record) {
    if (!cmdu || !record) {
        free_1905_TLV_structure(record);
        return false;
    }
    size_t n = count_1905_TLVs(cmdu);
    uint8_t** grown = n < 65535 ? alloc_list(n + 1) : nullptr;
    if (!grown) {
        free_1905_TLV_structure(record);
        return false;
    }
    if (n)
        std::memcpy(grown, cmdu->list_of_TLVs, n * sizeof(uint8_t*));
    grown[n] = record;
    free_list(cmdu->list_of_TLVs);
    cmdu->list_of_TLVs = grown;
    return true;
}

bool set_1905_TLV_list(CMDU* cmdu, const std::vector<uint8_t*>& records) {
    uint8_t** list = alloc_list(records.size());
    if (!list) {
        for (uint8_t* r : records)
            free_1905_TLV_structure(r);
        return false;
    }
    if (!records.empty())
        std::memcpy(list, records.data(), records.size() * sizeof(uint8_t*));
    if (cmdu->list_of_TLVs) {
        for (uint8_t** p = cmdu->list_of_TLVs; *p; ++p)
            free_1905_TLV_structure(*p);
        free_list(cmdu->list_of_TLVs);
    }
    cmdu->list_of_TLVs = list;
    return true;
}
