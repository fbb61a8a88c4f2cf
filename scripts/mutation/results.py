"""Results files (JSON lines: a header, a session record per run, a record per
mutant), their tables and the comparison of two of them."""
import json
from collections import defaultdict

from .worker import STAGES

DETECTED = ("killed", "timeout")
COUNTED = ("killed", "survived", "timeout")
STATUSES = ("killed", "survived", "timeout", "uncompiled", "error", "gone")


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


def identity(r):
    """What pairs a mutant across results files; a re-located mutant answers
    for the one it was re-located from."""
    was = r.get("relocated", r)
    return (r["file"], r["op"], was["col"], was["original"], was["mutated"])


def compare(a_path, b_path):
    _, a = load(a_path)
    _, b = load(b_path)
    bk = {identity(r): r for r in b}
    pairs = []
    for r in a:
        s = bk.get(identity(r))
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
