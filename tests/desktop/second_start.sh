#!/usr/bin/env bash
# A second start of a running game brings the running copy's window to the front, restoring it
# when minimised (by the player, or by its script, which also hides it), says so on stderr and
# ends with status 0. A window not shown yet (the game still starting) stays hidden.
. "$(dirname "$0")/lib.sh"
desk_init "$1"
idle=$'*SYSTEM_START\nloop\n    wait frames = 1000\nendloop'
desk_game "$DESK_TMP/first" "$idle" 'title = First game'
desk_game "$DESK_TMP/other" "$idle" 'title = Other game'
desk_spawn first "$ZEPHRA" "$DESK_TMP/first"
first=$DESK_PID
win=$(desk_wait_window 'First game' 30) || desk_fail "the first game's window did not appear (see $DESK_TMP/first.log)"
desk_spawn other "$ZEPHRA" "$DESK_TMP/other"
other=$(desk_wait_window 'Other game' 30) || desk_fail "the other game's window did not appear"
xdotool windowminimize --sync "$win" || desk_fail "the first game's window could not be minimised"
desk_until 5 desk_window_gone "$win" || desk_fail "the first game's window stayed on the screen"
desk_spawn second "$ZEPHRA" "$DESK_TMP/first"
second=$DESK_PID
desk_wait_exit "$second" 30 || desk_fail "the second start did not end"
[ "$DESK_STATUS" = 0 ] || desk_fail "the second start ended with status $DESK_STATUS"
grep -q "is already running" "$DESK_TMP/second.log" || desk_fail "the second start did not say the game runs already"
_first_in_front() { ! desk_window_gone "$win" && [ "$(desk_active_window)" = "$win" ]; }
desk_until 5 _first_in_front || desk_fail "the first game's window is not in front (active: $(desk_active_window), first: $win, other: $other)"
desk_running "$first" || desk_fail "the first game ended"

# Minimised by its script: hidden, and minimised as the window query tells (in the title). The
# script shows its window for 3 seconds first, so a loaded machine still sees it appear.
desk_game "$DESK_TMP/third" "*SYSTEM_START
window index = 0, title = 'Third'
wait frames = 180
window index = 0, minimised = 1
int m = 0
loop
    window_info index = 0, minimised = 1, result = m
    window index = 0, title = 'Third ' + str(m)
    wait frames = 1
endloop"
desk_spawn third "$ZEPHRA" "$DESK_TMP/third"
third=$DESK_PID
win=$(desk_wait_window 'Third' 30) || desk_fail "the third game's window did not appear (see $DESK_TMP/third.log)"
_titled() { [ "$(xdotool getwindowname "$win")" = "$1" ]; }
desk_until 10 _titled 'Third 1' || desk_fail "the script's minimise: $(xdotool getwindowname "$win")"
desk_window_gone "$win" || desk_fail "the window minimised by its script is on the screen"
desk_spawn again "$ZEPHRA" "$DESK_TMP/third"
desk_wait_exit "$DESK_PID" 30 || desk_fail "the second start of the third game did not end"
desk_until 5 _first_in_front || desk_fail "the hidden window is not in front (active: $(desk_active_window), its id: $win)"
desk_until 5 _titled 'Third 0' || desk_fail "the window is still minimised to its script: $(xdotool getwindowname "$win")"
desk_running "$third" || desk_fail "the third game ended"

# Still starting: the sound error box holds the start-up before the game's window shows (on a
# machine without a sound device, as the desktop tier's).
desk_game "$DESK_TMP/fourth" "$idle" 'title = Fourth game
sound = 1'
desk_spawn fourth "$ZEPHRA" "$DESK_TMP/fourth"
box=$(desk_wait_window 'サウンド初期化エラー' 30) || desk_fail "no sound error box (see $DESK_TMP/fourth.log)"
desk_spawn again "$ZEPHRA" "$DESK_TMP/fourth"
desk_wait_exit "$DESK_PID" 30 || desk_fail "the second start of the fourth game did not end"
sleep 0.5
desk_wait_window 'Fourth game' 0 >/dev/null && desk_fail "the second start showed a window the game had not shown yet"
grep -q "brought to the front" "$DESK_TMP/again.log" && desk_fail "the second start says it brought a window to the front"
desk_key "$box" Return
desk_wait_window 'Fourth game' 30 >/dev/null || desk_fail "the fourth game's window did not appear"
exit 0
