#!/usr/bin/env bash
# The main job: builds the daemon, the mesh simulator and the viewer, then runs the
# daemon against a simulated mesh (the default scenario: the gateway with its own
# agent, a wired and a wireless extender, eight clients) without root, and shows
# the mesh the daemon discovers as a tree, refreshed as it changes.
#
#   scripts/demo.sh [ozr options...]
#   DEMO_SCENARIO=tools/meshsim/scenarios/large.json scripts/demo.sh
#   DEMO_SCENARIO=tools/meshsim/scenarios/onboarding-faults.json scripts/demo.sh
#   DEMO_SCENARIO=tools/meshsim/scenarios/channel.json scripts/demo.sh
#   DEMO_SCENARIO=tools/meshsim/scenarios/ssid-sync.json scripts/demo.sh
#   DEMO_SCENARIO=tools/meshsim/scenarios/backhaul.json scripts/demo.sh   (a backhaul moves)
#   DEMO_SCENARIO=tools/meshsim/scenarios/steering.json scripts/demo.sh   (clients steered live)
#   DEMO_SCENARIO=tools/meshsim/scenarios/foreign.json scripts/demo.sh    (agents that are not ours)
#   DEMO_SCENARIO=tools/meshsim/scenarios/hostile.json scripts/demo.sh    (hostile names, shown as text on the web page)
#   DEMO_LOSS=0.1 scripts/demo.sh      (meshsim loses that share of every frame, seed DEMO_SEED or 1)
#
# Every agent onboards for real: its M1s are answered with M2s carrying the
# credentials of map_stack.json ("ozr-home" everywhere, "ozr-backhaul" on 5 GHz),
# and the tree shows each BSS with the SSID it was configured with.
#
# Everything lives in a temporary OZR_ROOT on a private virtual segment, a free REST
# port and a private message bus (the daemon serves "vexal.ozrd" there); Ctrl-C stops
# the daemon, the simulator and the bus and removes the folder.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOZR_TESTS=OFF -DOZR_BENCH=OFF >/dev/null
cmake --build build/release -j"$(nproc)" --target ozr meshsim meshview
scenario=${DEMO_SCENARIO:-tools/meshsim/scenarios/default.json}
# DEMO_LOSS: meshsim loses that share of the frames between the controller and the agents.
loss=()
[ -z "${DEMO_LOSS:-}" ] || loss=(--loss "$DEMO_LOSS" --seed "${DEMO_SEED:-1}")
./build/release/tools/meshsim/meshsim --check "$scenario" "${loss[@]}" >/dev/null

root=$(mktemp -d /tmp/ozr-demo.XXXXXX)
pids=()
cleanup() {
    trap - EXIT INT TERM
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    ./scripts/private-bus.sh stop "$root/bus" || true
    rm -rf "$root"
}
trap cleanup EXIT
trap 'exit 0' INT TERM
export OZR_ROOT=$root

# A free REST port (nothing answers on it) and a segment of our own.
rest_port=
for _ in $(seq 1 50); do
    p=$((20000 + RANDOM % 20000))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then rest_port=$p; break; fi
done
[ -n "$rest_port" ] || { echo "demo: no free TCP port found" >&2; exit 1; }
segment="239.255.$((RANDOM % 250 + 1)).$((RANDOM % 250 + 1)):$((20000 + RANDOM % 20000))"

mkdir -p "$root/configs/easymesh"
cat >"$root/configs/easymesh/map_stack.json" <<JSON
{
  "transport": "segment",
  "segment": "$segment",
  "interfaces": [{"name": "ozr0", "mac": "02:6f:7a:72:00:01"}],
  "al_mac": "02:6f:7a:72:00:00",
  "agent_al_mac": "02:6f:7a:72:01:00",
  "pcap": "$root/ozr_map.pcap",
  "credentials": [
    {"ssid": "ozr-home", "key": "correct horse battery staple"},
    {"ssid": "ozr-backhaul", "key": "backhaul-key-0123", "bands": ["5"], "fronthaul": false, "backhaul": true}
  ],
  "_comment": "the controller of the simulated gateway; its own agent is meshsim's \"gateway\"; every agent's M2s carry the credentials"
}
JSON
cat >"$root/configs/easymesh/platform.json" <<JSON
{
  "mesh-rest-listen-address": {"rest-ipv4": "127.0.0.1", "rest-port": $rest_port},
  "platform-log-path": "$root/platform.log",
  "platform-journal-path": "$root/journal.jsonl",
  "virtual-serial-number": "GW2026VSN001"
}
JSON

