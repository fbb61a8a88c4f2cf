#!/usr/bin/env python3
"""Peer benchmark: vesper-render against Blender's Cycles on the same scenes.

Two scenes: `point` (bench/peer/scene.json: two point lights, black background) and
`sky` (scene_sky.json: the same objects lit only by the lat-long sky make_sky.py
writes, the same image as Cycles' world). Each is rendered with vesper-render (path
mode) and with Cycles (CPU, cycles_scene.py), on the same machine in the same run,
interleaved, at several sample counts; each render keeps its best wall and CPU time
over the repeats; each image's RMS error is measured against its own renderer's
high-sample reference (another seed). Prints a markdown table per scene and build,
and plots error against time (log-log, both renderers, both scenes).

    bench/peer/run.py --build build [--scenes point,sky] [--spp 4,8,16,32,64]
                      [--ref-spp 512] [--repeats 3] [--before OLD_BUILD_DIR]
                      [--plot FILE.png]

With --before (a build directory, or a vesper-render binary with --before-library),
an older vesper-render is rendered in the same run, interleaved, and the tables are
printed for each build. Use Debian's Python for the plot (matplotlib):
/usr/bin/python3 bench/peer/run.py ...

Blender is needed only here: `blender` on the PATH (or --blender).
"""
import argparse
import json
import math
import os
import re
import resource
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SCENES = ("point", "sky")


