// corvid_Mtl_Ward: a layered anisotropic material. A diffuse layer, an
// anisotropic Ward specular lobe with a reflectivity curve between a
// normal-incidence and a grazing value, optional metal tinting, optional
// transparency with translucency and refraction, a cut-out, an additive colour,
// two height maps and a choice of procedural bumps (noise, smoke, ripple, grain).
//
// Parameters, in registration order: the ambient-occlusion and masking block
// ("ambientOcclusionTexture" .. "maskingFromAlpha", with "uv1" at attribute
// offset 0 and "vtxcolor" at 8), the attributes "bitangent" (float3 at 24),
// "tangent" (float3 at 36) and "uv" (float2 at 48), then the Ward parameters
// "u_procedureMapEnable" .. "u_reflectionHighlightOnly" whose table is in
// ward_params.h. Every map is read at "uv".
//
// Defaults give a pure, sharp, white reflector: black diffuse, white specular,
// roughness 0.01, and a reflectivity curve with power 0 that is 1 at every angle.
//
// Shading: shade writes outColor and outAlpha (or skipHit when masked out);
// shadowTransmission writes the cut-out holes and, with "u_transparency", the
// transmission colour; evaluateBsdf and sampleBsdf offer the diffuse and Ward
// lobes (kind 2, or kind 4 for the Ward lobe alone when allowLobe0 and allowLobe1
// are both 0). The per-hit core is ward_core.h, shared with the generated variants.
#pragma once

#include "frame/occlusion_masking.h"
#include "materials/ward/ward_core.h"

namespace pxs {

class corvid_Mtl_Ward final : public WardMaterial<corvid_Mtl_Ward> {
  public:
    struct Params {
        OcclusionMasking<0, 8> block;
        WardParams ward;
    } params;

    WardImageInputs inputs() const { return {params.ward}; }

    void declareParameters(IParameterRegistry* registry) override;
};

}  // namespace pxs
