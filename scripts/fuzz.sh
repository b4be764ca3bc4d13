#!/usr/bin/env bash
# Builds every libFuzzer target (tests/fuzz/<Target>.cpp) with clang in build-fuzz/ and runs
# each for a bounded time, starting from its committed seeds in tests/fuzz/corpus/<Target>/.
# New inputs go to a scratch directory, so the committed corpus only changes by hand. Exits
# non-zero when a target finds a crash, a leak or a sanitizer report; prints where the input
# that caused it was saved. Without clang it says so and does nothing.
#   scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 5)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-5}
if ! command -v clang++ >/dev/null; then
  echo "fuzz: clang++ not installed, fuzz targets not run"
  exit 0
fi

cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DINFOSERVICE_FUZZ=ON \
  -DINFOSERVICE_TESTS=ON -DINFOSERVICE_BENCH=OFF >/dev/null
targets=()
for source in tests/fuzz/*.cpp; do
  targets+=("$(basename "$source" .cpp)")
done
cmake --build build-fuzz -j2 --target "${targets[@]}"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
status=0
for target in "${targets[@]}"; do
  seeds=tests/fuzz/corpus/$target
  mkdir -p "$scratch/$target" "$scratch/$target-crash"
  # A target without committed seeds starts from nothing; libFuzzer refuses a missing folder.
  seedDirs=()
  [ -d "$seeds" ] && seedDirs=("$seeds")
  echo "== fuzz $target for ${seconds}s ($(find "$seeds" -type f 2>/dev/null | wc -l) seeds)"
  if ! "build-fuzz/tests/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 \
      -artifact_prefix="$scratch/$target-crash/" -print_final_stats=0 \
      "$scratch/$target" "${seedDirs[@]}" 2>"$scratch/$target.log"; then
    tail -40 "$scratch/$target.log"
    mkdir -p build-fuzz/artifacts
    cp -r "$scratch/$target-crash" "build-fuzz/artifacts/$target"
    echo "fuzz: $target failed; the input is in build-fuzz/artifacts/$target/" >&2
    status=1
  else
    grep -E '^(#[0-9]+.*DONE|Done)' "$scratch/$target.log" | tail -1 || true
  fi
done
exit $status
