# Sourced by the scripts that run the Windows build under Wine: a private
# prefix inside the build folder and one persistent Wine server for the run,
# always stopped at exit so that no Wine process keeps the caller's pipes open.
export WINEDEBUG=-all
export WINEPREFIX="${WINEPREFIX:-$PWD/build/windows-release/wineprefix}"
export WINEDLLOVERRIDES="mscoree,mshtml="
# Debian's wine64 puts no wineserver on PATH.
WINESERVER="${WINESERVER:-$(command -v wineserver || echo /usr/lib/wine/wineserver)}"

wine_start() {
  mkdir -p "$WINEPREFIX"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    /usr/lib/wine/wine64 wineboot --init </dev/null >/dev/null 2>&1 || true
  fi
  "$WINESERVER" -p </dev/null >/dev/null 2>&1 &
  # The first program of a server starts services.exe and winedevice.exe,
  # which inherit that program's streams: start them here, detached, so
  # that no test's output pipe is held open by them.
  /usr/lib/wine/wine64 wineboot </dev/null >/dev/null 2>&1 || true
  trap wine_stop EXIT
}

wine_stop() {
  "$WINESERVER" -k </dev/null >/dev/null 2>&1 || true
}
