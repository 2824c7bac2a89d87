#!/usr/bin/env bash
# The zip manager's dialogs as a user drives them, under Xvfb with openbox: a site downloaded to a
# Zip file, that Zip opened with Ctrl+O (typing its path in "Open Zip File"), extracted with Ctrl+U
# through the "Unzip" dialog and the files compared with the Zip, then a file added with Ctrl+A
# through the "File Zip Wizard" and seen in `unzip -l`. Every wait is on a condition with a deadline.
# Usage: tests/e2e/desktop_zip_e2e.sh <build folder>; exit 77 (skipped) without Xvfb and the tools.
set -euo pipefail
[ -n "${PELLIX_E2E_TRACE:-}" ] && set -x
source "$(dirname "$0")/desktop_lib.sh"
e2e_init "${1:-}"

site="$work/site"
mkdir -p "$site/sub"
cat > "$site/index.html" <<'HTML'
<html><head><title>Zip E2E</title><link rel="stylesheet" href="style.css"></head>
<body><a href="page2.html">two</a> <a href="sub/page3.html">three</a><img src="logo.png"></body></html>
HTML
echo '<html><body><a href="index.html">home</a></body></html>' > "$site/page2.html"
echo '<html><body><a href="../index.html">home</a></body></html>' > "$site/sub/page3.html"
echo 'body { color: black; }' > "$site/style.css"
printf '\x89PNG\r\n\x1a\n' > "$site/logo.png"
e2e_site_server "$site"

e2e_display
e2e_home
e2e_start_pellix
e2e_download "$url"

unzip -tq "$zip" > /dev/null || fail "the downloaded Zip does not test clean"

# Ctrl+O: "Open Zip File", the path typed into its file name field.
e2e_open_zip "$zip"

# Ctrl+U: the "Unzip" dialog; the folder typed, "Use path names" checked (Tab twice from the
# field: the "Files:" choice, then the option), Return confirms.
out="$work/extracted"
xdotool windowactivate --sync "$win"
# The Zip opens off the window's thread; Unzip is enabled once it is listed.
wait_for 20 "the unzip dialog after Ctrl+U" sh -c \
  "xdotool key --clearmodifiers ctrl+u; sleep 0.4; xdotool search --onlyvisible --name '^Unzip\$'"
e2e_window '^Unzip$'
e2e_focused '^Unzip$'
xdotool key --clearmodifiers ctrl+a
xdotool type --delay 5 "$out"
xdotool key --clearmodifiers Tab Tab space Return
wait_for 30 "the extracted files" sh -c "test -f '$out/'\$(unzip -Z1 '$zip' | grep -v '/\$' | tail -1)"
python3 - "$zip" "$out" <<'PY' || fail "the extracted files are not the Zip's"
import os, sys, zipfile
zf, out = zipfile.ZipFile(sys.argv[1]), sys.argv[2]
names = {n for n in zf.namelist() if not n.endswith("/")}
found = {os.path.relpath(os.path.join(d, f), out).replace(os.sep, "/") for d, _, fs in os.walk(out) for f in fs}
if names != found:
    sys.exit("in the Zip: %s; extracted: %s" % (sorted(names), sorted(found)))
for n in names:
    if zf.read(n) != open(os.path.join(out, n), "rb").read():
        sys.exit("%s differs from its entry" % n)
print("extracted %d files, all equal to their entries" % len(names))
PY
grep -q '"Extract Use Paths"=dword:00000001\|"Extract Use Paths"="1"\|"Extract Use Paths"=.*1' "$settings" \
  || fail "\"Extract Use Paths\" was not stored: $(grep -i extract "$settings" || true)"

# Ctrl+A: the wizard preset with the open Zip; Return (Next), Alt+A (the file typed in "Add
# Files"), Return (Next), Return (Finish). Return clicks at once; a mnemonic clicks a moment later,
# so it is only used where a window opening shows that it was taken.
added="$work/notes/added-note.txt"
mkdir -p "$(dirname "$added")"
echo "added through the wizard" > "$added"
xdotool windowactivate --sync "$win"
# The extraction ends a moment after its last file is written; until then Add stays disabled.
wait_for 20 "the wizard after Ctrl+A" sh -c \
  "xdotool key --clearmodifiers ctrl+a; sleep 0.4; xdotool search --onlyvisible --name '^File Zip Wizard\$'"
e2e_window '^File Zip Wizard$'
e2e_focused '^File Zip Wizard$'
# The field holds the open Zip (copied out of it once the wizard takes keys).
wait_for 20 "the Zip's path in the wizard's field" sh -c \
  "xdotool key --clearmodifiers ctrl+a ctrl+c; xclip -selection clipboard -o | grep -qxF '$zip'"
xdotool key --clearmodifiers Return
xdotool key --clearmodifiers alt+a
e2e_window '^Add Files$'
e2e_focused '^Add Files$'
xdotool type --delay 5 "$added"
xdotool key --clearmodifiers Return
wait_for 20 "the add dialog to close" sh -c "! xdotool search --onlyvisible --name '^Add Files\$'"
e2e_window '^File Zip Wizard$'
e2e_focused '^File Zip Wizard$'
xdotool key --clearmodifiers Return Return
wait_for 30 "the added file in unzip -l" sh -c "unzip -l '$zip' | grep -q ' added-note.txt\$'"
unzip -tq "$zip" > /dev/null || fail "the Zip does not test clean after the add"
[ "$(unzip -p "$zip" added-note.txt)" = "added through the wizard" ] || fail "the added entry's contents differ"
# The site's entries are all still there.
unzip -Z1 "$zip" > "$work/after-add"
for n in $(cd "$out" && find . -type f | sed 's|^\./||'); do
  grep -qxF "$n" "$work/after-add" || fail "$n went missing from the Zip"
done

e2e_end_pellix
echo "PASS: opened $(basename "$zip") with Ctrl+O, extracted it with the unzip dialog, added a file with the wizard"
