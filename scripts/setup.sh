#!/usr/bin/env bash
# Installs what the builds and tests need from Debian's packages, when missing.
# Run as root; otherwise prints the apt-get command to run and stops.
#
#   scripts/setup.sh [PACKAGE ...]         the build packages and these
#   scripts/setup.sh --only PACKAGE ...    these alone
set -euo pipefail

# clang and its runtime libraries (libFuzzer, the sanitizers) build the
# fuzz targets of the linux-fuzz preset.
packages=(cmake ninja-build g++ libssl-dev libgtest-dev
          clang libclang-rt-14-dev
          g++-mingw-w64-x86-64-posix wine64 "$@")
if [ "${1:-}" = --only ]; then
  packages=("${@:2}")
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages: ${missing[*]}" >&2
  echo "Run as root: apt-get update && apt-get install -y ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q >&2
apt-get install -y -q --no-install-recommends "${missing[@]}" >&2
