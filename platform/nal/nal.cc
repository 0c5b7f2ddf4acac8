#include "nal/nal.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>

#include "common/paths.h"
#include "log/logger.h"
#include "map/map_log.h"
#include "nal/platform_file.h"

namespace {
// The platform log may be called from the D-Bus service thread too, hence the lock.
std::mutex g_mu;
int g_level = 7;
std::string g_name = "ozr";
// The ring: kNalLogRingLines texts used in turn, each keeping its room for the next line
// written over it (no allocation per line once the ring has gone round); g_next the slot
// of the next line, g_count how many hold one.
std::vector<std::string> g_ring(kNalLogRingLines);
size_t g_next = 0;
size_t g_count = 0;
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
    char number[16];
    char* number_end = std::to_chars(number, number + sizeof number, line).ptr;
    std::lock_guard<std::mutex> lock(g_mu);
    if (severity > g_level)
        return;
    std::string& entry = g_ring[g_next];
    entry.assign(kNames[severity < 0 ? 0 : (severity > 7 ? 7 : severity)]);
    entry += ' ';
    entry += func ? func : "?";
    entry += ':';
    entry.append(number, number_end);
    entry += ' ';
    entry.append(text, strnlen(text, kNalLogLineMax));
    if (entry.size() > kNalLogLineMax)
        entry.resize(kNalLogLineMax);
    if (g_file) {
        std::fprintf(g_file, "%s[%d]: %s\n", g_name.c_str(), static_cast<int>(getpid()),
                     entry.c_str());
        std::fflush(g_file);
        rotate_if_needed();
    }
    g_next = (g_next + 1) % kNalLogRingLines;
    if (g_count < kNalLogRingLines)
        ++g_count;
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

// The platform file as last parsed, kept with its bytes: it is read for every question, as
// before, but parsed again only when its bytes changed. Its values live in a pool of small
// chunks, dropped with the document when the file changes.
struct PlatformFile {
    std::string text;
    rapidjson::MemoryPoolAllocator<> pool{4096};
    rapidjson::Document doc{&pool};
    bool object = false;
};
std::mutex g_platform_mu;
std::unique_ptr<PlatformFile> g_platform;  // null: not read yet, or missing when last read
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
    std::vector<std::string> lines;
    lines.reserve(g_count);
    for (size_t i = 0; i < g_count; ++i)
        lines.push_back(g_ring[(g_next + kNalLogRingLines - g_count + i) % kNalLogRingLines]);
    return lines;
}

void nal_log_clear() {
    std::lock_guard<std::mutex> lock(g_mu);
    g_count = 0;
}

std::string nal_platform_json_path() {
    return ozr_path("/configs/easymesh/platform.json");
}

bool nal_platform_visit(const char* key, NalPlatformVisitor fn, void* ctx) {
    if (key == nullptr)
        return false;
    std::string text;
    const bool readable = ozr_read_file(nal_platform_json_path(), text, 64 * 1024);
    std::lock_guard<std::mutex> lock(g_platform_mu);
    if (!readable) {
        g_platform.reset();
        return false;
    }
    if (g_platform == nullptr || g_platform->text != text) {
        auto f = std::make_unique<PlatformFile>();
        f->doc.Parse(text.c_str(), text.size());
        f->object = !f->doc.HasParseError() && f->doc.IsObject();
        f->text = std::move(text);
        g_platform = std::move(f);
    }
    if (!g_platform->object)
        return false;
    auto it = g_platform->doc.FindMember(key);
    if (it == g_platform->doc.MemberEnd())
        return false;
    return fn(it->value, ctx);
}

namespace {
void write_json(const rapidjson::Value& v, std::string& out) {
    rapidjson::StringBuffer sb;
    rapidjson::Writer<rapidjson::StringBuffer> w(sb);
    v.Accept(w);
    out.assign(sb.GetString(), sb.GetSize());
}
}  // namespace

bool nal_platform_get_json(const char* key, std::string& json_text) {
    return nal_platform_with(key, [&](const rapidjson::Value& v) {
        write_json(v, json_text);
        return true;
    });
}

bool nal_platform_get_string(const char* key, std::string& out) {
    return nal_platform_with(key, [&](const rapidjson::Value& v) {
        if (!v.IsString())
            return false;
        out.assign(v.GetString(), v.GetStringLength());
        return true;
    });
}

bool nal_platform_get_int(const char* key, long long& out) {
    return nal_platform_with(key, [&](const rapidjson::Value& v) {
        if (!v.IsInt64())
            return false;
        out = v.GetInt64();
        return true;
    });
}

int nal_getMeshRestListenAddress(char* buffer, size_t size) {
    std::string text;
    if (!nal_platform_with("mesh-rest-listen-address", [&](const rapidjson::Value& v) {
            if (!v.IsObject())
                return false;
            write_json(v, text);
            return true;
        }))
        return -1;
    if (buffer == nullptr || text.size() + 1 > size)
        return -2;
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
    return 0;
}
