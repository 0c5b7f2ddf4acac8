// The controller's cost per onboarding exchange: one agent M1 answered with
// its M2s by the registrar (Diffie-Hellman key pair, shared secret with the
// peer check, key derivation, one encryption and Authenticator per M2), and
// the primitives on their own. The budgets of the registrar (256 M1s at once,
// then eight per second) are sized from these figures.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "common/clock.h"
#include "map/codec/cmdu_alloc.h"
#include "map/codec/tlv_types.h"
#include "map/codec/wsc.h"
#include "map/map_log.h"
#include "map/map_send.h"
#include "map/wsc/registrar.h"

namespace {

void quiet(int, const char*, const std::string&) {}

std::vector<uint8_t> m1_of(const WscDhKey& key, uint32_t n) {
    wsc_message m;
    m.message_type = WSC_MSG_M1;
    m.mac_address = MAC(0x02, 0, 0, 0, 0xA0, 0);
    m.manufacturer = "Vexal";
    m.model_name = "Mesh Extender";
    m.model_number = "MX-200";
    m.serial_number = "SN0123456789";
    m.device_name = "ext";
    m.rf_bands = WSC_RF_BAND_5_GHZ;
    std::vector<uint8_t> nonce(kWscNonceLen, 0);
    for (int i = 0; i < 4; ++i)
        nonce[static_cast<size_t>(i)] = static_cast<uint8_t>(n >> (8 * i));
    m.other.push_back({WSC_ATTR_ENROLLEE_NONCE, nonce});
    m.other.push_back(
        {WSC_ATTR_PUBLIC_KEY, std::vector<uint8_t>(key.public_key(), key.public_key() + 192)});
    m.other.push_back({WSC_ATTR_AUTHENTICATION_TYPE_FLAGS, {0x00, 0x61}});
    m.other.push_back({WSC_ATTR_ENCRYPTION_TYPE_FLAGS, {0x00, 0x09}});
    std::vector<uint8_t> out;
    wsc_build_message(m, out);
    return out;
}

void BM_RegistrarAnswersAnM1(benchmark::State& state) {
    map_log_set_sink(&quiet);
    ozr_clock::set_manual(1000000);
    const int bsss = static_cast<int>(state.range(0));
    map_credential_config_t creds{};
    creds.count = static_cast<uint8_t>(bsss);
    for (int i = 0; i < bsss; ++i) {
        std::snprintf(creds.creds[i].ssid, sizeof creds.creds[i].ssid, "ssid-%d", i);
        std::snprintf(creds.creds[i].network_key, sizeof creds.creds[i].network_key,
                      "passphrase-%d", i);
        creds.creds[i].bss_type = MAP_CRED_FRONTHAUL;
    }
    WscRegistrarLimits lim;
    lim.agent_burst = lim.total_burst = 1u << 30;
    WscRegistrar reg([](const MAC&, CMDU&, const char*) { return MAP_SEND_OK; }, lim);
    auto key = WscDhKey::generate();
    uint32_t n = 0;
    for (auto _ : state) {
        state.PauseTiming();
        ap_radio_basic_capabilities_tlv caps;
        caps.radio_id = MAC(0x02, 0, 0, 0, 0xA0, 0x20);
        caps.max_bss = 16;
        caps.op_classes.push_back({115, 20, 0, {}});
        wsc_tlv w;
        w.wsc_frame = m1_of(*key, ++n);
        CmduPtr c = CmduBuilder(CMDU_TYPE_AP_AUTOCONFIGURATION_WSC, 1).add(caps).add(w).build();
        c->src_al_mac = MAC(0x02, 0, 0, 0, 0xA0, 0);
        std::snprintf(c->interface_name, sizeof c->interface_name, "eth0");
        state.ResumeTiming();
        benchmark::DoNotOptimize(reg.on_wsc(*c, &creds));
    }
    state.counters["M2s"] = bsss;
    ozr_clock::use_real();
}
BENCHMARK(BM_RegistrarAnswersAnM1)->Arg(1)->Arg(2)->Arg(16)->Unit(benchmark::kMillisecond);

void BM_DhKeyPair(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(WscDhKey::generate());
}
BENCHMARK(BM_DhKeyPair)->Unit(benchmark::kMillisecond);

void BM_DhSharedSecretWithPeerCheck(benchmark::State& state) {
    auto a = WscDhKey::generate();
    auto b = WscDhKey::generate();
    uint8_t out[kWscPublicKeyLen];
    for (auto _ : state)
        benchmark::DoNotOptimize(a->shared_secret(b->public_key(), out));
}
BENCHMARK(BM_DhSharedSecretWithPeerCheck)->Unit(benchmark::kMillisecond);

void BM_KeyDerivation(benchmark::State& state) {
    uint8_t secret[kWscPublicKeyLen] = {1}, n1[kWscNonceLen] = {2}, n2[kWscNonceLen] = {3};
    for (auto _ : state) {
        WscSessionKeys keys;
        benchmark::DoNotOptimize(wsc_derive_keys(secret, n1, MAC(), n2, keys));
    }
}
BENCHMARK(BM_KeyDerivation)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
