#!/usr/bin/env bash
# Fullscreen by the window command and back under a window manager: the window covers the screen,
# then returns to the very place and size it had, not a title bar lower.
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/game.bash"
desk_init "$1"
desk_game "$DESK_TMP/game" "*SYSTEM_START
window index = 0, title = 'Windowed'
wait frames = 180
window index = 0, fullscreen = 1, title = 'Fullscreen'
wait frames = 180
window index = 0, fullscreen = 0, title = 'Back'
loop
    wait frames = 1
endloop"
desk_play 'Windowed'
win=$DESK_WIN
geometry() { desk_geometry "$win"; }
sleep 0.3
before=$(geometry)
desk_wait_window 'Fullscreen' 10 >/dev/null || desk_fail "the script did not go fullscreen"
_covers() { [ "$(geometry)" = '0 0 1280 1024' ]; }
desk_until 5 _covers || desk_fail "fullscreen does not cover the screen: $(geometry)"
desk_wait_window 'Back' 10 >/dev/null || desk_fail "the script did not leave fullscreen"
_back() { [ "$(geometry)" = "$before" ]; }
desk_until 5 _back || desk_fail "the window came back at $(geometry), not at $before"
sleep 0.5
_back || desk_fail "the window moved on to $(geometry) from $before"
exit 0
