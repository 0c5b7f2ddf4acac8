#!/usr/bin/env bash
# Load-tests the REST API with wrk and prints, per route, the requests per
# second and the 99th percentile latency.
#
#   bench/rest_wrk.sh [base-url] [route...]
#       against a running daemon. base-url defaults to http://127.0.0.1:8090
#       (the daemon's default listen address); the routes default to /1/version.
#
#   bench/rest_wrk.sh --graph32 [build-dir]
#       starts <build-dir>/bench/rest_graph_server (default build/rel; build it
#       with `cmake --build build/rel --target rest_graph_server`), which serves
#       the daemon's routes over a 32-device mesh on 127.0.0.1:$OZR_WRK_PORT
#       (default 18090), loads "/debug/graph", "/1/topology" and "/debug/aps",
#       then stops it with GET /quit.
#
# Environment: OZR_WRK_SECONDS (default 10), OZR_WRK_CONNECTIONS (default 8,
# keep it below the server's connection cap of 16), OZR_WRK_THREADS (default 2).
set -euo pipefail
seconds=${OZR_WRK_SECONDS:-10}
conns=${OZR_WRK_CONNECTIONS:-8}
threads=${OZR_WRK_THREADS:-2}

if ! command -v wrk >/dev/null; then
  echo "rest_wrk: wrk is missing (Debian package wrk, see scripts/setup.sh)" >&2
  exit 2
fi

server_pid=
if [ "${1:-}" = "--graph32" ]; then
  build=${2:-build/rel}
  port=${OZR_WRK_PORT:-18090}
  server="$build/bench/rest_graph_server"
  if [ ! -x "$server" ]; then
    echo "rest_wrk: $server is not built" >&2
    exit 2
  fi
  "$server" "$port" >/dev/null &
  server_pid=$!
  trap 'kill "$server_pid" 2>/dev/null || true' EXIT
  base=http://127.0.0.1:$port
  for _ in $(seq 100); do
    curl -fsS -o /dev/null --max-time 1 "$base/1/version" 2>/dev/null && break
    sleep 0.1
  done
  routes=(/debug/graph /1/topology /debug/aps)
  echo "32-device mesh: /debug/graph $(curl -fsS "$base/debug/graph" | wc -c) bytes," \
       "/1/topology $(curl -fsS "$base/1/topology" | wc -c) bytes," \
       "/debug/aps $(curl -fsS "$base/debug/aps" | wc -c) bytes"
else
  base=${1:-http://127.0.0.1:8090}
  shift || true
  routes=("$@")
  [ ${#routes[@]} -gt 0 ] || routes=(/1/version)
fi

if ! curl -fsS -o /dev/null --max-time 2 "$base${routes[0]}"; then
  echo "rest_wrk: no REST server answering at $base${routes[0]}; start the daemon first" >&2
  exit 2
fi

printf '%-28s %12s %12s %12s\n' route requests/s p99 errors
for r in "${routes[@]}"; do
  out=$(wrk -t"$threads" -c"$conns" -d"${seconds}s" --latency "$base$r")
  rps=$(awk '/^Requests\/sec:/ {print $2}' <<<"$out")
  p99=$(awk '$1 == "99%" {print $2}' <<<"$out")
  errors=$(awk '/Non-2xx or 3xx responses:/ {n += $NF} /Socket errors:/ {
             for (i = 1; i <= NF; i++) if ($i ~ /^[0-9]+,?$/) n += $i } END {print n + 0}' <<<"$out")
  printf '%-28s %12s %12s %12s\n' "$r" "${rps:-?}" "${p99:-?}" "$errors"
done

if [ -n "$server_pid" ]; then
  curl -fsS -o /dev/null --max-time 2 "$base/quit" || true
  wait "$server_pid" || true
  trap - EXIT
fi
