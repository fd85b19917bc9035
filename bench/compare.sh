#!/usr/bin/env bash
# TwinSift side by side with fdupes, jdupes, rdfind and rmlint on generated
# corpora and on a real tree: median wall time, peak RSS and bytes read of
# each tool, with the page cache warm and, for the camera import, the large
# duplicates and the real tree, cold; TwinSift on one core against all
# cores; and per corpus the SHA-256 limit of this machine's cores.
#
#   bench/compare.sh [--runs N] [--build-dir DIR] [--no-cold]
#                    [--real-tree DIR|none] [--no-real-cold] [--reference BIN]
#                    [--only camera,small,large,differ,sizes,real]
#
# Setup: as root, installs what is missing from Debian's packages (the four
# peers, GNU time, openssl and the build tools); as another user it prints
# the apt-get command and stops. Build: the linux-release preset
# (build/linux-release), or the build named by --build-dir (it must hold
# twinsift, twinsift_corpus, twinsift_measure and twinsift_heads, built
# with -DTWINSIFT_BENCH=ON in Release).
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
# Reports: every measured TwinSift run writes its report to a file, which
# must be byte-identical to that of the unmeasured first run on the same
# corpus; so must the reports of the build named by --reference (a
# twinsift program, for instance the last merged build), which then also
# gets a row of its own. A difference is shown under the table and on
# standard error, and the script ends with status 1.
#
# Core scaling: on the hash-bound corpora (camera import, large duplicates,
# same-size files) a row "TwinSift, one core" (taskset -c 0) takes its turn
# with the others in the warm rounds; a table at the end sets it against
# the run on all cores.
#
# SHA-256 limit: per corpus, the bytes that must be hashed (twinsift_heads:
# the files of a shared size whose first 4 KiB another file of that size
# shares, a source among them; see bench/heads/heads.cpp) divided by one
# core's SHA-256 speed (`openssl speed -elapsed`, 1 s over 1 MiB blocks,
# once per round, so it sees the load the tools see) and by the number of
# cores: the time that hashing alone would take on every core.
#
# Real tree: a large folder already on the machine (--real-tree, default
# /usr; none leaves it out), searched report only, `-a -r`, never with -d;
# the peers run on it as on the corpora (rmlint, as it runs by default,
# leaves hidden files out, and calls fsync on every file whose extents it
# maps, which waits on every other writer of the disk: 170 s a run on /usr
# on a busy machine). Cold rounds too, unless --no-cold or --no-real-cold.
# The tree is listed before and after; a change meanwhile (a package
# installed) is noted under its table.
#
# --only takes the corpora named (comma-separated) and no others.
#
# Output: markdown tables on standard output (bench/README.md holds the last
# ones); progress on standard error. With --runs 1 the whole run took 21
# minutes on 2 cores shared with other builds, 4 of them writing corpora,
# listing and warming, 8 of them rmlint's (its syncs: 106 s on the many
# small files there, 9 s on a quiet machine); each more round adds about
# 17 minutes at that load, 9 of them the real tree's cold round
# (--no-real-cold leaves it out). --runs 5: about 1.5 hours at that load,
# 30 to 40 minutes on a quiet machine.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=3
build=""
cold=yes
real_tree=/usr
real_cold=yes
reference=""
only=""
usage="usage: bench/compare.sh [--runs N] [--build-dir DIR] [--no-cold] [--real-tree DIR|none] [--no-real-cold] [--reference BIN] [--only LIST]"
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs="$2"; shift 2 ;;
    --build-dir) build="$2"; shift 2 ;;
    --no-cold) cold=no; shift ;;
    --real-tree) real_tree="$2"; shift 2 ;;
    --no-real-cold) real_cold=no; shift ;;
    --reference) reference="$2"; shift 2 ;;
    --only) only="$2"; shift 2 ;;
    *) echo "$usage" >&2; exit 2 ;;
  esac
done

