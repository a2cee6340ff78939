#!/usr/bin/env bash
# A borderless main window dragged by its drag map (the window command's drag layer): a press on
# the map's coloured pixels and a move carry the window along; a press beside them does not.
# With --bare (drag_bare.sh) on an X server without a window manager, which moves nothing itself.
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/game.bash"
desk_init "$1" "${2:-}"
"$ZPKIT" demo-art "$DESK_TMP/game" >"$DESK_TMP/art.log" 2>&1 || desk_fail "no pictures (see $DESK_TMP/art.log)"
# cg/window.bmp (600 x 120) is the map: its pixels are coloured, the rest of the window is not.
desk_game "$DESK_TMP/game" "*SYSTEM_START
layer name = 'W0/map', file = 'cg/window.bmp', order = 1
window index = 0, drag = 'W0/map', title = 'Drag case'
loop
    wait frames = 1
endloop" 'width = 640
height = 480
title = Drag case
framed = 0'
desk_play 'Drag case'
win=$DESK_WIN
geometry() { desk_geometry "$win" | cut -d' ' -f1,2; }
sleep 0.5
read -r x0 y0 <<<"$(geometry)"
drag() {
  xdotool mousemove $((x0 + $1)) $((y0 + $2)) mousedown 1
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    xdotool mousemove_relative 10 5
    sleep 0.05
  done
  xdotool mouseup 1
}
drag 320 200
sleep 0.5
[ "$(geometry)" = "$x0 $y0" ] || desk_fail "a press beside the drag map moved the window to $(geometry) from $x0 $y0"
drag 100 20
_moved() { [ "$(geometry)" = "$((x0 + 100)) $((y0 + 50))" ]; }
desk_until 5 _moved || desk_fail "the drag moved the window to $(geometry), not by 100, 50 from $x0 $y0"
exit 0
