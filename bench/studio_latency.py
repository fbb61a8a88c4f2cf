#!/usr/bin/env python3
"""Preview latency of vesper-studio: request to first image, every class.

Starts the studio on a free port and asks each class for a 320x240 image (1 sample,
direct mode, sphere under the built-in sky, the class's preset parameters) once after
another class (the scene is loaded). Then it makes --repeat edits as the page does: one
parameter value changed each time (the seed for a class without a float parameter),
asked for at 160x120 and 1 sample (the first image of the change), 320x240 and 1
sample, then 480x360 and 4 samples, one after the other. Prints a Markdown table of the
first request and the median of the edits' first and second images, in milliseconds,
as the client sees them (scene set-up, render and PNG encoding included).

    bench/studio_latency.py [--build build] [--before OLD_BUILD] [--repeat 5]

With --before, an older build's studio is measured in the same run, each class
on both studios in turn.
"""
import argparse
import json
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.request

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def post(url, body):
    req = urllib.request.Request(url, json.dumps(body).encode(), {"Content-Type": "application/json"})
    start = time.perf_counter()
    with urllib.request.urlopen(req) as r:
        r.read()
    return (time.perf_counter() - start) * 1000.0


def load_average():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


class Server:
    def __init__(self, build):
        self.assets = tempfile.mkdtemp(prefix="vesper-latency-")
        self.process = subprocess.Popen(
            [os.path.join(build, "vesper-studio"), "--port", "0", "--assets", self.assets],
            stdout=subprocess.PIPE, text=True)
        self.url = None
        for line in self.process.stdout:
            m = re.search(r"open (http://\S+)/", line)
            if m:
                self.url = m.group(1)
                break
        if not self.url:
            sys.exit("studio_latency: vesper-studio of %s did not start" % build)

    def close(self):
        self.process.terminate()
        self.process.wait()
        subprocess.run(["rm", "-rf", self.assets])


# What the page asks for after a change: each image waits for the one before it.
STEPS = ((160, 120, 1), (320, 240, 1), (480, 360, 4))
TIMED = 2  # the first two are timed: the first image of a change, then the second


def request(c, width, height, spp, edit=None):
    """The page's request for the class's preview; `edit` i changes one parameter value
    (the seed for a class without a float parameter)."""
    params = dict(c.get("preset", {}))
    body = {"class": c["name"], "width": width, "height": height, "spp": spp, "mode": "direct",
            "preview": "sphere", "environment": "sky", "params": params}
    floats = [p for p in c["parameters"] if p["type"] == "float"]
    if edit is None:
        return body
    if floats:
        p = floats[0]
        value = params.get(p["name"], p["default"])
        params[p["name"]] = value * (1.0 + 0.01 * (edit + 1)) if value else 0.01 * (edit + 1)
    else:
        body["seed"] = edit + 2
    return body


def measure(server, c, repeat):
    """The first 320x240 request's time and, over `repeat` edits, the median time of
    each timed step."""
    # Another class first, so that the first request loads its scene.
    post(server.url + "/api/render", {"class": c["name"] == "corvid_Mtl_Solid" and
                                      "corvid_Mtl_Unlit" or "corvid_Mtl_Solid", "width": 8})
    first = post(server.url + "/api/render", request(c, 320, 240, 1))
    times = [[] for _ in range(TIMED)]
    for i in range(repeat):
        for k, step in enumerate(STEPS):
            t = post(server.url + "/api/render", request(c, *step, edit=i))
            if k < TIMED:
                times[k].append(t)
    return [first] + [statistics.median(t) for t in times]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, os.environ.get("BUILD_DIR", "build")))
    parser.add_argument("--before", help="an older build directory, measured in the same run")
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()
    builds = ([("before", args.before)] if args.before else []) + [("after", args.build)]
    servers = {}
    try:
        for name, build in builds:
            servers[name] = Server(build)
        classes = json.load(urllib.request.urlopen(servers["after"].url + "/api/classes"))["classes"]
        print("load average before: %s" % load_average())
        head = " | ".join(
            "%s first (ms) | " % n +
            " | ".join("%s edit %dx%d (ms)" % (n, w, h) for w, h, _ in STEPS[:TIMED])
            for n, _ in builds)
        print("Edits: the median of %d, each changing one value.\n" % args.repeat)
        print("| class | kind | %s |" % head)
        print("|---|---|%s" % ("---:|" * (1 + TIMED) * len(builds)))
        for c in classes:
            cells = []
            for name, _ in builds:
                cells += ["%.0f" % t for t in measure(servers[name], c, args.repeat)]
            print("| `%s` | %s | %s |" % (c["name"], c["kind"], " | ".join(cells)))
            sys.stdout.flush()
        print("\nload average after: %s" % load_average())
    finally:
        for s in servers.values():
            s.close()


if __name__ == "__main__":
    main()
