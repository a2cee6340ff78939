#!/usr/bin/env bash
# The window command's maximise box (parameter 12) reaches the window manager: taken away, the
# window's Motif hints leave out maximising and its button (the functions and decorations
# fields); given back, they ask for every decoration again. The title names the step.
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/game.bash"
desk_init "$1"
desk_game "$DESK_TMP/game" "*SYSTEM_START
window index = 0, title = 'Box'
wait frames = 180
window index = 0, max_box = 0, title = 'No box'
wait frames = 180
window index = 0, max_box = 1, title = 'Box again'
loop
    wait frames = 1
endloop" 'resizable = 1'
desk_play 'Box'
win=$DESK_WIN
# _MOTIF_WM_HINTS: flags (1 functions, 2 decorations), functions, decorations; bit 16 of the
# functions and bit 64 of the decorations are the maximise box, bit 1 of the decorations all.
_hints() { xprop -id "$win" _MOTIF_WM_HINTS | sed -n 's/.*= //p' | tr -d ' '; }
_no_box() {
  local flags functions decorations
  IFS=, read -r flags functions decorations _ <<<"$(_hints)"
  [ $((flags & 1)) = 1 ] && [ $((functions & 16)) = 0 ] && [ $((decorations & 65)) = 0 ] && [ $((functions & 8)) = 8 ]
}
_box() {
  local flags functions decorations
  IFS=, read -r flags functions decorations _ <<<"$(_hints)"
  [ $((flags & 1)) = 0 ] || [ $((functions & 17)) != 0 ]
}
desk_wait_window 'No box' 10 >/dev/null || desk_fail "the script did not take the box away"
desk_until 5 _no_box || desk_fail "the window manager is not told of the missing maximise box: $(_hints)"
desk_wait_window 'Box again' 10 >/dev/null || desk_fail "the script did not give the box back"
desk_until 5 _box || desk_fail "the maximise box did not come back: $(_hints)"
exit 0
