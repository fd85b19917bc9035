#!/usr/bin/env bash
# The Windows build under Wine beside the Linux build, on the same corpora:
# median wall time of each, the ratio Windows-under-Wine / Linux, and the
# Win32 calls the program makes per scanned and per hashed file.
#
#   bench/wine.sh [--runs N]
#
# Setup: what scripts/setup.sh installs (the builds and Wine). Builds the
# twinsift targets of the linux-release and windows-release presets, writes
# the corpora with twinsift_corpus into a temporary folder (mktemp -d; about
# 1.2 GB, removed at the end), reads every file once so that the page cache
# is warm, then runs each build N times (default 3), the two taking turns.
# The Windows build runs under one persistent Wine server
# (scripts/wine-env.sh), stopped at exit.
#
# Call counts: one run of the Windows build over a fixed tree of 300 small
# files (101 of which share a size and are hashed) with WINEDEBUG=+relay;
# only the calls made from twinsift.exe itself are counted (those whose
# return address lies in its image), by name, C runtime calls left out.
#
# Output: markdown tables on standard output (bench/README.md holds the last
# ones); progress on standard error. About 5 minutes on 2 cores.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=3
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs="$2"; shift 2 ;;
    *) echo "usage: bench/wine.sh [--runs N]" >&2; exit 2 ;;
  esac
done

say() { echo "wine: $(date +%T) $*" >&2; }

scripts/setup.sh --only time
say "building linux-release and windows-release"
cmake --preset linux-release >&2
cmake --build --preset linux-release --target twinsift twinsift_corpus >&2
cmake --preset windows-release >&2
cmake --build --preset windows-release --target twinsift >&2
LINUX="$(realpath build/linux-release/twinsift)"
GEN="$(realpath build/linux-release/twinsift_corpus)"
EXE="$(realpath build/windows-release/twinsift.exe)"
WINE=/usr/lib/wine/wine64

source scripts/wine-env.sh
wine_start

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"; wine_stop' EXIT

# The Windows form of a Linux path: drive Z: holds the Linux root.
winpath() { echo "Z:${1//\//\\}"; }

median() {
  sort -g "$1" |
    awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'
}

# timed LOG CMD...: wall seconds of one run of CMD, added to LOG.
timed() {
  local log="$1"
  shift
  /usr/bin/time -f "%e" -a -o "$log" "$@" > /dev/null 2> /dev/null
}

# measure KEY TITLE DIR...: both builds on the folders, N rounds, a row.
measure() {
  local key="$1" title="$2" round d
  shift 2
  local windirs=()
  for d in "$@"; do windirs+=("$(winpath "$d")"); done
  say "$key: warming the page cache"
  find "$@" -type f -print0 | xargs -0 cat > /dev/null
  "$LINUX" -r "$@" > "$tmp/linux.out"
  "$WINE" "$EXE" -r "${windirs[@]}" > "$tmp/win.out"
  # The same sets on both builds: only the paths' form and line ends differ.
  if [ "$(grep -c '^del ' "$tmp/linux.out")" != \
       "$(tr -d '\r' < "$tmp/win.out" | grep -c '^del ')" ]; then
    echo "the two builds report different sets on $key" >&2
    exit 1
  fi
  for round in $(seq "$runs"); do
    say "$key: round $round of $runs"
    timed "$tmp/$key.linux" "$LINUX" -r "$@"
    timed "$tmp/$key.win" "$WINE" "$EXE" -r "${windirs[@]}"
  done
  awk -v t="$title" -v l="$(median "$tmp/$key.linux")" \
      -v w="$(median "$tmp/$key.win")" 'BEGIN {
    printf "| %s | %.2f | %.2f | %.1f |\n", t, l, w, (l > 0 ? w / l : 0) }'
}

# Calls from twinsift.exe's own image (loaded at 0x140000000) in a relay
# trace taken with +pid, by name. Other Wine processes (services started
# meanwhile) load their images there too: only the process that lists the
# tree counts.
count_calls() {
  local pid
  pid="$(grep -m1 -E ":Call KERNEL32.FindFirstFileW\(.*ret=0*14[0-9a-f]{7}\b" \
           "$1" | cut -d: -f1)"
  grep -E "^$pid:[0-9a-f]+:Call [A-Za-z0-9_]+\.[A-Za-z0-9_]+\(" "$1" |
    grep -E "ret=0*14[0-9a-f]{7}\b" |
    sed -E 's/.*:Call [A-Za-z0-9_]+\.([A-Za-z0-9_]+)\(.*/\1/' |
    grep -vE '^(_|mem|wcs|str|malloc|calloc|realloc|free|fwrite|fflush|setvbuf|abort|exit)' |
    sort | uniq -c | sort -rn
}

calls_table() {
  local trace="$tmp/relay.txt" scanned=300 hashed
  "$GEN" small 300 "$tmp/tiny" > "$tmp/tiny.summary"
  hashed="$(wc -l < "$tmp/tiny/hashed.list")"
  say "call counts: relay trace of $scanned files"
  WINEDEBUG=+pid,+relay "$WINE" "$EXE" -r "$(winpath "$tmp/tiny/small")" \
    > /dev/null 2> "$trace"
  echo
  echo "**Win32 calls of one run over $scanned small files ($hashed hashed), from twinsift.exe itself**"
  echo
  echo "| call | count | per scanned file | per hashed file |"
  echo "|---|---:|---:|---:|"
  count_calls "$trace" | awk -v s="$scanned" -v h="$hashed" '{
    printf "| %s | %d | %.2f | %.2f |\n", $2, $1, $1 / s, $1 / h
    total += $1 } END {
    printf "| all of them | %d | %.2f | %.2f |\n", total, total / s, total / h }'
  rm -f "$trace"
}

start=$(date +%s)
echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), Linux $(uname -r); Wine $("$WINE" --version)."
echo
echo "Median of $runs runs each, warm page cache; times in seconds of wall clock."
echo
echo "| corpus | Linux build s | Windows build under Wine s | Wine / Linux |"
echo "|---|---:|---:|---:|"
"$GEN" small "$tmp/small" > /dev/null
measure small "Many small files: 100,000 files of 1 to 16 KiB, a fifth of them copies" "$tmp/small/small"
rm -rf "$tmp/small"
"$GEN" camera "$tmp/camera" > /dev/null
measure camera "Camera import: 1,000 pictures on the card, 10,000 in the library" "$tmp/camera/card" "$tmp/camera/library"
rm -rf "$tmp/camera"
calls_table
echo
echo "Whole benchmark: $(( $(date +%s) - start )) s."
