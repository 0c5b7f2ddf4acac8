#!/usr/bin/env bash
# Instructions the daemon executes in steady state against a meshsim scenario, counted by
# callgrind (the count does not depend on the machine's load). The daemon runs under
# callgrind with instrumentation off while the mesh is learned (onboarding, first
# queries); after the warm-up it is switched on for the measured window, dumped, and the
# daemon stopped. Prints the instructions per minute and the ten functions with the most
# instructions of their own, with their share of the total; the dump is kept.
#
#   bench/callgrind_steady.sh                      # large.json, 60 s warm-up, 120 s counted
#   CG_WARMUP=60 CG_SECONDS=300 bench/callgrind_steady.sh tools/meshsim/scenarios/large.json
#   CG_BUILD=build/default CG_OUT=/tmp/cg bench/callgrind_steady.sh
#   CG_OZR=/tmp/old/ozr bench/callgrind_steady.sh  # another daemon binary (meshsim from CG_BUILD)
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/mesh_env.sh
scenario=${1:-tools/meshsim/scenarios/large.json}
warmup=${CG_WARMUP:-60}
seconds=${CG_SECONDS:-120}
build=${CG_BUILD:-build/default}
out=${CG_OUT:-$(mktemp -d /tmp/ozr-callgrind.XXXXXX)}
for tool in valgrind callgrind_control callgrind_annotate; do
    command -v "$tool" >/dev/null || { echo "callgrind_steady: $tool is missing (apt-get install valgrind)" >&2; exit 2; }
done
[ -d "$build" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target ozr meshsim >/dev/null
mkdir -p "$out"
root=$(mktemp -d /tmp/ozr-callgrind-root.XXXXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$root"
}
trap cleanup EXIT
export OZR_ROOT=$root
mesh_env_setup "$root"
valgrind --tool=callgrind --instr-atstart=no --callgrind-out-file="$out/callgrind.out.%p" \
    "${CG_OZR:-$build/src/main/ozr}" --log-path="$root/ozr.log" --log-level=notice 2>"$out/valgrind.log" &
daemon=$!
pids=("$daemon")
"$build/tools/meshsim/meshsim" --scenario "$scenario" --segment "$segment" >"$out/meshsim.log" 2>&1 &
pids+=($!)
sleep "$warmup"
callgrind_control -i on "$daemon" >/dev/null 2>&1
sleep "$seconds"
callgrind_control -d "$daemon" >/dev/null 2>&1
kill -0 "$daemon" 2>/dev/null || { echo "callgrind_steady: the daemon exited early" >&2; exit 1; }
dump=$out/callgrind.out.$daemon.1
cp "$root/ozr.log" "$out/ozr.log"
cleanup
pids=()
total=$(callgrind_annotate "$dump" | awk '/PROGRAM TOTALS/ {gsub(",", "", $1); print $1}')
awk -v t="$total" -v s="$seconds" -v w="$warmup" -v n="$(basename "$scenario")" 'BEGIN {
    printf "callgrind_steady: %s, %d s counted after %d s: %.1f M instructions, %.1f M per minute\n",
        n, s, w, t / 1e6, t / 1e6 * 60 / s }'
# Instructions of their own per function, the parts inlined from other files counted with
# the function they were inlined into.
callgrind_annotate --auto=no --threshold=100 "$dump" | awk '
    /file:function/ {go = 1; next}
    go && /^ *[0-9,]+ \(/ {c = $1; gsub(",", "", c); line = $0
        sub(/^ *[0-9,]+ \( *[0-9.]+%\) +/, "", line); sub(/ \[[^]]*\]$/, "", line)
        sub(/^[^:]*:/, "", line); own[line] += c}
    END {for (f in own) printf "%d\t%s\n", own[f], f}' | sort -rn | head -10 |
    awk -F '\t' -v t="$total" '{printf "%6.2f %%  %s\n", 100 * $1 / t, $2; sum += $1}
        END {printf "top ten: %.1f %% of the total\n", 100 * sum / t}'
echo "callgrind_steady: dump kept in $dump"
