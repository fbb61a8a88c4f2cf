#!/usr/bin/env python3
"""vesper-studio under load: small requests while hostile clients saturate it.

Starts the studio on a free port and, for each case, keeps it busy for a while
with clients that abandon renders (waves of renders sent at once and abandoned
50 ms later), clients that
send a header line every two seconds, and an endless chunked upload, while a
well-behaved client asks every half second for the class list and for a small
image (64x48, 1 sample). Prints a Markdown table of the small requests' latency
(median and worst, in ms), how many of them were refused as busy (503, when
they came while a wave of abandoned renders filled the queue) or failed
otherwise, how many abandoned renders were refused as busy, and the server's
resident memory at the end of the case.

    bench/studio_load.py [--build build] [--seconds 10] [--abandon 50] [--slow 16]

Exits 1 when a small request fails or takes a second or more to be answered.
"""
import argparse
import json
import multiprocessing
import os
import re
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import urllib.error
import urllib.request

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ABANDONED = {"class": "corvid_Mtl_Dielectric", "width": 1024, "height": 1024, "spp": 16,
             "mode": "path"}
SMALL = {"class": "corvid_Mtl_Ward", "width": 64, "height": 48, "spp": 1}
WAVE_SECONDS = 2.0


def request(port, path, body=None, timeout=30):
    """The status of one request (0 when it failed) and its time in ms."""
    url = "http://127.0.0.1:%d%s" % (port, path)
    data = json.dumps(body).encode() if body is not None else None
    req = urllib.request.Request(url, data, {"Content-Type": "application/json"})
    start = time.perf_counter()
    try:
        with urllib.request.urlopen(req, timeout=timeout) as r:
            r.read()
            status = r.status
    except urllib.error.HTTPError as e:
        status = e.code
    except OSError:
        status = 0
    return status, (time.perf_counter() - start) * 1000.0


def connect(port, data):
    s = socket.create_connection(("127.0.0.1", port))
    s.sendall(data)
    return s


def abandon(port, stop, refused):
    """Waves: every two seconds a render, abandoned 50 ms later unless refused
    before; every abandoning client sends in the same wave."""
    body = json.dumps(ABANDONED).encode()
    head = ("POST /api/render HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
            "Content-Length: %d\r\n\r\n" % len(body)).encode()
    while not stop.wait(WAVE_SECONDS - time.time() % WAVE_SECONDS):
        s = connect(port, head + body)
        s.settimeout(0.05)
        try:
            if s.recv(12).endswith(b"503"):
                with refused.get_lock():
                    refused.value += 1
        except OSError:
            pass
        s.close()


def slow(port, stop):
    """A header line every two seconds, a new connection when the server ends one."""
    while not stop.is_set():
        s = connect(port, b"GET /api/classes HTTP/1.1\r\nHost: 127.0.0.1\r\n")
        try:
            while not stop.wait(2.0):
                s.sendall(b"X-Slow: 1\r\n")
        except OSError:
            pass
        s.close()


def upload(port, stop):
    """A chunked body that never ends, started again when the server refuses it."""
    chunk = b"10000\r\n" + b" " * 0x10000 + b"\r\n"
    while not stop.is_set():
        s = connect(port, b"POST /api/render HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                          b"Content-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n")
        try:
            while not stop.is_set():
                s.sendall(chunk)
        except OSError:
            pass
        s.close()


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        return int(re.search(r"VmRSS:\s+(\d+)", f.read()).group(1))


def load(port, stop, refused, abandoners, slows, uploads):
    """The hostile clients, in a process of their own so that they do not slow
    down the measuring client."""
    threads = ([threading.Thread(target=abandon, args=(port, stop, refused)) for _ in range(abandoners)]
               + [threading.Thread(target=slow, args=(port, stop)) for _ in range(slows)]
               + [threading.Thread(target=upload, args=(port, stop)) for _ in range(uploads)])
    for t in threads:
        t.start()
    for t in threads:
        t.join()


def run_case(port, pid, seconds, abandoners, slows, uploads):
    stop = multiprocessing.Event()
    refused = multiprocessing.Value("i", 0)
    clients = multiprocessing.Process(target=load,
                                      args=(port, stop, refused, abandoners, slows, uploads))
    clients.start()
    time.sleep(1.0)  # let the load build up
    times = {"classes": [], "render": []}
    busy = failed = 0
    end = time.time() + seconds
    while time.time() < end:
        for name, path, body in (("classes", "/api/classes", None), ("render", "/api/render", SMALL)):
            status, ms = request(port, path, body)
            busy += status == 503
            failed += status not in (200, 503)
            times[name].append(ms)
        time.sleep(0.5)
    resident = rss_kib(pid) / 1024.0
    stop.set()
    clients.join()
    return times, busy, failed, refused.value, resident


def start_studio(build):
    assets = tempfile.mkdtemp(prefix="vesper-load-")
    server = subprocess.Popen(
        [os.path.join(build, "vesper-studio"), "--port", "0", "--assets", assets],
        stdout=subprocess.PIPE, text=True)
    for line in server.stdout:
        m = re.search(r"open http://127.0.0.1:(\d+)/", line)
        if m:
            return server, int(m.group(1)), assets
    sys.exit("studio_load: vesper-studio did not start")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, os.environ.get("BUILD_DIR", "build")))
    parser.add_argument("--seconds", type=float, default=10.0)
    parser.add_argument("--abandon", type=int, default=50)
    parser.add_argument("--slow", type=int, default=16)
    args = parser.parse_args()
    cases = [("idle", 0, 0, 0),
             ("%d clients abandoning renders" % args.abandon, args.abandon, 0, 0),
             ("%d slow clients" % args.slow, 0, args.slow, 0),
             ("an endless chunked upload", 0, 0, 1),
             ("all of them", args.abandon, args.slow, 1)]
    server, port, assets = start_studio(args.build)
    worst = 0.0
    failures = 0
    try:
        print("| load | class list: median / worst (ms) | 64x48 render: median / worst (ms) "
              "| small ones refused busy / failed | hostile renders refused busy "
              "| resident memory (MiB) |")
        print("|---|---:|---:|---:|---:|---:|")
        for name, abandoners, slows, uploads in cases:
            times, busy, failed, refused, resident = run_case(port, server.pid, args.seconds,
                                                            abandoners, slows, uploads)
            cells = ["%.0f / %.0f" % (statistics.median(t), max(t)) for t in times.values()]
            print("| %s | %s | %s | %d / %d | %d | %.1f |" % (name, cells[0], cells[1], busy, failed,
                                                              refused, resident))
            sys.stdout.flush()
            worst = max([worst] + [max(t) for t in times.values()])
            failures += failed
            time.sleep(3.0)  # the slow and abandoned clients of this case drain
    finally:
        server.terminate()
        server.wait()
        subprocess.run(["rm", "-rf", assets])
    if failures or worst >= 1000.0:
        sys.exit("studio_load: %d small requests failed; the slowest took %.0f ms" % (failures, worst))


if __name__ == "__main__":
    main()
