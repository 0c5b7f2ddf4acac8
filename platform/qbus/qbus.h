// The D-Bus wrapper (stand-in for the gateway's library), on sd-bus.
//
// One service connection per process, to the system bus as sd-bus finds it
// (DBUS_SYSTEM_BUS_ADDRESS honoured). The thread that calls qbusOwnName owns the
// connection: it registers the service and the signal matches, runs qbusMainLoop and
// finally qbusRelease. Any thread may raise a signal (qbusSendSignal): from another thread
// it is queued to the owner, which sends it; the caller never waits.
//
// Marshalling: every method takes one "ay" (its request record, exactly its size) and
// answers "iay" (the handler's result, then the reply record; empty when the method answers
// only a code). A request of the wrong size is answered with
// org.freedesktop.DBus.Error.InvalidArgs without reaching the handler. Signals are raised
// with one "ay" argument, or none.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- Service ---------------------------------------------------------------------------

// A method handler: IN is the request record (a private copy, suitably aligned), OUT the
// reply buffer (zero-filled; never null). Returns the result code sent back. Runs on the
// owner thread and may block.
typedef int (*QbusMethodHandler)(void* in, void* out);
// The size a record says it has (for variable-length records).
typedef uint64_t (*QbusSizeFn)(const void* record);

struct QbusMethodDesc {
    const char* member;         // method name
    QbusMethodHandler handler;  // the work
    size_t in_len;              // exact request size; the header size when in_size is set
    QbusSizeFn in_size;         // variable request: its full size from its header, or null
    size_t out_len;             // reply record size (0: the method answers only a code)
    // Set for a method that answers with a block it allocates: OUT is then a void* slot
    // that the handler sets to a malloc'ed block (or leaves null); the block is sent with
    // out_size(block) bytes (0 when null) and freed.
    QbusSizeFn out_size;
};

struct QbusServiceDesc {
    const char* interface;  // method interface
    // Called with the member name before each method's handler (may be null).
    void (*generic)(const char* member);
    const QbusMethodDesc* methods;
    size_t method_count;
};

// Object path of the service and of the signals it raises.
constexpr const char* kQbusObjectPath = "/vexal/ozrd";

// Connects to the system bus (once) and requests NAME (no queueing, no replacement).
// 0 on success; a negative errno when the bus is unreachable or the name is owned.
int qbusOwnName(const char* name);
// Registers the service's methods at kQbusObjectPath. 0 on success, negative otherwise.
// DESC must outlive the connection.
int qbusRegisterService(const QbusServiceDesc* desc);

// ---- Signals listened to -----------------------------------------------------------------

// A signal handler: DATA and LEN are the signal's argument: the bytes of an "ay", the
// NUL-terminated text of an "s" (LEN counts the NUL), the 4 bytes of an "i", or null and 0
// for none. DATA is valid during the call only.
typedef void (*QbusSignalHandler)(const char* interface, const char* member, void* data, int len,
                                  int index);

constexpr size_t kQbusNameLen = 64;
struct QbusInterestedSignal {
    char interface[kQbusNameLen];
    char member[kQbusNameLen];
    QbusSignalHandler handler;
    int index;
    // The argument signature the handler takes ("ay", "s", "i" or ""); a signal with
    // another signature is logged and dropped.
    const char* signature;
};

// Adds the match RULE to the connection. 0 on success.
int qbusAddInterestedSignal(const char* rule);
// Removes a match added with qbusAddInterestedSignal. 0 on success, -1 when unknown.
int qbusRemoveMatch(const char* rule);
// Hands over the table of signals to deliver (copied); signals matching no entry are
// ignored. 0 on success.
int qbusSetInteresetedSignals(const QbusInterestedSignal* table, int count);

// ---- Running ------------------------------------------------------------------------------

// When STOP_FD (an eventfd or pipe) becomes readable, qbusMainLoop returns 0. -1: none.
void qbusSetStopFd(int stop_fd);
// Serves the connection until the stop fd is readable (0) or the connection is lost
// (negative errno, logged fatal). Sends what other threads queued.
int qbusMainLoop();
// Removes the matches, flushes and closes the connection, forgets the queue. 0.
int qbusRelease();

// ---- Raising signals ------------------------------------------------------------------------

// Emits INTERFACE.MEMBER from kQbusObjectPath with DATA as one "ay" argument (none when
// DATA is null). Thread-safe, never blocks on the owner thread. Every call is journalled as
// {"call":"qbusSendSignal","interface":…,"member":…,"hex":"<payload>"}.
// 0 when sent or queued; -1 without a service connection, for a payload over
// kQbusMaxSignalLen, or with kQbusMaxQueued signals already waiting.
int qbusSendSignal(const char* interface_name, const char* member, const void* data, size_t len);
constexpr size_t kQbusMaxQueued = 256;
constexpr size_t kQbusMaxSignalLen = 64 * 1024;

// Flushes the connection (owner thread; elsewhere a no-op: the owner flushes after each
// queued signal). 0 on success.
int qbusFlush();

// Emits INTERFACE.MEMBER (no arguments) from kQbusObjectPath on a connection of its own to
// the system bus, opened, flushed and closed within the call; for a process that runs no
// service (the second instance). Journalled like qbusSendSignal. 0 on success.
int qbusSendSignalOnce(const char* interface_name, const char* member);

// ---- Logging ----------------------------------------------------------------------------------

// The wrapper's fatal log: printf-style, to the platform log at crit and to the daemon's
// root logger (one trailing line end dropped).
void qbusLogFatal(const char* func, int line, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));

// True while a service connection is up (for callers that want to know).
bool qbusConnected();
