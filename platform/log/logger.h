// The logging back-end: category loggers under one root, syslog severities
// 0 (emerg) .. 7 (debug), level -1 = inherit the parent's level.
#pragma once

#include <atomic>
#include <string>
#include <unordered_map>

// Logging configuration handed to the back-end at start.
struct Config {
    std::unordered_map<std::string, int> levels{{{"root", 5}}, 10};
    std::string log_path;
    bool unit_test = false;
};

class Logger {
  public:
    Logger(Logger* parent, const std::string& name, const std::string& unused, int level);

    // Walks up to the first logger with a level >= 0 and answers severity <= that level;
    // false when no logger in the chain has a level.
    bool will_log(int severity) const;
    // Writes one line to the current destination (the caller has checked will_log).
    void emit_log(int severity, const std::string& text) const;

    // The level may change on one thread (REST, the debug database) while another (the D-Bus
    // service thread) logs.
    void set_level(int level) { level_.store(level, std::memory_order_relaxed); }
    int level() const { return level_.load(std::memory_order_relaxed); }
    // Dotted path from the root, e.g. "root.graph".
    const std::string& path() const { return path_; }
    const std::string& name() const { return name_; }
    Logger* parent() const { return parent_; }

  private:
    Logger* parent_;
    std::string name_;
    std::string path_;
    std::atomic<int> level_;
};

// The root logger; null until init_root_logger.
extern Logger* root_logger;

// Destinations. Each returns 0 (or a negative value) on success, a positive errno on failure.
int init_syslog_logger(const std::string& ident);
int init_stdout_logger();
int init_null_logger();
int init_file_logger(const std::string& path);

// Creates the root logger (path "root") with LEVEL. CONFIG is kept by reference for
// find_config_log_level until teardown_logging: the caller keeps it alive and may still
// change its levels (the process entry merges the persisted ones in after this call).
void init_root_logger(int level, const std::string& name, const Config& config);
// The level configured for the logger path, or -1.
int find_config_log_level(const std::string& path);
void set_root_logger_level(int level);
// Deletes the root logger, forgets the Config and closes the destination. Child loggers
// must be gone by then.
void teardown_logging();

// "emerg".."debug" (also "err"/"error" and "warning"/"warn") -> 0..7.
std::pair<int, bool> str_to_log_level(const std::string& name);
// 0..7 -> "emerg", "alert", "crit", "err", "warn", "notice", "info", "debug" (the names
// the debug database stores); any other value -> "".
const char* log_level_to_str(int level);

// Batched writing for the daemon's loop: a line below warn waits (at most 16 KiB of them)
// until flush_log, which the loop calls once per turn; warn and above, a change of
// destination and teardown_logging write what waits at once. Off (every line written and
// flushed as it comes) unless turned on.
void set_log_batching(bool on);
void flush_log();

// The current destination as given to the init_*_logger call: "syslog", "stdout", "null",
// the file path, or "" before any set-up / after teardown_logging.
std::string current_log_destination();
