# Sourced by the scripts that run the Windows build under Wine: a private
# prefix inside the build folder and one persistent Wine server for the run,
# always stopped at exit so that no Wine process keeps the caller's pipes open.
export WINEDEBUG=-all
export WINEPREFIX="${WINEPREFIX:-$PWD/build/windows-release/wineprefix}"
export WINEDLLOVERRIDES="mscoree,mshtml="

wine_start() {
  mkdir -p "$WINEPREFIX"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    /usr/lib/wine/wine64 wineboot --init </dev/null >/dev/null 2>&1 || true
  fi
  wineserver -p </dev/null >/dev/null 2>&1 &
  trap wine_stop EXIT
}

wine_stop() {
  wineserver -k </dev/null >/dev/null 2>&1 || true
}
