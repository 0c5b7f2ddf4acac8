#include "data/ozr_dbg_db.h"

#include <fcntl.h>
#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/paths.h"
#include "core/log.h"
#include "data/db_timestamp.h"

namespace {
constexpr const char* kDir = "/configs/easymesh";
constexpr const char* kFile = "ozr_dbg_db.json";
constexpr const char* kBackupFile = "ozr_dbg_db_backup.json";
// The document is a few hundred bytes; anything beyond this is not ours.
constexpr size_t kMaxFile = 64 * 1024;

struct Field {
    const char* key;
    std::string* value;
};

// Reads at most MAX bytes of FD; TOO_BIG is set when the file holds more.
bool read_fd(int fd, std::string& out, size_t max, bool& too_big) {
    out.clear();
    too_big = false;
    char buf[4096];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return true;
        if (out.size() + static_cast<size_t>(n) > max) {
            too_big = true;
            return true;
        }
        out.append(buf, static_cast<size_t>(n));
    }
}

bool all_blank(const std::string& s) {
    for (char c : s) {
        if (c != ' ' && c != '\n' && c != '\r' && c != '\t')
            return false;
    }
    return true;
}
}  // namespace

OzrDbgDb::OzrDbgDb()
    : logger_(root_logger, "dbgdb", "", -1), version_("1.0.0"), log_destination_("syslog") {}
// A new database logs to syslog, as the gateway's daemons do by default.

OzrDbgDb::~OzrDbgDb() = default;

bool OzrDbgDb::db_init() {
    std::string dir = ozr_path(kDir);
    if (!ozr_make_dirs(dir, 0775)) {
        int e = errno;
        OZR_ERROR(&logger_, "OzrDbgDb::{} - Error creating cfg db directory: {}. error: {}",
                  __func__, dir, std::strerror(e));
        return false;
    }
    path_ = dir + "/" + kFile;
    backup_path_ = dir + "/" + kBackupFile;
    int fd = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        OZR_ERROR(&logger_, "OzrDbgDb::{} - Database open failed: {}", __func__, path_);
        return false;
    }
    std::string text;
    bool too_big = false;
    bool read_ok = read_fd(fd, text, kMaxFile, too_big);
    close(fd);
    if (!read_ok) {
        OZR_ERROR(&logger_, "OzrDbgDb::{} - Database open failed: {}", __func__, path_);
        return false;
    }
    if (too_big)
        text = "\x01";  // unparsable: moved aside and replaced below
    if (!db_check_integrity(text))
        return false;
    OZR_INFO(&logger_, "OzrDbgDb::{} - Database successully initialised {}", __func__, path_);
    return true;
}

bool OzrDbgDb::db_check_integrity(const std::string& text) {
    const char* op = "db_check_integrity";
    log_destination_ = "syslog";
    map_cfg_ = MapLogCfg();
    ozr_cfg_ = OzrLogCfg();
    if (all_blank(text))
        return db_write_file();

    rapidjson::Document doc;
    doc.Parse<rapidjson::kParseIterativeFlag>(text.c_str(), text.size());  // no recursion on depth
    if (doc.HasParseError() || !doc.IsObject()) {
        OZR_ERROR(&logger_, "OzrDbgDb::{} - Database format verification failed: {}", op, path_);
        OZR_ERROR(&logger_, "OzrDbgDb::{} - constructing a new ozr_dbg_db.json", op);
        // The broken file is kept as the backup (rename: atomic, nothing copied), then a
        // default document takes its place.
        std::rename(path_.c_str(), backup_path_.c_str());
        return db_write_file();
    }

    bool findings = false;
    auto dest = doc.FindMember("log-destination");
    if (dest == doc.MemberEnd()) {
        OZR_ERROR(&logger_, "OzrDbgDb::{} - log-destination member not found {}", op, path_);
        findings = true;
    } else if (!dest->value.IsString()) {
        OZR_ERROR(&logger_, "OzrDbgDb::{} - non-string value for log_destination: {}", op, path_);
        findings = true;
    } else {
        log_destination_.assign(dest->value.GetString(), dest->value.GetStringLength());
    }

    auto take = [&](const char* block, const Field* fields, size_t count) {
        auto it = doc.FindMember(block);
        if (it == doc.MemberEnd())
            return;
        if (!it->value.IsObject()) {
            OZR_ERROR(&logger_, "OzrDbgDb::{} - Invalid type for {}: {}", op, block, path_);
            findings = true;
            return;
        }
        for (size_t i = 0; i < count; ++i) {
            auto m = it->value.FindMember(fields[i].key);
            if (m == it->value.MemberEnd())
                continue;
            if (!m->value.IsString()) {
                OZR_ERROR(&logger_, "OzrDbgDb::{} - non-string value for {}: {}", op, fields[i].key,
                          path_);
                findings = true;
                continue;
            }
            fields[i].value->assign(m->value.GetString(), m->value.GetStringLength());
        }
    };
    const Field map_fields[] = {{"map.1905", &map_cfg_.map_1905},
                                {"map.library", &map_cfg_.map_library},
                                {"map.controller", &map_cfg_.map_controller},
                                {"map.vendor-ipc", &map_cfg_.map_vendor_ipc}};
    const Field ozr_fields[] = {{"root", &ozr_cfg_.root},
                                {"root.graph", &ozr_cfg_.graph},
                                {"root.configuration", &ozr_cfg_.configuration},
                                {"root.steering", &ozr_cfg_.steering},
                                {"root.rest", &ozr_cfg_.rest},
                                {"root.mgmt", &ozr_cfg_.mgmt},
                                {"root.data", &ozr_cfg_.data},
                                {"root.controller", &ozr_cfg_.controller}};
    take("map-log-configuration", map_fields, 4);
    take("ozr-log-configuration", ozr_fields, 8);

    if (!findings)
        return true;
    // Invalid members were replaced by defaults: keep the file as read, write the
    // cleaned document.
    std::rename(path_.c_str(), backup_path_.c_str());
    return db_write_file();
}

