#include "data/ap_config_db.h"

#include <dirent.h>
#include <fcntl.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/paths.h"
#include "core/log.h"
#include "data/db_timestamp.h"

namespace {

constexpr const char* kDir = "/configs/easymesh";
constexpr const char* kFile = "ozr_config_db.json";
constexpr const char* kBackupFile = "ozr_config_db_backup.json";
constexpr const char* kCheck = "db_check_integrity";
constexpr const char* kCheckSignature = "bool ApConfigDb::db_check_integrity(std::fstream&)";
constexpr int kAlmePort = 8777;
constexpr size_t kRecordFields = 6;  // every member but "hkt-mgmt-cap"
constexpr size_t kMaxSn = 33;
constexpr size_t kMaxHwModel = 33;
constexpr size_t kMaxHostname = 64;
constexpr size_t kMaxStampShown = 64;

int hex_digit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string text_of(const rapidjson::Value& v) {
    return std::string(v.GetString(), v.GetStringLength());
}

bool all_in(const std::string& s, size_t lo, size_t hi) {
    return s.size() >= lo && s.size() <= hi;
}

}  // namespace

const char* const kMetricPolicyKeys[5] = {
    "metrics-report-interval", "sta-metrics-rssi-threshold-dbm",
    "sta-metrics-rssi-hysteresis-margin", "ap-metrics-channel-utilization-threshold-dbm",
    "sta-link-sta-traffic-stats"};
const char* const kControllerTopologyKeys[4] = {
    "al-entity-topology-discovery-interval", "map-controller-topology-query-interval",
    "map-controller-link-metric-query-interval", "map-controller-dead-agent-detection-interval"};

bool parse_db_mac(const std::string& text, MAC& out) {
    MAC mac;
    size_t group = 0;
    size_t pos = 0;
    for (;;) {
        size_t colon = text.find(':', pos);
        size_t len = (colon == std::string::npos ? text.size() : colon) - pos;
        if (group >= 6 || len != 2)
            return false;
        int hi = hex_digit(text[pos]);
        int lo = hex_digit(text[pos + 1]);
        if (hi < 0 || lo < 0)
            return false;
        mac[group++] = static_cast<uint8_t>(hi * 16 + lo);
        if (colon == std::string::npos)
            break;
        pos = colon + 1;
    }
    out = mac;
    return true;
}

std::string ApRecord::to_string() const {
    return "sn: " + sn + ", hw_model: " + hw_model + ", ale_id: " + ale_id +
           ", system MAC: " + system_mac + ", hostname: " + hostname + ", status: " + status + ".";
}

bool ApRecord::operator==(const ApRecord& o) const {
    return sn == o.sn && hw_model == o.hw_model && hostname == o.hostname && ale_id == o.ale_id &&
           system_mac == o.system_mac && hkt_mgmt_cap == o.hkt_mgmt_cap && status == o.status;
}

bool MetricPolCfg::operator==(const MetricPolCfg& o) const {
    return metrics_report_interval == o.metrics_report_interval &&
           sta_metrics_rssi_threshold_dbm == o.sta_metrics_rssi_threshold_dbm &&
           sta_metrics_rssi_hysteresis_margin == o.sta_metrics_rssi_hysteresis_margin &&
           ap_metrics_channel_utilization_threshold == o.ap_metrics_channel_utilization_threshold &&
           sta_link_sta_traffic_stats == o.sta_link_sta_traffic_stats;
}

bool CtlrTopoCfg::operator==(const CtlrTopoCfg& o) const {
    return al_entity_topology_discovery_interval == o.al_entity_topology_discovery_interval &&
           map_controller_topology_query_interval == o.map_controller_topology_query_interval &&
           map_controller_link_metric_query_interval ==
               o.map_controller_link_metric_query_interval &&
           map_controller_dead_agent_detection_interval ==
               o.map_controller_dead_agent_detection_interval;
}

ApConfigDb::ApConfigDb() : logger_(root_logger, "cfgdb", "", -1) {
    version_ = std::to_string(1) + "." + std::to_string(0) + "." + std::to_string(0);
}

ApConfigDb::~ApConfigDb() {
    OZR_DEBUG(&logger_, "ApConfigDb::{}", "~ApConfigDb");
}

