#!/usr/bin/env python3
"""The Python binding's overhead: Shader.evaluate on a million directions (numpy in,
numpy out) against the same rows run from C++ with no Python in between
(vesper_evaluate_loop, which calls the module's row loop directly).

  PYTHONPATH=build/python /usr/bin/python3 bench/python_evaluate.py [--build DIR]
      [--class NAME] [--rows N] [--repeat N]

Both sides evaluate the same directions (a Fibonacci spiral over the sphere) seen
from 45 degrees, on one thread and on every core, and keep their fastest repeat.
Prints a Markdown table: rows per second in C++ and in Python, and the time Python
adds per million rows.
"""

import argparse
import json
import os
import subprocess
import time

import numpy as np
import vesper

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def sphere_directions(n):
    i = np.arange(n, dtype=np.float64)
    z = 1 - 2 * (i + 0.5) / n
    r = np.sqrt(1 - z * z)
    phi = np.pi * (3 - np.sqrt(5)) * i
    return np.stack([r * np.cos(phi), r * np.sin(phi), z], axis=1).astype(np.float32)


def python_seconds(shader, view, directions, threads, repeat):
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        shader.evaluate(view, directions, threads=threads)
        best = min(best, time.perf_counter() - start)
    return best


def cpp_seconds(loop, cls, rows, threads, repeat):
    out = subprocess.check_output([loop, "--class", cls, "--rows", str(rows), "--threads",
                                   str(threads), "--repeat", str(repeat)], text=True)
    return json.loads(out)["seconds"]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--class", dest="cls", default="corvid_Mtl_Ward")
    parser.add_argument("--rows", type=int, default=1000000)
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()
    loop = os.path.join(args.build, "python", "vesper_evaluate_loop")
    shader = vesper.Library().create(args.cls)
    s = np.float32(np.sqrt(0.5))
    view = np.array([s, 0, s], np.float32)
    directions = sphere_directions(args.rows)
    with open("/proc/loadavg") as f:
        load = " ".join(f.read().split()[:3])
    print("%s, %d rows, load average %s\n" % (args.cls, args.rows, load))
    print("| threads | C++ (M rows/s) | Python (M rows/s) | Python adds (ms per M rows) |")
    print("|---|---:|---:|---:|")
    for threads, label in [(1, "1"), (0, "every core (%d)" % os.cpu_count())]:
        c = cpp_seconds(loop, args.cls, args.rows, threads, args.repeat)
        p = python_seconds(shader, view, directions, threads, args.repeat)
        print("| %s | %.2f | %.2f | %.1f |" % (label, args.rows / c / 1e6, args.rows / p / 1e6,
                                             (p - c) * 1e3 * 1e6 / args.rows))


if __name__ == "__main__":
    main()
