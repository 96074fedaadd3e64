#!/usr/bin/env python3
"""Writes a test translation of the string table for a satellite resource library:
every text of res/Strings.rc with a visible marker in front, so a test can tell
which module a text came from. Ids, escapes and the template token are kept.
"""

import argparse
import os
import re
import sys

ENTRY = re.compile(r'^(\s*\w+\s+")(.*)$')


def mark(lines, marker):
    escaped = marker.replace('"', '""')
    out = []
    for line in lines:
        m = ENTRY.match(line)
        if m and not line.lstrip().startswith("//"):
            line = m.group(1) + escaped + m.group(2) + "\n"
        out.append(line)
    return out


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--input", required=True)
    parser.add_argument("--marker", required=True)
    parser.add_argument("--output", required=True)
    args = parser.parse_args()
    with open(args.input, encoding="ascii") as f:
        lines = f.readlines()
    tmp = args.output + ".tmp"
    with open(tmp, "w", encoding="ascii") as f:
        f.writelines(mark(lines, args.marker))
    os.replace(tmp, args.output)
    return 0


if __name__ == "__main__":
    sys.exit(main())
