#!/usr/bin/env python3
"""Mutation testing of the library's sources (src/**/*.cpp, *.h).

Draws a deterministic sample of mutants (one small change to one line each),
builds the library and the test programs with every mutant in turn and runs the
tests against it. A mutant is killed when a test fails or crashes, timed out
when a test run exceeds its time limit, survived when every test passes, and
not compiled when the build fails (left out of the kill rate).

  scripts/mutate.py --seed 1 --count 400 --out results.jsonl     run a sample
  scripts/mutate.py --seed 1 --count 400 --out results.jsonl --resume
  scripts/mutate.py --replay old.jsonl --out new.jsonl           the same mutants
  scripts/mutate.py --seed 1 --count 400 --list                  the sample only
  scripts/mutate.py --report results.jsonl                       the tables
  scripts/mutate.py --compare before.jsonl after.jsonl           rate and changes

The work tree is never written: each worker mutates its own copy of the sources
(WORKDIR/wN/tree, synced from the work tree at start) and builds it in
WORKDIR/wN/build, configured once without LTO at -O1 and with the library,
vesper_tests and vesper_unit_tests only. After each mutant the changed source
and every rebuilt object and binary are put back as they were (bytes and
modification times), so the next mutant recompiles only its own file's users.

Mutants of one seed are drawn one after another: the first N of --count M are
the sample of --count N. Results are appended to the JSON-lines file one mutant
at a time, so an interrupted run continues with --resume.
"""
import argparse
import json
import os
import queue
import random
import re
import shutil
import signal
import subprocess
import sys
import threading
import time
from collections import defaultdict

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# What the test build needs from the work tree.
TREE_ENTRIES = ("CMakeLists.txt", "cmake", "include", "src", "host", "testkit", "tests")
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
DETECTED = ("killed", "timeout")
COUNTED = ("killed", "survived", "timeout")
STATUSES = ("killed", "survived", "timeout", "uncompiled", "error", "gone")

# ---------------------------------------------------------------------------
# Mutation sites and operators
# ---------------------------------------------------------------------------


def mask_code(lines):
    """Each line with comments blanked and string/char contents replaced by '_',
    same length, so that operators match code only."""
    out, in_block = [], False
    for line in lines:
        res, i, n = [], 0, len(line)
        while i < n:
            if in_block:
                if line.startswith("*/", i):
                    in_block = False
                    res.append("  ")
                    i += 2
                else:
                    res.append(" ")
                    i += 1
            elif line.startswith("//", i):
                res.append(" " * (n - i))
                break
            elif line.startswith("/*", i):
                in_block = True
                res.append("  ")
                i += 2
            elif line[i] in "\"'":
                q, j = line[i], i + 1
                while j < n and line[j] != q:
                    j += 2 if line[j] == "\\" else 1
                j = min(j, n - 1)
                res.append(q + "_" * (j - i - 1) + (line[j] if j > i else ""))
                i = j + 1
            else:
                res.append(line[i])
                i += 1
        out.append("".join(res))
    return out


def matching_paren(s, p):
    depth = 0
    for q in range(p, len(s)):
        if s[q] in "([{":
            depth += 1
        elif s[q] in ")]}":
            depth -= 1
            if depth == 0:
                return q
    return -1


def balanced(s):
    depth = 0
    for c in s:
        depth += c in "([{"
        depth -= c in ")]}"
        if depth < 0:
            return False
    return depth == 0


def split_args(s):
    """Top-level comma positions of an argument list (without its parentheses)."""
    parts, depth, start = [], 0, 0
    for i, c in enumerate(s):
        if c in "([{<":
            depth += 1
        elif c in ")]}>":
            depth -= 1
        elif c == "," and depth == 0:
            parts.append((start, i))
            start = i + 1
    parts.append((start, len(s)))
    return parts


ARITH = {"+": "-", "-": "+", "*": "/", "/": "*"}
RELATIONAL = {"<": ("<=", ">="), "<=": ("<", ">"), ">": (">=", "<="), ">=": (">", "<"),
              "==": ("!=",), "!=": ("==",)}
MINMAX = {"minf": "maxf", "maxf": "minf", "fminf": "fmaxf", "fmaxf": "fminf",
          "std::min": "std::max", "std::max": "std::min", "std::fmin": "std::fmax",
          "std::fmax": "std::fmin"}
