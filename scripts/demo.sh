#!/usr/bin/env bash
# The main job: installs what is missing, builds the daemon, and runs it in the
# foreground under a throw-away OZR_ROOT, logging to the terminal. Ctrl-C stops it
# and removes the temporary root.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOZR_TESTS=OFF -DOZR_BENCH=OFF >/dev/null
cmake --build build/release -j"$(nproc)" --target ozr
root=$(mktemp -d /tmp/ozr-demo.XXXXXX)
trap 'rm -rf "$root"' EXIT
export OZR_ROOT=$root
echo "demo: OZR_ROOT=$root"
./build/release/src/main/ozr --log-path=stdout "$@" || true