def loadavg():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def timed(cmd):
    """Runs cmd; its output and the CPU seconds (user and system) it used."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    text = subprocess.run(cmd, check=True, capture_output=True, text=True).stdout
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return text, (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def prepare(args, scene):
    """The scene file vesper-render reads and the extra arguments of cycles_scene.py."""
    if scene == "point":
        return os.path.join(HERE, "scene.json"), []
    sky = os.path.abspath(os.path.join(args.work, "sky.hdr"))
    if not os.path.exists(sky):
        subprocess.run([sys.executable, os.path.join(HERE, "make_sky.py"), sky], check=True)
    path = os.path.join(args.work, "scene-sky.json")
    shutil.copyfile(os.path.join(HERE, "scene_sky.json"), path)  # beside sky.hdr
    return path, [sky]


def run_vesper(args, out, spp, seed, scene, before=False):
    cmd = [args.before if before else args.vesper, "--scene", scene, "--out", out,
           "--spp", str(spp), "--seed", str(seed), "--threads", str(args.threads)]
    library = args.before_library if before else args.library
    if library:
        cmd += ["--library", library]
    text, cpu = timed(cmd)
    return float(re.search(r"^([0-9.]+) s,", text, re.M).group(1)), cpu


def run_cycles(args, out, spp, seed, extra):
    cmd = [args.blender, "-b", "--factory-startup", "--python",
           os.path.join(HERE, "cycles_scene.py"), "--", out, str(spp), str(seed),
           str(args.threads)] + extra
    text, cpu = timed(cmd)
    return float(re.search(r"^render-seconds ([0-9.]+)", text, re.M).group(1)), cpu


def compare(args, ref, images, png=False):
    """(relative RMS error, mean over the reference's) of each image."""
    cmd = [args.blender, "-b", "--factory-startup", "--python", os.path.join(HERE, "compare.py"),
           "--"] + (["--png", args.work] if png else []) + [ref] + images
    text = subprocess.run(cmd, check=True, capture_output=True, text=True).stdout
    return {m.group(1): (float(m.group(3)), float(m.group(4)))
            for m in re.finditer(r"^rms (\S+) (\S+) (\S+) (\S+)", text, re.M)}


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
    if not time_s > 0:  # slopes of too few or too noisy rows
        return float("nan")
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


def measure(args, scene, load):
    """Every render of one scene: {renderer: {spp: [wall, cpu, error]}}."""
    path, extra = prepare(args, scene)
    renderers = [("vesper", lambda o, n, s: run_vesper(args, o, n, s, path)),
                 ("cycles", lambda o, n, s: run_cycles(args, o, n, s, extra))]
    if args.before:
        renderers.insert(0, ("before", lambda o, n, s: run_vesper(args, o, n, s, path, True)))
    w = lambda name: os.path.join(args.work, "%s-%s" % (scene, name))
    refs = {name: w("%s-ref.exr" % name) for name, _ in renderers}
    for name, fn in renderers:
        fn(refs[name], args.ref_spp, 2)
    best, cpu = {}, {}
    for _ in range(args.repeats):
        for spp in args.spp:
            for name, fn in renderers:
                t, c = fn(w("%s-%d.exr" % (name, spp)), spp, 1)
                best[name, spp] = min(best.get((name, spp), t), t)
                cpu[name, spp] = min(cpu.get((name, spp), c), c)
        load.append(loadavg())
    rows = {}
    for name, _ in renderers:
        images = [w("%s-%d.exr" % (name, s)) for s in args.spp]
        e = compare(args, refs[name], images, args.png)
        rows[name] = {str(s): [best[name, s], cpu[name, s], e[i][0]]
                      for s, i in zip(args.spp, images)}
    return rows


def print_tables(r):
    print("machine: %s" % r["machine"])
    print("load average (1, 5, 15 min) at the start and after each repeat: %s"
          % "; ".join(r["load"]))
    print("%d repeats, best time kept; %d threads; error: RMS of RGB against the renderer's own "
          "%d-sample reference (seed 2), divided by the reference's mean\n"
          % (r["repeats"], r["threads"], r["ref_spp"]))
    for scene, rows in r["scenes"].items():
        for build in [b for b in ("before", "vesper") if b in rows]:
            label = "before (%s)" % r.get("before", "?") if build == "before" else (
                "after" if "before" in rows else "")
            print("### %s scene, vesper-render %s\n" % (scene, label))
            build_table(r["spp"], rows[build], rows["cycles"])


def build_table(spps, mine, cycles):
    rows = {"vesper": {int(s): v for s, v in mine.items()},
            "cycles": {int(s): v for s, v in cycles.items()}}
    wall = {n: per_pass([(s, rows[n][s][0]) for s in spps]) for n in rows}
    cpu = {n: per_pass([(s, rows[n][s][1]) for s in spps]) for n in rows}
    print("time per pass (slope over the sample counts, without fixed costs):\n")
    print("| | wall | CPU | busy cores |")
    print("|---|---:|---:|---:|")
    for n, label in (("vesper", "vesper-render"), ("cycles", "Cycles")):
        print("| %s | %.1f ms | %.1f ms | %.2f |" % (label, 1e3 * wall[n], 1e3 * cpu[n],
                                                   cpu[n] / wall[n]))
    print("| ratio | %.2f | %.2f | |\n" % (wall["vesper"] / wall["cycles"],
                                           cpu["vesper"] / cpu["cycles"]))
    # Equal time: vesper-render's error at the samples its time per pass affords in
    # Cycles' time for that row (log-log interpolation over its own rows).
    curve = [(s, rows["vesper"][s][2]) for s in spps]
    print("| spp | vesper-render wall s | CPU s | error | Cycles wall s | CPU s | error "
          "| vesper-render error at Cycles' wall time | ratio | at Cycles' CPU time | ratio |")
    print("|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    for s in spps:
        v, c = rows["vesper"][s], rows["cycles"][s]
        at_wall = error_at(s * wall["cycles"] / wall["vesper"], curve)
        at_cpu = error_at(s * cpu["cycles"] / cpu["vesper"], curve)
        print("| %d | %.2f | %.2f | %.4f | %.2f | %.2f | %.4f | %.4f | %.2f | %.4f | %.2f |"
              % (s, v[0], v[1], v[2], c[0], c[1], c[2], at_wall, at_wall / c[2], at_cpu,
                 at_cpu / c[2]))
    print()


def plot(r, path):
    """Error against time per image (samples x time per pass), log-log: a panel per
    scene and kind of time, a line per renderer."""
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("no plot: matplotlib is missing (use /usr/bin/python3)")
        return
    scenes = list(r["scenes"])
    fig, axes = plt.subplots(len(scenes), 2, figsize=(10, 4 * len(scenes)), squeeze=False)
    names = {"before": "vesper-render before", "vesper": "vesper-render", "cycles": "Cycles"}
    for row, scene in enumerate(scenes):
        for col, (k, kind) in enumerate(((0, "wall"), (1, "CPU"))):
            ax = axes[row][col]
            for name, rows in r["scenes"][scene].items():
                pts = sorted((int(s), v) for s, v in rows.items())
                slope = per_pass([(s, v[k]) for s, v in pts])
                ax.loglog([s * slope for s, _ in pts], [v[2] for _, v in pts], "o-",
                          label=names.get(name, name))
            ax.set_title("%s scene, %s time" % (scene, kind))
            ax.set_xlabel("%s seconds (samples x time per pass)" % kind)
            ax.set_ylabel("relative RMS error")
            ax.grid(True, which="both", alpha=0.3)
            ax.legend()
    fig.tight_layout()
    fig.savefig(path, dpi=100)
    print("plot: %s" % path)


def arguments():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--build", default="build")
    p.add_argument("--vesper", help="vesper-render binary (default BUILD/vesper-render)")
    p.add_argument("--library", help="shader library (default the build's)")
    p.add_argument("--before", help="an older build directory (or vesper-render) to measure "
                                    "in the same run")
    p.add_argument("--before-library", help="its shader library")
    p.add_argument("--blender", default="blender")
    p.add_argument("--scenes", default=",".join(SCENES))
    p.add_argument("--spp", default="4,8,16,32,64")
    p.add_argument("--ref-spp", type=int, default=512)
    p.add_argument("--repeats", type=int, default=3)
    p.add_argument("--threads", type=int, default=2)
    p.add_argument("--work", default="out/peer", help="directory for the images")
    p.add_argument("--plot", help="the error-time plot (default WORK/error-time.png)")
    p.add_argument("--png", action="store_true", help="also write PNG previews")
    p.add_argument("--label", default="", help="what the vesper-render build is, for the table")
    p.add_argument("--table", help="only print the tables (and plot) of an earlier run's "
                                   "results.json")
    p.add_argument("--reuse", action="store_true",
                   help="with --clamps: keep the clamp images already in the work directory")
    p.add_argument("--clamps", default="",
                   help="also compare vesper-render's clamp values (e.g. 0,5,20,100) on the "
                        "point scene at the largest sample count")
    args = p.parse_args()
    args.spp = [int(s) for s in args.spp.split(",")]
    args.plot = args.plot or os.path.join(args.work, "error-time.png")
    if args.before and os.path.isdir(args.before):
        args.before_library = args.before_library or os.path.join(args.before,
                                                                  "libvesperShaders64.so")
        args.before = os.path.join(args.before, "vesper-render")
    return args


def main():
    args = arguments()
    if args.table:
        with open(args.table) as f:
            results = json.load(f)
        if "scenes" not in results:  # a run of the point scene alone
            results["scenes"] = {"point": results.pop("rows")}
        print_tables(results)
        plot(results, args.plot)
        if args.clamps:
            clamp_table(args, args.spp[-1])
        return 0
    args.vesper = args.vesper or os.path.join(args.build, "vesper-render")
    os.makedirs(args.work, exist_ok=True)
    load = [loadavg()]
    scenes = {s: measure(args, s, load) for s in args.scenes.split(",")}
    results = {"machine": versions(args) + ("; " + args.label if args.label else ""),
               "load": load, "repeats": args.repeats, "threads": args.threads,
               "ref_spp": args.ref_spp, "spp": args.spp, "scenes": scenes}
    if args.before:
        results["before"] = args.before
    with open(os.path.join(args.work, "results.json"), "w") as f:
        json.dump(results, f, indent=1)
    print_tables(results)
    plot(results, args.plot)
    if args.clamps:
        clamp_table(args, args.spp[-1])


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
        rows.append((c, compare(args, ref, [img])[img][0],
                     compare(args, w("vesper-clamp0-ref.exr"), [ref])[ref][1]))
    print("\nclamp at %d spp (0: none): error against its own %d-sample reference, and the "
          "light that reference keeps of the unclamped one's\n" % (spp, args.ref_spp))
    print("| clamp | error | light kept |")
    print("|---:|---:|---:|")
    for c, e, m in rows:
        print("| %s | %.4f | %.3f |" % (c, e, m))


if __name__ == "__main__":
    sys.exit(main())
