#!/usr/bin/env bash
# Time from the click to a page of a large Zip file shown in the internal browser, images and
# style sheets included. The Zip holds bench/mirror's site (the CMake manual of cmake-doc, packed
# under its host folder as a task packs it) topped up with small files to 5,000 entries; without
# cmake-doc a generated site of the same size stands in. Runs the desktop program under Xvfb.
# Usage: bench/offline_browse.sh [build-dir] [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
runs="${2:-3}"
pellix="$build/app/pellix"
[ -x "$pellix" ] || { echo "no $pellix (cmake --build $build --target pellix)" >&2; exit 2; }
for tool in Xvfb openbox zip convert; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed (scripts/setup.sh)" >&2; exit 2; }
done
work=$(mktemp -d /tmp/pellix-offline-browse.XXXXXX)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; rm -rf "$work"' EXIT

host="127.0.0.1_8080"
mkdir -p "$work/site/$host"
docs="/usr/share/doc/cmake-data/html"
if [ -f "$docs/index.html" ]; then
  cp -r "$docs/." "$work/site/$host/"
  start="$host/index.html"
  echo "site: the CMake manual ($docs)"
else
  # Pages, each with a style sheet and two images, as a saved site has them.
  mkdir -p "$work/site/$host/img" "$work/site/$host/pages"
  convert -size 400x300 gradient:navy-gold "$work/site/$host/img/banner.png"
  convert -size 64x64 plasma:fractal "$work/site/$host/img/icon.png"
  echo 'body{font-family:sans-serif;background:#f8f8f0}h1{color:#336}' > "$work/site/$host/style.css"
  for i in $(seq 1 1500); do
    printf '<html><head><link rel="stylesheet" href="../style.css"></head><body><h1>Page %d</h1><img src="../img/banner.png"><img src="../img/icon.png"><a href="p%d.htm">next</a></body></html>\n' \
      "$i" "$((i + 1))" > "$work/site/$host/pages/p$i.htm"
  done
  sed 's|\.\./|./|g' "$work/site/$host/pages/p1.htm" > "$work/site/$host/index.htm"
  start="$host/index.htm"
  echo "site: generated (cmake-doc is not installed)"
fi
have=$(find "$work/site" -type f | wc -l)
mkdir -p "$work/site/$host/filler"
for i in $(seq "$have" 4999); do echo "$i" > "$work/site/$host/filler/f$i.txt"; done
(cd "$work/site" && zip -q -r -6 "$work/Site.zip" "$host")
echo "entries: $(unzip -l "$work/Site.zip" | tail -1 | awk '{print $2}') files, $(du -k "$work/Site.zip" | cut -f1) KB"

exec 5> "$work/display"
Xvfb -displayfd 5 -screen 0 1280x900x24 -nolisten tcp > /dev/null 2>&1 & pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -1 "$work/display")"
openbox > /dev/null 2>&1 & pids+=($!)
export HOME="$work/user" PELLIX_HOME="$work/user/Pellix" XDG_CONFIG_HOME="$work/user/config" TMPDIR="$work/tmp"
export PELLIX_HOME_PAGE=""
mkdir -p "$HOME" "$TMPDIR"
for run in $(seq 1 "$runs"); do
  figure=$(timeout 120 "$pellix" --browse "$work/Site.zip" "$start" --browse-time 2>/dev/null | grep browse_page_ms || true)
  echo "run $run: ${figure:-no figure}"
done
echo "(the page was not unpacked: $(find "$TMPDIR" -type f 2>/dev/null | wc -l) files in the temp folder)"
