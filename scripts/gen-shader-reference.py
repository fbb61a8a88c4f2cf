#!/usr/bin/env python3
"""Writes docs/shader-reference.md from what the built library itself declares.

Runs `vesper-info --json` (which loads the library as a host does) and renders every
class: kind, capability mask, every parameter in registration order with type,
default and meaning, and the vertex attributes. The prose comes from
docs/shader-notes.json: a paragraph per class, a meaning per parameter, and the
parameter blocks several classes share (described once, listed with every class
that has them). The meaning of a node parameter of a generated Ward variant is
composed from its node's parameter and its place in the graph.

A constructor that left a field unset would show whatever the heap held, so
vesper-info runs twice with fresh allocations filled with two different byte
patterns; a field that reads differently in the two runs is listed as unset.

    scripts/gen-shader-reference.py [--vesper-info PATH] [--output FILE]
    scripts/gen-shader-reference.py --check     # fails when the file is not current,
                                                # or a class or parameter has no text
"""
import argparse
import difflib
import json
import os
import re
import struct
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_OUTPUT = os.path.join(ROOT, "docs", "shader-reference.md")
NOTES = os.path.join(ROOT, "docs", "shader-notes.json")
WARD_NODE_TYPES = ("Noise", "Tile", "UnifiedBitmap")

CAPABILITY_BITS = [
    (1, "shade"),
    (2, "shadowTransmission"),
    (4, "evaluateBsdf"),
    (8, "sampleBsdf"),
    (32, "light"),
    (64, "environment"),
]
KIND_SECTIONS = [("material", "Materials"), ("light", "Lights"), ("environment", "Environments")]
UNSET = "*unset*"


class Notes:
    """Class paragraphs and parameter meanings, with the problems found on the way."""

    def __init__(self, data):
        self.blocks = data.get("blocks", {})
        self.classes = data.get("classes", {})
        self.nodes = data.get("wardNodes", {})
        self.problems = []
        self.used = set()

    def text(self, cls):
        note = self.classes.get(cls)
        if not note or not note.get("text"):
            self.problems.append("%s: no class paragraph" % cls)
            return ""
        return note["text"]

    def block_ids(self, cls):
        ids = self.classes.get(cls, {}).get("blocks", [])
        for b in ids:
            if b not in self.blocks:
                self.problems.append("%s: unknown block %s" % (cls, b))
        return [b for b in ids if b in self.blocks]

    def meaning(self, cls, name):
        note = self.classes.get(cls, {})
        if name in note.get("parameters", {}):
            self.used.add((cls, name))
            return note["parameters"][name], None
        for b in self.block_ids(cls):
            block = self.blocks[b]
            if name in block.get("parameters", {}):
                self.used.add((b, name))
                return block["parameters"][name], b
        for b in self.block_ids(cls):
            for pattern, template in self.blocks[b].get("patterns", {}).items():
                regex = "^" + re.escape(pattern).replace(re.escape("{ch}"), "(?P<ch>[a-z][A-Za-z0-9]*?)") + "$"
                m = re.match(regex, name)
                if not m:
                    continue
                channels = dict(self.blocks[b].get("channels", {}))
                channels.update(note.get("channels", {}))
                if m.group("ch") in channels:
                    self.used.add((b, pattern))
                    return template.format(ch=channels[m.group("ch")]), b
        if name.startswith("_ward_"):
            text = self.node_meaning(name)
            if text:
                return text, "ward-nodes"
        self.problems.append("%s: parameter %s has no meaning" % (cls, name))
        return "", None

    def node_meaning(self, name):
        """A node parameter: _ward_<input>_<Node>[_<slot>_<Node>...]_<parameter>."""
        tokens = name[len("_ward_"):].split("_")
        first = next((i for i, t in enumerate(tokens) if t in WARD_NODE_TYPES), None)
        if first is None or first == 0:
            return None
        graph_input = "_".join(tokens[:first])
        chain = tokens[first:-1]
        parameter = tokens[-1]
        if len(chain) % 2 != 1 or any(t not in WARD_NODE_TYPES for t in chain[::2]):
            return None
        node = chain[-1]
        what = self.nodes.get("parameters", {}).get(node, {}).get(parameter)
        target = self.nodes.get("inputs", {}).get(graph_input)
        if not what or not target:
            return None
        self.used.add(("ward-nodes", node + "." + parameter))
        where = "`%s`, %s" % (graph_input, target)
        for i in range(0, len(chain) - 1, 2):
            where = "%s of the %s node on %s" % (chain[i + 1], chain[i], where)
        return "%s (%s node on %s)" % (what, node, where)

    def stale(self, classes):
        """Entries of the notes that name no class or parameter of the library."""
        names = {c["name"]: {p["name"] for p in c["parameters"]} for c in classes}
        for cls, note in self.classes.items():
            if cls not in names:
                self.problems.append("notes name the class %s, which the library does not export" % cls)
                continue
            for p in note.get("parameters", {}):
                if p not in names[cls]:
                    self.problems.append("notes name %s.%s, which the class does not declare" % (cls, p))
        for b, block in self.blocks.items():
            for p in block.get("parameters", {}):
                if (b, p) not in self.used:
                    self.problems.append("block %s: %s matches no parameter" % (b, p))