// ---- start-up -------------------------------------------------------------------------

bool ApConfigDb::db_init() {
    std::string dir = ozr_path(kDir);
    if (!ozr_make_dirs(dir, 0775)) {
        int e = errno;
        OZR_ERROR(&logger_, "ApConfigDb::{} - Error creating cfg db directory: {}. error: {}",
                  __func__, dir, std::strerror(e));
        return false;
    }
    path_ = dir + "/" + kFile;
    backup_path_ = dir + "/" + kBackupFile;
    remove_stale_temporaries();

    int fd = open(path_.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) {
        if (fd >= 0)
            close(fd);
        OZR_ERROR(&logger_, "ApConfigDb::{} - Database open failed: {}", __func__, path_);
        return false;
    }
    close(fd);
    // A file beyond the bound is not ours: it is not read (memory stays bounded) and is
    // treated as unparsable.
    bool too_big = static_cast<unsigned long long>(st.st_size) > kMaxFileBytes;
    std::string text;
    if (!too_big && !ozr_read_file(path_, text, kMaxFileBytes)) {
        OZR_ERROR(&logger_, "ApConfigDb::{} - Database open failed: {}", __func__, path_);
        return false;
    }
    bool ok = db_check_integrity(text, too_big);
    if (access(path_.c_str(), F_OK) == 0)
        chmod(path_.c_str(), 0600);
    if (access(backup_path_.c_str(), F_OK) == 0)
        chmod(backup_path_.c_str(), 0600);
    return ok;
}

void ApConfigDb::remove_stale_temporaries() const {
    // A write interrupted by a crash leaves its temporary file ("<name>.tmpXXXXXX").
    size_t slash = path_.rfind('/');
    std::string dir = path_.substr(0, slash);
    DIR* d = opendir(dir.c_str());
    if (!d)
        return;
    const std::string prefixes[] = {std::string(kFile) + ".tmp", std::string(kBackupFile) + ".tmp"};
    while (struct dirent* e = readdir(d)) {
        std::string name(e->d_name);
        for (const std::string& p : prefixes) {
            if (name.size() == p.size() + 6 && name.compare(0, p.size(), p) == 0) {
                std::string stale = dir + "/" + name;
                OZR_INFO(&logger_, "ApConfigDb::{} - removing {} left by an interrupted write",
                         "db_init", stale);
                unlink(stale.c_str());
            }
        }
    }
    closedir(d);
}

bool ApConfigDb::db_check_integrity(const std::string& text, bool too_big) {
    const LoadResult loaded = too_big ? LoadResult::UNPARSABLE : db_load_text(text);
    if (loaded == LoadResult::EMPTY)
        return write_state();  // a new file: the defaults
    if (loaded == LoadResult::UNPARSABLE) {
        if (too_big)
            OZR_ERROR(&logger_, "ApConfigDb::{} - Database format verification failed: {}", kCheck,
                      path_);
        OZR_ERROR(&logger_, "ApConfigDb::{} - moving the corrcupted file to new name {}", kCheck,
                  backup_path_);
        bool saved;
        if (too_big) {
            saved = std::rename(path_.c_str(), backup_path_.c_str()) == 0;
        } else {
            int err = 0;
            saved = ozr_write_file_atomic(backup_path_, text, 0600, &err);
        }
        if (!saved) {
            // Without its backup the file is left as it is: nothing is destroyed.
            OZR_ERROR(&logger_, "ApConfigDb::{} - Database write failed: {}", kCheck, backup_path_);
            return false;
        }
        OZR_ERROR(&logger_, "ApConfigDb::{} - constructing a new ozr_config_db.json", kCheck);
        return write_state();
    }
    if (loaded == LoadResult::CLEAN)
        return true;
    OZR_ERROR(&logger_, "ApConfigDb::{} - moving the corrupted file to new name {}", kCheck,
              backup_path_);
    int err = 0;
    if (!ozr_write_file_atomic(backup_path_, text, 0600, &err)) {
        // The file read stays in place (it holds everything) until a change rewrites it.
        OZR_ERROR(&logger_, "ApConfigDb::{} - Database write failed: {}", kCheck, backup_path_);
        dirty_ = true;
        return true;
    }
    write_state();
    return true;
}