FIELD = {"x": "y", "y": "x", "z": "x", "w": "z"}
STMT_KEYWORDS = {"return", "if", "else", "for", "while", "do", "switch", "case", "default",
                 "break", "goto", "using", "typedef", "namespace", "template", "struct",
                 "class", "enum", "union", "static_assert", "public", "private", "protected",
                 "friend", "operator", "delete", "new", "const", "constexpr", "static",
                 "inline", "auto", "virtual"}
HEADER_RE = re.compile(r"^\s*(\}\s*)?(else\s+)?(if|for|while)\s*\(.*\)\s*$|^\s*(\}\s*)?else\s*$")
ASSIGN_RE = re.compile(r"^[A-Za-z_]\w*(?:(?:\.|->)[A-Za-z_]\w*|\[[^\]]*\])*\s*"
                       r"(?:[-+*/%&|^]|<<|>>)?=(?!=)")
CALL_RE = re.compile(r"^(?:[A-Za-z_]\w*(?:::|\.|->))*[A-Za-z_]\w*\s*\(.*\)\s*;$")
INCR_RE = re.compile(r"^(?:(?:\+\+|--)[\w.\[\]]+|[\w.\[\]]+(?:\+\+|--))\s*;$")
NUMBER_RE = re.compile(r"(?<![\w.])(\d+\.\d*(?:[eE][+-]?\d+)?|\d+[eE][+-]?\d+|\.\d+(?:[eE][+-]?\d+)?"
                       r"|\d+)([fFuUlL]*)(?![\w.])")
SIGN_RE = re.compile(r"(?:(?<=[(,{=?:*/+<>!\[])|(?<=[(,{=?:*/+<>] )|(?<=\breturn ))-(?=[\w(.])")


def declared_here(masked, start):
    """True when the name at `start` follows a type, as in a declaration."""
    before = masked[:start].rstrip()
    m = re.search(r"([A-Za-z_]\w*)[&*]?$", before)
    return bool(m) and m.group(1) not in ("return", "else", "case")


def perturbed(lit, suffix):
    floating = any(c in lit for c in ".eE")
    if not floating:
        v = int(lit)
        return ("1" if v == 0 else "0" if v == 1 else str(v + 1)) + suffix
    v = float(lit)
    if v == 0.0:
        s = "1.0"
    elif v == 1.0:
        s = "0.0"
    else:
        s = format(v * 1.01, ".7g")
        if not any(c in s for c in ".e"):
            s += ".0"
    return s + suffix


def candidates(lines, masked, i):
    """The mutations of line i: (operator, start, end, replacement)."""
    line, m = lines[i], masked[i]
    out = []
    for x in re.finditer(r"(?<=\S) ([-+*/])(=?) (?=\S)", m):
        out.append(("arith", x.start(1), x.end(1), ARITH[x.group(1)]))
    for x in re.finditer(r"(?<=\S) (<=|>=|==|!=|<|>) (?=\S)", m):
        for r in RELATIONAL[x.group(1)]:
            out.append(("compare", x.start(1), x.end(1), r))
    for x in re.finditer(r" (&&|\|\|) ", m):
        out.append(("logic", x.start(1), x.end(1), "||" if x.group(1) == "&&" else "&&"))
    for x in NUMBER_RE.finditer(m):
        out.append(("const", x.start(), x.end(), perturbed(x.group(1), x.group(2))))
    for x in re.finditer(r"\b(true|false)\b", m):
        out.append(("const", x.start(), x.end(), "false" if x.group(1) == "true" else "true"))
    for x in re.finditer(r"\b(?:if|while)\s*\(", m):
        p = x.end() - 1
        q = matching_paren(m, p)
        if q > 0:
            out.append(("negate", p, q + 1, "(!(" + line[p + 1:q] + "))"))
    for x in re.finditer(r"(?<![\w)\]!=<>])!(?!=)", m):
        out.append(("negate", x.start(), x.end(), ""))
    for x in SIGN_RE.finditer(m):
        out.append(("sign", x.start(), x.end(), ""))
    for x in re.finditer(r"(?<![\w:])(std::fmin|std::fmax|std::min|std::max|fminf|fmaxf|minf|maxf)"
                         r"\s*\(", m):
        if not declared_here(m, x.start()):
            out.append(("minmax", x.start(1), x.end(1), MINMAX[x.group(1)]))
    for x in re.finditer(r"(?<![\w:])(?:std::clamp|clampf|clamp)\s*\(", m):
        p = x.end() - 1
        q = matching_paren(m, p)
        args = split_args(m[p + 1:q]) if q > 0 else []
        if len(args) == 3 and not declared_here(m, x.start()):
            (_, _), (b0, b1), (c0, c1) = args
            lo, hi = line[p + 1 + b0:p + 1 + b1].strip(), line[p + 1 + c0:p + 1 + c1].strip()
            out.append(("minmax", p + 1 + b0, p + 1 + c1, " " + hi + ", " + lo))
    for x in re.finditer(r"(?<=[\w)\]])(?:\.|->)(x|y|z|w)\b(?!\s*\()", m):
        out.append(("field", x.start(1), x.end(1), FIELD[x.group(1)]))
    out += statement_drops(lines, masked, i)
    return out


