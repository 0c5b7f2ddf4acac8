#!/usr/bin/env bash
# Measures how fast each built fuzz target runs: SECONDS (default 30) of fuzzing from its
# corpus (new inputs go to a temporary folder; the corpus is left as it is), then the
# inputs run, the inputs a second of wall time (libFuzzer's figure), the inputs per CPU
# second of the process (what it would do with a core to itself), the coverage reached and
# the load average at the end. On a machine shared with other builds the wall figure is a
# lower bound. Usage: fuzz/rates.sh [SECONDS] [TARGET...]   (from the repository root,
# after scripts/fuzz.sh or cmake --build build/fuzz --target fuzz_all)
set -euo pipefail
cd "$(dirname "$0")/.."
secs=${1:-30}
shift || true
dir=${OZR_FUZZ_BUILD:-build/fuzz}/fuzz
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  mapfile -t targets < <(find "$dir" -maxdepth 1 -type f -name 'fuzz_*' -perm -u+x -printf '%f\n' | sort)
fi
printf '%-22s %9s %8s %9s %-24s %s\n' target inputs "in/s" "in/cpu-s" coverage load
for name in "${targets[@]}"; do
  work=$(mktemp -d)
  out=$(mktemp)
  TIMEFORMAT='CPU %U %S'
  { time "$dir/$name" -max_total_time="$secs" -print_final_stats=1 -rss_limit_mb=2048 \
      -timeout=10 "$work" "fuzz/corpus/$name" >"$out" 2>&1 || true; } 2>>"$out"
  runs=$(awk '/stat::number_of_executed_units/ {print $2}' "$out")
  rate=$(awk '/stat::average_exec_per_sec/ {print $2}' "$out")
  cpu=$(awk '/^CPU / {print $2 + $3}' "$out")
  cov=$(grep -E '^#[0-9]+' "$out" | tail -n 1 | grep -o 'cov: [0-9]* ft: [0-9]*' || true)
  printf '%-22s %9s %8s %9s %-24s %s\n' "$name" "${runs:-?}" "${rate:-?}" \
    "$(awk -v r="${runs:-0}" -v c="${cpu:-0}" 'BEGIN { if (c > 0) printf "%d", r / c; else print "?" }')" \
    "$cov" "$(cut -d' ' -f1 /proc/loadavg)"
  rm -rf "$work" "$out"
done
