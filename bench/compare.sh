#!/usr/bin/env bash
# TwinSift side by side with fdupes, jdupes, rdfind and rmlint on generated
# corpora: median wall time, peak RSS and bytes read of each tool, with the
# page cache warm and, for the camera import and the large duplicates, cold.
#
#   bench/compare.sh [--runs N] [--build-dir DIR] [--no-cold]
#
# Setup: as root, installs what is missing from Debian's packages (the four
# peers, GNU time, openssl and the build tools); as another user it prints
# the apt-get command and stops. Build: the linux-release preset
# (build/linux-release), or the build named by --build-dir (it must hold
# twinsift, twinsift_corpus and twinsift_measure, built with
# -DTWINSIFT_BENCH=ON in Release).
#
# Corpora are written from fixed seeds by twinsift_corpus into a temporary
# folder (mktemp -d; set TMPDIR to move it, it needs about 7 GB free),
# one at a time, and removed at the end. For each corpus every file is read
# once (the page cache is then warm), TwinSift runs once unmeasured, then
# every tool runs N times (default 3), the tools taking turns, and the
# medians are reported; so does openssl over the files TwinSift hashes, as
# the reference for its hashing throughput. Cold runs (as root, unless
# --no-cold) empty the page cache (sync; echo 3 > /proc/sys/vm/drop_caches)
# before every run of every tool. Bytes read are the rchar of the tool's
# /proc/PID/io, read by twinsift_measure while the finished process is a
# zombie, so the reads of all its threads count. The peers run find-only:
# nothing is deleted, reports go to /dev/null, their result files (rdfind,
# rmlint) into the temporary folder. Only the process times and sizes of
# the peers are taken; nothing of theirs is used otherwise.
#
# Output: markdown tables on standard output (README.md holds the last
# ones); progress on standard error. Takes 6 to 10 minutes on 2 cores.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=3
build=""
cold=yes
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs="$2"; shift 2 ;;
    --build-dir) build="$2"; shift 2 ;;
    --no-cold) cold=no; shift ;;
    *) echo "usage: bench/compare.sh [--runs N] [--build-dir DIR] [--no-cold]" >&2; exit 2 ;;
  esac
done

say() { echo "compare: $(date +%T) $*" >&2; }

# ---- Setup: the peers and the tools to build and measure -------------------
install_missing() {
  bash scripts/setup.sh --only fdupes jdupes rdfind rmlint time openssl cmake \
    ninja-build g++ libssl-dev libgtest-dev
}

build_release() {
  if [ -z "$build" ]; then
    say "building the linux-release preset"
    cmake --preset linux-release >&2
    cmake --build --preset linux-release --target twinsift twinsift_corpus \
      twinsift_measure >&2
    build=build/linux-release
  fi
  TS="$(realpath "$build/twinsift")"
  GEN="$(realpath "$build/twinsift_corpus")"
  METER="$(realpath "$build/twinsift_measure")"
  if [ ! -x "$TS" ] || [ ! -x "$GEN" ] || [ ! -x "$METER" ]; then
    echo "no twinsift, twinsift_corpus or twinsift_measure in $build" >&2
    exit 1
  fi
}

install_missing
build_release

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/out"

# ---- Measuring ---------------------------------------------------------------
# median FILE COLUMN: the median of that column of the lines in FILE.
median() {
  awk -v c="$2" '{print $c}' "$1" | sort -g |
    awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'
}

# drop_caches: empties the page cache when this round runs cold.
drop_caches() {
  if [ "$round_cold" = yes ]; then
    sync
    echo 3 > /proc/sys/vm/drop_caches
  fi
}
round_cold=no

