#!/usr/bin/env bash
# The Wine prefix of the wine and e2e tiers.
#   prefix.sh start PREFIX SETTINGS_DIR : boot the prefix if it is new, start one persistent
#                                         wineserver, import the settings (*.reg in SETTINGS_DIR)
#   prefix.sh stop PREFIX               : stop that wineserver and every Wine process with it
# Every Wine command's output goes to a file or /dev/null: a server that inherited ctest's pipe
# would keep ctest waiting after the test has ended.
set -euo pipefail
action=$1
export WINEPREFIX=$2
export WINEARCH=win32 WINEDEBUG=-all
: "${WINE:=wine}" "${WINESERVER:=wineserver}" "${WINEBOOT:=wineboot}"
log=$WINEPREFIX.log

case "$action" in
  start)
    settings=$3
    # A server left over from an interrupted run would serve stale settings.
    "$WINESERVER" -k </dev/null >/dev/null 2>&1 || true
    "$WINESERVER" -w </dev/null >/dev/null 2>&1 || true
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
    echo "Wine prefix $WINEPREFIX ready"
    ;;
  stop)
    "$WINESERVER" -k </dev/null >/dev/null 2>&1 || true
    "$WINESERVER" -w </dev/null >/dev/null 2>&1 || true
    ;;
  *)
    echo "usage: prefix.sh start PREFIX SETTINGS_DIR | stop PREFIX" >&2
    exit 2
    ;;
esac