def previous_code(masked, i):
    for j in range(i - 1, -1, -1):
        if masked[j].strip():
            return masked[j].rstrip()
    return ""


def statement_drops(lines, masked, i):
    m = masked[i]
    s = m.strip()
    start = len(m) - len(m.lstrip())
    end = m.rstrip().rfind(";") + 1
    out = []
    # `if (c) return x;` on one line: the return goes.
    x = re.match(r"^\s*(\}\s*else\s+)?if\s*\(", m)
    if x:
        q = matching_paren(m, x.end() - 1)
        r = re.match(r"\s*return\b.*;\s*$", m[q + 1:]) if q > 0 else None
        if r:
            r0 = q + 1 + len(m[q + 1:]) - len(m[q + 1:].lstrip())
            out.append(("drop", r0, end, "{}"))
        return out
    if not s.endswith(";") or not balanced(s):
        return out
    prev = previous_code(masked, i)
    after_header = bool(HEADER_RE.match(prev))
    opens_if = bool(re.match(r"^\s*(\}\s*)?(else\s+)?if\b.*\{$", prev))
    if not (after_header or prev.endswith((";", "{", "}", ":"))):
        return out  # a continuation line
    first = re.match(r"[A-Za-z_]\w*", s)
    if s.startswith("return"):
        if after_header or opens_if:
            out.append(("drop", start, end, "{}"))  # an early return
        return out
    if first and first.group(0) in STMT_KEYWORDS:
        return out
    if ASSIGN_RE.match(s) or CALL_RE.match(s) or INCR_RE.match(s) or s == "continue;":
        out.append(("drop", start, end, "{}"))
    return out


def eligible(masked, i):
    s = masked[i].strip()
    if not s or s.startswith("#") or "static_assert" in s:
        return False
    return not (i > 0 and masked[i - 1].rstrip().endswith("\\"))


def source_files(tree):
    out = []
    for d, dirs, files in os.walk(os.path.join(tree, "src")):
        dirs.sort()
        for f in sorted(files):
            if f.endswith((".cpp", ".h")):
                out.append(os.path.relpath(os.path.join(d, f), tree))
    return sorted(out)


def read_lines(path):
    with open(path, encoding="utf-8") as fh:
        return fh.read().split("\n")


def make_mutant(idx, path, lineno, lines, cand):
    op, a, b, repl = cand
    orig = lines[lineno - 1]
    return {"id": idx, "file": path, "line": lineno, "op": op, "col": a,
            "original": orig, "mutated": orig[:a] + repl + orig[b:]}


def draw_sample(tree, seed, count, file_filter=None):
    """Lines drawn uniformly from every line of src/ that has a mutation, then an
    operator among those that apply to it, then one of its places on the line."""
    pool, texts = [], {}
    for path in source_files(tree):
        if file_filter and not re.search(file_filter, path):
            continue
        lines = read_lines(os.path.join(tree, path))
        masked = mask_code(lines)
        texts[path] = lines
        for i in range(len(lines)):
            if eligible(masked, i):
                cands = candidates(lines, masked, i)
                if cands:
                    pool.append((path, i + 1, cands))
    rng = random.Random(seed)
    sample, seen, draws = [], set(), 0
    while len(sample) < count and draws < 50 * count + 1000:
        draws += 1
        path, lineno, cands = pool[rng.randrange(len(pool))]
        ops = sorted({c[0] for c in cands})
        op = ops[rng.randrange(len(ops))]
        same = [c for c in cands if c[0] == op]
        cand = same[rng.randrange(len(same))]
        mut = make_mutant(len(sample), path, lineno, texts[path], cand)
        key = mutant_key(mut)
        if key in seen or mut["mutated"] == mut["original"]:
            continue
        seen.add(key)
        sample.append(mut)
    return sample, len(pool)


