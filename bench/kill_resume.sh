#!/usr/bin/env bash
# Kills pellix-cli with SIGKILL at random moments of a zip-mode mirror of a real documentation
# site (the CMake manual of Debian's cmake-doc, served by nginx on loopback), resumes the task
# after each kill, and compares the final Zip with the one of an uninterrupted run: `unzip -t`,
# the same entries with the same CRCs, the report's counts, the Zip's name after the start page's
# title, and the Zip's size.
#
# Usage: bench/kill_resume.sh [options]
#   --build DIR     build folder holding app/pellix-cli (default: build)
#   --rounds N      kills before the last resume (default: 10)
#   --seed N        seed of the random kill moments (default: the clock)
set -euo pipefail
cd "$(dirname "$0")/.."
repo="$PWD"

build_dir="build"
rounds=10
seed="$(date +%s)"
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build_dir="$2"; shift 2 ;;
    --rounds) rounds="$2"; shift 2 ;;
    --seed) seed="$2"; shift 2 ;;
    -h|--help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "unknown option: $1 (see --help)" >&2; exit 2 ;;
  esac
done
case "$build_dir" in /*) ;; *) build_dir="$repo/$build_dir" ;; esac

# shellcheck source=bench/mirror/common.sh
source "$repo/bench/mirror/common.sh"
setup_work pellix-kill

ensure_packages nginx-light unzip python3 cmake-doc
ensure_cli "$build_dir"
cli="$build_dir/app/pellix-cli"
site="/usr/share/doc/cmake-data/html"
[ -f "$site/index.html" ] || { echo "no documentation at $site" >&2; exit 2; }
chmod 755 "$work"
start_nginx "$site"
url="http://127.0.0.1:$port/index.html"

# zip_listing ZIP: one "name crc size" line per entry, sorted.
zip_listing() {
  python3 - "$1" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    for i in sorted(z.infolist(), key=lambda i: i.filename):
        print(i.filename, format(i.CRC, "08x"), i.file_size)
PY
}

report_counts() {
  sed -n '/^Pages:/,$p' "$1" | tr -s ' \n' ' '
}

echo "clean run" >&2
mkdir -p "$work/clean"
timed clean 600 "$cli" --quiet --home "$work/clean/home" "$url" \
  > "$work/clean/report.txt" 2> "$work/clean/stderr.txt"
[ "$(cat "$work/clean.rc")" = 0 ] || { echo "clean run failed:" >&2; cat "$work/clean/stderr.txt" >&2; exit 1; }
clean_zip="$(find_zip "$work/clean/home/Downloads")"
zip_listing "$clean_zip" > "$work/clean/listing.txt"
clean_wall="$(cat "$work/clean.wall")"

echo "killed runs (seed $seed)" >&2
RANDOM="$seed"
mkdir -p "$work/killed"
task=""
kills=0
for round in $(seq 1 "$rounds"); do
  if [ -z "$task" ]; then
    args=(--home "$work/killed/home" "$url")
  else
    args=(--home "$work/killed/home" --task "$task" --mode resume)
  fi
  "$cli" "${args[@]}" > "$work/killed/report.txt" 2> "$work/killed/stderr.$round.txt" &
  pid=$!
  # A moment between 2% and 16% of the clean run's time, so that most rounds land mid-run.
  delay="$(python3 -c "import random; random.seed($seed + $round); print(f'{$clean_wall * random.uniform(0.02, 0.16):.3f}')")"
  sleep "$delay"
  if kill -9 "$pid" 2>/dev/null; then
    kills=$((kills + 1))
  fi
  wait "$pid" 2>/dev/null || true
  if [ -z "$task" ]; then
    task="$(sed -n 's/^Task: //p' "$work/killed/stderr.$round.txt" | head -1)"
    [ -n "$task" ] || { echo "no task file named in round $round:" >&2; cat "$work/killed/stderr.$round.txt" >&2; exit 1; }
  fi
  echo "  round $round: killed after $delay s" >&2
done
rc=0
"$cli" --quiet --home "$work/killed/home" --task "$task" --mode resume \
  > "$work/killed/report.txt" 2> "$work/killed/stderr.final.txt" || rc=$?
killed_zip="$(find_zip "$work/killed/home/Downloads")"

fail=0
echo
echo "kills: $kills of $rounds rounds landed before the run ended; final resume exit status $rc"
[ "$rc" = 0 ] || { fail=1; cat "$work/killed/stderr.final.txt"; }
if unzip -tq "$killed_zip" > "$work/killed/unzip-t.txt" 2>&1; then
  echo "unzip -t: $(cat "$work/killed/unzip-t.txt")"
else
  echo "unzip -t FAILED:"; cat "$work/killed/unzip-t.txt"; fail=1
fi
zip_listing "$killed_zip" > "$work/killed/listing.txt"
if diff -q "$work/clean/listing.txt" "$work/killed/listing.txt" > /dev/null; then
  echo "entries: $(wc -l < "$work/clean/listing.txt") in both, same names, CRCs and sizes"
else
  echo "entries DIFFER (clean < > killed):"
  diff "$work/clean/listing.txt" "$work/killed/listing.txt" | head -20
  fail=1
fi
clean_counts="$(report_counts "$work/clean/report.txt")"
killed_counts="$(report_counts "$work/killed/report.txt")"
echo "report, clean:  $clean_counts"
echo "report, killed: $killed_counts"
[ "$clean_counts" = "$killed_counts" ] || fail=1
echo "zip names: clean $(basename "$clean_zip"), killed $(basename "$killed_zip")"
[ "$(basename "$clean_zip")" = "$(basename "$killed_zip")" ] || fail=1
entry_bytes="$(python3 -c "import zipfile,sys; print(sum(i.compress_size for i in zipfile.ZipFile(sys.argv[1]).infolist()))" "$killed_zip")"
echo "zip size: clean $(stat -c %s "$clean_zip") bytes, killed $(stat -c %s "$killed_zip") bytes ($entry_bytes bytes of compressed entries)"
exit "$fail"
