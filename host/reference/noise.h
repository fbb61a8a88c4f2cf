// The reference host's noise.
//
// Noise functions (what the render services hand to shaders):
//   noise3(x, y, z, w)  4D gradient (Perlin) noise, signed, about [-1, 1], 0 at lattice points
//   noise3b(p)          3D gradient noise of a second, independent lattice, about [-1, 1]
//   noise2(x, y)        2D gradient noise remapped to [0, 1] (0.5 at lattice points)
//   noise1(x)           1D value noise in [0, 1): a smooth curve through one hashed value
//                       per integer, so that at integers it is a repeatable hash
//   latticeNoise(p)     a hashed value in [-1, 1) per integer lattice point (p is floored)
//   cellJitter(c)       a hashed vector in [-1, 1)^3 per integer cell (c is floored)
// All are pure functions of their arguments: no tables, no state, safe from any thread.
#pragma once

#include <cstdint>

#include "vesper/types.h"

namespace vref {

float noise3(float x, float y, float z, float w);
float noise3b(float x, float y, float z);
float noise2(float x, float y);
float noise1(float x);
float latticeNoise(float x, float y, float z);
pxs::float3 cellJitter(float x, float y, float z);

// 32-bit integer hash (avalanching), the basis of every value above and of the
// sampler's scrambling; inline, as the sampler hashes for every number it draws.
inline uint32_t hash32(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352du;
    x ^= x >> 15;
    x *= 0x846ca68bu;
    x ^= x >> 16;
    return x;
}

inline uint32_t hashCombine(uint32_t seed, uint32_t v) {
    return hash32(seed ^ (v + 0x9e3779b9u + (seed << 6) + (seed >> 2)));
}

}  // namespace vref
