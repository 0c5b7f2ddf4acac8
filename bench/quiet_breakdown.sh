#!/usr/bin/env bash
# Where the daemon's CPU goes in a quiet mesh: user and system time over the warm-up and
# over a steady window, then over a second window the system calls by kind (strace -c,
# which slows the daemon: its counts are kept, its times are not), wake-ups (epoll
# returns) per second, and the CMDUs on the segment per second by direction and type (a
# loopback capture of the segment's datagrams, bench/segment_cmdus.py). Prints the
# figures; nothing is written into BENCHMARKS.md.
#
#   bench/quiet_breakdown.sh                            # large.json, 60 s warm-up, 60 s windows
#   QB_WARMUP=120 QB_SECONDS=120 bench/quiet_breakdown.sh tools/meshsim/scenarios/large.json
#   QB_OZR=/tmp/old/ozr bench/quiet_breakdown.sh        # another daemon binary
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/mesh_env.sh
scenario=${1:-tools/meshsim/scenarios/large.json}
warmup=${QB_WARMUP:-60}
seconds=${QB_SECONDS:-60}
build=${QB_BUILD:-build/default}
for tool in strace tshark python3; do
    command -v "$tool" >/dev/null || { echo "quiet_breakdown: $tool is missing" >&2; exit 2; }
done
cmake --build "$build" -j2 --target ozr meshsim >/dev/null
ozr=${QB_OZR:-$build/src/main/ozr}
mesh_env_root /tmp/ozr-breakdown.XXXXXX
mesh_env_start "$ozr" "$build/tools/meshsim/meshsim" "$scenario"
tck=$(getconf CLK_TCK)
ticks() { awk '{print $14, $15}' "/proc/$daemon/stat"; }
sleep "$warmup"
read -r u0 s0 < <(ticks)
sleep "$seconds"
read -r u1 s1 < <(ticks)
strace -c -f -p "$daemon" -o "$root/strace.txt" &
strace_pid=$!
tshark -q -i lo -f "udp port ${segment##*:}" -F pcap -w "$root/segment.pcap" -a "duration:$seconds" \
    2>/dev/null &
capture_pid=$!
sleep "$seconds"
kill -INT "$strace_pid"
wait "$strace_pid" || true
wait "$capture_pid" || true
kill -0 "$daemon" 2>/dev/null || { echo "quiet_breakdown: the daemon exited early" >&2; exit 1; }
share() { awk -v u="$1" -v s="$2" -v t="$tck" -v d="$3" 'BEGIN {
    printf "user %.2f s, system %.2f s: %.3f %% of one core", u / t, s / t, 100 * (u + s) / t / d }'; }
echo "quiet_breakdown: $(basename "$scenario"), binary $ozr, load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "quiet_breakdown: warm-up ($warmup s): $(share "$u0" "$s0" "$warmup")"
echo "quiet_breakdown: steady ($seconds s): $(share $((u1 - u0)) $((s1 - s0)) "$seconds")"
echo "quiet_breakdown: system calls over $seconds s of steady state (strace -c; per second in brackets):"
awk -v d="$seconds" '/^ *[0-9.]+ +[0-9.]+ +[0-9]+ +[0-9]+/ {
        n = $4; name = $NF; printf "  %-16s %8d (%.1f/s)\n", name, n, n / d }' "$root/strace.txt"
echo "quiet_breakdown: CMDUs on the segment per second (rx: sent by the agents, tx: by the daemon):"
python3 bench/segment_cmdus.py "$root/segment.pcap" "$seconds" 02:6f:7a:72:00:00 02:6f:7a:72:00:01
echo "quiet_breakdown: log lines written in the run: $(wc -l <"$root/ozr.log")"
