#!/usr/bin/env bash
# The window command's z-order and moves under a window manager: a sub window put behind the
# main window (z-order 3) goes below it in the stacking order, one put at the bottom (2) below
# everything, and a move by the command brings the sub window to the top and activates it; the
# main window placed where the window query says it is stays there (the frame counted alike in
# both). The main window's title names the step the script reached.
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/game.bash"
desk_init "$1"
desk_game "$DESK_TMP/game" "*SYSTEM_START
window index = 0, title = 'Main'
wait frames = 20
window index = 1, title = 'Sub', width = 100, height = 80, shown = 1
wait frames = 60
window index = 0, title = 'Main 1'
wait frames = 180
window index = 1, z = 3
window index = 0, title = 'Main 2'
wait frames = 180
window index = 1, x = 50, y = 60
window index = 0, title = 'Main 3'
wait frames = 180
window index = 1, z = 2
window index = 0, title = 'Main 4'
wait frames = 180
int x = 0
int y = 0
int x2 = 0
int y2 = 0
window_info index = 0, x = 1, result = x
window_info index = 0, y = 1, result = y
window index = 0, x = x, y = y
wait frames = 30
window_info index = 0, x = 1, result = x2
window_info index = 0, y = 1, result = y2
window index = 0, title = 'Main 5 moved by ' + str(x2 - x) + ' ' + str(y2 - y)
loop
    wait frames = 1
endloop"
desk_play 'Main 1'
main=$DESK_WIN
sub=$(desk_wait_window 'Sub' 5) || desk_fail "no sub window"
# The managed windows from the bottom up, as decimal ids.
_stacking() { xprop -root _NET_CLIENT_LIST_STACKING | sed 's/.*# //; s/,//g' | xargs -n1 printf '%d\n'; }
_place() { _stacking | grep -n "^$1\$" | cut -d: -f1; }
_below() { [ "$(_place "$1")" -lt "$(_place "$2")" ]; }
_bottom() { [ "$(_place "$1")" = 1 ]; }
_top_and_active() {
  [ "$(_stacking | tail -n1)" = "$1" ] && [ "$(xprop -root _NET_ACTIVE_WINDOW | sed 's/.*# //' | xargs printf '%d')" = "$1" ]
}
desk_until 5 _below "$main" "$sub" || desk_fail "the new sub window is not above the main window"
desk_wait_window 'Main 2' 10 >/dev/null || desk_fail "the script did not reach step 2"
desk_until 5 _below "$sub" "$main" || desk_fail "z-order 3 left the sub window above the main window"
desk_wait_window 'Main 3' 10 >/dev/null || desk_fail "the script did not reach step 3"
desk_until 5 _top_and_active "$sub" || desk_fail "the move did not raise and activate the sub window"
desk_wait_window 'Main 4' 10 >/dev/null || desk_fail "the script did not reach step 4"
desk_until 5 _bottom "$sub" || desk_fail "z-order 2 did not put the sub window at the bottom: $(_stacking | tr '\n' ' ')"
step5=$(desk_wait_window 'Main 5 .*' 10) || desk_fail "the script did not reach step 5"
[ "$(xdotool getwindowname "$step5")" = 'Main 5 moved by 0 0' ] || desk_fail "placed where it was, the window $(xdotool getwindowname "$step5" | cut -d' ' -f3-)"
exit 0
