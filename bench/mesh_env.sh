# Sourced by the bench scripts that run the daemon against meshsim: the daemon's
# configuration under a temporary OZR_ROOT on a private segment.
#
#   mesh_env_setup ROOT [plain]   writes ROOT/configs/easymesh/{map_stack,platform}.json
#                                 and sets $segment (the private multicast segment) and
#                                 $port (REST)
#
# The agents are configured with the demo's credentials, so their BSSs come up and client
# steering acts as it does in the demo; "plain" leaves the credentials out.
mesh_env_setup() {
    local root=$1 credentials=""
    port=$((20000 + RANDOM % 20000))
    segment="239.255.$((RANDOM % 250 + 1)).$((RANDOM % 250 + 1)):$((20000 + RANDOM % 20000))"
    mkdir -p "$root/configs/easymesh"
    [ "${2:-}" = plain ] || credentials=',
 "credentials": [{"ssid": "ozr-home", "key": "correct horse battery staple"},
                 {"ssid": "ozr-backhaul", "key": "backhaul-key-0123", "bands": ["5"],
                  "fronthaul": false, "backhaul": true}]'
    cat >"$root/configs/easymesh/map_stack.json" <<JSON
{"transport": "segment", "segment": "$segment",
 "interfaces": [{"name": "ozr0", "mac": "02:6f:7a:72:00:01"}],
 "al_mac": "02:6f:7a:72:00:00", "agent_al_mac": "02:6f:7a:72:01:00"$credentials}
JSON
    echo "{\"mesh-rest-listen-address\": {\"rest-ipv4\": \"127.0.0.1\", \"rest-port\": $port}}" \
        >"$root/configs/easymesh/platform.json"
}

# A temporary OZR_ROOT (mktemp template TEMPLATE) configured as mesh_env_setup does, in
# $root; processes whose pid is added to $pids are stopped and the root removed on exit.
#   mesh_env_root /tmp/ozr-x.XXXXXX [plain]
mesh_env_root() {
    root=$(mktemp -d "$1")
    pids=()
    trap 'for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
          for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
          rm -rf "$root"' EXIT
    export OZR_ROOT=$root
    mesh_env_setup "$root" "${2:-}"
}

# Starts the daemon OZR (log at notice in $root/ozr.log; its pid in $daemon) and MESHSIM
# playing SCENARIO on the segment; both pids go into $pids.
mesh_env_start() {
    "$1" --log-path="$root/ozr.log" --log-level=notice &
    daemon=$!
    pids+=("$daemon")
    "$2" --scenario "$3" --segment "$segment" >"$root/meshsim.log" 2>&1 &
    pids+=($!)
}
