#!/usr/bin/env bash
# Installs what is missing, builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer, runs the fuzzers for a bounded time, then every test,
# then the threaded D-Bus tests again under ThreadSanitizer, then every test of a clang
# build, a short soak and the cross runs. The D-Bus tests start their own private
# dbus-daemon; nothing touches the machine's system bus.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh

jobs=$(nproc)
build=build/test
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DOZR_SANITIZE=ON -DOZR_BENCH=ON >/dev/null
cmake --build "$build" -j"$jobs"

# Fuzzers: clang's libFuzzer over every decoder, each for a bounded time.
if [ -d fuzz ] && [ -f fuzz/CMakeLists.txt ]; then
  ./scripts/fuzz.sh
fi

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd "$build" && ctest --output-on-failure -j"$jobs" --timeout 300)

# ThreadSanitizer: the bridge between the D-Bus service thread and the loop, and the
# daemon serving on a private bus.
tsan=build/tsan
cmake -S . -B "$tsan" -DCMAKE_BUILD_TYPE=Debug -DOZR_TSAN=ON -DOZR_BENCH=OFF >/dev/null
cmake --build "$tsan" -j"$jobs" --target test_dbus_bridge test_dbus_daemon
(cd "$tsan" && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --output-on-failure -j"$jobs" --timeout 300 -R '^test_dbus_(bridge|daemon)\.')

# The same sources and tests built by clang (RelWithDebInfo): its warnings differ from GCC's,
# and so does its spelling of function signatures in log lines. OZR_CLANG=off skips it.
if [ "${OZR_CLANG:-on}" != off ]; then
  clang_build=build/clang
  CC=clang CXX=clang++ cmake -S . -B "$clang_build" -DOZR_BENCH=OFF >/dev/null
  cmake --build "$clang_build" -j"$jobs"
  (cd "$clang_build" && ctest --output-on-failure -j"$jobs" --timeout 300)
fi

# A short soak of the sanitized daemon against the churning large mesh (its exit status
# carries LeakSanitizer's verdict), then the optimised cross builds with their tests under
# qemu-user: the gateway's 32-bit MIPS and big-endian s390x. OZR_CROSS=quick keeps only
# their codec, decoder and record tests, OZR_CROSS=off skips them.
bench/soak.sh --seconds "${OZR_SOAK_SECONDS:-90}" --build "$build" --sanitized
case "${OZR_CROSS:-full}" in
  off) ;;
  quick) scripts/cross-test.sh mipsel --quick && scripts/cross-test.sh s390x --quick ;;
  *) scripts/cross-test.sh mipsel && scripts/cross-test.sh s390x ;;
esac
