// libFuzzer target: what the radio configuration reads from outside. The input is split at
// its first two 0x00 bytes into the product file, the board file and platform.json; the
// product switches are read from the first two (a configuration minder is built), and the
// channel service answers from the third (available channels, the additional band, the
// mobile-app-only mode). The rest of the bytes become a provisioning record and an
// Operating Channel Report for a radio of the stack's model. Every log line is formatted
// and dropped. The files live on a memory file system and are rewritten only when they
// change; nothing the input leaves (minder, data model, channel service) reaches the next.
#include <rapidjson/document.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/clock.h"
#include "configuration/configuration_minder.h"
#include "fuzz_support.h"
#include "map/codec/tlvs.h"
#include "map/datamodel/datamodel.h"
#include "nal/ics.h"
#include "nal/platform_file.h"

namespace {
std::string take(const uint8_t*& p, const uint8_t* end) {
    const uint8_t* start = p;
    while (p < end && *p != 0)
        ++p;
    std::string s(reinterpret_cast<const char*>(start), static_cast<size_t>(p - start));
    if (p < end)
        ++p;
    return s;
}

// Whether the platform file names a file the platform writes to (a journal, a log): an
// input must not have lines written anywhere on the machine. Asked of the platform's own
// reader, which keeps the file parsed for the channel service's questions.
bool names_output_file(const std::string& platform) {
    // Neither key can be there when the text holds neither name nor an escape.
    if (platform.find("-path") == std::string::npos && platform.find('\\') == std::string::npos)
        return false;
    const auto any = [](const rapidjson::Value&) { return true; };
    return nal_platform_with("platform-journal-path", any) ||
           nal_platform_with("platform-log-path", any);
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::temp_root("radio");
    ozr_make_dirs(ozr_path("/tmp"));
    ozr_make_dirs(ozr_path("/configs/easymesh"));
    fuzz::daemon_logs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 64 * 1024)
        return 0;
    const uint8_t* p = data;
    const uint8_t* end = data + size;
    const std::string product = take(p, end);
    const std::string rrm = take(p, end);
    const std::string platform = take(p, end);
    fuzz::put_file(nal_platform_json_path(), platform);
    if (names_output_file(platform))
        return 0;
    ozr_clock::set_manual(1000000);
    fuzz::put_file(ozr_path("/tmp/zkf-product-cfg.json"), product);
    fuzz::put_file(ozr_path("/tmp/local-rrm-ctl.json"), rrm);
    {
        ConfigurationMinder m(fuzz::loop());
        m.read_product_switches();  // as its init does
        (void)m.dcs_state();
    }
    fuzz::forget_cmdu_handlers();  // the ones the minder registered
    fuzz::settle();                // and its timer released
    map_datamodel_init(MAC(2, 0, 0, 0, 0, 1), MAC(2, 0, 0, 0, 1, 0));
    map_radio_info_t* radio =
        map_update_radio(map_update_ale(MAC(2, 0, 0, 0, 1, 0)), MAC(2, 0, 0, 0, 1, 0x20));
    if (radio) {
        std::vector<map_op_class_param_t> classes;
        for (const uint8_t* q = p; q < end && classes.size() < 8; ++q) {
            map_op_class_param_t c;
            c.op_class = *q;
            classes.push_back(c);
        }
        map_update_radio_basic_caps(radio, 2, classes.data(), static_cast<int>(classes.size()));
        ics_available_channel_t out[65];
        ics_get_available_channel(radio->radio_id, out, 65);
        void* h = ics_attach_radio(radio);
        operating_channel_report_tlv r;
        r.radio_id = radio->radio_id;
        for (const uint8_t* q = p; q + 1 < end && r.op_classes.size() < 16; q += 2)
            r.op_classes.push_back({q[0], q[1]});
        ics_operating_channel_report(h, &r);
        channel_selection_request_event_t ev{};
        ics_get_current_channel(h, &ev);
        ics_is_current_channel_change(h);
    }
    std::vector<uint8_t> rec(kIcsProvisionSize, 0);
    for (size_t i = 0; p + i < end && i < rec.size(); ++i)
        rec[i] = p[i];
    ics_provision(rec.data(), rec.size());
    ics_provision_get_channel(static_cast<uint16_t>(rec[0] | rec[1] << 8));
    ics_is_valid_radio_channel_bw(static_cast<uint16_t>(rec[0] | rec[1] << 8), rec[7], rec[5]);
    ics_is_allow_sync_the_channel_and_bandwidth_to_additional_band(0x80, 36, 1);
    ics_get_mix_mesh_5g_channel_additional_dst_band();
    isMeshForMobileAppOnly();
    map_datamodel_reset();
    ics_reset();
    return 0;
}
