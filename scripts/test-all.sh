#!/usr/bin/env bash
# Builds both builds (Linux with sanitizers, Linux release, Windows) and runs
# every test: natively on Linux, under Wine for Windows.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

start=$(date +%s)
cmake --workflow --preset linux-debug
cmake --workflow --preset linux-release

source scripts/wine-env.sh
cmake --preset windows-release
cmake --build --preset windows-release
wine_start
ctest --preset windows-release
echo "All builds and tests passed in $(( $(date +%s) - start )) s."
