#!/usr/bin/env bash
# Installs what the builds and tests need from Debian's packages, when missing.
# Run as root; otherwise prints the apt-get command to run and stops.
#
#   scripts/setup.sh [PACKAGE ...]          building and running the Linux
#                                           program, and these
#   scripts/setup.sh --tests [PACKAGE ...]  that, every test and the packages
#   scripts/setup.sh --only PACKAGE ...     these alone
#
# With --dry-run first, it only prints the packages it would install.
set -euo pipefail

dry_run=0
if [ "${1:-}" = --dry-run ]; then
  dry_run=1
  shift
fi

build=(cmake ninja-build g++ libssl-dev)
# GoogleTest; clang and its runtime libraries (libFuzzer, the sanitizers) for
# the fuzz targets of the linux-fuzz preset; mingw-w64 and Wine for the
# Windows build and its tests; dpkg-dev (dpkg-shlibdeps), unzip, lintian and
# groff (the manual page's check) to make and check the packages; Chromium,
# the headless browser that loads twinsift-view's page.
tests=(libgtest-dev clang libclang-rt-14-dev
       g++-mingw-w64-x86-64-posix wine64 dpkg-dev unzip lintian groff-base
       chromium)
case "${1:-}" in
  --only) packages=("${@:2}") ;;
  --tests) packages=("${build[@]}" "${tests[@]}" "${@:2}") ;;
  *) packages=("${build[@]}" "$@") ;;
esac

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    missing+=("$p")
  fi
done
if [ $dry_run -eq 1 ]; then
  echo "Would install: ${missing[*]:-nothing}"
  exit 0
fi
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages: ${missing[*]}" >&2
  echo "Run as root: apt-get update && apt-get install -y ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q >&2
apt-get install -y -q --no-install-recommends "${missing[@]}" >&2
