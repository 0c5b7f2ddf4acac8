#!/usr/bin/env bash
# Soak: the daemon against the large meshsim scenario with churn (extenders falling
# silent and coming back, cables pulled, clients roaming, leaving and joining; see
# bench/soak_scenario.py) for a set time, on a private segment under a temporary
# OZR_ROOT, with a REST client polling the graph documents. Every 10 s it samples the
# daemon's resident set (VmRSS) and CPU time. At the end the daemon is stopped through
# GET /quit and must exit 0 (under the sanitizers that includes LeakSanitizer's check).
#
# Fails when the daemon dies, when its exit status is not 0, or (not under the
# sanitizers, whose allocator holds freed memory back) when its RSS grows after the
# first minutes: the largest RSS of the second half of the run after the warm-up
# (a third of the run, at most 5 minutes) may exceed that of the first half by at most
# SOAK_RSS_SLACK_KB (default 512).
#
# Lossy mode (--loss or --mcast-loss): meshsim loses that share of the frames between
# the controller and the agents (seeded: --seed, default 1), as a house's Wi-Fi does; the
# run then also counts, from each /debug/graph sample, the devices and association links
# the daemon holds (the smallest after the first minute is reported), and --record writes
# its own section.
#
#   bench/soak.sh [--seconds N] [--build DIR] [--sanitized] [--record]
#                 [--loss ALL] [--mcast-loss M] [--seed N]
#     --seconds N     length of the run (default 1800)
#     --build DIR     take ozr and meshsim from DIR (default: build/release, built here)
#     --sanitized     the binaries are ASan/UBSan builds: no RSS verdict
#     --record        write the RSS curve and CPU share into the soak section of BENCHMARKS.md
#     --loss ALL      share (0 to 1) of every frame lost, both ways
#     --mcast-loss M  share of multicast frames lost (instead of ALL for them)
#     --seed N        seed of meshsim's losses
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/mesh_env.sh
seconds=1800
build=""
sanitized=0
record=0
loss=""
mcast_loss=""
seed=1
usage="usage: $0 [--seconds N] [--build DIR] [--sanitized] [--record] [--loss ALL] [--mcast-loss M] [--seed N]"
while [ $# -gt 0 ]; do
    case "$1" in
        --seconds) seconds=$2; shift 2 ;;
        --build) build=$2; shift 2 ;;
        --sanitized) sanitized=1; shift ;;
        --record) record=1; shift ;;
        --loss) loss=$2; shift 2 ;;
        --mcast-loss) mcast_loss=$2; shift 2 ;;
        --seed) seed=$2; shift 2 ;;
        *) echo "$usage" >&2; exit 2 ;;
    esac
