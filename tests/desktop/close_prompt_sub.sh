#!/usr/bin/env bash
# Closing a sub window asks "終了します。よろしいですか？" (with the main window's title) in a box
# that belongs to the window being closed: transient for the sub window, not the main one. No
# leaves both windows open and the game running.
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/game.bash"
desk_init "$1"
desk_game "$DESK_TMP/game" "*SYSTEM_START
window index = 0, title = 'Main'
window index = 1, title = 'Sub', width = 200, height = 150, shown = 1
loop
    wait frames = 1
endloop"
desk_play 'Main'
main=$DESK_WIN
sub=$(desk_wait_window 'Sub' 10) || desk_fail "no sub window"
desk_key "$sub" alt+F4
box=
_box_open() {
  local id
  for id in $(xdotool search --onlyvisible --name '' 2>/dev/null); do
    [ "$id" != "$main" ] && [ "$(xdotool getwindowname "$id" 2>/dev/null)" = Main ] && box=$id && return 0
  done
  return 1
}
desk_until 10 _box_open || desk_fail "closing the sub window asked nothing"
owner=$(xprop -id "$box" WM_TRANSIENT_FOR | sed -n 's/.*window id # //p')
[ -n "$owner" ] && [ $((owner)) = "$sub" ] || desk_fail "the box is not transient for the sub window ($owner; sub $sub, main $main)"
desk_key "$box" n
desk_until 5 desk_window_gone "$box" || desk_fail "N did not answer the box"
sleep 0.3
desk_running "$DESK_PID" || desk_fail "No ended the game"
desk_window_gone "$sub" && desk_fail "No closed the sub window"
exit 0
