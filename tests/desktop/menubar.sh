#!/usr/bin/env bash
# The window's menu bar from the keyboard, as on the original platform: Alt with an underlined
# letter opens that menu with its first entry lit, Down moves, Return chooses; after Escape closed
# a drop-down, a click on a title opens it; a submenu the pointer opened is entered by Right. The
# title tells the last menu command and how many came: "Bar ID COUNT".
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/game.bash"
desk_init "$1"
desk_game "$DESK_TMP/game" "*SYSTEM_START
menu path = 'bar/', text = 'bar', order = 1
menu path = 'bar/file/', text = 'ファイル(&F)', order = 1
menu path = 'bar/file/open', text = '開く(&O)', order = 1, id = 11
menu path = 'bar/file/save', text = '保存(&S)', order = 2, id = 12
menu path = 'bar/file/more/', text = 'その他(&M)', order = 3
menu path = 'bar/file/more/a', text = 'A', order = 1, id = 131
menu path = 'bar/file/more/b', text = 'B', order = 2, id = 132
menu path = 'bar/edit/', text = '編集(&E)', order = 2
menu path = 'bar/edit/copy', text = 'コピー(&C)', order = 1, id = 21
menu path = 'bar/edit/paste', text = '貼り付け(&P)', order = 2, id = 22
window index = 0, menu = 'bar/', title = 'Bar 0 0'
int n = 0
loop
    if @125 != 0
        n += 1
        window index = 0, title = 'Bar ' + str(@125) + ' ' + str(n)
        @125 = 0
    endif
    wait frames = 1
endloop"
desk_play 'Bar 0 0'
win=$DESK_WIN
_menu_open() { xwininfo -root -children | grep -q '(has no name): ("zephra" "zephra")'; }
_menu_closed() { ! _menu_open; }

desk_key "$win" alt+f
desk_until 5 _menu_open || desk_fail "Alt+F opened no menu"
xdotool key Down Return
desk_wait_window 'Bar 12 1' 5 >/dev/null || desk_fail "Alt+F, Down, Return: $(xdotool getwindowname "$win")"

# The bar's titles in its 20 rows at the top of the window: ファイル(F) from 7 pixels in, 編集(E)
# right of it.
desk_focus "$win"
xdotool mousemove --window "$win" 20 8 click 1
desk_until 5 _menu_open || desk_fail "a click on ファイル opened no menu"
xdotool key Escape
desk_until 5 _menu_closed || desk_fail "Escape left the drop-down open"
xdotool mousemove --window "$win" 90 8 click 1
desk_until 5 _menu_open || desk_fail "the click on 編集 after Escape was lost"
# Its second entry: 3 pixels of border and one 20-pixel row below the bar.
xdotool mousemove --window "$win" 110 53 click 1
desk_wait_window 'Bar 22 2' 5 >/dev/null || desk_fail "the click on 貼り付け: $(xdotool getwindowname "$win")"

# The pointer on その他 (the third row) opens its submenu with nothing lit: Right goes into it.
xdotool mousemove --window "$win" 20 8 click 1
desk_until 5 _menu_open || desk_fail "a click on ファイル opened no menu"
xdotool mousemove --window "$win" 40 73
_two_open() { [ "$(xwininfo -root -children | grep -c '(has no name): ("zephra" "zephra")')" -ge 2 ]; }
desk_until 5 _two_open || desk_fail "the pointer on その他 opened no submenu"
xdotool key Right Return
desk_wait_window 'Bar 131 3' 5 >/dev/null || desk_fail "Right and Return in the submenu: $(xdotool getwindowname "$win")"
exit 0
