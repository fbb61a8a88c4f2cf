"""The example scripts run against the module as it is, at a small size."""
import os
import subprocess
import sys

EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples",
                        "python")


def test_examples_write_their_figures(tmp_path):
    runs = [["lobes.py", "--samples", "1000"],
            ["wedge_sheet.py", "--width", "24", "--height", "18", "--spp", "1"]]
    for argv in runs:
        out = tmp_path / (argv[0] + ".png")
        subprocess.run([sys.executable, os.path.join(EXAMPLES, argv[0]), "--out", str(out)]
                       + argv[1:], check=True, capture_output=True)
        assert out.stat().st_size > 1000
