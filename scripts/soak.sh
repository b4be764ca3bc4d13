#!/usr/bin/env bash
# Runs the daemon for MINUTES (default 2) under a mixed load and then checks that it did not
# leak: resident memory, open descriptors and the entries of the IPC runtime directory must
# not have grown past a small allowance over their values after the warm-up, and every value
# read back at the end must be the last one written. The load, in rounds: gets and sets of
# permanent (settings file, written after a 1-second delay) and volatile objects, watches with
# enumeration that come and go, a subscriber killed without unsubscribing, and a settings-file
# write every few seconds. Not part of the test command: it takes minutes.
#   scripts/soak.sh [MINUTES]
set -euo pipefail
cd "$(dirname "$0")/.."

minutes=${1:-2}
bash scripts/deps.sh
cmake -S . -B build >/dev/null
cmake --build build -j2 --target infoservice infoctl >/dev/null

work=$(mktemp -d /tmp/infoservice-soak.XXXXXX)
root=$work/root
mkdir -p "$root/etc" "$root/flash2/information" "$root/tmp2/information"
cp examples/ial_token_value_dictionary.xml "$root/etc/"
export INFOSERVICE_ROOT=$root
# Copies of the programs, so that a rebuild during a long run does not change them under it.
mkdir -p "$work/bin"
cp build/infoservice build/tools/infoctl "$work/bin/"
address=$work/address
daemon=
watchers=()
cleanup() {
  for pid in "${watchers[@]}"; do kill "$pid" 2>/dev/null || true; done
  [ -n "$daemon" ] && kill -HUP "$daemon" 2>/dev/null && wait "$daemon" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$work/bin/infoservice" -s -t -y 1 -w 100000 -i "$address" -d examples/defaults.xml \
  -a examples/aliases.xml -f "$root/flash2/settings.xml" -g "$root/flash2/settings.bak" \
  2>"$work/daemon.log" &
daemon=$!
for _ in $(seq 100); do [ -s "$address" ] && break; sleep 0.1; done
[ -s "$address" ] || { echo "soak: the daemon did not start" >&2; cat "$work/daemon.log" >&2; exit 1; }

infoctl=$work/bin/infoctl
ctl() { "$infoctl" -i "$address" "$@"; }
rss_kib() { awk '/^VmRSS:/ {print $2}' "/proc/$daemon/status"; }
fd_count() { find "/proc/$daemon/fd" -mindepth 1 -maxdepth 1 | wc -l; }
ipc_entries() { find "$root/tmp/infoservice-ipc" -mindepth 1 -maxdepth 1 2>/dev/null | wc -l; }

declare -A last
round() {
  local n=$1 i
  for i in $(seq 0 19); do
    last[cfg.soak.p$i]="p$n-$i"
    last[var.soak.v$i]="v$n-$i"
  done
  for i in $(seq 0 19); do
    ctl set "cfg.soak.p$i" "${last[cfg.soak.p$i]}"
    ctl set -v "var.soak.v$i" "${last[var.soak.v$i]}"
  done
  ctl get cfg.soak.p0 var.soak.v0 >/dev/null
  # Watches that come and go: one unsubscribes by ending normally, one is killed outright.
  # Started directly, not through ctl, so that $! is the watcher's own pid.
  "$infoctl" -i "$address" watch 'cfg.soak.*' >/dev/null & local polite=$!
  "$infoctl" -i "$address" watch -n 'var.soak.*' >/dev/null & local rude=$!
  watchers=("$polite" "$rude")
  sleep 0.3
  ctl set -v var.soak.churn "$n"
  kill -TERM "$polite" 2>/dev/null || true
  kill -KILL "$rude" 2>/dev/null || true
  wait "$polite" "$rude" 2>/dev/null || true
  watchers=()
  ctl dump 'cfg.soak.*' >/dev/null
}

end=$((SECONDS + minutes * 60))
warmup=$((SECONDS + 10))
n=0
baseline_rss= baseline_fd= baseline_ipc=
while [ $SECONDS -lt $end ]; do
  round $n
  n=$((n + 1))
  if [ -z "$baseline_rss" ] && [ $SECONDS -ge $warmup ]; then
    baseline_rss=$(rss_kib) baseline_fd=$(fd_count) baseline_ipc=$(ipc_entries)
  fi
  sleep 1  # lets the delayed settings write happen every few rounds
done
[ -n "$baseline_rss" ] || { baseline_rss=$(rss_kib) baseline_fd=$(fd_count) baseline_ipc=$(ipc_entries); }

sleep 2  # the last delayed write
rss=$(rss_kib) fds=$(fd_count) ipc=$(ipc_entries)
echo "rounds: $n in $minutes min"
echo "rss: $baseline_rss KiB after warm-up, $rss KiB at the end"
echo "descriptors: $baseline_fd after warm-up, $fds at the end"
echo "ipc runtime entries: $baseline_ipc after warm-up, $ipc at the end"

failures=0
for name in "${!last[@]}"; do
  value=$(ctl get "$name")
  if [ "$value" != "${last[$name]}" ]; then
    echo "soak: $name is '$value', last written '${last[$name]}'" >&2
    failures=$((failures + 1))
  fi
done
# The settings file must hold the last permanent values too.
for i in 0 19; do
  grep -q "p$((n - 1))-$i" "$root/flash2/settings.xml" ||
    { echo "soak: the settings file lacks the last value of cfg.soak.p$i" >&2; failures=$((failures + 1)); }
done
# Allowances: allocator slack for memory, nothing for descriptors and runtime entries.
[ "$rss" -le $((baseline_rss + 512)) ] || { echo "soak: memory grew by $((rss - baseline_rss)) KiB" >&2; failures=$((failures + 1)); }
[ "$fds" -le "$baseline_fd" ] || { echo "soak: descriptors grew from $baseline_fd to $fds" >&2; failures=$((failures + 1)); }
[ "$ipc" -le "$baseline_ipc" ] || { echo "soak: IPC runtime entries grew from $baseline_ipc to $ipc" >&2; failures=$((failures + 1)); }
if [ "$failures" -gt 0 ]; then
  echo "soak: $failures problem(s)" >&2
  exit 1
fi
echo "soak: no growth, every value read back is the last one written"
