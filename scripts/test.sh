#!/usr/bin/env bash
# Builds the project twice, normally in build/ and with AddressSanitizer and
# UndefinedBehaviorSanitizer in build-asan/, and runs every test in both; runs each fuzz
# target for a few seconds when clang is installed; then builds for the box's 32-bit ARM
# processor and for a big-endian one and runs their tests under qemu-user
# (scripts/cross-test.sh; INFOSERVICE_CROSS=0 leaves the cross builds out). Exits non-zero
# when the test code outgrows its share, anything fails to build or any test fails.
set -euo pipefail
cd "$(dirname "$0")/.."

# Test code stays at most 35% of the other C++ code (files git knows, .cpp and .h).
lines() { git ls-files -z -- "$@" | xargs -0 cat | wc -l; }
tests=$(lines 'tests/*.cpp' 'tests/*.h')
others=$(($(lines '*.cpp' '*.h') - tests))
echo "== test lines: $tests against $others other C++ lines ($((100 * tests / others))%)"
if ((100 * tests > 35 * others)); then echo "test lines above 35% of the other C++ lines"; exit 1; fi

bash scripts/deps.sh

jobs=2
# Leaks are errors; a sanitizer report stops the test that caused it.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:strict_string_checks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

build() {
  local dir=$1
  shift
  cmake -S . -B "$dir" "$@"
  cmake --build "$dir" -j"$jobs"
}

build build
build build-asan -DINFOSERVICE_SANITIZE=ON -DINFOSERVICE_BENCH=OFF

status=0
for dir in build build-asan; do
  echo "== ctest in $dir"
  ctest --test-dir "$dir" --output-on-failure -j"$jobs" || status=1
done

bash scripts/fuzz.sh "${INFOSERVICE_FUZZ_SECONDS:-5}" || status=1

if [ "${INFOSERVICE_CROSS:-1}" != 0 ]; then
  for arch in armhf s390x; do
    bash scripts/cross-test.sh "$arch" || status=1
  done
fi
exit $status
