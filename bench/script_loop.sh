#!/usr/bin/env bash
# The script loop benchmark against Lua 5.4: installs lua5.4 when it is missing, builds the
# benchmarks in build/bench and runs the loop comparison.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v lua5.4 >/dev/null; then
  if [ "$(id -u)" = 0 ]; then apt-get install -y lua5.4; else sudo apt-get install -y lua5.4; fi
fi
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DZEPHRA_BENCH=ON >/dev/null
cmake --build build/bench --target bench_script_loop_bench
build/bench/bench/bench_script_loop_bench "$@"