ApConfigDb::LoadResult ApConfigDb::db_load_text(const std::string& text) {
    records_.clear();
    metric_policy_ = MetricPolCfg();
    topo_cfg_ = CtlrTopoCfg();
    last_updated_.clear();
    if (text.empty())
        return LoadResult::EMPTY;
    rapidjson::Document doc;
    doc.Parse<rapidjson::kParseIterativeFlag>(text.c_str(), text.size());
    if (doc.HasParseError() || !doc.IsObject()) {
        OZR_ERROR(&logger_, "ApConfigDb::{} - Database format verification failed: {}", kCheck,
                  path_);
        return LoadResult::UNPARSABLE;
    }

    bool corrupt = false;
    auto list = doc.FindMember("ap-white-list");
    if (list == doc.MemberEnd() || !list->value.IsArray()) {
        OZR_ERROR(&logger_, "ApConfigDb::{} - Invalid type for ap-white-list: {}", kCheck, path_);
        corrupt = true;
    } else {
        for (const rapidjson::Value& el : list->value.GetArray()) {
            if (!el.IsObject()) {
                OZR_ERROR(&logger_, "ApConfigDb::{} - Invalid attribute for ap-white-list: {}",
                          kCheck, path_);
                corrupt = true;
                continue;
            }
            // First pass: the status members decide whether the record is configured,
            // which makes the identity checks below strict.
            bool configured = false;
            bool status_bad = false;
            for (const auto& m : el.GetObject()) {
                if (text_of(m.name) != "status")
                    continue;
                if (!m.value.IsString()) {
                    OZR_ERROR(&logger_, "{} non-string value for status: {}", kCheckSignature,
                              path_);
                    status_bad = true;
                } else if (m.value.GetStringLength() == 0) {
                    OZR_ERROR(&logger_, "{} empty value for status: {}", kCheckSignature, path_);
                    status_bad = true;
                } else if (!is_status_string(text_of(m.value))) {
                    OZR_ERROR(&logger_, "{} invalid value for status {}: {}", kCheckSignature,
                              text_of(m.value), path_);
                    status_bad = true;
                } else if (text_of(m.value) == "Configured") {
                    configured = true;
                }
            }
            if (status_bad)
                corrupt = true;

            // Second pass: build the record, counting the distinct fields taken.
            ApRecord rec;
            unsigned fields = 0;  // bit per counted member
            bool refused = false;
            for (const auto& m : el.GetObject()) {
                const std::string key = text_of(m.name);
                const rapidjson::Value& v = m.value;
                if (key == "serial-number") {
                    if (!v.IsString()) {
                        OZR_ERROR(&logger_, "ApConfigDb::{} - non-string value for sn: {}", kCheck,
                                  path_);
                        refused = true;
                    } else if (!all_in(text_of(v), 1, kMaxSn)) {
                        OZR_ERROR(&logger_, "ApConfigDb::{} - invalid value/bad length for sn: {}",
                                  kCheck, text_of(v));
                        refused = true;
                    } else if (records_.count(text_of(v))) {
                        OZR_ERROR(&logger_, "ApConfigDb::{} - duplicate sn: {} : {}", kCheck,
                                  text_of(v), path_);
                        refused = true;
                    }
                    if (refused)
                        break;
                    rec.sn = text_of(v);
                    fields |= 1u << 0;
                } else if (key == "hw-model") {
                    if (!v.IsString()) {
                        OZR_ERROR(&logger_, "ApConfigDb::{} - non-string value for hw-model: {}",
                                  kCheck, path_);
                        rec.hw_model.clear();
                    } else {
                        rec.hw_model = text_of(v);
                        if (configured && !all_in(rec.hw_model, 1, kMaxHwModel))
                            OZR_ERROR(&logger_,
                                      "ApConfigDb::{} - invalid value/bad length for hw-model: {}",
                                      kCheck, rec.hw_model);
                    }
                    fields |= 1u << 1;
                } else if (key == "ale-id" || key == "system-mac") {
                    const bool ale = key == "ale-id";
                    std::string& dst = ale ? rec.ale_id : rec.system_mac;
                    if (!v.IsString()) {
                        if (ale)
                            OZR_ERROR(&logger_, "ApConfigDb::{} - non-string value for ale-id: {}",
                                      kCheck, path_);
                        else
                            OZR_ERROR(&logger_,
                                      "ApConfigDb::{} - non-string value for system MAC: {}",
                                      kCheck, path_);
                        dst.clear();
                    } else {
                        dst = text_of(v);
                        MAC mac;
                        if (configured && dst.empty()) {
                            if (ale)
                                OZR_ERROR(&logger_, "{} empty value for ale id: {}",
                                          kCheckSignature, path_);
                            else
                                OZR_ERROR(&logger_, "{} empty value for system MAC: {}",
                                          kCheckSignature, path_);
                        } else if (configured && !parse_db_mac(dst, mac)) {
                            if (ale)
                                OZR_ERROR(&logger_, "ApConfigDb::{} - Bad ale-id value: {}", kCheck,
                                          dst);
                            else
                                OZR_ERROR(&logger_, "ApConfigDb::{} - Bad system MAC: {} ", kCheck,
                                          dst);
                        }
                    }
                    fields |= ale ? 1u << 2 : 1u << 3;
                } else if (key == "hostname") {
                    if (!v.IsString()) {
                        OZR_ERROR(&logger_, "ApConfigDb::{} - non-string value for hostname: {}",
                                  kCheck, path_);
                        rec.hostname.clear();
                    } else {
                        rec.hostname = text_of(v);
                        if (configured && !all_in(rec.hostname, 1, kMaxHostname))
                            OZR_ERROR(&logger_, "{} empty value for hostname: {}", kCheckSignature,
                                      path_);
                    }
                    fields |= 1u << 4;
                } else if (key == "hkt-mgmt-cap") {
                    if (!v.IsString()) {
                        OZR_ERROR(&logger_,
                                  "ApConfigDb::{} - non-string value for hkt mgmt capability: {}",
                                  kCheck, path_);
                        rec.hkt_mgmt_cap.clear();
                    } else {
                        rec.hkt_mgmt_cap = text_of(v);
                    }
                } else if (key == "status") {
                    // A status that is not one of the states (already reported above) is
                    // kept as NotDetected: the extender goes through detection again, and
                    // the cleaned file is valid at the next start.
                    std::string s = v.IsString() ? text_of(v) : std::string();
                    rec.status = is_status_string(s) ? s : "NotDetected";
                    fields |= 1u << 5;
                } else {
                    OZR_ERROR(&logger_, "{} unknown attribute {}: {}", kCheckSignature, key, path_);
                    rec.status = "NotDetected";
                }
            }
            if (refused) {
                corrupt = true;
                continue;
            }
            size_t count = 0;
            for (unsigned b = fields; b; b &= b - 1)
                ++count;
            if (count != kRecordFields) {
                OZR_ERROR(&logger_,
                          "ApConfigDb::{} - Missing field(s) in config db AP record. "
                          "Actual/Expected: {}/{} removing this node",
                          kCheck, count, kRecordFields);
                continue;
            }
            if (records_.size() >= kMaxRecords) {
                OZR_ERROR(&logger_, "ApConfigDb::{} - more than {} AP records, dropping sn: {}",
                          kCheck, kMaxRecords, rec.sn);
                corrupt = true;
                continue;
            }
            std::string sn = rec.sn;
            records_.emplace(std::move(sn), std::move(rec));
        }
    }

    auto pol = doc.FindMember("metric-policy-configuration");
    if (pol != doc.MemberEnd() && pol->value.IsObject()) {
        int32_t* dst[5] = {&metric_policy_.metrics_report_interval,
                           &metric_policy_.sta_metrics_rssi_threshold_dbm,
                           &metric_policy_.sta_metrics_rssi_hysteresis_margin,
                           &metric_policy_.ap_metrics_channel_utilization_threshold,
                           &metric_policy_.sta_link_sta_traffic_stats};
        for (const auto& m : pol->value.GetObject()) {
            if (!m.value.IsInt())
                continue;
            for (size_t i = 0; i < 5; ++i)
                if (text_of(m.name) == kMetricPolicyKeys[i])
                    *dst[i] = m.value.GetInt();
        }
    }
    auto topo = doc.FindMember("controller-topology-configuration");
    if (topo != doc.MemberEnd() && topo->value.IsObject()) {
        uint32_t* dst[4] = {&topo_cfg_.al_entity_topology_discovery_interval,
                            &topo_cfg_.map_controller_topology_query_interval,
                            &topo_cfg_.map_controller_link_metric_query_interval,
                            &topo_cfg_.map_controller_dead_agent_detection_interval};
        for (const auto& m : topo->value.GetObject()) {
            if (!m.value.IsInt())
                continue;
            for (size_t i = 0; i < 4; ++i)
                if (text_of(m.name) == kControllerTopologyKeys[i])
                    *dst[i] = static_cast<uint32_t>(m.value.GetInt());
        }
    }
    // Shown by the REST view until the first write of this run.
    auto stamp = doc.FindMember("last updated");
    if (stamp != doc.MemberEnd() && stamp->value.IsString() &&
        stamp->value.GetStringLength() <= kMaxStampShown)
        last_updated_ = text_of(stamp->value);

    return corrupt ? LoadResult::CORRUPT : LoadResult::CLEAN;
}

