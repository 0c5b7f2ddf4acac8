#!/usr/bin/env bash
# Cross-builds the daemon and its tests for another CPU and runs the tests there under
# qemu-user: mipsel is the gateway's 32-bit little-endian MIPS, s390x a 64-bit
# big-endian machine on which byte-order faults in the codec, the packed records and
# the export show up.
#
#   scripts/cross-test.sh mipsel|s390x [--quick]
#
# Installs what is missing (scripts/setup.sh, scripts/cross-setup.sh: Debian's cross
# compiler and qemu-user; the target's libraries unpacked from their packages into the
# sysroot build/<arch>-sysroot, never installed), builds in build/<arch>
# (RelWithDebInfo, -O2, the warnings as errors like every build), leaves the stripped
# gateway binary in build/<arch>/ozr.stripped and prints its size, then runs ctest.
# Tests that need the build machine's kernel or programs are skipped by name, each with
# its reason printed, and the run's wall time at the end. --quick builds and runs only the codec, decoder and record tests.
set -euo pipefail
cd "$(dirname "$0")/.."
arch=${1:-}
quick=0
[ "${2:-}" = "--quick" ] && quick=1
case "$arch" in
  mipsel) triplet=mipsel-linux-gnu ;;
  s390x) triplet=s390x-linux-gnu ;;
  *) echo "usage: $0 mipsel|s390x [--quick]" >&2; exit 2 ;;
esac
./scripts/setup.sh
./scripts/cross-setup.sh "$arch"

jobs=$(nproc)
build=build/$arch
# A build folder configured before the target's libraries came from the sysroot caches the
# multiarch places: configure it anew.
if [ -f "$build/CMakeCache.txt" ] && ! grep "^OZR_CROSS_SYSROOT:" "$build/CMakeCache.txt" >/dev/null; then
  rm -f "$build/CMakeCache.txt"
fi
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-$arch.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOZR_BENCH=OFF >/dev/null
quick_targets=(test_map_codec test_messages test_platform_map_datamodel test_platform_common)
if [ "$quick" -eq 1 ]; then
  cmake --build "$build" -j"$jobs" --target ozr "${quick_targets[@]}"
else
  cmake --build "$build" -j"$jobs"
fi
"$triplet-strip" -o "$build/ozr.stripped" "$build/src/main/ozr"
echo "cross-test: $arch ozr, stripped: $(stat -c %s "$build/ozr.stripped") bytes ($build/ozr.stripped)"

# Skipped by name, with the reason.
skips=(
  'RawTransport\.|E2E\.RawSocketsBetweenNamespaces'
  "raw sockets and network namespaces belong to the build machine's kernel, not the target"
  'conformance\.|CaptureTest\.BoundedTransportCaptureStaysReadable|SenderTest\.CapturedFramesPassWiresharksDissector|MeshsimTest\.EveryAnswerDissectsCleanlyInTshark|E2E\.CaptureDissectsCleanly'
  "needs tshark, a program of the build machine (the frames are the same on every CPU)"
  'OzrProcess\.|OzrOnASegment\.|E2E\.|BusProcess\.|ConfigDbCrash\.'
  "starts the target's ozr or meshsim as a child process, which this kernel cannot run without a binfmt_misc entry for qemu"
)
cd "$build"
exclude=""
for ((i = 0; i < ${#skips[@]}; i += 2)); do
  re=${skips[i]}
  why=${skips[i + 1]}
  exclude+="${exclude:+|}$re"
  names=$(ctest -N -R "$re" | awk '/Test +#/ {print $3}' | paste -sd' ' -)
  [ -z "$names" ] || echo "cross-test: $arch skips $(wc -w <<<"$names") tests ($why): $names"
done
select=()
if [ "$quick" -eq 1 ]; then
  select=(-R "^($(IFS='|'; echo "${quick_targets[*]}"))\\.")
fi
status=0
ctest --output-on-failure -j"$jobs" --timeout 900 -E "$exclude" "${select[@]}" || status=$?
echo "cross-test: $arch took $((SECONDS / 60)) min $((SECONDS % 60)) s of wall time"
exit "$status"
