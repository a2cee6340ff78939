#!/usr/bin/env bash
# The desktop tier: runs every case tests/desktop/*.sh (each a self-contained script that takes
# the build folder as $1 and exits 0 when it passes) one after another, each on its own X server,
# and fails when any case fails. Cases are timed, so they run alone rather than beside others.
# Usage: tools/desktop-tests.sh BUILD_DIR [CASE...]   (CASE: a file name without .sh)
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
[ $# -ge 1 ] || { echo "usage: tools/desktop-tests.sh BUILD_DIR [CASE...]" >&2; exit 2; }
build=$(cd "$1" && pwd) || exit 2
shift
cases=()
if [ $# -gt 0 ]; then
  for name in "$@"; do cases+=("$top/tests/desktop/$name.sh"); done
else
  for f in "$top"/tests/desktop/*.sh; do
    [ "$(basename "$f")" = lib.sh ] || cases+=("$f")
  done
fi
passed=0
failed=()
for f in "${cases[@]}"; do
  name=$(basename "$f" .sh)
  log=$(mktemp)
  start=$(date +%s%3N)
  # A case that hangs is ended; its own clean-up ends what it started.
  timeout -k 10 180 bash "$f" "$build" >"$log" 2>&1
  status=$?
  ms=$(($(date +%s%3N) - start))
  if [ $status -eq 0 ]; then
    echo "PASS $name (${ms} ms)"
    passed=$((passed + 1))
  else
    echo "FAIL $name (status $status, ${ms} ms)"
    sed 's/^/    /' "$log"
    failed+=("$name")
  fi
  rm -f "$log"
done
echo "desktop tier: $passed passed, ${#failed[@]} failed${failed:+ (${failed[*]})}"
[ ${#failed[@]} -eq 0 ]
