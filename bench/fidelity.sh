#!/usr/bin/env bash
# Offline fidelity: how a saved site looks and what it still asks the network for, in a real
# browser. For each of two sites served by nginx on loopback,
#   - bench/mirror's site, the CMake manual of the Debian cmake-doc package, and
#   - bench/fidelity/modern, a small site with web fonts (@font-face), srcset and picture,
#     versioned assets (site.css?v=2024.1, app.js?1700000000, img/x.png?w=200), inline SVG and
#     scripts that read JSON files (its fonts come from fonts-dejavu-core, its images are drawn
#     here with ImageMagick),
# it mirrors the site with pellix-cli in Personal Intranet Mode twice, with "No Ads" on and with the
# banner, renders N pages from the server and from the saved folder in headless Chromium at the
# same size, and prints for each page the share of differing pixels (ImageMagick compare -metric
# AE with a small fuzz; online against the copy without the banner) and the requests that the
# offline pages made (Chromium's net log; the copy with the banner), then a summary line.
#
# Chromium runs with --allow-file-access-from-files in both renders: without it a page opened
# from disk may not read files with XMLHttpRequest, whoever saved it.
#
# Usage: bench/fidelity.sh [options]
#   --build DIR     build folder holding app/pellix-cli (default: build)
#   --pages N       pages rendered per site (default: 5; the modern site has 3)
#   --fuzz PCT      colour distance still counted as the same pixel (default: 5)
#   --size WxH      window size (default: 1024x900)
#   --keep DIR      keep the screenshots and difference images in DIR (default: BUILD/fidelity)
set -euo pipefail
cd "$(dirname "$0")/.."
repo="$PWD"

build_dir="build"
pages=5
fuzz=5
size="1024x900"
keep=""
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build_dir="$2"; shift 2 ;;
    --pages) pages="$2"; shift 2 ;;
    --fuzz) fuzz="$2"; shift 2 ;;
    --size) size="$2"; shift 2 ;;
    --keep) keep="$2"; shift 2 ;;
    -h|--help) sed -n '2,26p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "unknown option: $1 (see --help)" >&2; exit 2 ;;
  esac
