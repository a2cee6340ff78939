#!/usr/bin/env bash
# Builds Zephra with AddressSanitizer and UndefinedBehaviorSanitizer and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh build
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZEPHRA_SANITIZE=ON -DZEPHRA_TESTS=ON >/dev/null
cmake --build build/test
cd build/test
ctest --output-on-failure -j "$(nproc)"
