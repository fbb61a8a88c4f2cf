#!/usr/bin/env python3
"""Writes the sky of the environment peer scene: a latitude-longitude Radiance HDR
image (top row the zenith), made here so that both renderers read the same pixels.

    bench/peer/make_sky.py OUT.hdr [--width 1024]

A blue gradient over a pale horizon, a sun of 1.5 degrees radius 35 degrees up with
a glow around it, fractal clouds and a dark ground below the horizon. Pure Python,
deterministic: the same file on every machine.
"""
import argparse
import math

SUN_ELEVATION = math.radians(35.0)
SUN_AZIMUTH = math.radians(-120.0)  # of the image's column convention, see sky()
SUN_RADIUS = math.radians(1.5)
SUN_RADIANCE = (3000.0, 2850.0, 2550.0)


def hash2(i, j):
    h = (i * 374761393 + j * 668265263) & 0xFFFFFFFF
    h = ((h ^ (h >> 13)) * 1274126177) & 0xFFFFFFFF
    return ((h ^ (h >> 16)) & 0xFFFFFF) / float(0x1000000)


def value_noise(x, y, period):
    """Smooth noise on a lattice that repeats every `period` cells along x."""
    ix, iy = math.floor(x), math.floor(y)
    fx, fy = x - ix, y - iy
    sx, sy = fx * fx * (3 - 2 * fx), fy * fy * (3 - 2 * fy)
    a = hash2(ix % period, iy)
    b = hash2((ix + 1) % period, iy)
    c = hash2(ix % period, iy + 1)
    d = hash2((ix + 1) % period, iy + 1)
    return (a + (b - a) * sx) + ((c + (d - c) * sx) - (a + (b - a) * sx)) * sy


def clouds(u, elevation):
    total, amplitude, frequency = 0.0, 0.5, 8
    for _ in range(4):
        total += amplitude * value_noise(u * frequency, elevation * frequency * 1.5, frequency)
        amplitude *= 0.5
        frequency *= 2
    return total / 0.9375


def sky(u, elevation):
    """Radiance at image column u in [0, 1) and elevation in radians."""
    if elevation < 0.0:
        k = min(1.0, -elevation * 8.0)
        return tuple(0.55 * (1 - k) * h + k * g for h, g in zip((0.9, 0.85, 0.8), (0.12, 0.1, 0.08)))
    t = math.sin(elevation) ** 0.5
    c = [h * (1 - t) + z * t for h, z in zip((1.0, 0.95, 0.88), (0.22, 0.42, 0.9))]
    # Direction of the pixel and of the sun, azimuth measured along the columns.
    azimuth = 2.0 * math.pi * u
    d = (math.cos(elevation) * math.cos(azimuth), math.cos(elevation) * math.sin(azimuth),
         math.sin(elevation))
    s = (math.cos(SUN_ELEVATION) * math.cos(SUN_AZIMUTH),
         math.cos(SUN_ELEVATION) * math.sin(SUN_AZIMUTH), math.sin(SUN_ELEVATION))
    cos_sun = max(-1.0, min(1.0, sum(a * b for a, b in zip(d, s))))
    m = max(0.0, min(1.0, (clouds(u, elevation) - 0.5) * 3.0)) * min(1.0, elevation * 6.0)
    c = [x * (1 - 0.8 * m) + 0.9 * 0.8 * m for x in c]
    glow = 4.0 * math.exp((cos_sun - 1.0) * 60.0)
    c = [x + glow * w for x, w in zip(c, (1.0, 0.9, 0.7))]
    if math.acos(cos_sun) < SUN_RADIUS:
        c = [x + sun for x, sun in zip(c, SUN_RADIANCE)]
    return tuple(c)


def rgbe(r, g, b):
    v = max(r, g, b)
    if v < 1e-32:
        return b"\0\0\0\0"
    m, e = math.frexp(v)
    scale = m * 256.0 / v
    return bytes((int(r * scale), int(g * scale), int(b * scale), e + 128))


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("out")
    p.add_argument("--width", type=int, default=1024)
    a = p.parse_args()
    w, h = a.width, a.width // 2
    rows = []
    for y in range(h):
        elevation = math.pi * (0.5 - (y + 0.5) / h)
        rows.append(b"".join(rgbe(*sky((x + 0.5) / w, elevation)) for x in range(w)))
    with open(a.out, "wb") as f:
        f.write(b"#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y %d +X %d\n" % (h, w))
        f.write(b"".join(rows))


if __name__ == "__main__":
    main()
