// The platform abstraction layer (stand-in): the platform log, and the settings
// the gateway's services would answer, read from /configs/easymesh/platform.json
// under the file-system root. A missing file or key makes the call fail, as on a
// gateway where the service is down.
#pragma once

#include <cstddef>
#include <cstdint>
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

// ---- The maker's extenders (vendor agents) ------------------------------------------
// Each call acts on the gateway's management software; the stand-in journals it (see
// journal.h) and keeps nothing.

// A configuration synchronisation result, as the platform reads it: the extender's return
// code (-1 when the controller could not send), its serial number (NUL-padded), and LEN
// bytes of its answer. Allocated with room for the data (kNalSyncResultHeader + len).
struct nal_sync_result_t {
    int32_t result;  //  0
    char sn[65];     //  4
    uint8_t pad[3];  // 69
    uint32_t len;    // 72
    uint8_t data[];  // 76
};
constexpr size_t kNalSyncResultHeader = 76;
// The largest answer the platform takes.
constexpr size_t kNalSyncResultMaxData = 65535;

// Hands a configuration result to the platform. 0; -1 for null or a length over
// kNalSyncResultMaxData. Journal: "result", "sn", "len", "data" (hex).
int nal_setSyncResult(const nal_sync_result_t* result);
// An extender's vendor agent went online (ONLINE 1) or offline (0); MAC is its vendor
// agent MAC as text. 0; -1 for a null or empty serial number. Journal: "sn", "online",
// "mac".
int nal_notifyApOnlineStatus(const char* sn, int online, const char* mac);
// An extender's event (EVENT and its LEN bytes of data). 0; -1 for a null serial number
// or data missing. Journal: "sn", "event", "len", "data" (hex).
int nal_setExNotification(const char* sn, uint16_t event, const uint8_t* data, size_t len);
// The gateway's virtual serial number (platform.json key "virtual-serial-number", a text
// of 1 to 32 bytes) into BUFFER, NUL-terminated. 0; -1 when it is not set or not such a
// text; -2 when BUFFER is null or too small. Journal: "sn" (empty unless 0).
int nal_getVirtualSN(char* buffer, size_t size);
// The platform steering policy: the text under platform.json key "steering-policy" (a
// JSON string holding the document, or the document itself as an object), e.g.
//   {"ozr-config": [{"config-type": "steering", "bsteer_rssi_2to5": -60}]}
// into BUFFER, NUL-terminated. 0; -1 when the key is missing (a gateway without the
// policy service); -2 when BUFFER is null or the text does not fit. Journal: "result",
// "len".
int nal_getSteeringPolicy(char* buffer, size_t size);
