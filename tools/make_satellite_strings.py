#!/usr/bin/env python3
"""Writes a test translation of the string table for a satellite resource library:
every text of res/Strings.rc with a visible marker in front, so a test can tell
which module a text came from. Ids, escapes and the template token are kept. With
--only, just the named entries get the marker; the others stay as they are.
"""

import argparse
import os
import re
import sys

ENTRY = re.compile(r'^(\s*(\w+)\s+")(.*)$')


def mark(lines, marker, only=None):
    escaped = marker.replace('"', '""')
    out = []
    for line in lines:
        m = ENTRY.match(line)
        if m and not line.lstrip().startswith("//") and (not only or m.group(2) in only):
            line = m.group(1) + escaped + m.group(3) + "\n"
        out.append(line)
    return out


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--input", required=True)
    parser.add_argument("--marker", required=True)
    parser.add_argument("--output", required=True)
    parser.add_argument("--only", default="", help="comma-separated entry names to mark")
    args = parser.parse_args()
    with open(args.input, encoding="ascii") as f:
        lines = f.readlines()
    tmp = args.output + ".tmp"
    with open(tmp, "w", encoding="ascii") as f:
        f.writelines(mark(lines, args.marker, set(filter(None, args.only.split(",")))))
    os.replace(tmp, args.output)
    return 0


if __name__ == "__main__":
    sys.exit(main())
