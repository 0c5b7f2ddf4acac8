#include "core/log.h"

#include <cctype>
#include <cstring>

#include "nal/nal.h"

namespace ozr {
void log_text(const Logger* logger, int severity, const char* func, int line,
              const std::string& text) {
    logger->emit_log(severity, text);
    switch (severity) {
        case 7:
            nalLogDebug(func, line, "%s", text.c_str());
            break;
        case 6:
            nalLogInfo(func, line, "%s", text.c_str());
            break;
        case 5:
            nalLogNotice(func, line, "%s", text.c_str());
            break;
        case 4:
            nalLogWarning(func, line, "%s", text.c_str());
            break;
        case 3:
            nalLogError(func, line, "%s", text.c_str());
            break;
        default:  // crit and above
            nalLogCrit(func, line, "%s", text.c_str());
            break;
    }
}

void log_vformat(const Logger* logger, int severity, const char* func, int line,
                 fmt::string_view format, fmt::format_args args) {
    log_text(logger, severity, func, line, fmt::vformat(format, args));
}

std::string spell_signature(const char* pretty) {
    static const char kAnon[] = "(anonymous namespace)";
    std::string out;
    for (const char* p = pretty ? pretty : ""; *p; ++p) {
        if (*p == ' ' && (p[1] == '*' || p[1] == '&') && !out.empty() && out.back() != ',' &&
            out.back() != '(')
            continue;
        if (std::strncmp(p, kAnon, sizeof kAnon - 1) == 0) {
            out += "{anonymous}";
            p += sizeof kAnon - 2;
            continue;
        }
        const unsigned char c = static_cast<unsigned char>(*p);
        if ((std::isalnum(c) || c == '_') && !out.empty() &&
            (out.back() == '*' || out.back() == '&'))
            out += ' ';  // "char *const" -> "char* const"
        out += *p;
    }
    return out;
}
}  // namespace ozr
