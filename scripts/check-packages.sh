#!/usr/bin/env bash
# Makes the two packages from the built linux-release and windows-release
# presets and checks them without installing either: the zip's files and its
# twinsift.exe under Wine, the Debian package's files and control fields, the
# program unpacked from it, and lintian's verdict (no error, no warning). The
# manual page must also pass groff's warnings.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' \
  build/linux-release/CMakeCache.txt)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
  echo "check-packages: $*" >&2
  exit 1
}
# same WHAT EXPECTED ACTUAL
same() {
  [ "$2" = "$3" ] || fail "$1: expected [$2], found [$3]"
}

for preset in linux-release windows-release; do
  cmake --build --preset $preset --target package >"$work/package.log" 2>&1 ||
    { cat "$work/package.log" >&2; fail "$preset: no package"; }
done
deb="build/linux-release/twinsift_${version}_amd64.deb"
zip="build/windows-release/twinsift-${version}-win64.zip"

# ---- Windows zip -------------------------------------------------------------
top="twinsift-${version}-win64"
same "zip contents" "$top/CHANGELOG.md
$top/LICENSE
$top/README.md
$top/bin/twinsift-view.exe
$top/bin/twinsift.exe" "$(unzip -Z1 "$zip" | grep -v '/$' | sort)"
unzip -q "$zip" -d "$work/zip"
cmp -s CHANGELOG.md "$work/zip/$top/CHANGELOG.md" ||
  fail "the zip's CHANGELOG.md is not the changelog"
exe="$work/zip/$top/bin/twinsift.exe"
strings -el "$exe" | grep -x "$version" >/dev/null ||
  fail "no version $version in $exe"
# Reuses the Wine server of a test run that sourced wine-env.sh; else starts
# (and at exit stops) its own.
if [ -z "${WINEPREFIX:-}" ]; then
  source scripts/wine-env.sh
  wine_start
  trap 'wine_stop; rm -rf "$work"' EXIT
fi
/usr/lib/wine/wine64 "$exe" -? </dev/null >"$work/help-win.txt" 2>&1 ||
  fail "twinsift.exe -? failed"
grep -q "^TwinSift - Find duplicate files - " "$work/help-win.txt" ||
  fail "twinsift.exe -? printed no help screen"
/usr/lib/wine/wine64 "$work/zip/$top/bin/twinsift-view.exe" -? </dev/null \
  >"$work/view-win.txt" 2>&1 || fail "twinsift-view.exe -? failed"
grep -q "^Usage: twinsift-view REPORT" "$work/view-win.txt" ||
  fail "twinsift-view.exe -? printed no usage"

# ---- Manual pages ------------------------------------------------------------
for page in twinsift twinsift-view; do
  groff_out=$(groff -man -ww -z docs/$page.1 2>&1) ||
    fail "groff failed on docs/$page.1: $groff_out"
  same "groff warnings on docs/$page.1" "" "$groff_out"
done

# ---- Debian package ----------------------------------------------------------
field() { dpkg-deb -f "$deb" "$1"; }
same Package twinsift "$(field Package)"
same Version "$version" "$(field Version)"
same Architecture amd64 "$(field Architecture)"
same Section utils "$(field Section)"
same Maintainer "TwinSift Maintainers <maintainers@twinsift.invalid>" \
  "$(field Maintainer)"
# sed reads to the end: a reader that stops early (head -1) can make the
# writer die of SIGPIPE, which pipefail turns into a failure.
synopsis=$(field Description | sed -n 1p)
same Description "duplicate-file finder that writes its report as a batch file" \
  "$synopsis"
depends=$(field Depends)
[[ "$depends" =~ (^|, )libssl3\ \(\>=\ [0-9.]+\) ]] ||
  fail "Depends holds no libcrypto (libssl3): $depends"
same "deb contents" "./usr/bin/twinsift
./usr/bin/twinsift-view
./usr/share/doc/twinsift/README.md
./usr/share/doc/twinsift/changelog.gz
./usr/share/doc/twinsift/copyright
./usr/share/man/man1/twinsift-view.1.gz
./usr/share/man/man1/twinsift.1.gz" \
  "$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort)"
dpkg-deb -x "$deb" "$work/deb"
prog="$work/deb/usr/bin/twinsift"
"$prog" -? </dev/null >"$work/help-deb.txt" || fail "twinsift -? failed"
grep -q "^TwinSift - Find duplicate files - " "$work/help-deb.txt" ||
  fail "twinsift -? printed no help screen"
mkdir -p "$work/pics/sub"
echo "one picture" >"$work/pics/a.jpg"
echo "one picture" >"$work/pics/sub/b.jpg"
echo "another one" >"$work/pics/c.jpg"
same "search report" "
del \"$work/pics/a.jpg\"
REM \"$work/pics/sub/b.jpg\"" "$("$prog" -r "$work/pics" </dev/null)"
"$work/deb/usr/bin/twinsift-view" - </dev/null >"$work/view.html" ||
  fail "twinsift-view - failed"
grep -q 'data-sets="0"' "$work/view.html" ||
  fail "twinsift-view made no page of an empty report"
cmp -s "$root/LICENSE" "$work/deb/usr/share/doc/twinsift/copyright" ||
  fail "copyright is not the licence"
for page in twinsift twinsift-view; do
  zcat "$work/deb/usr/share/man/man1/$page.1.gz" | cmp -s docs/$page.1 - ||
    fail "the package's manual page is not docs/$page.1"
done
heading=$(zcat "$work/deb/usr/share/doc/twinsift/changelog.gz" | sed -n 1p)
[[ "$heading" == "twinsift ("* ]] ||
  fail "changelog.gz is not in Debian's format: $heading"
# Any error or warning fails, and lintian's whole output is shown then;
# informational tags pass.
lintian --fail-on error,warning "$deb" >"$work/lintian.txt" 2>&1 ||
  { cat "$work/lintian.txt" >&2; fail "lintian: errors or warnings on $deb"; }

echo "Packages checked (lintian: no error, no warning): $deb, $zip"
