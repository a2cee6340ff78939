# The desktop tier's helpers, sourced by every case in tests/desktop/. A case runs the engine as a
# player does: on its own X server (Xvfb) with a window manager (openbox) or on a bare server,
# with no dialog sink, no dummy drivers and no sound device; it answers boxes with xdotool and
# looks at screenshots. Only ZEPHRA_EXIT_AFTER_FRAMES may be given to a run.
#
#   . "$(dirname "$0")/lib.sh"
#   desk_init "$1"            # or: desk_init "$1" --bare   (no window manager)
#   desk_demo "$DESK_TMP/demo"
#   desk_spawn run "$ZEPHRA" "$DESK_TMP/demo"; pid=$DESK_PID
#   win=$(desk_wait_window 'サウンド初期化エラー' 30) || desk_fail "no sound box"
#   desk_key "$win" Return
#   desk_wait_exit "$pid" 60 || desk_fail "still running"; [ "$DESK_STATUS" = 0 ] || ...
#
# Displays are taken from DESK_DISPLAYS (first-last, default 100-199), the first free one.
# Everything a case makes lives in DESK_TMP and goes, with every process it started, at exit;
# DESK_KEEP=1 keeps the folder (logs, screenshots) for a look.

set -uo pipefail

desk_fail() {
  echo "FAIL: $*" >&2
  exit 1
}

desk_log() { echo "[$(date +%T)] $*" >&2; }

_desk_pids=()

