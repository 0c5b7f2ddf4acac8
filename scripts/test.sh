#!/usr/bin/env bash
# What CI runs (.ci/run), phase by phase, each with its wall time printed
# (docs/development.md, "What CI runs"):
#  1. build/test: everything built once by clang with AddressSanitizer, UndefinedBehaviorSanitizer
#     and libFuzzer's coverage instrumentation: the daemon, the tools, every test, the
#     benchmarks and the fuzz targets;
#  2. the fuzz targets of that tree, OZR_FUZZ_SECONDS in all (scripts/fuzz.sh);
#  3. every test of that tree;
#  4. build/tsan: the D-Bus bridge and daemon tests again under ThreadSanitizer;
#  5. a short soak of the sanitized daemon against a churning mesh;
#  6. the cross runs in the gateway configuration: the 32-bit MIPS gateway and big-endian
#     s390x, the tests whose results may differ by CPU under qemu (OZR_CROSS=full: every
#     test, OZR_CROSS=off: none).
# The D-Bus tests start their own private dbus-daemon; nothing touches the machine's bus.
set -euo pipefail
cd "$(dirname "$0")/.."

# timed NAME COMMAND...: runs COMMAND and prints how long it took; its status is COMMAND's
# (a function given as COMMAND chains its steps with &&: errexit does not reach inside it).
timed() {
  local name=$1 start=$SECONDS status=0
  shift
  "$@" || status=$?
  echo "ci: $name took $(((SECONDS - start) / 60)) min $(((SECONDS - start) % 60)) s (status $status)"
  return "$status"
}

timed setup ./scripts/setup.sh
jobs=$(nproc)
# Most tests wait on sockets, child processes and timers rather than compute: ctest runs three
# at a time per core.
test_jobs=${OZR_TEST_JOBS:-$((jobs * 3))}
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

clang_tree() {  # clang_tree DIR CMAKE-ARGS...: configures DIR for clang, linked by lld
  local dir=$1
  shift
  CC=clang CXX=clang++ cmake -S . -B "$dir" -DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld "$@" >/dev/null
}

build=build/test
sanitized() {
  clang_tree "$build" -DCMAKE_BUILD_TYPE=Debug -DOZR_SANITIZE=ON -DOZR_FUZZ=ON -DOZR_BENCH=ON &&
    cmake --build "$build" -j"$jobs"
}
timed "sanitized build" sanitized

# Fuzzers: clang's libFuzzer over every decoder, each for a bounded time.
if [ -d fuzz ] && [ -f fuzz/CMakeLists.txt ]; then
  timed fuzzing env OZR_FUZZ_BUILD="$build" ./scripts/fuzz.sh
fi

(cd "$build" && timed "sanitized tests" ctest --output-on-failure -j"$test_jobs" --timeout 300)

# ThreadSanitizer: the bridge between the D-Bus service thread and the loop, and the
# daemon serving on a private bus.
tsan() {
  clang_tree build/tsan -DCMAKE_BUILD_TYPE=Debug -DOZR_TSAN=ON -DOZR_BENCH=OFF &&
    cmake --build build/tsan -j"$jobs" --target test_dbus_bridge test_dbus_daemon &&
    (cd build/tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
      ctest --output-on-failure -j"$test_jobs" --timeout 300 -R '^test_dbus_(bridge|daemon)\.')
}
timed ThreadSanitizer tsan

# A short soak of the sanitized daemon against the churning large mesh (its exit status
# carries LeakSanitizer's verdict).
timed soak bench/soak.sh --seconds "${OZR_SOAK_SECONDS:-90}" --build "$build" --sanitized

# The gateway configuration cross-built, its tests under qemu-user.
case "${OZR_CROSS:-cpu}" in
  off) ;;
  full)
    timed "mipsel (every test)" scripts/cross-test.sh mipsel --all
    timed "s390x (every test)" scripts/cross-test.sh s390x --all ;;
  *)
    timed mipsel scripts/cross-test.sh mipsel
    timed s390x scripts/cross-test.sh s390x ;;
esac
echo "ci: everything took $((SECONDS / 60)) min $((SECONDS % 60)) s"
