#!/usr/bin/env bash
# The mirror benchmark's site (the CMake manual of cmake-doc, served by nginx) as a user far from
# the server sees it: every tool reaches nginx through bench/latency_proxy.py, which adds a round
# trip to each connection's set-up and to each exchange. In the same run, over http and over
# https (a test CA made here; every tool verifies the certificate through it):
#   pellix-cli --connections N into a Zip file,
#   wget2 -m -k -p -E --max-threads=N followed by zip -r -6,
#   wget -m -k -p -E followed by zip -r -6.
# Prints the wall times, our ratio to each, and the connections each tool opened (counted by the
# proxy) per item it fetched.
#
# Usage: bench/wan_mirror.sh [options]
#   --build DIR        folder holding app/pellix-cli (default: build)
#   --rtt MS           round trip added by the proxy (default: 40); 0: straight to nginx on
#                      loopback, without the proxy (connections are then not counted)
#   --connections N    our connections and wget2's threads (default: 8)
#   --schemes LIST     "http https" (default), or one of them
#   --pipeline N       our requests in flight per kept connection (default: ours)
#   --no-wget          leave out wget (the slowest by far)
set -euo pipefail
cd "$(dirname "$0")/.."
repo="$PWD"

build_dir="build"
rtt=40
connections=8
schemes="http https"
with_wget=1
pipeline=()
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build_dir="$2"; shift 2 ;;
    --rtt) rtt="$2"; shift 2 ;;
    --connections) connections="$2"; shift 2 ;;
    --schemes) schemes="$2"; shift 2 ;;
    --pipeline) pipeline=(--pipeline "$2"); shift 2 ;;
    --no-wget) with_wget=0; shift ;;
    -h|--help) sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "unknown option: $1 (see --help)" >&2; exit 2 ;;
  esac
