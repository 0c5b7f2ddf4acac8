#include "data/client_info_db.h"

#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/mac.h"
#include "common/paths.h"
#include "core/log.h"
#include "data/db_timestamp.h"

namespace {
constexpr const char* kDir = "/configs/easymesh";
constexpr const char* kFile = "ozr_node_info_db.json";
constexpr const char* kBackupFile = "ozr_node_info_db_backup.json";

bool all_blank(const std::string& s) {
    for (char c : s)
        if (c != ' ' && c != '\n' && c != '\r' && c != '\t')
            return false;
    return true;
}
// TEXT from the file as it may appear in a log line: control bytes become '?', at most
// 64 bytes are kept.
std::string printable(const std::string& text) {
    std::string out = text.substr(0, 64);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    return out;
}
}  // namespace

ClientInfoDb::ClientInfoDb() : logger_(root_logger, "client_db", "", -1) {}

bool ClientInfoDb::db_init() {
    std::string dir = ozr_path(kDir);
    if (!ozr_make_dirs(dir, 0775)) {
        int e = errno;
        OZR_ERROR(&logger_, "ClientInfoDb::{} - Error creating cfg db directory: {}. error: {}",
                  __func__, dir, std::strerror(e));
        return false;
    }
    path_ = dir + "/" + kFile;
    backup_path_ = dir + "/" + kBackupFile;
    records_.clear();
    std::string text;
    FILE* f = std::fopen(path_.c_str(), "rb");
    if (f == nullptr) {
        if (errno != ENOENT) {
            OZR_ERROR(&logger_, "ClientInfoDb::{} - Database open failed: {}", __func__, path_);
            return false;
        }
    } else {
        std::fclose(f);
        if (!ozr_read_file(path_, text, kMaxFile))
            text = "\x01";  // too big or unreadable: moved aside and replaced below
    }
    if (!db_check_integrity(text))
        return false;
    OZR_INFO(&logger_, "ClientInfoDb::{} - Database successully initialised {}", __func__, path_);
    return true;
}

bool ClientInfoDb::db_check_integrity(const std::string& text) {
    const char* op = "db_check_integrity";
    if (all_blank(text))
        return db_write_file();
    rapidjson::Document doc;
    doc.Parse<rapidjson::kParseIterativeFlag>(text.c_str(), text.size());
    if (doc.HasParseError() || !doc.IsObject()) {
        OZR_ERROR(&logger_, "ClientInfoDb::{} - Database format verification failed: {}", op,
                  path_);
        OZR_ERROR(&logger_, "ClientInfoDb::{} - constructing a new ozr_node_info_db.json", op);
        std::rename(path_.c_str(), backup_path_.c_str());
        return db_write_file();
    }
    bool findings = false;
    auto list = doc.FindMember("client-info-list");
    if (list == doc.MemberEnd() || !list->value.IsArray()) {
        OZR_ERROR(&logger_, "ClientInfoDb::{} - Invalid Array type", op);
        findings = true;
    } else {
        for (const auto& e : list->value.GetArray()) {
            if (!e.IsObject()) {
                OZR_ERROR(&logger_, "ClientInfoDb::{} Invalid value", op);
                findings = true;
                continue;
            }
            std::string mac_text;
            ClientRecord rec;
            bool ok = true;
            for (const auto& m : e.GetObject()) {
                std::string name(m.name.GetString(), m.name.GetStringLength());
                const auto& v = m.value;
                auto u = [&](uint64_t max, uint64_t& out) {
                    if (!v.IsUint64() || v.GetUint64() > max) {
                        OZR_ERROR(&logger_, "ClientInfoDb::{} Invalid value for MAC: {}", op,
                                  mac_text);
                        ok = false;
                        return;
                    }
                    out = v.GetUint64();
                };
                uint64_t x = 0;
                if (name == "mac") {
                    if (!v.IsString()) {
                        OZR_ERROR(&logger_, "ClientInfoDb::{} Invalid value", op);
                        ok = false;
                        continue;
                    }
                    mac_text.assign(v.GetString(), v.GetStringLength());
                } else if (name == "2g") {
                    u(255, x);
                    rec.band_2g = static_cast<uint8_t>(x);
                } else if (name == "5g") {
                    u(255, x);
                    rec.band_5g = static_cast<uint8_t>(x);
                } else if (name == "c1_obey") {
                    u(255, x);
                    rec.c1_obey = static_cast<uint8_t>(x);
                } else if (name == "ch_2g") {
                    u(UINT32_MAX, x);
                    rec.ch_2g = static_cast<uint32_t>(x);
                } else if (name == "ch_5g") {
                    u(UINT64_MAX, x);
                    rec.ch_5g = x;
                } else {
                    OZR_ERROR(&logger_,
                              "ClientInfoDb::{} - Invalid attribute for client-info-list: {}", op,
                              printable(name));
                    ok = false;
                }
            }
            MAC mac;
            if (ok && mac_text.empty()) {
                OZR_ERROR(&logger_, "{} empty value for client MAC: {}", op, mac_text);
                ok = false;
            } else if (ok && !MAC::parse(mac_text, mac)) {
                OZR_ERROR(&logger_, "ClientInfoDb::{} - Bad client MAC: {}", op,
                          printable(mac_text));
                ok = false;
            }
            if (ok && records_.size() >= kMaxRecords) {
                OZR_ERROR(&logger_, "ClientInfoDb::{} -client db already full", op);
                ok = false;
            }
            if (!ok) {
                findings = true;
                continue;
            }
            records_[mac.to_string()] = rec;
        }
    }
    if (findings) {
        std::rename(path_.c_str(), backup_path_.c_str());
        return db_write_file();
    }
    return true;
}

