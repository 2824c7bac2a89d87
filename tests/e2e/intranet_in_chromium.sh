#!/usr/bin/env bash
# Crawls the test site into a folder in Personal Intranet Mode, checks every local link, and
# opens the saved start page in headless Chromium, writing a screenshot to look at.
# Usage: tests/e2e/intranet_in_chromium.sh <build folder> [output folder]
# Needs: chromium (apt-get install -y chromium). Not part of the CTest suite.
set -euo pipefail
build=${1:?usage: $0 <build folder> [output folder]}
out=${2:-$(mktemp -d /tmp/pellix-e2e.XXXXXX)}
rm -rf "$out/site" "$out/home" "$out/tmp"
PELLIX_SITE_OUT="$out" "$build/tests/crawl_test" \
    --gtest_filter=CrawlTest.DISABLED_SaveSiteForBrowser --gtest_also_run_disabled_tests
"$build/bench/bench_check_site" "$out/site"
profile=$(mktemp -d /tmp/pellix-chromium.XXXXXX)
trap 'rm -rf "$profile"' EXIT
timeout 60 chromium --headless --no-sandbox --disable-gpu --disable-background-networking \
    --disable-component-update --disable-sync --no-first-run --user-data-dir="$profile" \
    --window-size=800,600 --screenshot="$out/start_page.png" "$(find "$out/site" -maxdepth 2 -path "*/127.0.0.1*/index.html" | head -1 | sed "s|^|file://|")" \
    2>/dev/null
echo "screenshot: $out/start_page.png"
