#!/usr/bin/env bash
# SIGTERM while start-up waits (here for the answer to the sound error box) ends the run within a
# second, normally (status 0).
. "$(dirname "$0")/lib.sh"
desk_init "$1"
desk_demo "$DESK_TMP/demo"
desk_spawn run "$ZEPHRA" "$DESK_TMP/demo"
pid=$DESK_PID
desk_wait_window 'サウンド初期化エラー' 30 >/dev/null || desk_fail "start-up did not wait on the sound error box"
sleep 0.5
start=$(desk_now_ms)
kill -TERM "$pid"
desk_ends "$pid" "$start" 1000 0 SIGTERM
exit 0
