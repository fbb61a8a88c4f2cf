"""Workers: a copy of the sources and a build directory each.

A worker builds its tree once without LTO at -O1 with the library, vesper_tests
and vesper_unit_tests only, and keeps a copy of every compiled object and binary.
After each mutant the changed source and every rebuilt output are put back as
they were (bytes and modification times), so the next mutant recompiles only its
own file's users."""
import os
import re
import shutil
import signal
import sys
import time

from . import ROOT
from .procs import EDITS, LOCK, restore_edits, run

CMAKE_OPTIONS = [
    "-G", "Ninja",
    # Debug is the one configuration that leaves out the library's -O3 and LTO;
    # -O1 compiles fast and runs the tests fast, NDEBUG as in a shipping build.
    "-DCMAKE_BUILD_TYPE=Debug",
    "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -DNDEBUG",
    "-DVESPER_LTO=OFF",
    "-DVESPER_BUILD_TESTS=ON",
    "-DVESPER_BUILD_TOOLS=OFF",
    "-DVESPER_BUILD_BENCH=OFF",
    "-DVESPER_BUILD_RENDERER=OFF",
    "-DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST",
]
GOLDEN_FILTER = "Library/Golden.*"
# The test command, in order: the goldens (bit-exact outputs of every class, the
# fastest and strongest check), the rest of the host tests, then the unit tests,
# whose program is built only when the first two pass. Each stops at its first
# failure. tests/render (vesper-render in subprocesses) is not run.
STAGES = [
    ("golden", ["vesperShaders64", "vesper_tests"], "tests/vesper_tests",
     ["--gtest_filter=" + GOLDEN_FILTER]),
    ("host", ["vesperShaders64", "vesper_tests"], "tests/vesper_tests",
     ["--gtest_filter=-" + GOLDEN_FILTER]),
    ("unit", ["vesper_unit_tests"], "tests/vesper_unit_tests", []),
]
GTEST_FLAGS = ["--gtest_fail_fast", "--gtest_brief=1", "--gtest_color=no"]
TARGETS = sorted({t for _, ts, _, _ in STAGES for t in ts})


