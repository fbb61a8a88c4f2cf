#!/usr/bin/env python3
"""Mutation testing of the library's sources (src/**/*.cpp, *.h).

Draws a deterministic sample of mutants (one small change to one line each),
builds the library and the test programs with every mutant in turn and runs the
tests against it. A mutant is killed when a test fails or crashes, timed out
when a test run exceeds its time limit, survived when every test passes, and
not compiled when the build fails (left out of the kill rate).

  scripts/mutate.py --seed 1 --count 400 --out results.jsonl     run a sample
  scripts/mutate.py --seed 1 --count 400 --out results.jsonl --resume
  scripts/mutate.py --replay old.jsonl --out new.jsonl           the same mutants
  scripts/mutate.py --seed 1 --count 400 --list                  the sample only
  scripts/mutate.py --report results.jsonl                       the tables
  scripts/mutate.py --compare before.jsonl after.jsonl           rate and changes

The work tree is never written: each worker mutates its own copy of the sources
(WORKDIR/wN/tree, synced from the work tree at start) and builds it in
WORKDIR/wN/build, configured once without LTO at -O1 and with the library,
vesper_tests and vesper_unit_tests only. After each mutant the changed source
and every rebuilt object and binary are put back as they were (bytes and
modification times), so the next mutant recompiles only its own file's users.

A replay finds each mutant again by its line's text, the nearest such line when
lines have moved. A mutant whose line a later change rewrote moves to a line the
change wrote, the one most like the old line where the same operator makes the
same edit, and is "gone" (left out of the rate) without one; --compare pairs it
with the mutant it was.

Mutants of one seed are drawn one after another: the first N of --count M are
the sample of --count N. Results are appended to the JSON-lines file one mutant
at a time, so an interrupted run continues with --resume.

The parts live in scripts/mutation/: sites.py (what can be mutated), sample.py
(drawing and replaying), procs.py (child processes, signals, restoring sources),
worker.py (a tree and build per worker, the test stages), results.py (files,
tables, comparison) and session.py (a run).
"""
import argparse
import os
import sys

# The package next to this script leaves no bytecode in the work tree.
sys.dont_write_bytecode = True

from mutation import ROOT  # noqa: E402
from mutation.procs import git  # noqa: E402
from mutation.results import compare, describe, load, summary  # noqa: E402
from mutation.sample import draw_sample  # noqa: E402
from mutation.session import Session  # noqa: E402


def parse_args():
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--count", type=int, default=400, help="mutants drawn (default 400)")
    ap.add_argument("--files", metavar="REGEX", help="draw only from files matching REGEX")
    ap.add_argument("--out", help="results, JSON lines (default WORKDIR/s<seed>-n<count>.jsonl)")
    ap.add_argument("--resume", action="store_true", help="continue an interrupted --out")
    ap.add_argument("--replay", metavar="JSONL", help="test the mutants of an earlier run")
    ap.add_argument("--jobs", type=int, default=1, help="mutants built and tested at once")
    ap.add_argument("--workdir", default=os.path.join(ROOT, "build-mutate"))
    ap.add_argument("--timeout-factor", type=float, default=10.0,
                    help="a test stage times out after this many times its unmutated time")
    ap.add_argument("--min-timeout", type=float, default=30.0, help="seconds (default 30)")
    ap.add_argument("--build-timeout", type=float, default=1800.0)
    ap.add_argument("--list", action="store_true", help="print the sample and stop")
    ap.add_argument("--report", metavar="JSONL", help="print the tables of a results file")
    ap.add_argument("--compare", nargs=2, metavar=("A", "B"),
                    help="kill rate of A and B on their common mutants, and changed verdicts")
    return ap.parse_args()


def report(path):
    header, recs = load(path)
    if header:
        print("seed %s, count %s%s" % (header.get("seed"), header.get("count"),
                                       ", replay of " + header["replay"]
                                       if header.get("replay") else ""))
    print(summary(recs))
    return 0


def list_sample(args):
    sample, pool = draw_sample(ROOT, args.seed, args.count, args.files)
    for m in sample:
        print(describe(m))
    print("%d mutants from %d lines with a mutation" % (len(sample), pool), file=sys.stderr)
    return 0


def main():
    args = parse_args()
    if args.compare:
        return compare(*args.compare)
    if args.report:
        return report(args.report)
    if git("status", "--porcelain", "--", "src"):
        sys.exit("mutate: src/ has uncommitted changes; commit or stash them first")
    status_before = git("status", "--porcelain")
    src_tree = git("rev-parse", "HEAD:src").strip()
    if args.list:
        return list_sample(args)
    return Session(args, status_before, src_tree).run()


if __name__ == "__main__":
    sys.exit(main())
