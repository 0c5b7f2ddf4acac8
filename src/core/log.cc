#include "core/log.h"

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
}  // namespace ozr
