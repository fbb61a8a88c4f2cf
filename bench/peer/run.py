#!/usr/bin/env python3
"""Peer benchmark: vesper-render against Blender's Cycles on the same scene.

Renders bench/peer/scene.json with vesper-render (path mode) and the same scene
built by cycles_scene.py with Cycles (CPU), both on the same machine in the same
run, interleaved, at several sample counts; keeps each render's best time over
the repeats; measures each image's RMS error against its own renderer's
high-sample reference (another seed) and prints a markdown table.

    bench/peer/run.py --build build [--spp 4,8,16,32,64] [--ref-spp 512] [--repeats 3]
                      [--before OLD/vesper-render --before-library OLD/libvesperShaders64.so]

With --before, an older vesper-render is rendered in the same run, interleaved, and
the table is printed for each build.

Blender is needed only here: `blender` on the PATH (or --blender).
"""
import argparse
import json
import math
import os
import re
import resource
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def loadavg():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def timed(cmd):
    """Runs cmd; its output and the CPU seconds (user and system) it used."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    text = subprocess.run(cmd, check=True, capture_output=True, text=True).stdout
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return text, (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def run_vesper(args, out, spp, seed, scene=os.path.join(HERE, "scene.json"), before=False):
    cmd = [args.before if before else args.vesper, "--scene", scene, "--out", out,
           "--spp", str(spp), "--seed", str(seed), "--threads", str(args.threads)]
    library = args.before_library if before else args.library
    if library:
        cmd += ["--library", library]
    text, cpu = timed(cmd)
    return float(re.search(r"^([0-9.]+) s,", text, re.M).group(1)), cpu


def run_cycles(args, out, spp, seed):
    cmd = [args.blender, "-b", "--factory-startup", "--python",
           os.path.join(HERE, "cycles_scene.py"), "--", out, str(spp), str(seed),
           str(args.threads)]
    text, cpu = timed(cmd)
    return float(re.search(r"^render-seconds ([0-9.]+)", text, re.M).group(1)), cpu


def errors(args, ref, images):
    cmd = [args.blender, "-b", "--factory-startup", "--python", os.path.join(HERE, "compare.py"),
           "--"] + (["--png", args.work] if args.png else []) + [ref] + images
    text = subprocess.run(cmd, check=True, capture_output=True, text=True).stdout
    return {m.group(1): float(m.group(3))
            for m in re.finditer(r"^rms (\S+) (\S+) (\S+)", text, re.M)}


def means(args, ref, images):
    """Mean value of each image over the reference's."""
    cmd = [args.blender, "-b", "--factory-startup", "--python", os.path.join(HERE, "compare.py"),
           "--", ref] + images
    text = subprocess.run(cmd, check=True, capture_output=True, text=True).stdout
    return {m.group(1): float(m.group(2))
            for m in re.finditer(r"^rms (\S+) \S+ \S+ (\S+)", text, re.M)}


def per_pass(points):
    """Least-squares slope of time against samples: seconds per pass without the
    fixed cost of a render (scene set-up, BVH)."""
    n = len(points)
    mx = sum(s for s, _ in points) / n
    my = sum(t for _, t in points) / n
    sxx = sum((s - mx) ** 2 for s, _ in points)
    return sum((s - mx) * (t - my) for s, t in points) / sxx if sxx > 0 else my / mx


def error_at(time_s, curve):
    """Error at `time_s` on a (time or samples, error) curve, interpolated in log-log;
    beyond its ends the error falls as 1/sqrt(time)."""
    curve = sorted(curve)
    if time_s <= curve[0][0]:
        return curve[0][1] * math.sqrt(curve[0][0] / time_s)
    if time_s >= curve[-1][0]:
        return curve[-1][1] * math.sqrt(curve[-1][0] / time_s)
    for (t0, e0), (t1, e1) in zip(curve, curve[1:]):
        if t0 <= time_s <= t1:
            f = math.log(time_s / t0) / math.log(t1 / t0)
            return math.exp(math.log(e0) + f * math.log(e1 / e0))
    return float("nan")