say() { echo "compare: $(date +%T) $*" >&2; }
die() { echo "compare: $*" >&2; exit 1; }
# want CORPUS: whether --only leaves CORPUS in (all of them without it).
want() { [ -z "$only" ] || [[ ",$only," == *",$1,"* ]]; }

if [ "$real_tree" != none ]; then
  [ -d "$real_tree" ] || die "--real-tree $real_tree: no such folder"
  real_tree="$(realpath "$real_tree")"
fi
REF=""
if [ -n "$reference" ]; then
  [ -x "$reference" ] || die "--reference $reference: not a program"
  REF="$(realpath "$reference")"
fi

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
      twinsift_measure twinsift_heads >&2
    build=build/linux-release
  fi
  local tool
  for tool in twinsift twinsift_corpus twinsift_measure twinsift_heads; do
    [ -x "$build/$tool" ] || die "no $tool in $build"
  done
  TS="$(realpath "$build/twinsift")"
  GEN="$(realpath "$build/twinsift_corpus")"
  METER="$(realpath "$build/twinsift_measure")"
  HEADS="$(realpath "$build/twinsift_heads")"
}

install_missing
build_release
cores="$(nproc)"

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

# run_once NAME REPORT CMD...: runs CMD once in $tmp/out, its standard
# output to the file REPORT and its errors to /dev/null, adding "seconds
# peak-KB bytes-read" to $tmp/times.NAME (or "failed").
run_once() {
  local log="$tmp/times.$1" report="$2"
  shift 2
  drop_caches
  if ! (cd "$tmp/out" && "$METER" "$log" "$@" > "$report" 2> /dev/null); then
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

# set_rows SWITCHES [scaling]: the rows of the next tables, label, then the
# command before the folders; TwinSift's rows get SWITCHES. Row 0 is
# TwinSift, 1 to 6 the peers, 7 TwinSift on one core (with scaling), 8 the
# reference build (with --reference); the array is sparse without them.
set_rows() {
  switches="$1"
  rows=(
    "TwinSift|$TS $switches"
    "fdupes -r -q|fdupes -r -q"
    "fdupes -r (default)|fdupes -r"
    "jdupes -r -q|jdupes -r -q"
    "jdupes -r (default)|jdupes -r"
    "rdfind (default)|rdfind -outputname $tmp/out/results.txt"
    "rmlint (default)|rmlint"
  )
  if [ "${2:-}" = scaling ]; then
    rows[7]="TwinSift, one core|taskset -c 0 $TS $switches"
  fi
  if [ -n "$REF" ]; then rows[8]="TwinSift reference|$REF $switches"; fi
}

# is_ours I: whether row I runs a TwinSift build (its report is checked).
is_ours() { [ "$1" -eq 0 ] || [ "$1" -ge 7 ]; }

# report_only: stops unless every row only reports: no TwinSift switch
# word with d (erase), no peer option that deletes or links.
report_only() {
  local i w
  for w in $switches; do
    case "$w" in [-/]*[dD]*) die "switch $w would erase on the real tree" ;; esac
  done
  for i in "${!rows[@]}"; do
    is_ours "$i" && continue
    for w in ${rows[$i]#*|}; do
      case "$w" in
        -d|-dN|--delete|-L|--link*|-deleteduplicates|-makehardlinks|-makesymlinks)
          die "${rows[$i]%%|*} would change the real tree" ;;
      esac
    done
  done
}

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
  reports_line "$key"
}

