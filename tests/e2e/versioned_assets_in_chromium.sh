#!/usr/bin/env bash
# Saves a page whose style sheet, script, web font and image all carry a query (?v=2, ?1700000000,
# ?v=1, ?w=200), and a style sheet and script without an extension (?v=3), with pellix-cli, in Personal Intranet Mode and into a Zip file, and opens each
# saved copy from disk in headless Chromium. The page's own script reports what the browser got:
# the sheets' colours, the texts the scripts write, the web font's state and the image's size. Also
# checks that the banner block loads the banner page written beside the site, and that the saved
# page made no request to any host.
# Usage: tests/e2e/versioned_assets_in_chromium.sh <pellix-cli> [fixture folder]
# Exit 77 (skipped) when chromium, python3 or the DejaVu font is missing.
set -euo pipefail
cli=${1:?usage: $0 <pellix-cli> [fixture folder]}
fixture=${2:-$(dirname "$0")/versioned_site}
font=/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf
command -v chromium > /dev/null || { echo "SKIP: chromium is not installed"; exit 77; }
command -v python3 > /dev/null || { echo "SKIP: python3 is not installed"; exit 77; }
[ -f "$font" ] || { echo "SKIP: $font is missing (fonts-dejavu-core)"; exit 77; }

work=$(mktemp -d /tmp/pellix-versioned.XXXXXX)
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2> /dev/null || true
    wait "$server_pid" 2> /dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# The site: the fixture's text files, the font from the Debian package and a 40 x 30 image.
mkdir -p "$work/www/fonts" "$work/www/img"
cp -r "$fixture"/. "$work/www/"
cp "$font" "$work/www/fonts/glyphs.ttf"
python3 - "$work/www/img/box.png" <<'PY'
import struct, sys, zlib
w, h = 40, 30
raw = b"".join(b"\x00" + b"\xc8\x50\x28" * w for _ in range(h))
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0)) \
    + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b"")
open(sys.argv[1], "wb").write(png)
PY

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()')
python3 -m http.server "$port" --bind 127.0.0.1 --directory "$work/www" > "$work/server.log" 2>&1 &
server_pid=$!
python3 - "$port" <<'PY'
import socket, sys, time
deadline = time.monotonic() + 20
while True:
    try:
        socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=1).close()
        break
    except OSError:
        if time.monotonic() > deadline:
            sys.exit("the test server did not start")
        time.sleep(0.05)
PY
url="http://127.0.0.1:$port/index.html"
host="127.0.0.1_$port"

timeout 120 "$cli" --home "$work/home-intranet" --intranet "$work/intranet" --quiet "$url" > "$work/intranet.report"
timeout 120 "$cli" --home "$work/home-zip" --zip "$work/site.zip" --quiet "$url" > "$work/zip.report"
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$work/site.zip" "$work/unzipped"

expected="color=rgb(0, 128, 0);script=written by app.js;theme=rgb(0, 0, 255);loader=written by loader;font=loaded;image=40x30"
failed=0
for mode in intranet unzipped; do
  page="$work/$mode/$host/index.html"
  if [ ! -f "$page" ]; then
    echo "FAIL ($mode): no saved start page at $page"; failed=1; continue
  fi
  mkdir -p "$work/profile-$mode"
  timeout 60 chromium --headless=new --no-sandbox --disable-gpu --disable-background-networking \
    --disable-component-update --disable-sync --no-first-run --user-data-dir="$work/profile-$mode" \
    --log-net-log="$work/net-$mode.json" --virtual-time-budget=5000 --dump-dom "file://$page" \
    > "$work/dom-$mode.html" 2> "$work/chromium-$mode.log" || true
  result=$(python3 - "$work/dom-$mode.html" <<'PY'
import re, sys
m = re.search(r'<p id="result">(.*?)</p>', open(sys.argv[1], encoding="utf-8", errors="replace").read())
print(m.group(1).replace("&amp;", "&") if m else "no result")
PY
)
  if [ "$result" != "$expected" ]; then
    echo "FAIL ($mode): the saved page reports \"$result\", expected \"$expected\""; failed=1
  fi
  # The banner block loads the banner page beside the site, one folder above the host's.
  if ! grep -q '<IFRAME SRC="../PellixBanner.htm"' "$page" || [ ! -f "$work/$mode/PellixBanner.htm" ]; then
    echo "FAIL ($mode): the banner block does not load ../PellixBanner.htm, or the page is missing"; failed=1
  fi
  # No address of any host is left in a saved file of the site, and none was asked for.
  if grep -rlE 'https?://' "$work/$mode" --include='*.htm*' --include='*.css*' --include='*.js*' \
       | grep -v '/PellixBanner.htm$' > "$work/external-$mode.txt"; then
    echo "FAIL ($mode): saved files still name a web address:"; cat "$work/external-$mode.txt"; failed=1
  fi
  # Requests that the page started (the browser's own update and account checks have no origin).
  requests=$(python3 "$(dirname "$0")/../support/net_log_requests.py" "$work/net-$mode.json")
  if [ -n "$requests" ]; then
    echo "FAIL ($mode): the saved page made requests: $requests"; failed=1
  fi
  echo "$mode: $result; requests: ${requests:-none}"
done
exit $failed
