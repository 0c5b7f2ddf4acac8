// The D-Bus wrapper (stand-in for the gateway's library).
#pragma once

#include <cstddef>

// Emits the signal INTERFACE.MEMBER from "/vexal/ozrd" on the service's connection, with
// DATA as one "ay" argument (no argument when DATA is null). Thread-safe: from the thread
// that runs qbusMainLoop it is sent at once; from any other thread it is queued to that
// thread, which sends it, and the caller never waits. Every call is journalled as
// {"call":"qbusSendSignal","interface":…,"member":…,"hex":"<payload>"}.
// 0 when sent or queued; -1 without a service connection or with a full queue.
int qbusSendSignal(const char* interface_name, const char* member, const void* data, size_t len);

// Flushes what qbusSendSignal queued or wrote (on the service thread; a no-op elsewhere,
// the service thread flushes after each queued signal). 0 on success.
int qbusFlush();

// Emits INTERFACE.MEMBER (no arguments) from "/vexal/ozrd" on a connection of its own to
// the system bus, opened, flushed and closed within the call; for a process that runs no
// service (the second instance). Journalled like qbusSendSignal. 0 on success.
int qbusSendSignalOnce(const char* interface_name, const char* member);