std::string OzrDbgDb::db_build_text() const {
    using rapidjson::StringRef;
    using rapidjson::Value;
    rapidjson::Document doc;
    doc.SetObject();
    auto& a = doc.GetAllocator();
    auto str = [&a](const std::string& s) { return Value(s.c_str(), s.size(), a); };
    std::string stamp = db_timestamp_text();
    doc.AddMember("version", str(version_), a);
    doc.AddMember("last updated", str(stamp), a);
    doc.AddMember("log-destination", str(log_destination_), a);
    Value map(rapidjson::kObjectType);
    map.AddMember("map.1905", str(map_cfg_.map_1905), a);
    map.AddMember("map.library", str(map_cfg_.map_library), a);
    map.AddMember("map.controller", str(map_cfg_.map_controller), a);
    map.AddMember("map.vendor-ipc", str(map_cfg_.map_vendor_ipc), a);
    doc.AddMember("map-log-configuration", map, a);
    Value ozr(rapidjson::kObjectType);
    ozr.AddMember("root", str(ozr_cfg_.root), a);
    ozr.AddMember("root.graph", str(ozr_cfg_.graph), a);
    ozr.AddMember("root.configuration", str(ozr_cfg_.configuration), a);
    ozr.AddMember("root.rest", str(ozr_cfg_.rest), a);
    ozr.AddMember("root.steering", str(ozr_cfg_.steering), a);
    ozr.AddMember("root.mgmt", str(ozr_cfg_.mgmt), a);
    ozr.AddMember("root.data", str(ozr_cfg_.data), a);
    ozr.AddMember("root.controller", str(ozr_cfg_.controller), a);
    doc.AddMember("ozr-log-configuration", ozr, a);
    rapidjson::StringBuffer sb;
    rapidjson::PrettyWriter<rapidjson::StringBuffer> w(sb);
    w.SetIndent(' ', 4);
    doc.Accept(w);
    std::string text(sb.GetString(), sb.GetSize());
    text += '\n';
    return text;
}

bool OzrDbgDb::db_write_file() {
    if (path_.empty()) {
        OZR_ERROR(&logger_, "OzrDbgDb::{} - Database open failed: {}", __func__, path_);
        return false;
    }
    int err = 0;
    if (!ozr_write_file_atomic(path_, db_build_text(), 0600, &err)) {
        OZR_ERROR(&logger_, "OzrDbgDb::{} - Database write failed: {} ({})", __func__, path_,
                  std::strerror(err));
        return false;
    }
    return true;
}

bool OzrDbgDb::db_get_map_log_cfg(MapLogCfg& out) const {
    out = map_cfg_;
    return true;
}

bool OzrDbgDb::db_get_ozr_log_cfg(OzrLogCfg& out) const {
    out = ozr_cfg_;
    return true;
}

bool OzrDbgDb::db_get_log_destination(std::string& out) const {
    out = log_destination_;
    return true;
}

bool OzrDbgDb::db_update_map_log_cfg(const MapLogCfg& cfg) {
    map_cfg_ = cfg;
    return db_write_file();
}

bool OzrDbgDb::db_update_ozr_log_cfg(const OzrLogCfg& cfg) {
    ozr_cfg_ = cfg;
    return db_write_file();
}

bool OzrDbgDb::db_update_log_destination(const std::string& destination) {
    log_destination_ = destination;
    return db_write_file();
}

namespace {
bool valid_level(int l) {
    return l >= 0 && l <= 7;
}
}  // namespace

