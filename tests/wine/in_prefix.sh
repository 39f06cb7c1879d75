#!/usr/bin/env bash
# Runs a command in the Wine session that prefix.sh started: with its display, when it has one.
display_file=$WINEPREFIX.display
if [ -s "$display_file" ]; then
  DISPLAY=:$(tr -d '\n' <"$display_file")
  export DISPLAY
fi
exec "$@"