def block_anchor(notes, b):
    return anchor(notes.blocks[b]["title"]).replace(" ", "-").replace(",", "").replace("(", "").replace(")", "")


def cell(text):
    return text.replace("|", "\\|").replace("\n", " ")


def run_vesper_info(program, perturb):
    env = dict(os.environ)
    # glibc fills each fresh allocation with perturb ^ 0xff; the per-thread cache
    # would hand back freed blocks unfilled, so it is off.
    env["MALLOC_PERTURB_"] = str(perturb)
    env["GLIBC_TUNABLES"] = "glibc.malloc.tcache_count=0"
    out = subprocess.run([program, "--json"], env=env, check=True, stdout=subprocess.PIPE).stdout
    return json.loads(out)["classes"]


def merge_runs(first, second):
    """Classes of the first run, with defaults that differ between runs marked unset."""
    if [c["name"] for c in first] != [c["name"] for c in second]:
        sys.exit("gen-shader-reference: the two vesper-info runs list different classes")
    for a, b in zip(first, second):
        for pa, pb in zip(a["parameters"], b["parameters"]):
            if pa["default"] != pb["default"]:
                pa["default"] = None
    return first


def capability_text(mask):
    names = [name for bit, name in CAPABILITY_BITS if mask & bit]
    return "%d (%s)" % (mask, ", ".join(names)) if names else str(mask)


def anchor(name):
    return name.lower()


def float_text(x):
    """A float as vesper-info prints it: the single-precision value to 9 digits."""
    return "%.9g" % struct.unpack("f", struct.pack("f", x))[0]


def default_text(param):
    """The typed default of `vesper-info --json` in the text form of its plain output."""
    value, kind = param["default"], param["type"]
    if value is None:
        return UNSET
    if kind == "bool":
        text = "true" if value else "false"
    elif kind == "int":
        text = str(value)
    elif kind.startswith("texture"):
        text = "texture(%s, %d)" % ("bound" if value["bound"] else "null", value["id"])
    elif isinstance(value, list):
        text = "(%s)" % ", ".join(float_text(x) for x in value)
    else:
        text = float_text(value)
    return "`%s`" % text


