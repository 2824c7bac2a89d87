#!/usr/bin/env bash
# The explore view as a user drives it: after the download of a small site, the view is opened
# from the Task menu, one item is found with the filter and marked "download again" from the
# pop-up menu (keys only); the task is run again (Enter in the run dialog when it asks for the
# run mode) and the server's request log must show that exactly that item was fetched.
# Usage: tests/e2e/desktop_explore_e2e.sh <build folder>; exit 77 (skipped) without the tools.
set -euo pipefail
[ -n "${PELLIX_E2E_TRACE:-}" ] && set -x
source "$(dirname "$0")/desktop_lib.sh"
e2e_init "${1:-}"

site="$work/site"
mkdir -p "$site/sub"
cat > "$site/index.html" <<'HTML'
<html><head><title>Explore Start</title></head>
<body><a href="page2.html">two</a> <a href="sub/page3.html">three</a><img src="logo.png"></body></html>
HTML
echo '<html><body><a href="index.html">home</a></body></html>' > "$site/page2.html"
echo '<html><body><a href="../index.html">home</a><img src="../logo.png"></body></html>' > "$site/sub/page3.html"
printf '\x89PNG\r\n\x1a\n' > "$site/logo.png"
e2e_site_server "$site"

e2e_display
e2e_home
e2e_start_pellix
e2e_download "$url"
[ "$(e2e_requests /page2.html)" -ge 1 ] || fail "the first run did not fetch page2.html"
shot() { [ -n "${PELLIX_E2E_SHOTS:-}" ] && import -window root "$PELLIX_E2E_SHOTS/explore-$1.png" 2>/dev/null || true; }

# Task > Explore on the task just downloaded.
xdotool windowactivate --sync "$win"
xdotool key --clearmodifiers alt+t
sleep 0.3
xdotool key --clearmodifiers x
list_file=$(ls "$PELLIX_HOME"/Tasks/General/*.dwn | head -1)
# The filter (Ctrl+Shift+F) narrows the rows to page2; Down goes to its row; the Menu key opens
# the pop-up menu: "Mark for download" > "Selected".
wait_for 10 "the explore view" true
xdotool key --clearmodifiers ctrl+shift+f
xdotool type --delay 20 "page2.html"
sleep 0.5
xdotool key --clearmodifiers Down
shot filtered
xdotool key --clearmodifiers Menu
sleep 0.5
xdotool key --clearmodifiers Down
xdotool key --clearmodifiers Right
sleep 0.3
shot menu
xdotool key --clearmodifiers Return
# The mark is in the download list file: page2's record line is state 0, action 1.
marked() {
  python3 - "$list_file" <<'PY'
import sys
lines = open(sys.argv[1], encoding="latin-1", newline="").read().split("\r\n")
for i in range(0, len(lines) - 1, 2):
    if lines[i].endswith("/page2.html"):
        f = lines[i + 1].split("\xb6")
        sys.exit(0 if f[0] == "0" and f[7] == "1" else 1)
sys.exit(1)
PY
}
wait_for 10 "page2's mark in $list_file" marked
shot marked

# Run again: Task > Run; the run dialog (when it asks) is accepted with Enter.
before=$(wc -l < "$work/http.log")
xdotool windowactivate --sync "$win"
xdotool key --clearmodifiers alt+t
sleep 0.3
xdotool key --clearmodifiers r
asked() { xdotool search --onlyvisible --name '^Pellix - Run Task \(' >/dev/null || xdotool search --onlyvisible --name '^Pellix$' >/dev/null; }
wait_for 20 "the run dialog" asked
if xdotool search --onlyvisible --name '^Pellix - Run Task \(' >/dev/null; then
  e2e_window '^Pellix - Run Task \('
  xdotool key --clearmodifiers Return
  e2e_wait_status 6
  how="the desktop's run dialog"
else
  # Without a run dialog yet the Run command says so: the same task file is resumed from the
  # command line instead, which reads the marked list from its file.
  e2e_window '^Pellix$'
  xdotool key --clearmodifiers Return
  e2e_end_pellix
  task_file=$(ls "$PELLIX_HOME"/Tasks/General/*.pxt | head -1)
  timeout 120 "$build/app/pellix-cli" --task "$task_file" --mode resume > "$work/cli.log" 2>&1 ||
    { cat "$work/cli.log"; fail "pellix-cli --task --mode resume failed"; }
  how="pellix-cli --mode resume (no run dialog yet)"
fi
fetched=$(tail -n +"$((before + 1))" "$work/http.log" | grep -o '"GET [^ ]*' | sed 's/"GET //' | sort | uniq -c)
echo "requests of the second run: $fetched"
[ "$(printf '%s\n' "$fetched" | grep -c .)" -eq 1 ] && printf '%s\n' "$fetched" | grep -q ' /page2.html$' ||
  fail "the second run fetched other than exactly page2.html: $fetched"
echo "PASS: marked page2.html for download in the explore view; the second run ($how) fetched exactly it"
