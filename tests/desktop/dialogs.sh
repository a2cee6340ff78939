#!/usr/bin/env bash
# A message box belongs to the game window: transient for it, a dialog to the window manager,
# centred over it, and wide enough for its whole title; answered, it gives the game its answer.
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/game.bash"
desk_init "$1"
title='A question whose title is much longer than its text'
desk_game "$DESK_TMP/game" "*SYSTEM_START
int answer = 0
window index = 0, title = 'Dialog case'
wait frames = 10
msgbox title = '$title', text = 'Save?', yes_no = 1, icon = 2, result = answer
window index = 0, title = 'Dialog case ' + str(answer)
msgbox title = 'ZEPHRA Debug Info.', text = 'x'
loop
    wait frames = 1
endloop" 'width = 400
height = 300'
desk_play "$title"
box=$DESK_WIN
win=$(desk_wait_window 'Dialog case' 5) || desk_fail "no game window"

owner=$(xprop -id "$box" WM_TRANSIENT_FOR | sed -n 's/.*window id # //p')
[ -n "$owner" ] && [ $((owner)) = "$win" ] || desk_fail "the box is not transient for the game window ($owner, game $win)"
xprop -id "$box" _NET_WM_WINDOW_TYPE | grep -q _NET_WM_WINDOW_TYPE_DIALOG || desk_fail "the box is no dialog"
xprop -id "$box" _NET_WM_STATE | grep -q _NET_WM_STATE_ABOVE && desk_fail "the box stays above every window"

# Centres: the same column; rows apart at most by the window manager's caption.
read -r bx by bw bh <<<"$(desk_geometry "$box")"
read -r wx wy ww wh <<<"$(desk_geometry "$win")"
dx=$(((bx + bw / 2) - (wx + ww / 2)))
dy=$(((by + bh / 2) - (wy + wh / 2)))
[ "${dx#-}" -le 2 ] && [ "${dy#-}" -le 24 ] || desk_fail "the box is not centred over the game window (off by $dx, $dy)"
# The caption's font takes about 9 pixels a capital and 7 another letter, its icon and buttons
# 100 more.
_caption_fits() {
  local caps=${1//[!A-Z]/}
  [ "$2" -ge $((${#caps} * 9 + (${#1} - ${#caps}) * 7 + 100)) ]
}
_caption_fits "$title" "$bw" || desk_fail "the box ($bw pixels) is narrower than its title"

desk_key "$box" n
desk_wait_window 'Dialog case 2' 10 >/dev/null || desk_fail "the answer No did not reach the script: $(xdotool getwindowname "$win")"
# A short title of capitals, as the error dialog's.
box=$(desk_wait_window 'ZEPHRA Debug Info.' 10) || desk_fail "no second box"
_caption_fits 'ZEPHRA Debug Info.' "$(xwininfo -id "$box" | awk '/Width:/{print $2}')" || desk_fail "the second box is narrower than its title"
exit 0
