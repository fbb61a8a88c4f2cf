"""A run of mutants: the sample, the results file, the workers and their threads,
and putting every source and build output back however the run ends."""
import json
import os
import queue
import signal
import subprocess
import sys
import threading
import time

from . import ROOT
from .procs import LOCK, PROCS, STOP, git, on_signal, restore_edits, terminate
from .results import load, summary
from .sample import draw_sample, replay_sample
from .worker import CMAKE_OPTIONS, STAGES, Worker

# What the test build needs from the work tree.
TREE_ENTRIES = ("CMakeLists.txt", "cmake", "include", "src", "host", "testkit", "tests")


def tracked_files():
    out = git("ls-files", "-z", "--cached", "--others", "--exclude-standard", "--",
              *TREE_ENTRIES)
    return sorted(f for f in set(out.split("\0")) if f and os.path.isfile(os.path.join(ROOT, f)))


def acquire_lock(workdir):
    os.makedirs(workdir, exist_ok=True)
    lock = os.path.join(workdir, "lock")
    try:
        fd = os.open(lock, os.O_CREAT | os.O_EXCL | os.O_WRONLY)
    except FileExistsError:
        with open(lock) as fh:
            pid = fh.read().strip()
        try:
            os.kill(int(pid), 0)
            sys.exit("mutate: %s is in use by process %s" % (workdir, pid))
        except (ValueError, ProcessLookupError):
            os.remove(lock)
            fd = os.open(lock, os.O_CREAT | os.O_EXCL | os.O_WRONLY)
    os.write(fd, str(os.getpid()).encode())
    os.close(fd)
    return lock


def log(s):
    print(s, flush=True)