def versions(args):
    def out(cmd):
        try:
            return subprocess.run(cmd, capture_output=True, text=True).stdout.strip()
        except OSError:
            return "?"
    cpu = re.search(r"model name\s*:\s*(.*)", open("/proc/cpuinfo").read())
    blender = out([args.blender, "--version"]).splitlines()
    rev = out(["git", "-C", HERE, "describe", "--always", "--dirty"])
    return "%s, %d cores; vesper-render %s; %s" % (
        cpu.group(1) if cpu else "?", os.cpu_count(), rev, blender[0] if blender else "?")


def print_table(r):
    for name in [n for n in ("before", "vesper") if n in r["rows"]]:
        if name == "before":
            print("## vesper-render before: %s\n" % r.get("before", "?"))
        elif "before" in r["rows"]:
            print("## vesper-render after\n")
        build_table(r, name)


def build_table(r, build):
    spps = r["spp"]
    rows = {n: {int(s): v for s, v in r["rows"][m].items()}
            for n, m in (("vesper", build), ("cycles", "cycles"))}
    wall = {n: per_pass([(s, rows[n][s][0]) for s in spps]) for n in rows}
    cpu = {n: per_pass([(s, rows[n][s][1]) for s in spps]) for n in rows}
    print("machine: %s" % r["machine"])
    print("load average (1, 5, 15 min) at the start and after each repeat: %s"
          % "; ".join(r["load"]))
    print("%d repeats, best time kept; %d threads; error: RMS of RGB against the renderer's own "
          "%d-sample reference (seed 2), divided by the reference's mean\n"
          % (r["repeats"], r["threads"], r["ref_spp"]))
    print("time per pass (slope over the sample counts, without fixed costs): wall vesper-render "
          "%.1f ms, Cycles %.1f ms, ratio %.2f; CPU vesper-render %.1f ms, Cycles %.1f ms, "
          "ratio %.2f\n" % (1e3 * wall["vesper"], 1e3 * wall["cycles"],
                            wall["vesper"] / wall["cycles"], 1e3 * cpu["vesper"],
                            1e3 * cpu["cycles"], cpu["vesper"] / cpu["cycles"]))
    # Equal time: vesper-render's error at the samples its CPU time per pass affords
    # in Cycles' CPU time for that row (log-log interpolation over its own rows).
    curve = [(s, rows["vesper"][s][2]) for s in spps]
    print("| spp | vesper-render wall s | CPU s | error | Cycles wall s | CPU s | error "
          "| vesper-render error at Cycles' CPU time | ratio |")
    print("|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    for s in spps:
        v, c = rows["vesper"][s], rows["cycles"][s]
        eq = error_at(s * cpu["cycles"] / cpu["vesper"], curve)
        print("| %d | %.2f | %.2f | %.4f | %.2f | %.2f | %.4f | %.4f | %.2f |"
              % (s, v[0], v[1], v[2], c[0], c[1], c[2], eq, eq / c[2]))
    print()


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--build", default="build")
    p.add_argument("--vesper", help="vesper-render binary (default BUILD/vesper-render)")
    p.add_argument("--library", help="shader library (default the build's)")
    p.add_argument("--before", help="an older vesper-render to measure in the same run")
    p.add_argument("--before-library", help="its shader library")
    p.add_argument("--blender", default="blender")
    p.add_argument("--spp", default="4,8,16,32,64")
    p.add_argument("--ref-spp", type=int, default=512)
    p.add_argument("--repeats", type=int, default=3)
    p.add_argument("--threads", type=int, default=2)
    p.add_argument("--work", default="out/peer", help="directory for the images")
    p.add_argument("--png", action="store_true", help="also write PNG previews")
    p.add_argument("--label", default="", help="what the vesper-render build is, for the table")
    p.add_argument("--table", help="only print the table of a results.json of an earlier run")
    p.add_argument("--reuse", action="store_true",
                   help="with --clamps: keep the clamp images already in the work directory")
    p.add_argument("--clamps", default="",
                   help="also compare vesper-render's clamp values (e.g. 0,5,20,100) at the "
                        "largest sample count")
    args = p.parse_args()
    if args.table:
        with open(args.table) as f:
            print_table(json.load(f))
        if args.clamps:
            clamp_table(args, int(args.spp.split(",")[-1]))
        return 0
    args.vesper = args.vesper or os.path.join(args.build, "vesper-render")
    os.makedirs(args.work, exist_ok=True)
    spps = [int(s) for s in args.spp.split(",")]
    load = [loadavg()]
    w = lambda name: os.path.join(args.work, name)

    renderers = [("vesper", run_vesper), ("cycles", run_cycles)]
    if args.before:
        renderers.insert(0, ("before", lambda a, o, n, seed: run_vesper(a, o, n, seed,
                                                                         before=True)))
    refs = {name: w("%s-ref.exr" % name) for name, _ in renderers}
    for name, fn in renderers:
        fn(args, refs[name], args.ref_spp, 2)
    best, cpu = {}, {}
    for _ in range(args.repeats):
        for spp in spps:
            for name, fn in renderers:
                t, c = fn(args, w("%s-%d.exr" % (name, spp)), spp, 1)
                best[name, spp] = min(best.get((name, spp), t), t)
                cpu[name, spp] = min(cpu.get((name, spp), c), c)
        load.append(loadavg())
    err = {}
    for name, _ in renderers:
        e = errors(args, refs[name], [w("%s-%d.exr" % (name, s)) for s in spps])
        for s in spps:
            err[name, s] = e[w("%s-%d.exr" % (name, s))]

    results = {"machine": versions(args) + ("; " + args.label if args.label else ""),
               "load": load, "repeats": args.repeats, "threads": args.threads,
               "ref_spp": args.ref_spp, "spp": spps,
               "rows": {n: {str(s): [best[n, s], cpu[n, s], err[n, s]] for s in spps}
                        for n, _ in renderers}}
    if args.before:
        results["before"] = args.before
    with open(w("results.json"), "w") as f:
        json.dump(results, f, indent=1)
    print_table(results)
    if args.clamps:
        clamp_table(args, spps[-1])


def clamp_table(args, spp):
    """The firefly clamp: each value's noise at `spp` (against its own reference)
    and the light it removes (its reference's mean over the unclamped one's)."""
    with open(os.path.join(HERE, "scene.json")) as f:
        scene = json.load(f)
    w = lambda name: os.path.join(args.work, name)
    rows = []
    for c in ["0"] + [c for c in args.clamps.split(",") if float(c) != 0]:
        scene["render"]["clamp"] = float(c)
        path = w("scene-clamp%s.json" % c)
        with open(path, "w") as f:
            json.dump(scene, f)
        ref, img = w("vesper-clamp%s-ref.exr" % c), w("vesper-clamp%s.exr" % c)
        if not args.reuse or not os.path.exists(ref):
            run_vesper(args, ref, args.ref_spp, 2, path)
            run_vesper(args, img, spp, 1, path)
        rows.append((c, errors(args, ref, [img])[img],
                     means(args, w("vesper-clamp0-ref.exr"), [ref])[ref]))
    print("\nclamp at %d spp (0: none): error against its own %d-sample reference, and the "
          "light that reference keeps of the unclamped one's\n" % (spp, args.ref_spp))
    print("| clamp | error | light kept |")
    print("|---:|---:|---:|")
    for c, e, m in rows:
        print("| %s | %.4f | %.3f |" % (c, e, m))

if __name__ == "__main__":
    sys.exit(main())
