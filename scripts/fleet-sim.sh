#!/usr/bin/env bash
# Fleet simulation: how long a change at the head-end takes to reach every box, at a loss rate.
#   scripts/fleet-sim.sh [BOXES] [LOSS_PERCENT] [ROUNDS]      (defaults 50, 0, 5)
# A head-end network namespace holds a bridge; each box is a namespace of its own joined to
# the bridge by a veth pair (eth0 in the box), with netem dropping LOSS_PERCENT of the
# datagrams towards that box alone, so every box loses different ones. Each box runs its own
# infoservice (-s -t, a root of its own) on the meta channel; the head-end runs
# infocast-carousel on a description with objects of 1, 10 and 100 datagrams. Once every box
# holds the configuration (loss is switched on only then), each round changes one object of
# each size and times, per box, when the new value becomes visible (one infoctl watch per
# box), in seconds and in cycles of the object's channel. Prints per size: converged boxes,
# p50 / p95 / max, and the model's prediction (scripts/fleet-model.py, docs/fleet.md); then
# each daemon's resident set and the CPU time of the run.
# Programs come from build/ or $BUILD_DIR. Every wait has a deadline ($ROUND_SECONDS per
# round, default 40); namespaces, processes and files are removed at the end and on Ctrl-C.
# Without the right to make namespaces it prints why and exits 77 (CTest's skip code).
# REQUIRE_SIZES (e.g. "1 10") lists object sizes that every box must have received in every
# round; the script exits 1 when one did not (the CTest run uses it).
set -euo pipefail
cd "$(dirname "$0")/.."

boxes=${1:-50}
loss=${2:-0}
rounds=${3:-5}
round_seconds=${ROUND_SECONDS:-40}
setup_seconds=${SETUP_SECONDS:-60}
build=${BUILD_DIR:-build}
[[ "$boxes" =~ ^[0-9]+$ && "$boxes" -ge 1 && "$boxes" -le 500 ]] || { echo "BOXES: 1 to 500" >&2; exit 2; }
[[ "$loss" =~ ^[0-9]+([.][0-9]+)?$ ]] || { echo "LOSS_PERCENT: a number" >&2; exit 2; }
[[ "$rounds" =~ ^[0-9]+$ && "$rounds" -ge 1 ]] || { echo "ROUNDS: 1 or more" >&2; exit 2; }
for program in infoservice tools/infoctl tools/infocast-carousel; do
  [ -x "$build/$program" ] || { echo "fleet-sim: $build/$program not built" >&2; exit 2; }
done
build=$(cd "$build" && pwd)

tag=fs$$
if ! ip netns add "$tag-probe" 2>/dev/null; then
  echo "fleet-sim: SKIP: cannot make network namespaces here (needs root and ip netns)"
  exit 77
fi
ip netns del "$tag-probe"

