#!/usr/bin/env bash
# Builds Pellix (installing what it needs) and downloads a site into a Zip file.
# Usage: scripts/run.sh [URL] [pellix-cli options]; without a URL a built-in demo site is used.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh build
exec build/app/pellix-cli "$@"
