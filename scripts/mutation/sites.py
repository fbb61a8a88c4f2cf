"""Mutation sites: which lines of src/ can be mutated, and how.

A line is read with its comments blanked and its string contents masked, so that
operators match code only; each operator family yields (operator, start, end,
replacement) for the places on a line where it applies."""
import os
import re

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
