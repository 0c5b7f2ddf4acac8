#!/usr/bin/env bash
# A private message bus for the demo, the tests and people trying the daemon:
#
#   scripts/private-bus.sh start DIR   starts dbus-daemon with a configuration that allows
#                                      everything, its socket in DIR; prints the address
#                                      (also in DIR/bus.address, its pid in DIR/bus.pid)
#   scripts/private-bus.sh stop DIR    stops it by its pid
#
# Point the daemon (and busctl) at it with
#   export DBUS_SYSTEM_BUS_ADDRESS=$(cat DIR/bus.address)    # or busctl --address=...
set -euo pipefail
cmd=${1:-}
dir=${2:-}
if [ -z "$cmd" ] || [ -z "$dir" ]; then
  echo "usage: $0 start|stop DIR" >&2
  exit 2
fi
case "$cmd" in
  start)
    command -v dbus-daemon >/dev/null || { echo "dbus-daemon missing: run scripts/setup.sh" >&2; exit 1; }
    mkdir -p "$dir"
    dir=$(cd "$dir" && pwd)
    cat > "$dir/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>custom</type>
  <listen>unix:path=$dir/bus.sock</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow receive_sender="*"/>
    <allow eavesdrop="true"/>
  </policy>
</busconfig>
CONF
    rm -f "$dir/bus.sock" "$dir/bus.address" "$dir/bus.pid"
    dbus-daemon --config-file="$dir/bus.conf" --fork --nopidfile \
      --print-address=3 --print-pid=4 3>"$dir/bus.address" 4>"$dir/bus.pid" 2>"$dir/bus.log"
    for _ in $(seq 50); do
      [ -s "$dir/bus.address" ] && [ -s "$dir/bus.pid" ] && break
      sleep 0.1
    done
    [ -s "$dir/bus.address" ] || { echo "dbus-daemon did not start, see $dir/bus.log" >&2; exit 1; }
    sed -i -n '1p' "$dir/bus.address"
    cat "$dir/bus.address"
    ;;
  stop)
    if [ -s "$dir/bus.pid" ]; then
      pid=$(head -1 "$dir/bus.pid")
      kill "$pid" 2>/dev/null || true
      rm -f "$dir/bus.pid"
    fi
    ;;
  *)
    echo "usage: $0 start|stop DIR" >&2
    exit 2
    ;;
esac
