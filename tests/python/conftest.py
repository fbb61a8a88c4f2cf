"""Shared fixtures: the library this build made, and the tools the tests compare with
(their paths come from ctest's environment)."""
import os

import numpy as np
import pytest
import vesper


# A small scene with a wedge of two frames, for the render tests.
SCENE = {
    "render": {"width": 40, "height": 30, "spp": 2},
    "objects": [
        {"name": "ball", "type": "sphere", "segments": 16,
         "material": {"class": "corvid_Mtl_Ward", "params": {"u_roughValue": 0.2}}},
        {"type": "plane", "material": {"class": "corvid_Mtl_ShadowPlane"}},
    ],
    "lights": [{"position": [2, -3, 4]},
               {"class": "qzPointLight", "position": [-3, -2, 3],
                "params": {"attenuationFactors": [20, 2, 0]}}],
    "wedge": {"object": "ball", "parameter": "u_roughValue", "values": [0.05, 0.4]},
}


def sphere_directions(n):
    """n unit vectors spread evenly over the sphere (a Fibonacci spiral)."""
    i = np.arange(n) + 0.5
    z = 1 - 2 * i / n
    r = np.sqrt(1 - z * z)
    phi = np.pi * (3 - np.sqrt(5)) * np.arange(n)
    return np.stack([r * np.cos(phi), r * np.sin(phi), z], axis=1).astype(np.float32)


@pytest.fixture(scope="session")
def lib():
    return vesper.Library()


def tool(name):
    """The path ctest gives in VESPER_<NAME>; the test is skipped without one."""
    path = os.environ.get("VESPER_" + name.upper())
    if not path:
        pytest.skip("VESPER_%s is not set (run through ctest)" % name.upper())
    return path
