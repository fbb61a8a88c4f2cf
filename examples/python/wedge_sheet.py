#!/usr/bin/env python3
"""Renders every frame of a wedge (one value of one material parameter per frame)
with the reference host and lays them out as a labelled contact sheet.

  PYTHONPATH=<where vesper is> python3 wedge_sheet.py [--scene FILE.json] [--out sheet.png]
      [--width N] [--height N] [--spp N] [--columns N]

Without --scene, a sphere of corvid_Mtl_Ward over a shadow-catching floor, its
roughness from 0.02 to 0.5.
"""
import argparse
import json
import os

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402
import vesper  # noqa: E402

SCENE = {
    "render": {"width": 200, "height": 150, "spp": 16},
    "camera": {"position": [0, -5, 1.6], "target": [0, 0, 0.8], "fov": 30},
    "ambient": [0.05, 0.05, 0.06],
    "background": [0.3, 0.32, 0.36],
    "objects": [
        {"name": "ball", "type": "sphere", "radius": 0.8, "translate": [0, 0, 0.8],
         "material": {"class": "corvid_Mtl_Ward",
                      "params": {"u_diffuseColor": [0.45, 0.08, 0.04],
                                 "u_brdfCurvePower": 5, "u_brdf00Reflectivity": 0.04,
                                 "u_brdf90Reflectivity": 1, "u_reflectGlossyValue": 0.1}}},
        {"type": "plane", "size": [20, 20], "material": {"class": "corvid_Mtl_ShadowPlane"}},
    ],
    "lights": [{"position": [-3, -4, 5], "intensity": 60},
               {"position": [4, -1, 3], "intensity": 15, "color": [0.6, 0.7, 1.0]}],
    "wedge": {"object": "ball", "parameter": "u_roughValue", "range": [0.02, 0.5], "count": 8},
}


def wedge_values(scene):
    w = scene["wedge"]
    if "values" in w:
        return w["values"]
    first, last = w["range"]
    return list(np.linspace(first, last, w["count"]))


def to_srgb(linear):
    c = np.clip(linear, 0, 1)
    return np.where(c <= 0.0031308, 12.92 * c, 1.055 * c ** (1 / 2.4) - 0.055)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--scene")
    parser.add_argument("--out", default="wedge.png")
    parser.add_argument("--width", type=int)
    parser.add_argument("--height", type=int)
    parser.add_argument("--spp", type=int)
    parser.add_argument("--columns", type=int, default=4)
    args = parser.parse_args()
    scene = SCENE
    if args.scene:
        with open(args.scene) as f:
            scene = json.load(f)
    values = wedge_values(scene)
    lib = vesper.Library()
    options = {k: v for k, v in vars(args).items() if k in ("width", "height", "spp") and v}
    rows = -(-len(values) // args.columns)
    fig, axes = plt.subplots(rows, args.columns, figsize=(2.6 * args.columns, 2.2 * rows),
                             squeeze=False)
    for frame, ax in enumerate(axes.flat):
        ax.axis("off")
        if frame >= len(values):
            continue
        # A scene file finds its textures and meshes beside it.
        source = os.path.abspath(args.scene) if args.scene else scene
        pixels = lib.render(source, frame=frame, **options)
        ax.imshow(to_srgb(pixels[:, :, :3]))
        ax.set_title("%s = %.3g" % (scene["wedge"]["parameter"], values[frame]), fontsize=9)
        print("frame %d of %d" % (frame + 1, len(values)), flush=True)
    fig.tight_layout()
    fig.savefig(args.out, dpi=90)
    print(args.out)


if __name__ == "__main__":
    main()
