#!/usr/bin/env bash
# Lists the folder-to-folder includes of src/ ("from -> to  count") and marks those that
# run up the floors given below (docs/development.md, "Layers"). Exits 1 when an include
# runs up that is not one of the explained ones.
#   bash scripts/layers.sh          the arrows, the upward ones marked
#   bash scripts/layers.sh -v       also the files behind every upward arrow
set -euo pipefail
cd "$(dirname "$0")/.."

# Floors, bottom first; folders on one line share a floor.
floors=(
  "core"
  "messages controller"
  "hkt"
  "graph"
  "steering"
  "data"
  "configuration"
  "dbus rest"
  "main"
)
# The upward arrows that are explained in docs/development.md (none today).
explained=" "

declare -A floor_of
for i in "${!floors[@]}"; do
  for f in ${floors[$i]}; do floor_of[$f]=$i; done
done

edges=$(grep -rEo '^#include "[a-z_]+/' src --include='*.h' --include='*.cc' |
  sed -E 's|^src/([a-z_]+)/[^:]*:#include "([a-z_]+)/$|\1 \2|' |
  while read -r from to; do
    if [[ -d src/$to && $from != "$to" ]]; then echo "$from $to"; fi
  done | sort | uniq -c)

bad=0
while read -r n from to; do
  ff=${floor_of[$from]:-?} ft=${floor_of[$to]:-?}
  mark=""
  if [[ $ff == "?" || $ft == "?" ]]; then
    mark="  (folder not on a floor)"; bad=1
  elif (( ft > ff )); then
    if [[ $explained == *" $from->$to "* ]]; then mark="  UP (explained)"; else mark="  UP"; bad=1; fi
    if [[ ${1:-} == -v ]]; then
      grep -lE "^#include \"$to/" -r "src/$from" | sed 's/^/      /'
    fi
  fi
  printf '%-14s -> %-14s %3d%s\n' "$from" "$to" "$n" "$mark"
done <<<"$edges"
exit $bad
