#!/usr/bin/env bash
# Serves a generated 200 MB file from nginx on loopback and fetches it with our HTTP client and
# with curl in the same run; prints the rate ratio ours/curl and our peak memory.
# Usage: bench/http_throughput.sh [build-dir] [size-in-MB] [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${1:-build}"
size_mb="${2:-200}"
runs="${3:-3}"
bench="$build_dir/bench/bench_http_throughput"
[ -x "$bench" ] || { echo "build $bench first (cmake --build $build_dir --target bench_http_throughput)" >&2; exit 2; }
command -v nginx >/dev/null || { echo "nginx is required" >&2; exit 2; }
command -v curl >/dev/null || { echo "curl is required" >&2; exit 2; }

work="$(mktemp -d)"
nginx_pid=""
cleanup() {
  if [ -n "$nginx_pid" ]; then kill "$nginx_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

chmod 755 "$work"
mkdir -p "$work/www" "$work/logs" "$work/tmp"
head -c "$((size_mb * 1024 * 1024))" /dev/urandom > "$work/www/big.bin"
chmod 644 "$work/www/big.bin"
port="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()')"

cat > "$work/nginx.conf" <<CONF
daemon off;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/logs/error.log;
events { worker_connections 64; }
http {
  access_log off;
  sendfile on;
  client_body_temp_path $work/tmp/body;
  proxy_temp_path $work/tmp/proxy;
  fastcgi_temp_path $work/tmp/fastcgi;
  uwsgi_temp_path $work/tmp/uwsgi;
  scgi_temp_path $work/tmp/scgi;
  server {
    listen 127.0.0.1:$port;
    root $work/www;
  }
}
CONF
nginx -c "$work/nginx.conf" -p "$work" &
nginx_pid=$!

url="http://127.0.0.1:$port/big.bin"
for _ in $(seq 1 100); do
  curl -s -o /dev/null -r 0-0 "$url" && break
  sleep 0.1
done

best_curl=0
for _ in $(seq 1 "$runs"); do
  rate="$(curl -s -o /dev/null -w '%{speed_download}' "$url")"
  best_curl="$(python3 -c "print(max(float('$best_curl'), float('$rate')))")"
done
ours="$("$bench" "$url" "$runs")"
our_rate="$(sed -n 's/.*rate=\([0-9.]*\).*/\1/p' <<<"$ours")"
our_rss="$(sed -n 's/.*peak_rss_kb=\([0-9]*\).*/\1/p' <<<"$ours")"

python3 - "$best_curl" "$our_rate" "$our_rss" "$size_mb" <<'PY'
import sys
curl, ours, rss, size = float(sys.argv[1]), float(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
print(f"body: {size} MB over loopback from nginx")
print(f"curl: {curl / 1e6:.1f} MB/s")
print(f"ours: {ours / 1e6:.1f} MB/s")
print(f"ratio ours/curl: {ours / curl:.2f}")
print(f"our peak RSS: {rss / 1024:.1f} MB")
PY
