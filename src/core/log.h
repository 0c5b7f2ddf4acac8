// The daemon's log call: a "{}"-formatted line on a category logger that, when
// the logger's effective level admits it, goes both to the logging back-end and
// to the platform log function of the same severity.
#pragma once

#include <fmt/format.h>

#include <string>

#include "log/logger.h"

namespace ozr {
// Writes TEXT through LOGGER->emit_log and the platform's nalLog* of SEVERITY.
void log_text(const Logger* logger, int severity, const char* func, int line,
              const std::string& text);
}  // namespace ozr

#define OZR_LOG(logger, severity, ...)                                                             \
    do {                                                                                           \
        const Logger* ozr_log_l_ = (logger);                                                       \
        if (ozr_log_l_ && ozr_log_l_->will_log(severity))                                          \
            ::ozr::log_text(ozr_log_l_, (severity), __func__, __LINE__, fmt::format(__VA_ARGS__)); \
    } while (0)

#define OZR_CRIT(logger, ...) OZR_LOG(logger, 2, __VA_ARGS__)
#define OZR_ERROR(logger, ...) OZR_LOG(logger, 3, __VA_ARGS__)
#define OZR_WARN(logger, ...) OZR_LOG(logger, 4, __VA_ARGS__)
#define OZR_NOTICE(logger, ...) OZR_LOG(logger, 5, __VA_ARGS__)
#define OZR_INFO(logger, ...) OZR_LOG(logger, 6, __VA_ARGS__)
#define OZR_DEBUG(logger, ...) OZR_LOG(logger, 7, __VA_ARGS__)
