#!/usr/bin/env python3
"""Writes the limit tables of docs/renderer.md, docs/scale.md and docs/studio.md
from the one table they live in (vref::kLimits in host/reference/limits.h), as
`vesper-render --limits` prints it.

Each document holds its table between the lines

    <!-- limits: DOC (scripts/gen-limits.py writes this table) -->
    <!-- end of limits -->

where DOC is renderer, scale or studio; each limit is listed in the documents
its entry names. Whatever lies between the two lines is replaced.

    scripts/gen-limits.py [--vesper-render PATH]
    scripts/gen-limits.py --check     # fails when a table is not current
"""
import argparse
import difflib
import json
import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DOCS = {"renderer": "renderer.md", "scale": "scale.md", "studio": "studio.md"}
BLOCK = re.compile(r"(<!-- limits: (\w+) \(scripts/gen-limits\.py writes this table\) -->\n)(.*?)(<!-- end of limits -->)", re.S)


def value_text(name, value):
    """The value, with a power of two named: 33554432 (2^25), 67108864 (64 MiB)."""
    if not isinstance(value, int) or value < 1 << 16 or value & (value - 1):
        return str(value)
    bits = value.bit_length() - 1
    if name.endswith("Bytes"):
        unit = ["KiB", "MiB", "GiB", "TiB"][bits // 10 - 1]
        return "%d (%d %s)" % (value, value >> (bits // 10 * 10), unit)
    return "%d (2^%d)" % (value, bits)


def table(limits, doc):
    rows = ["| limit | at most | what it bounds |", "|---|---|---|"]
    for limit in limits:
        if doc in limit["docs"]:
            rows.append("| `%s` | %s | %s |" % (limit["name"], value_text(limit["name"], limit["value"]), limit["meaning"]))
    return "\n".join(rows) + "\n"


def regenerate(text, limits):
    def fill(m):
        if m.group(2) not in DOCS:
            sys.exit("gen-limits: no document is called %s" % m.group(2))
        return m.group(1) + table(limits, m.group(2)) + m.group(4)

    return BLOCK.sub(fill, text)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    build_dir = os.environ.get("BUILD_DIR", "build")
    parser.add_argument("--vesper-render", default=os.path.join(ROOT, build_dir, "vesper-render"))
    parser.add_argument("--check", action="store_true", help="compare instead of writing")
    args = parser.parse_args()
    if not os.access(args.vesper_render, os.X_OK):
        sys.exit("gen-limits: no %s: build first (scripts/build.sh) or pass --vesper-render" % args.vesper_render)
    limits = json.loads(subprocess.run([args.vesper_render, "--limits"], check=True, capture_output=True, text=True).stdout)
    stale = 0
    for doc, file in DOCS.items():
        path = os.path.join(ROOT, "docs", file)
        with open(path) as f:
            current = f.read()
        if not any(m.group(2) == doc for m in BLOCK.finditer(current)):
            print("gen-limits: docs/%s has no table of the %s limits" % (file, doc), file=sys.stderr)
            stale += 1
            continue
        text = regenerate(current, limits)
        if text == current:
            continue
        rel = os.path.relpath(path, ROOT)
        if not args.check:
            with open(path, "w") as f:
                f.write(text)
            print("gen-limits: wrote the tables of %s" % rel)
            continue
        sys.stdout.writelines(difflib.unified_diff(current.splitlines(True), text.splitlines(True), rel, "regenerated"))
        print("%s: a limit table is not current: rebuild and run scripts/gen-limits.py" % rel, file=sys.stderr)
        stale += 1
    if args.check and not stale:
        print("limit tables are current")
    return 1 if stale else 0


if __name__ == "__main__":
    sys.exit(main())