// ---- records --------------------------------------------------------------------------

bool ApConfigDb::db_add_record(const std::string& sn, const ApRecord& rec) {
    if (records_.count(sn)) {
        OZR_ERROR(&logger_, "ApConfigDb::{} - sn: {} already exists", __func__, sn);
        return false;
    }
    records_.emplace(sn, rec);
    return write_state();
}

bool ApConfigDb::db_update_record(const std::string& sn, const ApRecord& rec) {
    auto it = records_.find(sn);
    if (it == records_.end()) {
        OZR_DEBUG(&logger_, "ApConfigDb::{} - sn: {} not found", __func__, sn);
        return false;
    }
    if (rec.sn != sn) {
        OZR_ERROR(&logger_, "ApConfigDb::{} - serial # mismatch. key sn: {} rec sn: {}", __func__,
                  sn, rec.sn);
        return false;
    }
    if (it->second == rec && !dirty_)
        return true;  // the file already says so
    it->second = rec;
    return write_state();
}

bool ApConfigDb::db_delete_record(const std::string& sn) {
    auto it = records_.find(sn);
    if (it == records_.end()) {
        OZR_DEBUG(&logger_, "ApConfigDb::{} - serial #{} not found", __func__, sn);
        return false;
    }
    records_.erase(it);
    return write_state();
}