done
case "$build_dir" in /*) ;; *) build_dir="$repo/$build_dir" ;; esac

# shellcheck source=bench/mirror/common.sh
source "$repo/bench/mirror/common.sh"
setup_work pellix-wan
proxy_pids=()
cleanup_wan() {
  local pid
  for pid in "${proxy_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  cleanup_work
}
trap cleanup_wan EXIT

ensure_packages nginx-light wget wget2 zip unzip time python3 cmake-doc openssl
ensure_cli "$build_dir"
cli="$build_dir/app/pellix-cli"

site="/usr/share/doc/cmake-data/html"
[ -f "$site/index.html" ] || { echo "no documentation at $site" >&2; exit 2; }
chmod 755 "$work"

# A test CA and a certificate for 127.0.0.1 and localhost signed by it.
tls="$work/tls"
mkdir -p "$tls"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 -subj "/CN=Pellix bench CA" \
  -keyout "$tls/ca.key" -out "$tls/ca.pem" 2> /dev/null
openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "/CN=127.0.0.1" \
  -keyout "$tls/server.key" -out "$tls/server.csr" 2> /dev/null
printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\n' > "$tls/ext.cnf"
openssl x509 -req -in "$tls/server.csr" -CA "$tls/ca.pem" -CAkey "$tls/ca.key" -CAcreateserial -days 2 \
  -extfile "$tls/ext.cnf" -out "$tls/server.pem" 2> /dev/null
chmod 644 "$tls"/*

# One nginx serves both: http on $port, https on $tls_port.
tls_port="$(free_port)"
start_nginx "$site" "listen 127.0.0.1:$tls_port ssl;
    ssl_certificate $tls/server.pem;
    ssl_certificate_key $tls/server.key;
    ssl_session_tickets on;"
http_port="$port"
find -L "$site" -type f -exec cat {} + > /dev/null

# start_proxy NAME TARGET_PORT: a latency proxy in front of nginx; sets proxy_port.
start_proxy() {
  local name="$1" target="$2"
  proxy_port="$(free_port)"
  python3 "$repo/bench/latency_proxy.py" --listen "$proxy_port" --target "127.0.0.1:$target" --rtt-ms "$rtt" \
    --count-file "$work/$name.connections" --ready-file "$work/$name.ready" > "$work/$name.proxy.log" 2>&1 &
  proxy_pids+=($!)
  local i
  for i in $(seq 1 100); do
    [ -f "$work/$name.ready" ] && return 0
    sleep 0.1
  done
  echo "the latency proxy did not start" >&2
  exit 2
}

connections_of() { cat "$work/$1.connections"; }

results="$work/results.txt"
: > "$results"
for scheme in $schemes; do
  target_port="$http_port"
  [ "$scheme" = https ] && target_port="$tls_port"
  if [ "$rtt" = 0 ]; then
    proxy_port="$target_port"
    echo 0 > "$work/$scheme.connections"
  else
    start_proxy "$scheme" "$target_port"
  fi
  url="$scheme://127.0.0.1:$proxy_port/index.html"
  echo "== $url (nginx behind a $rtt ms round trip)" >&2
  ca_wget=(); ca_ours=()
  if [ "$scheme" = https ]; then
    ca_wget=(--ca-certificate="$tls/ca.pem")
    ca_ours=(--ca-file "$tls/ca.pem")
  fi

  tools=(ours wget2)
  [ "$with_wget" -eq 1 ] && tools+=(wget)
  for tool in "${tools[@]}"; do
    name="$scheme-$tool"
    before="$(connections_of "$scheme")"
    mkdir -p "$work/$name"
    echo "mirroring with $tool ..." >&2
    case "$tool" in
      ours)
        timed "$name" 3600 "$cli" --home "$work/$name/home" --zip "$work/$name/site.zip" --quiet \
          --connections "$connections" "${pipeline[@]}" "${ca_ours[@]}" "$url" > "$work/$name.report" 2> "$work/$name.log"
        dwn="$(find "$work/$name/home/Tasks" -name '*.dwn' | head -1)"
        items=$(( $(grep -c '' "$dwn") / 2 ))
        files="$(unzip -Z1 "$(find_zip "$work/$name")" | grep -cv '/$')"
        ;;
      wget2)
        timed "$name" 3600 bash -c "cd '$work/$name' && wget2 -m -k -p -E -q --no-proxy --max-threads=$connections \
          ${ca_wget[*]} -o '$work/$name.log' '$url'; rc=\$?; [ \$rc -eq 0 ] || [ \$rc -eq 8 ] || exit \$rc;
          zip -r -6 -q '$work/$name.zip' ."
        files="$(find "$work/$name" -type f | wc -l)"
        items="$files"
        ;;
      wget)
        timed "$name" 3600 bash -c "cd '$work/$name' && wget -m -k -p -E -nv --no-proxy ${ca_wget[*]} \
          -o '$work/$name.log' '$url'; rc=\$?; [ \$rc -eq 0 ] || [ \$rc -eq 8 ] || exit \$rc;
          zip -r -6 -q '$work/$name.zip' ."
        files="$(find "$work/$name" -type f | wc -l)"
        items="$files"
        ;;
    esac
    opened=$(( $(connections_of "$scheme") - before ))
    echo "$scheme $tool $(cat "$work/$name.wall") $(cat "$work/$name.rc") $opened $items $files" >> "$results"
  done
done

echo
echo "== $rtt ms round trip, $connections connections / threads: $(find -L "$site" -type f | wc -l) files in the site"
python3 - "$results" "$rtt" "$connections" <<'PY'
import sys
rtt_ms = float(sys.argv[2])
loopback = rtt_ms == 0
connections = int(sys.argv[3])
rows = {}
for line in open(sys.argv[1]):
    scheme, tool, wall, rc, opened, items, files = line.split()
    rows[(scheme, tool)] = (float(wall), int(rc), int(opened), int(items), int(files))
labels = {"ours": "pellix-cli", "wget2": "wget2 + zip", "wget": "wget + zip"}
for scheme in ("http", "https"):
    if (scheme, "ours") not in rows:
        continue
    print(f"-- {scheme}")
    for tool in ("ours", "wget2", "wget"):
        if (scheme, tool) not in rows:
            continue
        wall, rc, opened, items, files = rows[(scheme, tool)]
        status = "" if rc == 0 else f"  (exit status {rc})"
        counted = f", {opened} connections, {opened / max(items, 1):.3f} per item" if opened else ""
        print(f"{labels[tool]:>12}: {wall:8.2f} s, {files} files{counted}{status}")
    if not loopback:
        # Each item costs at least one round trip; with one request in flight per connection
        # no tool can do better than this, whatever its own speed.
        items = rows[(scheme, "ours")][3]
        print(f"{'floor':>12}: {items * rtt_ms / 1000 / connections:8.2f} s"
              f"  ({items} items x {rtt_ms:g} ms / {connections} connections, one request in flight each)")
    ours = rows[(scheme, "ours")][0]
    for tool, goal in (("wget2", 1.0 if loopback else 0.8), ("wget", 0.5 if loopback else 0.2)):
        if (scheme, tool) in rows:
            print(f"ours / ({labels[tool]}): {ours / rows[(scheme, tool)][0]:.2f}  (goal: at most {goal})")
PY
