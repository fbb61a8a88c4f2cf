#!/usr/bin/env python3
"""Instructions per call of every class, operation and setting, counted by callgrind.

Runs build/vesper_count (a fixed number of calls per workload, see bench/workload.h)
under `valgrind --tool=callgrind`, one process per class, and prints a Markdown
table. Instruction counts do not depend on the machine's load, so two runs of the
same build agree to the instruction.

  library  instructions per call outside the driver program: the library itself,
           plus the maths library calls it makes
  total    library plus the bench host's services and textures and the call loop

Usage:
  scripts/count-instructions.py [--build DIR] [--library PATH] [--calls N]
                                [--json OUT] [--label TEXT] [--compare BEFORE.json]
                                [CLASS...]

--compare adds the library count of an earlier --json run and the ratio
before/after (above 1 means fewer instructions now), and a per-class summary.
--label names what was measured in place of this tree's commit (for a --library
built elsewhere, say "main at 1234abc").
"""

import argparse
import datetime
import json
import math
import os
import re
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def self_cost_by_object(path):
    """Summary Ir and the self cost per object of one callgrind dump."""
    summary = None
    label = None
    by_object = {}
    names = {}
    current = None
    after_calls = False
    with open(path) as f:
        for line in f:
            line = line.rstrip("\n")
            if line.startswith("desc: Trigger: Client Request: "):
                label = line[len("desc: Trigger: Client Request: "):]
            elif line.startswith("summary:"):
                summary = int(line.split()[1])
            elif line.startswith("ob="):
                # Compressed names: "ob=(3) /path" defines, "ob=(3)" refers.
                m = re.match(r"ob=(\((\d+)\))?\s*(.*)", line)
                if m.group(3):
                    current = m.group(3)
                    if m.group(2):
                        names[m.group(2)] = current
                else:
                    current = names.get(m.group(2), "?")
            elif line.startswith("calls="):
                after_calls = True
            elif line and (line[0].isdigit() or line[0] in "+-*"):
                if after_calls:
                    # The inclusive cost of a call: not this function's own.
                    after_calls = False
                    continue
                parts = line.split()
                if len(parts) >= 2:
                    by_object[current] = by_object.get(current, 0) + int(parts[1])
    return label, summary, by_object


def count_class(driver, library, cls, calls):
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "cg.out")
        cmd = ["valgrind", "--tool=callgrind", "--collect-atstart=no",
               "--compress-strings=no", "--callgrind-out-file=" + out, driver, "--calls", str(calls), cls]
        if library:
            cmd[-3:-3] = ["--library", library]
        run = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        if run.returncode != 0:
            sys.stderr.write("%s: vesper_count failed (%d)\n%s" % (cls, run.returncode,
                                                                   run.stderr[-2000:]))
            return None
        rows = []
        driver_name = os.path.realpath(driver)
        for name in sorted(os.listdir(tmp)):
            if not re.match(r"cg\.out\.\d+$", name):
                continue
            label, summary, by_object = self_cost_by_object(os.path.join(tmp, name))
            if not label or summary is None:
                continue
            c, op, setting, n = label.split()
            n = int(n)
            host = sum(v for k, v in by_object.items()
                       if k and os.path.realpath(k) == driver_name)
            rows.append({"class": c, "operation": op, "setting": setting,
                         "total": summary / n, "library": (summary - host) / n})
        return rows


def git(*args):
    try:
        return subprocess.run(["git", "-C", ROOT] + list(args), stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, text=True).stdout.strip()
    except OSError:
        return ""


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--build", default=os.environ.get("BUILD_DIR", "build"))
    ap.add_argument("--library", help="library to measure (default: the build's own)")
    ap.add_argument("--calls", type=int, default=1000)
    ap.add_argument("--json", help="write the results here")
    ap.add_argument("--compare", help="results of an earlier --json run")
    ap.add_argument("--label", help="what was measured (default: this tree's commit)")
    ap.add_argument("classes", nargs="*")
    a = ap.parse_args()

    build = a.build if os.path.isabs(a.build) else os.path.join(ROOT, a.build)
    driver = os.path.join(build, "vesper_count")
    if not os.access(driver, os.X_OK):
        sys.exit("no %s: build the vesper_count target first" % driver)
    classes = a.classes
    if not classes:
        cmd = [driver, "--list"] + (["--library", a.library] if a.library else [])
        classes = subprocess.run(cmd, stdout=subprocess.PIPE, text=True,
                                 check=True).stdout.split()

    rows, failed = [], []
    for cls in classes:
        r = count_class(driver, a.library, cls, a.calls)
        if r is None:
            failed.append(cls)
        else:
            rows.extend(r)

    commit = a.label or (git("rev-parse", "--short", "HEAD") +
                         ("+dirty" if git("status", "--porcelain", "--untracked-files=no") else ""))
    meta = {
        "date": datetime.date.today().isoformat(),
        "commit": commit,
        "library": a.library or "build",
        "calls": a.calls,
    }
    if a.json:
        with open(a.json, "w") as f:
            json.dump({"meta": meta, "rows": rows}, f, indent=1)

    before = {}
    if a.compare:
        with open(a.compare) as f:
            old = json.load(f)
        before = {(r["class"], r["operation"], r["setting"]): r["library"] for r in old["rows"]}
        print("Before: commit %s, %s. " % (old["meta"]["commit"], old["meta"]["date"]), end="")
    print("Counted: commit %s, %s, %d calls per workload.\n" % (meta["commit"], meta["date"],
                                                                a.calls))
    if before:
        print("| class | operation | setting | before | after | ratio | total after |")
        print("|---|---|---|---:|---:|---:|---:|")
    else:
        print("| class | operation | setting | library | total |")
        print("|---|---|---|---:|---:|")
    for r in rows:
        key = (r["class"], r["operation"], r["setting"])
        if before:
            b = before.get(key)
            ratio = ("%.2f" % (b / r["library"])) if b and r["library"] else "-"
            bt = "%.0f" % b if b is not None else "-"
            print("| %s | %s | %s | %s | %.0f | %s | %.0f |" % (key + (bt, r["library"], ratio,
                                                                  r["total"])))
        else:
            print("| %s | %s | %s | %.0f | %.0f |" % (key + (r["library"], r["total"])))
    for cls in failed:
        print("| %s | (failed) | | | |" % cls)
    if before:
        print_summary(rows, before)
    return 1 if failed else 0


def print_summary(rows, before):
    """Per class: the library counts of all its rows added up, before and after."""
    sums = {}
    for r in rows:
        b = before.get((r["class"], r["operation"], r["setting"]))
        if b is None:
            continue
        s = sums.setdefault(r["class"], [0.0, 0.0])
        s[0] += b
        s[1] += r["library"]
    print("\nPer class (every operation and setting added up):\n")
    print("| class | before | after | ratio |")
    print("|---|---:|---:|---:|")
    ratios = []
    for c in sorted(sums):
        b, a = sums[c]
        if a > 0:
            ratios.append(b / a)
        print("| %s | %.0f | %.0f | %s |" % (c, b, a, "%.2f" % (b / a) if a > 0 else "-"))
    if ratios:
        geo = math.exp(sum(math.log(x) for x in ratios) / len(ratios))
        print("\nGeometric mean of the per-class ratios: %.2f" % geo)


if __name__ == "__main__":
    sys.exit(main())