std::pair<int, const ApRecord*> ApConfigDb::db_query_record(const std::string& sn) const {
    auto it = records_.find(sn);
    if (it == records_.end()) {
        OZR_DEBUG(&logger_, "ApConfigDb::{} - sn: {} not found", __func__, sn);
        return {2, nullptr};
    }
    return {0, &it->second};
}

std::pair<int, const ApRecord*> ApConfigDb::db_get_record(const std::string& sn) const {
    auto it = records_.find(sn);
    if (it == records_.end()) {
        OZR_ERROR(&logger_, "ApConfigDb::{} - sn: {} not found", __func__, sn);
        return {2, nullptr};
    }
    return {0, &it->second};
}

// ---- policy blocks --------------------------------------------------------------------

bool ApConfigDb::db_get_map_policy_cfg(MetricPolCfg& out) const {
    out = metric_policy_;
    return true;
}

bool ApConfigDb::db_get_controller_topo_cfg(CtlrTopoCfg& out) const {
    out = topo_cfg_;
    return true;
}

bool ApConfigDb::db_update_map_policy_cfg(const MetricPolCfg& cfg) {
    if (cfg == metric_policy_ && !dirty_)
        return true;
    metric_policy_ = cfg;
    return write_state();
}

bool ApConfigDb::db_update_controller_topo_cfg(const CtlrTopoCfg& cfg) {
    if (cfg == topo_cfg_ && !dirty_)
        return true;
    topo_cfg_ = cfg;
    return write_state();
}

bool ApConfigDb::db_update_cfg_blocks(const MetricPolCfg& policy, const CtlrTopoCfg& topo) {
    if (policy == metric_policy_ && topo == topo_cfg_ && !dirty_)
        return true;
    metric_policy_ = policy;
    topo_cfg_ = topo;
    return write_state();
}

