# Shared steps of the desktop end-to-end scripts (sourced, not run): a work folder that is removed
# at exit, waits with deadlines, a site on loopback with a request log, a display of our own with
# openbox, a fresh user home, the program started, and a site downloaded as a user would.
# Every wait is on a condition with a deadline. Scripts exit 77 (skipped) without the tools.

e2e_init() {
  build=$(cd "${1:?usage: $0 <build folder>}" && pwd)
  pellix="$build/app/pellix"
  for tool in Xvfb openbox xdotool xclip python3 unzip; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (scripts/setup.sh installs it)"; exit 77; }
  done
  [ -x "$pellix" ] || { echo "no $pellix"; exit 1; }
  work=$(mktemp -d /tmp/pellix-desktop-e2e.XXXXXX)
  pids=()
  first=""
  trap e2e_cleanup EXIT
}

e2e_cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}

fail() {
  echo "FAIL: $*"
  [ -f "$work/pellix.log" ] && sed 's/^/  pellix: /' "$work/pellix.log" | tail -20
  if [ -n "${DISPLAY:-}" ]; then
    echo "  windows on $DISPLAY:"
    xdotool search --name '.' getwindowname %@ 2>/dev/null | sed 's/^/    /' | head -20 || true
    if [ -n "${PELLIX_E2E_SHOTS:-}" ] && command -v import >/dev/null; then
      import -window root "$PELLIX_E2E_SHOTS/fail-$(date +%s).png" 2>/dev/null || true
    fi
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

# e2e_site_server FOLDER: serves FOLDER on 127.0.0.1; sets url. Each request is a line of
# $work/http.log ("GET /page2.html HTTP/1.1" 200), so scripts can count what was fetched.
e2e_site_server() {
  python3 -u -m http.server 0 --bind 127.0.0.1 --directory "$1" > "$work/http.log" 2>&1 & pids+=($!)
  wait_for 10 "the site's server" grep -q "port" "$work/http.log"
  port=$(sed -n 's/.*port \([0-9]*\).*/\1/p' "$work/http.log" | head -1)
  url="http://127.0.0.1:$port/"
}

# e2e_requests PATH: how many GETs of PATH the server has logged.
e2e_requests() {
  grep -c "\"GET $1 HTTP" "$work/http.log" || true
}

# e2e_display: Xvfb and openbox; sets DISPLAY.
e2e_display() {
  exec 5> "$work/display"
  Xvfb -displayfd 5 -screen 0 1280x900x24 -nolisten tcp > "$work/xvfb.log" 2>&1 & pids+=($!)
  wait_for 10 "Xvfb" test -s "$work/display"
  export DISPLAY=":$(head -1 "$work/display")"
  openbox > "$work/openbox.log" 2>&1 & pids+=($!)
  # Window activation needs the window manager in charge: it names itself on the root window.
  wait_for 10 "openbox" sh -c "xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'"
}

# e2e_home: program folder, settings, temp folder and the user's home all inside $work.
e2e_home() {
  export HOME="$work/user" PELLIX_HOME="$work/user/Pellix" XDG_CONFIG_HOME="$work/user/config" TMPDIR="$work/tmp"
  mkdir -p "$HOME" "$TMPDIR"
  # No home page: the Home view would otherwise load the maker's site from the web.
  export PELLIX_HOME_PAGE=""
  settings="$XDG_CONFIG_HOME/Pellix/registry.ini"
  # Under LeakSanitizer: the system's D-Bus library keeps one buffer to the end of the process.
  printf 'leak:libdbus-1.so\n' > "$work/lsan.supp"
  export LSAN_OPTIONS="suppressions=$work/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
  # Under ThreadSanitizer, reports from inside Debian's uninstrumented Qt are skipped.
  export TSAN_OPTIONS="suppressions=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/tsan_qt.supp${TSAN_OPTIONS:+:$TSAN_OPTIONS}"
}

# e2e_start_pellix [ARGS...]: starts the program; sets first (its pid) and win (the main window).
e2e_start_pellix() {
  "$pellix" "$@" > "$work/pellix.log" 2>&1 & first=$!; pids+=($first)
  wait_for 60 "the main window" xdotool search --onlyvisible --name '^Pellix 2\.50$'
  win=$(xdotool search --onlyvisible --name '^Pellix 2\.50$' | head -1)
}

# e2e_focused TITLE-REGEX: waits until the window so named has the input focus (keys go to it).
e2e_focused() {
  wait_for 20 "the input focus in $1" sh -c "xdotool getwindowfocus getwindowname | grep -q '$1'"
}

# e2e_open_zip FILE: Ctrl+O in the main window, FILE typed into "Open Zip File", Return; waits
# for the dialog to close.
e2e_open_zip() {
  xdotool windowactivate --sync "$win"
  xdotool key --clearmodifiers ctrl+o
  e2e_window '^Open Zip File$'
  e2e_focused '^Open Zip File$'
  xdotool type --delay 5 "$1"
  xdotool key --clearmodifiers Return
  wait_for 20 "the open dialog to close" sh -c "! xdotool search --onlyvisible --name '^Open Zip File\$'"
}

# e2e_window TITLE-REGEX [SECONDS]: waits for a visible window so named, activates it; sets found.
e2e_window() {
  wait_for "${2:-20}" "the window $1" xdotool search --onlyvisible --name "$1"
  found=$(xdotool search --onlyvisible --name "$1" | head -1)
  xdotool windowactivate --sync "$found"
}

# e2e_menu_window MENU-KEY ITEM-KEY TITLE-REGEX: opens a main-window menu (Alt+MENU-KEY), picks
# the item by its key and waits for the window it opens; a menu that was not open yet when the
# item key came (a busy machine) is closed and opened again, up to three times.
e2e_menu_window() {
  local try
  for try in 1 2 3; do
    xdotool windowactivate --sync "$win"
    xdotool key --clearmodifiers "alt+$1"
    sleep 0.3
    xdotool key --clearmodifiers "$2"
    local deadline=$(( $(date +%s) + 5 ))
    while [ "$(date +%s)" -lt "$deadline" ]; do
      if xdotool search --onlyvisible --name "$3" >/dev/null 2>&1; then
        e2e_window "$3"
        return 0
      fi
      sleep 0.1
    done
    xdotool key --clearmodifiers Escape Escape
  done
  fail "the menu Alt+$1, $2 did not open the window $3"
}

# e2e_download URL: the address on the clipboard, Ctrl+B, Enter in "Create New Task"; waits for
# the task's status 6 and OKs the completion report. Sets zip (the task's Zip file, looked up once
# the report is shown: the Zip is renamed after the start page's title just before it).
e2e_download() {
  printf '%s' "$1" | xclip -selection clipboard -i & pids+=($!)
  wait_for 10 "the clipboard" sh -c "xclip -selection clipboard -o | grep -q 127.0.0.1"
  xdotool windowactivate --sync "$win"
  xdotool key --clearmodifiers ctrl+b
  e2e_window '^Create New Task$'
  xdotool key --clearmodifiers Return
  e2e_wait_status 6
  e2e_ok_report
  zip=$(ls "$PELLIX_HOME/Downloads/"*.zip 2>/dev/null | head -1)
  [ -n "$zip" ] || fail "no Zip file in $PELLIX_HOME/Downloads"
}

# e2e_wait_status N: the task file of the (only) task says Status=N.
e2e_wait_status() {
  wait_for 90 "the task's status $1" sh -c "grep -lqs '^Status=$1' \"\$PELLIX_HOME\"/Tasks/General/*.pxt"
}

# e2e_ok_report: the completion report is an information box titled "Pellix": OK it.
e2e_ok_report() {
  e2e_window '^Pellix$'
  xdotool key --clearmodifiers Return
}

# e2e_end_pellix: Alt+F4 in the main window; the program ends with status 0.
e2e_end_pellix() {
  xdotool windowactivate --sync "$win"
  xdotool key --clearmodifiers alt+F4
  wait_for 30 "the program to end" sh -c "! kill -0 $first 2>/dev/null"
  wait "$first" || fail "pellix ended with status $?"
}
