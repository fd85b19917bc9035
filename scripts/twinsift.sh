#!/usr/bin/env bash
# Builds TwinSift (Linux release) and runs it on the named folder, or on a
# small demo folder of generated duplicate pictures when none is named.
# Extra switches may come first: scripts/twinsift.sh -v ~/Pictures
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
# The program alone needs none of the tests' packages: a first configuration
# leaves the tests out, and the test run's preset brings them back in.
configure=(cmake --preset linux-release -S "$root")
if [ ! -f "$root/build/linux-release/CMakeCache.txt" ]; then
  configure+=(-DTWINSIFT_TESTS=OFF)
fi
"${configure[@]}" >/dev/null
cmake --build "$root/build/linux-release" --target twinsift >/dev/null

args=("$@")
has_param=0
for a in "${args[@]}"; do
  case "$a" in -*) ;; *) has_param=1 ;; esac
done
if [ $has_param -eq 0 ]; then
  demo="$root/demo"
  "$root/scripts/make-demo.sh" "$demo"
  echo "No folder named: running on the demo folder $demo" >&2
  args=(-r "${args[@]}" "$demo/card" "$demo/library")
fi
exec "$root/build/linux-release/twinsift" "${args[@]}"
