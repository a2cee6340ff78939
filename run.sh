#!/usr/bin/env bash
# Builds Zephra (optimised, with debug info) and runs a game: the folder given, or the demo game.
# Usage: ./run.sh [GAME] [ARGS...]
set -euo pipefail
top=$(cd "$(dirname "$0")" && pwd)
cd "$top"
tools/install-deps.sh build
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEPHRA_TESTS=OFF >/dev/null
cmake --build build/release
# The games of examples/ (the demo, and any other folder there) are built from their source
# folders by the kit, with the pictures, movie, character and sounds the kit makes: they carry no
# art of their own.
build_example() {
  local src="$top/build/release/$1-src" game="$top/build/release/$1"
  rm -rf "$game" "$src"
  cp -r "$top/examples/$1" "$src"
  build/release/zpkit demo-art "$src"    # cg/bg.bmp, cg/chara.bmp, cg/window.bmp, mv/intro.mpg
  build/release/zpkit demo-chara "$src"  # the animated girl, cg/girl.psb
  build/release/zpkit demosounds "$src"  # the music and the chime
  build/release/zpkit build "$src" "$game"
}
example_of() {  # the name of the examples/ folder that $1 is, if it is one
  local path
  path=$(realpath "$1")
  [ "$(dirname "$path")" = "$top/examples" ] && [ -f "$path/project.txt" ] && basename "$path"
}
if [ $# -eq 0 ]; then
  build_example demo
  game="$top/build/release/demo"
elif [ -e "$1" ] && name=$(example_of "$1"); then
  shift
  build_example "$name"
  game="$top/build/release/$name"
elif [ -e "$1" ]; then
  game=$(realpath "$1"); shift
elif [[ "$1" =~ ^[-/][^/]*$ ]]; then
  build_example demo
  game="$top/build/release/demo"  # a switch such as "/info" for the demo game
else
  game="$1"; shift  # zephra says that it does not exist
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  # The fixed clock makes the run repeatable and as fast as the machine allows: the demo plays to
  # its end (about 500 frames) and its last frame is the picture examples/demo/README.md shows.
  # The frame limit only stops a game that never ends.
  frames=${ZEPHRA_EXIT_AFTER_FRAMES:-3000}
  dump="$top/build/release/last-frame.png"
  echo "No display: running the game under Xvfb on the fixed clock until it ends (at most $frames frames)."
  status=0
  ZEPHRA_FIXED_CLOCK=1 ZEPHRA_EXIT_AFTER_FRAMES=$frames ZEPHRA_FRAME_DUMP="$dump" ZEPHRA_DIALOGS=stderr \
    xvfb-run -a -s "-screen 0 1920x1080x24" build/release/zephra "$game" "$@" || status=$?
  [ -f "$dump" ] && echo "Last frame written to $dump"
  exit $status
fi
exec build/release/zephra "$game" "$@"