// ---- document -------------------------------------------------------------------------

void ApConfigDb::build_json(rapidjson::Document& doc, const std::string& stamp) const {
    using rapidjson::Value;
    doc.SetObject();
    auto& a = doc.GetAllocator();
    auto str = [&a](const std::string& s) {
        return Value(s.c_str(), static_cast<rapidjson::SizeType>(s.size()), a);
    };
    doc.AddMember("version", str(version_), a);
    doc.AddMember("last updated", str(stamp), a);
    doc.AddMember("alme-port", kAlmePort, a);
    doc.AddMember("other-map-controller-found", false, a);
    Value list(rapidjson::kArrayType);
    for (const auto& kv : records_) {
        const ApRecord& r = kv.second;
        Value o(rapidjson::kObjectType);
        o.AddMember("serial-number", str(r.sn), a);
        o.AddMember("hw-model", str(r.hw_model), a);
        o.AddMember("ale-id", str(r.ale_id), a);
        o.AddMember("system-mac", str(r.system_mac), a);
        o.AddMember("hostname", str(r.hostname), a);
        o.AddMember("hkt-mgmt-cap", str(r.hkt_mgmt_cap), a);
        o.AddMember("status", str(r.status), a);
        list.PushBack(o, a);
    }
    doc.AddMember("ap-white-list", list, a);
    const int32_t pol[5] = {metric_policy_.metrics_report_interval,
                            metric_policy_.sta_metrics_rssi_threshold_dbm,
                            metric_policy_.sta_metrics_rssi_hysteresis_margin,
                            metric_policy_.ap_metrics_channel_utilization_threshold,
                            metric_policy_.sta_link_sta_traffic_stats};
    Value p(rapidjson::kObjectType);
    for (size_t i = 0; i < 5; ++i)
        p.AddMember(rapidjson::StringRef(kMetricPolicyKeys[i]), pol[i], a);
    doc.AddMember("metric-policy-configuration", p, a);
    const uint32_t topo[4] = {topo_cfg_.al_entity_topology_discovery_interval,
                              topo_cfg_.map_controller_topology_query_interval,
                              topo_cfg_.map_controller_link_metric_query_interval,
                              topo_cfg_.map_controller_dead_agent_detection_interval};
    Value t(rapidjson::kObjectType);
    for (size_t i = 0; i < 4; ++i)
        t.AddMember(rapidjson::StringRef(kControllerTopologyKeys[i]), topo[i], a);
    doc.AddMember("controller-topology-configuration", t, a);
}

void ApConfigDb::db_build_json(rapidjson::Document& doc) const {
    build_json(doc, last_updated_);
}

std::string ApConfigDb::db_build_text() {
    rapidjson::Document doc;
    build_json(doc, db_timestamp_text());
    rapidjson::StringBuffer sb;
    rapidjson::PrettyWriter<rapidjson::StringBuffer> w(sb);
    w.SetIndent(' ', 4);
    doc.Accept(w);
    std::string text(sb.GetString(), sb.GetSize());
    text += '\n';
    return text;
}

bool ApConfigDb::db_write_file(rapidjson::Document& doc) {
    if (path_.empty()) {
        OZR_ERROR(&logger_, "ApConfigDb::{} - Database open failed: {}", __func__, path_);
        return false;
    }
    rapidjson::StringBuffer sb;
    rapidjson::PrettyWriter<rapidjson::StringBuffer> w(sb);
    w.SetIndent(' ', 4);
    doc.Accept(w);
    std::string text(sb.GetString(), sb.GetSize());
    text += '\n';
    int err = 0;
    if (!ozr_write_file_atomic(path_, text, 0600, &err)) {
        OZR_ERROR(&logger_, "ApConfigDb::{} - Database write failed: {}", __func__, path_);
        OZR_DEBUG(&logger_, "ApConfigDb::{} - {}", __func__, std::strerror(err));
        return false;
    }
    ++writes_;
    return true;
}

bool ApConfigDb::write_state() {
    std::string stamp = db_timestamp_text();
    rapidjson::Document doc;
    build_json(doc, stamp);
    bool ok = db_write_file(doc);
    dirty_ = !ok;
    if (ok)
        last_updated_ = stamp;
    return ok;
}
