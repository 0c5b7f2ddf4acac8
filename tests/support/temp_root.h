// Test helpers: a throw-away OZR_ROOT, file reading, and capture of the log lines
// written by the logging back-end.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "log/logger.h"

namespace ozr_test {

inline std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline void write_text(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

inline bool file_exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

inline std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream ss(text);
    std::string l;
    while (std::getline(ss, l))
        lines.push_back(l);
    return lines;
}

inline size_t count_of(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t p = text.find(needle); p != std::string::npos; p = text.find(needle, p + 1))
        ++n;
    return n;
}

// Puts the environment variable NAME back as it was at construction (unset when it was).
struct SavedEnv {
    explicit SavedEnv(const char* n)
        : name(n), had(std::getenv(n)), value(had ? std::getenv(n) : "") {}
    ~SavedEnv() { had ? setenv(name, value.c_str(), 1) : unsetenv(name); }
    const char* name;
    bool had;
    std::string value;
};

// Creates a temporary folder, points OZR_ROOT at it, and removes both at the end. The
// system bus is pointed at a socket that does not exist, so that nothing a test starts
// reaches the machine's own bus (a test that wants a bus starts a PrivateBus after this).
class TempRoot {
  public:
    TempRoot() {
        char tmpl[] = "/tmp/ozr-test-XXXXXX";
        char* d = mkdtemp(tmpl);
        dir_ = d ? d : "/tmp";
        setenv("OZR_ROOT", dir_.c_str(), 1);
        setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + dir_ + "/no-system-bus").c_str(), 1);
    }
    ~TempRoot() {
        unsetenv("OZR_ROOT");
        std::string cmd = "rm -rf '" + dir_ + "'";
        if (std::system(cmd.c_str()) != 0) {
        }
    }
    TempRoot(const TempRoot&) = delete;
    TempRoot& operator=(const TempRoot&) = delete;
    const std::string& dir() const { return dir_; }
    std::string path(const std::string& rel) const { return dir_ + rel; }

  private:
    SavedEnv bus_{"DBUS_SYSTEM_BUS_ADDRESS"};  // before the constructor changes it
    std::string dir_;
};

// Routes the logging back-end to a file under ROOT with a root logger at LEVEL, and
// tears logging down at the end.
class LogCapture {
  public:
    LogCapture(const TempRoot& root, int level = 7) : path_(root.path("/capture.log")) {
        init_file_logger(path_);
        init_root_logger(level, "", config_);
    }
    ~LogCapture() { teardown_logging(); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    std::string text() const { return read_text(path_); }
    Config& config() { return config_; }

  private:
    std::string path_;
    Config config_;
};

}  // namespace ozr_test