def mutant_key(m):
    return (m["file"], m["line"], m["op"], m["col"], m["mutated"])


def replay_sample(tree, records):
    """The mutants of an earlier results file, found again by their line's text
    (the nearest line with that text when lines have moved)."""
    sample = []
    for r in records:
        m = {k: r[k] for k in ("file", "line", "op", "col", "original", "mutated")}
        m["id"] = len(sample)
        path = os.path.join(tree, m["file"])
        lines = read_lines(path) if os.path.exists(path) else []
        hits = [i + 1 for i, t in enumerate(lines) if t == m["original"]]
        if hits:
            m["line"] = min(hits, key=lambda n: abs(n - r["line"]))
        else:
            m["gone"] = True
        sample.append(m)
    return sample


# ---------------------------------------------------------------------------
# Processes, interruption and restoring
# ---------------------------------------------------------------------------

STOP = threading.Event()
LOCK = threading.Lock()
PROCS = set()
EDITS = {}  # path -> (bytes, atime_ns, mtime_ns): sources with a mutant in them


def restore_edits():
    with LOCK:
        items = list(EDITS.items())
    for path, (data, at, mt) in items:
        with open(path, "wb") as fh:
            fh.write(data)
        os.utime(path, ns=(at, mt))
        with LOCK:
            EDITS.pop(path, None)


def terminate(p, sig=signal.SIGTERM):
    # SIGTERM first: ninja then stops the compilers it runs (each in a process
    # group of its own) and removes their half-written outputs.
    try:
        os.killpg(p.pid, sig)
    except ProcessLookupError:
        pass


def on_signal(signum, _frame):
    if STOP.is_set():
        return  # already stopping: the sources and the build are being put back
    STOP.set()
    with LOCK:
        procs = list(PROCS)
    for p in procs:
        terminate(p)
    raise KeyboardInterrupt(signal.Signals(signum).name)


def run(cmd, cwd, timeout=None, env=None):
    """(exit code or 'timeout', output); the command's whole process group is
    killed on a timeout or an interruption."""
    if STOP.is_set():
        return "stopped", ""
    p = subprocess.Popen(cmd, cwd=cwd, env=env, stdout=subprocess.PIPE,
                         stderr=subprocess.STDOUT, start_new_session=True)
    with LOCK:
        PROCS.add(p)
    try:
        out, _ = p.communicate(timeout=timeout)
        rc = p.returncode
    except subprocess.TimeoutExpired:
        terminate(p)
        try:
            out, _ = p.communicate(timeout=30)
        except subprocess.TimeoutExpired:
            terminate(p, signal.SIGKILL)
            out, _ = p.communicate()
        rc = "timeout"
    finally:
        with LOCK:
            PROCS.discard(p)
    if STOP.is_set():
        return "stopped", ""
    return rc, out.decode("utf-8", "replace")


def git(*args):
    return subprocess.run(["git", "-C", ROOT] + list(args), check=True, capture_output=True,
                          text=True).stdout


# ---------------------------------------------------------------------------
# Workers: a source copy and a build directory each
# ---------------------------------------------------------------------------


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
        targets = sorted({t for _, ts, _, _ in STAGES for t in ts})
        self.log("w%d: building %s in %s" % (self.n, " ".join(targets), self.build))
        rc, out = self.ninja(targets, None, jobs=2)  # workers are set up one at a time
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
        targets = sorted({t for _, ts, _, _ in STAGES for t in ts})
        rc, out = self.ninja(targets, None)
        steps = [line for line in out.splitlines() if re.search(r"\] (Building|Linking)", line)]
        if rc != 0 or steps:
            self.snapshot()
        return steps if rc == 0 else ["build failed: " + out[-500:]]

    def test(self, mut, build_timeout):
        """Builds and tests one mutant; the source and the build are put back."""
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
        build_s = test_s = 0.0
        try:
            with LOCK:
                EDITS[path] = (data, st.st_atime_ns, st.st_mtime_ns)
            with open(path, "wb") as fh:
                fh.write("\n".join(lines).encode("utf-8"))
            built, status, stage, detail = set(), "survived", None, None
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
        finally:
            restore_edits()
            self.restore_build()
        rec.update(status=status, stage=stage, detail=detail, build_s=round(build_s, 2),
                   test_s=round(test_s, 2), seconds=round(time.monotonic() - t0, 2),
                   worker=self.n)
        return rec


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


