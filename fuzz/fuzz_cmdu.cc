// libFuzzer target: Ethernet frame -> 1905 CMDU, through reassembly, then
// re-encoding of whatever decodes. Runs with ASan and UBSan.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_support.h"
#include "map/codec/codec.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::stack_logs_dropped();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // One reassembler per input: an input may hold several frames, each
    // prefixed by a 2-byte length, so fragment sequences are explored too.
    CmduReassembler::Limits lim;
    lim.max_messages = 4;
    lim.max_bytes = 8192;
    CmduReassembler r(lim);
    size_t at = 0;
    while (at + 2 <= size) {
        size_t n = (size_t(data[at]) << 8) | data[at + 1];
        at += 2;
        if (n > size - at)
            n = size - at;
        std::vector<uint8_t> frame(data + at, data + at + n);  // exact-size copy for ASan
        at += n;
        MAC src;
        const uint8_t* payload = nullptr;
        size_t payload_len = 0;
        if (!parse_1905_ethernet_frame(frame.data(), frame.size(), src, payload, payload_len)) {
            continue;
        }
        CmduPtr c = r.feed(src, payload, payload_len);
        if (c) {
            std::vector<std::vector<uint8_t>> fragments;
            if (encode_1905_CMDU(*c, fragments)) {
                // What was accepted encodes again and decodes to the same list.
                CmduReassembler again;
                CmduPtr back;
                for (auto& f : fragments)
                    back = again.feed(src, f.data(), f.size());
                if (!back || count_1905_TLVs(back.get()) != count_1905_TLVs(c.get()))
                    __builtin_trap();
            }
        }
    }
    return 0;
}
