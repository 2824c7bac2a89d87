# Shared steps of the mirror benchmarks; sourced, not run.
# The caller runs setup_work first: it makes $work and cleans it (and nginx) up at exit.

# Installs the Debian packages that are missing (checked with dpkg-query first).
ensure_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "installing: ${missing[*]}" >&2
  timeout 300 $sudo apt-get update -qq >&2
  DEBIAN_FRONTEND=noninteractive timeout 600 $sudo apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >&2
}

# Builds the project once when the command-line program is missing.
ensure_cli() {
  local build_dir="$1"
  if [ ! -x "$build_dir/app/pellix-cli" ]; then
    echo "building $build_dir (pellix-cli is missing)" >&2
    timeout 3600 bash scripts/setup.sh "$build_dir" >&2
  fi
  [ -x "$build_dir/app/pellix-cli" ] || { echo "no $build_dir/app/pellix-cli after the build" >&2; exit 2; }
}

# setup_work NAME: a fresh folder /tmp/NAME.XXXXXX in $work, removed with nginx stopped at exit.
setup_work() {
  work="$(mktemp -d "/tmp/$1.XXXXXX")"
  nginx_pid=""
  trap cleanup_work EXIT
  trap 'exit 130' INT TERM
}

cleanup_work() {
  stop_nginx
  rm -rf "$work"
}

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'
}

# start_nginx ROOT [EXTRA_SERVER_LINES]: serves ROOT on 127.0.0.1:$port with its own config,
# pid and logs under $work; sets nginx_pid and port. The caller's trap stops it.
start_nginx() {
  local root="$1" extra="${2:-}"
  port="$(free_port)"
  mkdir -p "$work/nginx/logs" "$work/nginx/tmp"
  cat > "$work/nginx/nginx.conf" <<CONF
daemon off;
worker_processes 2;
pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log;
events { worker_connections 256; }
http {
  include /etc/nginx/mime.types;
  default_type application/octet-stream;
  access_log off;
  sendfile on;
  keepalive_requests 100000;
  client_body_temp_path $work/nginx/tmp/body;
  proxy_temp_path $work/nginx/tmp/proxy;
  fastcgi_temp_path $work/nginx/tmp/fastcgi;
  uwsgi_temp_path $work/nginx/tmp/uwsgi;
  scgi_temp_path $work/nginx/tmp/scgi;
  server {
    listen 127.0.0.1:$port;
    root $root;
    $extra
  }
}
CONF
  nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" &
  nginx_pid=$!
  local i
  for i in $(seq 1 100); do
    if python3 - "$port" <<'PY' 2>/dev/null
import socket, sys
socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=1).close()
PY
    then return 0; fi
    kill -0 "$nginx_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "nginx did not start; see $work/nginx/logs/error.log" >&2
  cat "$work/nginx/logs/error.log" >&2 || true
  exit 2
}

stop_nginx() {
  if [ -n "${nginx_pid:-}" ]; then
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
    nginx_pid=""
  fi
}

# timed NAME SECONDS COMMAND...: runs the command under GNU time with a time limit; leaves the
# wall time in $work/NAME.wall (seconds), GNU time's report in $work/NAME.time and the exit
# status in $work/NAME.rc.
timed() {
  local name="$1" limit="$2"
  shift 2
  local start end rc=0
  start="$(date +%s.%N)"
  /usr/bin/time -v -o "$work/$name.time" timeout "$limit" "$@" || rc=$?
  end="$(date +%s.%N)"
  python3 -c "print(f'{$end - $start:.3f}')" > "$work/$name.wall"
  echo "$rc" > "$work/$name.rc"
}

# Peak resident memory of a timed run, in KB.
peak_rss_kb() {
  sed -n 's/.*Maximum resident set size (kbytes): *\([0-9]*\).*/\1/p' "$work/$1.time"
}

# The Zip that pellix-cli wrote into a folder (it may rename it after the start page's title).
find_zip() {
  find "$1" -maxdepth 1 -type f -name '*.zip' -printf '%T@ %p\n' | sort -rn | head -1 | cut -d' ' -f2-
}
