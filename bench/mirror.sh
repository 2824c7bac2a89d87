#!/usr/bin/env bash
# Mirrors a real documentation site (the CMake manual of the Debian cmake-doc package, about 1,900
# pages with images, style sheets and scripts) served by nginx on loopback, once with pellix-cli
# into a Zip file and once with wget followed by zip, in the same run. Prints the wall times and
# their ratio, pages and files fetched by each with the differences, our peak memory and our
# broken local links, and renders our start page in headless Chromium.
#
# Usage: bench/mirror.sh [options]
#   --build DIR        build folder holding app/pellix-cli and bench/bench_check_site (default: build)
#   --big-file MB      also serve one file of MB megabytes, linked from the start page, to show
#                      that our peak memory does not follow the largest file's size
#   --connections N    pass --connections N to pellix-cli (default: the program's own default)
#   --no-wget          mirror with pellix-cli only
#   --no-chromium      do not render the start page
#   --keep DIR         keep the Zip files, logs and screenshot in DIR (default: BUILD/mirror)
set -euo pipefail
cd "$(dirname "$0")/.."
repo="$PWD"

build_dir="build"
big_mb=0
connections=""
with_wget=1
with_chromium=1
keep=""
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build_dir="$2"; shift 2 ;;
    --big-file) big_mb="$2"; shift 2 ;;
    --connections) connections="$2"; shift 2 ;;
    --no-wget) with_wget=0; shift ;;
    --no-chromium) with_chromium=0; shift ;;
    --keep) keep="$2"; shift 2 ;;
    -h|--help) sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "unknown option: $1 (see --help)" >&2; exit 2 ;;
  esac
done
case "$build_dir" in /*) ;; *) build_dir="$repo/$build_dir" ;; esac
keep="${keep:-$build_dir/mirror}"
case "$keep" in /*) ;; *) keep="$repo/$keep" ;; esac

# shellcheck source=bench/mirror/common.sh
source "$repo/bench/mirror/common.sh"
setup_work pellix-mirror

packages=(nginx-light wget zip unzip time python3 cmake-doc)
[ "$with_chromium" -eq 1 ] && packages+=(chromium)
ensure_packages "${packages[@]}"
ensure_cli "$build_dir"
cli="$build_dir/app/pellix-cli"
checker="$build_dir/bench/bench_check_site"
if [ ! -x "$checker" ]; then
  timeout 1200 cmake --build "$build_dir" --target bench_check_site >&2 || true
fi

site="/usr/share/doc/cmake-data/html"
[ -f "$site/index.html" ] || { echo "no documentation at $site" >&2; exit 2; }
chmod 755 "$work"
mkdir -p "$work/out" "$work/wget" "$work/home" "$work/unpacked" "$keep"

# The big file is served beside the site, with a copy of the start page that links it.
extra=""
if [ "$big_mb" -gt 0 ]; then
  mkdir -p "$work/extra"
  head -c "$((big_mb * 1024 * 1024))" /dev/urandom > "$work/extra/big.bin"
  sed 's|<body>|<body><p><a href="big.bin">big file</a></p>|' "$site/index.html" > "$work/extra/index.html"
  grep -q 'href="big.bin"' "$work/extra/index.html" || { echo "could not link the big file" >&2; exit 2; }
  chmod 644 "$work/extra/"*
  extra="location = /big.bin { alias $work/extra/big.bin; }
    location = /index.html { alias $work/extra/index.html; }"
fi
start_nginx "$site" "$extra"
url="http://127.0.0.1:$port/index.html"

# Both runs read the site from the page cache, not the disk.
find -L "$site" -type f -exec cat {} + > /dev/null

echo "site: $site ($(find -L "$site" -type f | wc -l) files, $(du -shL "$site" | cut -f1)) at $url" >&2

if [ "$with_wget" -eq 1 ]; then
  echo "mirroring with wget + zip ..." >&2
  # robots.txt is fetched by wget and answered 404 here; it limits nothing.
  wget_cmd="cd '$work/wget' && wget -m -k -p -E -nv --no-proxy -o '$work/wget.log' '$url'; rc=\$?;
            [ \$rc -eq 0 ] || [ \$rc -eq 8 ] || exit \$rc;
            zip -r -6 -q '$work/wget.zip' ."
  timed wget 1800 bash -c "$wget_cmd"
  [ "$(cat "$work/wget.rc")" -eq 0 ] || echo "wget + zip ended with status $(cat "$work/wget.rc")" >&2
fi

echo "mirroring with pellix-cli ..." >&2
cli_args=(--home "$work/home" --zip "$work/out/site.zip" --quiet)
[ -n "$connections" ] && cli_args+=(--connections "$connections")
timed ours 1800 "$cli" "${cli_args[@]}" "$url" > "$work/ours.report" 2> "$work/ours.log"
our_rc="$(cat "$work/ours.rc")"
our_zip="$(find_zip "$work/out")"
if [ "$our_rc" -ne 0 ] || [ -z "$our_zip" ]; then
  echo "pellix-cli ended with status $our_rc; its messages:" >&2
  tail -20 "$work/ours.log" >&2
  if [ -z "$our_zip" ]; then
    if [ "$with_wget" -eq 1 ]; then
      echo "wget + zip alone: $(cat "$work/wget.wall") s, peak memory $(( $(peak_rss_kb wget) / 1024 )) MB," \
           "$(find "$work/wget" -type f | wc -l) files"
    fi
    exit 1
  fi
fi
# A Zip with the big file in it is not worth keeping.
[ "$big_mb" -gt 0 ] || cp "$our_zip" "$keep/ours.zip"
cp "$work/ours.report" "$work/ours.log" "$keep/"

unzip -Z1 "$our_zip" > "$work/ours.list"
timeout 600 unzip -q -o "$our_zip" -d "$work/unpacked"

echo
echo "== mirror of $url"
python3 - "$work" "$with_wget" "$(peak_rss_kb ours)" "$big_mb" <<'PY'
import os, sys
work, with_wget, rss, big = sys.argv[1], sys.argv[2] == "1", int(sys.argv[3] or 0), int(sys.argv[4])
ours = float(open(os.path.join(work, "ours.wall")).read())
print(f"ours (pellix-cli, zip mode): {ours:.2f} s")
if with_wget:
    theirs = float(open(os.path.join(work, "wget.wall")).read())
    print(f"wget + zip: {theirs:.2f} s")
    print(f"time ratio ours / (wget + zip): {ours / theirs:.2f}  (goal: at most 0.50)")
label = f" with a {big} MB file in the site" if big else ""
print(f"our peak memory{label}: {rss / 1024:.1f} MB  (goal: under 150 MB)")
PY
for f in ours wget; do
  [ -f "$work/$f.time" ] || continue
  user="$(sed -n 's/.*User time (seconds): *//p' "$work/$f.time")"
  sys_t="$(sed -n 's/.*System time (seconds): *//p' "$work/$f.time")"
  echo "cpu time $f: user $user s, system $sys_t s"
