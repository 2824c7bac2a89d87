#!/usr/bin/env bash
# Builds Pellix (installing what it needs) and runs the whole test suite.
# Sanitizer builds: scripts/test.sh build-asan -DPELLIX_SANITIZE_ADDRESS=ON
#                   scripts/test.sh build-tsan -DPELLIX_SANITIZE_THREAD=ON
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${1:-build}"
bash scripts/setup.sh "$@"
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)"
