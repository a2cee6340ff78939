#!/usr/bin/env bash
# The frame thread (threaded = 1) and the close confirmation: closing the window asks
# "終了します。よろしいですか？"; the key N answers No, and the game goes on with its frame counter
# (@102, shown in the window title) where it stood and counting again.
. "$(dirname "$0")/lib.sh"
desk_init "$1"
desk_game "$DESK_TMP/game" $'*SYSTEM_START\nloop\n    window index = 0, title = "F" + str(@102)\n    wait frames = 1\nendloop' 'threaded = 1'
desk_spawn run "$ZEPHRA" "$DESK_TMP/game"
pid=$DESK_PID
win=$(desk_wait_window 'F[0-9]+' 30) || desk_fail "the game window did not appear (see $DESK_TMP/run.log)"
frame() { xdotool getwindowname "$win" | tr -dc 0-9; }
frames_at_least() { local n; n=$(frame) && [ -n "$n" ] && [ "$n" -ge "$1" ]; }
desk_until 10 frames_at_least 30 || desk_fail "the frames do not count"
desk_key "$win" alt+F4
# The box carries the main window's title, frozen while the frames wait.
box=
_box_open() {
  local id
  for id in $(xdotool search --onlyvisible --name '' 2>/dev/null); do
    [ "$id" != "$win" ] && [[ "$(xdotool getwindowname "$id" 2>/dev/null)" =~ ^F[0-9]+$ ]] && box=$id && return 0
  done
  return 1
}
desk_until 10 _box_open || desk_fail "closing the window asked nothing"
before=$(frame)
sleep 1
[ "$(frame)" = "$before" ] || desk_fail "the frames went on while the box was open ($before, then $(frame))"
desk_key "$box" n
desk_until 5 desk_window_gone "$box" || desk_fail "N did not answer the box"
sleep 0.1
desk_running "$pid" || desk_fail "N ended the game"
after=$(frame)
[ $((after - before)) -ge 0 ] && [ $((after - before)) -le 15 ] || desk_fail "the frame counter jumped from $before to $after"
desk_until 5 frames_at_least $((after + 30)) || desk_fail "the frames did not count again after No"
desk_running "$pid" || desk_fail "the game ended after No"
exit 0
