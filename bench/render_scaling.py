#!/usr/bin/env python3
"""Thread scaling of vesper-render: the gallery and the peer scenes on 1 and 2 threads.

Renders each job with --threads 1 and --threads 2, interleaved, keeps the best wall
and CPU time over the repeats, and prints a Markdown table: wall and CPU seconds of
the whole process (loading included), the busy cores (CPU over wall) and the
speed-up of two threads over one. The load average before and after is printed: on
a machine whose cores are busy with other work, two threads cannot show their
speed-up.

    bench/render_scaling.py [--build build] [--before OLD_BUILD] [--repeats 3]
"""
import argparse
import os
import resource
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PEER = os.path.join(ROOT, "bench", "peer")


def load_average():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def jobs(work):
    """Name and vesper-render arguments of each job."""
    sky = os.path.join(work, "sky.hdr")
    if not os.path.exists(sky):
        subprocess.run([sys.executable, os.path.join(PEER, "make_sky.py"), sky], check=True)
    scene = os.path.join(work, "scene-sky.json")
    with open(os.path.join(PEER, "scene_sky.json")) as src, open(scene, "w") as dst:
        dst.write(src.read())
    return [("gallery (240 x 180 cells, 16 spp, direct)", ["--spp", "16"]),
            ("peer point scene (480 x 270, 32 spp, path)",
             ["--scene", os.path.join(PEER, "scene.json"), "--spp", "32"]),
            ("peer sky scene (480 x 270, 32 spp, path)", ["--scene", scene, "--spp", "32"])]


def run(build, args, threads, out):
    cmd = [os.path.join(build, "vesper-render")] + args + ["--threads", str(threads), "--out", out]
    library = os.path.join(build, "libvesperShaders64.so")
    if os.path.exists(library):
        cmd += ["--library", library]
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    subprocess.run(cmd, check=True, capture_output=True)
    process = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return process, cpu


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--build", default=os.path.join(ROOT, "build"))
    p.add_argument("--before", help="an older build directory, measured in the same run")
    p.add_argument("--repeats", type=int, default=3)
    a = p.parse_args()
    builds = ([("before", a.before)] if a.before else []) + [("after", a.build)]
    work = tempfile.mkdtemp(prefix="vesper-scaling-")
    todo = jobs(work)
    best = {}
    print("load average before: %s" % load_average())
    for _ in range(a.repeats):
        for job, args in todo:
            for name, build in builds:
                for threads in (1, 2):
                    times = run(build, args, threads, os.path.join(work, "out.png"))
                    key = (job, name, threads)
                    best[key] = tuple(map(min, zip(best.get(key, times), times)))
    print("load average after: %s\n" % load_average())
    print("| job | build | 1 thread: wall s, CPU s | 2 threads: wall s, CPU s | busy cores "
          "(2 threads) | speed-up |")
    print("|---|---|---:|---:|---:|---:|")
    for job, _ in todo:
        for name, _ in builds:
            w1, c1 = best[(job, name, 1)]
            w2, c2 = best[(job, name, 2)]
            print("| %s | %s | %.2f, %.2f | %.2f, %.2f | %.2f | %.2f |"
                  % (job, name, w1, c1, w2, c2, c2 / w2, w1 / w2))
    subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    main()
