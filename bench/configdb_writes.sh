#!/usr/bin/env bash
# How often the daemon rewrites the AP configuration database in a running mesh: the
# Release daemon against meshsim (default and large scenarios) for WRITES_SECONDS (default
# 120) each, on a private bus over which every extender of the scenario (all agents but the
# gateway's own) is admitted first; those admissions' writes are counted apart.
# Every rewrite replaces the file (a new inode), so the file's inode is sampled every
# 100 ms; two rewrites within one sample would count as one.
#
#   bench/configdb_writes.sh
#   WRITES_SECONDS=30 bench/configdb_writes.sh tools/meshsim/scenarios/default.json
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/mesh_env.sh
seconds=${WRITES_SECONDS:-120}
scenarios=("$@")
[ ${#scenarios[@]} -gt 0 ] || scenarios=(tools/meshsim/scenarios/default.json tools/meshsim/scenarios/large.json)
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOZR_TESTS=OFF -DOZR_BENCH=OFF >/dev/null
cmake --build build/release -j2 --target ozr meshsim >/dev/null
ozr=build/release/src/main/ozr
meshsim=build/release/tools/meshsim/meshsim
root=""
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    if [ -n "$root" ]; then
        scripts/private-bus.sh stop "$root/bus" >/dev/null 2>&1 || true
        rm -rf "$root"
    fi
}
trap cleanup EXIT

inode() { stat -c %i "$1" 2>/dev/null || echo 0; }

# Samples FILE's inode until END (epoch seconds); prints the number of changes.
count_rewrites() {
    local file=$1 end=$2 last now n=0
    last=$(inode "$file")
    while [ "$(date +%s)" -lt "$end" ]; do
        sleep 0.1
        now=$(inode "$file")
        if [ "$now" != "$last" ]; then n=$((n + 1)); last=$now; fi
    done
    echo "$n"
}

for scenario in "${scenarios[@]}"; do
    root=$(mktemp -d /tmp/ozr-writes.XXXXXX)
    export OZR_ROOT=$root
    mesh_env_setup "$root" plain
    db="$root/configs/easymesh/ozr_config_db.json"
    addr=$(scripts/private-bus.sh start "$root/bus")
    DBUS_SYSTEM_BUS_ADDRESS=$addr "$ozr" --log-path="$root/ozr.log" --log-level=notice &
    pids=($!)
    "$meshsim" --scenario "$scenario" --segment "$segment" >"$root/meshsim.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 1 100); do
        [ -f "$db" ] && busctl --address="$addr" status vexal.ozrd >/dev/null 2>&1 && break
        sleep 0.1
    done
    sleep 0.3
    sns=$(python3 -c 'import json, sys
s = json.load(open(sys.argv[1]))
print(" ".join(a["serial"] for a in s.get("agents", [])
               if a.get("serial") and a.get("al_mac", "").lower() != "02:6f:7a:72:01:00"))' "$scenario")
    admitted=0
    for sn in $sns; do
        busctl --address="$addr" emit /vexal/platform vexal.kpl notifyAddExtender s "$sn"
        admitted=$((admitted + 1))
    done
    for _ in $(seq 1 100); do
        [ "$(grep -c '"serial-number"' "$db" || true)" -ge "$admitted" ] && break
        sleep 0.1
    done
    n=$(count_rewrites "$db" $(( $(date +%s) + seconds )))
    per_hour=$(awk -v n="$n" -v s="$seconds" 'BEGIN {printf "%.0f", n * 3600 / s}')
    name=$(basename "$scenario" .json)
    printf 'configdb writes: %-8s %s admitted (one write each), then %s rewrites in %s s (%s per hour)\n' \
        "$name" "$admitted" "$n" "$seconds" "$per_hour"
    cleanup
    pids=()
    root=""
done
