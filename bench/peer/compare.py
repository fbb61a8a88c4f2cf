# Error of renders against a reference, in Blender's Python (no other image
# library needed):
#   blender -b --factory-startup --python compare.py -- REF.exr IMG.exr [IMG.exr ...]
# Prints "rms FILE ABSOLUTE RELATIVE MEAN" per image: the root mean square of the
# RGB difference over every pixel, that divided by the reference's mean RGB value,
# and the image's mean RGB value over the reference's.
# With --png DIR it also writes an sRGB PNG of each image there.
import array
import math
import os
import sys

import bpy

args = sys.argv[sys.argv.index("--") + 1:]
png_dir = None
if args and args[0] == "--png":
    png_dir, args = args[1], args[2:]


def load(path):
    img = bpy.data.images.load(os.path.abspath(path))
    w, h = img.size
    buf = array.array("f", bytes(4 * 4 * w * h))
    img.pixels.foreach_get(buf)
    if png_dir:
        scene = bpy.context.scene
        scene.view_settings.view_transform = "Standard"
        scene.render.image_settings.file_format = "PNG"
        scene.render.image_settings.color_mode = "RGB"
        name = os.path.splitext(os.path.basename(path))[0] + ".png"
        img.save_render(os.path.join(png_dir, name), scene=scene)
    return (w, h), buf


size, ref = load(args[0])
n = size[0] * size[1]
mean = sum(ref[i] for i in range(4 * n) if i % 4 != 3) / (3 * n)
for path in args[1:]:
    s, img = load(path)
    if s != size:
        sys.exit("%s: %dx%d, the reference is %dx%d" % (path, *s, *size))
    sq = total = 0.0
    for i in range(4 * n):
        if i % 4 != 3:
            d = img[i] - ref[i]
            sq += d * d
            total += img[i]
    rms = math.sqrt(sq / (3 * n))
    nan = float("nan")
    print("rms %s %.6g %.6g %.6g" % (path, rms, rms / mean if mean > 0 else nan,
                                     total / (3 * n) / mean if mean > 0 else nan))
