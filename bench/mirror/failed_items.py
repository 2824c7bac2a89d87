#!/usr/bin/env python3
"""Lists the items of a task's download list (.dwn) that were not saved, with their status text.

Usage: failed_items.py FILE.dwn

A list holds two lines per item: the address, then its fields separated by byte B6 hex, the
second of which is the status text ("200 OK", "404 Not Found", "Error (...)", ...).
"""

import sys


def main():
    if len(sys.argv) != 2:
        print("usage: failed_items.py FILE.dwn", file=sys.stderr)
        return 2
    with open(sys.argv[1], "rb") as listing:
        lines = listing.read().split(b"\n")
    failed = []
    for address, fields in zip(lines[0::2], lines[1::2]):
        parts = fields.rstrip(b"\r").split(b"\xb6")
        status = parts[1].decode("latin-1") if len(parts) > 1 else ""
        if not status.startswith("2"):
            failed.append((status, address.rstrip(b"\r").decode("utf-8", errors="replace")))
    print(f"our items not saved: {len(failed)}")
    for status, address in sorted(failed):
        print(f"    {status or '(no status)'}: {address}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
