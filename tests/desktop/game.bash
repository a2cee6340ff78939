# What the desktop cases that run a game of their own share; sourced after lib.sh.

# desk_start_game TITLE [SECONDS]: prints the id of the game's window, titled TITLE (a regular
# expression), once it shows; 1 when it does not in time (default 60 s). A machine without a
# sound device first shows the sound error box: Return answers it and the game runs silent.
desk_start_game() {
  local title=$1 end=$((SECONDS + ${2:-60})) box id
  while :; do
    box=$(desk_wait_window 'サウンド初期化エラー' 0) && desk_key "$box" Return
    id=$(desk_wait_window "$title" 0) && echo "$id" && return 0
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.1
  done
}

# desk_play TITLE: starts the game in $DESK_TMP/game (its output in run.log) and sets DESK_PID and
# DESK_WIN, the id of its window titled TITLE (a regular expression) once that shows; the case
# fails when it does not.
desk_play() {
  desk_spawn run "$ZEPHRA" "$DESK_TMP/game"
  DESK_WIN=$(desk_start_game "$1") || desk_fail "no window titled $1 appeared (see $DESK_TMP/run.log)"
}
