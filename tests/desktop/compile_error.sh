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
desk_wait_exit "$pid" 10 || desk_fail "the run did not end after the box was answered"
took=$(($(desk_now_ms) - start))
desk_log "ended $took ms after Return"
[ "$DESK_STATUS" = 1 ] || desk_fail "the run ended with status $DESK_STATUS, not 1 (see $DESK_TMP/run.log)"
[ "$took" -le 2000 ] || desk_fail "the run took $took ms to end after the box"
exit 0