# peers KEY: the fastest and the leanest peer row against TwinSift.
peers() {
  local i fast="" fastT="" lean="" leanK=""
  for i in "${!rows[@]}"; do
    is_ours "$i" && continue
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

# reports_line KEY: whether every measured TwinSift report matched the first.
reports_line() {
  local n=0 i
  for i in "${!rows[@]}"; do is_ours "$i" && n=$((n + runs)); done
  echo
  if [ -s "$tmp/differ.$1" ]; then
    any_differ=yes
    echo "**Reports differ** from the first run's: $(sed 's/$/;/' "$tmp/differ.$1" | tr '\n' ' ' | sed 's/; $//') (of $n runs)."
  else
    echo "Reports: all $n measured runs of $([ -n "$REF" ] && echo "TwinSift and the reference build" || echo TwinSift) byte-identical to TwinSift's first run."
  fi
}
any_differ=no

# run_corpus KEY [cold] [nodata] [nodgst]: every row on the folders in
# dirs; with data, one core's SHA-256 speed each round and, unless nodgst,
# openssl over the files TwinSift hashes. The files are read once first,
# or with cold the page cache is emptied before every run. The rows take
# turns, one run each per round, so that a burst of load on the machine
# falls on all of them alike.
run_corpus() {
  local key="$1" i round word data=yes dgst=yes out
  round_cold=no
  for word in "${@:2}"; do
    case "$word" in
      cold) round_cold=yes ;;
      nodata) data=no; dgst=no ;;
      nodgst) dgst=no ;;
    esac
  done
  say "$key: $([ "$round_cold" = yes ] && echo "first run" || echo "warming the page cache")"
  if [ "$data" = yes ] && [ "$round_cold" = no ]; then
    # A corpus just written is still being written back to the disk: let
    # that end first, so that it takes no core from the rounds.
    sync
    find "${dirs[@]}" -type f -print0 | xargs -0 cat > /dev/null ||
      say "$key: some files could not be read"
  fi
  # shellcheck disable=SC2086  # the switches split into words
  "$TS" $switches "${dirs[@]}" > "$tmp/report.$key"
  rm -f "$tmp/differ.$key" "$tmp/speed.$key"
  for round in $(seq "$runs"); do
    say "$key: round $round of $runs"
    for i in "${!rows[@]}"; do
      out=/dev/null
      is_ours "$i" && out="$tmp/report.run"
      # shellcheck disable=SC2086  # the row's command splits into words
      run_once "$key.$i" "$out" ${rows[$i]#*|} "${dirs[@]}"
      if is_ours "$i" && ! cmp -s "$tmp/report.run" "$tmp/report.$key"; then
        echo "${rows[$i]%%|*} in round $round" >> "$tmp/differ.$key"
        say "$key: ${rows[$i]%%|*}, round $round: the report differs from the first run's"
        diff "$tmp/report.$key" "$tmp/report.run" | head -20 >&2 || true
      fi
    done
    if [ "$dgst" = yes ]; then
      run_once "$key.ssl" /dev/null \
        xargs -a "$corpus/hashed.list" openssl dgst -sha256
    fi
    if [ "$data" = yes ]; then
      openssl speed -elapsed -mr -seconds 1 -bytes 1048576 sha256 2> /dev/null |
        awk -F: '/^\+F:/ {print $4}' >> "$tmp/speed.$key"
    fi
  done
  for i in "${!rows[@]}"; do settle "$key.$i"; done
  if [ "$dgst" = yes ]; then settle "$key.ssl"; fi
  if [ "$data" = yes ]; then median "$tmp/speed.$key" 1 > "$tmp/result.$key.speed"; fi
  rm -f "$tmp/report.run"
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

# count_heads: $must, "files bytes" that must be hashed on the folders in
# dirs (the first is the source).
count_heads() {
  must="$("$HEADS" "${dirs[@]}")"
}

hashing_line() {
  local key="$1"
  awk -v s="$(seconds "$key.ssl")" -v o="$(seconds "$key.0")" \
      -v h="$hashed" 'BEGIN {
    split(h, f, " "); sub(/\(/, "", f[2]);
    printf "\nTwinSift hashes %d files (%.0f MB). `openssl dgst -sha256` over the same files: %.2f s; TwinSift hashing throughput = %.2f of openssl'"'"'s (target at least 0.90).\n",
           f[1], f[2] / 1e6, s, s / o }'
}

# limit_line KEY [TARGET]: the SHA-256 limit of all cores on this corpus,
# also kept in $tmp/limit.KEY for the scaling table.
limit_line() {
  local key="$1" target="${2:-}"
  awk -v m="$must" -v s="$(cat "$tmp/result.$key.speed")" -v c="$cores" 'BEGIN {
    split(m, f, " ");
    if (f[2] == 0 || s <= 0) { print 0; exit }
    print f[2] / s / c }' > "$tmp/limit.$key"
  awk -v m="$must" -v s="$(cat "$tmp/result.$key.speed")" -v c="$cores" \
      -v o="$(seconds "$key.0")" -v t="$target" \
      -v l="$(cat "$tmp/limit.$key")" 'BEGIN {
    split(m, f, " ");
    if (l == 0) exit;
    printf "\n%d-core SHA-256 limit: %.0f MB to hash (%d files of a shared size whose first 4 KiB another file of that size shares) / %.0f MB/s (`openssl speed`, one core, median of the rounds) / %d cores = %.2f s. TwinSift: %.2f s, %.2f times the limit%s.\n",
           c, f[2] / 1e6, f[1], s / 1e6, c, l, o, o / l,
           (t != "" ? " (target at most " t ")" : "") }'
}

