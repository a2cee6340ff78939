#!/usr/bin/env bash
# A right click asks the script for its popup menu (command 64 when the right button's counter is
# 1): the menu opens once, a click on its second entry reaches the script as the menu command, and
# the menu never opens again. The window's title tells what the script saw: "Popup OPENED CHOSEN".
# With --bare (popup_bare.sh) the same on an X server without a window manager.
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/game.bash"
desk_init "$1" "${2:-}"
desk_game "$DESK_TMP/game" "*SYSTEM_START
menu path = 'pop/', text = 'pop', order = 1
menu path = 'pop/a', text = 'Alpha', order = 1, id = 101
menu path = 'pop/b', text = 'Beta', order = 2, id = 102
int opened = 0
window index = 0, title = 'Popup 0 0'
loop
    if @142 == 1
        opened += 1
        window index = 0, title = 'Popup ' + str(opened) + ' 0'
        menu_popup path = 'pop/', show = 1
    endif
    if @125 != 0
        window index = 0, title = 'Popup ' + str(opened) + ' ' + str(@125)
        @125 = 0
    endif
    wait frames = 1
endloop"
desk_play 'Popup 0 0'
pid=$DESK_PID
win=$DESK_WIN
desk_focus "$win"
# The menu opens at the pointer; its second entry is 33 pixels below it (a 3-pixel border and
# 20-pixel rows).
xdotool mousemove --window "$win" 100 100 click 3
desk_wait_window 'Popup 1 0' 10 >/dev/null || desk_fail "the right click did not reach the script"
# A menu is a window of the engine's without a title.
_menu_open() { xwininfo -root -children | grep -q '(has no name): ("zephra" "zephra")'; }
desk_until 10 _menu_open || desk_fail "no menu opened"
xdotool mousemove --window "$win" 110 133 click 1
desk_wait_window 'Popup 1 102' 10 >/dev/null || desk_fail "the chosen entry did not reach the script: $(xdotool getwindowname "$win")"
# Time for a second opening, which would show in the title and hold the pointer's window.
sleep 1
[ "$(xdotool getwindowname "$win")" = 'Popup 1 102' ] || desk_fail "the menu opened again: $(xdotool getwindowname "$win")"
_menu_open && desk_fail "a menu is still open"
desk_running "$pid" || desk_fail "the game ended (see $DESK_TMP/run.log)"
exit 0
