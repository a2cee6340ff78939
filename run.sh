#!/usr/bin/env bash
# Builds Zephra (optimised, with debug info) and runs a game: the folder given, or the demo game.
# Usage: ./run.sh [GAME] [ARGS...]
set -euo pipefail
top=$(cd "$(dirname "$0")" && pwd)
cd "$top"
tools/install-deps.sh build
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEPHRA_TESTS=OFF >/dev/null
cmake --build build/release
# The demo game is built from its source folder by the kit, with the pictures and sounds the kit makes.
demo="$top/build/release/demo"
build_demo() {
  local src="$top/build/release/demo-src"
  rm -rf "$demo" "$src"
  cp -r "$top/examples/demo" "$src"
  build/release/zpkit demo-art "$src"
  build/release/zpkit demo-chara "$src"  # the animated girl, cg/girl.psb
  build/release/zpkit demosounds "$src"  # the music and the chime
  build/release/zpkit build "$src" "$demo"
}
if [ $# -eq 0 ]; then
  build_demo
  game="$demo"
elif [ -e "$1" ]; then
  game=$(realpath "$1"); shift
elif [[ "$1" =~ ^[-/][^/]*$ ]]; then
  build_demo
  game="$demo"  # a switch such as "/info" for the demo game
else
  game="$1"; shift  # zephra says that it does not exist
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  frames=${ZEPHRA_EXIT_AFTER_FRAMES:-300}
  dump="$top/build/release/last-frame.png"
  echo "No display: running the game under Xvfb for $frames frames."
  status=0
  ZEPHRA_EXIT_AFTER_FRAMES=$frames ZEPHRA_FRAME_DUMP="$dump" ZEPHRA_DIALOGS=stderr \
    xvfb-run -a -s "-screen 0 1920x1080x24" build/release/zephra "$game" "$@" || status=$?
  [ -f "$dump" ] && echo "Last frame written to $dump"
  exit $status
fi
exec build/release/zephra "$game" "$@"