# 1234567 -> 1,234,567
commas() { echo "$1" | sed ':a;s/\B[0-9]\{3\}\>/,&/;ta'; }

# hash_bound KEY TITLE: a hash-bound corpus's warm table, with the one-core
# row, its hashing and limit lines; the key joins the scaling table.
scaling_keys=()
scaling_titles=()
hash_bound() {
  set_rows "-r" scaling
  count_heads
  run_corpus "$1"
  table "$1" "$2" "$files"
  hashing_line "$1"
  limit_line "$1" 1.15
  scaling_keys+=("$1")
  scaling_titles+=("$3")
  set_rows "-r"
}

# cold_table KEY TITLE: the same corpus with the page cache emptied.
cold_table() {
  run_corpus "$1" cold
  table "$1" "$2" "$files"
  hashing_line "$1"
  limit_line "$1"
}

scaling_table() {
  local i key jd
  [ ${#scaling_keys[@]} -eq 0 ] && return
  echo
  echo "**Core scaling, warm page cache: TwinSift restricted to one core (\`taskset -c 0\`) and on all $cores; jdupes (one thread) for scale**"
  echo
  echo "| corpus | one core s | $cores cores s | speed-up | $cores-core SHA-256 limit s | TwinSift / limit | jdupes -r -q s | jdupes / TwinSift |"
  echo "|---|---:|---:|---:|---:|---:|---:|---:|"
  for i in "${!scaling_keys[@]}"; do
    key="${scaling_keys[$i]}"
    jd="$(seconds "$key.3")"
    awk -v l="${scaling_titles[$i]}" -v one="$(seconds "$key.7")" \
        -v all="$(seconds "$key.0")" -v lim="$(cat "$tmp/limit.$key")" \
        -v j="$jd" 'BEGIN {
      printf "| %s | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f |\n", l,
             one, all, (all > 0 ? one / all : 0), lim,
             (lim > 0 ? all / lim : 0), j, (all > 0 ? j / all : 0) }'
  done
}

start=$(date +%s)
{
  echo "Machine: $cores cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(awk '/MemTotal/ {printf "%.0f GB", $2/1048576}' /proc/meminfo) RAM, Linux $(uname -r), $(sed -n 's/^PRETTY_NAME="\(.*\)"/\1/p' /etc/os-release); $(openssl version | cut -d' ' -f1-2)."
  echo
  echo "Peers: $(dpkg-query -W -f='${Package} ${Version}, ' fdupes jdupes rdfind rmlint | sed 's/, $//')."
  echo
  echo "Median of $runs runs each, warm page cache unless a table says cold; times in seconds of wall clock; MB read: the rchar of /proc/PID/io (every read call of every thread, page cache or not)."
  if [ -n "$REF" ]; then
    echo
    echo "TwinSift reference: $REF."
  fi
}

# Cold runs need root for drop_caches.
if [ "$cold" = yes ] && ! [ -w /proc/sys/vm/drop_caches ]; then
  say "not root: no cold-cache runs"
  cold=no
fi

set_rows "-r"
if want camera; then
  generate camera camera
  dirs=("$corpus/card" "$corpus/library")
  hash_bound camera "Camera import: \`-r card library\`, 1,000 pictures on the card (half already in the library under other names), 10,000 in 400 dated folders, 100 KB to 1 MB" "Camera import"
  if [ "$cold" = yes ]; then
    cold_table camera_cold "Camera import, cold page cache (emptied before every run)"
  fi
  rm -rf "$corpus"
fi

if want small; then
  generate small small
  dirs=("$corpus/small")
  count_heads
  run_corpus small
  table small "Many small files: \`-r\`, 100,000 files of 1 to 16 KiB in a three-level tree, a fifth of them copies" "$files"
  hashing_line small
  limit_line small
  rm -rf "$corpus"
fi

if want large; then
  generate large large
  dirs=("$corpus/large")
  hash_bound large "Large duplicates: \`-r\`, 40 files of 64 MiB, 10 identical pairs" "Large duplicates"
  if [ "$cold" = yes ]; then
    cold_table large_cold "Large duplicates, cold page cache (emptied before every run)"
  fi
  rm -rf "$corpus"
fi

if want differ; then
  for where in start middle end; do
    generate "differ_$where" differ "$where"
    dirs=("$corpus/differ")
    hash_bound "differ_$where" "Same sizes, different at the $where: \`-r\`, 30 sizes of 4 to 8 MiB, each a pair of copies and a file one byte off at the $where" "Same sizes, different at the $where"
    rm -rf "$corpus"
  done
fi

if want sizes; then
  for n in 100000 300000; do
    generate "sizes$n" sizes "$n"
    dirs=("$corpus/sizes")
    run_corpus "sizes$n" nodata
    table "sizes$n" "Distinct sizes: \`-r\`, $(commas "$n") sparse files of different sizes, 1,000 to a folder (nothing to hash)" "$files"
    rm -rf "$corpus"
  done
  awk -v a="$(seconds sizes100000.0)" -v b="$(seconds sizes300000.0)" 'BEGIN {
    printf "\nTwinSift, 300,000 distinct sizes against 100,000: %.2f times the time (target at most 3.5).\n", b / a }'
