#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs, only those missing.
# Runs apt-get as root, or through sudo when started by another user.
set -euo pipefail
packages=(build-essential cmake pkg-config git
          libuv1-dev rapidjson-dev libfmt-dev libhttp-parser-dev libssl-dev
          googletest libgtest-dev libgmock-dev libbenchmark-dev
          clang libclang-rt-14-dev clang-format tshark wrk iproute2 curl python3 python3-cryptography
          libsystemd-dev dbus-daemon systemd
          chromium chromium-driver python3-selenium)
# The clang builds of scripts/test.sh link with lld.
packages+=(lld)
# A package counts when it is installed for this machine's architecture (or for all):
# a multiarch system may hold the same package for foreign architectures only. grep reads
# to the end: a grep -q stopping early would fail the pipeline (pipefail, SIGPIPE).
arch=$(dpkg --print-architecture)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Architecture} ${Status}\n' "$p" 2>/dev/null |
    grep -E "^($arch|all) install ok installed" >/dev/null || missing+=("$p:$arch")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "setup: installing ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
# tshark asks whether non-root users may capture; the default answer (no) is fine.
echo "wireshark-common wireshark-common/install-setuid boolean false" | $SUDO debconf-set-selections
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
