#!/usr/bin/env bash
# Writes the Debian package's changelog.gz from CHANGELOG.md: a native
# package's changelog must be in Debian's format, so each "## VERSION -
# YYYY-MM-DD" section becomes an entry of VERSION dated that day, and
# "## Unreleased" an UNRELEASED entry of VERSION+unreleased dated now
# (SOURCE_DATE_EPOCH when set). Bullet items become "*" items; backquotes
# are dropped.
#
#   scripts/debian-changelog.sh CHANGELOG.md VERSION MAINTAINER OUT.gz
set -euo pipefail
[ $# -eq 4 ] || { sed -n 's/^#   //p' "$0" >&2; exit 2; }
in=$1 version=$2 maintainer=$3 out=$4
now=$(date -u -R ${SOURCE_DATE_EPOCH:+-d @$SOURCE_DATE_EPOCH})

awk -v version="$version" -v maintainer="$maintainer" -v now="$now" '
function fail(why) {
  printf "%s:%d: %s\n", FILENAME, FNR, why > "/dev/stderr"
  failed = 1
  exit 1
}
function close_entry() {
  if (entries > 0) printf "\n -- %s  %s\n", maintainer, date
}
function rfc2822(day,    cmd, text) {
  cmd = "date -u -R -d " day
  if ((cmd | getline text) <= 0) fail("not a date: " day)
  close(cmd)
  return text
}
/^## / {
  close_entry()
  if (entries++ > 0) print ""
  if ($0 == "## Unreleased") {
    printf "twinsift (%s+unreleased) UNRELEASED; urgency=medium\n", version
    date = now
  } else if ($0 ~ /^## [0-9][0-9.]* - [0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]$/) {
    printf "twinsift (%s) unstable; urgency=medium\n", $2
    date = rfc2822($4)
  } else {
    fail("a section heading is \"## Unreleased\" or \"## VERSION - YYYY-MM-DD\"")
  }
  print ""
  next
}
entries == 0 || /^[ \t]*$/ { next }
{ gsub(/`/, "") }
/^- / { print "  * " substr($0, 3); next }
/^  / { print "    " substr($0, 3); next }
{ print "  " $0 }
END {
  if (failed) exit 1
  if (entries == 0) fail("no section")
  close_entry()
}' "$in" | gzip -9n >"$out.tmp" || { rm -f "$out.tmp"; exit 1; }
mv "$out.tmp" "$out"