class Worker:
    def __init__(self, workdir, n, ninja_jobs, log):
        self.n = n
        self.dir = os.path.join(workdir, "w%d" % n)
        self.tree = os.path.join(self.dir, "tree")
        self.build = os.path.join(self.dir, "build")
        self.pristine = os.path.join(self.dir, "pristine")
        self.rundir = os.path.join(self.dir, "run")
        self.ninja_jobs = ninja_jobs
        self.log = log
        self.unmutated = {}
        self.timeouts = {}
        self.done = 0

    def sync_tree(self, files):
        """Copies the work tree's files, rewriting only those that differ so the
        build stays incremental."""
        want = set()
        for rel in files:
            want.add(rel)
            src, dst = os.path.join(ROOT, rel), os.path.join(self.tree, rel)
            with open(src, "rb") as fh:
                data = fh.read()
            if os.path.exists(dst):
                with open(dst, "rb") as fh:
                    if fh.read() == data:
                        continue
            os.makedirs(os.path.dirname(dst), exist_ok=True)
            with open(dst, "wb") as fh:
                fh.write(data)
            shutil.copymode(src, dst)
        for d, _, names in os.walk(self.tree):
            for f in names:
                rel = os.path.relpath(os.path.join(d, f), self.tree)
                if rel not in want:
                    os.remove(os.path.join(d, f))

    def ninja(self, targets, timeout, jobs=None):
        return run(["ninja", "-C", self.build, "-j", str(jobs or self.ninja_jobs)] + targets,
                   cwd=self.dir, timeout=timeout)

    def setup(self, files, timeout_factor, min_timeout):
        os.makedirs(self.rundir, exist_ok=True)
        self.sync_tree(files)
        self.configure()
        self.log("w%d: building %s in %s" % (self.n, " ".join(TARGETS), self.build))
        rc, out = self.ninja(TARGETS, None, jobs=2)  # workers are set up one at a time
        if rc != 0:
            sys.exit("mutate: the unmutated build failed:\n%s" % out[-3000:])
        for name, _, exe, args in STAGES:
            t0 = time.monotonic()
            rc, out = run([os.path.join(self.build, exe)] + args + GTEST_FLAGS,
                          cwd=self.rundir, timeout=600)
            dt = time.monotonic() - t0
            if rc != 0:
                sys.exit("mutate: the unmutated %s tests fail (%s):\n%s" % (name, rc, out[-3000:]))
            self.unmutated[name] = round(dt, 2)
            self.timeouts[name] = max(min_timeout, timeout_factor * dt)
        self.snapshot()

    def configure(self):
        wrapper = os.path.join(self.dir, "cxx")
        with open(wrapper, "w") as fh:
            # A mutant that only trips a warning (say an unused variable) is still a
            # program: warnings are not errors in this build.
            fh.write('#!/bin/sh\nexec "$@" -Wno-error\n')
        os.chmod(wrapper, 0o755)
        if not os.path.exists(os.path.join(self.build, "build.ninja")):
            rc, out = run(["cmake", "-S", self.tree, "-B", self.build,
                           "-DCMAKE_CXX_COMPILER_LAUNCHER=" + wrapper] + CMAKE_OPTIONS,
                          cwd=self.dir)
            if rc != 0:
                sys.exit("mutate: configuring %s failed:\n%s" % (self.build, out[-3000:]))

    def outputs(self):
        """What the compile and link steps write: the files put back after a mutant."""
        rc, out = run(["ninja", "-C", self.build, "-t", "targets", "all"], cwd=self.dir)
        if rc != 0:
            sys.exit("mutate: ninja -t targets failed:\n" + out)
        outs = []
        for line in out.splitlines():
            path, _, rule = line.rpartition(": ")
            if re.match(r"CXX_(COMPILER|SHARED_LIBRARY_LINKER|EXECUTABLE_LINKER|"
                        r"STATIC_LIBRARY_LINKER)__", rule):
                outs.append(path)
        return outs

    def snapshot(self):
        if os.path.exists(self.pristine):
            shutil.rmtree(self.pristine)
        self.manifest = {}
        for rel in self.outputs():
            src = os.path.join(self.build, rel)
            if not os.path.exists(src):
                continue
            dst = os.path.join(self.pristine, rel)
            os.makedirs(os.path.dirname(dst), exist_ok=True)
            shutil.copy2(src, dst)
            st = os.stat(src)
            self.manifest[rel] = (st.st_mtime_ns, st.st_size)

    def restore_build(self):
        for rel, (mt, size) in self.manifest.items():
            path = os.path.join(self.build, rel)
            try:
                st = os.stat(path)
                same = st.st_mtime_ns == mt and st.st_size == size
            except FileNotFoundError:
                same = False
            if not same:
                shutil.copy2(os.path.join(self.pristine, rel), path)

    def rebuilt(self):
        """What a build now recompiles or relinks: nothing when every mutant's
        objects were put back. (ninja -n cannot tell: the glob check always
        looks dirty to it.)"""
        rc, out = self.ninja(TARGETS, None)
        steps = [line for line in out.splitlines() if re.search(r"\] (Building|Linking)", line)]
        if rc != 0 or steps:
            self.snapshot()
        return steps if rc == 0 else ["build failed: " + out[-500:]]

    def test(self, mut, build_timeout):
        """Builds and tests one mutant; the source and the build are put back.
        None when the run was stopped meanwhile."""
        rec = dict(mut)
        if mut.get("gone"):
            rec.update(status="gone", seconds=0)
            return rec
        path = os.path.join(self.tree, mut["file"])
        t0 = time.monotonic()
        st = os.stat(path)
        with open(path, "rb") as fh:
            data = fh.read()
        lines = data.decode("utf-8").split("\n")
        if lines[mut["line"] - 1] != mut["original"]:
            rec.update(status="error", detail="line differs from the sample", seconds=0)
            return rec
        lines[mut["line"] - 1] = mut["mutated"]
        try:
            with LOCK:
                EDITS[path] = (data, st.st_atime_ns, st.st_mtime_ns)
            with open(path, "wb") as fh:
                fh.write("\n".join(lines).encode("utf-8"))
            result = self.run_stages(build_timeout)
        finally:
            restore_edits()
            self.restore_build()
        if result is None:
            return None
        rec.update(result, seconds=round(time.monotonic() - t0, 2), worker=self.n)
        return rec

    def run_stages(self, build_timeout):
        """Builds what each stage needs and runs it, up to the first stage that
        fails; the verdict and times, or None when stopped."""
        built, status, stage, detail = set(), "survived", None, None
        build_s = test_s = 0.0
        for name, targets, exe, args in STAGES:
            need = [t for t in targets if t not in built]
            if need:
                b0 = time.monotonic()
                rc, out = self.ninja(need, build_timeout)
                build_s += time.monotonic() - b0
                built.update(need)
                if rc == "stopped":
                    return None
                if rc != 0:
                    status, stage = "uncompiled", name
                    detail = first_error(out) if rc != "timeout" else "build timeout"
                    break
            s0 = time.monotonic()
            rc, out = run([os.path.join(self.build, exe)] + args + GTEST_FLAGS,
                          cwd=self.rundir, timeout=self.timeouts[name])
            test_s += time.monotonic() - s0
            if rc == "stopped":
                return None
            if rc == "timeout":
                status, stage = "timeout", name
                break
            if rc != 0:
                status, stage, detail = "killed", name, first_failure(out, rc)
                break
        return dict(status=status, stage=stage, detail=detail, build_s=round(build_s, 2),
                    test_s=round(test_s, 2))


def first_error(out):
    for line in out.splitlines():
        if "error:" in line:
            return line.strip()[-300:]
    return out.strip().splitlines()[-1][-300:] if out.strip() else "build failed"


def first_failure(out, rc):
    for line in out.splitlines():
        if line.startswith("[  FAILED  ]"):
            return line[12:].strip().split(" (")[0][:200]
    if isinstance(rc, int) and rc < 0:
        return "crashed: " + signal.Signals(-rc).name
    return "exit %s" % rc
