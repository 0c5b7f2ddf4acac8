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

// Watchdog feed, called by the daemon every 10 s for its whole life. The stand-in has no
// hardware watchdog: it counts the calls (supervise_watchdog_feeds, so tests can see that it
// is fed) and notes the time of the last one for the service manager's watchdog below.
void watchdog_feed();
unsigned long supervise_watchdog_feeds();

struct uv_loop_s;

// Readiness and the service manager's watchdog, over systemd's notification protocol
// (sd_notify). Called once, when the daemon serves: its minders run and its loop is about to.
// When a service manager waits for notifications (NOTIFY_SOCKET is set), tells it "READY=1".
// When the manager also asks for keep-alives (sd_watchdog_enabled: WATCHDOG_USEC, for this
// process), starts a timer on LOOP that sends "WATCHDOG=1" every half of the interval asked
// while the daemon feeds (a watchdog_feed() in the last kSuperviseFeedStaleMs, the call to
// this function counting as one), and "WATCHDOG=trigger" once when it stopped feeding, so
// that the manager restarts a daemon whose loop still turns but whose feed no longer comes.
// Without a manager it does nothing. Returns the keep-alive period in ms, 0 when none.
// The timer is left to the loop's owner to close with its other handles.
long long supervise_notify_ready(uv_loop_s* loop);

// Three of the daemon's 10-second feeds missed.
constexpr long long kSuperviseFeedStaleMs = 30000;