# ---------------------------------------------------------------------------
# Results, tables, comparison
# ---------------------------------------------------------------------------


def load(path):
    """The header (its count raised by later, larger sessions) and the mutants."""
    header, recs = None, {}
    with open(path) as fh:
        for line in fh:
            line = line.strip()
            if not line:
                continue
            r = json.loads(line)
            if r.get("kind") == "header":
                header = header or dict(r)
            elif r.get("kind") == "session" and header:
                header["count"] = max(header["count"], r.get("count", 0))
            elif r.get("kind") == "mutant":
                recs[r["id"]] = r
    return header, [recs[k] for k in sorted(recs)]


def rate(counts):
    n = sum(counts[s] for s in COUNTED)
    return 100.0 * sum(counts[s] for s in DETECTED) / n if n else 0.0


def table(recs, keyfn, title):
    groups = defaultdict(lambda: defaultdict(int))
    total = defaultdict(int)
    for r in recs:
        groups[keyfn(r)][r["status"]] += 1
        total[r["status"]] += 1
    w = max([len(title)] + [len(k) for k in groups])
    head = "%-*s %8s %6s %8s %7s %10s %7s" % (w, title, "compiled", "killed", "survived",
                                              "timeout", "uncompiled", "rate")
    rows = [head, "-" * len(head)]
    for k in sorted(groups) + ["total"]:
        c = total if k == "total" else groups[k]
        if k == "total":
            rows.append("-" * len(head))
        rows.append("%-*s %8d %6d %8d %7d %10d %6.1f%%" % (
            w, k, sum(c[s] for s in COUNTED), c["killed"], c["survived"], c["timeout"],
            c["uncompiled"] + c["error"], rate(c)))
    return "\n".join(rows)