# The daemon's system bus: a private one.
bus_address=$(./scripts/private-bus.sh start "$root/bus")
export DBUS_SYSTEM_BUS_ADDRESS=$bus_address

echo "demo: OZR_ROOT=$root, segment $segment, scenario $scenario"
[ -z "${DEMO_LOSS:-}" ] ||
    echo "demo: meshsim loses a share of ${DEMO_LOSS} of every frame to and from the agents (seed ${DEMO_SEED:-1}; see its log)"
echo "demo: daemon log $root/ozr.log, simulator log $root/meshsim.log, capture $root/ozr_map.pcap"
./build/release/src/main/ozr --log-path="$root/ozr.log" "$@" &
pids+=($!)
./build/release/tools/meshsim/meshsim --scenario "$scenario" --segment "$segment" --verbose \
    "${loss[@]}" >"$root/meshsim.log" 2>&1 &
pids+=($!)
# The platform admits the scenario's extenders (every agent but the gateway's own) to the
# white list over the bus; the tree then shows each one's serial number and state.
for _ in $(seq 1 50); do
    busctl --address="$bus_address" status vexal.ozrd >/dev/null 2>&1 && break
    sleep 0.1
done
sleep 0.3  # the daemon adds its signal matches right after taking its name
extenders=$(python3 -c 'import json, sys
s = json.load(open(sys.argv[1]))
print(" ".join(a["serial"] for a in s.get("agents", [])
               if a.get("serial") and a.get("al_mac", "").lower() != "02:6f:7a:72:01:00"))' "$scenario")
for sn in $extenders; do
    busctl --address="$bus_address" emit /vexal/platform vexal.kpl notifyAddExtender s "$sn" || true
done
echo "demo: admitted over the bus: $extenders (see /debug/configdb)"
echo "demo: D-Bus: busctl --address=$bus_address call vexal.ozrd /vexal/ozrd vexal.ozr.application getmeshtopologyinfo ay 4 0 0 0 0"
echo "demo: extenders: busctl --address=$bus_address call vexal.ozrd /vexal/ozrd vexal.ozr.application getextenderinfo ay \$(scripts/bus-record.py 33)"
echo "demo: REST API at http://127.0.0.1:$rest_port (try /1/topology, /debug/graph, /debug/map-cfg, /debug/configdb, /debug/hktmgmt, /debug/steering); Ctrl-C ends the demo"
echo "demo: web page http://127.0.0.1:$rest_port/ui/ (the live mesh in a browser, docs/ui.md)"
echo "demo: configsync to an extender: busctl --address=$bus_address call vexal.ozrd /vexal/ozrd vexal.ozr.application configsync ay \$(scripts/bus-record.py 78 33:text:EX2026000002 68:u32:6 72:hex:776966693d31)"
echo "demo: rename the home SSID on every agent: busctl --address=$bus_address emit /vexal/platform vexal.kpl notifyVapConfig ay \$(scripts/bus-record.py 2092 0:u32:2 12:text:wl0 28:text:ozr-home-2 61:text:second-home-passphrase 126:u16:0x20 128:u16:0x08 131:u8:1 140:u8:1 142:text:wl1 158:text:ozr-backhaul 191:text:backhaul-key-0123 256:u16:0x20 258:u16:0x08 260:u8:2 261:u8:2 270:u8:1)"
echo "demo: platform journal $root/journal.jsonl (signals the daemon raised, extenders online, configuration results)"
sleep 1
# The viewer runs until Ctrl-C, or until the demo itself is told to stop (kill, timeout):
# waiting on it in the background lets the script's own trap end everything.
./build/release/tools/meshview/meshview --url "http://127.0.0.1:$rest_port" --interval 2 &
pids+=($!)
wait "$!" || true
