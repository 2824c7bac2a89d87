#!/usr/bin/env bash
# The internal browser after a download: a site is downloaded into a Zip file as a user would,
# then its start page is shown in the Browse view straight from the Zip (nothing unpacked), with
# its style sheet and image; a screenshot is kept when PELLIX_E2E_SHOTS names a folder.
# Usage: tests/e2e/desktop_browse_e2e.sh <build folder>; exit 77 (skipped) without the tools or
# without the internal browser.
set -euo pipefail
[ -n "${PELLIX_E2E_TRACE:-}" ] && set -x
source "$(dirname "$0")/desktop_lib.sh"
e2e_init "${1:-}"
grep -q "PELLIX_HAVE_WEBENGINE" "$build/compile_commands.json" 2>/dev/null ||
  { echo "SKIP: built without the internal browser"; exit 77; }

site="$work/site"
mkdir -p "$site/sub"
cat > "$site/index.html" <<'HTML'
<html><head><title>Browse Start</title><link rel="stylesheet" href="style.css"></head>
<body><h1>Offline start page</h1><p><a href="sub/page2.html">the second page</a></p>
<img src="logo.png" width="240" height="120"></body></html>
HTML
echo '<html><head><title>Second</title></head><body><a href="../index.html">home</a><img src="../logo.png"></body></html>' > "$site/sub/page2.html"
echo 'body { background: #fff8e0; } h1 { color: #a02040; }' > "$site/style.css"
if command -v convert >/dev/null; then
  convert -size 240x120 gradient:navy-gold "$site/logo.png"
else
  printf '\x89PNG\r\n\x1a\n' > "$site/logo.png"
fi
e2e_site_server "$site"
e2e_display
e2e_home
e2e_start_pellix
e2e_download "$url"
e2e_end_pellix
# The Zip file may have been renamed after the start page's title at completion.
zip=$(ls "$PELLIX_HOME/Downloads/"*.zip | head -1)

entry="127.0.0.1_$port/index.html"
# The listing is read whole first: grep -q stopping early would make unzip fail under pipefail.
listing=$(unzip -Z1 "$zip")
grep -qxF "$entry" <<< "$listing" || fail "no $entry in $zip: $listing"
served=$(wc -l < "$work/http.log")

# The page and everything it loads come from the Zip: the site's server is asked nothing more.
figure=$(timeout 60 "$pellix" --browse "$zip" "$entry" --browse-time 2>"$work/browse.log" | grep browse_page_ms || true)
[ -n "$figure" ] || fail "the page never finished loading: $(tail -5 "$work/browse.log")"
case "$figure" in *failed*) fail "the page did not load: $figure" ;; esac
[ "$(wc -l < "$work/http.log")" -eq "$served" ] || fail "the offline page went to the web: $(tail -3 "$work/http.log")"
[ -z "$(find "$TMPDIR" -name index.html 2>/dev/null)" ] || fail "the Zip was unpacked for browsing"

# Shown in the window: the Browse view with the page rendered.
e2e_start_pellix --browse "$zip" "$entry"
# The browser control makes the window's native surface anew: find the window again.
sleep 3 # the page paints after it has loaded; nothing to poll from outside
win=$(xdotool search --onlyvisible --name '^Pellix 2\.50$' | tail -1)
xdotool windowsize --sync "$win" 1100 800
sleep 1
if [ -n "${PELLIX_E2E_SHOTS:-}" ] && command -v import >/dev/null; then
  import -window root "$PELLIX_E2E_SHOTS/browse.png"
fi
e2e_end_pellix
echo "PASS: $entry shown from $(basename "$zip") in the internal browser ($figure)"
