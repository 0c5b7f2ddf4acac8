// The platform abstraction layer (stand-in): the platform log, and the settings
// the gateway's services would answer, read from /configs/easymesh/platform.json
// under the file-system root. A missing file or key makes the call fail, as on a
// gateway where the service is down.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// ---- Platform log --------------------------------------------------------------
// printf-style lines at the six severities. A line passes when its severity is at
// most the platform log level (nal_initLogging / nal_setLogLevel; 7 before set-up).
//
// Where the lines go: a bounded in-memory ring of the most recent lines (always),
// plus the file named by platform.json key "platform-log-path" when that key is
// present at nal_initLogging (appended to; used as written, no root prefix). The
// platform log never writes to stdout, stderr or syslog, and it skips the file when
// it is the daemon's own log file, so a line never appears twice on one destination.
void nalLogDebug(const char* func, int line, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));
void nalLogInfo(const char* func, int line, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));
void nalLogNotice(const char* func, int line, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));
void nalLogWarning(const char* func, int line, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));
void nalLogError(const char* func, int line, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));
void nalLogCrit(const char* func, int line, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));

// Sets the platform log level, the facility (kept, unused by the stand-in) and the
// program name; opens the platform log file; routes the Multi-AP stack's lines
// (map_log) into the platform log. Returns 0.
int nal_initLogging(int level, int facility, const char* name);
void nal_setLogLevel(int level);
int nal_getLogLevel();

// The ring: at most kNalLogRingLines lines of at most kNalLogLineMax bytes each.
constexpr size_t kNalLogRingLines = 128;
constexpr size_t kNalLogLineMax = 400;
// Copy of the ring, oldest first. Each line: "<level> <func>:<line> <text>".
std::vector<std::string> nal_log_recent();
void nal_log_clear();

// ---- platform.json -----------------------------------------------------------------
// Path of the platform file (through ozr_path).
std::string nal_platform_json_path();
// The JSON text of the value under top-level KEY. False when the file is missing,
// unreadable, larger than 64 KiB, not a JSON object, or has no such key.
bool nal_platform_get_json(const char* key, std::string& json_text);
// The string / integer under top-level KEY; false also when the value has another type.
bool nal_platform_get_string(const char* key, std::string& out);
bool nal_platform_get_int(const char* key, long long& out);

// Writes the JSON text of the object under "mesh-rest-listen-address" (e.g.
// {"rest-ipv4":"127.0.0.1","rest-port":8090}) into BUFFER, NUL-terminated.
// 0 on success; -1 when the file or key is missing or the value is not an object;
// -2 when BUFFER is null or too small.
int nal_getMeshRestListenAddress(char* buffer, size_t size);
