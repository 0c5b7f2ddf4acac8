#!/usr/bin/env bash
# Where the gateway binary's bytes go: builds `ozr` in the gateway configuration
# (-DOZR_GATEWAY=ON, docs/gateway.md) for each CPU asked, and prints its stripped size, its
# sections, the bytes of code and data per folder of the source (headers of libraries
# counted as theirs: libstdc++, fmt, rapidjson, ...) and the 20 largest symbols. A change
# that adds 50 kB shows up in its folder.
#
#   bench/size.sh [x86_64] [mipsel] [s390x]     (default: x86_64 mipsel)
#
# The binary is built with -g in build/size-<cpu> (debug information only says which source
# each symbol comes from; it changes no code and is stripped), so its stripped size is the
# one scripts/cross-test.sh reports for the same sources. A cross CPU needs its compiler
# and sysroot (scripts/cross-setup.sh <cpu>).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
cpus=("$@")
[ ${#cpus[@]} -gt 0 ] || cpus=(x86_64 mipsel)

report() {
  local cpu=$1 prefix=$2 build=$3
  local bin=$build/src/main/ozr stripped=$build/ozr.stripped
  "${prefix}strip" -o "$stripped" "$bin"
  local total
  total=$(stat -c %s "$stripped")
  echo "== $cpu: stripped ozr $total bytes ($(awk -v b="$total" 'BEGIN {printf "%.2f", b / 1048576}') MiB), $stripped"
  echo "-- sections (bytes)"
  "${prefix}size" -A "$stripped" | awk '$1 ~ /^\./ && $2 > 0 {printf "  %-22s %9d\n", $1, $2}'
  # Symbols with their source (nm -l reads it from the debug information): code and
  # read-only or initialised data, which take room in the file (not .bss).
  local syms
  syms=$(mktemp)
  "${prefix}nm" -S --size-sort -l -C "$bin" | awk '$3 ~ /^[tTrRdDvVwW]$/' >"$syms"
  python3 - "$syms" "$root/" <<'PY'
import collections, sys
syms, root = sys.argv[1], sys.argv[2]
by_folder = collections.Counter()
rows = []
for line in open(syms, encoding="utf-8", errors="replace"):
    head, _, where = line.rstrip("\n").partition("\t")
    f = head.split(" ", 3)
    if len(f) < 4:
        continue
    size, name = int(f[1], 16), f[3]
    path = where.rsplit(":", 1)[0] if where else ""
    if not path:
        folder = "(no source: made by the compiler or the linker)"
    elif "/c++/" in path:
        folder = "libstdc++ (header templates)"
    elif "/include/fmt/" in path:
        folder = "fmt (headers)"
    elif "/include/rapidjson/" in path:
        folder = "rapidjson (headers)"
    elif path.startswith(root) and "-sysroot/" not in path:
        folder = "/".join(path[len(root):].split("/")[:-1])
    else:
        folder = "other headers"
    by_folder[folder] += size
    rows.append((size, name))
total = sum(by_folder.values())
print("-- code and data by folder of the source (bytes; the rest of the file is ELF tables,")
print("   relocations, merged string literals and padding)")
for folder, size in by_folder.most_common():
    print(f"  {size:9d}  {100 * size / total:5.1f} %  {folder}")
print(f"  {total:9d}          in symbols")
print("-- the 20 largest symbols (bytes)")
for size, name in sorted(rows, reverse=True)[:20]:
    print(f"  {size:7d}  {name[:110]}")
PY
  rm -f "$syms"
}

for cpu in "${cpus[@]}"; do
  build=build/size-$cpu
  args=(-DOZR_GATEWAY=ON -DCMAKE_BUILD_TYPE=MinSizeRel "-DCMAKE_CXX_FLAGS_MINSIZEREL=-Os -DNDEBUG -g"
        "-DCMAKE_C_FLAGS_MINSIZEREL=-Os -DNDEBUG -g" -DOZR_TESTS=OFF -DOZR_BENCH=OFF)
  case "$cpu" in
    x86_64) prefix="" ;;
    mipsel) prefix=mipsel-linux-gnu- ;;
    s390x) prefix=s390x-linux-gnu- ;;
    *) echo "usage: $0 [x86_64] [mipsel] [s390x]" >&2; exit 2 ;;
  esac
  if [ "$cpu" != x86_64 ]; then
    [ -f "build/$cpu-sysroot/.debs" ] || ./scripts/cross-setup.sh "$cpu"
    args+=(-DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-$cpu.cmake")
  fi
  cmake --no-warn-unused-cli -S . -B "$build" "${args[@]}" >/dev/null
  cmake --build "$build" -j"$(nproc)" --target ozr >/dev/null
  report "$cpu" "$prefix" "$build"
done
