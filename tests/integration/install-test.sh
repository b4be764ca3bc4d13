#!/usr/bin/env bash
# The installed package as an integrator uses it: installs the build into a temporary prefix,
# builds the two client examples from the installed copy with pkg-config, starts the
# installed daemon with the installed sample data, and checks what the examples print while
# the installed infoctl changes objects.
#
#   install-test.sh BUILD_DIR [EXTRA_FLAGS]
# EXTRA_FLAGS go to the compiler and linker of the examples (the sanitizers, when the build
# uses them, since the library then needs their runtime).
set -euo pipefail
build=$(cd "$1" && pwd)
extra_flags=${2:-}

work=$(mktemp -d)
daemon=""
cleanup() {
  if [ -n "$daemon" ] && kill -0 "$daemon" 2>/dev/null; then kill -HUP "$daemon" || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  for log in "$work"/*.log; do [ -f "$log" ] && { echo "--- $log" >&2; cat "$log" >&2; }; done
  exit 1
}

# Waits up to 20 s (400 checks) for a command to succeed.
wait_for() {
  local tries=0
  until "$@"; do
    tries=$((tries + 1))
    [ "$tries" -lt 400 ] || return 1
    sleep 0.05
  done
}

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log" || fail "cmake --install"

for file in bin/infoservice bin/infoctl bin/infocast-send bin/platform-simulator \
  share/infoservice/defaults.xml share/infoservice/aliases.xml \
  share/infoservice/ial_token_value_dictionary.xml share/infoservice/infoservice.service \
  include/infoservice/TInfoClient.h include/infoservice/infoclient.h \
  share/bash-completion/completions/infoctl share/infoservice/examples/client/Makefile; do
  [ -e "$prefix/$file" ] || fail "not installed: $file"
done
# infoservice-web is built where libmicrohttpd is found, and then installed with the rest.
if [ -e "$build/web/infoservice-web" ] && [ ! -e "$prefix/bin/infoservice-web" ]; then
  fail "not installed: bin/infoservice-web"
fi
pc=$(find "$prefix" -name infoservice.pc)
[ -n "$pc" ] || fail "infoservice.pc not installed"
libdir=$(dirname "$(dirname "$pc")")
[ -e "$libdir/libinfoservice.so" ] || fail "libinfoservice.so not next to its pkg-config file"

# The public headers stand alone: nothing of the project's own folders is included.
if grep -nE '#[[:space:]]*include[[:space:]]*"' "$prefix"/include/infoservice/*.h; then
  fail "a public header includes a project header"
fi

cp -r "$prefix/share/infoservice/examples/client" "$work/examples"
PKG_CONFIG_PATH=$(dirname "$pc") make -C "$work/examples" \
  CFLAGS="-O1 -Wall -Wextra -Werror $extra_flags" CXXFLAGS="-O1 -Wall -Wextra -Werror $extra_flags" \
  >"$work/make.log" 2>&1 || fail "the examples do not build"

root=$work/root
mkdir -p "$root/etc" "$root/flash2/information" "$root/tmp2/information"
cp "$prefix/share/infoservice/ial_token_value_dictionary.xml" "$root/etc/"
export INFOSERVICE_ROOT=$root
unset INFOSERVICE_ADDRESS NAMESERVICE_ADDRESS SERVICE_ID
"$prefix/bin/infoservice" -s -t -i "$work/address" \
  -d "$prefix/share/infoservice/defaults.xml" -a "$prefix/share/infoservice/aliases.xml" \
  >"$work/daemon.log" 2>&1 &
daemon=$!
wait_for test -s "$work/address" || fail "the installed daemon did not come up"
address=$(cat "$work/address")
infoctl() { "$prefix/bin/infoctl" -A "$address" "$@"; }

for program in value-watch-c value-watch-cpp; do
  out=$work/$program.log
  LD_LIBRARY_PATH=$libdir INFOSERVICE_ADDRESS=$address \
    "$work/examples/$program" cfg.locale.ui 'var.demo.*' 2 >"$out" 2>&1 &
  example=$!
  wait_for grep -q '^watching' "$out" || fail "$program did not subscribe"
  infoctl set -v var.demo.one "$program" || fail "infoctl set"
  infoctl unset -v var.demo.one || fail "infoctl unset"
  wait_for sh -c "! kill -0 $example 2>/dev/null" || { kill "$example"; fail "$program did not end"; }
  wait "$example" || fail "$program exited with $?"
  expected=$(printf 'cfg.locale.ui=sv-SE\nwatching var.demo.*\nchanged var.demo.one\nremoved var.demo.one')
  [ "$(cat "$out")" = "$expected" ] || fail "$program printed: $(cat "$out")"
done

kill -HUP "$daemon"
wait "$daemon" || fail "the daemon exited with $?"
daemon=""
echo "install test: the installed package builds and runs both examples"
