"""Samples of mutants: drawn from a seed, or replayed from an earlier results file."""
import difflib
import os
import random
import re
import subprocess

from . import ROOT
from .sites import candidates, eligible, mask_code, read_lines, source_files


# How alike (difflib's ratio, stripped) a changed line must be to the original
# line for a mutant to move there.
MIN_LIKENESS = 0.6


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


def replay_sample(tree, records, sample_tree=None):
    """The mutants of an earlier results file, found again by their line's text
    (the nearest line with that text when lines have moved). With `sample_tree`,
    the git tree of src/ the records were run on, a mutant whose line text is
    gone is re-located (relocate); otherwise, or without a place, it is gone."""
    sample = []
    for r in records:
        m = {k: r[k] for k in ("file", "line", "op", "col", "original", "mutated")}
        if "relocated" in r:
            m["relocated"] = r["relocated"]
        m["id"] = len(sample)
        path = os.path.join(tree, m["file"])
        lines = read_lines(path) if os.path.exists(path) else []
        hits = [i + 1 for i, t in enumerate(lines) if t == m["original"]]
        if hits:
            m["line"] = min(hits, key=lambda n: abs(n - r["line"]))
        else:
            moved = relocate(m, lines, git_lines(sample_tree, m["file"])) if sample_tree else None
            if moved:
                m.update(moved)
            else:
                m["gone"] = True
        sample.append(m)
    return sample


def git_lines(src_tree, path):
    """The lines of `path` (under src/) in the git tree `src_tree`; none when the
    tree or the file is not there."""
    rel = os.path.relpath(path, "src")
    out = subprocess.run(["git", "-C", ROOT, "show", "%s:%s" % (src_tree, rel)],
                         capture_output=True)
    return out.stdout.decode("utf-8").split("\n") if out.returncode == 0 else []


def edit(m, lines):
    """The text mutant m replaces and what replaces it, from the operator's own
    candidates on its line in `lines`; None when the line does not offer it."""
    i = m["line"] - 1
    if not 0 <= i < len(lines) or lines[i] != m["original"]:
        return None
    for op, a, b, repl in candidates(lines, mask_code(lines), i):
        if op == m["op"] and a == m["col"] and lines[i][:a] + repl + lines[i][b:] == m["mutated"]:
            return lines[i][a:b], repl
    return None


def relocate(m, lines, sample_lines):
    """A mutant whose line the tree has changed, moved to the line the change
    wrote in its place: of the lines of `lines` that `sample_lines` (the file
    the mutant was run on) does not have, the one most like the original line
    where the same operator makes the same edit; nearest the old line on a tie.
    The fields to update (with `relocated`, the mutant as it was), or None."""
    want = edit(m, sample_lines)
    if not want:
        return None
    old, masked, best = set(sample_lines), mask_code(lines), None
    for i, text in enumerate(lines):
        if text in old or not eligible(masked, i):
            continue
        for cand in candidates(lines, masked, i):
            if cand[0] != m["op"] or (text[cand[1]:cand[2]], cand[3]) != want:
                continue
            like = difflib.SequenceMatcher(None, m["original"].strip(), text.strip()).ratio()
            score = (like, -abs(i + 1 - m["line"]), -cand[1])
            if like >= MIN_LIKENESS and (best is None or score > best[0]):
                best = (score, make_mutant(m["id"], m["file"], i + 1, lines, cand))
    if best is None:
        return None
    moved = {k: best[1][k] for k in ("line", "col", "original", "mutated")}
    moved["relocated"] = m.get("relocated") or {k: m[k] for k in moved}
    return moved
