// Surface routines of the Ward family that need no parameter block: the remaps of
// glossiness-like maps, the image-fade blend, the bend of a bumped normal towards
// the viewer, and the procedural bump patterns only this family uses (soft-noise
// ripples and smoke: a turbulence gradient mixed with a cellular pass).
#pragma once

#include "frame/math.h"
#include "shading/noise_texture.h"
#include "vesper/host.h"

namespace pxs {

// Roughness alpha from a glossiness-like map value x in [0, 1] (x = 1 gives about
// 0.05, x = 0 gives 1): a quadratic, a cubic and a linear piece over g = 1 - x.
float glossToRoughness(float x);

// Trace glossiness from a refraction glossiness map value: about 0 is 1.0 (the
// host's blurriest), about 1 is 0.0001, between an exponential fall clamped to
// [0.0001, 1].
float refractGlossRemap(float g);

// Per channel: overlay of base b with blend s, then multiply by s, each step
// weighted by fade f.
float3 imageFadeBlend(float3 b, float3 s, float f);

// A bumped normal nb that faces the viewer v less than the unbumped nf does is
// turned towards v, so bumps never show the back of the surface at grazing view.
float3 bendTowardViewer(float3 v, float3 nf, float3 nb);

// Pattern inputs of the procedural bumps 2 and 3: the tiled point q and the three
// axes the gradients are taken along (the raw "tangent" and "bitangent"
// attributes and the face-forwarded shading normal).
struct PatternAxes {
    float3 tangent;
    float3 bitangent;
    float3 normal;
};

// A smoothed noise: values near 0 are pressed towards 0, values near 1 to 1.
float softNoise(IRenderServices& services, float3 x);

// Ripple bump (mode 3): ten times the soft noise's forward differences at 0.2 q.
float3 rippleBump(IRenderServices& services, float3 q, const PatternAxes& axes);

// Five octaves of |noise3b|, to the power 0.25 when at most 1, else 1.
float turbulence(IRenderServices& services, float3 y);

// The cellular pass of the smoke pattern: the direction towards the nearest
// feature point, shaped by the distance to it and to the second nearest, in
// (tangent, bitangent, normal) coordinates, and a weight that is 0 at the
// ridge distance and 1 at cell centres and beyond.
struct CellPass {
    float3 dir;
    float weight;
};
CellPass cellPass(IRenderServices& services, float3 q, const PatternAxes& axes);

// Smoke bump (mode 2): the cell direction faded by the turbulence, plus the
// turbulence gradient weighted by the cell weight.
float3 smokeBump(IRenderServices& services, float3 q, const PatternAxes& axes);

// Noise-texture settings of the Ward uses: procedural bump 1, bumps 5 to 7 (type
// mode - 5) and the image-fade colour of mode 4.
NoiseTextureSettings wardBumpNoise();
NoiseTextureSettings wardGrainNoise(int32_t type);
NoiseTextureSettings wardFadeNoise();

}  // namespace pxs
