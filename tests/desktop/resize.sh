#!/usr/bin/env bash
# A resizable game window dragged larger by the player (openbox: Alt and the right button): the
# window keeps the game's aspect while the drag goes on and stays at the size it was dragged to.
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/game.bash"
desk_init "$1"
desk_game "$DESK_TMP/game" $'*SYSTEM_START\nloop\n    wait frames = 1\nendloop' 'width = 400
height = 300
title = Resize case
resizable = 1'
desk_play 'Resize case'
win=$DESK_WIN
geometry() { desk_geometry "$win"; }
sleep 0.5
read -r x y w h <<<"$(geometry)"
# 4:3 to the pixel, as the window manager or the engine rounds.
_four_by_three() { [ $(($1 * 3 - $2 * 4)) -ge -4 ] && [ $(($1 * 3 - $2 * 4)) -le 4 ]; }
desk_focus "$win"
xdotool mousemove $((x + w - 20)) $((y + h - 20)) keydown alt mousedown 3
for _ in 1 2 3 4 5 6; do
  xdotool mousemove_relative 30 2
  sleep 0.1
done
read -r _ _ w1 h1 <<<"$(geometry)"
xdotool mouseup 3 keyup alt
[ "$w1" -ge $((w + 150)) ] || desk_fail "the drag did not widen the window: $w x $h, then $w1 x $h1"
_four_by_three "$w1" "$h1" || desk_fail "the window left the game's aspect while dragged: $w1 x $h1"
sleep 1
read -r _ _ w2 h2 <<<"$(geometry)"
[ "$w2" -ge $((w1 - 2)) ] && [ "$h2" -ge $((h1 - 2)) ] || desk_fail "after the drag the window went from $w1 x $h1 to $w2 x $h2"
_four_by_three "$w2" "$h2" || desk_fail "the window is not at the game's aspect: $w2 x $h2"
exit 0
