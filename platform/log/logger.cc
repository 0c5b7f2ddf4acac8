// The logging back-end. One process-wide destination (syslog, stdout, a file or
// nothing) shared by every logger; loggers only decide whether a line passes.
//
// Line format on stdout and in files:
//   2026-12-05 19:00:50.123 notice root.graph: text
// (local wall-clock time with milliseconds, level name, logger path, text). Syslog
// gets "root.graph: text" at the line's severity; it adds its own time stamp.
#include "log/logger.h"

#include <sys/time.h>
#include <syslog.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

Logger* root_logger = nullptr;

namespace {
enum class Dest { kUnset, kSyslog, kStdout, kNull, kFile };

Dest g_dest = Dest::kUnset;
FILE* g_file = nullptr;
std::string g_dest_name;
std::string g_syslog_ident;  // openlog keeps the pointer: the text must outlive it
const Config* g_config = nullptr;

// Batched writing (set_log_batching): lines wait here, whole and in order, until
// flush_log, a line of warn or above, or the batch's size bound; the D-Bus service thread
// logs too, hence the lock.
bool g_batching = false;
std::mutex g_batch_mutex;
std::string g_batch;
FILE* g_batch_file = nullptr;
constexpr size_t kBatchBytes = 16384;
constexpr int kFlushAtOnce = 4;  // warn

void write_batch_locked() {
    if (g_batch_file == nullptr)
        return;
    if (!g_batch.empty())
        std::fwrite(g_batch.data(), 1, g_batch.size(), g_batch_file);
    std::fflush(g_batch_file);
    g_batch.clear();
    g_batch_file = nullptr;
}

const char* const kLevelNames[8] = {"emerg", "alert",  "crit", "err",
                                    "warn",  "notice", "info", "debug"};

void close_destination() {
    flush_log();
    if (g_file) {
        std::fclose(g_file);
        g_file = nullptr;
    }
    if (g_dest == Dest::kSyslog)
        closelog();
    g_dest = Dest::kUnset;
    g_dest_name.clear();
}

void write_line(FILE* f, int severity, const std::string& path, const std::string& text) {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    // The date and time of the second, written once per second and thread: a busy log
    // writes many lines in the same second.
    thread_local time_t stamp_secs = -1;
    thread_local char stamp[32];
    if (tv.tv_sec != stamp_secs) {
        struct tm tm;
        time_t secs = tv.tv_sec;
        localtime_r(&secs, &tm);
        size_t n = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
        stamp[n] = '\0';
        stamp_secs = secs;
    }
    const char* level = (severity >= 0 && severity <= 7) ? kLevelNames[severity] : "?";
    // "<stamp>.<ms> <level> <path>: <text>", put together here and written in one call.
    const long ms = static_cast<long>(tv.tv_usec / 1000);
    thread_local std::string line;
    line.assign(stamp);
    line += '.';
    line += static_cast<char>('0' + ms / 100 % 10);
    line += static_cast<char>('0' + ms / 10 % 10);
    line += static_cast<char>('0' + ms % 10);
    line += ' ';
    line += level;
    line += ' ';
    line += path;
    line += ": ";
    line.append(text.c_str());  // up to a NUL, as "%s" wrote it
    line += '\n';
    if (g_batching && f != stderr) {
        std::lock_guard<std::mutex> lock(g_batch_mutex);
        if (g_batch_file != f)
            write_batch_locked();
        g_batch_file = f;
        g_batch += line;
        if (severity <= kFlushAtOnce || g_batch.size() >= kBatchBytes)
            write_batch_locked();
        return;
    }
    std::fwrite(line.data(), 1, line.size(), f);
    std::fflush(f);
}
}  // namespace

Logger::Logger(Logger* parent, const std::string& name, const std::string& /*unused*/, int level)
    : parent_(parent),
      name_(name),
      path_(parent ? parent->path() + "." + name : name),
      level_(level) {}

bool Logger::will_log(int severity) const {
    for (const Logger* l = this; l != nullptr; l = l->parent_) {
        int level = l->level_.load(std::memory_order_relaxed);
        if (level >= 0)
            return severity <= level;
    }
    return false;
}

void Logger::emit_log(int severity, const std::string& text) const {
    switch (g_dest) {
        case Dest::kNull:
            return;
        case Dest::kSyslog: {
            int prio = severity < 0 ? LOG_EMERG : (severity > 7 ? LOG_DEBUG : severity);
            syslog(prio, "%s: %s", path_.c_str(), text.c_str());
            return;
        }
        case Dest::kStdout:
            write_line(stdout, severity, path_, text);
            return;
        case Dest::kFile:
            write_line(g_file, severity, path_, text);
            return;
        case Dest::kUnset:
            // Before any set-up (and after teardown) nothing is silently lost.
            write_line(stderr, severity, path_, text);
            return;
    }
}

int init_syslog_logger(const std::string& ident) {
    close_destination();
    g_syslog_ident = ident;
    openlog(g_syslog_ident.c_str(), LOG_PID, LOG_DAEMON);
    g_dest = Dest::kSyslog;
    g_dest_name = "syslog";
    return 0;
}

int init_stdout_logger() {
    close_destination();
    g_dest = Dest::kStdout;
    g_dest_name = "stdout";
    return 0;
}

int init_null_logger() {
    close_destination();
    g_dest = Dest::kNull;
    g_dest_name = "null";
    return 0;
}

int init_file_logger(const std::string& path) {
    // Open first so that a failure leaves the current destination in place.
    FILE* f = path.empty() ? nullptr : std::fopen(path.c_str(), "ae");
    if (f == nullptr)
        return path.empty() ? ENOENT : errno;
    close_destination();
    g_file = f;
    g_dest = Dest::kFile;
    g_dest_name = path;
    return 0;
}

void set_log_batching(bool on) {
    if (!on)
        flush_log();
    g_batching = on;
}

void flush_log() {
    std::lock_guard<std::mutex> lock(g_batch_mutex);
    write_batch_locked();
}

std::string current_log_destination() {
    return g_dest_name;
}

void init_root_logger(int level, const std::string& name, const Config& config) {
    delete root_logger;
    root_logger = new Logger(nullptr, "root", name, level);
    g_config = &config;
}

int find_config_log_level(const std::string& path) {
    if (g_config == nullptr)
        return -1;
    auto it = g_config->levels.find(path);
    return it == g_config->levels.end() ? -1 : it->second;
}

void set_root_logger_level(int level) {
    if (root_logger)
        root_logger->set_level(level);
}

void teardown_logging() {
    delete root_logger;
    root_logger = nullptr;
    g_config = nullptr;
    close_destination();
}

std::pair<int, bool> str_to_log_level(const std::string& name) {
    for (int i = 0; i < 8; ++i) {
        if (name == kLevelNames[i])
            return {i, true};
    }
    if (name == "error")
        return {3, true};
    if (name == "warning")
        return {4, true};
    return {-1, false};
}

const char* log_level_to_str(int level) {
    return (level >= 0 && level <= 7) ? kLevelNames[level] : "";
}