done
if [ "$with_wget" -eq 1 ]; then
  echo "zip size: ours $(stat -c %s "$our_zip") bytes, wget's tree zipped $(stat -c %s "$work/wget.zip") bytes"
  echo
  compare=(python3 "$repo/bench/mirror/compare.py" "$work/wget/127.0.0.1:$port" "$work/wget.log" "$work/ours.list" "127.0.0.1_$port")
  "${compare[@]}"
  MIRROR_SHOW=1000000 "${compare[@]}" > "$keep/differences.txt"
  cp "$work/wget.log" "$keep/"
else
  echo "ours: $(grep -ciE '\.html?$' "$work/ours.list") pages, $(grep -cviE '(\.html?|/)$' "$work/ours.list") other files"
fi

dwn="$(find "$work/home/Tasks" -name '*.dwn' | head -1)"
if [ -n "$dwn" ]; then
  echo
  python3 "$repo/bench/mirror/failed_items.py" "$dwn" | tee "$keep/failed_items.txt" | head -30
fi

echo
if [ -x "$checker" ]; then
  echo "our broken local links (unpacked Zip):"
  "$checker" "$work/unpacked" > "$keep/broken_links.txt" || true
  head -40 "$keep/broken_links.txt"
else
  echo "our broken local links: $checker is missing, not checked"
fi

if [ "$with_chromium" -eq 1 ]; then
  start_page="$(find "$work/unpacked" -maxdepth 2 -path "*/127.0.0.1_$port/index.htm*" | head -1)"
  if [ -n "$start_page" ]; then
    mkdir -p "$work/chromium"
    rm -f "$keep/start_page.png"
    timeout 90 chromium --headless --no-sandbox --disable-gpu --disable-background-networking \
      --disable-component-update --disable-sync --no-first-run --user-data-dir="$work/chromium" \
      --window-size=1024,900 --screenshot="$keep/start_page.png" "file://$start_page" \
      > /dev/null 2>&1 || true
    if [ -f "$keep/start_page.png" ]; then
      echo "start page rendered: $keep/start_page.png"
    else
      echo "start page: chromium wrote no screenshot"
    fi
  else
    echo "start page: not found in our Zip"
  fi
fi
echo "kept in $keep: $([ "$big_mb" -gt 0 ] || echo 'ours.zip, ')ours.report, ours.log, failed_items.txt, broken_links.txt$([ "$with_wget" -eq 1 ] && echo ', wget.log, differences.txt')"
