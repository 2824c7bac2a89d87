#!/usr/bin/env bash
# Mirrors generated sites of small linked files (1,000 and 10,000 by default) with pellix-cli in
# zip mode, served by nginx on loopback, and prints the time per file for each size and their
# ratio: packing and crawling should cost the same per file whatever the site's size.
#
# Usage: bench/mirror_scale.sh [options]
#   --build DIR         build folder holding app/pellix-cli (default: build)
#   --sizes "N1 N2..."  file counts to generate (default: "1000 10000")
#   --connections N     pass --connections N to pellix-cli (default: the program's own default)
#   --wget              also time wget -m + zip -r -6 on each site, for reference
set -euo pipefail
cd "$(dirname "$0")/.."
repo="$PWD"

build_dir="build"
sizes="1000 10000"
connections=""
with_wget=0
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build_dir="$2"; shift 2 ;;
    --sizes) sizes="$2"; shift 2 ;;
    --connections) connections="$2"; shift 2 ;;
    --wget) with_wget=1; shift ;;
    -h|--help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "unknown option: $1 (see --help)" >&2; exit 2 ;;
  esac
done
case "$build_dir" in /*) ;; *) build_dir="$repo/$build_dir" ;; esac

# shellcheck source=bench/mirror/common.sh
source "$repo/bench/mirror/common.sh"
setup_work pellix-mirror-scale

ensure_packages nginx-light wget zip unzip time python3
ensure_cli "$build_dir"
cli="$build_dir/app/pellix-cli"
chmod 755 "$work"

declare -A files
for n in $sizes; do
  files[$n]="$(python3 "$repo/bench/mirror/make_site.py" "$work/www/s$n" "$n")"
done
chmod -R a+rX "$work/www"
start_nginx "$work/www"

results=()
for n in $sizes; do
  url="http://127.0.0.1:$port/s$n/index.html"
  mkdir -p "$work/out$n" "$work/home$n"
  args=(--home "$work/home$n" --zip "$work/out$n/site.zip" --quiet)
  [ -n "$connections" ] && args+=(--connections "$connections")
  echo "mirroring $n files with pellix-cli ..." >&2
  timed "ours$n" 3600 "$cli" "${args[@]}" "$url" > "$work/ours$n.report" 2> "$work/ours$n.log"
  zip_file="$(find_zip "$work/out$n")"
  rc="$(cat "$work/ours$n.rc")"
  if [ "$rc" -ne 0 ] || [ -z "$zip_file" ]; then
    echo "pellix-cli ended with status $rc on $n files; its messages:" >&2
    tail -20 "$work/ours$n.log" >&2
    exit 1
  fi
  entries="$(unzip -Z1 "$zip_file" | grep -cv '/$')"
  wget_wall=""
  if [ "$with_wget" -eq 1 ]; then
    mkdir -p "$work/wget$n"
    echo "mirroring $n files with wget + zip ..." >&2
    timed "wget$n" 3600 bash -c "cd '$work/wget$n' && wget -m -k -p -E -nv --no-proxy -o log '$url';
                                  zip -r -6 -q ../wget$n.zip ."
    wget_wall="$(cat "$work/wget$n.wall")"
  fi
  results+=("$n ${files[$n]} $entries $(cat "$work/ours$n.wall") $(peak_rss_kb "ours$n") ${wget_wall:-0}")
done

echo
echo "== generated sites, pellix-cli in zip mode"
printf '%s\n' "${results[@]}" | python3 -c '
import sys
rows = [line.split() for line in sys.stdin if line.strip()]
per_file = []
for n, served, entries, wall, rss, wget in rows:
    served, entries, wall, rss, wget = int(served), int(entries), float(wall), int(rss), float(wget)
    per = wall / served * 1000
    per_file.append(per)
    line = (f"{n:>6} files: {served} served, {entries} in our Zip, {wall:.2f} s, "
            f"{per:.3f} ms per file, peak memory {rss / 1024:.1f} MB")
    if wget:
        line += f"; wget + zip {wget:.2f} s (ratio ours/wget+zip {wall / wget:.2f})"
    print(line)
if len(per_file) > 1:
    print(f"time per file, largest site / smallest: {per_file[-1] / per_file[0]:.2f}  (1.00 is linear)")
    # Differences of consecutive runs cancel what every run pays once (start, the last tick).
    for (n1, s1, _, w1, _, _), (n2, s2, _, w2, _, _) in zip(rows, rows[1:]):
        if int(s2) > int(s1):
            extra = (float(w2) - float(w1)) / (int(s2) - int(s1)) * 1000
            print(f"time per added file from {n1} to {n2} files: {extra:.3f} ms")
'
