#!/usr/bin/env bash
# Installs what the build needs (Debian 12, idempotent), then configures and builds once.
# Usage: scripts/setup.sh [build-dir] [extra cmake args...]
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(build-essential cmake ninja-build pkg-config git
          libgtest-dev libgmock-dev libssl-dev openssl ca-certificates libzip-dev zlib1g-dev libdeflate-dev
          nginx-light wget curl zip unzip python3
          qt6-base-dev qt6-base-dev-tools qt6-webengine-dev libgl-dev fonts-dejavu-core
          xvfb xauth openbox trayer xdotool xclip x11-utils imagemagick at-spi2-core python3-pyatspi)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  echo "Installing: ${missing[*]}" >&2
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
fi

build_dir="${1:-build}"
shift || true
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >&2
cmake --build "$build_dir" >&2
