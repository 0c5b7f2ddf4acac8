#!/bin/sh
# Installs the build into temporary DESTDIRs, with the prefix /usr as a firmware image has
# it and with /opt/ozr, and compares each tree with the one docs/gateway.md lists; the
# service files name the daemon where it was installed.
#   install_test.sh CMAKE BUILD_DIR
set -eu
cmake=$1
build=$2
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT

# check NAME EXPECTED: the files under $dest/NAME, one per line, are EXPECTED.
check() {
  tree=$(cd "$dest/$1" && find . ! -type d | sort)
  if [ "$tree" != "$2" ]; then
    printf 'installed into %s:\n%s\nexpected:\n%s\n' "$1" "$tree" "$2"
    exit 1
  fi
}

DESTDIR=$dest/usr "$cmake" --install "$build" --prefix /usr >/dev/null
check usr "./usr/bin/meshview
./usr/lib/systemd/system/ozr.service
./usr/sbin/ozr"
test -x "$dest/usr/usr/sbin/ozr"
grep -x 'ExecStart=/usr/sbin/ozr --log-path=syslog' "$dest/usr/usr/lib/systemd/system/ozr.service" >/dev/null
grep -x 'Type=notify' "$dest/usr/usr/lib/systemd/system/ozr.service" >/dev/null

# An OpenWrt image: the daemon and the procd script, no systemd unit.
DESTDIR=$dest/openwrt "$cmake" --install "$build" --prefix /usr --component daemon >/dev/null
DESTDIR=$dest/openwrt "$cmake" --install "$build" --prefix /usr --component procd >/dev/null
check openwrt "./etc/init.d/ozr
./usr/bin/meshview
./usr/sbin/ozr"
test -x "$dest/openwrt/etc/init.d/ozr"
grep -x '	procd_set_param command /usr/sbin/ozr --log-path=syslog' "$dest/openwrt/etc/init.d/ozr" >/dev/null

# Another prefix moves everything, the unit's path to the daemon too.
DESTDIR=$dest/opt "$cmake" --install "$build" --prefix /opt/ozr >/dev/null
check opt "./opt/ozr/bin/meshview
./opt/ozr/lib/systemd/system/ozr.service
./opt/ozr/sbin/ozr"
grep -x 'ExecStart=/opt/ozr/sbin/ozr --log-path=syslog' "$dest/opt/opt/ozr/lib/systemd/system/ozr.service" >/dev/null
echo "install.tree: the three trees are as documented"
