#!/usr/bin/env bash
# The X display of the e2e tier: one Xvfb for the whole run.
#   display.sh start STATE : start Xvfb on a free display; STATE receives "DISPLAY PID"
#   display.sh stop STATE  : stop it
set -euo pipefail
action=$1
state=$2
case "$action" in
  start)
    if [ -f "$state" ]; then
      read -r old pid <"$state" || true
      kill "$pid" 2>/dev/null || true
      rm -f "$state"
    fi
    for n in $(seq 90 140); do
      [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
      Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
      pid=$!
      for _ in $(seq 1 100); do
        [ -e "/tmp/.X11-unix/X$n" ] && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
      done
      if [ -e "/tmp/.X11-unix/X$n" ] && kill -0 "$pid" 2>/dev/null; then
        mkdir -p "$(dirname "$state")"
        echo ":$n $pid" >"$state"
        echo "Xvfb on :$n (pid $pid)"
        exit 0
      fi
      kill "$pid" 2>/dev/null || true
    done
    echo "no free X display for Xvfb" >&2
    exit 1
    ;;
  stop)
    if [ -f "$state" ]; then
      read -r display pid <"$state" || true
      kill "$pid" 2>/dev/null || true
      rm -f "$state"
    fi
    ;;
  *)
    echo "usage: display.sh start|stop STATE" >&2
    exit 2
    ;;
esac