done
faults=()
[ -z "$loss" ] || faults+=(--loss "$loss")
[ -z "$mcast_loss" ] || faults+=(--mcast-loss "$mcast_loss")
lossy=0
[ ${#faults[@]} -eq 0 ] || { lossy=1; faults+=(--seed "$seed"); }
slack=${SOAK_RSS_SLACK_KB:-512}
if [ -z "$build" ]; then
    build=build/release
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOZR_TESTS=OFF -DOZR_BENCH=OFF >/dev/null
    cmake --build "$build" -j2 --target ozr meshsim >/dev/null
fi
ozr=$build/src/main/ozr
meshsim=$build/tools/meshsim/meshsim
for p in "$ozr" "$meshsim"; do
    [ -x "$p" ] || { echo "soak: $p is not built" >&2; exit 2; }
done
command -v curl >/dev/null || { echo "soak: curl is missing (scripts/setup.sh installs it)" >&2; exit 2; }

commit=$(git rev-parse --short=12 HEAD 2>/dev/null || echo unknown)
started=$(date -u '+%Y-%m-%d %H:%M UTC')
root=$(mktemp -d /tmp/ozr-soak.XXXXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$root"
}
trap cleanup EXIT
export OZR_ROOT=$root
mesh_env_setup "$root" plain
python3 bench/soak_scenario.py "$seconds" "$root/soak.json"
# The fault options are checked (and refused with the field named) before anything starts.
"$meshsim" --check "$root/soak.json" "${faults[@]}" >/dev/null

"$ozr" --log-path="$root/ozr.log" --log-level=notice &
daemon=$!
pids=("$daemon")
"$meshsim" --scenario "$root/soak.json" --segment "$segment" "${faults[@]}" >"$root/meshsim.log" 2>&1 &
pids+=($!)
base=http://127.0.0.1:$port
for _ in $(seq 300); do
    curl -fsS -o /dev/null --max-time 1 "$base/1/version" 2>/dev/null && break
    kill -0 "$daemon" 2>/dev/null || break
    sleep 0.1
done
tck=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$daemon/stat"; }
start=$(date +%s)
samples=()   # "t rss_kb cpu_ticks"
polls=0
poll_fail=0
echo "soak: ${seconds}s, daemon pid $daemon, REST $base, segment $segment"
[ "$lossy" -eq 0 ] || echo "soak: lossy: meshsim ${faults[*]}"
printf 'soak: %6s %10s %10s %8s %8s %8s\n' "t(s)" "RSS(KiB)" "CPU(s)" "graph" "devices" "assocs"
least_devices=""
least_assocs=""
while :; do
    now=$(($(date +%s) - start))
    if ! kill -0 "$daemon" 2>/dev/null; then
        echo "soak: the daemon died after ${now}s; the end of its log:" >&2
        tail -20 "$root/ozr.log" >&2 || true
        exit 1
    fi
    rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$daemon/status")
    ticks=$(cpu_ticks)
    # A polling client: the graph documents, as a management page would ask for them.
    nodes="-"
    devices="-"
    assocs="-"
    for route in /debug/graph /1/topology /debug/aps; do
        polls=$((polls + 1))
        if body=$(curl -fsS --max-time 10 "$base$route" 2>/dev/null); then
            if [ "$route" = /debug/graph ]; then
                nodes=$(grep -c '"kind"' <<<"$body" || true)
                devices=$(grep -o '"kind": *"device"' <<<"$body" | wc -l)
                assocs=$(grep -o '"kind": *"ASSOC"' <<<"$body" | wc -l)
            fi
        else
            poll_fail=$((poll_fail + 1))
        fi
    done
    samples+=("$now $rss $ticks")
    if [ "$now" -ge 60 ] && [ "$devices" != "-" ]; then
        [ -n "$least_devices" ] && [ "$least_devices" -le "$devices" ] || least_devices=$devices
        [ -n "$least_assocs" ] && [ "$least_assocs" -le "$assocs" ] || least_assocs=$assocs
    fi
    printf 'soak: %6d %10d %10.2f %8s %8s %8s\n' "$now" "$rss" "$(awk -v t="$ticks" -v h="$tck" 'BEGIN {print t / h}')" "$nodes" "$devices" "$assocs"
    [ "$now" -ge "$seconds" ] && break
    sleep $((10 - ($(date +%s) - start) % 10))
done

# Graceful stop: the exit status tells whether the sanitizers found anything.
curl -fsS -o /dev/null --max-time 10 "$base/quit" || true
status=0
for _ in $(seq 300); do
    kill -0 "$daemon" 2>/dev/null || break
    sleep 0.1
done
if kill -0 "$daemon" 2>/dev/null; then
    echo "soak: the daemon did not stop after /quit" >&2
    exit 1
fi
wait "$daemon" || status=$?
pids=("${pids[@]:1}")
if [ "$status" -ne 0 ]; then
    echo "soak: the daemon exited with status $status; the end of its log:" >&2
    tail -20 "$root/ozr.log" >&2 || true
    exit 1
fi
if [ "$poll_fail" -gt 0 ]; then
    echo "soak: $poll_fail of $polls REST polls failed" >&2
    exit 1
fi

# Verdict on the RSS.
warm=$((seconds / 3))
[ "$warm" -le 300 ] || warm=300
mid=$(((seconds + warm) / 2))
read -r first second last total_cpu <<<"$(printf '%s\n' "${samples[@]}" | awk -v w="$warm" -v m="$mid" '
    $1 >= w && $1 < m && $2 > a {a = $2}
    $1 >= m && $2 > b {b = $2}
    {l = $2; c = $3; t = $1}
    END {printf "%d %d %d %d\n", a, b, l, c}')"
share=$(awk -v c="$total_cpu" -v h="$tck" -v s="$seconds" 'BEGIN {printf "%.3f", 100 * c / h / s}')
echo "soak: CPU $(awk -v c="$total_cpu" -v h="$tck" 'BEGIN {printf "%.2f", c / h}') s in ${seconds} s ($share % of one core); $polls REST polls"
[ -z "$least_devices" ] || echo "soak: after the first minute the graph held at least $least_devices devices and $least_assocs association links"
if [ "$lossy" -eq 1 ]; then
    # meshsim's own count of what its faults did, written when it stops.
    kill "${pids[-1]}" 2>/dev/null || true
    wait "${pids[-1]}" 2>/dev/null || true
    grep -h '^meshsim: faults (seed' "$root/meshsim.log" | tail -1 || true
fi
if [ "$sanitized" -eq 1 ]; then
    echo "soak: sanitizer build: exit status 0, no RSS verdict (the sanitizers' allocator keeps freed memory)"
else
    echo "soak: largest RSS ${first} KiB in ${warm}-${mid} s, ${second} KiB after; last ${last} KiB (slack ${slack} KiB)"
    if [ "$second" -gt $((first + slack)) ]; then
        echo "soak: FAIL: RSS grew by $((second - first)) KiB after the warm-up" >&2
        exit 1
    fi
fi

if [ "$record" -eq 1 ]; then
    curve=$(printf '%s\n' "${samples[@]}" | awk -v h="$tck" '
        BEGIN {pt = -1}
        ($1 % 120 < 10 || NR == 1) && (pt < 0 || $1 - pt >= 110) {
            share = (pt < 0) ? 0 : 100 * ($3 - pc) / h / ($1 - pt);
            printf "| %d | %.2f | %.2f |\n", $1, $2 / 1024, share; pt = $1; pc = $3 }')
    machine="$(uname -srm); $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //') ($(nproc) cores, shared)"
    tag=soak
    title="the daemon under churn"
    lossline=""
    if [ "$lossy" -eq 1 ]; then
        tag=soak-lossy
        title="the daemon under churn and loss"
        lossline="
meshsim loses frames: \`${faults[*]}\` ($(grep -h '^meshsim: faults (seed' "$root/meshsim.log" | tail -1 | sed 's/^meshsim: //')).
After the first minute the graph always held at least $least_devices devices and $least_assocs association links."
    fi
    section="<!-- $tag -->
## Soak: $title (\`bench/soak.sh\`)

The RelWithDebInfo daemon for $seconds s against the large scenario (33 agents, 500 clients)
with churn: a client roams every 2 s, one leaves and rejoins every 15 s, a wireless extender
falls silent for 75 s (aged out of the graph and met again as a new device) every 90 s, a
cable is pulled for 40 s every 5 minutes; a REST client polls \`/debug/graph\`, \`/1/topology\`
and \`/debug/aps\` every 10 s. Machine: $machine. Commit $commit, started
$started.

Result: CPU $(awk -v c="$total_cpu" -v h="$tck" 'BEGIN {printf "%.2f", c / h}') s in $seconds s, **$share % of one core**;
largest RSS $(awk -v k="$first" 'BEGIN {printf "%.2f", k / 1024}') MiB between ${warm} and ${mid} s, $(awk -v k="$second" 'BEGIN {printf "%.2f", k / 1024}') MiB after (no growth beyond the
${slack} KiB slack); exit status 0 after \`/quit\`; $polls polls, none failed.${lossline}

| t (s) | RSS (MiB) | CPU share since the previous row (%) |
|---|---|---|
${curve}
<!-- /$tag -->"
    if grep -q "<!-- $tag -->" BENCHMARKS.md; then
        awk -v s="$section" -v open="<!-- $tag -->" -v close="<!-- /$tag -->" 'BEGIN {skip = 0}
            $0 == open {print s; skip = 1; next}
            $0 == close {skip = 0; next} !skip {print}' BENCHMARKS.md >BENCHMARKS.md.new
        mv BENCHMARKS.md.new BENCHMARKS.md
    else
        printf '\n%s\n' "$section" >>BENCHMARKS.md
    fi
    echo "soak: written to BENCHMARKS.md"
fi
echo "soak: PASS"
