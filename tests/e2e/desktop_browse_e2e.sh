#!/usr/bin/env bash
# The internal browser after a download, as a user reads the site: a site is downloaded into a
# Zip file, the Zip opened with Ctrl+O, its start page chosen in the "Pages" tab (Ctrl+Tab, typed
# name, Return) and shown in the Browse view straight from the Zip (nothing unpacked), with its
# style sheet and image drawn on screen and no request to the site. Then `pellix --browse` times
# the same page. A screenshot is kept when PELLIX_E2E_SHOTS names a folder.
# Usage: tests/e2e/desktop_browse_e2e.sh <build folder>; exit 77 (skipped) without the tools or
# without the internal browser.
set -euo pipefail
[ -n "${PELLIX_E2E_TRACE:-}" ] && set -x
source "$(dirname "$0")/desktop_lib.sh"
e2e_init "${1:-}"
grep -q "PELLIX_HAVE_WEBENGINE" "$build/compile_commands.json" 2>/dev/null ||
  { echo "SKIP: built without the internal browser"; exit 77; }
command -v convert >/dev/null || { echo "SKIP: imagemagick is not installed (scripts/setup.sh installs it)"; exit 77; }

# The image is a block of one colour and the page's background another, so that the screenshot
# tells whether both were drawn.
image_colour='#2060c0'
page_colour='#fff8e0'
banner_colour='#004080'
site="$work/site"
mkdir -p "$site/sub"
cat > "$site/index.html" <<'HTML'
<html><head><title>Browse Start</title><link rel="stylesheet" href="style.css"></head>
<body><h1>Offline start page</h1><p><a href="sub/page2.html">the second page</a></p>
<img src="logo.png" width="240" height="120"></body></html>
HTML
echo '<html><head><title>Second</title></head><body><a href="../index.html">home</a><img src="../logo.png"></body></html>' > "$site/sub/page2.html"
echo "body { background: $page_colour; } h1 { color: #a02040; }" > "$site/style.css"
convert -size 240x120 "xc:$image_colour" -fill gold -draw 'rectangle 0,90 240,120' "$site/logo.png"
e2e_site_server "$site"
e2e_display
e2e_home
e2e_start_pellix
e2e_download "$url"
# The Zip file may have been renamed after the start page's title at completion.
zip=$(ls "$PELLIX_HOME/Downloads/"*.zip | head -1)

entry="127.0.0.1_$port/index.html"
# The listing is read whole first: grep -q stopping early would make unzip fail under pipefail.
listing=$(unzip -Z1 "$zip")
grep -qxF "$entry" <<< "$listing" || fail "no $entry in $zip: $listing"
served=$(wc -l < "$work/http.log")

# Ctrl+O: "Open Zip File", the path typed; the zip tree takes the focus with the Zip selected.
e2e_open_zip "$zip"
e2e_focused '^Pellix 2\.50$'

# colour_pixels FILE COLOUR: how many pixels of the screenshot have (about) that colour.
colour_pixels() {
  convert "$1" -alpha off -fuzz 4% -transparent "$2" -alpha extract -negate -format '%[fx:round(mean*w*h)]' info:
}
# shows_page: a screenshot holds the page's background (its style sheet), the image and the
# banner's frame (a page of the Zip too, drawn last), each in a large area.
shows_page() {
  import -window root "$work/shot.png" 2>/dev/null || return 1
  [ "$(colour_pixels "$work/shot.png" "$image_colour")" -ge 15000 ] &&
    [ "$(colour_pixels "$work/shot.png" "$page_colour")" -ge 20000 ] &&
    [ "$(colour_pixels "$work/shot.png" "$banner_colour")" -ge 20000 ]
}
xdotool windowsize --sync "$win" 1100 800
# Ctrl+Tab moves the left pane to "Pages"; once the Zip is listed its pages fill the tab, typing a
# page's name selects it and Return shows it in the Browse view. Until then the keys find no page:
# they are given again.
xdotool key --clearmodifiers ctrl+Tab
deadline=$(( $(date +%s) + 60 ))
shown=""
while [ -z "$shown" ]; do
  [ "$(date +%s)" -lt "$deadline" ] || fail "timed out waiting for the start page in the Browse view"
  xdotool type --delay 20 index.html
  xdotool key --clearmodifiers Return
  for _ in $(seq 20); do
    shows_page && { shown=1; break; }
    sleep 0.25
  done
done
[ -n "${PELLIX_E2E_SHOTS:-}" ] && cp "$work/shot.png" "$PELLIX_E2E_SHOTS/browse.png"
[ "$(wc -l < "$work/http.log")" -eq "$served" ] || fail "the offline page went to the web: $(tail -3 "$work/http.log")"
[ -z "$(find "$TMPDIR" -name index.html 2>/dev/null)" ] || fail "the Zip was unpacked for browsing"
# The browser control made the window's native surface anew: find the window again.
win=$(xdotool search --onlyvisible --name '^Pellix 2\.50$' | tail -1)
e2e_end_pellix

# The page and everything it loads come from the Zip: the site's server is asked nothing more.
figure=$(timeout 60 "$pellix" --browse "$zip" "$entry" --browse-time 2>"$work/browse.log" | grep browse_page_ms || true)
[ -n "$figure" ] || fail "the page never finished loading: $(tail -5 "$work/browse.log")"
case "$figure" in *failed*) fail "the page did not load: $figure" ;; esac
[ "$(wc -l < "$work/http.log")" -eq "$served" ] || fail "the offline page went to the web: $(tail -3 "$work/http.log")"
echo "PASS: $entry chosen in the Pages tab and shown from $(basename "$zip") in the Browse view ($figure)"