_desk_cleanup() {
  local status=$?
  local pid
  for ((i = ${#_desk_pids[@]} - 1; i >= 0; i--)); do
    pid=${_desk_pids[i]}
    kill -TERM "$pid" 2>/dev/null
  done
  for pid in "${_desk_pids[@]}"; do
    for _ in $(seq 30); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null
  done
  if [ -n "${DESK_TMP:-}" ]; then
    if [ "${DESK_KEEP:-0}" = 1 ] || [ "$status" != 0 ]; then
      echo "desktop case files kept in $DESK_TMP" >&2
    else
      rm -rf "$DESK_TMP"
    fi
  fi
  return "$status"
}

# desk_init BUILD_DIR [--bare]: a clean player's environment, an X server and (unless --bare)
# openbox. Sets DESK_BUILD, ZEPHRA, ZPKIT, DESK_TMP and DISPLAY.
desk_init() {
  [ $# -ge 1 ] || desk_fail "usage: CASE BUILD_DIR"
  DESK_BUILD=$(cd "$1" && pwd) || desk_fail "no build folder $1"
  ZEPHRA=$DESK_BUILD/zephra
  ZPKIT=$DESK_BUILD/zpkit
  [ -x "$ZEPHRA" ] && [ -x "$ZPKIT" ] || desk_fail "zephra and zpkit are not built in $DESK_BUILD"
  for tool in Xvfb xdotool xprop xwd; do
    command -v "$tool" >/dev/null || desk_fail "$tool is not installed (tools/install-deps.sh build)"
  done
  # The engine's test hooks stay off: boxes are shown, sound goes to whatever device exists.
  unset ZEPHRA_DIALOGS SDL_AUDIODRIVER SDL_VIDEODRIVER ZEPHRA_FIXED_CLOCK ZEPHRA_FRAME_DUMP ZEPHRA_EXIT_AFTER_FRAMES
  unset WAYLAND_DISPLAY
  local top
  top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
  export LSAN_OPTIONS="suppressions=$top/tools/desktop-lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
  DESK_TMP=$(mktemp -d /tmp/zephra-desktop-XXXXXX)
  trap _desk_cleanup EXIT
  trap 'exit 130' INT TERM
  # A runtime folder of its own, as a login session has: the instance locks live there.
  export XDG_RUNTIME_DIR=$DESK_TMP/run
  mkdir -m 700 "$XDG_RUNTIME_DIR"
  _desk_start_x || desk_fail "no X server could be started in ${DESK_DISPLAYS:-100-199}"
  if [ "${2:-}" != --bare ]; then
    command -v openbox >/dev/null || desk_fail "openbox is not installed (tools/install-deps.sh build)"
    mkdir -p "$DESK_TMP/wm"
    XDG_CONFIG_HOME=$DESK_TMP/wm openbox --sm-disable >"$DESK_TMP/openbox.log" 2>&1 &
    _desk_pids+=($!)
    desk_until 10 _desk_wm_ready || desk_fail "openbox did not start (see $DESK_TMP/openbox.log)"
  fi
}

_desk_wm_ready() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }

_desk_start_x() {
  local range=${DESK_DISPLAYS:-100-199}
  local first=${range%-*} last=${range#*-} n pid
  for ((n = first; n <= last; n++)); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    # The server writes its number to the ready file once it accepts clients: then it is this
    # server that answers, not one of another run that is going away.
    : >"$DESK_TMP/xvfb.ready"
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp -displayfd 3 3>"$DESK_TMP/xvfb.ready" >"$DESK_TMP/xvfb.log" 2>&1 &
    pid=$!
    export DISPLAY=":$n"
    # Ready, or gone because another run took the number first.
    desk_until 10 _desk_x_settled "$pid"
    if [ -s "$DESK_TMP/xvfb.ready" ] && kill -0 "$pid" 2>/dev/null; then
      _desk_pids+=("$pid")
      return 0
    fi
    kill -KILL "$pid" 2>/dev/null
  done
  return 1
}

_desk_x_settled() { [ -s "$DESK_TMP/xvfb.ready" ] || ! kill -0 "$1" 2>/dev/null; }

# desk_until SECONDS COMMAND...: runs COMMAND every 0.1 s until it succeeds; 1 when time ran out.
desk_until() {
  local limit=$1
  shift
  local end=$((SECONDS + limit))
  until "$@"; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.1
  done
}

# desk_now_ms: a clock in milliseconds, for "within N seconds" checks.
desk_now_ms() { date +%s%3N; }

# desk_demo FOLDER: the demo game, built from examples/demo by the kit.
desk_demo() {
  local out=$1 src=$DESK_TMP/demo-src
  local top
  top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
  rm -rf "$src" "$out"
  cp -r "$top/examples/demo" "$src"
  {
    "$ZPKIT" demo-art "$src" && "$ZPKIT" demo-chara "$src" && "$ZPKIT" demosounds "$src" && "$ZPKIT" build "$src" "$out"
  } >"$DESK_TMP/demo-build.log" 2>&1 || desk_fail "the demo did not build (see $DESK_TMP/demo-build.log)"
}

# desk_game FOLDER SCRIPT [PROJECT_LINES]: a source folder with one script (script/main.zs) and
# project.txt, run through the compiler link as an author runs a game: 320 x 240, titled
# "Desktop case", sound off (no device box), unless PROJECT_LINES say otherwise.
desk_game() {
  local dir=$1 lines=${3:-} key
  mkdir -p "$dir/script"
  printf '%s\n' "$2" >"$dir/script/main.zs"
  {
    for key in 'width = 320' 'height = 240' 'title = Desktop case' 'sound = 0'; do
      grep -q "^${key%% *} *=" <<<"$lines" || echo "$key"
    done
    echo "$lines"
  } >"$dir/project.txt"
}

# desk_spawn NAME COMMAND...: starts COMMAND in the background, its output in $DESK_TMP/NAME.log;
# sets DESK_PID. The process is ended at exit if it still runs.
desk_spawn() {
  local name=$1
  shift
  "$@" >"$DESK_TMP/$name.log" 2>&1 &
  DESK_PID=$!
  _desk_pids+=("$DESK_PID")
}

# desk_wait_exit PID SECONDS: waits for a process started by desk_spawn to end; sets
# DESK_STATUS (its exit status). 1 when it still runs after SECONDS (it is left running).
desk_wait_exit() {
  local pid=$1 limit=$2
  local end
  end=$(($(desk_now_ms) + limit * 1000))
  while kill -0 "$pid" 2>/dev/null; do
    # A zombie has ended: wait collects it.
    [ "$(ps -o stat= -p "$pid" 2>/dev/null | cut -c1)" = Z ] && break
    [ "$(desk_now_ms)" -lt "$end" ] || return 1
    sleep 0.05
  done
  wait "$pid"
  DESK_STATUS=$?
  return 0
}

# desk_running PID: true while the process runs.
desk_running() { kill -0 "$1" 2>/dev/null && [ "$(ps -o stat= -p "$1" 2>/dev/null | cut -c1)" != Z ]; }

# desk_wait_window TITLE [SECONDS]: prints the id of a visible window whose whole title is
# TITLE (UTF-8, a regular expression); 1 when none appears in time (default 20 s).
desk_wait_window() {
  local title=$1 limit=${2:-20}
  local end=$((SECONDS + limit)) id
  # The title is compared with the UTF-8 name (_NET_WM_NAME) that getwindowname reads: search
  # --name reads WM_NAME, which SDL fills in the locale's encoding, not in UTF-8.
  while :; do
    for id in $(xdotool search --onlyvisible --name '' 2>/dev/null); do
      if [[ "$(xdotool getwindowname "$id" 2>/dev/null)" =~ ^${title}$ ]]; then
        echo "$id"
        return 0
      fi
    done
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.1
  done
}

# desk_window_gone ID: true when the window is no longer mapped.
desk_window_gone() { ! xwininfo -id "$1" 2>/dev/null | grep -q 'IsViewable'; }

# desk_active_window: the id of the window that has the input focus (decimal).
desk_active_window() { xdotool getactivewindow 2>/dev/null || xdotool getwindowfocus 2>/dev/null; }

# desk_focus ID: gives the window the input focus (through the window manager when one runs).
desk_focus() {
  if _desk_wm_ready; then
    xdotool windowactivate --sync "$1" >/dev/null 2>&1 || xdotool windowfocus --sync "$1" >/dev/null 2>&1
  else
    xdotool windowfocus --sync "$1" >/dev/null 2>&1
  fi
}

# desk_key ID KEY...: focuses the window and types the keys (xdotool names: Return, n, Escape).
desk_key() {
  local id=$1
  shift
  desk_focus "$id"
  xdotool key --clearmodifiers "$@"
}

# desk_click ID X Y [BUTTON]: a click at a point of the window's client area (button 1 left,
# 3 right).
desk_click() {
  xdotool mousemove --window "$1" "$2" "$3" click "${4:-1}"
}

# desk_shot FILE.png: the whole screen as a PNG.
desk_shot() {
  local xwd_file=$DESK_TMP/shot.xwd
  xwd -root -silent >"$xwd_file" || return 1
  "$DESK_BUILD/tests/xwd_png" "$xwd_file" "$1"
}

# desk_pixel X Y: the colour (RRGGBB) of a screen pixel now.
desk_pixel() {
  local xwd_file=$DESK_TMP/pixel.xwd
  xwd -root -silent >"$xwd_file" || return 1
  "$DESK_BUILD/tests/xwd_png" --pixel "$xwd_file" "$1" "$2"
}

# desk_window_pixel ID DX DY: the colour (RRGGBB) of a pixel of the window, DX, DY from its
# top-left corner.
desk_window_pixel() {
  local X Y WIDTH HEIGHT SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$1" 2>/dev/null)" || return 1
  desk_pixel $((X + $2)) $((Y + $3))
}

# desk_timeout SECONDS COMMAND...: runs COMMAND, ending it (TERM, then KILL 2 s later) when it
# runs longer; its status, or 124 after a time-out.
desk_timeout() {
  local limit=$1
  shift
  timeout -k 2 "$limit" "$@"
}

# desk_geometry ID: the window's client area on the screen, "X Y WIDTH HEIGHT".
desk_geometry() {
  xwininfo -id "$1" | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4} /Width:/{w=$2} /Height:/{h=$2} END{print x, y, w, h}'
}

# desk_ends PID START_MS LIMIT_MS STATUS WHAT: the run, asked at START_MS (a desk_now_ms reading)
# to end by WHAT, ends with STATUS no later than LIMIT_MS after; the case fails otherwise.
desk_ends() {
  desk_wait_exit "$1" 10 || desk_fail "the run did not end after $5"
  local took=$(($(desk_now_ms) - $2))
  desk_log "ended $took ms after $5"
  [ "$DESK_STATUS" = "$4" ] || desk_fail "the run ended with status $DESK_STATUS, not $4 (see $DESK_TMP/run.log)"
  [ "$took" -le "$3" ] || desk_fail "the run took $took ms to end after $5"
}