def render(classes, notes):
    lines = []
    add = lines.append
    versions = sorted({c["apiVersion"] for c in classes})
    counts = {kind: sum(1 for c in classes if c["kind"] == kind) for kind, _ in KIND_SECTIONS}
    add("# Shader reference")
    add("")
    add("<!-- Generated by scripts/gen-shader-reference.py from `vesper-info --json` and")
    add("     docs/shader-notes.json. Do not edit: edit the notes or rebuild, then run the script.")
    add("     CI fails when this file is not current or a parameter has no meaning. -->")
    add("")
    add(
        "Every class the library exports, as it declares itself to a host's parameter registry: "
        "%d classes (%d materials, %d lights, %d environments), API version %s."
        % (
            len(classes),
            counts["material"],
            counts["light"],
            counts["environment"],
            ", ".join(str(v) for v in versions),
        )
    )
    add("")
    add(
        "Parameters are listed in registration order, which is also the order of the "
        "`declare*` calls a registry receives. Types name the registry operation: bool, int, "
        "float, float2, float3, float4, matrix3, matrix4, texture2D, textureCube, textureB. "
        "Defaults are what `<Class>_create` leaves in the field: every parameter has one, "
        "matrices start as the identity, and a texture default `texture(null, -1)` is a handle "
        "with no texture object. Colours are linear RGB; angles are radians unless a meaning says "
        "otherwise. Attribute offsets are byte offsets inside `ShadingState::attributes`; see "
        "[host-integration.md](host-integration.md) for what the host does with each item, and "
        "its section 7 for the units of `shade` and of the BSDF operations."
    )
    add("")
    add("| class | kind | capabilities | parameters | attributes |")
    add("|---|---|---|---|---|")
    for c in classes:
        add(
            "| [`%s`](#%s) | %s | %s | %d | %s |"
            % (
                c["name"],
                anchor(c["name"]),
                c["kind"],
                capability_text(c["capabilities"]),
                len(c["parameters"]),
                ", ".join(a["name"] for a in c["attributes"]) or "none",
            )
        )
    add("")
    add("## Shared parameter blocks")
    add("")
    add("Groups of parameters that several classes carry with the same meaning. Each class lists")
    add("them among its own parameters, in its registration order.")
    for b, block in notes.blocks.items():
        add("")
        add("### " + block["title"])
        add("")
        add(block["text"])
    known = {kind for kind, _ in KIND_SECTIONS}
    sections = KIND_SECTIONS + [("unknown", "Classes of unknown kind")]
    for kind, title in sections:
        members = [c for c in classes if c["kind"] == kind or (kind == "unknown" and c["kind"] not in known)]
        if not members:
            continue
        add("")
        add("## " + title)
        for c in members:
            add("")
            add("### " + c["name"])
            add("")
            add(
                "Kind: %s. Capabilities: %s. API version: %d."
                % (c["kind"], capability_text(c["capabilities"]), c["apiVersion"])
            )
            add("")
            add(notes.text(c["name"]))
            blocks = notes.block_ids(c["name"])
            if blocks:
                add("")
                add(
                    "Shared blocks: %s."
                    % ", ".join("[%s](#%s)" % (notes.blocks[b]["title"].lower(), block_anchor(notes, b)) for b in blocks)
                )
            add("")
            if c["parameters"]:
                add("| # | parameter | type | default | meaning |")
                add("|---|---|---|---|---|")
                for i, p in enumerate(c["parameters"], 1):
                    meaning, _ = notes.meaning(c["name"], p["name"])
                    add(
                        "| %d | `%s` | %s | %s | %s |"
                        % (i, p["name"], p["type"], default_text(p), cell(meaning))
                    )
            else:
                add("No parameters.")
            if c["attributes"]:
                add("")
                add("| vertex attribute | kind | offset |")
                add("|---|---|---|")
                for a in c["attributes"]:
                    add("| `%s` | %s | %d |" % (a["name"], a["kind"], a["offset"]))
    notes.stale(classes)
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    build_dir = os.environ.get("BUILD_DIR", "build")
    parser.add_argument("--vesper-info", default=os.path.join(ROOT, build_dir, "vesper-info"))
    parser.add_argument("--output", default=DEFAULT_OUTPUT)
    parser.add_argument("--check", action="store_true", help="compare instead of writing")
    args = parser.parse_args()
    if not os.access(args.vesper_info, os.X_OK):
        sys.exit("gen-shader-reference: no %s: build first (scripts/build.sh) or pass --vesper-info" % args.vesper_info)

    # Fills of 0x00 and 0xfe: an unset bool reads false in one run and true in the other.
    with open(NOTES) as f:
        notes = Notes(json.load(f))
    text = render(merge_runs(run_vesper_info(args.vesper_info, 0xFF), run_vesper_info(args.vesper_info, 0x01)), notes)
    if notes.problems:
        for problem in notes.problems:
            print("gen-shader-reference: " + problem, file=sys.stderr)
        print("gen-shader-reference: %d problems in %s" % (len(notes.problems), os.path.relpath(NOTES, ROOT)), file=sys.stderr)
        return 1
    if not args.check:
        with open(args.output, "w") as f:
            f.write(text)
        return 0
    try:
        with open(args.output) as f:
            current = f.read()
    except FileNotFoundError:
        current = ""
    if current == text:
        print("shader reference is current")
        return 0
    rel = os.path.relpath(args.output, ROOT)
    sys.stdout.writelines(difflib.unified_diff(current.splitlines(True), text.splitlines(True), rel, "regenerated"))
    print("%s is not current: rebuild and run scripts/gen-shader-reference.py" % rel, file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main())
