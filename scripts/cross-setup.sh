#!/usr/bin/env bash
# Gets what a cross build for one target needs, only what is missing:
# - on the build machine: Debian's cross compiler for the target and qemu-user to run the
#   target's binaries (ordinary packages of the build machine);
# - the target's libraries (C library, libstdc++, libuv, libfmt, libhttp_parser, sd-bus,
#   OpenSSL, GoogleTest and everything they link against) as a sysroot in
#   build/<arch>-sysroot: their .deb files are fetched with `apt-get download` into
#   build/cross-debs/<arch> and unpacked with `dpkg -x`. They are never installed: the
#   target's packages would have to be the very same versions as the build machine's
#   (Multi-Arch: same), which a mirror that moved on since the build machine was set up
#   does not offer, and apt would remove build-machine packages to make room.
# The target architecture is added to dpkg once, only so that apt knows its package
# lists; nothing of the target is ever installed. Idempotent: a second run with the
# same package versions does nothing. Called by scripts/cross-test.sh.
#   scripts/cross-setup.sh mipsel|s390x
set -euo pipefail
cd "$(dirname "$0")/.."
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

# Each check reads its input to the end: with pipefail, a grep -q that stops at the first
# match fails the pipeline when the writer gets SIGPIPE.
if ! dpkg --print-foreign-architectures | grep -x "$arch" >/dev/null; then
  echo "cross-setup: adding the $arch architecture to dpkg (for its package lists only)"
  $SUDO dpkg --add-architecture "$arch"
  update
fi

# The build machine's side. libhttp-parser-dev and rapidjson-dev are listed for the
# build machine's own builds; the cross build takes both headers from the sysroot first.
host_arch=$(dpkg --print-architecture)
host_packages=(cmake pkg-config rapidjson-dev libhttp-parser-dev qemu-user "g++-$triplet")
missing=()
for p in "${host_packages[@]}"; do
  dpkg-query -W -f='${Architecture} ${Status}\n' "$p" 2>/dev/null |
    grep -E "^($host_arch|all) install ok installed" >/dev/null || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "cross-setup: installing ${missing[*]}"
  update
  # --no-remove: never let an install take a build-machine package away.
  $SUDO apt-get install -y -qq --no-install-recommends --no-remove "${missing[@]}"
fi

# The target's side: what the daemon, the tools and the tests link against. Their
# dependency closure (Depends and Pre-Depends) is resolved by apt from its lists.
roots=(libc6 libstdc++6 libuv1-dev libfmt-dev libhttp-parser-dev libsystemd-dev libssl-dev
       libgtest-dev libgmock-dev)
roots=("${roots[@]/%/:$arch}")
apt-cache show "libc6:$arch" >/dev/null 2>&1 || update
closure() {
  apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
    --no-replaces --no-enhances "${roots[@]}" |
    grep -E "^[^ <].*:$arch\$" | sort -u
}
# package_version_arch.deb, the name apt-get download gives the file (an epoch's colon
# becomes %3a).
deb_names() {
  apt-cache show --no-all-versions "$@" |
    awk '/^Package:/ {p = $2} /^Version:/ {v = $2} /^Architecture:/ {a = $2}
         /^$/ && p != "" {sub(/:/, "%3a", v); print p "_" v "_" a ".deb"; p = ""}
         END {if (p != "") {sub(/:/, "%3a", v); print p "_" v "_" a ".deb"}}' | sort -u
}
mapfile -t packages < <(closure)
[ ${#packages[@]} -gt 0 ] || { echo "cross-setup: apt knows no $arch packages" >&2; exit 1; }
mapfile -t debs < <(deb_names "${packages[@]}")

sysroot=build/$arch-sysroot
cache=build/cross-debs/$arch
stamp=$sysroot/.debs
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$(printf '%s\n' "${debs[@]}")" ]; then
  exit 0
fi

mkdir -p "$cache"
fetch=()
for d in "${debs[@]}"; do
  [ -s "$cache/$d" ] || fetch+=("${d%%_*}:$arch")
done
# As root apt would hand the download to its unprivileged user, who cannot write here.
download=(apt-get download -qq)
[ "$(id -u)" -ne 0 ] || download+=(-o APT::Sandbox::User=root)
if [ ${#fetch[@]} -gt 0 ]; then
  echo "cross-setup: downloading ${#fetch[@]} $arch packages into $cache"
  # A mirror that moved on no longer serves the versions of old lists: read them anew
  # once, then ask for the same packages again.
  if ! (cd "$cache" && "${download[@]}" "${fetch[@]}"); then
    [ "$updated" -eq 0 ] || exit 1
    update
    mapfile -t debs < <(deb_names "${packages[@]}")
    (cd "$cache" && "${download[@]}" "${fetch[@]}")
  fi
fi
for d in "${debs[@]}"; do
  [ -s "$cache/$d" ] || { echo "cross-setup: $cache/$d was not downloaded" >&2; exit 1; }
done

# Versions that are no longer wanted leave the cache.
declare -A wanted=()
for d in "${debs[@]}"; do wanted[$d]=1; done
for f in "$cache"/*.deb; do
  [ -e "$f" ] || continue
  [ -n "${wanted[${f##*/}]:-}" ] || rm -f "$f"
done

echo "cross-setup: unpacking ${#debs[@]} $arch packages into $sysroot"
rm -rf "$sysroot"
mkdir -p "$sysroot"
for d in "${debs[@]}"; do
  dpkg -x "$cache/$d" "$sysroot"
done
# One library tree, as on a merged-/usr system: /lib, /lib32, /lib64 become links into
# usr/, so the loader, the linker's -rpath-link and qemu's -L see every library in
# usr/lib/<triplet> whichever of the two places its package used.
for top in lib lib32 lib64 bin sbin; do
  if [ -d "$sysroot/$top" ] && [ ! -L "$sysroot/$top" ]; then
    mkdir -p "$sysroot/usr/$top"
    cp -a "$sysroot/$top/." "$sysroot/usr/$top/"
    rm -rf "${sysroot:?}/$top"
    ln -s "usr/$top" "$sysroot/$top"
  fi
done
# Links to absolute paths (libfoo.so -> /lib/<triplet>/libfoo.so.1) point into the
# sysroot instead of the build machine.
while IFS= read -r -d '' link; do
  target=$(readlink "$link")
  case "$target" in
    /*) ln -sfn "$(realpath -ms --relative-to="$(dirname "$link")" "$sysroot$target")" "$link" ;;
  esac
done < <(find "$sysroot" -type l -print0)
[ -e "$sysroot/usr/lib/$triplet/libc.so.6" ] || {
  echo "cross-setup: $sysroot has no C library" >&2
  exit 1
}
printf '%s\n' "${debs[@]}" >"$stamp"
echo "cross-setup: $arch sysroot ready ($(du -sh "$sysroot" | cut -f1))"
