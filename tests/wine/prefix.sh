#!/usr/bin/env bash
# The Wine session of the wine and e2e tiers.
#   prefix.sh start PREFIX SETTINGS_DIR : boot the prefix if it is new, start a virtual display
#                                         (Xvfb, when installed) and one persistent wineserver,
#                                         import the settings (*.reg in SETTINGS_DIR)
#   prefix.sh stop PREFIX               : stop that wineserver, every Wine process with it, and
#                                         the display
# Tests run through in_prefix.sh, which gives them the session's display.
#
# Every background process's output goes to a file or /dev/null: one that inherited ctest's
# pipe would keep ctest waiting after the test has ended. Wine binds its desktop to the display
# of the first program that opens a window, so the session has one display from the start,
# whichever tier runs first.
set -euo pipefail
action=$1
export WINEPREFIX=$2
export WINEARCH=win32 WINEDEBUG=-all
: "${WINE:=wine}" "${WINESERVER:=wineserver}" "${WINEBOOT:=wineboot}"
log=$WINEPREFIX.log
display_file=$WINEPREFIX.display
xvfb_pid_file=$WINEPREFIX.xvfb.pid

stop_display() {
  if [ -f "$xvfb_pid_file" ]; then
    local pid
    pid=$(cat "$xvfb_pid_file")
    if kill "$pid" 2>/dev/null; then
      # Gone before the next run looks for a free display.
      for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
      done
    fi
    rm -f "$xvfb_pid_file"
  fi
  rm -f "$display_file"
}

start_display() {
  command -v Xvfb >/dev/null || return 0  # the wine tier needs no display; e2e will say so
  local number=$display_file.tmp
  rm -f "$number"
  # -displayfd: Xvfb picks a free display and writes its number once it accepts clients.
  Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$number" </dev/null >/dev/null 2>&1 &
  echo $! >"$xvfb_pid_file"
  for _ in $(seq 100); do
    [ -s "$number" ] && break
    sleep 0.1
  done
  if [ ! -s "$number" ]; then
    echo "Xvfb did not start" >&2
    stop_display
    exit 1
  fi
  mv "$number" "$display_file"
  DISPLAY=:$(tr -d '\n' <"$display_file")
  export DISPLAY
}

case "$action" in
  start)
    settings=$3
    # A server or display left over from an interrupted run would serve stale state.
    "$WINESERVER" -k </dev/null >/dev/null 2>&1 || true
    "$WINESERVER" -w </dev/null >/dev/null 2>&1 || true
    stop_display
    if [ ! -f "$WINEPREFIX/.booted" ]; then
      rm -rf "$WINEPREFIX"
      mkdir -p "$(dirname "$WINEPREFIX")"
      # No Mono or Gecko installers: they would wait for a user.
      if ! WINEDLLOVERRIDES="mscoree,mshtml=" "$WINEBOOT" -i </dev/null >"$log" 2>&1; then
        cat "$log" >&2
        exit 1
      fi
      "$WINESERVER" -w </dev/null >/dev/null 2>&1  # registry written out
      touch "$WINEPREFIX/.booted"
    fi
    start_display
    "$WINESERVER" -p </dev/null >/dev/null 2>&1
    reg=$WINEPREFIX.settings.reg
    {
      printf 'REGEDIT4\n\n'
      # Crashes print a backtrace instead of waiting in a dialog.
      printf '[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\n"ShowCrashDialog"=dword:00000000\n\n'
      # No window manager under Xvfb: Wine draws captions itself and windows close promptly.
      printf '[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n"Managed"="N"\n\n'
      cat "$settings"/*.reg 2>/dev/null || true
    } >"$reg"
    # Z: is the Unix root in every prefix that wineboot makes.
    if ! "$WINE" reg import "Z:${reg//\//\\}" </dev/null >"$log" 2>&1; then
      cat "$log" >&2
      exit 1
    fi
    echo "Wine prefix $WINEPREFIX ready${DISPLAY:+ on display $DISPLAY}"
    ;;
  stop)
    "$WINESERVER" -k </dev/null >/dev/null 2>&1 || true
    "$WINESERVER" -w </dev/null >/dev/null 2>&1 || true
    stop_display
    ;;
  *)
    echo "usage: prefix.sh start PREFIX SETTINGS_DIR | stop PREFIX" >&2
    exit 2
    ;;
esac