def summary(recs, survivors=True):
    out = [table(recs, lambda r: r["file"], "file"), "",
           table(recs, lambda r: r["op"], "operator")]
    done = [r for r in recs if r["status"] in STATUSES[:5]]
    if done:
        secs = sorted(r.get("seconds", 0) for r in done)
        mean = sum(secs) / len(secs)
        out.append("\n%d mutants run; time per mutant: mean %.1f s, median %.1f s, max %.1f s "
                   "(build %.1f s, tests %.1f s on average)" % (
                       len(done), mean, secs[len(secs) // 2], secs[-1],
                       sum(r.get("build_s", 0) for r in done) / len(done),
                       sum(r.get("test_s", 0) for r in done) / len(done)))
    by_stage = defaultdict(int)
    for r in recs:
        if r["status"] in DETECTED:
            by_stage[r["stage"]] += 1
    if by_stage:
        out.append("detected by stage: " + ", ".join(
            "%s %d" % (s, by_stage[s]) for s, _, _, _ in STAGES if by_stage[s]))
    if survivors:
        surv = [r for r in recs if r["status"] == "survived"]
        if surv:
            out.append("\nsurvivors (%d):" % len(surv))
            out += ["  " + describe(r) for r in surv]
    return "\n".join(out)


def describe(r):
    return "#%d %s:%d %s: `%s` -> `%s`" % (r["id"], r["file"], r["line"], r["op"],
                                           r["original"].strip(), r["mutated"].strip())


def compare(a_path, b_path):
    _, a = load(a_path)
    _, b = load(b_path)
    bk = {(r["file"], r["op"], r["col"], r["original"], r["mutated"]): r for r in b}
    pairs = []
    for r in a:
        s = bk.get((r["file"], r["op"], r["col"], r["original"], r["mutated"]))
        if s:
            pairs.append((r, s))
    both = [(r, s) for r, s in pairs if r["status"] in COUNTED and s["status"] in COUNTED]
    ca, cb = defaultdict(int), defaultdict(int)
    for r, s in both:
        ca[r["status"]] += 1
        cb[s["status"]] += 1
    print("%d mutants in both files, %d compiled in both" % (len(pairs), len(both)))
    print("kill rate: %s %.1f%% (%d of %d)  ->  %s %.1f%% (%d of %d)" % (
        a_path, rate(ca), ca["killed"] + ca["timeout"], len(both),
        b_path, rate(cb), cb["killed"] + cb["timeout"], len(both)))
    changed = [(r, s) for r, s in pairs
               if (r["status"] in DETECTED) != (s["status"] in DETECTED)
               or (r["status"] in COUNTED) != (s["status"] in COUNTED)]
    if changed:
        print("\nverdicts changed (%d):" % len(changed))
        for r, s in changed:
            print("  %-10s -> %-10s %s" % (r["status"], s["status"], describe(r)))
    missing = len(a) - len(pairs)
    if missing:
        print("\n%d mutants of %s are not in %s" % (missing, a_path, b_path))
    return 0


# ---------------------------------------------------------------------------
# Main
# ---------------------------------------------------------------------------


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


def main():
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--count", type=int, default=400, help="mutants drawn (default 400)")
    ap.add_argument("--files", metavar="REGEX", help="draw only from files matching REGEX")
    ap.add_argument("--out", help="results, JSON lines (default WORKDIR/s<seed>-n<count>.jsonl)")
    ap.add_argument("--resume", action="store_true", help="continue an interrupted --out")
    ap.add_argument("--replay", metavar="JSONL", help="test the mutants of an earlier run")
    ap.add_argument("--jobs", type=int, default=1, help="mutants built and tested at once")
    ap.add_argument("--workdir", default=os.path.join(ROOT, "build-mutate"))
    ap.add_argument("--timeout-factor", type=float, default=10.0,
                    help="a test stage times out after this many times its unmutated time")
    ap.add_argument("--min-timeout", type=float, default=30.0, help="seconds (default 30)")
    ap.add_argument("--build-timeout", type=float, default=1800.0)
    ap.add_argument("--list", action="store_true", help="print the sample and stop")
    ap.add_argument("--report", metavar="JSONL", help="print the tables of a results file")
    ap.add_argument("--compare", nargs=2, metavar=("A", "B"),
                    help="kill rate of A and B on their common mutants, and changed verdicts")
    args = ap.parse_args()

    if args.compare:
        return compare(*args.compare)
    if args.report:
        header, recs = load(args.report)
        if header:
            print("seed %s, count %s%s" % (header.get("seed"), header.get("count"),
                                           ", replay of " + header["replay"]
                                           if header.get("replay") else ""))
        print(summary(recs))
        return 0

    if git("status", "--porcelain", "--", "src"):
        sys.exit("mutate: src/ has uncommitted changes; commit or stash them first")
    status_before = git("status", "--porcelain")
    src_tree = git("rev-parse", "HEAD:src").strip()

    if args.list:
        sample, pool = draw_sample(ROOT, args.seed, args.count, args.files)
        for m in sample:
            print(describe(m))
        print("%d mutants from %d lines with a mutation" % (len(sample), pool),
              file=sys.stderr)
        return 0

    workdir = os.path.abspath(args.workdir)
    lock = acquire_lock(workdir)
    signal.signal(signal.SIGINT, on_signal)
    signal.signal(signal.SIGTERM, on_signal)
    workers, threads = [], []
    out_path = os.path.abspath(args.out or os.path.join(
        workdir, "s%d-n%d.jsonl" % (args.seed, args.count)))
    try:
        if args.replay:
            _, old = load(args.replay)
            sample = replay_sample(ROOT, old)
        else:
            sample, _ = draw_sample(ROOT, args.seed, args.count, args.files)
        header = {"kind": "header", "seed": None if args.replay else args.seed,
                  "count": len(sample), "files": args.files,
                  "replay": os.path.relpath(args.replay, ROOT) if args.replay else None,
                  "src_tree": src_tree, "head": git("rev-parse", "HEAD").strip(),
                  "stages": [[n, exe, a] for n, _, exe, a in STAGES],
                  "cmake": CMAKE_OPTIONS}
        done = set()
        if os.path.exists(out_path):
            if not args.resume:
                sys.exit("mutate: %s exists; --resume continues it" % out_path)
            old_header, recs = load(out_path)
            for k in ("seed", "count", "files", "replay", "src_tree"):
                if old_header and old_header.get(k) != header[k]:
                    # A larger --count extends a seeded sample: its first
                    # mutants are the ones already run.
                    if k == "count" and not args.replay and header[k] > old_header[k]:
                        continue
                    sys.exit("mutate: %s was run with %s=%s, not %s" % (
                        out_path, k, old_header.get(k), header[k]))
            done = {r["id"] for r in recs}
        else:
            with open(out_path, "w") as fh:
                fh.write(json.dumps(header) + "\n")
        todo = [m for m in sample if m["id"] not in done]
        log = lambda s: print(s, flush=True)
        log("mutate: %d mutants, %d to run, results in %s" % (len(sample), len(todo), out_path))
        if not todo:
            print(summary(load(out_path)[1]))
            return 0

        files = tracked_files()
        jobs = max(1, min(args.jobs, len(todo)))
        for n in range(jobs):
            w = Worker(workdir, n, max(1, 2 // jobs), log)
            w.setup(files, args.timeout_factor, args.min_timeout)
            log("w%d: unmutated tests %s s; time limits %s s" % (
                n, w.unmutated, {k: round(v) for k, v in w.timeouts.items()}))
            workers.append(w)
        with open(out_path, "a") as fh:
            fh.write(json.dumps({
                "kind": "session", "started": time.strftime("%Y-%m-%d %H:%M:%S"),
                "count": len(sample), "unmutated_s": workers[0].unmutated,
                "timeouts_s": {k: round(v, 1) for k, v in workers[0].timeouts.items()},
                "jobs": jobs}) + "\n")

        pending = queue.Queue()
        for m in todo:
            pending.put(m)
        progress = [len(done)]

        def work(w):
            while not STOP.is_set():
                try:
                    m = pending.get_nowait()
                except queue.Empty:
                    return
                rec = w.test(m, args.build_timeout)
                if rec is None or STOP.is_set():
                    return
                w.done += 1
                if w.done % 25 == 0:
                    steps = w.rebuilt()
                    if steps:
                        log("mutate: warning: w%d had stale outputs:\n  %s" % (
                            w.n, "\n  ".join(steps)))
                rec["kind"] = "mutant"
                with LOCK:
                    with open(out_path, "a") as fh:
                        fh.write(json.dumps(rec) + "\n")
                        fh.flush()
                        os.fsync(fh.fileno())
                    progress[0] += 1
                    log("[%d/%d] %-10s %-6s %s:%d %s (%.0f s)" % (
                        progress[0], len(sample), rec["status"], rec.get("stage") or "",
                        rec["file"], rec["line"], rec["op"], rec.get("seconds", 0)))

        for w in workers:
            t = threading.Thread(target=work, args=(w,), daemon=True)
            t.start()
            threads.append(t)
        while any(t.is_alive() for t in threads):
            for t in threads:
                t.join(0.5)
        for w in workers:
            steps = w.rebuilt()
            if steps:
                log("mutate: warning: %s had stale outputs after the run:\n  %s" % (
                    w.build, "\n  ".join(steps)))
        print()
        print(summary(load(out_path)[1]))
        return 0
    except KeyboardInterrupt as e:
        STOP.set()
        print("\nmutate: interrupted (%s); the finished mutants are in the results file; "
              "--resume continues" % (e or "SIGINT"), file=sys.stderr)
        return 130
    finally:
        STOP.set()
        for t in threads:
            t.join(60)
        with LOCK:
            procs = list(PROCS)
        for p in procs:
            try:
                p.wait(30)
            except subprocess.TimeoutExpired:
                terminate(p, signal.SIGKILL)
        restore_edits()
        for w in workers:
            if hasattr(w, "manifest"):
                w.restore_build()
        os.remove(lock)
        # The tool writes only below WORKDIR and to --out; anything else that
        # changed in the work tree was changed by someone else meanwhile.
        out_rel = os.path.relpath(out_path, ROOT)
        extra = sorted(set(git("status", "--porcelain").splitlines()) -
                       set(status_before.splitlines()))
        extra = [e for e in extra if e[3:] != out_rel and not out_rel.startswith(e[3:])]
        if git("status", "--porcelain", "--", "src"):
            print("mutate: error: src/ in the work tree has changes", file=sys.stderr)
        elif extra:
            print("mutate: note: the work tree changed during the run (not by this tool):\n  "
                  + "\n  ".join(extra), file=sys.stderr)


if __name__ == "__main__":
    sys.exit(main())
