#!/usr/bin/env bash
# Builds the project for another processor and runs its tests under qemu-user:
#   armhf  32-bit ARM, the box's own kind of processor;
#   s390x  64-bit big-endian, the one way to catch byte-order slips on this machine.
# The compiler comes from Debian's cross toolchain; expat is taken from the target's Debian
# packages, unpacked into a sysroot of the build tree (not installed: dpkg would insist that
# every multiarch copy has the host's version, and the target's security updates lag); and
# GoogleTest is built for the target from Debian's packaged sources. Tests that start other
# programs need the kernel to run target binaries through qemu (binfmt_misc); where it cannot
# be registered they skip themselves. As root, missing Debian packages are installed.
#   scripts/cross-test.sh ARCH [ctest arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."

arch=${1:?usage: scripts/cross-test.sh armhf|s390x [ctest arguments...]}
shift
case "$arch" in
  armhf) triple=arm-linux-gnueabihf qemu=arm ;;
  s390x) triple=s390x-linux-gnu qemu=s390x ;;
  *) echo "unknown ARCH $arch (armhf or s390x)" >&2; exit 2 ;;
esac
build=build-$arch
jobs=2

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
needed=()
for package in cmake make "g++-$triple" qemu-user-static googletest; do
  installed "$package" || needed+=("$package")
done
if [ ${#needed[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing Debian packages: ${needed[*]} (install them as root)" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${needed[@]}"
fi

# The target's expat and zlib, unpacked once per build tree.
sysroot=$PWD/$build/sysroot
if [ ! -f "$sysroot/usr/lib/$triple/libexpat.a" ] || [ ! -f "$sysroot/usr/lib/$triple/libz.a" ]; then
  if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
    [ "$(id -u)" -eq 0 ] || { echo "dpkg does not know $arch: run as root once" >&2; exit 1; }
    dpkg --add-architecture "$arch"
    apt-get update -q
  fi
  debs=$(mktemp -d)
  (cd "$debs" && apt-get download -q "libexpat1:$arch" "libexpat1-dev:$arch" "zlib1g:$arch" "zlib1g-dev:$arch") || {
    apt-get update -q && (cd "$debs" && apt-get download -q "libexpat1:$arch" "libexpat1-dev:$arch" "zlib1g:$arch" "zlib1g-dev:$arch")
  }
  mkdir -p "$sysroot"
  for deb in "$debs"/*.deb; do dpkg-deb -x "$deb" "$sysroot"; done
  rm -rf "$debs"
fi

# Programs started by tests (the daemon, infoctl) are target binaries too: let the kernel hand
# them to qemu. Registering needs root and a writable binfmt_misc; without it those tests skip.
binfmt=/proc/sys/fs/binfmt_misc
if [ ! -e "$binfmt/register" ] && [ "$(id -u)" -eq 0 ]; then
  mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || true
fi
# qemu-user-static ships the registration line (magic, mask, interpreter) for each target.
if [ -w "$binfmt/register" ] && [ ! -e "$binfmt/qemu-$qemu" ]; then
  cat "/usr/lib/binfmt.d/qemu-$qemu.conf" >"$binfmt/register" 2>/dev/null || true
fi
if [ -e "$binfmt/qemu-$qemu" ] && grep -q enabled "$binfmt/qemu-$qemu"; then
  export INFOSERVICE_CAN_EXEC=1
else
  echo "note: qemu-$qemu is not registered with binfmt_misc; tests that start programs skip" >&2
  export INFOSERVICE_CAN_EXEC=0
fi
# Where qemu finds the target's loader and libraries, whoever starts it.
export QEMU_LD_PREFIX=/usr/$triple

cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-$arch.cmake" \
  -DINFOSERVICE_SYSROOT="$sysroot" -DINFOSERVICE_GTEST_SOURCE=/usr/src/googletest \
  -DINFOSERVICE_BENCH=ON
cmake --build "$build" -j"$jobs"
echo "== ctest in $build (under qemu-$qemu)"
ctest --test-dir "$build" --output-on-failure -j"$jobs" "$@"
