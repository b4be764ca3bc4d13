#!/usr/bin/env bash
# Builds the daemon and infoctl, then runs infoservice in standalone mode (-s) on a temporary
# box root with the sample data of examples/, a /proc tree and the HAL's files among them.
# The daemon writes its address to $RUN_DIR/address (default /tmp/infoservice-run/address),
# which infoctl -i reads; see the README for the commands to try. Ctrl-C (or SIGTERM) sends
# the daemon the hang-up signal, its normal stop; the script exits with the daemon's exit code.
# Arguments are further daemon options, e.g. -m 127.0.0.1:5000 for an Infocast meta channel.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake -S . -B build
cmake --build build -j2 --target infoservice infoctl infocast-send

run_dir=${RUN_DIR:-/tmp/infoservice-run}
root=$run_dir/root
# A fresh root each run: the box tree holds the dictionary, the object directories, the
# settings file and the IPC sockets, all of which belong to this run only.
rm -rf "$root"
mkdir -p "$root/etc" "$root/flash2/information" "$root/tmp2/information"
cp examples/ial_token_value_dictionary.xml "$root/etc/"
# The file-backed HAL (docs/hal.md); the flash image is created at the first write.
mkdir -p "$root/var/hal"
cp examples/hal/systeminfo examples/hal/firmware-version "$root/var/hal/"
rm -f "$run_dir/address"
export INFOSERVICE_ROOT=$root
# The box facts: a sample /proc tree (production parameters, colour system, kernel command
# line) and the directory the syslog restart request goes to.
cp -r examples/proc "$root/proc"
mkdir -p "$root/var/state"
# Without -t the daemon needs an eth0 for the MAC address; a machine without one runs the
# host environment, which leaves out the HAL and the production parameters.
host_flag=
if [ ! -e /sys/class/net/eth0 ]; then
  host_flag=-t
  echo "No eth0 on this machine: running with -t (no HAL, no production parameters)." >&2
fi

# Room for every connection and subscriber the daemon may hold (README, "Under overload"), as
# far as the hard limit allows.
ulimit -Sn 4096 2>/dev/null || ulimit -Sn "$(ulimit -Hn)"

build/infoservice -s $host_flag -i "$run_dir/address" \
  -d examples/defaults.xml -a examples/aliases.xml \
  -f "$root/flash2/settings.xml" -g "$root/flash2/settings.bak" "$@" &
daemon=$!
trap 'kill -HUP "$daemon" 2>/dev/null || true' INT TERM

echo "infoservice runs (pid $daemon); address in $run_dir/address. Try:" >&2
echo "  build/tools/infoctl -i $run_dir/address dump" >&2
echo "Ctrl-C stops it." >&2

# wait returns early when a trapped signal arrives; wait again for the daemon's own end.
status=0
while kill -0 "$daemon" 2>/dev/null; do
  wait "$daemon" && status=0 || status=$?
done
exit "$status"
