"""vesper.render against vesper-render: the same scene, options and seed give the
same pixels, bit for bit; progress and Ctrl-C."""
import json
import subprocess
import sys
import textwrap

import numpy as np
import pytest
import vesper
from conftest import SCENE, tool

# Keyword arguments of vesper.render, and the same as vesper-render options.
CASES = [
    ({"seed": 5}, ["--seed", "5"]),
    ({"mode": "path", "spp": 3, "frame": 1, "threads": 1},
     ["--mode", "path", "--spp", "3", "--frame", "1", "--threads", "1"]),
    ({"region": (8, 4, 30, 20), "width": 48, "seed": 9},
     ["--region", "8,4,30,20", "--width", "48", "--seed", "9"]),
]


@pytest.fixture(scope="module")
def scene_file(tmp_path_factory):
    path = tmp_path_factory.mktemp("scene") / "wedge.json"
    path.write_text(json.dumps(SCENE))
    return path


@pytest.mark.parametrize("options,argv", CASES)
def test_render_gives_vesper_renders_pixels(lib, scene_file, tmp_path, options, argv):
    out = tmp_path / "out.exr"
    # A region is written as 32-bit floats; the whole frame as a region of itself.
    if "region" not in options:
        argv = argv + ["--region", "0,0,40,30"]
    subprocess.run([tool("render"), "--library", lib.path, "--scene", str(scene_file),
                    "--out", str(out)] + argv, check=True, capture_output=True)
    expected = vesper.read_image(str(out))
    from_file = lib.render(scene_file, **options)
    from_dict = vesper.render(SCENE, library=lib, **options)
    assert from_file.dtype == np.float32 and from_file.shape == expected.shape
    assert np.array_equal(from_file, expected)
    assert np.array_equal(from_dict, expected)


def test_progress_reaches_every_tile_and_its_exceptions_stop_the_render(lib):
    seen = []
    lib.render(SCENE, progress=lambda done, total: seen.append((done, total)))
    assert seen and seen[-1] == (6, 6) and seen == sorted(seen)

    def fail(done, total):
        raise RuntimeError("stop here")

    with pytest.raises(RuntimeError, match="stop here"):
        lib.render(SCENE, width=400, height=300, spp=64, progress=fail)


def test_ctrl_c_interrupts_a_render_and_the_interpreter_goes_on(tmp_path):
    script = textwrap.dedent("""
        import os, signal, threading, vesper, json, sys
        scene = json.loads(sys.argv[1])
        lib = vesper.Library()
        threading.Timer(0.5, os.kill, (os.getpid(), signal.SIGINT)).start()
        try:
            lib.render(scene, width=2000, height=2000, spp=512)
        except KeyboardInterrupt:
            print("interrupted", lib.render(scene).shape)
    """)
    done = subprocess.run([sys.executable, "-c", script, json.dumps(SCENE)], capture_output=True,
                          text=True, timeout=60)
    assert done.stdout.strip() == "interrupted (30, 40, 4)", done.stderr
