#!/usr/bin/env bash
# A source folder with a syntax error: the compiler's box shows the error, Return answers it, and
# the run ends with status 1 within 2 seconds.
. "$(dirname "$0")/lib.sh"
desk_init "$1"
desk_game "$DESK_TMP/game" $'*SYSTEM_START\n    layer name = \n    end'
desk_spawn run "$ZEPHRA" "$DESK_TMP/game"
pid=$DESK_PID
box=$(desk_wait_window 'ZEPHRAコンパイラ' 30) || desk_fail "no compiler box (see $DESK_TMP/run.log)"
sleep 0.3
start=$(desk_now_ms)
desk_key "$box" Return
desk_ends "$pid" "$start" 2000 1 "Return answered the box"
exit 0
