// The metal's procedural patterns: the cut-out hole patterns, the patina mask,
// the anodised colour and the relief of the procedural bump.
#pragma once

#include <cstdint>

#include "frame/math.h"
#include "vesper/host.h"

namespace pxs {
namespace metal {

enum CutoutMode : int32_t {
    kCutoutStaggeredCircles = 1,
    kCutoutCircleGrid = 2,
    kCutoutStaggeredSquares = 3,
    kCutoutSlots = 4,     // rounded slots in rows shifted by half a slot
    kCutoutHexagons = 5,  // honeycomb
    kCutoutDiamonds = 6,  // expanded-metal diamond mesh
    kCutoutMap = 7,
};

// Coverage of the patterns 1 to 6 at cell coordinates p, for web a and hole
// size b (holes b / (a + b) across in cells of one unit): 1 solid, 0 a hole.
// Patterns 1 to 3 are hard-edged; 4 to 6 soften their edges over a fixed width.
// Other modes, and a + b not above 0, are solid.
float cutoutPattern(int32_t mode, float2 p, float a, float b);

// The cell coordinates of a uv: uv * scale / (a + b) - (center - 0.5).
float2 cutoutCell(float2 uv, float scale, float a, float b, float center);

// The patina mask at p = uv * "u_uvScale" for coverage `percent`, from the host's
// 2D noise: percent where the noise is in its top `percent`, ramping to 0 below.
float patinaMask(IRenderServices* services, float2 p, float percent);

// The roughness, reflectivity and shading blend ramp of a patina mask m:
// 0 at m = 0, (m / 0.3)^2 below 0.3, 1 from 0.3 on.
float patinaRamp(float m);

// The anodised colour: one smooth noise per channel, each at uv times its
// channel of `tiling`, mapped into [0, 1].
float3 anodisedColour(IRenderServices* services, float2 uv, float3 tiling);

// The gradient of the procedural bump (a two-octave noise relief) at q, halved,
// each component within [-2, 2].
float3 proceduralBumpGradient(IRenderServices* services, float2 q);

}  // namespace metal
}  // namespace pxs
