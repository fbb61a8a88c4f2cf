#!/usr/bin/env python3
"""Plots the lobes of a few materials: evaluateBsdf over the plane of incidence at
three incidence angles, on polar axes (the surface normal up, the viewer on the
right, the mirror direction on the left, transmission below the surface), with the
albedo sampleBsdf estimates at each angle.

  PYTHONPATH=<where vesper is> python3 lobes.py [--out lobes.png] [--library PATH]
      [--samples N]
"""
import argparse

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402
import vesper  # noqa: E402

MATERIALS = [
    ("corvid_Mtl_Ward", {"u_diffuseColor": (0.5, 0.5, 0.5), "u_roughValue": 0.15,
                         "u_brdfCurvePower": 5, "u_brdf00Reflectivity": 0.04}),
    ("corvid_Mtl_Metal", {"u_roughValue": 0.25}),
    ("corvid_Mtl_Dielectric", {"u_roughValue": 0.15}),
    ("corvid_Mtl_MetallicPaint", {"u_baseRoughValue": 0.3}),
]
INCIDENCES = [15, 45, 70]  # degrees from the normal
LUMINANCE = np.array([0.2126, 0.7152, 0.0722], np.float32)


def in_plane(degrees):
    """Unit vectors in the plane of incidence (x-z), angles from the normal +z."""
    a = np.radians(np.asarray(degrees, np.float64))
    return np.stack([np.sin(a), np.zeros_like(a), np.cos(a)], axis=-1).astype(np.float32)


def plot(ax, shader, title, samples):
    angles = np.arange(-180.0, 180.5, 0.5)
    directions = in_plane(angles)
    for incidence in INCIDENCES:
        view = in_plane(incidence)
        ev = shader.evaluate(view, directions)
        throughput = np.nan_to_num(ev["value"] @ LUMINANCE * ev["cosine"])
        sampled = shader.sample(view, count=samples)
        albedo = np.mean(sampled["value"] @ LUMINANCE * sampled["cosine"] * sampled["weight"])
        peak = throughput.max()
        (line,) = ax.plot(np.radians(angles), throughput / peak if peak > 0 else throughput,
                          label="%d°: peak %.3g, albedo %.2f" % (incidence, peak, albedo))
        ax.plot([np.radians(incidence)] * 2, [0, 1.05], ":", color=line.get_color())
    ax.set_theta_zero_location("N")
    ax.set_theta_direction(-1)
    ax.set_rticks([])
    ticks = np.arange(-150, 181, 30)
    ax.set_xticks(np.radians(ticks % 360), ["%d°" % t for t in ticks], fontsize=8)
    ax.set_title(title, fontsize=10)
    ax.legend(loc="upper center", bbox_to_anchor=(0.5, -0.08), fontsize=8, frameon=False)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--out", default="lobes.png")
    parser.add_argument("--library", default=None)
    parser.add_argument("--samples", type=int, default=100000, help="per albedo estimate")
    args = parser.parse_args()
    lib = vesper.Library(args.library)
    fig, axes = plt.subplots(1, len(MATERIALS), subplot_kw={"projection": "polar"},
                             figsize=(4 * len(MATERIALS), 5.4))
    for ax, (cls, params) in zip(axes, MATERIALS):
        shown = ", ".join("%s %s" % (k[2:], v) for k, v in list(params.items())[:2])
        plot(ax, lib.create(cls, **params), "%s\n%s" % (cls, shown), args.samples)
    fig.suptitle("value × cosine in the plane of incidence, each curve scaled to its peak "
                 "(dotted: the viewer)", fontsize=11)
    fig.subplots_adjust(left=0.03, right=0.97, top=0.8, bottom=0.2, wspace=0.35)
    fig.savefig(args.out, dpi=90)
    print(args.out)


if __name__ == "__main__":
    main()
