#!/usr/bin/env bash
# Builds Pellix (installing what it needs) and opens the desktop program with the built-in demo
# site served on 127.0.0.1 and its address in the address box: press Go to download it.
# Without a display ($DISPLAY empty) it says so and downloads the demo site with pellix-cli.
# Usage: scripts/run.sh [URL] [pellix-cli options]; with arguments, pellix-cli runs them as before.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh build
if [ $# -gt 0 ]; then
  exec build/app/pellix-cli "$@"
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display (\$DISPLAY is empty): running pellix-cli on the built-in demo site instead of the desktop program." >&2
  exec build/app/pellix-cli
fi
exec build/app/pellix --demo
