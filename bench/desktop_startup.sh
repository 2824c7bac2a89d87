#!/usr/bin/env bash
# Start-up of the desktop program to a shown main window, on a fresh home each time and on a
# home that has run once (first-start steps done). Prints the program's own figure (from main()
# to the first pass of the event loop after the window was shown) and the process's wall time
# from launch to that point.
# Usage: bench/desktop_startup.sh [build-dir] [runs]; uses $DISPLAY, else an Xvfb of its own.
set -euo pipefail
build=${1:-build}
runs=${2:-5}
pellix="$build/app/pellix"
[ -x "$pellix" ] || { echo "no $pellix: build the target pellix first" >&2; exit 1; }
work=$(mktemp -d /tmp/pellix-startup.XXXXXX)
xvfb_pid=""
cleanup() { [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 90 99); do [ -e "/tmp/.X11-unix/X$n" ] || break; done
  Xvfb ":$n" -screen 0 1280x900x24 >/dev/null 2>&1 & xvfb_pid=$!
  export DISPLAY=":$n"
  for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.05; done
fi
measure() { # home -> "program_ms wall_ms"
  local start end shown
  start=$(date +%s%N)
  shown=$(PELLIX_HOME="$1/px" XDG_CONFIG_HOME="$1/cfg" "$pellix" --startup-time 2>/dev/null | awk '/startup_to_shown_ms/ {print $2}')
  end=$(date +%s%N)
  echo "$shown $(( (end - start) / 1000000 ))"
}
for kind in fresh warm; do
  for i in $(seq "$runs"); do
    home="$work/$kind$i"
    mkdir -p "$home"
    [ "$kind" = warm ] && measure "$home" >/dev/null
    measure "$home"
  done | sort -n | awk -v kind="$kind" '{p[NR]=$1; w[NR]=$2} END {m=int((NR+1)/2); printf "%s home: startup_to_shown_ms median %s (min %s, max %s); process wall ms median %s\n", kind, p[m], p[1], p[NR], w[m]}'
done
