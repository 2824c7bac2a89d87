#!/usr/bin/env python3
"""Prints the web addresses a page requested, from a Chromium net log (--log-net-log=FILE).

The browser's own update and account checks carry no origin and are left out; "no-net-log" is
printed when the file cannot be read. Used by the e2e tests and bench/fidelity.sh alike.
"""
import json
import sys

try:
    log = json.load(open(sys.argv[1], encoding="utf-8", errors="replace"))
except (OSError, ValueError):
    print("no-net-log")
    sys.exit()
start = log["constants"]["logEventTypes"]["URL_REQUEST_START_JOB"]
urls = set()
for event in log["events"]:
    params = event.get("params", {})
    if event["type"] == start and "url" in params and params.get("initiator") != "not an origin":
        if params["url"].startswith(("http://", "https://", "ws://", "wss://")):
            urls.add(params["url"])
print(" ".join(sorted(urls)))
