#!/usr/bin/env python3
"""How scripts/shader_notes.py finds a parameter's meaning, on small notes of its own."""
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
from shader_notes import Notes  # noqa: E402

NOTES = {
    "blocks": {
        "b": {
            "parameters": {"shared": "from the block", "blank": ""},
            "patterns": {
                "{ch}Gain": "gain of the {ch} ({ch} only) {kept}",
                "{ch}To{ch}": "{ch} to itself",
                "fixed": "a pattern without a channel",
            },
            "channels": {"red": "red channel"},
        },
    },
    "wardNodes": {
        "inputs": {"diffuse_color": "the diffuse colour"},
        "parameters": {"Noise": {"size": "feature size"}, "Tile": {"holes": "hole density"}},
    },
    "classes": {"C": {"text": "t", "blocks": ["b"], "parameters": {"own": "its own", "shared": ""},
                      "channels": {"green": "green channel"}}},
}

# Parameter of class C, its meaning ("": none, which the reference check reports).
CASES = [
    ("own", "its own"),
    ("shared", "from the block"),
    ("blank", ""),
    ("redGain", "gain of the red channel (red channel only) {kept}"),
    ("greenGain", "gain of the green channel (green channel only) {kept}"),
    ("blueGain", ""),
    ("redTored", "red channel to itself"),
    ("redTogreen", ""),
    ("fixed", ""),
    ("constructor", ""),
    ("_ward_diffuse_color_Noise_size", "feature size (Noise node on `diffuse_color`, the diffuse colour)"),
    ("_ward_diffuse_color_Noise_source1_Tile_holes",
     "hole density (Tile node on source1 of the Noise node on `diffuse_color`, the diffuse colour)"),
    ("_ward_diffuse_color_Noise_a_b_c_Tile_holes", ""),
    ("_ward_normal_Noise_size", ""),
]


class Meaning(unittest.TestCase):
    def test_cases(self):
        for name, expected in CASES:
            with self.subTest(name):
                notes = Notes(NOTES)
                self.assertEqual(notes.meaning("C", name)[0], expected)
                self.assertEqual(notes.problems, [] if expected else ["C: parameter %s has no meaning" % name])


if __name__ == "__main__":
    unittest.main()