done
case "$build_dir" in /*) ;; *) build_dir="$repo/$build_dir" ;; esac
keep="${keep:-$build_dir/fidelity}"
case "$keep" in /*) ;; *) keep="$repo/$keep" ;; esac

# shellcheck source=bench/mirror/common.sh
source "$repo/bench/mirror/common.sh"
setup_work pellix-fidelity
ensure_packages nginx-light chromium imagemagick fonts-dejavu-core cmake-doc python3
ensure_cli "$build_dir"
cli="$build_dir/app/pellix-cli"
chmod 755 "$work"
mkdir -p "$keep"
rm -f "$keep"/*.png

# The modern site: the fixture's text files, two DejaVu faces as its web fonts, drawn images.
modern="$work/modern"
mkdir -p "$modern/fonts" "$modern/img"
cp -r "$repo/bench/fidelity/modern/." "$modern/"
cp /usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf "$modern/fonts/harbour-serif.ttf"
cp /usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf "$modern/fonts/harbour-sans-bold.ttf"
draw() { convert "$@" 2> /dev/null; }
draw -size 640x200 gradient:'#1b6ca8-#f2c14e' -fill '#0f3d5e' -draw 'rectangle 0,150 640,200' "$modern/img/harbour.png"
draw -size 1280x400 gradient:'#1b6ca8-#f2c14e' -fill '#0f3d5e' -draw 'rectangle 0,300 1280,400' "$modern/img/harbour@2x.png"
draw -size 640x200 gradient:'#0f3d5e-#7fb7de' -fill '#f2c14e' -draw 'circle 520,70 520,110' "$modern/img/harbour-wide.png"
draw -size 1280x400 gradient:'#0f3d5e-#7fb7de' -fill '#f2c14e' -draw 'circle 1040,140 1040,220' "$modern/img/harbour-wide@2x.png"
for i in 1 2 3; do
  draw -size 200x140 "plasma:fractal" -seed "$i" "$modern/img/boat-$i.png" \
    || draw -size 200x140 "xc:#$((i * 3))0$((i * 2))0a0" "$modern/img/boat-$i.png"
done
draw -size 20x20 xc:'#ffffff' -fill '#e3ecf4' -draw 'rectangle 0,0 20,1' -draw 'rectangle 0,0 1,20' "$modern/img/grid.png"
draw -size 32x32 xc:'#1b6ca8' "$modern/img/icon.png"
find "$modern" -type d -exec chmod 755 {} +
find "$modern" -type f -exec chmod 644 {} +

cmake_site="/usr/share/doc/cmake-data/html"
[ -f "$cmake_site/index.html" ] || { echo "no documentation at $cmake_site" >&2; exit 2; }
cmake_pages=(index.html manual/cmake.1.html command/add_library.html module/FindPython.html
             guide/tutorial/index.html variable/CMAKE_CXX_STANDARD.html)
modern_pages=(index.html gallery.html tides.html)

width="${size%x*}"
height="${size#*x}"

# render NAME URL: a screenshot into $work/shots/NAME.png and the net log into $work/shots/NAME.net.json.
render() {
  local name="$1" url="$2"
  mkdir -p "$work/shots" "$work/profile-$name"
  timeout 90 chromium --headless=new --no-sandbox --disable-gpu --disable-background-networking \
    --disable-component-update --disable-sync --no-first-run --hide-scrollbars \
    --allow-file-access-from-files --force-device-scale-factor=1 \
    --user-data-dir="$work/profile-$name" --log-net-log="$work/shots/$name.net.json" \
    --virtual-time-budget=5000 --window-size="$width,$height" \
    --screenshot="$work/shots/$name.png" "$url" > /dev/null 2>&1 || true
  rm -rf "$work/profile-$name"
}

# Requests the page made (the browser's own update and account checks carry no origin).
page_requests() {
  python3 "$repo/tests/support/net_log_requests.py" "$1"
}

results="$work/results.tsv"
: > "$results"

# bench_site LABEL ROOT PAGE...: serves ROOT, mirrors it twice, renders and compares the pages.
bench_site() {
  local label="$1" root="$2"
  shift 2
  start_nginx "$root"
  local base="http://127.0.0.1:$port"
  local host="127.0.0.1_$port"
  echo "== $label: $base/ (mirroring twice, No Ads on and off) ..." >&2
  local ads
  for ads in noads banner; do
    local args=(--home "$work/home-$label-$ads" --intranet "$work/saved-$label-$ads" --quiet)
    [ "$ads" = noads ] && args+=(--no-ads)
    timed "$label-$ads" 1800 "$cli" "${args[@]}" "$base/index.html" > "$work/$label-$ads.report" 2> "$work/$label-$ads.log"
    if [ "$(cat "$work/$label-$ads.rc")" -ne 0 ]; then
      echo "pellix-cli ended with status $(cat "$work/$label-$ads.rc") for $label ($ads):" >&2
      tail -5 "$work/$label-$ads.log" >&2
    fi
  done
  local count=0 page
  for page in "$@"; do
    [ "$count" -ge "$pages" ] && break
    [ -f "$root/$page" ] || continue
    count=$((count + 1))
    local name="$label-$(echo "$page" | tr '/.' '__')"
    render "$name-online" "$base/$page"
    render "$name-offline" "file://$work/saved-$label-noads/$host/$page"
    render "$name-banner" "file://$work/saved-$label-banner/$host/$page"
    local differing="" share="n/a"
    if [ -f "$work/shots/$name-online.png" ] && [ -f "$work/shots/$name-offline.png" ]; then
      differing="$(compare -metric AE -fuzz "$fuzz%" "$work/shots/$name-online.png" "$work/shots/$name-offline.png" \
                    "$keep/$name-difference.png" 2>&1 > /dev/null || true)"
      differing="${differing%% *}"
      share="$(python3 -c "print(f'{100 * float(\"$differing\") / ($width * $height):.3f}')" 2> /dev/null || echo n/a)"
      cp "$work/shots/$name-online.png" "$work/shots/$name-offline.png" "$keep/"
    fi
    [ -f "$work/shots/$name-banner.png" ] && cp "$work/shots/$name-banner.png" "$keep/"
    local offline_requests banner_requests
    offline_requests="$(page_requests "$work/shots/$name-offline.net.json")"
    banner_requests="$(page_requests "$work/shots/$name-banner.net.json")"
    printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$label" "$page" "${differing:-n/a}" "$share" \
      "$banner_requests" "$offline_requests" >> "$results"
  done
  stop_nginx
}

bench_site cmake-doc "$cmake_site" "${cmake_pages[@]}"
bench_site modern "$modern" "${modern_pages[@]}"

echo
echo "== offline fidelity ($size, fuzz $fuzz%, No Ads on for pixels, banner on for requests)"
python3 - "$results" "$work" <<'PY'
import os, sys
rows = [line.rstrip("\n").split("\t") for line in open(sys.argv[1]) if line.strip()]
work = sys.argv[2]
print(f"{'site':10} {'page':34} {'differing px':>12} {'share %':>8}  requests from the offline page (banner on)")
worst = 0.0
requests = 0
for site, page, differing, share, banner, noads in rows:
    hits = [u for u in banner.split() if u]
    requests += len(hits)
    if share != "n/a":
        worst = max(worst, float(share))
    shown = ", ".join(hits) if hits else "none"
    print(f"{site:10} {page:34} {differing:>12} {share:>8}  {shown}")
    if noads.strip():
        print(f"{'':10} {'':34} {'':>12} {'':>8}  (No Ads copy: {noads})")
for label in ("cmake-doc", "modern"):
    walls = []
    for ads in ("noads", "banner"):
        path = os.path.join(work, f"{label}-{ads}.wall")
        if os.path.exists(path):
            walls.append(open(path).read().strip())
    print(f"mirror time {label}: {' s, '.join(walls)} s (No Ads, banner)")
bad = sum(1 for r in rows if r[3] == "n/a" or float(r[3]) > 1.0)
print(f"summary: {len(rows)} pages, worst share {worst:.3f}% (goal: at most 1%), "
      f"{bad} above 1% or not rendered, {requests} requests from offline pages (goal: 0)")
PY
echo "screenshots and difference images: $keep"
