#!/usr/bin/env bash
# Builds every preset (Linux with sanitizers, Linux release, Linux fuzz
# targets, Windows) and runs every test: natively on Linux, under Wine for
# Windows.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --tests

start=$(date +%s)
cmake --workflow --preset linux-debug
# The unit and end-to-end tests under ThreadSanitizer: the hashing workers.
cmake --workflow --preset linux-tsan
cmake --workflow --preset linux-release
# Each fuzz target for a bounded time (30 s) from its seed corpus.
cmake --workflow --preset linux-fuzz

source scripts/wine-env.sh
cmake --preset windows-release
cmake --build --preset windows-release
wine_start
ctest --preset windows-release
scripts/check-packages.sh
echo "All builds and tests passed in $(( $(date +%s) - start )) s."
