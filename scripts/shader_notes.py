#!/usr/bin/env python3
"""The text of every class and parameter, from docs/shader-notes.json.

A class has a paragraph; a parameter's meaning is, in this order, the class's
own entry, an entry of a block the class carries, a block pattern whose {ch}
names one of the channels of the block or the class, or, for a node parameter
of a generated Ward variant, its node's parameter and its place in the graph.
The shader reference (scripts/gen-shader-reference.py) and vesper-studio's page
take their text from here.

Run as a script at build time, it writes what the studio's page embeds: every
class of the library `vesper-info --json` describes, with its paragraph and the
meaning of each parameter, and the titles of the kinds in the order the
reference lists them.

    scripts/shader_notes.py --vesper-info PATH --output FILE
"""
import argparse
import json
import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
NOTES = os.path.join(ROOT, "docs", "shader-notes.json")
WARD_NODE_TYPES = ("Noise", "Tile", "UnifiedBitmap")
KIND_SECTIONS = [("material", "Materials"), ("light", "Lights"), ("environment", "Environments")]
CHANNEL = "{ch}"


def pattern_regex(pattern):
    """A block pattern as a regular expression: every {ch} stands for the same channel."""
    parts = [re.escape(p) for p in pattern.split(CHANNEL)]
    groups = ["(?P<ch>[a-z][A-Za-z0-9]*?)"] + ["(?P=ch)"] * (len(parts) - 2)
    return re.compile("^" + parts[0] + "".join(g + p for g, p in zip(groups, parts[1:])) + "$")


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
        """The meaning of parameter `name` and the block it comes from (None: the class's own)."""
        note = self.classes.get(cls, {})
        if note.get("parameters", {}).get(name):
            self.used.add((cls, name))
            return note["parameters"][name], None
        blocks = self.block_ids(cls)
        for b in blocks:
            text = self.blocks[b].get("parameters", {}).get(name)
            if text:
                self.used.add((b, name))
                return text, b
        for b in blocks:
            text = self.pattern_meaning(b, note.get("channels", {}), name)
            if text:
                return text, b
        if name.startswith("_ward_"):
            text = self.node_meaning(name)
            if text:
                return text, "ward-nodes"
        self.problems.append("%s: parameter %s has no meaning" % (cls, name))
        return "", None

    def pattern_meaning(self, b, class_channels, name):
        block = self.blocks[b]
        channels = dict(block.get("channels", {}))
        channels.update(class_channels)
        for pattern, template in block.get("patterns", {}).items():
            m = pattern_regex(pattern).match(name)
            if m and channels.get(m.groupdict().get("ch")):
                self.used.add((b, pattern))
                return template.replace(CHANNEL, channels[m.group("ch")])
        return None

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


def load_notes(path=NOTES):
    with open(path, encoding="utf-8") as f:
        return Notes(json.load(f))


def vesper_info_classes(program, env=None):
    """The classes `vesper-info --json` describes."""
    out = subprocess.run([program, "--json"], env=env, check=True, stdout=subprocess.PIPE).stdout
    return json.loads(out)["classes"]


def page_notes(classes, notes):
    """What the studio's page shows of the notes: kind titles, class paragraphs, meanings."""
    resolved = {}
    for c in classes:
        meanings = {p["name"]: notes.meaning(c["name"], p["name"])[0] for p in c["parameters"]}
        resolved[c["name"]] = {"text": notes.text(c["name"]), "parameters": meanings}
    return {"kinds": [list(k) for k in KIND_SECTIONS], "classes": resolved}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--vesper-info", required=True)
    parser.add_argument("--notes", default=NOTES)
    parser.add_argument("--output", required=True)
    args = parser.parse_args()
    # Missing text is the shader reference check's to report; the page shows what there is.
    data = page_notes(vesper_info_classes(args.vesper_info), load_notes(args.notes))
    with open(args.output, "w", encoding="utf-8") as f:
        json.dump(data, f, ensure_ascii=False, separators=(",", ":"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
