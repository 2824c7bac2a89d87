#!/usr/bin/env bash
# Runs a window test on a display of its own: Xvfb, started and ended here, with the xcb platform.
# Usage: tests/support/with_display.sh PROGRAM [ARGS...]; exit 77 (skipped) without Xvfb.
set -euo pipefail
command -v Xvfb >/dev/null || { echo "SKIP: Xvfb is not installed (scripts/setup.sh installs it)"; exit 77; }
work=$(mktemp -d /tmp/pellix-display.XXXXXX)
xvfb=""
cleanup() {
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
exec 5> "$work/display"
Xvfb -displayfd 5 -screen 0 1280x900x24 -nolisten tcp > "$work/xvfb.log" 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start: $(cat "$work/xvfb.log")"; exit 1; }
export DISPLAY=":$(head -1 "$work/display")" QT_QPA_PLATFORM=xcb
status=0
"$@" || status=$?
exit "$status"
