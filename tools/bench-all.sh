#!/usr/bin/env bash
# Builds the benchmarks (Release, build/bench) and runs them all pinned to the processors given
# in BENCH_CPUS (default: the last four), then prints every goal line and the goals missed.
# Extra arguments go to every benchmark (e.g. --benchmark_min_time=0.1s).
set -uo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DZEPHRA_BENCH=ON -DZEPHRA_TESTS=OFF >/dev/null || exit 1
cmake --build build/bench || exit 1
n=$(nproc)
cpus=${BENCH_CPUS:-$(( n > 4 ? n - 4 : 0 ))-$(( n - 1 ))}
out=$(mktemp)
trap 'rm -f "$out"' EXIT
echo "machine: $n processors, load average $(cut -d' ' -f1-3 /proc/loadavg); pinned to $cpus"
for b in build/bench/bench/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  taskset -c "$cpus" "$b" "$@" 2>&1 | tee -a "$out" | grep -E "^goal |goal\(s\) missed"
done
echo "== summary"
grep -E "^goal " "$out"
echo "$(grep -cE '^goal .* missed$' "$out") goal(s) missed"
