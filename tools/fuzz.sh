#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for SECONDS each (default 30), from a fresh copy of
# its seed corpus, under AddressSanitizer and UndefinedBehaviorSanitizer. A crash, a sanitizer
# report or a leak is a finding: its log tail and the reproducing input are printed, and the
# script exits 1 after running the rest. Build the tree first:
#   CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DZEPHRA_FUZZ=ON -DZEPHRA_TESTS=OFF
#   cmake --build build/fuzz
# Usage: tools/fuzz.sh [BUILD] [SECONDS]      (BUILD defaults to build/fuzz)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/fuzz}
seconds=${2:-30}
dir=$build/tests/fuzz
[ -d "$dir" ] || { echo "no fuzz build in $build" >&2; exit 2; }
work=$(mktemp -d "${TMPDIR:-/tmp}/zephra-fuzz-run-XXXXXX")
trap 'rm -rf "$work"' EXIT
# libvorbisfile keeps 8 bytes of a stream that fails to open: the library's leak, not ours.
export LSAN_OPTIONS="suppressions=$root/tools/fuzz-lsan.supp:print_suppressions=0"
export ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy ZEPHRA_DIALOGS=stderr
status=0
found=0
for target in "$dir"/*_fuzz; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  short=${name%_fuzz}
  short=${short#image_}
  seeds=$dir/seeds/$short
  corpus=$work/$name
  mkdir -p "$corpus"
  [ -d "$seeds" ] && cp -r "$seeds"/. "$corpus"/ 2>/dev/null || true
  found=$((found + 1))
  log=$work/$name.log
  if "$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=3072 -close_fd_mask=3 \
      -artifact_prefix="$work/$name-" -print_final_stats=1 "$corpus" >"$log" 2>&1; then
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | grep -o '[0-9]*' || echo '?')
    echo "$name: clean, $runs runs, coverage $cov"
  else
    status=1
    echo "$name: FINDING"
    tail -n 40 "$log"
    for a in "$work/$name"-*; do
      [ -f "$a" ] && { echo "input $a:"; od -A d -t x1 "$a" | head -n 20; }
    done
  fi
done
[ "$found" -gt 0 ] || { echo "no fuzz targets in $dir" >&2; exit 2; }
exit $status
