#!/usr/bin/env bash
# Builds the project and runs it with the sample data in examples/. Until the daemon exists,
# this builds the libraries and runs their tests instead.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake -S . -B build
cmake --build build -j2
ctest --test-dir build --output-on-failure -j2
