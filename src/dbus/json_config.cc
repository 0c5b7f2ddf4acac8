#include "dbus/json_config.h"

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <string>
#include <vector>

#include "common/mac.h"
#include "core/context.h"
#include "core/log.h"
#include "dbus/bridge.h"
#include "steering/steering_minder.h"

namespace {
// The integer members of a steering element, in the order they are applied.
const char* const kSteeringKeys[] = {
    "bsteer_rssi_5to2",
    "bsteer_rssi_2to5",
    "bsteer_en",
    "msteer_en",
    "msteer_ratio",
    "min_backoff_t",
    "min_steer_interval_c1",
    "min_steer_interval_c2",
    "min_steer_interval_a",
    "unsteer_cnt_c1_to_c2",
    "no_idle_tput_size",
    "bnd_prefer_5g_en",
    "bnd_prefer_mode",
    "bnd_prefer_dis_timer",
    "btm_assisted",
    "rrm_en",
};

std::string to_json(const rapidjson::Value& v) {
    rapidjson::StringBuffer sb;
    rapidjson::Writer<rapidjson::StringBuffer> w(sb);
    v.Accept(w);
    std::string s(sb.GetString(), sb.GetSize());
    if (s.size() > 512)
        s = s.substr(0, 512) + "…";
    return s;
}

}  // namespace

// One "steering" element: every member is checked first, then applied; a refused member
// refuses the whole element and nothing of it is applied.
static bool ozr_handle_steering_config(const rapidjson::Value& elem) {
    const char* sig = OZR_SIGNATURE;
    const Logger* log = ozr_dbus_logger();
    std::vector<std::pair<const char*, long long>> values;
    for (const char* key : kSteeringKeys) {
        auto it = elem.FindMember(key);
        if (it == elem.MemberEnd())
            continue;
        if (!it->value.IsInt64()) {
            OZR_ERROR(log, "{} - non-integer value for {}", sig, key);
            return false;
        }
        values.emplace_back(key, it->value.GetInt64());
    }
    bool have_entries = false;
    std::vector<MAC> entries;
    auto it = elem.FindMember("bnd_prefer_entries");
    if (it != elem.MemberEnd()) {
        if (!it->value.IsArray()) {
            OZR_ERROR(log, "Invalid request. \"bnd_prefer_entries\" array not found");
            return false;
        }
        for (const auto& e : it->value.GetArray()) {
            if (!e.IsString()) {
                OZR_ERROR(log, "Invalid request. Missing/Invalid data.");
                return false;
            }
            MAC mac;
            std::string text(e.GetString(), e.GetStringLength());
            if (!MAC::parse(text, mac)) {
                OZR_ERROR(log, "Invalid request. Bad MAC: {}", text);
                return false;
            }
            entries.push_back(mac);
        }
        have_entries = true;
    }
    Context* ctx = Context::instance();
    SteeringMinder* sm = ctx ? ctx->steering_minder : nullptr;
    if (sm == nullptr)
        return false;
    bool ok = true;
    for (const auto& v : values) {
        if (sm->set_steering_config_value(v.first, v.second) != 0) {
            OZR_ERROR(log, "{} - value {} for {} not accepted", sig, v.second, v.first);
            ok = false;
            continue;
        }
        OZR_INFO(log, "{} value for {} is {}", sig, v.first, v.second);
    }
    if (have_entries) {
        if (sm->set_bnd_prefer_entries(entries) != 0) {
            OZR_ERROR(log, "{} - bnd_prefer_entries not accepted", sig);
            ok = false;
        } else {
            OZR_INFO(log, "{} value for {} is {} entries", sig, "bnd_prefer_entries",
                     entries.size());
        }
    }
    return ok;
}

ZkaOzrRet ozr_handle_json_config(const char* text) {
    const char* sig = OZR_SIGNATURE;
    const Logger* log = ozr_dbus_logger();
    if (text == nullptr) {
        OZR_ERROR(log, "{} input is NULL", sig);
        return ZKA_OZR_FAILURE;
    }
    OZR_DEBUG(log, "{} got invoked with json {}", sig, text);
    rapidjson::Document doc;
    // Iterative: a deeply nested text cannot exhaust the stack.
    doc.Parse<rapidjson::kParseIterativeFlag>(text);
    if (doc.HasParseError()) {
        OZR_ERROR(log, "{} - JSON format verification failed: {} (offset {})", sig,
                  rapidjson::GetParseError_En(doc.GetParseError()), doc.GetErrorOffset());
        return ZKA_OZR_FAILURE;
    }
    if (!doc.IsObject() || !doc.HasMember("ozr-config")) {
        OZR_ERROR(log, "{} - ozr-config array not found: {}", sig, to_json(doc));
        return ZKA_OZR_FAILURE;
    }
    const rapidjson::Value& list = doc["ozr-config"];
    if (!list.IsArray()) {
        OZR_ERROR(log, "{} - ozr-config is not an array type: {}", sig, to_json(list));
        return ZKA_OZR_FAILURE;
    }
    int applied = 0;
    for (const auto& elem : list.GetArray()) {
        if (!elem.IsObject()) {
            OZR_ERROR(log, "{} - Invalid attribute for ozr-config: {}", sig, to_json(elem));
            continue;
        }
        auto type = elem.FindMember("config-type");
        if (type == elem.MemberEnd() || !type->value.IsString()) {
            OZR_ERROR(log, "{} non-string value for config-type", sig);
            continue;
        }
        std::string kind(type->value.GetString(), type->value.GetStringLength());
        if (kind.empty()) {
            OZR_ERROR(log, "{} empty value for config", sig);
            continue;
        }
        if (kind == "steering") {
            if (ozr_handle_steering_config(elem))
                ++applied;
        } else {
            OZR_ERROR(log, "{} - unknown config-type: {}", sig, kind);
        }
    }
    if (applied == 0) {
        OZR_ERROR(log, "{} valid config not found, returning failure", sig);
        return ZKA_OZR_FAILURE;
    }
    return ZKA_OZR_SUCCESS;
}
