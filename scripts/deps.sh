#!/usr/bin/env bash
# Makes sure the Debian packages the build and the tests need are installed. As root, installs
# the missing ones (running `apt-get update` once, only when something is missing); otherwise
# prints what to install and fails. dpkg-dev gives cpack the dpkg-shlibdeps that the Debian
# package's dependencies come from; make, gcc and pkg-config also build the client examples
# in the install test. infoservice-web serves HTTP with libmicrohttpd; its tests are Python
# (pytest, and selenium driving headless Chromium). python3-pytest also runs the Python client's
# tests, and python3-setuptools with python3-wheel lets pip install that client offline. clang
# is only needed for the optional fuzz target, nftables for the fleet simulation's packet loss
# where the kernel has no netem: their absence is reported but does not fail a non-root run.
set -euo pipefail

required=(cmake g++ make pkg-config libexpat1-dev zlib1g-dev googletest libgtest-dev iproute2 dpkg-dev
  libmicrohttpd-dev python3-pytest python3-setuptools python3-wheel python3-selenium chromium
  chromium-driver)
optional=(clang nftables)

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

missing_required=()
missing_optional=()
for package in "${required[@]}"; do
  installed "$package" || missing_required+=("$package")
done
for package in "${optional[@]}"; do
  installed "$package" || missing_optional+=("$package")
done

missing=("${missing_required[@]}" "${missing_optional[@]}")
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
  echo "Installing missing packages: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
  exit 0
fi

if [ ${#missing_required[@]} -gt 0 ]; then
  echo "Missing Debian packages: ${missing_required[*]}" >&2
  echo "Install them as root with: apt-get install ${missing[*]}" >&2
  exit 1
fi
echo "Optional package not installed (only the fuzz targets and the fleet simulation need them): ${missing_optional[*]}" >&2