bool OzrDbgDb::db_update_map_log_level(const _map_module_log& l) {
    OZR_INFO(&logger_,
             "OzrDbgDb::{}()- MAP log level updating: root {}, graph {}, configuration {}, "
             "steering {}",
             __func__, l.library, l.ieee1905, l.controller, l.vendor_ipc);
    // The line follows the daemon's module order; the stack has no module in the rest,
    // mgmt and data places (-1: none).
    OZR_INFO(&logger_, "OzrDbgDb::{}()- MAP log level updating:  rest {} mgmt {} data {}", __func__,
             -1, -1, -1);
    OZR_INFO(&logger_, "OzrDbgDb::{}()- MAP log level updating:  vendor-ipc {}", __func__,
             l.vendor_ipc);
    const std::pair<const char*, int> all[] = {{"map.library", l.library},
                                               {"map.1905", l.ieee1905},
                                               {"map.controller", l.controller},
                                               {"map.vendor-ipc", l.vendor_ipc}};
    for (const auto& m : all) {
        if (!valid_level(m.second)) {
            OZR_ERROR(&logger_, "OzrDbgDb::{}()- log level {} invalid for {}", __func__, m.second,
                      m.first);
            return false;
        }
    }
    map_cfg_.map_library = log_level_to_str(l.library);
    map_cfg_.map_1905 = log_level_to_str(l.ieee1905);
    map_cfg_.map_controller = log_level_to_str(l.controller);
    map_cfg_.map_vendor_ipc = log_level_to_str(l.vendor_ipc);
    return db_write_file();
}

bool OzrDbgDb::db_update_ozr_log_level(const OzrMinderLog& l) {
    OZR_INFO(&logger_,
             "OzrDbgDb::{}()- ozr log level updating: root {}, graph {}, configuration {}, "
             "rest {}, steering {}, mgmt {}, data {}",
             __func__, l.root, l.graph, l.configuration, l.rest, l.steering, l.mgmt, l.data);
    const std::pair<const char*, int> all[] = {
        {"root", l.root}, {"graph", l.graph},          {"configuration", l.configuration},
        {"rest", l.rest}, {"steering", l.steering},    {"mgmt", l.mgmt},
        {"data", l.data}, {"controller", l.controller}};
    for (const auto& m : all) {
        if (!valid_level(m.second)) {
            OZR_ERROR(&logger_, "OzrDbgDb::{}()- log level {} invalid for {}", __func__, m.second,
                      m.first);
            return false;
        }
    }
    ozr_cfg_.root = log_level_to_str(l.root);
    ozr_cfg_.graph = log_level_to_str(l.graph);
    ozr_cfg_.configuration = log_level_to_str(l.configuration);
    ozr_cfg_.rest = log_level_to_str(l.rest);
    ozr_cfg_.steering = log_level_to_str(l.steering);
    ozr_cfg_.mgmt = log_level_to_str(l.mgmt);
    ozr_cfg_.data = log_level_to_str(l.data);
    ozr_cfg_.controller = log_level_to_str(l.controller);
    return db_write_file();
}

bool OzrDbgDb::get_ozr_log_level(OzrMinderLog& out) {
    bool ok = true;
    auto conv = [&](const std::string& name, const char* module, int& dst) {
        auto r = str_to_log_level(name);
        if (!r.second) {
            OZR_ERROR(&logger_, "OzrDbgDb::{}()- log level {} invalid for {}", "get_ozr_log_level",
                      name, module);
            ok = false;
            return;
        }
        dst = r.first;
    };
    conv(ozr_cfg_.root, "root", out.root);
    conv(ozr_cfg_.graph, "graph", out.graph);
    conv(ozr_cfg_.configuration, "configuration", out.configuration);
    conv(ozr_cfg_.rest, "rest", out.rest);
    conv(ozr_cfg_.steering, "steering", out.steering);
    conv(ozr_cfg_.mgmt, "mgmt", out.mgmt);
    conv(ozr_cfg_.data, "data", out.data);
    conv(ozr_cfg_.controller, "controller", out.controller);
    return ok;
}

bool OzrDbgDb::get_map_log_level(_map_module_log& out) {
    bool ok = true;
    auto conv = [&](const std::string& name, const char* module, int& dst) {
        auto r = str_to_log_level(name);
        if (!r.second) {
            OZR_ERROR(&logger_, "OzrDbgDb::{}()- log level {} invalid for {}", "get_map_log_level",
                      name, module);
            ok = false;
            return;
        }
        dst = r.first;
    };
    conv(map_cfg_.map_library, "map.library", out.library);
    conv(map_cfg_.map_1905, "map.1905", out.ieee1905);
    conv(map_cfg_.map_controller, "map.controller", out.controller);
    conv(map_cfg_.map_vendor_ipc, "map.vendor-ipc", out.vendor_ipc);
    return ok;
}
