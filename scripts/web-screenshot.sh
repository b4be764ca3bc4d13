#!/usr/bin/env bash
# Takes docs/web.png, the screenshot of infoservice-web that the README shows: runs the daemon
# over the sample data with scripts/run.sh (with an Infocast meta channel on loopback, so that
# the reception plot has something to show, and a short write delay, so that the flash write
# budget has a write), sets a few objects, starts infoservice-web and photographs its page
# with the headless Chromium of the browser test. Not a test: it writes into the source tree.
# SHOT_SECONDS (default 40) is how long reception runs before the picture.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake -S . -B build
cmake --build build -j2 --target infoservice infoctl infocast-send infoservice-web

run_dir=${RUN_DIR:-/tmp/infoservice-web-shot}
meta=127.0.0.1:${META_PORT:-5170}
mkdir -p "$run_dir"
rm -f "$run_dir/address"
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT

RUN_DIR=$run_dir bash scripts/run.sh -m "$meta" -y 2 >"$run_dir/daemon.log" 2>&1 &
pids+=($!)
for _ in $(seq 200); do [ -s "$run_dir/address" ] && break; sleep 0.1; done
[ -s "$run_dir/address" ] || { cat "$run_dir/daemon.log" >&2; exit 1; }
infoctl() { build/tools/infoctl -i "$run_dir/address" "$@"; }

infoctl set cfg.demo.greeting "hello from the page"
infoctl set -v var.demo.markup '<img src=x onerror=alert(1)> shown as text'
infoctl set -v var.demo.latin1 "$(printf 'caf\xe9 cr\xe8me')"
infoctl set -v var.demo.long "$(seq -s ' ' 1 400)"

build/web/infoservice-web -i "$run_dir/address" --listen 127.0.0.1:0 >"$run_dir/web.out" &
pids+=($!)
for _ in $(seq 100); do grep -q '^token:' "$run_dir/web.out" 2>/dev/null && break; sleep 0.1; done
url=$(sed -n 's/^listening on //p' "$run_dir/web.out")
[ -n "$url" ] || { echo "infoservice-web did not start" >&2; exit 1; }

# Datagrams for the meta channel at two rates, so that the plot moves.
mkdir -p "$run_dir/send"
seq -s ' ' 1 2000 >"$run_dir/send/var.demo.feed"
build/tools/infocast-send --repeat 50 "$meta" "$run_dir/send" >/dev/null 2>&1 &
pids+=($!)
sleep "$(( ${SHOT_SECONDS:-40} / 2 ))"
build/tools/infocast-send --repeat 20 "$meta" "$run_dir/send" >/dev/null 2>&1 &
pids+=($!)
sleep "$(( ${SHOT_SECONDS:-40} / 2 ))"

PYTHONDONTWRITEBYTECODE=1 /usr/bin/python3 - "$url" docs/web.png "$run_dir/profile" <<'PYTHON'
import sys, time
sys.path.insert(0, "tests/web")
from browser import start_chromium
from selenium.webdriver.support.ui import WebDriverWait

url, output, profile = sys.argv[1:4]
driver = start_chromium(profile, 1280, 1150)
try:
    driver.get(url)
    WebDriverWait(driver, 20).until(lambda d: d.find_element("id", "status").text == "live")
    # Folded families leave room for the rest.
    for family in ("_fw", "config", "const"):
        driver.execute_script(
            "[...document.querySelectorAll('#tree .key')].find(k => k.title === arguments[0])"
            "?.click()", family)
    time.sleep(3)
    driver.save_screenshot(output)
finally:
    driver.quit()
PYTHON
echo "wrote docs/web.png"
