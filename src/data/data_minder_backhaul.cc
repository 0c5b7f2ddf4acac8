// The data minder's forwarders to backhaul steering and the fronthaul radio management
// switch (REST and the bus reach steering through the data minder).
#include "core/context.h"
#include "core/log.h"
#include "data/data_minder.h"
#include "steering/backhaul_steering.h"
#include "steering/steering_minder.h"

namespace {

SteeringMinder* steering() {
    Context* c = Context::instance();
    return c ? c->steering_minder : nullptr;
}

std::string entry_text(const BhSteerEntry& e) {
    return "al-mac " + e.al_mac.to_string() + " backhaul-sta-mac " + e.bsta_mac.to_string() +
           " target-bssid " + e.target_bssid.to_string();
}

}  // namespace

int DataMinder::add_bh_steer_entries(const std::vector<std::unique_ptr<BhSteerEntry>>& entries) {
    int sent = 0;
    for (const auto& e : entries) {
        if (!e)
            continue;
        OZR_DEBUG(&logger_, "DataMinder::{}() {}", __func__, entry_text(*e));
        if (send_backhaul_steering(e) == 0)
            ++sent;
    }
    return sent;
}

void DataMinder::del_bh_steer_entries(const std::vector<std::unique_ptr<BhSteerEntry>>& entries) {
    for (const auto& e : entries)
        if (e)
            OZR_DEBUG(&logger_, "DataMinder::{}() {}", __func__, entry_text(*e));
}

int DataMinder::send_backhaul_steering(const std::unique_ptr<BhSteerEntry>& entry) {
    SteeringMinder* s = steering();
    if (!entry || !s)
        return -1;
    return s->backhaul().send_backhaul_steering(*entry);
}

std::string DataMinder::get_bh_steer_block_reason() const {
    SteeringMinder* s = steering();
    return s ? s->backhaul().block_reason() : std::string();
}

void DataMinder::set_bh_steer_enable(bool on) {
    if (SteeringMinder* s = steering())
        s->set_bh_steer_enable(on);
}

bool DataMinder::get_bh_steer_enable() const {
    SteeringMinder* s = steering();
    return s && s->get_bh_steer_enable();
}

void DataMinder::set_fh_mgmt_enable(bool on) {
    if (SteeringMinder* s = steering())
        s->set_fh_mgmt_enable(on);
}

bool DataMinder::get_fh_mgmt_enable() const {
    SteeringMinder* s = steering();
    return s && s->get_fh_mgmt_enable();
}

void DataMinder::set_all_devices_5gh_fh_enable(bool enable) {
    if (SteeringMinder* s = steering())
        s->set_all_devices_5gh_fronthaul_radio_enable(enable);
}
