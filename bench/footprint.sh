#!/usr/bin/env bash
# The daemon's footprint against a simulated mesh: peak RSS and CPU seconds of the
# ozr process over FOOTPRINT_SECONDS (default 120) with the default and the large
# meshsim scenario, each on a private segment under a temporary OZR_ROOT. Prints
# the figures and writes them, with the machine they ran on, into the footprint
# section of BENCHMARKS.md. Targets (default scenario): below 8 MiB RSS and 1 % of
# one core.
#
#   bench/footprint.sh            # both scenarios, 120 s each
#   FOOTPRINT_SECONDS=30 bench/footprint.sh tools/meshsim/scenarios/default.json
#   FOOTPRINT_BUILD=build/bench bench/footprint.sh   # an existing optimised build folder
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/mesh_env.sh
seconds=${FOOTPRINT_SECONDS:-120}
scenarios=("$@")
[ ${#scenarios[@]} -gt 0 ] || scenarios=(tools/meshsim/scenarios/default.json tools/meshsim/scenarios/large.json)
build=${FOOTPRINT_BUILD:-build/release}
if [ -z "${FOOTPRINT_BUILD:-}" ]; then
    cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOZR_TESTS=OFF -DOZR_BENCH=OFF >/dev/null
fi
cmake --build "$build" -j2 --target ozr meshsim >/dev/null
ozr=$build/src/main/ozr
meshsim=$build/tools/meshsim/meshsim
tck=$(getconf CLK_TCK)
rows=""
root=""
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    [ -z "$root" ] || rm -rf "$root"
}
trap cleanup EXIT

for scenario in "${scenarios[@]}"; do
    root=$(mktemp -d /tmp/ozr-footprint.XXXXXX)
    export OZR_ROOT=$root
    mesh_env_setup "$root"
    "$ozr" --log-path="$root/ozr.log" --log-level=notice &
    daemon=$!
    pids=("$daemon")
    "$meshsim" --scenario "$scenario" --segment "$segment" >"$root/meshsim.log" 2>&1 &
    pids+=($!)
    sleep "$seconds"
    if ! kill -0 "$daemon" 2>/dev/null; then
        echo "footprint: the daemon exited early; see its log:" >&2
        tail -5 "$root/ozr.log" >&2 || true
        exit 1
    fi
    hwm_kb=$(awk '/^VmHWM:/ {print $2}' "/proc/$daemon/status")
    rss_kb=$(awk '/^VmRSS:/ {print $2}' "/proc/$daemon/status")
    # What the daemon holds itself (anonymous pages: heap, stacks, relocated data) and its
    # proportional share of the libraries it maps with other processes.
    anon_kb=$(awk '/^RssAnon:/ {print $2}' "/proc/$daemon/status")
    pss_kb=$(awk '/^Pss:/ {print $2}' "/proc/$daemon/smaps_rollup" 2>/dev/null || echo 0)
    # Where the anonymous memory is: each mapping's Anonymous pages, by name ([heap], a
    # thread's [anon] stack, a library's relocated data), the largest first.
    awk '/^[0-9a-f]+-[0-9a-f]+ / {name = (NF >= 6 ? $6 : "[anon]")}
         /^Anonymous:/ {kb[name] += $2}
         END {for (n in kb) if (kb[n] > 0) printf "%8d kB  %s\n", kb[n], n}' \
        "/proc/$daemon/smaps" | sort -rn | head -8 | sed 's/^/footprint:   anonymous /'
    read -r utime stime < <(awk '{print $14, $15}' "/proc/$daemon/stat")
    cpu=$(awk -v u="$utime" -v s="$stime" -v t="$tck" 'BEGIN {printf "%.2f", (u + s) / t}')
    pct=$(awk -v u="$utime" -v s="$stime" -v t="$tck" -v d="$seconds" 'BEGIN {printf "%.3f", 100 * (u + s) / t / d}')
    agents=$("$meshsim" --check "$scenario" | sed 's/.*: //; s/, [0-9]* timeline events//')
    name=$(basename "$scenario" .json)
    mib() { awk -v k="$1" 'BEGIN {printf "%.2f", k / 1024}'; }
    printf 'footprint: %-8s peak RSS %s MiB (now %s MiB, anonymous %s MiB, PSS %s MiB), CPU %s s in %s s (%s %% of one core)\n' \
        "$name" "$(mib "$hwm_kb")" "$(mib "$rss_kb")" "$(mib "$anon_kb")" "$(mib "$pss_kb")" \
        "$cpu" "$seconds" "$pct"
    rows+="| $name ($agents) | $(mib "$hwm_kb") MiB | $(mib "$anon_kb") MiB | $(mib "$pss_kb") MiB | $cpu s | $pct % |"$'\n'
    cleanup
    pids=()
    root=""
done

machine="$(uname -srm); $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //') ($(nproc) cores, shared); $(awk '/MemTotal/ {printf "%.1f GiB", $2 / 1048576}' /proc/meminfo) RAM"
section="<!-- footprint -->
## Daemon footprint against a simulated mesh (\`bench/footprint.sh\`)

The optimised daemon ($build) on a private segment, client steering on, with meshsim playing the scenario,
measured over $seconds s: peak resident set (VmHWM), at the end the anonymous resident memory
(RssAnon: what the daemon holds itself, no library text) and the proportional set size (PSS:
shared library pages divided among the processes that map them), and CPU seconds (user +
system) of the \`ozr\` process. Targets with the default scenario: below 8 MiB and 1 % of one
core.

Machine: $machine. Commit $(git rev-parse --short=12 HEAD), $(date -u '+%Y-%m-%d %H:%M UTC').

| Scenario | Peak RSS | Anonymous | PSS | CPU | Share of one core |
|---|---|---|---|---|---|
${rows}<!-- /footprint -->"
if [ -f BENCHMARKS.md ] && grep -q '<!-- footprint -->' BENCHMARKS.md; then
    awk -v s="$section" 'BEGIN {skip = 0} /<!-- footprint -->/ {print s; skip = 1; next}
        /<!-- \/footprint -->/ {skip = 0; next} !skip {print}' BENCHMARKS.md >BENCHMARKS.md.new
    mv BENCHMARKS.md.new BENCHMARKS.md
else
    [ -f BENCHMARKS.md ] || printf '# Benchmarks\n\n' >BENCHMARKS.md
    printf '%s\n' "$section" >>BENCHMARKS.md
fi
echo "footprint: written to BENCHMARKS.md"
