#!/usr/bin/env bash
# Drives the desktop program as a user would, under Xvfb with openbox: a site's address on the
# clipboard, Ctrl+B, Enter in the "Create New Task" editor, the download to a Zip file (task
# status 6), the unpacked Zip checked, a second copy handing a Zip file over and ending at once,
# Alt+F4 and the stored window place. Every wait is on a condition with a deadline.
# Usage: tests/e2e/desktop_e2e.sh <build folder>; exit 77 (skipped) without Xvfb and the tools.
set -euo pipefail
[ -n "${PELLIX_E2E_TRACE:-}" ] && set -x
build=$(cd "${1:?usage: $0 <build folder>}" && pwd)
pellix="$build/app/pellix"
for tool in Xvfb openbox xdotool xclip python3 unzip; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (scripts/setup.sh installs it)"; exit 77; }
done
[ -x "$pellix" ] || { echo "no $pellix"; exit 1; }

work=$(mktemp -d /tmp/pellix-desktop-e2e.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  [ -f "$work/pellix.log" ] && sed 's/^/  pellix: /' "$work/pellix.log" | tail -20
  if [ -n "${DISPLAY:-}" ]; then
    echo "  windows on $DISPLAY:"
    xdotool search --name '.' getwindowname %@ 2>/dev/null | sed 's/^/    /' | head -20 || true
  fi
  [ -n "${first:-}" ] && { kill -0 "$first" 2>/dev/null && echo "  pellix is running" || echo "  pellix has ended"; }
  exit 1
}
# wait_for SECONDS DESCRIPTION COMMAND...: polls the command until it succeeds.
wait_for() {
  local seconds=$1 what=$2; shift 2
  local deadline=$(( $(date +%s) + seconds ))
  until "$@" >/dev/null 2>&1; do
    [ "$(date +%s)" -lt "$deadline" ] || fail "timed out after ${seconds}s waiting for $what"
    sleep 0.1
  done
}

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
python3 -u -m http.server 0 --bind 127.0.0.1 --directory "$site" > "$work/http.log" 2>&1 & pids+=($!)
wait_for 10 "the site's server" grep -q "port" "$work/http.log"
port=$(sed -n 's/.*port \([0-9]*\).*/\1/p' "$work/http.log" | head -1)
url="http://127.0.0.1:$port/"

# A display of our own.
exec 5> "$work/display"
Xvfb -displayfd 5 -screen 0 1280x900x24 -nolisten tcp > "$work/xvfb.log" 2>&1 & pids+=($!)
wait_for 10 "Xvfb" test -s "$work/display"
export DISPLAY=":$(head -1 "$work/display")"
openbox > "$work/openbox.log" 2>&1 & pids+=($!)

# A fresh home: program folder, settings, temp folder and the user's home all inside $work.
export HOME="$work/user" PELLIX_HOME="$work/user/Pellix" XDG_CONFIG_HOME="$work/user/config" TMPDIR="$work/tmp"
mkdir -p "$HOME" "$TMPDIR"
settings="$XDG_CONFIG_HOME/Pellix/registry.ini"
# Under LeakSanitizer: the system's D-Bus library keeps one buffer to the end of the process.
printf 'leak:libdbus-1.so\n' > "$work/lsan.supp"
export LSAN_OPTIONS="suppressions=$work/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
# Under ThreadSanitizer, reports from inside Debian's uninstrumented Qt are skipped.
export TSAN_OPTIONS="suppressions=$(cd "$(dirname "$0")/.." && pwd)/tsan_qt.supp${TSAN_OPTIONS:+:$TSAN_OPTIONS}"

"$pellix" > "$work/pellix.log" 2>&1 & first=$!; pids+=($first)
wait_for 60 "the main window" xdotool search --onlyvisible --name '^Pellix 2\.50$'
win=$(xdotool search --onlyvisible --name '^Pellix 2\.50$' | head -1)

# The address on the clipboard; Ctrl+B in the main window.
printf '%s' "$url" | xclip -selection clipboard -i & pids+=($!)
wait_for 10 "the clipboard" sh -c "xclip -selection clipboard -o | grep -q 127.0.0.1"
xdotool windowactivate --sync "$win"
xdotool key --clearmodifiers ctrl+b
wait_for 20 "the Create New Task editor" xdotool search --onlyvisible --name '^Create New Task$'
editor=$(xdotool search --onlyvisible --name '^Create New Task$' | head -1)
xdotool windowactivate --sync "$editor"
xdotool key --clearmodifiers Return

# The task runs to "Zipped!": its task file says status 6 and the Zip file is there.
task_status6() { grep -rlqs '^Status=6' "$PELLIX_HOME/Tasks/General/"*.pxt; }
wait_for 90 "the task's status 6" task_status6
zip=$(ls "$PELLIX_HOME/Downloads/"*.zip 2>/dev/null | head -1)
[ -n "$zip" ] || fail "no Zip file in $PELLIX_HOME/Downloads"
# The completion report is an information box titled "Pellix": OK it.
wait_for 20 "the completion report" xdotool search --onlyvisible --name '^Pellix$'
xdotool windowactivate --sync "$(xdotool search --onlyvisible --name '^Pellix$' | head -1)"
xdotool key --clearmodifiers Return

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
xdotool windowactivate --sync "$win"
xdotool key --clearmodifiers alt+F4
wait_for 30 "the program to end" sh -c "! kill -0 $first 2>/dev/null"
wait "$first" || fail "pellix ended with status $?"
grep -A4 'FormPellix\]' "$settings" > "$work/place" || fail "no window place stored"
grep -q '"Width"="700"' "$work/place" || fail "stored width is not 700: $(cat "$work/place")"
grep -q '"Height"="520"' "$work/place" || fail "stored height is not 520: $(cat "$work/place")"
grep -q '"Left"=' "$work/place" && grep -q '"Top"=' "$work/place" || fail "no stored Left/Top"
echo "PASS: downloaded $url into $(basename "$zip"); second copy ended in ${elapsed_ms} ms; window place stored"