std::string ClientInfoDb::db_build_text() const {
    // Written straight from the records: no document of the whole list is built (its
    // allocator's blocks were the largest passing allocation of a quiet mesh).
    rapidjson::StringBuffer sb;
    rapidjson::PrettyWriter<rapidjson::StringBuffer> w(sb);
    w.SetIndent(' ', 4);
    auto str = [&](const std::string& s) {
        w.String(s.c_str(), static_cast<rapidjson::SizeType>(s.size()));
    };
    w.StartObject();
    w.Key("version");
    w.String("1.0.0");
    w.Key("last updated");
    str(db_timestamp_text());
    w.Key("client-info-list");
    w.StartArray();
    for (const auto& kv : records_) {
        w.StartObject();
        w.Key("mac");
        str(kv.first);
        w.Key("2g");
        w.Int(kv.second.band_2g);
        w.Key("5g");
        w.Int(kv.second.band_5g);
        w.Key("c1_obey");
        w.Int(kv.second.c1_obey);
        w.Key("ch_2g");
        w.Uint(kv.second.ch_2g);
        w.Key("ch_5g");
        w.Uint64(kv.second.ch_5g);
        w.EndObject();
    }
    w.EndArray();
    w.EndObject();
    std::string text;
    text.reserve(sb.GetSize() + 1);
    text.append(sb.GetString(), sb.GetSize()).push_back('\n');
    return text;
}

bool ClientInfoDb::db_write_file() {
    int err = 0;
    if (!ozr_write_file_atomic(path_, db_build_text(), 0600, &err)) {
        OZR_ERROR(&logger_, "ClientInfoDb::{} - Database write failed: {} error: {}", __func__,
                  path_, std::strerror(err));
        return false;
    }
    ++writes_;
    return true;
}

bool ClientInfoDb::db_add_record(const std::string& mac, const ClientRecord& rec) {
    if (records_.count(mac)) {
        OZR_ERROR(&logger_, "ClientInfoDb::{} - MAC: {} already exists", __func__, mac);
        return false;
    }
    if (records_.size() >= kMaxRecords) {
        OZR_ERROR(&logger_, "ClientInfoDb::{} -client db already full", __func__);
        return false;
    }
    records_[mac] = rec;
    return db_write_file();
}

bool ClientInfoDb::db_update_record(const std::string& mac, const ClientRecord& rec) {
    auto it = records_.find(mac);
    if (it == records_.end()) {
        OZR_DEBUG(&logger_, "ClientInfoDb::{} - MAC: {} not found", __func__, mac);
        return false;
    }
    if (it->second == rec)
        return true;
    it->second = rec;
    return db_write_file();
}

std::pair<int, const ClientRecord*> ClientInfoDb::find(const std::string& mac, const char* op,
                                                       int level) const {
    auto it = records_.find(mac);
    if (it == records_.end()) {
        OZR_LOG(&logger_, level, "ClientInfoDb::{} -MAC: {} not found", op, mac);
        return {2, nullptr};
    }
    return {0, &it->second};
}

std::pair<int, const ClientRecord*> ClientInfoDb::db_query_record(const std::string& mac) const {
    return find(mac, __func__, 7);
}

std::pair<int, const ClientRecord*> ClientInfoDb::db_get_record(const std::string& mac) const {
    return find(mac, __func__, 3);
}

bool ClientInfoDb::db_delete_record(const std::string& mac) {
    if (records_.erase(mac) == 0) {
        OZR_DEBUG(&logger_, "ClientInfoDb::{} - MAC: {} not found", __func__, mac);
        return false;
    }
    return db_write_file();
}
