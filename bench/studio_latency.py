#!/usr/bin/env python3
"""Preview latency of vesper-studio: request to first image, every class.

Starts the studio on a free port, asks each class for the page's first image
(320x240, 1 sample, direct mode, sphere under the built-in sky, the class's
preset parameters) several times, and prints a Markdown table of the first
(cold) request and the median of the others, in milliseconds, as the client
sees them (scene set-up, render and PNG encoding included).

    bench/studio_latency.py [--build build] [--repeat 5]
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


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, os.environ.get("BUILD_DIR", "build")))
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()
    assets = tempfile.mkdtemp(prefix="vesper-latency-")
    server = subprocess.Popen(
        [os.path.join(args.build, "vesper-studio"), "--port", "0", "--assets", assets],
        stdout=subprocess.PIPE, text=True)
    try:
        url = None
        for line in server.stdout:
            m = re.search(r"open (http://\S+)/", line)
            if m:
                url = m.group(1)
                break
        if not url:
            sys.exit("studio_latency: vesper-studio did not start")
        classes = json.load(urllib.request.urlopen(url + "/api/classes"))["classes"]
        print("| class | kind | first (ms) | median of %d (ms) |" % args.repeat)
        print("|---|---|---:|---:|")
        for c in classes:
            body = {"class": c["name"], "params": c.get("preset", {}), "width": 320, "height": 240,
                    "spp": 1, "mode": "direct", "preview": "sphere", "environment": "sky"}
            first = post(url + "/api/render", body)
            times = [post(url + "/api/render", body) for _ in range(args.repeat)]
            print("| `%s` | %s | %.0f | %.0f |" % (c["name"], c["kind"], first, statistics.median(times)))
            sys.stdout.flush()
    finally:
        server.terminate()
        server.wait()
        subprocess.run(["rm", "-rf", assets])


if __name__ == "__main__":
    main()
