"""Samples of mutants: drawn from a seed, or replayed from an earlier results file."""
import os
import random
import re

from .sites import candidates, eligible, mask_code, read_lines, source_files


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
