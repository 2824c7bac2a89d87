#!/usr/bin/env bash
# The run dialog as a user drives it: a site is downloaded while one of its pages is missing on
# the server (an error); the page is then put on the server, the task is run again from the Task
# menu, "SmartRecovery" is chosen in the run dialog with the arrow keys and Enter runs it. The
# server's request log must show the page fetched, and the task's Zip must gain it.
# Usage: tests/e2e/desktop_tasks_e2e.sh <build folder>; exit 77 (skipped) without the tools.
set -euo pipefail
[ -n "${PELLIX_E2E_TRACE:-}" ] && set -x
source "$(dirname "$0")/desktop_lib.sh"
e2e_init "${1:-}"

site="$work/site"
mkdir -p "$site"
cat > "$site/index.html" <<'HTML'
<html><head><title>Recovery Start</title></head>
<body><a href="page2.html">two</a> <a href="late.html">late</a></body></html>
HTML
echo '<html><body><a href="index.html">home</a></body></html>' > "$site/page2.html"
e2e_site_server "$site"

e2e_display
e2e_home
e2e_start_pellix
e2e_download "$url"
grep -q '"GET /late.html HTTP/1.1" 404' "$work/http.log" || fail "the first run did not meet late.html's 404"
zip_of_task() { ls "$PELLIX_HOME/Downloads/"*.zip 2>/dev/null | head -1; }
listing=$(unzip -Z1 "$(zip_of_task)")
! grep -q 'late\.html$' <<< "$listing" || fail "the Zip holds late.html before it exists"

# The page now exists; Task > Run opens the run dialog.
echo '<html><body>late but here</body></html>' > "$site/late.html"
before=$(wc -l < "$work/http.log")
task_file=$(ls "$PELLIX_HOME"/Tasks/General/*.pxt | head -1)
# Nanoseconds: a quick second run saves the task file within the second, at the same size.
stamp=$(stat -c %.9Y.%s "$task_file")
e2e_menu_window t r '^Pellix - Run Task \('
# "Resume" is checked when the dialog opens; two steps down is "SmartRecovery".
xdotool key --clearmodifiers Down Down
[ -n "${PELLIX_E2E_SHOTS:-}" ] && import -window root "$PELLIX_E2E_SHOTS/tasks-run-dialog.png" 2>/dev/null || true
xdotool key --clearmodifiers Return
wait_for 90 "the task file to be saved by the second run" sh -c \
  "[ \"\$(stat -c %.9Y.%s '$task_file')\" != '$stamp' ] && grep -qs '^Status=6' '$task_file'"
e2e_ok_report

fetched=$(tail -n +"$((before + 1))" "$work/http.log" | grep -o '"GET [^ ]* HTTP/1.1" [0-9]*' | sed 's/"GET //' | sort | uniq -c)
echo "requests of the second run: $fetched"
printf '%s\n' "$fetched" | grep -q ' /late.html HTTP/1.1" 200$' || fail "the second run did not fetch late.html: $fetched"
wait_for 30 "late.html in the task's Zip" sh -c "unzip -Z1 \"\$(ls '$PELLIX_HOME'/Downloads/*.zip | head -1)\" | grep -q 'late\\.html\$'"
[ "$(unzip -p "$(zip_of_task)" "$(unzip -Z1 "$(zip_of_task)" | grep 'late\.html$' | head -1)" | grep -c 'late but here')" -eq 1 ] ||
  fail "late.html in the Zip is not the page the server now serves"
e2e_end_pellix
echo "PASS: SmartRecovery in the run dialog fetched the page that failed and the Zip gained it"
