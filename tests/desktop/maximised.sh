#!/usr/bin/env bash
# A wide game maximised by its script: the picture is scaled to the screen's width in the middle
# of the window, and the bands above and below it are black, not what the window showed before.
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/game.bash"
desk_init "$1"
"$ZPKIT" demo-art "$DESK_TMP/game" 320 100 >"$DESK_TMP/art.log" 2>&1 || desk_fail "no pictures (see $DESK_TMP/art.log)"
desk_game "$DESK_TMP/game" "*SYSTEM_START
layer name = 'W0/bg', file = 'cg/bg.bmp', order = 1
wait frames = 30
window index = 0, maximise = 1
loop
    wait frames = 1
endloop" 'width = 320
height = 100
title = Maximised case
resizable = 1'
desk_play 'Maximised case'
win=$DESK_WIN
geometry() { desk_geometry "$win"; }
_maximised() { read -r x y w h <<<"$(geometry)"; [ "$w" -ge 1200 ] && [ "$h" -ge 900 ]; }
desk_until 20 _maximised || desk_fail "the window was not maximised: $(geometry)"
read -r x y w h <<<"$(geometry)"
# 1280 pixels wide, the picture is 400 rows high: the bands take the rest.
band=$(((h - 400) / 2))
_drawn() { local c; c=$(desk_pixel $((x + w / 2)) $((y + h / 2))) && [ "$c" != 000000 ]; }
desk_until 10 _drawn || desk_fail "no picture in the middle of the window"
for row in 2 $((band / 2)) $((band - 2)) $((h - band + 2)) $((h - 3)); do
  for col in 2 $((w / 2)) $((w - 3)); do
    c=$(desk_pixel $((x + col)) $((y + row)))
    [ "$c" = 000000 ] || desk_fail "the band at $col, $row shows $c, not black"
  done
done
exit 0
