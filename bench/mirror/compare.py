#!/usr/bin/env python3
"""Compares what wget saved with what our Zip holds, by the address each file came from.

Usage: compare.py WGET_HOST_FOLDER WGET_LOG OUR_ZIP_LIST OUR_HOST_FOLDER_NAME

WGET_HOST_FOLDER is wget's folder for the host ("127.0.0.1:PORT"), WGET_LOG its -nv log,
OUR_ZIP_LIST the output of `unzip -Z1` on our Zip and OUR_HOST_FOLDER_NAME the first path
segment of our entries for that host ("127.0.0.1_PORT").

The two programs name local files differently, so both sides are turned back into a key that
stands for the address's path and query:
- wget -E appends ".html" to pages whose address lacks it and saves folder addresses as
  "index.html"; its log says which address each file came from, so that address is used.
- our names escape the query ("?" as U+00BF, "/" inside the query as U+00A1), turn ":" and "|"
  into U+00A6 and "*" into U+00B0, add the file's own extension (a style sheet, script, image...)
  or ".html", ".gif" or ".jpg" after a query, and save folder
  addresses as "index.htm".
An explicit "x/index.html" and the folder "x/" get the same key: both are the same page.
"""

import os
import re
import sys
import urllib.parse

PAGE_ENDINGS = (".htm", ".html")
SHOWN = int(os.environ.get("MIRROR_SHOW", "25"))  # names listed per difference


def is_page(name):
    return name.lower().endswith(PAGE_ENDINGS)


def folder_key(path):
    head, _, last = path.rpartition("/")
    if last.lower() in ("index.htm", "index.html"):
        return head + "/" if head else ""
    return path


def key_from_address(path_and_query):
    path, sep, query = path_and_query.partition("?")
    path = urllib.parse.unquote(path).lstrip("/")
    return folder_key(path) + (sep + urllib.parse.unquote(query) if sep else "")


def key_from_our_name(name):
    path, sep, query = name.partition("\u00bf")
    if sep:
        query = query.replace("\u00a1", "/")
        # A file named with a typed extension ("site.css?v=2") repeats it after the query.
        dot = path.rfind(".")
        own = path[dot:].lower() if dot > path.rfind("/") else ""
        for added in ((own,) if own and query.lower().endswith(own) else ()) + (".html", ".gif", ".jpg"):
            if query.lower().endswith(added):
                query = query[: -len(added)]
                break
    path = path.replace("\u00a6", ":").replace("\u00b0", "*")
    query = query.replace("\u00a6", ":").replace("\u00b0", "*")
    return folder_key(urllib.parse.unquote(path)) + ("?" + query if sep else "")


def wget_files(host_folder, log_path):
    """Returns {key: local name} for every regular file wget left in its host folder."""
    by_file = {}
    # -nv lines: "... URL:http://host:port/path [n/n] -> "host:port/path" [1]"
    line_re = re.compile(r'URL:\s*(\S+)\s.*?->\s*"(.*)"')
    if os.path.exists(log_path):
        with open(log_path, encoding="utf-8", errors="surrogateescape") as log:
            for line in log:
                match = line_re.search(line)
                if not match:
                    continue
                address = urllib.parse.urlsplit(match.group(1))
                local = match.group(2)
                prefix = os.path.basename(host_folder.rstrip("/")) + "/"
                if local.startswith(prefix):
                    local = local[len(prefix):]
                full = address.path + ("?" + address.query if address.query else "")
                by_file[local] = key_from_address(full)
    files = {}
    for folder, _, names in os.walk(host_folder):
        for name in names:
            local = os.path.relpath(os.path.join(folder, name), host_folder)
            files[by_file.get(local, key_from_address(local))] = local
    return files


def our_files(list_path, host_name):
    """Returns ({key: entry name} for the host, [entries of other hosts])."""
    files, elsewhere = {}, []
    with open(list_path, "rb") as listing:
        for raw in listing:
            name = raw.rstrip(b"\r\n").decode("utf-8", errors="surrogateescape")
            if not name or name.endswith("/"):
                continue
            host, _, rest = name.partition("/")
            if host != host_name:
                elsewhere.append(name)
                continue
            files[key_from_our_name(rest)] = rest
    return files, elsewhere


def show(title, names):
    print(f"{title}: {len(names)}")
    for name in sorted(names)[:SHOWN]:
        print(f"    {name}")
    if len(names) > SHOWN:
        print(f"    ... and {len(names) - SHOWN} more")


def main():
    if len(sys.argv) != 5:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    wget, ours_and_other = wget_files(sys.argv[1], sys.argv[2]), our_files(sys.argv[3], sys.argv[4])
    ours, elsewhere = ours_and_other
    for label, files in (("wget", wget), ("ours", ours)):
        pages = sum(1 for name in files.values() if is_page(name))
        print(f"{label}: {pages} pages, {len(files) - pages} other files, {len(files)} in all")
    if elsewhere:
        show("our entries outside the site's host folder", elsewhere)
    show("wget has, we lack", [wget[key] for key in wget.keys() - ours.keys()])
    show("we have, wget lacks", [ours[key] for key in ours.keys() - wget.keys()])
    return 0


if __name__ == "__main__":
    sys.exit(main())