fi

scaling_table

if [ "$real_tree" != none ] && want real; then
  dirs=("$real_tree")
  set_rows "-a -r"
  report_only
  say "real tree $real_tree: listing and counting what must be hashed"
  find "$real_tree" -type f -printf '%s %T@ %p\n' 2> /dev/null | sort > "$tmp/tree.before" || true
  files="$(wc -l < "$tmp/tree.before")"
  real_title="Real tree: \`-a -r $real_tree\`, report only (never -d), $(commas "$files") files, $(awk '{s += $1} END {printf "%.1f", s / 1e9}' "$tmp/tree.before") GB, already on the machine"
  count_heads
  run_corpus real nodgst
  table real "$real_title" "$files"
  limit_line real
  if [ "$cold" = yes ] && [ "$real_cold" = yes ]; then
    run_corpus real_cold cold nodgst
    table real_cold "Real tree $real_tree, cold page cache (emptied before every run)" "$files"
    limit_line real_cold
  fi
  find "$real_tree" -type f -printf '%s %T@ %p\n' 2> /dev/null | sort > "$tmp/tree.after" || true
  if ! cmp -s "$tmp/tree.before" "$tmp/tree.after"; then
    changed="$(diff "$tmp/tree.before" "$tmp/tree.after" | grep -c '^[<>]' || true)"
    echo
    echo "The tree changed during its runs ($changed lines of its listing): other work on the machine wrote to it, so its reports may differ for that reason."
  fi
fi
echo
echo "Whole benchmark: $(( $(date +%s) - start )) s."
if [ "$any_differ" = yes ]; then
  die "reports differ: see the tables"
fi
