// libFuzzer target: bytes as a WSC message from an agent. They go through
// the M1 parser, the M2 and settings parsers an enrollee uses, and the
// controller's registrar (inside an AP-Autoconfiguration WSC message with a
// 5 GHz radio, credentials configured), whose answer is built and dropped; the same
// message again is a replay. The registrar is new for every input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "common/clock.h"
#include "fuzz_support.h"
#include "map/codec/cmdu_alloc.h"
#include "map/codec/tlv_types.h"
#include "map/map_send.h"
#include "map/wsc/registrar.h"
#include "map/wsc/wsc_messages.h"

namespace {

map_credential_config_t credentials() {
    map_credential_config_t c{};
    c.count = 2;
    std::snprintf(c.creds[0].ssid, sizeof c.creds[0].ssid, "Home");
    std::snprintf(c.creds[0].network_key, sizeof c.creds[0].network_key, "correct horse");
    c.creds[0].bss_type = MAP_CRED_FRONTHAUL;
    std::snprintf(c.creds[1].ssid, sizeof c.creds[1].ssid, "Home-bh");
    std::snprintf(c.creds[1].network_key, sizeof c.creds[1].network_key, "0123456789abcdef");
    c.creds[1].rf_bands = 0x02;
    c.creds[1].bss_type = MAP_CRED_BACKHAUL;
    return c;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::stack_logs_dropped();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const map_credential_config_t creds = credentials();

    WscM1 m1;
    WscM2 m2;
    WscBssConfig bss;
    std::string why;
    wsc_parse_m1(data, size, m1, &why);
    wsc_parse_m2(data, size, m2, &why);
    wsc_decode_settings(data, size, bss, &why);

    // A registrar of its own for every input, at the same time: its budgets never refuse
    // the first message.
    ozr_clock::set_manual(1000000);
    WscRegistrar registrar([](const MAC&, CMDU&, const char*) { return MAP_SEND_OK; });
    ap_radio_basic_capabilities_tlv caps;
    caps.radio_id = MAC(0x02, 0, 0, 0, 0xA0, 0x20);
    caps.max_bss = 4;
    caps.op_classes.push_back({115, 20, 0, {}});
    wsc_tlv w;
    w.wsc_frame.assign(data, data + size);
    CmduPtr c = CmduBuilder(CMDU_TYPE_AP_AUTOCONFIGURATION_WSC, 1).add(caps).add(w).build();
    if (c) {
        c->src_al_mac = MAC(0x02, 0, 0, 0, 0xA0, static_cast<uint8_t>(size));
        std::snprintf(c->interface_name, sizeof c->interface_name, "eth0");
        // An agent that sends its M1 again gets no second answer.
        registrar.on_wsc(*c, &creds);
        registrar.on_wsc(*c, &creds);
    }
    return 0;
}
