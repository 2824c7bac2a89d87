#!/usr/bin/env bash
# The benchmark site of bench/mirror.sh (the CMake manual, about 1,900 pages) served by nginx on
# loopback, downloaded in the same run once with pellix-cli and once with the desktop program
# (pellix --download, under $DISPLAY or an Xvfb of its own). Prints both wall times and the
# desktop's responsiveness during its download: the longest single owner-thread step and the
# longest gap between the ticks of a 10 ms timer of the event loop.
# Usage: bench/desktop_mirror.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
repo="$PWD"
build_dir="${1:-build}"
case "$build_dir" in /*) ;; *) build_dir="$repo/$build_dir" ;; esac
# shellcheck source=bench/mirror/common.sh
source "$repo/bench/mirror/common.sh"
setup_work pellix-desktop-mirror
ensure_packages nginx-light time python3 cmake-doc xvfb
ensure_cli "$build_dir"
[ -x "$build_dir/app/pellix" ] || { echo "no $build_dir/app/pellix" >&2; exit 2; }
site="/usr/share/doc/cmake-data/html"
chmod 755 "$work"
start_nginx "$site"
url="http://127.0.0.1:$port/index.html"
find -L "$site" -type f -exec cat {} + > /dev/null
if [ -z "${DISPLAY:-}" ]; then
  exec 5> "$work/display"
  Xvfb -displayfd 5 -screen 0 1280x900x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  trap 'kill $xvfb_pid 2>/dev/null; cleanup_work' EXIT
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
  export DISPLAY=":$(head -1 "$work/display")"
fi
mkdir -p "$work/cli" "$work/desk/cfg" "$work/desk/tmp" "$work/out"
echo "site: $url" >&2

timed cli 1800 "$build_dir/app/pellix-cli" --home "$work/cli" --zip "$work/out/cli.zip" --quiet "$url" \
  > "$work/cli.report" 2> "$work/cli.log"
HOME="$work/desk" PELLIX_HOME="$work/desk/px" XDG_CONFIG_HOME="$work/desk/cfg" TMPDIR="$work/desk/tmp" \
  PELLIX_FIGURES_TRACE=${PELLIX_FIGURES_TRACE:-} timed desk 1800 "$build_dir/app/pellix" --figures --download "$url" --zip "$work/out/desk.zip" \
  > /dev/null 2> "$work/desk.log"

echo "== download of $url"
echo "pellix-cli: $(cat "$work/cli.wall") s (status $(cat "$work/cli.rc")), $(unzip -Z1 "$work/out/cli.zip" 2>/dev/null | wc -l) entries"
echo "pellix (desktop): $(cat "$work/desk.wall") s (status $(cat "$work/desk.rc")), $(unzip -Z1 "$work/out/desk.zip" 2>/dev/null | wc -l) entries"
grep -E '^(download_seconds|owner_longest_step_ms|event_loop_longest_gap_ms) ' "$work/desk.log" | sed 's/^/desktop /'
[ -n "${PELLIX_FIGURES_TRACE:-}" ] && grep -E "^(gap|status|task) " "$work/desk.log"
