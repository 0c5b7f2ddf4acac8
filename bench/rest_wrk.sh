#!/usr/bin/env bash
# Load-tests the REST API of a running daemon with wrk and prints, per route,
# the requests per second and the 99th percentile latency.
#
#   bench/rest_wrk.sh [base-url] [route...]
#
# base-url defaults to http://127.0.0.1:8090 (the daemon's default listen
# address); the routes default to /1/version. Environment: OZR_WRK_SECONDS
# (default 10), OZR_WRK_CONNECTIONS (default 8, keep it below the server's
# connection cap of 16), OZR_WRK_THREADS (default 2).
set -euo pipefail
base=${1:-http://127.0.0.1:8090}
shift || true
routes=("$@")
[ ${#routes[@]} -gt 0 ] || routes=(/1/version)
seconds=${OZR_WRK_SECONDS:-10}
conns=${OZR_WRK_CONNECTIONS:-8}
threads=${OZR_WRK_THREADS:-2}

if ! command -v wrk >/dev/null; then
  echo "rest_wrk: wrk is missing (Debian package wrk, see scripts/setup.sh)" >&2
  exit 2
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
