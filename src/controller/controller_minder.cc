#include "controller/controller_minder.h"

#include <unistd.h>
#include <uv.h>

#include <cerrno>
#include <cstdio>

#include "common/clock.h"
#include "common/paths.h"
#include "common/random_seed.h"
#include "core/cmdu_registry.h"
#include "core/live_minders.h"
#include "core/log.h"
#include "map/codec/cmdu_alloc.h"
#include "map/codec/codec.h"
#include "map/codec/tlv_types.h"
#include "map/datamodel/datamodel.h"
#include "map/map_send.h"
#include "nal/nal.h"
#include "supervise/supervise.h"

const char* const kControllerReadyMarker = "/tmp/pmx_start_ozr_ready";

namespace {
// The signatures these lines name, written out: every compiler spells them the same.
constexpr const char* kCheckSignature = "void ControllerMinder::on_controller_check()";
constexpr const char* kResponseSignature = "void ControllerMinder::on_ac_response(CMDU*)";

}  // namespace

ControllerMinder::ControllerMinder(uv_loop_s* loop)
    : logger_(root_logger, "controller", "", -1),
      loop_(loop),
      check_timer_(loop, "controller_check", [this] { on_controller_check(); }),
      rng_(ozr_random_seed()),
      watchdog_timer_(loop, "Controller watchdog feed", [this] { on_watchdog_feed(); }),
      generation_(live_minder_join(this)) {
    int level = find_config_log_level("root.controller");
    if (level != -1) {
        logger_.set_level(level);
        nal_setLogLevel(level);
    }
    uint64_t gen = generation_;
    add_cmdu_handler(CMDU_TYPE_AP_AUTOCONFIGURATION_RESPONSE, nullptr, [gen](CMDU* cmdu) {
        if (ControllerMinder* m = live_minder<ControllerMinder>(gen); m && cmdu)
            m->on_ac_response(cmdu);
    });
}

ControllerMinder::~ControllerMinder() {
    live_minder_leave(generation_);
}

Err ControllerMinder::init(Context& /*context*/) {
    OZR_INFO(&logger_, "ControllerMinder::{}() starting the watchdog feed", __func__);
    watchdog_timer_.start(10000, 10000);
    return Err(0);
}

void ControllerMinder::run() {
    std::uniform_int_distribution<int> first(1, 1000);
    int delay = first(rng_);
    OZR_INFO(&logger_, "ControllerMinder::{}() first duplicate controller check in {} ms", __func__,
             delay);
    check_timer_.start(delay);
}

void ControllerMinder::on_controller_check() {
    OZR_DEBUG(&logger_, "ControllerMinder::{}() checks left {}", __func__, checks_left_);
    if (checks_left_ == 0) {
        OZR_INFO(&logger_, "{} - No duplicate controllers found. Stopping checks.",
                 kCheckSignature);
        check_timer_.stop();
        return;
    }
    if (checks_left_ > 0)
        --checks_left_;

    // Searched like an agent would: for a registrar offering the controller service.
    mid_ = 0;
    search_sent_ = false;
    CmduBuilder b(CMDU_TYPE_AP_AUTOCONFIGURATION_SEARCH, 0);
    b.relay(true);
    b.add(al_mac_address_tlv{TLV_TYPE_AL_MAC_ADDRESS_TYPE, PLATFORM_GET_MAC_ADDRESS()});
    b.add(searched_role_tlv{TLV_TYPE_SEARCHED_ROLE, IEEE1905_ROLE_REGISTRAR});
    b.add(autoconfig_freq_band_tlv{TLV_TYPE_AUTOCONFIG_FREQ_BAND, 0x00});
    {
        auto& s = b.add<supported_service_tlv>();
        s.services.push_back(MAP_SERVICE_AGENT);
        s.num_services = 1;
    }
    {
        auto& s = b.add<searched_service_tlv>();
        s.services.push_back(MAP_SERVICE_CONTROLLER);
        s.num_services = 1;
    }
    uint8_t profile = get_map_profile();
    if (profile != 1)
        b.add(multiap_profile_tlv{TLV_TYPE_MULTIAP_PROFILE, profile});
    CmduPtr cmdu = b.build();
    int ret = MAP_SEND_ENCODE;
    if (cmdu) {
        cmdu->message_version = 0;
        std::snprintf(cmdu->interface_name, sizeof cmdu->interface_name, "%s", "all");
        ret = lib1905_send(handle_1905, &mid_, IEEE1905_MULTICAST_ADDRESS, cmdu.get());
    }
    if (ret < 0) {
        OZR_ERROR(&logger_, "{}:{} - send failed, ret is {}.", __FILE__, __LINE__, ret);
    } else {
        search_sent_ = true;
        OZR_DEBUG(&logger_, "{}:{} - send succeed, interface_name is {}.", __FILE__, __LINE__,
                  cmdu->interface_name);
    }
    check_timer_.start(check_interval_ + jitter_(rng_));
}

void ControllerMinder::on_ac_response(CMDU* cmdu) {
    OZR_DEBUG(&logger_, "ControllerMinder::{}() message id {}, last search {}", __func__,
              cmdu->message_id, mid_);
    // A response to some other search (an agent's) is none of our business; before our
    // first search went out nothing can answer it.
    if (!search_sent_ || cmdu->message_id != mid_)
        return;
    OZR_ERROR(&logger_, "{} - Duplicate MAP controller detected. Exiting.", kResponseSignature);
    duplicate_found_ = true;
    // What "rm -f" of the marker does, without a shell.
    std::string marker = ozr_path(kControllerReadyMarker);
    if (unlink(marker.c_str()) != 0 && errno != ENOENT)
        OZR_WARN(&logger_, "ControllerMinder::{}() could not remove {}", __func__, marker);
    check_timer_.stop();
    if (loop_)
        uv_stop(loop_);
}

void ControllerMinder::on_watchdog_feed() {
    OZR_DEBUG(&logger_, "{}:{} .", __FILE__, __LINE__);
    watchdog_feed();
}
