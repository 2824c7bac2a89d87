#!/usr/bin/env bash
# The desktop's small windows as a user meets them, under Xvfb with openbox and a system tray
# (trayer): the skin dialog (Ctrl+K) and the profiles editor (View menu) open and close with
# keys; minimising hides the program to the tray and opens the drop zone at the top edge, which
# rolls down under the pointer; the tray icon's menu (right click) restores the program and the
# drop zone goes. Screenshots of each are kept when PELLIX_E2E_SHOTS names a folder.
# Usage: tests/e2e/desktop_tray_e2e.sh <build folder>; exit 77 (skipped) without the tools.
set -euo pipefail
[ -n "${PELLIX_E2E_TRACE:-}" ] && set -x
source "$(dirname "$0")/desktop_lib.sh"
e2e_init "${1:-}"
for tool in trayer xwininfo import; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (scripts/setup.sh installs it)"; exit 77; }
done

# shot NAME: the whole screen, kept when asked for.
shot() {
  [ -n "${PELLIX_E2E_SHOTS:-}" ] && import -window root "$PELLIX_E2E_SHOTS/$1.png"
  return 0
}
# visible_windows: how many windows are on screen (a menu that pops up adds one).
visible_windows() { xdotool search --onlyvisible --name '.*' 2>/dev/null | wc -l; }
# popped_up COUNT: waits for more windows on screen than COUNT.
popped_up() {
  wait_for 20 "a menu" sh -c "[ \"\$(xdotool search --onlyvisible --name '.*' 2>/dev/null | wc -l)\" -gt $1 ]"
}
# closed TITLE-REGEX: no visible window is so named.
closed() {
  wait_for 20 "the window $1 to close" sh -c "! xdotool search --onlyvisible --name '$1'"
}

e2e_display
# The tray: a panel along the bottom edge that docks the icons of the programs.
trayer --edge bottom --align right --widthtype request --height 32 --SetDockType true --expand true \
  > "$work/trayer.log" 2>&1 & pids+=($!)
wait_for 10 "the tray" sh -c "xdotool search --onlyvisible --class trayer"
tray=$(xdotool search --onlyvisible --class trayer | head -1)
e2e_home
# Two named profiles for the editor to show.
mkdir -p "$PELLIX_HOME/Profiles"
printf '[Profile]\nProfile Name=Images Only\nDepth=2\n' > "$PELLIX_HOME/Profiles/Images Only.pxp"
printf '[Profile]\nProfile Name=Whole Site\nDepth=-1\n' > "$PELLIX_HOME/Profiles/Whole Site.pxp"
e2e_start_pellix
xdotool windowactivate --sync "$win"
# The icon docks as a child window of the panel.
wait_for 20 "the tray icon" sh -c "[ \"\$(xwininfo -children -id $tray | sed -n 's/^ *\([0-9]*\) child.*/\1/p')\" -gt 0 ]"

# Ctrl+K: "Select Skin", Escape closes it.
xdotool key --clearmodifiers ctrl+k
e2e_window '^Select Skin$'
e2e_focused '^Select Skin$'
shot skin-dialog
xdotool key --clearmodifiers Escape
closed '^Select Skin$'

# View menu (Alt+V): its third item opens the profiles editor; Down selects the first profile,
# Escape closes the editor.
xdotool windowactivate --sync "$win"
before=$(visible_windows)
xdotool key --clearmodifiers alt+v
popped_up "$before"
xdotool key --clearmodifiers Down Down Return
e2e_window '^Profiles Editor$'
e2e_focused '^Profiles Editor$'
xdotool key --clearmodifiers Down
shot profile-editor
xdotool key --clearmodifiers Escape
closed '^Profiles Editor$'

# Minimised: the main window leaves the screen for the tray, the drop zone sits on the top edge.
xdotool windowminimize --sync "$win"
wait_for 20 "the drop zone" xdotool search --onlyvisible --name '^Pellix DropZone$'
zone=$(xdotool search --onlyvisible --name '^Pellix DropZone$' | head -1)
wait_for 20 "the main window to leave the screen" sh -c "! xdotool search --onlyvisible --name '^Pellix 2\.50\$'"
eval "$(xdotool getwindowgeometry --shell "$zone")"
[ "$Y" -le 2 ] || fail "the drop zone is not at the top edge (y $Y)"
# The pointer on its strip rolls it down.
xdotool mousemove $((X + WIDTH / 2)) 1
wait_for 20 "the drop zone to roll down" sh -c \
  "xdotool getwindowgeometry --shell $zone | grep -qE '^HEIGHT=(2[0-9][0-9]|[3-9][0-9][0-9])\$'"
shot drop-zone
# Away from it, it rolls up again.
xdotool mousemove 400 500
wait_for 20 "the drop zone to roll up" sh -c \
  "xdotool getwindowgeometry --shell $zone | grep -qE '^HEIGHT=[0-9]\$'"

# A right click on the tray icon opens the tray menu; R (its "&Restore") brings the program back.
eval "$(xdotool getwindowgeometry --shell "$tray")"
before=$(visible_windows)
xdotool mousemove $((X + WIDTH - 16)) $((Y + HEIGHT / 2)) click 3
popped_up "$before"
shot tray-menu
xdotool key --clearmodifiers r
wait_for 20 "the main window back" xdotool search --onlyvisible --name '^Pellix 2\.50$'
closed '^Pellix DropZone$'

e2e_end_pellix
echo "PASS: skin dialog, profiles editor, drop zone rolling, tray menu restoring the program"