work=$(mktemp -d /tmp/fleet-sim.XXXXXX)
pids=()
namespaces=()
cleanup() {
  trap - EXIT INT TERM
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  for ns in "${namespaces[@]}"; do ip netns del "$ns" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

he=$tag-he
ip netns add "$he"
namespaces+=("$he")
ip -n "$he" link set lo up
ip -n "$he" link add br0 type bridge mcast_snooping 0
ip -n "$he" addr add 10.77.0.1/16 dev br0
ip -n "$he" link set br0 up
ip -n "$he" route add 224.0.0.0/4 dev br0

# The description: per size one channel carrying the object that changes and a static one of
# the same size after it, so the changing object ends half way through its cycle.
desc=$work/headend
mkdir -p "$desc"
payload() {  # NAME ROUND DATAGRAMS: data filling exactly that many 1400-byte datagrams, in NAME.new
  local bytes=$(( ($3 - 1) * 1356 + 1352 ))
  { printf '%s-round-%s\n' "$1" "$2"; head -c "$bytes" /dev/zero | tr '\0' x; } | head -c "$bytes" > "$desc/$1.new"
}
sizes=(1 10 100)
names=(var.fleet.small var.fleet.medium var.fleet.large)
rates=(128k 512k 2M)
cat > "$desc/description.xml" <<EOF
<Infocast>
EOF
for i in 0 1 2; do
  payload "${names[$i]}" 0 "${sizes[$i]}"
  payload "cfg.fleet.static$i" 0 "${sizes[$i]}"
  mv "$desc/${names[$i]}.new" "$desc/${names[$i]}"
  mv "$desc/cfg.fleet.static$i.new" "$desc/cfg.fleet.static$i"
  cat >> "$desc/description.xml" <<EOF
  <Channel address="239.77.0.$((i + 2))" port="$((5001 + i))" connection="Persistent" rate="${rates[$i]}">
    <Object name="${names[$i]}" fetch="Prefetch" file="${names[$i]}"/>
    <Object name="cfg.fleet.static$i" fetch="Prefetch" file="cfg.fleet.static$i"/>
  </Channel>
EOF
done
echo "</Infocast>" >> "$desc/description.xml"

echo "fleet-sim: $boxes boxes, loss $loss%, $rounds rounds (work in $work)"
for b in $(seq 1 "$boxes"); do
  ns=$tag-b$b
  ip netns add "$ns"
  namespaces+=("$ns")
  ip link add "vb$b" netns "$he" type veth peer name eth0 netns "$ns"
  ip -n "$he" link set "vb$b" master br0 up
  ip -n "$ns" link set lo up
  ip -n "$ns" addr add "10.77.$((b / 250 + 1)).$((b % 250 + 2))/16" dev eth0
  ip -n "$ns" link set eth0 up
  ip -n "$ns" route add default dev eth0
  root=$work/box$b
  mkdir -p "$root/etc" "$root/flash2/information" "$root/tmp2/information"
  cp examples/ial_token_value_dictionary.xml "$root/etc/"
  INFOSERVICE_ROOT=$root ip netns exec "$ns" "$build/infoservice" -s -t -i "$root/address" \
    -m 239.77.0.1:5000 2>/dev/null &
  pids+=($!)
  daemons[$b]=$!
done

ip netns exec "$he" "$build/tools/infocast-carousel" --meta 239.77.0.1:5000 --meta-rate 128k \
  --ttl 1 --interface 10.77.0.1 --stats 1 "$desc/description.xml" >"$work/stats.log" 2>"$work/carousel.log" &
pids+=($!)
carousel=$!
start_ns=$(date +%s%N)

# Set-up: every box holds every object (loss is still off). Polling is fine here: it runs once.
deadline=$((SECONDS + setup_seconds))
for b in $(seq 1 "$boxes"); do
  until "$build/tools/infoctl" -i "$work/box$b/address" get "${names[@]}" >/dev/null 2>&1; do
    if [ $SECONDS -ge $deadline ]; then
      echo "fleet-sim: box $b has no configuration after ${setup_seconds}s" >&2
      exit 1
    fi
    sleep 0.2
  done
done
echo "fleet-sim: every box holds the configuration after $(( ($(date +%s%N) - start_ns) / 1000000 )) ms"

# One watch per box: each change is stamped on arrival and its value read once. The watch
# writes into a FIFO, so that both ends are processes of their own that cleanup can end.
for b in $(seq 1 "$boxes"); do
  address=$work/box$b/address
  mkfifo "$work/watch$b.fifo"
  while read -r event name; do
    # Stamped before the value is read: 50 boxes reading at once would add their queueing.
    stamp=$EPOCHREALTIME
    value=$("$build/tools/infoctl" -i "$address" get "$name" 2>/dev/null | head -n 1)
    echo "$stamp $name $value"
  done <"$work/watch$b.fifo" >"$work/watch$b.log" &
  pids+=($!)
  "$build/tools/infoctl" -i "$address" watch -n "${names[@]}" >"$work/watch$b.fifo" 2>/dev/null &
  pids+=($!)
done

# Loss towards each box on its own link: netem on the bridge port where the kernel has it,
# else an nftables rule in the box that drops the same share of Infocast datagrams at random.
if [ "$loss" != 0 ]; then
  permyriad=$(awk -v p="$loss" 'BEGIN { printf "%d", p * 100 + 0.5 }')
  for b in $(seq 1 "$boxes"); do
    if ! ip netns exec "$he" tc qdisc add dev "vb$b" root netem loss "$loss%" 2>/dev/null; then
      [ "$b" = 1 ] && echo "fleet-sim: no netem in this kernel; loss by nftables in each box"
      printf 'table ip fleetloss {\n chain input {\n  type filter hook input priority 0;\n  udp dport 5000-5010 numgen random mod 10000 < %d drop\n }\n}\n' \
        "$permyriad" | ip netns exec "$tag-b$b" nft -f - || { echo "fleet-sim: cannot set loss (needs netem or nft)" >&2; exit 1; }
    fi
  done
fi
sleep 1

: >"$work/samples"
for r in $(seq 1 "$rounds"); do
  # The new values are written first and renamed into place together, so that the three
  # changes reach the carousel within a few milliseconds of the stamp.
  for i in 0 1 2; do payload "${names[$i]}" "$r" "${sizes[$i]}"; done
  changed=$EPOCHREALTIME
  for i in 0 1 2; do mv "$desc/${names[$i]}.new" "$desc/${names[$i]}"; done
  deadline=$((SECONDS + round_seconds))
  while [ $SECONDS -lt $deadline ]; do
    done_count=$(cat "$work"/watch*.log | grep -c -- "-round-$r\$" || true)
    [ "$done_count" -ge $((boxes * 3)) ] && break
    sleep 0.5
  done
  for b in $(seq 1 "$boxes"); do
    for i in 0 1 2; do
      line=$(grep -m1 -- " ${names[$i]} ${names[$i]}-round-$r\$" "$work/watch$b.log" || true)
      if [ -n "$line" ]; then
        echo "$r $i $b $(awk -v t="${line%% *}" -v c="$changed" 'BEGIN { printf "%.3f", t - c }')" >>"$work/samples"
      else
        echo "$r $i $b inf" >>"$work/samples"
      fi
    done
  done
  echo "fleet-sim: round $r: $(awk -v r="$r" '$1 == r && $4 != "inf"' "$work/samples" | wc -l)/$((boxes * 3)) changes arrived"
done

# Resident set of each daemon and CPU time of the whole run (daemons and carousel), read
# before they stop.
rss=$(for b in $(seq 1 "$boxes"); do awk '/^VmRSS/ { print $2 }' "/proc/${daemons[$b]}/status"; done | sort -n)
ticks=$(getconf CLK_TCK)
cpu=0
for pid in "${daemons[@]}" "$carousel"; do
  read -r -a stat < <(sed 's/.*) //' "/proc/$pid/stat")
  cpu=$((cpu + stat[11] + stat[12]))
done
wall=$(( ($(date +%s%N) - start_ns) / 1000000 ))

echo
echo "per object size, over $rounds rounds of $boxes boxes (loss $loss%, deadline ${round_seconds}s per round):"
for i in 0 1 2; do
  key="239.77.0.$((i + 2)):$((5001 + i))"
  cycle=$(grep "^stats $key:" "$work/stats.log" | tail -n 20 | sed 's/.*cycle \([0-9.]*\) s/\1/' | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')
  model=$(python3 scripts/fleet-model.py predict "$loss" "${sizes[$i]}" "$boxes" "$((boxes * rounds))" 0.5 \
    "$(awk -v d="$round_seconds" -v c="$cycle" 'BEGIN { print d / c }')")
  awk -v i="$i" '$2 == i' "$work/samples" | sort -k4,4g | awk -v k="${sizes[$i]}" -v cycle="$cycle" -v model="$model" '
    { total++; if ($4 != "inf") { v[++got] = $4 } }
    function pick(p,   at) { at = int(p * total + 0.999999); if (at < 1) at = 1; return at <= got ? v[at] : "inf" }
    function show(x) { return x == "inf" ? "    >deadline     " : sprintf("%6.2f s %6.2f cyc", x, x / cycle) }
    END {
      split(model, m, " ")
      printf "size %3d datagrams (cycle %.3f s): converged: %d/%d  p50 %s  p95 %s  max %s  | model: converged %.0f  p50 %.2f p95 %.2f max %.2f cyc\n",
        k, cycle, got, total, show(pick(0.5)), show(pick(0.95)), show(got == total ? v[got] : "inf"), m[4] * total, m[1], m[2], m[3]
    }'
done
failed=0
for size in ${REQUIRE_SIZES:-}; do
  for i in 0 1 2; do
    [ "${sizes[$i]}" = "$size" ] || continue
    if awk -v i="$i" '$2 == i && $4 == "inf"' "$work/samples" | grep -q .; then
      echo "fleet-sim: FAIL: a box missed the change of the $size-datagram object" >&2
      failed=1
    fi
  done
done
echo "daemon RSS: min $(head -n1 <<<"$rss") KiB, median $(sed -n "$(( (boxes + 1) / 2 ))p" <<<"$rss") KiB, max $(tail -n1 <<<"$rss") KiB"
echo "CPU time of $boxes daemons and the carousel: $((cpu * 1000 / ticks)) ms in $wall ms of wall time"
exit "$failed"
