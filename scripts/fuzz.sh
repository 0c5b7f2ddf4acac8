#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for OZR_FUZZ_SECONDS
# (default 60 in all, shared between the targets), starting from and adding to
# the corpus kept in fuzz/corpus/<target>.
# The targets are built in build/fuzz (RelWithDebInfo), or in the build folder named by
# OZR_FUZZ_BUILD, which must be configured by clang with -DOZR_FUZZ=ON (scripts/test.sh
# passes its sanitized tree, so that CI compiles the daemon once).
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v clang++ >/dev/null; then
  echo "fuzz: clang++ is missing, fuzzers skipped"
  exit 0
fi
build=${OZR_FUZZ_BUILD:-build/fuzz}
if [ -z "${OZR_FUZZ_BUILD:-}" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOZR_FUZZ=ON \
    -DOZR_TESTS=OFF -DOZR_BENCH=OFF >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target fuzz_all
targets=$(find "$build/fuzz" -maxdepth 1 -type f -name 'fuzz_*' -perm -u+x | sort)
count=$(echo "$targets" | grep -c . || true)
[ "$count" -gt 0 ] || { echo "fuzz: no targets"; exit 0; }
total=${OZR_FUZZ_SECONDS:-60}
each=$(( total / count )); [ "$each" -ge 5 ] || each=5
for t in $targets; do
  name=$(basename "$t")
  corpus=fuzz/corpus/$name
  mkdir -p "$corpus"
  work=$(mktemp -d)
  echo "fuzz: $name for ${each}s"
  "$t" -max_total_time="$each" -print_final_stats=1 -rss_limit_mb=1024 -timeout=10 \
       "$work" "$corpus" 2>&1 | tail -n 12
  rm -rf "$work"
done
