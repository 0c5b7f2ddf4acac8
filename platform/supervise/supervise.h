// Process supervision (stand-in for the gateway's supervisor helpers).
#pragma once

// Single-instance check. Creates (or opens) the pid file "<name>.pid", NAME being the
// last path component of ARGV0, in ozr_path("/var/run") (created when missing), or in
// ozr_path("/tmp") when that folder cannot be used, and takes an exclusive advisory
// lock (flock) on it, held for the life of the process. Returns 1 when another live
// process holds the lock, 0 otherwise (the pid file then holds our pid). The lock dies
// with its process, so a stale file left by a dead instance never blocks a start. If no
// pid file can be created at all the check answers 0: refusing to start would be worse.
int check_duplication_by_pid_file(const char* argv0);

// The path of the pid file the last check used ("" before the first call).
const char* supervise_pid_file_path();

// Watchdog feed. The stand-in has no hardware watchdog: this is a no-op that only
// counts the calls (supervise_watchdog_feeds), so tests can see that it is fed.
void watchdog_feed();
unsigned long supervise_watchdog_feeds();
