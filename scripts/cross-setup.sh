#!/usr/bin/env bash
# Installs what a cross build for one target needs, only what is missing: Debian's
# cross compiler for the target, the target's libraries as multiarch packages (the
# target architecture is added to dpkg once), and qemu-user to run the target's
# binaries on this machine. Called by scripts/cross-test.sh.
#   scripts/cross-setup.sh mipsel|s390x
set -euo pipefail
arch=${1:-}
case "$arch" in
  mipsel) triplet=mipsel-linux-gnu ;;
  s390x) triplet=s390x-linux-gnu ;;
  *) echo "usage: $0 mipsel|s390x" >&2; exit 2 ;;
esac
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

updated=0
update() {
  [ "$updated" -eq 1 ] || $SUDO apt-get update -qq
  updated=1
}

if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
  echo "cross-setup: adding the $arch architecture to dpkg"
  $SUDO dpkg --add-architecture "$arch"
  update
fi

# libhttp-parser-dev is not co-installable across architectures (installing it for the
# target would remove the build machine's): the target gets the runtime library, the
# header (the same for every architecture) comes from the build machine's package.
packages=(cmake pkg-config rapidjson-dev libhttp-parser-dev qemu-user
          "g++-$triplet" "libc6:$arch" "libstdc++6:$arch"
          "libuv1-dev:$arch" "libfmt-dev:$arch" "libhttp-parser2.9:$arch"
          "libgtest-dev:$arch" "libgmock-dev:$arch")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "cross-setup: installing ${missing[*]}"
update
# --no-remove: never let a target's package take the build machine's copy away.
$SUDO apt-get install -y -qq --no-install-recommends --no-remove "${missing[@]}"
