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
// Formats FORMAT with ARGS and writes the line as log_text does.
void log_vformat(const Logger* logger, int severity, const char* func, int line,
                 fmt::string_view format, fmt::format_args args);
// What a log call expands to: the arguments packed for fmt and one call, so that the
// formatting and the line's string stay out of the ~1000 call sites (the gateway's flash).
template <typename... Args>
void log_format(const Logger* logger, int severity, const char* func, int line,
                fmt::format_string<Args...> format, Args&&... args) {
    log_vformat(logger, severity, func, line, format, fmt::make_format_args(args...));
}

// PRETTY (a function's __PRETTY_FUNCTION__) spelled as GCC spells it, whatever the compiler:
// no space before '*' and '&', one after them before a name ("const char* const*", where clang
// writes "const char *const *"), and "{anonymous}" for an unnamed namespace.
std::string spell_signature(const char* pretty);
}  // namespace ozr

// The calling function's full signature for the first "{}" of a log line, the same text with
// every compiler ("ZkaOzrRet ozr_handle_json_config(const char*)"); spelled once per call site.
// Only for functions whose parameter types are not of the function's own namespace: GCC writes
// those unqualified, clang qualified.
#define OZR_SIGNATURE                                                            \
    ([](const char* ozr_pretty_) {                                               \
        static const std::string ozr_sig_ = ::ozr::spell_signature(ozr_pretty_); \
        return ozr_sig_.c_str();                                                 \
    }(__PRETTY_FUNCTION__))

#define OZR_LOG(logger, severity, ...) OZR_LOG_AS(logger, severity, __func__, __VA_ARGS__)
// OZR_LOG on behalf of the function named FUNC, the platform log's function field: for code
// that logs for its caller (the rules of a decoder's TLV walk, messages/tlv_walk.h).
#define OZR_LOG_AS(logger, severity, func, ...)                                       \
    do {                                                                              \
        const Logger* ozr_log_l_ = (logger);                                          \
        if (ozr_log_l_ && ozr_log_l_->will_log(severity))                             \
            ::ozr::log_format(ozr_log_l_, (severity), (func), __LINE__, __VA_ARGS__); \
    } while (0)

#define OZR_CRIT(logger, ...) OZR_LOG(logger, 2, __VA_ARGS__)
#define OZR_ERROR(logger, ...) OZR_LOG(logger, 3, __VA_ARGS__)
#define OZR_WARN(logger, ...) OZR_LOG(logger, 4, __VA_ARGS__)
#define OZR_NOTICE(logger, ...) OZR_LOG(logger, 5, __VA_ARGS__)
#define OZR_INFO(logger, ...) OZR_LOG(logger, 6, __VA_ARGS__)
#define OZR_DEBUG(logger, ...) OZR_LOG(logger, 7, __VA_ARGS__)
