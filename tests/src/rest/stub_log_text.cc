// Test stand-in for ozr::log_text (used only while the real one is not in the tree).
#include "core/log.h"

namespace ozr {
void log_text(const Logger* logger, int severity, const char*, int, const std::string& text) {
    logger->emit_log(severity, text);
}
}  // namespace ozr
