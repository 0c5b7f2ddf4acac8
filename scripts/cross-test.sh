#!/usr/bin/env bash
# Cross-builds the daemon in the gateway configuration (-DOZR_GATEWAY=ON: -Os, link-time
# optimisation, no exceptions or unwind tables; docs/gateway.md) for another CPU, with its
# tests, and runs them under qemu-user: mipsel is the gateway's 32-bit little-endian MIPS,
# s390x a 64-bit big-endian machine on which byte-order faults show up.
#
#   scripts/cross-test.sh mipsel|s390x [--all]
#
# Installs what is missing (scripts/setup.sh, scripts/cross-setup.sh: Debian's cross
# compiler and qemu-user; the target's libraries unpacked from their packages into the
# sysroot build/<arch>-sysroot, never installed) and builds in build/<arch> the daemon, the
# tools and the tests whose results may differ by CPU (ctest label "cpu": byte order,
# alignment, word size; the codec, the decoders, the records, JSON and REST parsing, WSC,
# the vendor messages, the data model, the databases; the other tests check logic that the
# build machine's run covers), with the warnings as errors like every build. --all builds
# and runs every test. It leaves the stripped gateway binary in build/<arch>/ozr.stripped
# and prints its size, runs that very binary under qemu until its REST API answers (the
# tests link the ordinary code of the same objects, the daemon is optimised as a whole), then
# runs ctest. Tests that need the build machine's kernel or programs are skipped by name,
# each with its reason printed, and the run's wall time is printed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
arch=${1:-}
all=0
[ "${2:-}" = "--all" ] && all=1
case "$arch" in
  mipsel) triplet=mipsel-linux-gnu ;;
  s390x) triplet=s390x-linux-gnu ;;
  *) echo "usage: $0 mipsel|s390x [--all]" >&2; exit 2 ;;
esac
./scripts/setup.sh
./scripts/cross-setup.sh "$arch"

jobs=$(nproc)
build=build/$arch
sysroot=$PWD/build/$arch-sysroot
# A build folder configured before the target's libraries came from the sysroot caches the
# multiarch places, one configured before the gateway configuration its build type: configure
# it anew.
if [ -f "$build/CMakeCache.txt" ] && ! grep -E "^OZR_GATEWAY:BOOL=ON" "$build/CMakeCache.txt" >/dev/null; then
  rm -f "$build/CMakeCache.txt"
fi
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-$arch.cmake" -DOZR_GATEWAY=ON \
  -DCMAKE_BUILD_TYPE=MinSizeRel -DOZR_BENCH=OFF >/dev/null
if [ "$all" -eq 1 ]; then
  cmake --build "$build" -j"$jobs"
else
  cmake --build "$build" -j"$jobs" --target ozr meshview meshsim ozr_cpu_tests
fi
"$triplet-strip" -o "$build/ozr.stripped" "$build/src/main/ozr"
echo "cross-test: $arch ozr, stripped: $(stat -c %s "$build/ozr.stripped") bytes ($build/ozr.stripped)"

# The stripped daemon under qemu, on a segment and a REST port of its own, every file under a
# temporary root, the system bus pointed at a socket that does not exist.
smoke=$(mktemp -d)
# A port nobody holds, not even a connection waiting to close (which qemu's bind trips over).
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir -p "$smoke/configs/easymesh"
printf '{"segment": "239.%d.%d.%d:26100", "interfaces": [{"name": "ozr0", "mac": "02:6f:7a:72:0a:01"}]}\n' \
  $(($$ >> 16 & 255)) $(($$ >> 8 & 255)) $(($$ & 255)) >"$smoke/configs/easymesh/map_stack.json"
printf '{"mesh-rest-listen-address": {"rest-ipv4": "127.0.0.1", "rest-port": %d}}\n' "$port" \
  >"$smoke/configs/easymesh/platform.json"
OZR_ROOT=$smoke DBUS_SYSTEM_BUS_ADDRESS=unix:path=$smoke/no-bus \
  "qemu-$arch" -L "$sysroot" -E "LD_LIBRARY_PATH=$sysroot/usr/lib/$triplet" \
  "$build/ozr.stripped" --log-path="$smoke/ozr.log" &
daemon=$!
answer=""
for _ in $(seq 120); do  # waits up to 60 s for the first answer
  answer=$(curl -s --max-time 2 "http://127.0.0.1:$port/1/version" || true)
  [ -z "$answer" ] || break
  kill -0 "$daemon" 2>/dev/null || break
  sleep 0.5
done
kill "$daemon" 2>/dev/null || true
wait "$daemon" 2>/dev/null || true
if [ -z "$answer" ]; then
  echo "cross-test: $arch ozr did not answer on its REST port; its log:" >&2
  cat "$smoke/ozr.log" >&2 || true
  rm -rf "$smoke"
  exit 1
fi
echo "cross-test: $arch ozr under qemu answers /1/version: $answer"
rm -rf "$smoke"

# Skipped by name, with the reason.
skips=(
  'RawTransport\.|E2E\.RawSocketsBetweenNamespaces'
  "raw sockets and network namespaces belong to the build machine's kernel, not the target"
  'conformance\.|CaptureTest\.BoundedTransportCaptureStaysReadable|SenderTest\.CapturedFramesPassWiresharksDissector|MeshsimTest\.EveryAnswerDissectsCleanlyInTshark'
  "needs tshark, a program of the build machine (the frames are the same on every CPU)"
  'OzrProcess\.|OzrOnASegment\.|E2E\.|BusProcess\.|ConfigDbCrash\.'
  "starts the target's ozr or meshsim as a child process, which this kernel cannot run without a binfmt_misc entry for qemu (the daemon itself ran above)"
)
cd "$build"
select=()
[ "$all" -eq 1 ] || select=(-L '^cpu$')
exclude=""
for ((i = 0; i < ${#skips[@]}; i += 2)); do
  re=${skips[i]}
  why=${skips[i + 1]}
  exclude+="${exclude:+|}$re"
  names=$(ctest -N "${select[@]}" -R "$re" | awk '/Test +#/ {print $3}' | paste -sd' ' -)
  [ -z "$names" ] || echo "cross-test: $arch skips $(wc -w <<<"$names") tests ($why): $names"
done
status=0
ctest --output-on-failure -j"$jobs" --timeout 900 -E "$exclude" "${select[@]}" || status=$?
echo "cross-test: $arch took $((SECONDS / 60)) min $((SECONDS % 60)) s of wall time"
exit "$status"
