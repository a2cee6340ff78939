#!/usr/bin/env bash
# A machine without a sound device: the demo shows the sound error box, Return closes it, and
# the game runs silent through its frames to its own end with status 0.
. "$(dirname "$0")/lib.sh"
desk_init "$1"
desk_demo "$DESK_TMP/demo"
desk_spawn run "$ZEPHRA" "$DESK_TMP/demo"
pid=$DESK_PID
box=$(desk_wait_window 'サウンド初期化エラー' 30) || desk_fail "no sound error box (see $DESK_TMP/run.log)"
desk_key "$box" Return
desk_until 5 desk_window_gone "$box" || desk_fail "Return did not close the sound error box"
win=$(desk_wait_window 'Zephra demo' 30) || desk_fail "the game window did not appear after the box"
# The scene: once the intro movie is over, the background picture fills the window.
_scene_shown() { local c; c=$(desk_window_pixel "$win" 320 100) && [ "$c" != 000000 ]; }
desk_until 30 _scene_shown || desk_fail "the demo drew nothing in its window"
desk_wait_exit "$pid" 60 || desk_fail "the demo did not end"
[ "$DESK_STATUS" = 0 ] || desk_fail "the demo ended with status $DESK_STATUS (see $DESK_TMP/run.log)"
grep -q 'ALSA lib' "$DESK_TMP/run.log" && desk_fail "ALSA's own error lines reached the terminal"
exit 0
