// Test stand-in for the logging back-end (used only while the real one is not
// in the tree): category loggers with level inheritance, lines to a file.
#include <cstdio>
#include <string>

#include "log/logger.h"

Logger* root_logger = nullptr;

namespace {
FILE* g_log_file = nullptr;
}

Logger::Logger(Logger* parent, const std::string& name, const std::string&, int level)
    : parent_(parent),
      name_(name),
      path_(parent ? parent->path() + "." + name : name),
      level_(level) {}

bool Logger::will_log(int severity) const {
    for (const Logger* l = this; l; l = l->parent_)
        if (l->level_ >= 0)
            return severity <= l->level_;
    return false;
}

void Logger::emit_log(int, const std::string& text) const {
    if (!g_log_file)
        return;
    std::fputs(text.c_str(), g_log_file);
    std::fputc('\n', g_log_file);
    std::fflush(g_log_file);
}

int init_file_logger(const std::string& path) {
    if (g_log_file)
        std::fclose(g_log_file);
    g_log_file = std::fopen(path.c_str(), "a");
    return g_log_file ? 0 : 1;
}

void teardown_logging() {
    if (g_log_file)
        std::fclose(g_log_file);
    g_log_file = nullptr;
}