# run_once NAME CMD...: runs CMD once in $tmp/out, standard streams to
# /dev/null, adding "seconds peak-KB bytes-read" to $tmp/times.NAME (or
# "failed").
run_once() {
  local log="$tmp/times.$1"
  shift
  drop_caches
  if ! (cd "$tmp/out" && "$METER" "$log" "$@" > /dev/null 2> /dev/null); then
    echo failed >> "$log"
  fi
  rm -f "$tmp"/out/*
}

# settle NAME: the medians of NAME's runs into $tmp/result.NAME, or
# "failed" when one run failed.
settle() {
  local log="$tmp/times.$1"
  if grep -q failed "$log"; then
    echo failed > "$tmp/result.$1"
  else
    echo "$(median "$log" 1) $(median "$log" 2) $(median "$log" 3)" \
      > "$tmp/result.$1"
  fi
  rm -f "$log"
}

seconds() { cut -d' ' -f1 "$tmp/result.$1"; }
peak_kb() { cut -d' ' -f2 "$tmp/result.$1"; }
bytes_read() { cut -d' ' -f3 "$tmp/result.$1"; }

# The rows of every table: label, then the command before the folders.
rows=(
  "TwinSift|$TS -r"
  "fdupes -r -q|fdupes -r -q"
  "fdupes -r (default)|fdupes -r"
  "jdupes -r -q|jdupes -r -q"
  "jdupes -r (default)|jdupes -r"
  "rdfind (default)|rdfind -outputname $tmp/out/results.txt"
  "rmlint (default)|rmlint"
)

# table KEY TITLE FILES: the markdown table of one corpus.
table() {
  local key="$1" title="$2" files="$3" ours oursRead label
  ours="$(seconds "$key.0")"
  oursRead="$(bytes_read "$key.0")"
  echo
  echo "**$title**"
  echo
  echo "| tool | median s | tool / TwinSift | peak RSS MB | RSS bytes per file | MB read | read / TwinSift's |"
  echo "|---|---:|---:|---:|---:|---:|---:|"
  for i in "${!rows[@]}"; do
    label="${rows[$i]%%|*}"
    if [ "$(cat "$tmp/result.$key.$i")" = failed ]; then
      echo "| $label | failed | | | | | |"
      continue
    fi
    awk -v l="$label" -v t="$(seconds "$key.$i")" -v o="$ours" \
        -v k="$(peak_kb "$key.$i")" -v n="$files" \
        -v r="$(bytes_read "$key.$i")" -v ro="$oursRead" 'BEGIN {
      printf "| %s | %.2f | %.2f | %.1f | %.0f | %.1f | %.2f |\n", l, t,
             (o > 0 ? t / o : 0), k / 1024, k * 1024 / n, r / 1e6,
             (ro > 0 ? r / ro : 0) }'
  done
  echo
  peers "$key"
}

# peers KEY: the fastest and the leanest peer row against TwinSift.
peers() {
  local i fast="" fastT="" lean="" leanK=""
  for i in "${!rows[@]}"; do
    [ "$i" -eq 0 ] && continue
    [ "$(cat "$tmp/result.$1.$i")" = failed ] && continue
    if [ -z "$fastT" ] || awk -v a="$(seconds "$1.$i")" -v b="$fastT" \
         'BEGIN {exit !(a < b)}'; then
      fast="${rows[$i]%%|*}"; fastT="$(seconds "$1.$i")"
    fi
    if [ -z "$leanK" ] || [ "$(peak_kb "$1.$i")" -lt "$leanK" ]; then
      lean="${rows[$i]%%|*}"; leanK="$(peak_kb "$1.$i")"
    fi
  done
  awk -v f="$fast" -v ft="$fastT" -v o="$(seconds "$1.0")" -v l="$lean" \
      -v lk="$leanK" -v ok="$(peak_kb "$1.0")" 'BEGIN {
    printf "Fastest peer: %s, %.2f s, %.2f times TwinSift'"'"'s time. ", f, ft, ft / o;
    printf "Leanest peer: %s; TwinSift'"'"'s peak RSS is %.1f times its.\n", l, ok / lk }'
}

# run_corpus KEY [nodata|cold]: every row on the corpus folders in dirs,
# and openssl over the files TwinSift hashes unless nodata. The files are
# read once first, or with cold the page cache is emptied before every run.
# The rows take turns, one run each per round, so that a burst of load on
# the machine falls on all of them alike.
run_corpus() {
  local key="$1" i round
  round_cold=no
  [ "${2:-}" = cold ] && round_cold=yes
  say "$key: warming the page cache"
  if [ "${2:-}" != nodata ]; then
    find "${dirs[@]}" -type f -print0 | xargs -0 cat > /dev/null
  fi
  "$TS" -r "${dirs[@]}" > /dev/null
  for round in $(seq "$runs"); do
    say "$key: round $round of $runs"
    for i in "${!rows[@]}"; do
      # shellcheck disable=SC2086  # the row's command splits into words
      run_once "$key.$i" ${rows[$i]#*|} "${dirs[@]}"
    done
    if [ "${2:-}" != nodata ]; then
      run_once "$key.ssl" xargs -a "$corpus/hashed.list" openssl dgst -sha256
    fi
  done
  for i in "${!rows[@]}"; do settle "$key.$i"; done
  if [ "${2:-}" != nodata ]; then settle "$key.ssl"; fi
}

# Sets $corpus, $files, $hashed (files, bytes) for a new corpus.
generate() {
  corpus="$tmp/$1"
  say "$1: writing the corpus"
  summary="$("$GEN" "${@:2}" "$corpus")"
  sync
  files="$(echo "$summary" | awk '{print $1}')"
  hashed="$(echo "$summary" | awk -F'; ' '{print $2}' | awk '{print $1, $3}')"
}

hashing_line() {
  local key="$1"
  awk -v s="$(seconds "$key.ssl")" -v o="$(seconds "$key.0")" \
      -v h="$hashed" 'BEGIN {
    split(h, f, " "); sub(/\(/, "", f[2]);
    printf "\nTwinSift hashes %d files (%.0f MB). `openssl dgst -sha256` over the same files: %.2f s; TwinSift hashing throughput = %.2f of openssl'"'"'s (target at least 0.90).\n",
           f[1], f[2] / 1e6, s, s / o }'
}

start=$(date +%s)
{
  echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(awk '/MemTotal/ {printf "%.0f GB", $2/1048576}' /proc/meminfo) RAM, Linux $(uname -r), $(sed -n 's/^PRETTY_NAME="\(.*\)"/\1/p' /etc/os-release)."
  echo
  echo "Peers: $(dpkg-query -W -f='${Package} ${Version}, ' fdupes jdupes rdfind rmlint | sed 's/, $//')."
  echo
  echo "Median of $runs runs each, warm page cache unless a table says cold; times in seconds of wall clock; MB read: the rchar of /proc/PID/io (every read call of every thread, page cache or not)."
}

# Cold runs need root for drop_caches.
if [ "$cold" = yes ] && ! [ -w /proc/sys/vm/drop_caches ]; then
  say "not root: no cold-cache runs"
  cold=no
fi

generate camera camera
dirs=("$corpus/card" "$corpus/library")
run_corpus camera
table camera "Camera import: \`-r card library\`, 1,000 pictures on the card (half already in the library under other names), 10,000 in 400 dated folders, 100 KB to 1 MB" "$files"
hashing_line camera
if [ "$cold" = yes ]; then
  run_corpus camera_cold cold
  table camera_cold "Camera import, cold page cache (emptied before every run)" "$files"
  hashing_line camera_cold
fi
rm -rf "$corpus"

generate small small
dirs=("$corpus/small")
run_corpus small
table small "Many small files: \`-r\`, 100,000 files of 1 to 16 KiB in a three-level tree, a fifth of them copies" "$files"
hashing_line small
rm -rf "$corpus"

generate large large
dirs=("$corpus/large")
run_corpus large
table large "Large duplicates: \`-r\`, 40 files of 64 MiB, 10 identical pairs" "$files"
hashing_line large
if [ "$cold" = yes ]; then
  run_corpus large_cold cold
  table large_cold "Large duplicates, cold page cache (emptied before every run)" "$files"
  hashing_line large_cold
fi
rm -rf "$corpus"

for where in start middle end; do
  generate "differ_$where" differ "$where"
  dirs=("$corpus/differ")
  run_corpus "differ_$where"
  table "differ_$where" "Same sizes, different at the $where: \`-r\`, 30 sizes of 4 to 8 MiB, each a pair of copies and a file one byte off at the $where" "$files"
  hashing_line "differ_$where"
  rm -rf "$corpus"
done

for n in 100000 300000; do
  generate "sizes$n" sizes "$n"
  dirs=("$corpus/sizes")
  run_corpus "sizes$n" nodata
  table "sizes$n" "Distinct sizes: \`-r\`, $(echo "$n" | sed ':a;s/\B[0-9]\{3\}\>/,&/;ta') sparse files of different sizes, 1,000 to a folder (nothing to hash)" "$files"
  rm -rf "$corpus"
done
awk -v a="$(seconds sizes100000.0)" -v b="$(seconds sizes300000.0)" 'BEGIN {
  printf "\nTwinSift, 300,000 distinct sizes against 100,000: %.2f times the time (target at most 3.5).\n", b / a }'
echo
echo "Whole benchmark: $(( $(date +%s) - start )) s."
