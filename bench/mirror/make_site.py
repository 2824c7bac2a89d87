#!/usr/bin/env python3
"""Writes a generated site of N small linked files for the scale benchmark.

Usage: make_site.py FOLDER N

FOLDER/index.html links one list page per 100 files (lists/NNN.html); each list page links its
100 files, spread over folders of 1,000 (files/NNN/). Half of the files are small pages that link
back to their list page, half are small text files, so both the page path (parse, rewrite) and the
plain-file path are exercised. Prints the number of files written.
"""

import os
import sys

PER_LIST = 100
PER_FOLDER = 1000


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="ascii") as out:
        out.write(text)


def main():
    if len(sys.argv) != 3:
        print("usage: make_site.py FOLDER N", file=sys.stderr)
        return 2
    root, count = sys.argv[1], int(sys.argv[2])
    lists = (count + PER_LIST - 1) // PER_LIST
    written = 0
    links = "\n".join(f'<li><a href="lists/{n:03d}.html">list {n}</a></li>' for n in range(lists))
    write(os.path.join(root, "index.html"),
          f"<html><head><title>Generated site of {count} files</title></head>\n"
          f"<body><h1>{count} files</h1><ul>\n{links}\n</ul></body></html>\n")
    written += 1
    for n in range(lists):
        items = []
        for i in range(n * PER_LIST, min(count, (n + 1) * PER_LIST)):
            folder = f"files/{i // PER_FOLDER:03d}"
            if i % 2 == 0:
                name = f"{folder}/page{i}.html"
                write(os.path.join(root, name),
                      f"<html><head><title>Page {i}</title></head><body><h1>Page {i}</h1>\n"
                      f"<p>{'Some words of text. ' * 10}</p>\n"
                      f'<p><a href="../../lists/{n:03d}.html">back</a></p></body></html>\n')
            else:
                name = f"{folder}/data{i}.txt"
                write(os.path.join(root, name), f"data file {i}\n" + "0123456789abcdef" * 16 + "\n")
            items.append(f'<li><a href="../{name}">{name}</a></li>')
            written += 1
        write(os.path.join(root, "lists", f"{n:03d}.html"),
              f"<html><head><title>List {n}</title></head><body><ul>\n" + "\n".join(items)
              + '\n</ul><p><a href="../index.html">home</a></p></body></html>\n')
        written += 1
    print(written)
    return 0


if __name__ == "__main__":
    sys.exit(main())
