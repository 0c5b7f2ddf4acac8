#!/usr/bin/env bash
# From exec to the daemon's first REST answer: starts the daemon RUNS times (default 10)
# under a fresh OZR_ROOT on a private segment (no agents: start-up alone) and measures,
# from just before exec, the time until GET /1/version is answered; the client retries
# its connection every millisecond. Prints each run (with the CPU time the daemon had
# used by then, which the machine's load does not stretch) and the median. Target: under
# 100 ms on x86.
#
#   bench/first_rest.sh                        # build/default, 10 runs
#   FIRST_REST_BUILD=build/release FIRST_REST_RUNS=20 bench/first_rest.sh
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/mesh_env.sh
build=${FIRST_REST_BUILD:-build/default}
runs=${FIRST_REST_RUNS:-10}
[ -d "$build" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target ozr >/dev/null
root=$(mktemp -d /tmp/ozr-first-rest.XXXXXX)
trap 'rm -rf "$root"' EXIT
times=()
for i in $(seq "$runs"); do
    rm -rf "${root:?}"/*
    export OZR_ROOT=$root
    mesh_env_setup "$root"
    ms=$(python3 - "$build/src/main/ozr" "$root" "$port" <<'PY'
import socket, subprocess, sys, time
ozr, root, port = sys.argv[1], sys.argv[2], int(sys.argv[3])
start = time.monotonic()
p = subprocess.Popen([ozr, "--log-path=" + root + "/ozr.log", "--log-level=notice"])
answer = b""
try:
    while time.monotonic() - start < 10:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1) as s:
                s.sendall(b"GET /1/version HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
                answer = s.recv(64)
                if answer.startswith(b"HTTP/1.1 "):
                    break
        except OSError:
            time.sleep(0.001)
    elapsed = (time.monotonic() - start) * 1000
    try:  # the CPU time the daemon had used by then (ns on a CPU, from the scheduler)
        with open(f"/proc/{p.pid}/schedstat") as f:
            cpu = int(f.read().split()[0]) / 1e6
    except OSError:
        cpu = float("nan")
finally:
    p.kill()
    p.wait()
print(f"{elapsed:.1f} {cpu:.1f}" if answer.startswith(b"HTTP/1.1 ") else "none")
PY
)
    [ "$ms" != none ] || { echo "first_rest: no answer within 10 s (see $root/ozr.log)" >&2; exit 1; }
    echo "first_rest: run $i: ${ms% *} ms (the daemon's CPU by then ${ms#* } ms)"
    times+=("${ms% *}")
done
printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR] = $1} END {
    printf "first_rest: median %.1f ms of %d runs (min %.1f, max %.1f)\n", a[int((NR + 1) / 2)], NR, a[1], a[NR] }'
