#include "nal/nal.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <utility>

#include "common/paths.h"
#include "log/logger.h"
#include "map/map_log.h"

namespace {
// The platform log may be called from the D-Bus service thread too, hence the lock.
std::mutex g_mu;
int g_level = 7;
std::string g_name = "ozr";
std::deque<std::string> g_ring;
FILE* g_file = nullptr;
std::string g_file_path;
constexpr long kFileMax = 1 << 20;  // rotate to "<path>.1" beyond 1 MiB

const char* const kNames[8] = {"emerg", "alert", "crit", "err", "warn", "notice", "info", "debug"};

bool same_file(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0)
        return a == b;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

void rotate_if_needed() {
    if (g_file == nullptr || std::ftell(g_file) < kFileMax)
        return;
    std::fclose(g_file);
    std::rename(g_file_path.c_str(), (g_file_path + ".1").c_str());
    g_file = std::fopen(g_file_path.c_str(), "ae");
}

void record(int severity, const char* func, int line, const char* text) {
    std::string entry;
    entry.reserve(64);
    entry += kNames[severity < 0 ? 0 : (severity > 7 ? 7 : severity)];
    entry += ' ';
    entry += func ? func : "?";
    entry += ':';
    entry += std::to_string(line);
    entry += ' ';
    entry += text;
    if (entry.size() > kNalLogLineMax)
        entry.resize(kNalLogLineMax);
    std::lock_guard<std::mutex> lock(g_mu);
    if (severity > g_level)
        return;
    if (g_file) {
        std::fprintf(g_file, "%s[%d]: %s\n", g_name.c_str(), static_cast<int>(getpid()),
                     entry.c_str());
        std::fflush(g_file);
        rotate_if_needed();
    }
    g_ring.push_back(std::move(entry));
    while (g_ring.size() > kNalLogRingLines)
        g_ring.pop_front();
}

void vrecord(int severity, const char* func, int line, const char* fmt, va_list ap) {
    if (severity > nal_getLogLevel())
        return;
    char buf[kNalLogLineMax + 1];
    if (std::strcmp(fmt, "%s") == 0) {  // the daemon's lines, already formatted
        const char* text = va_arg(ap, const char*);
        size_t n = strnlen(text ? text : "(null)", kNalLogLineMax);
        std::memcpy(buf, text ? text : "(null)", n);
        buf[n] = '\0';
        record(severity, func, line, buf);
        return;
    }
    int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    if (n < 0)
        return;
    record(severity, func, line, buf);
}

void map_sink(int level, const char* module_name, const std::string& text) {
    record(level, module_name, 0, text.c_str());
}

bool load_platform_json(rapidjson::Document& doc) {
    std::string text;
    if (!ozr_read_file(nal_platform_json_path(), text, 64 * 1024))
        return false;
    doc.Parse(text.c_str(), text.size());
    return !doc.HasParseError() && doc.IsObject();
}
}  // namespace

#define OZR_NAL_LOG_FN(fn, severity)                            \
    void fn(const char* func, int line, const char* fmt, ...) { \
        va_list ap;                                             \
        va_start(ap, fmt);                                      \
        vrecord(severity, func, line, fmt, ap);                 \
        va_end(ap);                                             \
    }
OZR_NAL_LOG_FN(nalLogDebug, 7)
OZR_NAL_LOG_FN(nalLogInfo, 6)
OZR_NAL_LOG_FN(nalLogNotice, 5)
OZR_NAL_LOG_FN(nalLogWarning, 4)
OZR_NAL_LOG_FN(nalLogError, 3)
OZR_NAL_LOG_FN(nalLogCrit, 2)
#undef OZR_NAL_LOG_FN

int nal_initLogging(int level, int /*facility*/, const char* name) {
    std::string path;
    bool have_path = nal_platform_get_string("platform-log-path", path) && !path.empty();
    std::string own = current_log_destination();
    if (have_path && own != "syslog" && own != "stdout" && own != "null" && !own.empty() &&
        same_file(path, own)) {
        have_path = false;  // the daemon already writes there
    }
    {
        std::lock_guard<std::mutex> lock(g_mu);
        g_level = level;
        g_name = name ? name : "ozr";
        if (g_file) {
            std::fclose(g_file);
            g_file = nullptr;
        }
        g_file_path.clear();
        if (have_path) {
            g_file = std::fopen(path.c_str(), "ae");
            if (g_file)
                g_file_path = path;
        }
    }
    map_log_set_sink(map_sink);
    return 0;
}

void nal_setLogLevel(int level) {
    std::lock_guard<std::mutex> lock(g_mu);
    g_level = level;
}

int nal_getLogLevel() {
    std::lock_guard<std::mutex> lock(g_mu);
    return g_level;
}

std::vector<std::string> nal_log_recent() {
    std::lock_guard<std::mutex> lock(g_mu);
    return std::vector<std::string>(g_ring.begin(), g_ring.end());
}

void nal_log_clear() {
    std::lock_guard<std::mutex> lock(g_mu);
    g_ring.clear();
}

std::string nal_platform_json_path() {
    return ozr_path("/configs/easymesh/platform.json");
}

bool nal_platform_get_json(const char* key, std::string& json_text) {
    rapidjson::Document doc;
    if (key == nullptr || !load_platform_json(doc))
        return false;
    auto it = doc.FindMember(key);
    if (it == doc.MemberEnd())
        return false;
    rapidjson::StringBuffer sb;
    rapidjson::Writer<rapidjson::StringBuffer> w(sb);
    it->value.Accept(w);
    json_text.assign(sb.GetString(), sb.GetSize());
    return true;
}

bool nal_platform_get_string(const char* key, std::string& out) {
    rapidjson::Document doc;
    if (key == nullptr || !load_platform_json(doc))
        return false;
    auto it = doc.FindMember(key);
    if (it == doc.MemberEnd() || !it->value.IsString())
        return false;
    out.assign(it->value.GetString(), it->value.GetStringLength());
    return true;
}

bool nal_platform_get_int(const char* key, long long& out) {
    rapidjson::Document doc;
    if (key == nullptr || !load_platform_json(doc))
        return false;
    auto it = doc.FindMember(key);
    if (it == doc.MemberEnd() || !it->value.IsInt64())
        return false;
    out = it->value.GetInt64();
    return true;
}

int nal_getMeshRestListenAddress(char* buffer, size_t size) {
    rapidjson::Document doc;
    if (!load_platform_json(doc))
        return -1;
    auto it = doc.FindMember("mesh-rest-listen-address");
    if (it == doc.MemberEnd() || !it->value.IsObject())
        return -1;
    rapidjson::StringBuffer sb;
    rapidjson::Writer<rapidjson::StringBuffer> w(sb);
    it->value.Accept(w);
    if (buffer == nullptr || sb.GetSize() + 1 > size)
        return -2;
    std::memcpy(buffer, sb.GetString(), sb.GetSize());
    buffer[sb.GetSize()] = '\0';
    return 0;
}
