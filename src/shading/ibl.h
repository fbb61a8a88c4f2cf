// Image-based lighting shared by the environments and the materials that show
// the environment: the cube-map lookup direction and the environment colour
// adjustment (contrast about a pivot, gain, saturation).
//
// Cube maps are stored Y-up while the scene is Z-up, so a lookup direction is
// the IBL matrix's rows applied in the order 0, 2, 1 with the third negated.
// With the identity, the scene's up (0, 0, 1) looks up (0, 1, 0).
#pragma once

#include <cstdint>

#include "frame/math.h"
#include "frame/shader_class.h"
#include "vesper/host.h"

namespace pxs {

// The four registered fields of one adjustment, in the order both environments
// register them ("<kind>IBLContrast", "...GainMode", "...Gain", "...Saturation").
struct IBLAdjustment {
    float2 contrast{0.5f, 1.0f};  // pivot, factor
    int32_t gainMode = 0;         // 1 multiply by gain, 2 luminance times gain, else none
    float3 gain{1.0f, 1.0f, 1.0f};
    float saturation = 1.0f;
};

// Default weights of r, g, b in the luminance the adjustment uses.
constexpr float3 kIBLLuminanceFactors{0.2125f, 0.7154f, 0.0721f};

// d turned into the cube map's frame by the IBL matrix; not normalised.
float3 cubeLookupDirection(const matrix3& iblMatrix, float3 d);

// The cube texel seen along d; opaque black when no cube is bound.
float4 lookupCube(const TextureHandle& cube, const matrix3& iblMatrix, float3 d);

// Contrast (skipped when the factor is exactly 1), then gain, then saturation
// (skipped when exactly 1). Nothing is clamped: over-range and negative values
// pass through for the caller to deal with.
float3 adjustIBLColour(float3 colour, float2 contrast, int32_t gainMode, float3 gain,
                       float saturation, float3 luminanceFactors);

inline float3 adjustIBLColour(float3 colour, const IBLAdjustment& a, float3 luminanceFactors) {
    return adjustIBLColour(colour, a.contrast, a.gainMode, a.gain, a.saturation, luminanceFactors);
}

// The fields both environments register first: "IBLLuminanceFactors",
// "globalIBLMatrix", then the diffuse and the reflect adjustment.
struct IBLSettings {
    float3 luminanceFactors = kIBLLuminanceFactors;
    matrix3 iblMatrix = kIdentity3;
    IBLAdjustment diffuse;
    IBLAdjustment reflect;

    void declare(Declarer& declare);

    // What a ray that sees `cube` along d answers: the texel, adjusted by a.
    float3 light(const TextureHandle& cube, const IBLAdjustment& a, float3 d) const {
        return adjustIBLColour(lookupCube(cube, iblMatrix, d).xyz(), a, luminanceFactors);
    }
};

}  // namespace pxs
