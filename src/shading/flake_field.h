// The metallic flake field shared by the metallic paint and the metal.
//
// A smooth lattice noise n(q) whose values at the integer lattice points come
// from the host's latticeNoise, blended with quadratic B-spline weights over the
// 3x3x3 neighbouring points. Each point is pushed along the noise gradient into
// a flake cell c = floor(q + 2 g(q)); the flake's strength is |n(c)|^exponent,
// so neighbouring shading points that land in one cell sparkle together and
// the cells take irregular, wavy outlines.
#pragma once

#include "frame/math.h"
#include "vesper/host.h"

namespace pxs {

struct FlakeSample {
    float mask;           // |n(cell)|^exponent; 0 for a point that is not finite
    float3 normalOffset;  // offsetScale times the noise gradient at the cell
};

// The field at q (the shading point divided by the flake size).
FlakeSample flakeField(IRenderServices* services, float3 q, float exponent, float offsetScale);

// The smooth lattice noise and its gradient at q, coordinates already shifted
// to the positive range by flakeField.
struct LatticeNoiseSample {
    float value;
    float3 gradient;
};
LatticeNoiseSample smoothLatticeNoise(IRenderServices* services, float3 q);

// q shifted by +40000 per axis so that lattice look-ups stay positive; far
// negative coordinates are mirrored first.
float3 flakeLatticeSpace(float3 q);

}  // namespace pxs
