#!/usr/bin/env bash
# Drives the desktop program as a user would, under Xvfb with openbox: a site's address on the
# clipboard, Ctrl+B, Enter in the "Create New Task" editor, the download to a Zip file (task
# status 6), the unpacked Zip checked, a second copy handing a Zip file over and ending at once,
# Alt+F4 and the stored window place. Every wait is on a condition with a deadline.
# Usage: tests/e2e/desktop_e2e.sh <build folder>; exit 77 (skipped) without Xvfb and the tools.
set -euo pipefail
[ -n "${PELLIX_E2E_TRACE:-}" ] && set -x
source "$(dirname "$0")/desktop_lib.sh"
e2e_init "${1:-}"

# A small site on loopback: pages, a style sheet, an image, a subfolder.
site="$work/site"
mkdir -p "$site/sub"
cat > "$site/index.html" <<'HTML'
<html><head><title>E2E Start</title><link rel="stylesheet" href="style.css"></head>
<body><h1>Start</h1><a href="page2.html">two</a> <a href="sub/page3.html">three</a><img src="logo.png"></body></html>
HTML
echo '<html><body><a href="index.html">home</a><a href="sub/page3.html">three</a></body></html>' > "$site/page2.html"
echo '<html><body><a href="../index.html">home</a><img src="../logo.png"></body></html>' > "$site/sub/page3.html"
echo 'body { background: url("logo.png"); }' > "$site/style.css"
printf '\x89PNG\r\n\x1a\n' > "$site/logo.png"
e2e_site_server "$site"

e2e_display
e2e_home
e2e_start_pellix

# The address on the clipboard, Ctrl+B, Enter in the editor; the task runs to "Zipped!" (status 6).
e2e_download "$url"

# The unpacked Zip: every page there and every local link leads to a file.
mkdir -p "$work/unzipped"
unzip -q "$zip" -d "$work/unzipped"
if [ -x "$build/bench/bench_check_site" ]; then
  "$build/bench/bench_check_site" "$work/unzipped" || fail "local links of the unpacked Zip lead nowhere"
fi
python3 - "$work/unzipped" <<'PY' || fail "the unpacked Zip is not the site"
import os, re, sys, urllib.parse
root = sys.argv[1]
files = [os.path.join(d, f) for d, _, fs in os.walk(root) for f in fs]
names = {os.path.basename(f) for f in files}
missing = {"index.html", "page2.html", "page3.html", "style.css", "logo.png"} - names
if missing:
    sys.exit("missing from the Zip: %s (has %s)" % (sorted(missing), sorted(names)))
for page in (f for f in files if f.endswith((".htm", ".html"))):
    for link in re.findall(r'(?:href|src)="([^"]+)"', open(page, errors="replace").read()):
        if re.match(r"^[a-z]+:", link) or link.startswith("#"):
            continue
        target = os.path.normpath(os.path.join(os.path.dirname(page), urllib.parse.unquote(link.split("#")[0])))
        if not os.path.exists(target):
            sys.exit("%s: %s leads nowhere" % (page, link))
PY

# A second copy with the Zip file hands it over and ends at once; the first lives on.
start=$(date +%s%N)
timeout 10 "$pellix" "$zip" > "$work/second.log" 2>&1 || fail "the second copy did not end by itself (status $?)"
elapsed_ms=$(( ($(date +%s%N) - start) / 1000000 ))
[ "$elapsed_ms" -lt 5000 ] || fail "the second copy took ${elapsed_ms} ms"
kill -0 "$first" 2>/dev/null || fail "the first copy ended when the second handed over"
[ "$(xdotool search --onlyvisible --name '^Pellix 2\.50$' | wc -l)" -eq 1 ] || fail "the second copy showed a window"
wait_for 10 "the handed-over Zip in the recent list" grep -q "Recent ZIP files" "$settings"

# A new size, then Alt+F4: the window place is stored.
xdotool windowsize --sync "$win" 700 520
e2e_end_pellix
grep -A4 'FormPellix\]' "$settings" > "$work/place" || fail "no window place stored"
grep -q '"Width"="700"' "$work/place" || fail "stored width is not 700: $(cat "$work/place")"
grep -q '"Height"="520"' "$work/place" || fail "stored height is not 520: $(cat "$work/place")"
grep -q '"Left"=' "$work/place" && grep -q '"Top"=' "$work/place" || fail "no stored Left/Top"
echo "PASS: downloaded $url into $(basename "$zip"); second copy ended in ${elapsed_ms} ms; window place stored"
