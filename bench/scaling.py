#!/usr/bin/env python3
"""Two-thread speed-up of every benchmark: calls per second on two threads sharing
one shader object, divided by calls per second on one thread.

  bench/scaling.py [--build DIR] [--filter REGEX] [--min-time S] [--repetitions N]
                   [--json OUT] [--from-json IN...]

Repetitions run in random interleaving, and each benchmark keeps its best one (the
one least disturbed by other work on the machine); several earlier runs given to
--from-json are pooled the same way. The load average before and after is printed: on a machine whose
cores are busy with other work, two threads cannot show their speed-up. The last
column does not depend on that: the CPU time per call on two threads over that on
one. Near 1 means the threads do not slow each other down (no shared cache lines
written, no locks), so two free cores give twice the throughput.
"""

import argparse
import json
import os
import re
import statistics
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def load_average():
    try:
        with open("/proc/loadavg") as f:
            return " ".join(f.read().split()[:3])
    except OSError:
        return "?"


def best_runs(data):
    """Best throughput and least CPU time per call, by (benchmark, threads)."""
    best, cpu = {}, {}
    for b in data["benchmarks"]:
        if b.get("run_type") == "aggregate" or "items_per_second" not in b:
            continue
        m = re.match(r"(.*)/real_time/threads:(\d+)$", b["run_name"])
        if not m:
            continue
        key = (m.group(1), int(m.group(2)))
        best[key] = max(best.get(key, 0.0), b["items_per_second"])
        # The threads' CPU time summed, over the iterations of all threads: per call.
        per_call = b["cpu_time"]
        cpu[key] = min(cpu.get(key, per_call), per_call)
    return best, cpu


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--build", default=os.environ.get("BUILD_DIR", "build"))
    ap.add_argument("--filter", default=".")
    ap.add_argument("--min-time", default="0.2")
    ap.add_argument("--repetitions", type=int, default=3)
    ap.add_argument("--json", help="keep the raw benchmark output here")
    ap.add_argument("--from-json", nargs="+",
                    help="analyse earlier raw outputs (pooled) instead of running")
    a = ap.parse_args()

    if a.from_json:
        data = {"benchmarks": []}
        for path in a.from_json:
            with open(path) as f:
                data["benchmarks"] += json.load(f)["benchmarks"]
        print("pooled from: %s" % " ".join(a.from_json))
    else:
        build = a.build if os.path.isabs(a.build) else os.path.join(ROOT, a.build)
        out = a.json or tempfile.mktemp(suffix=".json")
        before = load_average()
        subprocess.run([os.path.join(build, "vesper_bench"), "--benchmark_filter=" + a.filter,
                        "--benchmark_min_time=" + a.min_time,
                        "--benchmark_repetitions=%d" % a.repetitions,
                        "--benchmark_enable_random_interleaving=true",
                        "--benchmark_out=" + out, "--benchmark_out_format=json"],
                       stdout=subprocess.DEVNULL, check=True)
        with open(out) as f:
            data = json.load(f)
        print("load average before: %s, after: %s" % (before, load_average()))

    best, cpu = best_runs(data)
    ratios, cpu_ratios = [], []
    print("| benchmark | 1 thread (calls/s) | 2 threads (calls/s) | speed-up | CPU per call 2/1 |")
    print("|---|---:|---:|---:|---:|")
    for (name, threads), one in sorted(best.items()):
        if threads != 1 or (name, 2) not in best:
            continue
        two = best[(name, 2)]
        ratios.append(two / one)
        c = cpu[(name, 2)] / cpu[(name, 1)]
        cpu_ratios.append(c)
        print("| %s | %.3g | %.3g | %.2f | %.2f |" % (name, one, two, two / one, c))
    if ratios:
        print("\nspeed-up: min %.2f, median %.2f, max %.2f over %d benchmarks" %
              (min(ratios), statistics.median(ratios), max(ratios), len(ratios)))
        print("CPU per call, 2 threads over 1: min %.2f, median %.2f, max %.2f" %
              (min(cpu_ratios), statistics.median(cpu_ratios), max(cpu_ratios)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