class Session:
    """One invocation that builds and tests mutants. `status_before` is the work
    tree's `git status` at the start, `src_tree` the tree of src/ at HEAD."""

    def __init__(self, args, status_before, src_tree):
        self.args = args
        self.status_before = status_before
        self.src_tree = src_tree
        self.workdir = os.path.abspath(args.workdir)
        self.out_path = os.path.abspath(args.out or os.path.join(
            self.workdir, "s%d-n%d.jsonl" % (args.seed, args.count)))
        self.workers, self.threads = [], []
        self.progress, self.total = 0, 0

    def run(self):
        lock = acquire_lock(self.workdir)
        signal.signal(signal.SIGINT, on_signal)
        signal.signal(signal.SIGTERM, on_signal)
        try:
            return self.execute()
        except KeyboardInterrupt as e:
            STOP.set()
            print("\nmutate: interrupted (%s); the finished mutants are in the results file; "
                  "--resume continues" % (e or "SIGINT"), file=sys.stderr)
            return 130
        finally:
            self.clean_up()
            os.remove(lock)
            self.report_tree_changes()

    def execute(self):
        sample, header = self.sample()
        done = self.open_results(header)
        todo = [m for m in sample if m["id"] not in done]
        log("mutate: %d mutants, %d to run, results in %s" % (len(sample), len(todo),
                                                              self.out_path))
        if not todo:
            print(summary(load(self.out_path)[1]))
            return 0
        self.start_workers(len(todo), len(sample))
        self.progress, self.total = len(done), len(sample)
        self.run_threads(todo)
        for w in self.workers:
            steps = w.rebuilt()
            if steps:
                log("mutate: warning: %s had stale outputs after the run:\n  %s" % (
                    w.build, "\n  ".join(steps)))
        print()
        print(summary(load(self.out_path)[1]))
        return 0

    def sample(self):
        """The mutants to run and the header that describes them."""
        args = self.args
        if args.replay:
            old_header, old = load(args.replay)
            sample = replay_sample(ROOT, old, (old_header or {}).get("src_tree"))
            moved = sum(1 for m in sample if m.get("relocated") and not m.get("gone"))
            log("mutate: replay: %d mutants re-located to changed lines, %d gone" % (
                moved, sum(1 for m in sample if m.get("gone"))))
        else:
            sample, _ = draw_sample(ROOT, args.seed, args.count, args.files)
        header = {"kind": "header", "seed": None if args.replay else args.seed,
                  "count": len(sample), "files": args.files,
                  "replay": os.path.relpath(args.replay, ROOT) if args.replay else None,
                  "src_tree": self.src_tree, "head": git("rev-parse", "HEAD").strip(),
                  "stages": [[n, exe, a] for n, _, exe, a in STAGES],
                  "cmake": CMAKE_OPTIONS}
        return sample, header

    def open_results(self, header):
        """Starts the results file, or checks that --resume continues the same
        sample; the ids of the mutants already run."""
        if not os.path.exists(self.out_path):
            with open(self.out_path, "w") as fh:
                fh.write(json.dumps(header) + "\n")
            return set()
        if not self.args.resume:
            sys.exit("mutate: %s exists; --resume continues it" % self.out_path)
        old_header, recs = load(self.out_path)
        for k in ("seed", "count", "files", "replay", "src_tree"):
            if old_header and old_header.get(k) != header[k]:
                # A larger --count extends a seeded sample: its first
                # mutants are the ones already run.
                if k == "count" and not self.args.replay and header[k] > old_header[k]:
                    continue
                sys.exit("mutate: %s was run with %s=%s, not %s" % (
                    self.out_path, k, old_header.get(k), header[k]))
        return {r["id"] for r in recs}

    def start_workers(self, todo, count):
        """Sets the workers up one at a time and records the session."""
        files = tracked_files()
        jobs = max(1, min(self.args.jobs, todo))
        for n in range(jobs):
            w = Worker(self.workdir, n, max(1, 2 // jobs), log)
            w.setup(files, self.args.timeout_factor, self.args.min_timeout)
            log("w%d: unmutated tests %s s; time limits %s s" % (
                n, w.unmutated, {k: round(v) for k, v in w.timeouts.items()}))
            self.workers.append(w)
        with open(self.out_path, "a") as fh:
            fh.write(json.dumps({
                "kind": "session", "started": time.strftime("%Y-%m-%d %H:%M:%S"),
                "count": count, "unmutated_s": self.workers[0].unmutated,
                "timeouts_s": {k: round(v, 1) for k, v in self.workers[0].timeouts.items()},
                "jobs": jobs}) + "\n")

    def run_threads(self, todo):
        pending = queue.Queue()
        for m in todo:
            pending.put(m)
        for w in self.workers:
            t = threading.Thread(target=self.work, args=(w, pending), daemon=True)
            t.start()
            self.threads.append(t)
        # Joined in slices: the main thread must stay free to take the signals.
        while any(t.is_alive() for t in self.threads):
            for t in self.threads:
                t.join(0.5)

    def work(self, w, pending):
        while not STOP.is_set():
            try:
                m = pending.get_nowait()
            except queue.Empty:
                return
            rec = w.test(m, self.args.build_timeout)
            if rec is None or STOP.is_set():
                return
            w.done += 1
            if w.done % 25 == 0:
                steps = w.rebuilt()
                if steps:
                    log("mutate: warning: w%d had stale outputs:\n  %s" % (
                        w.n, "\n  ".join(steps)))
            rec["kind"] = "mutant"
            self.record(rec)

    def record(self, rec):
        """Appends one mutant's result, on disk before the next one starts."""
        with LOCK:
            with open(self.out_path, "a") as fh:
                fh.write(json.dumps(rec) + "\n")
                fh.flush()
                os.fsync(fh.fileno())
            self.progress += 1
            log("[%d/%d] %-10s %-6s %s:%d %s (%.0f s)" % (
                self.progress, self.total, rec["status"], rec.get("stage") or "",
                rec["file"], rec["line"], rec["op"], rec.get("seconds", 0)))

    def clean_up(self):
        """Stops the threads and their processes, then puts back every mutated
        source and build output."""
        STOP.set()
        for t in self.threads:
            t.join(60)
        with LOCK:
            procs = list(PROCS)
        for p in procs:
            try:
                p.wait(30)
            except subprocess.TimeoutExpired:
                terminate(p, signal.SIGKILL)
        restore_edits()
        for w in self.workers:
            if hasattr(w, "manifest"):
                w.restore_build()

    def report_tree_changes(self):
        # The tool writes only below WORKDIR and to --out; anything else that
        # changed in the work tree was changed by someone else meanwhile.
        out_rel = os.path.relpath(self.out_path, ROOT)
        extra = sorted(set(git("status", "--porcelain").splitlines()) -
                       set(self.status_before.splitlines()))
        extra = [e for e in extra if e[3:] != out_rel and not out_rel.startswith(e[3:])]
        if git("status", "--porcelain", "--", "src"):
            print("mutate: error: src/ in the work tree has changes", file=sys.stderr)
        elif extra:
            print("mutate: note: the work tree changed during the run (not by this tool):\n  "
                  + "\n  ".join(extra), file=sys.stderr)
